#pragma once
// What Windows Installer reports for the package's two procedures, decided
// by KstCheck.exe's exit code after the procedure ran. No platform calls.
#include <cstdint>

namespace kst {

enum class PackageProcedure { kInstall, kUninstall };

enum class PackageOutcome {
  kSuccess,          // msiexec ends with 0
  kRestartRequired,  // success; msiexec ends with 3010 and a restart is scheduled
  kFailure,          // msiexec ends with 1603 after rolling back
};

// KstCheck's verdicts: 0 installed and running, 3010 installed with a restart
// pending, 1 not installed, 2 inconsistent. After an install, 0 is success
// and 3010 success with a restart; after an uninstall, 1 is success and 3010
// (a removal that finishes at the restart) success with a restart. Every
// other code, including those KstCheck never gives (a crash's status, 87,
// STILL_ACTIVE, negative numbers), is a failure: nothing confirms the state.
PackageOutcome OutcomeOfCheck(PackageProcedure procedure, int64_t checkExitCode);

// The custom action's return value for an outcome: ERROR_SUCCESS (0) for
// both kinds of success, ERROR_INSTALL_FAILURE (1603) for failure.
uint32_t ActionReturnOf(PackageOutcome outcome);

}  // namespace kst
