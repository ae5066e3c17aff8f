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

// What KstCheck's 3010 waits for. It answers 3010 both for an installed
// filter that has not started yet and for a removal that finishes at the
// restart; its lines tell which (msi/check_output.h). A removal that did
// nothing to a filter not yet started must not pass for a finished one, nor
// an install refused while the old service awaits deletion for a done one.
enum class PendingRestart { kInstalled, kRemoved, kUnknown };

// KstCheck's verdicts: 0 installed and running, 3010 restart pending, 1 not
// installed, 2 inconsistent. After an install, 0 is success and 3010 for an
// installed filter success with a restart; after an uninstall, 1 is success
// and 3010 for a removal success with a restart. Every other answer,
// including codes KstCheck never gives (a crash's status, 87, STILL_ACTIVE,
// negative numbers), is a failure: nothing confirms the state.
PackageOutcome OutcomeOfCheck(PackageProcedure procedure, int64_t checkExitCode,
                              PendingRestart pending);

// The custom action's return value for an outcome: ERROR_SUCCESS (0) for
// both kinds of success, ERROR_INSTALL_FAILURE (1603) for failure.
uint32_t ActionReturnOf(PackageOutcome outcome);

}  // namespace kst
