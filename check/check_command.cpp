#include "check/check_command.h"

namespace kst {

const char* const kCheckUsageText =
    "KstCheck.exe: prints the state of the Kestrune filter drivers and judges it.\n"
    " KstCheck.exe [/?]\n"
    " /?\tdisplay this help and exit.\n"
    " Exit codes: 0 installed and running, 3010 installed, restart pending,\n"
    " 1 not installed, 2 inconsistent, 87 unknown argument.\n";

CheckCommand CheckCommandOf(const std::vector<std::string>& arguments) {
  if (arguments.empty()) return CheckCommand::kCheck;
  if (arguments.size() == 1 && arguments[0] == "/?") return CheckCommand::kUsage;
  return CheckCommand::kInvalid;
}

}  // namespace kst
