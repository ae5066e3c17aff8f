#pragma once
// The package's custom actions: run the installed KstIns.exe, let
// KstCheck.exe judge the machine afterwards, and write what happened to the
// Windows Installer log. The programs are reached through ActionHost, so the
// order of the steps and the outcomes are tested over a fake.
#include <cstdint>
#include <string>

#include "msi/check_output.h"
#include "msi/package_outcome.h"

namespace kst {

// How a program run by the action ended.
struct ProgramEnd {
  enum class How { kExited, kNotStarted, kTimedOut };
  How how = How::kNotStarted;
  uint32_t code = 0;  // kExited: its exit code; kNotStarted: the system error
};

// What the custom action needs of Windows Installer and of the system.
class ActionHost {
 public:
  virtual ~ActionHost() = default;
  // Runs `program` (a full path) with `arguments` and waits for it at most
  // `timeoutMs`; a program still running then is stopped (kTimedOut). With
  // `output`, its standard output and error are appended there while it runs.
  virtual ProgramEnd Run(const std::string& program, const std::string& arguments,
                         uint32_t timeoutMs, BoundedOutput* output) = 0;
  // One line in the Windows Installer log (MsiProcessMessage, INSTALLMESSAGE_INFO).
  virtual void Log(const std::string& line) = 0;
};

// Upper bounds of a run. KstIns.exe may wait up to a minute for another
// installation or removal to finish before it starts; KstCheck.exe waits
// seconds at most. A program over its bound is taken as hung.
inline constexpr uint32_t kProcedureTimeoutMs = 180 * 1000;
inline constexpr uint32_t kCheckTimeoutMs = 90 * 1000;

// The install: KstIns.exe /I /Q, then KstCheck.exe. 0 is success, 3010
// success with a restart. Anything else is a failure, and the action undoes
// what the install did (KstIns.exe /U /Q) before it returns: Windows
// Installer then rolls back the files, and a rollback action could not run
// the program once they are gone. `folder` is the installed programs'
// folder, ending in a backslash.
PackageOutcome InstallFilter(ActionHost& host, const std::string& folder);

// The removal: KstIns.exe /U /Q, then KstCheck.exe. 1 is success, 3010 a
// removal that finishes at the restart; anything else is a failure and the
// product stays installed, with its programs, for another try.
PackageOutcome UninstallFilter(ActionHost& host, const std::string& folder);

// The folder as the action's data gives it, made to end in a backslash;
// empty when it cannot name the programs' folder (empty, relative, too long
// for the system's paths, or holding a quote or a control character).
std::string ProgramFolderOf(const std::string& data);

}  // namespace kst
