#include "device/control_device.h"

#include <gtest/gtest.h>

#include <optional>

#include "tests/unit/device/fake_filter.h"
#include "tests/unit/support/trace_capture.h"

namespace kst {
namespace {

using fake::FakePlatform;
using test::Entry;
using test::FakeFilter;
using test::InquiryBytes;
using test::PassAnswer;
using test::RemovableCd;
using test::TraceCapture;
using test::WithSense;

PassAnswer Failed() { return PassAnswer{0, 0, 0, {}, {}}; }
PassAnswer Status(uint8_t status, std::vector<uint8_t> data = InquiryBytes(0x05, 0x80)) {
  return PassAnswer{1, status, 0, {}, std::move(data)};
}

InquiryData Junk() {
  InquiryData d;
  d.fill(0xCC);
  return d;
}

struct Outcome {
  bool result;
  InquiryData inquiry;
};

Outcome Inquire(const ScsiInfo& entry = Entry(0, 0, 0)) {
  Outcome run{false, Junk()};
  run.result = InquireScsiDevice(entry, run.inquiry);
  return run;
}

bool IsZero(const InquiryData& d) {
  return std::all_of(d.begin(), d.end(), [](uint8_t b) { return b == 0; });
}

TEST(InquireScsiDevice, SendsTheEntryAndAZeroedBufferOfItsOwn) {
  FakePlatform fp;
  FakeFilter filter(fp);
  filter.script = {RemovableCd("VENDOR  PRODUCT")};
  ScsiInfo e = Entry(0x102, 0x203, 0x304, 0x405, "atapi", 0, 0xCAFEF00D);
  Outcome run = Inquire(e);
  ASSERT_TRUE(run.result);
  ASSERT_EQ(filter.passes.size(), 1u);
  PassThroughRequest expected = EncodeInquiryRequest(e, 0);
  PassThroughRequest sent = filter.passes[0];
  std::fill(sent.begin() + 36, sent.begin() + 40, 0);  // the address, checked by the fake
  EXPECT_EQ(sent, expected);
  EXPECT_TRUE(filter.bufferZeroOnArrival[0]);
  EXPECT_EQ(fp.devices.opens, 1);
  EXPECT_EQ(fp.OpenHandles(), 0);
}

// One row: what the first and (if sent) second attempt answer, and the outcome.
struct AcceptanceCase {
  const char* name;
  std::vector<PassAnswer> answers;
  bool result;
  size_t requests;
};

class InquiryAcceptance : public ::testing::TestWithParam<AcceptanceCase> {};

TEST_P(InquiryAcceptance, Outcome) {
  FakePlatform fp;
  FakeFilter filter(fp);
  filter.script = GetParam().answers;
  Outcome run = Inquire();
  EXPECT_EQ(run.result, GetParam().result);
  EXPECT_EQ(filter.passes.size(), GetParam().requests);
  if (run.result) {
    EXPECT_EQ(run.inquiry[0], 0x05);
    EXPECT_EQ(run.inquiry[35], 'R');  // the 36th byte is kept, the 37th is not there
  } else {
    EXPECT_TRUE(IsZero(run.inquiry));
  }
  EXPECT_TRUE(fp.sleep.sleeps.empty());
  EXPECT_EQ(fp.OpenHandles(), 0);
}

PassAnswer SenseJunk(uint8_t status, uint8_t length) {
  PassAnswer a = Status(status);
  a.senseLength = length;
  a.sense[7] = 0x0A;
  return a;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, InquiryAcceptance,
    ::testing::Values(
        AcceptanceCase{"Good", {Status(0)}, true, 1},
        AcceptanceCase{"Status12WithSense", {SenseJunk(0x12, 18)}, true, 1},
        AcceptanceCase{"SenseLength0WithJunk", {SenseJunk(0, 0)}, true, 1},
        // Sense bytes present and nonzero: rejected, the second attempt decides.
        AcceptanceCase{"SenseLength1WithJunkThenFail", {SenseJunk(0, 1), Failed()}, false, 2},
        AcceptanceCase{"SenseJunkThenGood", {SenseJunk(0, 18), Status(0)}, true, 2},
        // Status 0x02 is rejected though the buffer holds valid data.
        AcceptanceCase{"CheckConditionTwice", {Status(0x02), Status(0x02)}, false, 2},
        AcceptanceCase{"CallFailsThenGood", {Failed(), Status(0)}, true, 2},
        AcceptanceCase{"CallFailsTwice", {Failed(), Failed()}, false, 2},
        // A failed call's status byte means nothing.
        AcceptanceCase{"FailedCallWithGoodStatus", {PassAnswer{0, 0, 0, {}, InquiryBytes(5, 0x80)},
                                                    Failed()},
                       false, 2}),
    [](const auto& info) { return info.param.name; });

struct TypeCase {
  const char* name;
  uint8_t byte0, byte1;
  bool result;
};

class InquiryDeviceType : public ::testing::TestWithParam<TypeCase> {};

TEST_P(InquiryDeviceType, OnlyRemovableOpticalDevicesCount) {
  FakePlatform fp;
  FakeFilter filter(fp);
  filter.script = {Status(0, InquiryBytes(GetParam().byte0, GetParam().byte1, "NAME"))};
  Outcome run = Inquire();
  EXPECT_EQ(run.result, GetParam().result);
  EXPECT_EQ(IsZero(run.inquiry), !GetParam().result);
  EXPECT_EQ(filter.passes.size(), 1u);  // an answer of the wrong kind is not asked again
}

INSTANTIATE_TEST_SUITE_P(Table, InquiryDeviceType,
                         ::testing::Values(TypeCase{"RemovableCd", 0x05, 0x80, true},
                                           TypeCase{"RemovableWorm", 0x04, 0x80, true},
                                           TypeCase{"FixedCd", 0x05, 0x00, false},
                                           TypeCase{"Byte1Is81", 0x05, 0x81, false},
                                           TypeCase{"Disk", 0x00, 0x00, false},
                                           TypeCase{"QualifiedCd", 0x25, 0x80, false}),
                         [](const auto& info) { return info.param.name; });

TEST(InquireScsiDevice, SecondAttemptDataComeFromTheSecondBuffer) {
  FakePlatform fp;
  FakeFilter filter(fp);
  filter.script = {Status(0x02, InquiryBytes(0x04, 0x80, "FIRST")),
                   Status(0, InquiryBytes(0x05, 0x80, "SECOND"))};
  Outcome run = Inquire();
  ASSERT_TRUE(run.result);
  EXPECT_EQ(run.inquiry[0], 0x05);
  EXPECT_EQ(std::string(run.inquiry.begin() + 8, run.inquiry.begin() + 14), "SECOND");
  ASSERT_EQ(filter.passes.size(), 2u);
  EXPECT_NE(test::Le32At(&filter.passes[0][36]), test::Le32At(&filter.passes[1][36]));
  EXPECT_TRUE(filter.bufferZeroOnArrival[1]);
}

TEST(InquireScsiDevice, NotReadyAfterGoodFirstAttemptWaitsAndPollsAgain) {
  FakePlatform fp;
  FakeFilter filter(fp);
  filter.script = {WithSense(Status(0x12), 0x02, 0x04), Status(0)};
  Outcome run = Inquire();
  EXPECT_TRUE(run.result);
  EXPECT_EQ(filter.passes.size(), 2u);
  EXPECT_EQ(fp.sleep.sleeps, std::vector<uint32_t>{500});
  EXPECT_EQ(fp.devices.opens, 1);  // the new pass uses the same handle
}

// The poll mark of the first attempt holds for the pass even when the
// second attempt is accepted without asking: another pass follows.
TEST(InquireScsiDevice, FirstAttemptsPollMarkOutlivesAnAcceptedSecond) {
  FakePlatform fp;
  FakeFilter filter(fp);
  filter.script = {WithSense(Status(0), 0x02, 0x04), Status(0), Status(0)};
  EXPECT_TRUE(Inquire().result);
  EXPECT_EQ(filter.passes.size(), 3u) << "two attempts, then a second pass";
  EXPECT_EQ(fp.sleep.sleeps, std::vector<uint32_t>{500});
}

TEST(InquireScsiDevice, PollConditions) {
  struct Row {
    uint8_t key, code;
    bool polls;
  };
  const Row rows[] = {{0x02, 0x04, true},   // not ready
                      {0x06, 0x28, true},   // medium may have changed
                      {0x06, 0x29, true},   // reset
                      {0x02, 0x3A, false}}; // medium not present
  for (const Row& r : rows) {
    FakePlatform fp;
    FakeFilter filter(fp);
    // Status 0x12 is accepted whatever the sense says, so only the poll test
    // decides whether a second pass comes.
    filter.script = {WithSense(Status(0x12), r.key, r.code), Status(0)};
    EXPECT_TRUE(Inquire().result);
    EXPECT_EQ(filter.passes.size(), r.polls ? 2u : 1u) << int(r.key) << "/" << int(r.code);
    EXPECT_EQ(fp.sleep.sleeps.size(), r.polls ? 1u : 0u);
  }
}

TEST(InquireScsiDevice, NoPollTestAfterAFailedFirstCall) {
  FakePlatform fp;
  FakeFilter filter(fp);
  PassAnswer failedNotReady = WithSense(Failed(), 0x02, 0x04);
  filter.script = {failedNotReady, Status(0)};
  EXPECT_TRUE(Inquire().result);
  EXPECT_TRUE(fp.sleep.sleeps.empty());
  EXPECT_EQ(filter.passes.size(), 2u);
}

TEST(InquireScsiDevice, SecondAttemptPollTestRunsEvenWhenItsCallFailed) {
  FakePlatform fp;
  FakeFilter filter(fp);
  filter.script = {Failed(), WithSense(Failed(), 0x06, 0x29), Status(0)};
  EXPECT_TRUE(Inquire().result);
  EXPECT_EQ(fp.sleep.sleeps, std::vector<uint32_t>{500});
  EXPECT_EQ(filter.passes.size(), 3u);
}

TEST(InquireScsiDevice, BothAttemptsAskingToBePolledWaitTwice) {
  FakePlatform fp;
  FakeFilter filter(fp);
  // Rejected (sense nonzero) and not ready, twice; then good.
  filter.script = {WithSense(Status(0), 0x02, 0x04), WithSense(Status(0), 0x02, 0x04), Status(0)};
  EXPECT_TRUE(Inquire().result);
  EXPECT_EQ(fp.sleep.sleeps, (std::vector<uint32_t>{500, 500}));
}

TEST(InquireScsiDevice, PollingStopsAfterTenPassesWithFalse) {
  FakePlatform fp;
  FakeFilter filter(fp);
  filter.inquiry = [](const test::Addressed&) {
    return WithSense(Status(0x12, InquiryBytes(0x05, 0x80, "POLLED")), 0x02, 0x04);
  };
  Outcome run = Inquire();
  EXPECT_FALSE(run.result);
  EXPECT_EQ(filter.passes.size(), size_t(kMaxInquiryPasses));
  EXPECT_EQ(fp.sleep.sleeps.size(), size_t(kMaxInquiryPasses));
  // Every pass was accepted, so the area holds the last pass's data.
  EXPECT_EQ(std::string(run.inquiry.begin() + 8, run.inquiry.begin() + 14), "POLLED");
  EXPECT_EQ(fp.OpenHandles(), 0);
}

// The pass limit holds on its own, also for a caller whose budget has
// room for more waits.
TEST(InquireScsiDevice, PollingStopsAfterTenPassesWhateverTheBudget) {
  FakePlatform fp;
  FakeFilter filter(fp);
  filter.inquiry = [](const test::Addressed&) {
    return WithSense(Status(0x12), 0x06, 0x29);
  };
  InquiryBudget budget(60000);
  InquiryData inquiry{};
  EXPECT_FALSE(InquireScsiDevice(Entry(0, 0, 0), inquiry, budget));
  EXPECT_EQ(filter.passes.size(), size_t(kMaxInquiryPasses));
  EXPECT_FALSE(budget.Spent());
}

TEST(InquireScsiDevice, NinthPollThenReadyStillSucceeds) {
  FakePlatform fp;
  FakeFilter filter(fp);
  for (int i = 0; i < kMaxInquiryPasses - 1; ++i) {
    filter.script.push_back(WithSense(Status(0x12), 0x06, 0x28));
  }
  filter.script.push_back(Status(0));
  EXPECT_TRUE(Inquire().result);
  EXPECT_EQ(filter.passes.size(), size_t(kMaxInquiryPasses));
}

TEST(InquireScsiDevice, EarlierAcceptedDataSurviveALaterFailedPass) {
  FakePlatform fp;
  FakeFilter filter(fp);
  filter.script = {WithSense(Status(0x12, InquiryBytes(0x05, 0x80, "EARLY")), 0x02, 0x04),
                   Failed(), Failed()};
  Outcome run = Inquire();
  EXPECT_FALSE(run.result);
  EXPECT_EQ(std::string(run.inquiry.begin() + 8, run.inquiry.begin() + 13), "EARLY");
}

// The filter's control device is opened for reading and writing, shared
// both ways, and never created: by every exchange that opens it.
TEST(ControlDevice, EveryOpenUsesTheFiltersMode) {
  FakePlatform fp;
  FakeFilter filter(fp);
  filter.script = {Status(0)};
  Inquire();
  UninitiateDevice();
  ASSERT_EQ(fp.devices.openModes.size(), 2u);
  for (const auto& mode : fp.devices.openModes) {
    EXPECT_EQ(mode.access, 0xC0000000u);  // GENERIC_READ | GENERIC_WRITE
    EXPECT_EQ(mode.share, 3u);            // FILE_SHARE_READ | FILE_SHARE_WRITE
    EXPECT_EQ(mode.disposition, 3u);      // OPEN_EXISTING
  }
}

TEST(InquireScsiDevice, FilterNotRunningSendsNothing) {
  FakePlatform fp;
  Outcome run = Inquire();
  EXPECT_FALSE(run.result);
  EXPECT_TRUE(IsZero(run.inquiry));
  EXPECT_TRUE(fp.devices.codes.empty());
}

TEST(InquireScsiDevice, EveryFailingCallLeavesNoHandle) {
  FakePlatform clean;
  {
    FakeFilter filter(clean);
    filter.script = {Failed(), WithSense(Status(0x12), 0x02, 0x04), Status(0)};
    Inquire();
  }
  int total = clean.faults.TotalChecked();
  for (int n = 1; n <= total; ++n) {
    FakePlatform fp;
    FakeFilter filter(fp);
    filter.script = {Failed(), WithSense(Status(0x12), 0x02, 0x04), Status(0)};
    fp.faults.FailCallNumber(n, 31);
    Inquire();
    EXPECT_EQ(fp.OpenHandles(), 0) << n;
    EXPECT_LE(fp.devices.mostOpenAtOnce, 1) << n;
  }
}

TEST(UninitiateDevice, SuccessIsSilent) {
  FakePlatform fp;
  TraceCapture trace(fp);
  FakeFilter filter(fp);
  EXPECT_TRUE(UninitiateDevice());
  EXPECT_EQ(fp.devices.codes, std::vector<uint32_t>{IOCTL_KESTRUNE_UNINITIATE});
  EXPECT_TRUE(trace.Lines().empty());
  EXPECT_EQ(fp.OpenHandles(), 0);
}

TEST(UninitiateDevice, FailuresAreTracedWithTheErrorText) {
  struct Row {
    const char* what;
    bool running;
    int answer;
    std::optional<uint32_t> injected;
    std::string line;
  };
  const std::string head = "Failed to Unconditioned Uninitiate device!\n";
  const Row rows[] = {
      {"not running", false, 1, std::nullopt, head + "Error Code: 2 Message 2.\r\n"},
      {"request refused", true, 1, 1, head + "Error Code: 1 Message 1.\r\n"},
      {"answer 0", true, 0, std::nullopt, head},  // no error code set: no error text
  };
  for (const Row& r : rows) {
    FakePlatform fp;
    TraceCapture trace(fp);
    FakeFilter filter(fp);
    filter.uninitiateResult = r.answer;
    if (!r.running) filter.Stop();
    if (r.injected) fp.faults.Fail("DeviceIoControl", *r.injected);
    EXPECT_FALSE(UninitiateDevice()) << r.what;
    EXPECT_EQ(trace.Lines(), std::vector<std::string>{r.line}) << r.what;
    EXPECT_EQ(fp.OpenHandles(), 0);
  }
}


// ---- The time budget of the inquiries ------------------------------------------------

// One step: the clock moves on by `advance` (a slow answer), then a wait of
// `wait` milliseconds is asked for.
struct BudgetStep {
  uint32_t advance;
  uint32_t wait;
  bool granted;
};

struct BudgetCase {
  const char* name;
  uint32_t start;  // the clock's reading when the budget is made
  uint32_t limit;
  std::vector<BudgetStep> steps;
  bool clockLags = false;  // the tick count does not move with the waits
};

std::vector<BudgetStep> HalfSecondWaits(int granted, int refused) {
  std::vector<BudgetStep> steps(size_t(granted), BudgetStep{0, 500, true});
  steps.insert(steps.end(), size_t(refused), BudgetStep{0, 500, false});
  return steps;
}

class InquiryBudgetSteps : public ::testing::TestWithParam<BudgetCase> {};

TEST_P(InquiryBudgetSteps, GrantsOnlyWaitsThatFit) {
  const BudgetCase& c = GetParam();
  FakePlatform fp;
  fp.sleep.ticks = c.start;
  fp.sleep.clockLags = c.clockLags;
  InquiryBudget budget(c.limit);
  uint32_t granted = 0;
  for (size_t i = 0; i < c.steps.size(); ++i) {
    fp.sleep.ticks += c.steps[i].advance;
    EXPECT_EQ(budget.Wait(c.steps[i].wait), c.steps[i].granted) << "step " << i;
    if (c.steps[i].granted) granted += c.steps[i].wait;
  }
  uint32_t slept = 0;
  for (uint32_t ms : fp.sleep.sleeps) slept += ms;
  EXPECT_EQ(slept, granted) << "a refused wait does not sleep";
  EXPECT_LE(slept, c.limit);
  EXPECT_TRUE(budget.Spent());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InquiryBudgetSteps,
    ::testing::Values(
        BudgetCase{"TenHalfSecondsFillFiveSeconds", 0, 5000, HalfSecondWaits(10, 2)},
        // A wait that does not fit is refused whole, and the budget stays spent
        // even for a wait that would still fit.
        BudgetCase{"NoPartialWait", 0, 5000, {{4800, 500, false}, {0, 100, false}}},
        BudgetCase{"SlowAnswersUseItUp", 7, 5000, {{2000, 500, true}, {2500, 500, false}}},
        BudgetCase{"ExactFitIsGranted", 0, 5000, {{4500, 500, true}, {0, 1, false}}},
        BudgetCase{"ClockWrapsAround", 0xFFFFFF00u, 5000, HalfSecondWaits(10, 1)},
        BudgetCase{"ZeroBudget", 0, 0, {{0, 1, false}}},
        // The waits count by their length when the clock does not move with them.
        BudgetCase{"LaggingClockCountsTheWaits", 0, 5000, HalfSecondWaits(10, 2), true}),
    [](const auto& info) { return info.param.name; });

TEST(InquiryBudget, NeverReadyDeviceStopsWhenTheSharedBudgetIsSpent) {
  for (bool clockLags : {false, true}) {
    SCOPED_TRACE(clockLags ? "clock lags behind the waits" : "clock moves with the waits");
    FakePlatform fp;
    fp.sleep.clockLags = clockLags;
    FakeFilter filter(fp);
    // Rejected and not ready on every attempt: two waits per pass.
    filter.inquiry = [](const test::Addressed&) { return WithSense(Status(2), 0x02, 0x04); };
    InquiryBudget budget(2000);
    InquiryData inquiry{};
    EXPECT_FALSE(InquireScsiDevice(Entry(0, 0, 0), inquiry, budget));
    EXPECT_EQ(fp.sleep.sleeps, std::vector<uint32_t>(4, 500));
    EXPECT_EQ(filter.passes.size(), 4u) << "two passes of two attempts, no time left for a third";
    EXPECT_TRUE(budget.Spent());
    EXPECT_EQ(fp.OpenHandles(), 0);
  }
}

}  // namespace
}  // namespace kst
