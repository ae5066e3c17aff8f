#pragma once
#include <string>

namespace kst {

// Writes one trace line to whichever external viewers run at this moment:
// the debug-output stream while a debug viewer window exists, and a
// WM_COPYDATA block to the "TRACE Window". Viewers are looked up anew for
// every line; with none running the line costs three window lookups and
// nothing else. Never fails and reports nothing.
void Trace(const std::string& text);

// The longest piece of a line that one copy-data block carries whole: the
// block holds 255 bytes and the piece needs its terminating zero inside it.
constexpr size_t kTracePieceLength = 254;

}  // namespace kst
