#pragma once
// KstCheck's command line: the check, or its usage text.
#include <string>
#include <vector>

namespace kst {

// What the command line asks for: the check, or the usage text (for "/?",
// exit code 0), or the usage text for anything else (exit code 87).
enum class CheckCommand { kCheck, kUsage, kInvalid };
CheckCommand CheckCommandOf(const std::vector<std::string>& arguments);

// The usage text, lines ending in "\n".
extern const char* const kCheckUsageText;

// Exit code for arguments the check does not know (ERROR_INVALID_PARAMETER).
inline constexpr int kInvalidParameterExitCode = 87;

}  // namespace kst
