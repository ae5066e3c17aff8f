#pragma once
#include <string>

namespace kst {

// Whether a person runs a procedure and can answer its boxes. A quiet run (a
// setup script, a deployment agent, a service account where no box is even
// visible) must never wait for a click that nobody gives.
enum class Interaction { kInteractive, kQuiet };

inline Interaction InteractionOf(bool interactive) {
  return interactive ? Interaction::kInteractive : Interaction::kQuiet;
}

// Tells of a failure: in an error box captioned with the filters' caption
// when interactive, as a trace line of the same text when quiet.
void ShowFailure(Interaction interaction, const std::string& text);

}  // namespace kst
