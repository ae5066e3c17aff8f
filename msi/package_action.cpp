#include "msi/package_action.h"

#include <optional>

namespace kst {
namespace {

constexpr size_t kMaxPath = 260;  // the system's path buffers, terminator included
const char kInstaller[] = "KstIns.exe";
const char kCheck[] = "KstCheck.exe";
const char kLogPrefix[] = "Kestrune: ";

void Log(ActionHost& host, const std::string& text) { host.Log(kLogPrefix + text); }

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

std::string EndText(const char* name, const ProgramEnd& end, uint32_t timeoutMs) {
  std::string text = name;
  switch (end.how) {
    case ProgramEnd::How::kExited:
      return text + " ended with exit code " + std::to_string(end.code);
    case ProgramEnd::How::kNotStarted:
      return text + " could not be started (system error " + std::to_string(end.code) + ")";
    case ProgramEnd::How::kTimedOut:
      return text + " did not end within " + std::to_string(timeoutMs / 1000) +
             " s and was stopped";
  }
  return text;
}

// Runs KstIns.exe with the procedure's switches; its exit code says nothing
// (always 0), so only how it ended is logged.
void RunProcedure(ActionHost& host, const std::string& folder, const char* switches) {
  std::string program = folder + kInstaller;
  Log(host, "running " + Quoted(program) + " " + switches);
  ProgramEnd end = host.Run(program, switches, kProcedureTimeoutMs, nullptr);
  Log(host, EndText(kInstaller, end, kProcedureTimeoutMs));
}

// KstCheck's answer: its exit code, and what a pending restart waits for.
struct CheckAnswer {
  std::optional<int64_t> code;  // nothing when the answer confirms nothing
  PendingRestart pending = PendingRestart::kUnknown;
};

// Runs KstCheck.exe and logs each line it printed. No code when it did not
// end by itself, or when its last line states another code than its exit
// code: then nothing about the machine is confirmed.
CheckAnswer RunCheck(ActionHost& host, const std::string& folder) {
  std::string program = folder + kCheck;
  BoundedOutput output(kCheckOutputHead, kCheckOutputTail);
  ProgramEnd end = host.Run(program, "", kCheckTimeoutMs, &output);
  std::vector<std::string> lines = OutputLines(output);
  for (const std::string& line : lines) Log(host, std::string(kCheck) + ": " + line);
  Log(host, EndText(kCheck, end, kCheckTimeoutMs));
  if (end.how != ProgramEnd::How::kExited) return {};
  std::optional<int64_t> stated = VerdictCodeOf(lines);
  if (stated && *stated != int64_t(end.code)) {
    Log(host, std::string(kCheck) + "'s exit code differs from its VERDICT line");
    return {};
  }
  return {int64_t(end.code), PendingRestartOf(lines)};
}

PackageOutcome Judge(ActionHost& host, PackageProcedure procedure, const CheckAnswer& answer) {
  PackageOutcome outcome = answer.code ? OutcomeOfCheck(procedure, *answer.code, answer.pending)
                                       : PackageOutcome::kFailure;
  const char* what = procedure == PackageProcedure::kInstall ? "install" : "removal";
  switch (outcome) {
    case PackageOutcome::kSuccess:
      Log(host, std::string("the ") + what + " succeeded");
      break;
    case PackageOutcome::kRestartRequired:
      Log(host, std::string("the ") + what + " succeeded; Windows must restart to finish it");
      break;
    case PackageOutcome::kFailure:
      if (answer.code == 3010) {
        Log(host, std::string("the restart KstCheck.exe waits for does not finish the ") + what);
      }
      Log(host, std::string("the ") + what + " failed");
      break;
  }
  return outcome;
}

}  // namespace

PackageOutcome InstallFilter(ActionHost& host, const std::string& folder) {
  RunProcedure(host, folder, "/I /Q");
  PackageOutcome outcome = Judge(host, PackageProcedure::kInstall, RunCheck(host, folder));
  if (outcome != PackageOutcome::kFailure) return outcome;
  // Undone here, while the programs are still in place.
  Log(host, "undoing the install");
  RunProcedure(host, folder, "/U /Q");
  RunCheck(host, folder);
  return PackageOutcome::kFailure;
}

PackageOutcome UninstallFilter(ActionHost& host, const std::string& folder) {
  RunProcedure(host, folder, "/U /Q");
  return Judge(host, PackageProcedure::kUninstall, RunCheck(host, folder));
}

std::string ProgramFolderOf(const std::string& data) {
  std::string folder = data;
  if (!folder.empty() && folder.back() != '\\') folder += '\\';
  bool drive = folder.size() >= 3 && ((folder[0] | 0x20) >= 'a' && (folder[0] | 0x20) <= 'z') &&
               folder[1] == ':' && folder[2] == '\\';
  bool unc = folder.size() >= 3 && folder[0] == '\\' && folder[1] == '\\' && folder[2] != '\\';
  if (!drive && !unc) return "";
  if (folder.size() + sizeof kCheck > kMaxPath) return "";
  for (char c : folder) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || c == '"') return "";
  }
  return folder;
}

}  // namespace kst
