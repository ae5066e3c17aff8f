#include "install/machine_lock.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/fake/fake_platform.h"
#include "tests/unit/support/trace_capture.h"

namespace kst {
namespace {

using fake::FakePlatform;
using test::TraceCapture;
using Lines = std::vector<std::string>;
using State = MachineLock::State;
using Creations = std::vector<std::pair<std::string, bool>>;

const std::string kGlobal = "Global\\KestruneInstallTools";
const std::string kPlain = "KestruneInstallTools";
const std::string kWaiting =
    "Another Kestrune installation or removal is running, waiting up to 60 s";
const std::string kEnded = "The other Kestrune installation or removal has ended";

struct LockCase {
  const char* what;
  std::function<void(FakePlatform&)> arrange;
  State state;
  uint32_t waitedMs;   // by the fake clock
  Lines lines;
  Creations creations;  // names asked of CreateMutexA, with the descriptor or without
};

class TakingTheLock : public ::testing::TestWithParam<LockCase> {};

TEST_P(TakingTheLock, WaitsOnlyWhenHeldAndOnlyAsLongAsItsBound) {
  const LockCase& c = GetParam();
  FakePlatform fp;
  c.arrange(fp);
  TraceCapture trace(fp);
  {
    MachineLock lock = MachineLock::Take(kProcedureLockWaitMs);
    EXPECT_EQ(lock.state(), c.state);
    EXPECT_EQ(fp.mutexes.OwnsAny(), c.state == State::kHeld);
    EXPECT_EQ(fp.sleep.ticks, c.waitedMs);
    EXPECT_EQ(trace.Lines(), c.lines);
    EXPECT_EQ(fp.mutexes.creations, c.creations);
  }
  EXPECT_FALSE(fp.mutexes.OwnsAny()) << "given up at the end of its scope";
  EXPECT_EQ(fp.OpenHandles(), 0);
}

const Creations kSecuredGlobal{{kGlobal, true}};

INSTANTIATE_TEST_SUITE_P(
    Cases, TakingTheLock,
    ::testing::Values(
        // Nobody holds it: taken at once, with no trace line at all.
        LockCase{"Free", [](FakePlatform&) {}, State::kHeld, 0, {}, kSecuredGlobal},
        LockCase{"ReleasedByTheOtherRunWithinTheWait",
                 [](FakePlatform& fp) { fp.mutexes.HeldByAnother(kGlobal, 20000); }, State::kHeld,
                 20000, {kWaiting, kEnded}, kSecuredGlobal},
        LockCase{"ReleasedAtTheLastMoment",
                 [](FakePlatform& fp) { fp.mutexes.HeldByAnother(kGlobal, 60000); }, State::kHeld,
                 60000, {kWaiting, kEnded}, kSecuredGlobal},
        LockCase{"HeldPastTheBound",
                 [](FakePlatform& fp) { fp.mutexes.HeldByAnother(kGlobal, 60001); }, State::kBusy,
                 60000,
                 {kWaiting, "Failed to wait for the other Kestrune installation or removal: still "
                            "running after 60 s!"},
                 kSecuredGlobal},
        // The other run was killed holding it: what it left is safe.
        LockCase{"OwnerKilledWhileThisRunWaited",
                 [](FakePlatform& fp) { fp.mutexes.HeldByAnother(kGlobal, 5000, true); },
                 State::kHeld, 5000, {kWaiting, kEnded}, kSecuredGlobal},
        LockCase{"AbandonedBeforeThisRunCame",
                 [](FakePlatform& fp) {
                   fp.mutexes.named[kGlobal].owner = fake::FakeMutexes::Named::Owner::kAbandoned;
                   fp.mutexes.named[kGlobal].keptByAnother = true;
                 },
                 State::kHeld, 0, {}, kSecuredGlobal},
        // NT 4 without Terminal Services has no "Global\" namespace.
        LockCase{"PrefixRefused", [](FakePlatform& fp) { fp.mutexes.prefixRefused = true; },
                 State::kHeld, 0, {}, Creations{{kGlobal, true}, {kPlain, true}}},
        // Other systems refuse the backslash with one of two other codes.
        LockCase{"PrefixRefusedAsAnInvalidName",
                 [](FakePlatform& fp) { fp.faults.Fail("CreateMutexA", win::kErrorInvalidName, 1); },
                 State::kHeld, 0, {}, Creations{{kPlain, true}}},
        LockCase{"PrefixRefusedAsABadPathname",
                 [](FakePlatform& fp) { fp.faults.Fail("CreateMutexA", win::kErrorBadPathname, 1); },
                 State::kHeld, 0, {}, Creations{{kPlain, true}}},
        LockCase{"NoSecurity", [](FakePlatform& fp) { fp.mutexes.descriptorsImplemented = false; },
                 State::kHeld, 0, {}, Creations{{kGlobal, true}, {kGlobal, false}}},
        LockCase{"NoSecurityAndPrefixRefused",
                 [](FakePlatform& fp) {
                   fp.mutexes.descriptorsImplemented = false;
                   fp.mutexes.prefixRefused = true;
                 },
                 State::kHeld, 0, {},
                 Creations{{kGlobal, true}, {kGlobal, false}, {kPlain, true}, {kPlain, false}}},
        LockCase{"NineXFamily",
                 [](FakePlatform& fp) { fp.system.platformId = win::kVerPlatformWin32Windows; },
                 State::kHeld, 0, {}, Creations{{kPlain, false}}},
        LockCase{"NineXFamilyHeldByAnother",
                 [](FakePlatform& fp) {
                   fp.system.platformId = win::kVerPlatformWin32Windows;
                   fp.mutexes.HeldByAnother(kPlain, 1000, false, false);
                 },
                 State::kHeld, 1000, {kWaiting, kEnded}, Creations{{kPlain, false}}},
        // An unprivileged process (the console check, run by a user).
        LockCase{"UnprivilegedNobodyRunning",
                 [](FakePlatform& fp) { fp.mutexes.privileged = false; }, State::kUnavailable, 0, {},
                 kSecuredGlobal},
        LockCase{"UnprivilegedWhileAnAdministratorsRunHoldsIt",
                 [](FakePlatform& fp) {
                   fp.mutexes.privileged = false;
                   fp.mutexes.HeldByAnother(kGlobal);
                 },
                 State::kHeldElsewhere, 0, {}, kSecuredGlobal},
        // Only a refused prefix falls back to the plain name: any other
        // failure of the machine-wide name is no licence to take another.
        LockCase{"CreationFails", [](FakePlatform& fp) { fp.faults.Fail("CreateMutexA", 1450, 1); },
                 State::kUnavailable, 0,
                 {"Failed to CreateMutex " + kGlobal + "\nError Code: 1450 Message 1450.\r\n"}, {}},
        LockCase{"NameTakenByAnotherKindOfObject",
                 [](FakePlatform& fp) { fp.faults.Fail("CreateMutexA", 6, 1); }, State::kUnavailable, 0,
                 {"Failed to CreateMutex " + kGlobal + "\nError Code: 6 Message 6.\r\n"}, {}},
        LockCase{"WaitFails", [](FakePlatform& fp) { fp.faults.Fail("WaitForSingleObject", 6); },
                 State::kUnavailable, 0,
                 {"Failed to WaitForSingleObject " + kGlobal + "\nError Code: 6 Message 6.\r\n"},
                 kSecuredGlobal}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(MachineLock, ReleasedEarlyAndOnlyOnce) {
  FakePlatform fp;
  MachineLock lock = MachineLock::Take(kCheckLockWaitMs);
  ASSERT_TRUE(lock.Held());
  lock.Release();
  EXPECT_FALSE(fp.mutexes.OwnsAny());
  EXPECT_EQ(fp.OpenHandles(), 0);
  lock.Release();
  EXPECT_EQ(std::count(fp.calls.begin(), fp.calls.end(), "ReleaseMutex"), 1);
}

TEST(MachineLock, AFailedReleaseStillClosesTheMutex) {
  FakePlatform fp;
  fp.faults.Fail("ReleaseMutex", 288);
  {
    MachineLock lock = MachineLock::Take(kCheckLockWaitMs);
    ASSERT_TRUE(lock.Held());
  }
  EXPECT_EQ(fp.OpenHandles(), 0);
}

TEST(MachineLock, TheCheckWaitsTenSeconds) {
  FakePlatform fp;
  fp.mutexes.HeldByAnother(kGlobal);
  MachineLock lock = MachineLock::Take(kCheckLockWaitMs);
  EXPECT_EQ(lock.state(), State::kBusy);
  EXPECT_EQ(fp.sleep.ticks, 10000u);
}

}  // namespace
}  // namespace kst
