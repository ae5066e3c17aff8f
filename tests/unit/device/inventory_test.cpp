#include "device/inventory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <set>

#include "tests/unit/device/fake_filter.h"
#include "tests/unit/support/trace_capture.h"

namespace kst {
namespace {

using fake::FakePlatform;
using test::Addressed;
using test::Entry;
using test::FakeFilter;
using test::PassAnswer;
using test::RemovableCd;
using test::TraceCapture;
using Lines = std::vector<std::string>;

// A fake platform with a running filter and a trace viewer, and an
// inventory for the builders to fill.
struct Rig {
  FakePlatform fp;
  TraceCapture trace{fp};
  FakeFilter filter{fp};
  DeviceInventory inv;

  // Checks the handle discipline after a builder ran.
  void ExpectHandlesClean() {
    EXPECT_EQ(fp.OpenHandles(), 0);
    EXPECT_LE(fp.devices.mostOpenAtOnce, 1);
  }
};

std::vector<std::pair<int, int>> HostsAndTargets(const DeviceInventory& inv) {
  std::vector<std::pair<int, int>> out;
  for (const DeviceRecord& r : inv.records) out.emplace_back(r.hostNumber, r.targetId);
  return out;
}

TEST(InitiateKestruneNT, TwoTargetsWithoutInquiryAnswers) {
  Rig rig;
  rig.filter.entries = {Entry(0, 0, 0), Entry(0, 0, 1)};
  EXPECT_TRUE(InitiateKestruneNT(rig.inv));
  EXPECT_EQ(rig.trace.Lines(), (Lines{"Kestrune SCSI Info Count: 2", "scsi0",
                                      "(@:) H/T: 0/0 (HBA0Path0Target0Lun0 scsi0)",
                                      "(@:) H/T: 0/1 (HBA0Path0Target1Lun0 scsi0)"}));
  const DeviceInventory& inv = rig.inv;
  EXPECT_EQ(inv.nScsiInfoCount, 2);
  EXPECT_EQ(inv.nDeviceCount, 2);
  EXPECT_EQ(inv.nLastScsiHost, 1);
  EXPECT_EQ(HostsAndTargets(rig.inv), (std::vector<std::pair<int, int>>{{0, 0}, {0, 1}}));
  EXPECT_EQ(inv.records[1].entry, 1u);
  EXPECT_EQ(inv.records[1].driveLetter, 255);
  EXPECT_EQ(inv.records[0].DisplayName(), "");
  // Initiate, count, entries on one handle; one handle per inquiry (two attempts each).
  EXPECT_EQ(rig.fp.devices.opens, 3);
  EXPECT_EQ(std::vector<uint32_t>(rig.fp.devices.codes.begin(), rig.fp.devices.codes.begin() + 3),
            (std::vector<uint32_t>{IOCTL_KESTRUNE_INITIATE, IOCTL_KESTRUNE_GET_SCSI_INFO,
                                   IOCTL_KESTRUNE_GET_SCSI_INFO}));
  EXPECT_EQ(rig.filter.entriesRequestSizes, std::vector<uint32_t>{64});
  rig.ExpectHandlesClean();
}

struct GridCase {
  const char* name;
  std::vector<ScsiInfo> entries;
  std::vector<std::pair<int, int>> hostsAndTargets;
  int32_t nDeviceCount;
  int32_t nLastScsiHost;
};

class NtGrid : public ::testing::TestWithParam<GridCase> {};

TEST_P(NtGrid, RecordsAndCounters) {
  Rig rig;
  rig.filter.entries = GetParam().entries;
  EXPECT_TRUE(InitiateKestruneNT(rig.inv));
  EXPECT_EQ(HostsAndTargets(rig.inv), GetParam().hostsAndTargets);
  EXPECT_EQ(rig.inv.nScsiInfoCount, int32_t(GetParam().entries.size()));
  EXPECT_EQ(rig.inv.nDeviceCount, GetParam().nDeviceCount);
  EXPECT_EQ(rig.inv.nLastScsiHost, GetParam().nLastScsiHost);
  rig.ExpectHandlesClean();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NtGrid,
    ::testing::Values(
        GridCase{"TwoHbas", {Entry(0, 0, 0), Entry(1, 0, 0)}, {{0, 0}, {1, 0}}, 2, 2},
        GridCase{"Hba2Only", {Entry(2, 0, 0)}, {{2, 0}}, 1, 3},
        GridCase{"SecondNameContinues",
                 {Entry(1, 0, 0, 0, "scsi0"), Entry(0, 0, 2, 0, "atapi")}, {{1, 0}, {2, 2}}, 2, 3},
        GridCase{"LunDuplicates", {Entry(0, 0, 0, 1), Entry(0, 0, 0, 0)}, {{0, 0}}, 1, 1},
        GridCase{"Target256", {Entry(0, 0, 256), Entry(0, 0, 2)}, {{0, 2}}, 1, 1},
        GridCase{"Hba256", {Entry(256, 0, 0)}, {}, 0, 1}),
    [](const auto& info) { return info.param.name; });

TEST(InitiateKestruneNT, LunDuplicateKeepsTheFirstEntry) {
  Rig rig;
  rig.filter.entries = {Entry(0, 0, 0, 1), Entry(0, 0, 0, 0)};
  EXPECT_TRUE(InitiateKestruneNT(rig.inv));
  ASSERT_EQ(rig.inv.records.size(), 1u);
  EXPECT_EQ(rig.inv.records[0].lun, 1);
  EXPECT_EQ(rig.inv.records[0].entry, 0u);
  EXPECT_EQ(rig.inv.entries.size(), 2u);  // both entries are kept
}

TEST(InitiateKestruneNT, DriveLetters) {
  struct Row {
    uint32_t value;
    uint8_t stored;
    const char* prefix;
  };
  const Row rows[] = {{0, 255, "(@:)"},
                      {3, 3, "(D:)"},
                      {255, 255, "(@:)"},
                      {2, 2, "(C:)"},
                      {0x103, 3, "(D:)"}};  // the low byte stands for the letter
  for (const Row& r : rows) {
    Rig rig;
    rig.filter.entries = {Entry(0, 0, 0, 0, "scsi0", r.value)};
    ASSERT_TRUE(InitiateKestruneNT(rig.inv));
    ASSERT_EQ(rig.inv.records.size(), 1u);
    EXPECT_EQ(rig.inv.records[0].driveLetter, r.stored) << r.value;
    EXPECT_EQ(rig.trace.Lines().back().substr(0, 4), r.prefix) << r.value;
  }
}

TEST(InitiateKestruneNT, DeviceLineCarriesNameAndFullIds) {
  Rig rig;
  rig.filter.entries = {Entry(1, 0, 0, 0, "atapi"),
                        Entry(1, 0, 1, 0x1FF, "atapi", 4), Entry(0, 1, 0, 0, "ABCDEFGH")};
  rig.filter.inquiry = [](const Addressed& a) {
    if (a.targetId == 1) return RemovableCd("PLEXTOR DVDR   PX-716A");
    PassAnswer fixed = RemovableCd("HARD DISK");
    fixed.data[0] = 0x00;
    return fixed;
  };
  ASSERT_TRUE(InitiateKestruneNT(rig.inv));
  EXPECT_EQ(rig.trace.Lines(),
            (Lines{"Kestrune SCSI Info Count: 3", "atapi", "ABCDEFGH",
                   "(@:) H/T: 1/0 (HBA1Path0Target0Lun0 atapi)",
                   "(E:)PLEXTOR DVDR   PX-716A H/T: 1/1 (HBA1Path0Target1Lun511 atapi)",
                   "(@:) H/T: 3/0 (HBA0Path1Target0Lun0 ABCDEFGH)"}));
  const DeviceRecord& cd = rig.inv.records[1];
  EXPECT_EQ(cd.DisplayName(), "PLEXTOR DVDR   PX-716A");
  EXPECT_EQ(cd.lun, 0xFF);
  EXPECT_EQ(rig.inv.records[0].DisplayName(), "");  // not optical: area zeroed
  EXPECT_EQ(std::string(cd.adapterName.begin(), cd.adapterName.begin() + 5), "atapi");
}

TEST(InitiateKestruneNT, DisplayNameStopsAt24Characters) {
  DeviceRecord r;
  std::string text = "VENDOR01PRODUCT-NAME-16CREV1";  // vendor 8, product 16, revision
  std::copy(text.begin(), text.end(), r.inquiry.begin() + 8);
  EXPECT_EQ(r.DisplayName(), "VENDOR01PRODUCT-NAME-16C");
  r.inquiry[12] = 0;
  EXPECT_EQ(r.DisplayName(), "VEND");
}

TEST(InitiateKestruneNT, TraceUsesEmptyNameWhenTheLastPassFailed) {
  Rig rig;
  rig.filter.entries = {Entry(0, 0, 0)};
  // Accepted data, then a poll request; every later pass fails.
  rig.filter.script = {test::WithSense(PassAnswer{1, 0x12, 0, {}, RemovableCd("EARLY").data},
                                          0x02, 0x04)};
  ASSERT_TRUE(InitiateKestruneNT(rig.inv));
  EXPECT_EQ(rig.trace.Lines().back(), "(@:) H/T: 0/0 (HBA0Path0Target0Lun0 scsi0)");
  EXPECT_EQ(rig.inv.records[0].DisplayName(), "EARLY");
}

// How the filter answers the requests before the records, and the outcome.
struct EarlyCase {
  const char* name;
  bool running = true;
  int initiate = 1;
  int countAnswer = 1;
  std::optional<int32_t> count;
  int entriesAnswer = 1;
  bool result;
  Lines trace;
  size_t requests;  // control requests sent
  int32_t nScsiInfoCount;
};

// What an earlier fill left in an inventory: a builder fills it anew, so
// none of it may outlive an early stop.
DeviceInventory EarlierFill() {
  DeviceInventory inv;
  inv.nScsiInfoCount = 7;
  inv.entries = {Entry(0, 0, 0), Entry(0, 0, 1)};
  inv.nDeviceCount = 2;
  inv.nLastScsiHost = 3;
  inv.records.resize(2);
  return inv;
}

class NtEarlyStops : public ::testing::TestWithParam<EarlyCase> {};

TEST_P(NtEarlyStops, ResultTraceAndEmptyInventory) {
  const EarlyCase& c = GetParam();
  Rig rig;
  rig.inv = EarlierFill();
  rig.filter.entries = {Entry(0, 0, 0), Entry(0, 0, 1)};
  if (!c.running) rig.filter.Stop();
  rig.filter.initiateResult = c.initiate;
  rig.filter.countResult = c.countAnswer;
  rig.filter.reportedCount = c.count;
  rig.filter.entriesResult = c.entriesAnswer;
  EXPECT_EQ(InitiateKestruneNT(rig.inv), c.result);
  EXPECT_EQ(rig.trace.Lines(), c.trace);
  EXPECT_EQ(rig.fp.devices.codes.size(), c.requests);
  EXPECT_EQ(rig.inv.nScsiInfoCount, c.nScsiInfoCount);
  EXPECT_TRUE(rig.inv.records.empty());
  EXPECT_TRUE(rig.inv.entries.empty());
  EXPECT_EQ(rig.inv.nDeviceCount, 0);
  EXPECT_EQ(rig.inv.nLastScsiHost, 0);
  rig.ExpectHandlesClean();
}

EarlyCase Early(const char* name) {
  EarlyCase c{};
  c.name = name;
  return c;
}

std::vector<EarlyCase> EarlyCases() {
  std::vector<EarlyCase> cases;
  EarlyCase c = Early("NotRunning");
  c.running = false, c.result = false, c.requests = 0, c.nScsiInfoCount = 0;
  cases.push_back(c);
  c = Early("InitiateRefused");
  c.initiate = 0, c.result = false, c.trace = {"Failed to initialized kestrune device!"};
  c.requests = 1;
  cases.push_back(c);
  c = Early("InitiateAnswers2");  // only exactly 1 counts
  c.initiate = 2, c.result = false, c.trace = {"Failed to initialized kestrune device!"};
  c.requests = 1;
  cases.push_back(c);
  c = Early("CountRefused");
  c.countAnswer = 0, c.result = true, c.trace = {"Faile to get kestrune scsi information!"};
  c.requests = 2;
  cases.push_back(c);
  c = Early("CountZero");
  c.count = 0, c.result = true, c.trace = {"Kestrune SCSI Info Count: 0"}, c.requests = 2;
  cases.push_back(c);
  c = Early("CountNegative");
  c.count = -5, c.result = true, c.trace = {"Kestrune SCSI Info Count: -5"}, c.requests = 2;
  c.nScsiInfoCount = -5;
  cases.push_back(c);
  c = Early("EntriesRefused");
  c.entriesAnswer = 0, c.result = true, c.trace = {"Kestrune SCSI Info Count: 2"};
  c.requests = 3, c.nScsiInfoCount = 2;
  cases.push_back(c);
  c = Early("CountAbove4096");
  c.count = 4097, c.result = true, c.requests = 2, c.nScsiInfoCount = 4097;
  c.trace = {"Kestrune SCSI Info Count: 4097",
             "error: scsi information count 4097 is above 4096, entries not requested"};
  cases.push_back(c);
  c = Early("CountHuge");
  c.count = INT32_MAX, c.result = true, c.requests = 2, c.nScsiInfoCount = INT32_MAX;
  c.trace = {"Kestrune SCSI Info Count: 2147483647",
             "error: scsi information count 2147483647 is above 4096, entries not requested"};
  cases.push_back(c);
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Cases, NtEarlyStops, ::testing::ValuesIn(EarlyCases()),
                         [](const auto& info) { return info.param.name; });

TEST(InitiateKestruneNT, Count4096IsFetched) {
  Rig rig;
  for (uint32_t i = 0; i < 4096; ++i) rig.filter.entries.push_back(Entry(i / 256, 0, i % 256));
  EXPECT_TRUE(InitiateKestruneNT(rig.inv));
  EXPECT_EQ(rig.filter.entriesRequestSizes, std::vector<uint32_t>{4096 * 32});
  EXPECT_EQ(rig.inv.nDeviceCount, 4096);
  EXPECT_EQ(rig.inv.nLastScsiHost, 16);
  rig.ExpectHandlesClean();
}

TEST(InitiateKestruneNT, EntriesPastAByteAreTracedNotListed) {
  Rig rig;
  rig.filter.entries = {Entry(0, 0, 256), Entry(0, 0, 0)};
  EXPECT_TRUE(InitiateKestruneNT(rig.inv));
  EXPECT_EQ(rig.trace.Lines(),
            (Lines{"Kestrune SCSI Info Count: 2", "scsi0",
                   "error: entry 0 not listed: HBA0Path0Target256 beyond 255",
                   "(@:) H/T: 0/0 (HBA0Path0Target0Lun0 scsi0)"}));
  EXPECT_EQ(rig.inv.nScsiInfoCount, 2);
  EXPECT_EQ(rig.inv.nDeviceCount, 1);
}

TEST(InitiateKestruneNT, EveryFailingCallLeavesNoHandleOpen) {
  auto seed = [](FakeFilter& f) {
    f.entries = {Entry(0, 0, 0), Entry(1, 0, 1, 0, "atapi", 3)};
    f.inquiry = [](const Addressed&) { return RemovableCd("CD"); };
  };
  int total = 0;
  {
    Rig clean;
    seed(clean.filter);
    ASSERT_TRUE(InitiateKestruneNT(clean.inv));
    total = clean.fp.faults.TotalChecked();
  }
  for (int n = 1; n <= total; ++n) {
    Rig rig;
    seed(rig.filter);
    rig.fp.faults.FailCallNumber(n, 6);
    InitiateKestruneNT(rig.inv);
    SCOPED_TRACE(n);
    rig.ExpectHandlesClean();
    EXPECT_LE(rig.inv.records.size(), 2u);
  }
}

// ---- The 9x builder ----------------------------------------------------------

TEST(InitiateKestrune9x, RunningNumbersInFilterOrderWithoutInitiateOrDeviceLines) {
  Rig rig;
  rig.filter.entries = {Entry(0, 0, 5), Entry(2, 1, 0), Entry(0, 0, 5, 1)};
  EXPECT_TRUE(InitiateKestrune9x(rig.inv));
  EXPECT_EQ(HostsAndTargets(rig.inv), (std::vector<std::pair<int, int>>{{0, 0}, {0, 1}, {0, 2}}));
  EXPECT_EQ(rig.trace.Lines(), Lines{"Kestrune device Count: 3"});
  EXPECT_EQ(rig.inv.nLastScsiHost, 0);
  EXPECT_EQ(rig.inv.nDeviceCount, 3);
  EXPECT_EQ(rig.inv.records[1].pathId, 1);
  EXPECT_EQ(std::count(rig.fp.devices.codes.begin(), rig.fp.devices.codes.end(),
                       IOCTL_KESTRUNE_INITIATE),
            0);
  EXPECT_EQ(rig.filter.passes.size(), 6u);  // every record inquired (two attempts each)
  rig.ExpectHandlesClean();
}

TEST(InitiateKestrune9x, SecondNameTakesHostOne) {
  Rig rig;
  rig.filter.entries = {Entry(0, 0, 0, 0, "ESDI_506"), Entry(0, 0, 0, 0, "scsi0"),
                        Entry(0, 0, 1, 0, "ESDI_506")};
  EXPECT_TRUE(InitiateKestrune9x(rig.inv));
  EXPECT_EQ(HostsAndTargets(rig.inv), (std::vector<std::pair<int, int>>{{0, 0}, {0, 1}, {1, 0}}));
  EXPECT_EQ(rig.inv.nLastScsiHost, 1);
}

class NineXEarlyStops : public ::testing::TestWithParam<EarlyCase> {};

TEST_P(NineXEarlyStops, ResultTraceAndEmptyInventory) {
  const EarlyCase& c = GetParam();
  Rig rig;
  rig.inv = EarlierFill();
  rig.filter.entries = {Entry(0, 0, 0)};
  if (!c.running) rig.filter.Stop();
  rig.filter.countResult = c.countAnswer;
  rig.filter.reportedCount = c.count;
  rig.filter.entriesResult = c.entriesAnswer;
  EXPECT_EQ(InitiateKestrune9x(rig.inv), c.result);
  EXPECT_EQ(rig.trace.Lines(), c.trace);
  EXPECT_EQ(rig.fp.devices.codes.size(), c.requests);
  EXPECT_EQ(rig.inv.nScsiInfoCount, c.nScsiInfoCount);
  EXPECT_TRUE(rig.inv.records.empty());
  EXPECT_TRUE(rig.inv.entries.empty());
  EXPECT_EQ(rig.inv.nDeviceCount, 0);
  EXPECT_EQ(rig.inv.nLastScsiHost, 0);
  rig.ExpectHandlesClean();
}

std::vector<EarlyCase> NineXEarlyCases() {
  std::vector<EarlyCase> cases;
  EarlyCase c = Early("NotRunning");
  c.running = false, c.result = false;
  cases.push_back(c);
  c = Early("CountRefusedSilently");
  c.countAnswer = 0, c.result = false, c.requests = 1;
  cases.push_back(c);
  c = Early("CountZero");
  c.count = 0, c.result = false, c.trace = {"Kestrune device Count: 0"}, c.requests = 1;
  cases.push_back(c);
  c = Early("EntriesRefused");
  c.entriesAnswer = 0, c.result = false, c.trace = {"Kestrune device Count: 1"};
  c.requests = 2, c.nScsiInfoCount = 1;
  cases.push_back(c);
  c = Early("CountAbove4096");
  c.count = 5000, c.result = false, c.requests = 1, c.nScsiInfoCount = 5000;
  c.trace = {"Kestrune device Count: 5000",
             "error: scsi information count 5000 is above 4096, entries not requested"};
  cases.push_back(c);
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Cases, NineXEarlyStops, ::testing::ValuesIn(NineXEarlyCases()),
                         [](const auto& info) { return info.param.name; });


// ---- One time budget for all inquiries ------------------------------------------------

// How every device answers an INQUIRY, and what that costs in time.
struct SlowFilterCase {
  const char* name;
  uint32_t devices;
  std::function<PassAnswer(FakePlatform&)> answer;
  uint32_t inquired;  // devices that are sent a pass-through request
  uint32_t slept;     // milliseconds of waits in all
};

PassAnswer AnswerWithSense(uint8_t status, uint8_t key, uint8_t code) {
  PassAnswer a;
  a.status = status;
  a.senseLength = 18;
  a.sense[2] = key;
  a.sense[12] = code;
  return a;
}

std::vector<SlowFilterCase> SlowFilterCases() {
  auto neverReady = [](FakePlatform&) { return AnswerWithSense(0x02, 0x02, 0x04); };
  auto attention = [](FakePlatform&) { return AnswerWithSense(0x12, 0x06, 0x29); };
  return {
      // Both attempts of every pass ask to be polled: the first device
      // takes the whole budget, the others are listed without inquiry.
      {"NeverReady", 40, neverReady, 1, 5000},
      {"NeverReady4096", 4096, neverReady, 1, 5000},
      // One wait per pass: ten passes, then the pass limit and the budget meet.
      {"UnitAttentionForEver", 5, attention, 1, 5000},
      // Answers of 700 ms each: the eighth device starts at 4900 ms.
      {"SlowAnswers", 20,
       [](FakePlatform& fp) {
         fp.sleep.ticks += 700;
         return RemovableCd();
       },
       8, 0},
      {"PassThroughFails", 300, [](FakePlatform&) { return PassAnswer{0, 0, 0, {}, {}}; }, 300, 0},
      {"Healthy", 300, [](FakePlatform&) { return RemovableCd("CD"); }, 300, 0},
  };
}

class InquiryTimeBudget : public ::testing::TestWithParam<SlowFilterCase> {};

TEST_P(InquiryTimeBudget, EveryDeviceListedWithinFiveSecondsOfWaits) {
  const SlowFilterCase& c = GetParam();
  Rig rig;
  for (uint32_t i = 0; i < c.devices; ++i) rig.filter.entries.push_back(Entry(i / 256, 0, i % 256));
  rig.filter.inquiry = [&](const Addressed&) { return c.answer(rig.fp); };

  EXPECT_TRUE(InitiateKestruneNT(rig.inv));

  EXPECT_EQ(rig.inv.nDeviceCount, int32_t(c.devices));
  std::set<std::pair<uint32_t, uint8_t>> asked;
  for (const PassThroughRequest& r : rig.filter.passes)
    asked.emplace(test::Le32At(&r[0]), r[KST_PT_TARGET_ID]);
  EXPECT_EQ(asked.size(), c.inquired);
  uint32_t slept = 0;
  for (uint32_t ms : rig.fp.sleep.sleeps) slept += ms;
  EXPECT_EQ(slept, c.slept);

  Lines lines = rig.trace.Lines();
  Lines told;
  std::copy_if(lines.begin(), lines.end(), std::back_inserter(told),
               [](const std::string& l) { return l.find("inquiry time") != std::string::npos; });
  if (c.inquired == c.devices) {
    EXPECT_TRUE(told.empty());
  } else {
    EXPECT_EQ(told, Lines{"error: inquiry time of 5000 ms used up, " +
                          std::to_string(c.devices - c.inquired) +
                          " devices listed without inquiry"});
    // Told right after the device lines of the inquired devices.
    auto at = std::find(lines.begin(), lines.end(), told[0]) - lines.begin();
    EXPECT_EQ(lines[size_t(at) - 1].rfind("(@:) H/T: ", 0), 0u);
    EXPECT_EQ(std::count_if(lines.begin(), lines.begin() + at,
                            [](const std::string& l) { return l.rfind("(@:)", 0) == 0; }),
              int(c.inquired));
  }
  rig.ExpectHandlesClean();
}

INSTANTIATE_TEST_SUITE_P(Cases, InquiryTimeBudget, ::testing::ValuesIn(SlowFilterCases()),
                         [](const auto& info) { return info.param.name; });

TEST(InitiateKestrune9x, SharesTheInquiryBudgetToo) {
  Rig rig;
  rig.filter.entries = {Entry(0, 0, 0), Entry(0, 0, 1), Entry(0, 0, 2)};
  rig.filter.inquiry = [](const Addressed&) { return AnswerWithSense(0x02, 0x02, 0x04); };
  EXPECT_TRUE(InitiateKestrune9x(rig.inv));
  EXPECT_EQ(rig.inv.nDeviceCount, 3);
  EXPECT_EQ(rig.trace.Lines().back(),
            "error: inquiry time of 5000 ms used up, 2 devices listed without inquiry");
  EXPECT_EQ(rig.fp.sleep.sleeps.size(), 10u);
}

}  // namespace
}  // namespace kst
