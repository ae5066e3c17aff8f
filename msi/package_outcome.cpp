#include "msi/package_outcome.h"

namespace kst {
namespace {

constexpr int64_t kCheckRunning = 0;
constexpr int64_t kCheckNotInstalled = 1;
constexpr int64_t kCheckRestartPending = 3010;
constexpr uint32_t kErrorSuccess = 0;
constexpr uint32_t kErrorInstallFailure = 1603;

}  // namespace

PackageOutcome OutcomeOfCheck(PackageProcedure procedure, int64_t checkExitCode,
                              PendingRestart pending) {
  bool install = procedure == PackageProcedure::kInstall;
  if (checkExitCode == kCheckRestartPending) {
    PendingRestart wanted = install ? PendingRestart::kInstalled : PendingRestart::kRemoved;
    return pending == wanted ? PackageOutcome::kRestartRequired : PackageOutcome::kFailure;
  }
  int64_t done = install ? kCheckRunning : kCheckNotInstalled;
  return checkExitCode == done ? PackageOutcome::kSuccess : PackageOutcome::kFailure;
}

uint32_t ActionReturnOf(PackageOutcome outcome) {
  return outcome == PackageOutcome::kFailure ? kErrorInstallFailure : kErrorSuccess;
}

}  // namespace kst
