#include "check/check_run.h"

#include <exception>

#include "check/check_command.h"
#include "check/check_report.h"

namespace kst {
namespace {

void Append(std::string& out, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    out += line;
    out += '\n';
  }
}

// The report's lines, or, when reading or judging fails (an exception), the
// failure's lines; `code` takes the verdict either way.
std::vector<std::string> CheckLines(int& code) {
  try {
    MachineInspection inspection = InspectMachine();
    Judgement judgement = JudgeInstallation(inspection.state);
    code = int(judgement.verdict);
    return ReportLines(inspection, judgement);
  } catch (const std::exception& e) {
    // Nothing can be confirmed: the state counts as inconsistent.
    code = int(Verdict::kInconsistent);
    return FailureLines(e.what());
  }
}

}  // namespace

CheckRun RunCheck(const std::vector<std::string>& arguments) {
  CheckRun run;
  switch (CheckCommandOf(arguments)) {
    case CheckCommand::kUsage:
      run.out = kCheckUsageText;
      break;
    case CheckCommand::kInvalid:
      run.err = kCheckUsageText;
      run.exitCode = kInvalidParameterExitCode;
      break;
    case CheckCommand::kCheck:
      Append(run.out, CheckLines(run.exitCode));
      break;
  }
  return run;
}

}  // namespace kst
