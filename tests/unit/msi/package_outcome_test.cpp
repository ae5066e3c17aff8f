#include "msi/package_outcome.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace kst {
namespace {

using P = PackageProcedure;
using O = PackageOutcome;
using R = PendingRestart;

struct Case {
  P procedure;
  int64_t code;
  O outcome;
};

// Every verdict KstCheck gives, and codes it never gives: those confirm
// nothing about the machine and must fail the package.
const Case kCases[] = {
    {P::kInstall, 0, O::kSuccess},
    {P::kInstall, 1, O::kFailure},
    {P::kInstall, 2, O::kFailure},
    {P::kUninstall, 1, O::kSuccess},
    {P::kUninstall, 0, O::kFailure},
    {P::kUninstall, 2, O::kFailure},
    // Usage error, STILL_ACTIVE, Windows Installer's own codes, a crash's
    // status read as signed and unsigned, and numbers past 32 bits.
    {P::kInstall, 87, O::kFailure},
    {P::kUninstall, 87, O::kFailure},
    {P::kInstall, 259, O::kFailure},
    {P::kUninstall, 259, O::kFailure},
    {P::kInstall, 1603, O::kFailure},
    {P::kInstall, 1641, O::kFailure},
    {P::kUninstall, 3011, O::kFailure},
    {P::kInstall, 3009, O::kFailure},
    {P::kInstall, -1, O::kFailure},
    {P::kUninstall, -1, O::kFailure},
    {P::kInstall, -3010, O::kFailure},
    {P::kInstall, int64_t(int32_t(0xC0000005u)), O::kFailure},
    {P::kUninstall, 0xC0000005, O::kFailure},
    {P::kInstall, 3010 + (int64_t(1) << 32), O::kFailure},
    {P::kUninstall, 1 + (int64_t(1) << 32), O::kFailure},
    {P::kInstall, std::numeric_limits<int64_t>::min(), O::kFailure},
    {P::kUninstall, std::numeric_limits<int64_t>::max(), O::kFailure},
};

// Codes other than 3010 mean the same whatever the lines say of a restart.
TEST(OutcomeOfCheck, EveryCodeAfterEachProcedure) {
  for (const Case& c : kCases) {
    if (c.code == 3010) continue;
    for (R pending : {R::kInstalled, R::kRemoved, R::kUnknown}) {
      EXPECT_EQ(OutcomeOfCheck(c.procedure, c.code, pending), c.outcome)
          << (c.procedure == P::kInstall ? "install" : "uninstall") << " code " << c.code;
    }
  }
}

// 3010 is a success only when the restart finishes what the procedure did.
TEST(OutcomeOfCheck, RestartPendingCountsOnlyForTheProcedureItFinishes) {
  struct Pending {
    P procedure;
    R pending;
    O outcome;
  };
  const Pending cases[] = {
      {P::kInstall, R::kInstalled, O::kRestartRequired},
      {P::kInstall, R::kRemoved, O::kFailure},  // refused while the service awaits deletion
      {P::kInstall, R::kUnknown, O::kFailure},
      {P::kUninstall, R::kRemoved, O::kRestartRequired},
      {P::kUninstall, R::kInstalled, O::kFailure},  // the removal did nothing
      {P::kUninstall, R::kUnknown, O::kFailure},
  };
  for (const Pending& c : cases) {
    EXPECT_EQ(OutcomeOfCheck(c.procedure, 3010, c.pending), c.outcome)
        << int(c.procedure) << " " << int(c.pending);
  }
}

TEST(ActionReturnOf, FailureIsInstallFailureAndBothSuccessesAreSuccess) {
  EXPECT_EQ(ActionReturnOf(O::kSuccess), 0u);
  EXPECT_EQ(ActionReturnOf(O::kRestartRequired), 0u);
  EXPECT_EQ(ActionReturnOf(O::kFailure), 1603u);
}

}  // namespace
}  // namespace kst
