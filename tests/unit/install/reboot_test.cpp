#include "install/reboot.h"

#include <gtest/gtest.h>

#include "platform/fake/fake_platform.h"
#include "tests/unit/support/trace_capture.h"

namespace kst {
namespace {

using fake::FakePlatform;
using test::TraceCapture;
using Lines = std::vector<std::string>;

TEST(RebootWindows, EnablesShutdownPrivilegeAndForcesRestart) {
  FakePlatform fp;
  TraceCapture trace(fp);
  fp.shutdown.shutdownLuid = {0x13, 7};
  EXPECT_TRUE(RebootWindows());
  ASSERT_EQ(fp.shutdown.adjusted.size(), 1u);
  EXPECT_EQ(fp.shutdown.adjusted[0].first.lowPart, 0x13u);
  EXPECT_EQ(fp.shutdown.adjusted[0].first.highPart, 7);
  EXPECT_EQ(fp.shutdown.adjusted[0].second, 2u);
  ASSERT_EQ(fp.shutdown.exitRequests.size(), 1u);
  EXPECT_EQ(fp.shutdown.exitRequests[0].flags, 6u);
  EXPECT_EQ(fp.shutdown.exitRequests[0].reason, 0x20004u);
  EXPECT_TRUE(trace.Lines().empty());
  EXPECT_EQ(fp.shutdown.openTokens, 0) << "the token is closed before returning";
}

// Each step failing: the one trace line, false, and no restart requested
// after a failure before the request itself.
TEST(RebootWindows, EachFailingStep) {
  struct Row {
    const char* what;
    const char* failCall;
    bool holdsPrivilege;
    Lines lines;
    size_t exitRequests;
    bool result;
  } rows[] = {
      {"no process token", "OpenProcessToken", true, {"error: OpenProcessToken"}, 0, false},
      {"privilege not held", nullptr, false, {"error: AdjustTokenPrivileges"}, 0, false},
      {"adjustment refused", "AdjustTokenPrivileges", true, {"error: AdjustTokenPrivileges"}, 0,
       false},
      {"restart refused", "ExitWindowsEx", true, {"error: ExitWindowsEx"}, 0, false},
      // The lookup's result is not examined: the request goes on with the
      // identifier as it stands, and the adjustment alone decides.
      {"lookup fails", "LookupPrivilegeValueA", true, {}, 1, true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    FakePlatform fp;
    TraceCapture trace(fp);
    fp.shutdown.holdsShutdownPrivilege = r.holdsPrivilege;
    if (r.failCall) fp.faults.Fail(r.failCall, 5);
    EXPECT_EQ(RebootWindows(), r.result);
    EXPECT_EQ(trace.Lines(), r.lines);
    EXPECT_EQ(fp.shutdown.exitRequests.size(), r.exitRequests);
    EXPECT_EQ(fp.OpenHandles(), 0);
  }
}

TEST(RebootWindows, AsksForRestartOnlyAfterEnablingThePrivilege) {
  FakePlatform fp;
  EXPECT_TRUE(RebootWindows());
  EXPECT_EQ(fp.calls, (std::vector<std::string>{"OpenProcessToken", "LookupPrivilegeValueA",
                                                 "AdjustTokenPrivileges", "CloseHandle",
                                                 "ExitWindowsEx"}));
}

}  // namespace
}  // namespace kst
