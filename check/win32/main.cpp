// The console check: reads the installation, prints one line per fact and
// answers with the verdict as exit code (0, 3010, 1 or 2; 87 for an unknown
// argument). It changes nothing on the machine.
#include "platform/win32/windows_api.h"

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "device/check_report.h"
#include "platform/win32/adapters.h"
#include "platform/win32/win32_platform.h"

namespace {

void PrintLines(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
  }
}

int RunCheck() {
  kst::MachineInspection inspection = kst::InspectMachine();
  kst::Judgement judgement = kst::JudgeInstallation(inspection.state);
  PrintLines(kst::ReportLines(inspection, judgement));
  return int(judgement.verdict);
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything can load a library: never from the current directory.
  kst::win32::RemoveCurrentDirectoryFromDllSearch();
  kst::ScopedPlatform platform(kst::Win32Platform());
  std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
  int code = int(kst::Verdict::kInconsistent);
  switch (kst::CheckCommandOf(arguments)) {
    case kst::CheckCommand::kUsage:
      std::fputs(kst::kCheckUsageText, stdout);
      code = 0;
      break;
    case kst::CheckCommand::kInvalid:
      std::fputs(kst::kCheckUsageText, stderr);
      code = kst::kInvalidParameterExitCode;
      break;
    case kst::CheckCommand::kCheck:
      try {
        code = RunCheck();
      } catch (const std::exception& e) {
        // Nothing can be confirmed: the state counts as inconsistent.
        PrintLines(kst::FailureLines(e.what()));
      }
      break;
  }
  std::fflush(stdout);
  return code;
}
