#include "device/status_display.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>

#include "device/control_device.h"
#include "device/inventory.h"
#include "install/drivers.h"
#include "platform/fake/fake_platform.h"
#include "tests/unit/app/fake_main_window.h"
#include "tests/unit/device/fake_filter.h"

namespace kst {
namespace {

using fake::FakePlatform;
using test::Addressed;
using test::Entry;
using test::FakeFilter;
using test::FakeMainWindow;
using test::PassAnswer;
using test::RemovableCd;

const char* const kRule = "-------------------------------------";

struct Files {
  std::optional<const char*> kestrune = {};  // version text "a.b.c.d", or missing
  std::optional<const char*> morvellin = {};
  std::optional<const char*> vxd = {};
};

// What the running filter of a row answers; kNot: its control device cannot
// be opened.
enum class Running { kNot, kTwoDevices, kOneDevice, kNoDevices, kRefusingInitiate };

class StatusDisplay : public ::testing::Test {
 protected:
  void SetUp() override {
    fp.windows.Open("dbgviewClass", "");  // a debug viewer receives the trace lines
  }

  void SeedFile(const char* relative, std::optional<const char*> version) {
    if (!version) return;
    unsigned a, b, c, d;
    ASSERT_EQ(std::sscanf(*version, "%u.%u.%u.%u", &a, &b, &c, &d), 4);
    fp.versions.SetVersion(fp.files.systemDirectory + relative, uint16_t(a), uint16_t(b),
                           uint16_t(c), uint16_t(d));
  }

  void Seed(bool nt, const Files& files, Running running) {
    fp.system.platformId = nt ? win::kVerPlatformWin32Nt : win::kVerPlatformWin32Windows;
    SeedFile(kKestrune.image.relativePath, files.kestrune);
    SeedFile(kMorvellin.image.relativePath, files.morvellin);
    SeedFile(kKestruneVxd.relativePath, files.vxd);
    if (running == Running::kNot) return;
    filter.emplace(fp);
    filter->initiateResult = running == Running::kRefusingInitiate ? 0 : 1;
    if (running != Running::kNoDevices) filter->entries = {Entry(0, 0, 0, 0, "atapi", 3)};
    if (running == Running::kTwoDevices || running == Running::kRefusingInitiate)
      filter->entries.push_back(Entry(0, 0, 1, 0, "atapi"));
    // Target 0 is a CD drive; any other device answers without data.
    filter->inquiry = [](const Addressed& device) {
      return device.targetId == 0 ? RemovableCd("KSTVENDRCD-ROM DRIVE 52X") : PassAnswer{};
    };
  }

  std::vector<std::string> TraceLines() const {
    std::vector<std::string> lines;
    for (const auto& e : fp.windows.events) lines.push_back(e.text);
    return lines;
  }

  bool Traced(const std::string& line) const {
    auto lines = TraceLines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }

  FakePlatform fp;
  std::optional<FakeFilter> filter;
  FakeMainWindow window;
};

const char* const kCurrent = "1.4.2.11";

// One row of the table of resulting states.
struct StateRow {
  const char* name;
  bool nt;
  Files files;
  Running running;
  bool installed = false;
  bool marked = false;  // counts as installed for the window's question
  const char* kestruneVersion = "";  // the captions of the version labels
  const char* morvellinVersion = "";
  bool morvellinShown;
  std::vector<std::string> lines = {};  // of the device list
  const char* entryCount = "0";
  const char* deviceCount = "0";
};

void PrintTo(const StateRow& row, std::ostream* os) { *os << row.name; }

class StatusDisplayStates : public StatusDisplay,
                            public ::testing::WithParamInterface<StateRow> {};

TEST_P(StatusDisplayStates, ShowsTheRowsState) {
  const StateRow& row = GetParam();
  Seed(row.nt, row.files, row.running);

  InstallationState status = RefreshDriverStatus(window);
  EXPECT_EQ(status.Installed(), row.installed);
  EXPECT_EQ(MarksInstalled(status), row.marked);

  EXPECT_EQ(window.KestruneVersion().Caption(), row.kestruneVersion);
  EXPECT_EQ(window.MorvellinVersion().Caption(), row.morvellinVersion);
  EXPECT_EQ(window.MorvellinCaption().Visible(), row.morvellinShown);
  EXPECT_EQ(window.MorvellinVersion().Visible(), row.morvellinShown);
  EXPECT_EQ(window.InstallState().Caption(), row.installed ? "Install" : "Uninstall");
  EXPECT_EQ(window.DeviceList().Lines(), row.lines);
  EXPECT_EQ(window.DeviceList().Enabled(), !row.lines.empty());
  EXPECT_EQ(window.DeviceList().Selected(), row.lines.empty() ? -1 : 0);
  EXPECT_EQ(window.EntryCount().Caption(), row.entryCount);
  EXPECT_EQ(window.DeviceCount().Caption(), row.deviceCount);
  EXPECT_EQ(fp.OpenHandles(), 0);
}

const Files kNtCurrent{.kestrune = kCurrent, .morvellin = kCurrent};
const Files kVxdCurrent{.vxd = kCurrent};

INSTANTIATE_TEST_SUITE_P(
    Table, StatusDisplayStates,
    ::testing::Values(
        StateRow{.name = "NtInstalledWithDevices", .nt = true, .files = kNtCurrent,
                 .running = Running::kTwoDevices, .installed = true, .marked = true,
                 .kestruneVersion = kCurrent, .morvellinVersion = kCurrent,
                 .morvellinShown = true,
                 .lines = {"(D:)KSTVENDRCD-ROM DRIVE 52X (H0 P0 T0 L0)", "(?:) (H0 P0 T1 L0)"},
                 .entryCount = "2", .deviceCount = "2"},
        // The commonest machine, one CD drive: its single line is listed and selected.
        StateRow{.name = "NtInstalledWithOneDevice", .nt = true, .files = kNtCurrent,
                 .running = Running::kOneDevice, .installed = true, .marked = true,
                 .kestruneVersion = kCurrent, .morvellinVersion = kCurrent,
                 .morvellinShown = true, .lines = {"(D:)KSTVENDRCD-ROM DRIVE 52X (H0 P0 T0 L0)"},
                 .entryCount = "1", .deviceCount = "1"},
        StateRow{.name = "NtInstalledWithoutDevices", .nt = true, .files = kNtCurrent,
                 .running = Running::kNoDevices, .installed = true, .marked = true,
                 .kestruneVersion = kCurrent, .morvellinVersion = kCurrent,
                 .morvellinShown = true},
        StateRow{.name = "NtFilterNotRunning", .nt = true, .files = kNtCurrent,
                 .running = Running::kNot, .kestruneVersion = kCurrent,
                 .morvellinVersion = kCurrent, .morvellinShown = true},
        StateRow{.name = "NtInitiateRefused", .nt = true, .files = kNtCurrent,
                 .running = Running::kRefusingInitiate, .kestruneVersion = kCurrent,
                 .morvellinVersion = kCurrent, .morvellinShown = true},
        // The second file is checked even after the first failed.
        StateRow{.name = "NtKestruneMissing", .nt = true, .files = {.morvellin = kCurrent},
                 .running = Running::kTwoDevices, .morvellinVersion = kCurrent,
                 .morvellinShown = true},
        StateRow{.name = "NtMorvellinMissing", .nt = true, .files = {.kestrune = kCurrent},
                 .running = Running::kTwoDevices, .kestruneVersion = kCurrent,
                 .morvellinShown = true},
        StateRow{.name = "NtOlderMorvellin", .nt = true,
                 .files = {.kestrune = kCurrent, .morvellin = "1.4.2.10"},
                 .running = Running::kTwoDevices, .kestruneVersion = kCurrent,
                 .morvellinVersion = "1.4.2.10", .morvellinShown = true},
        // A higher version fails exactly like a lower one.
        StateRow{.name = "NtNewerKestrune", .nt = true,
                 .files = {.kestrune = "1.4.2.110", .morvellin = kCurrent},
                 .running = Running::kTwoDevices, .kestruneVersion = "1.4.2.110",
                 .morvellinVersion = kCurrent, .morvellinShown = true},
        // Only the 9x file counts on the 9x family, and NT files are ignored.
        StateRow{.name = "NtFilesOn9x", .nt = false, .files = kNtCurrent,
                 .running = Running::kTwoDevices, .morvellinShown = false},
        // Installed on 9x: the list stays empty and nothing is marked.
        StateRow{.name = "Win9xInstalled", .nt = false, .files = kVxdCurrent,
                 .running = Running::kTwoDevices, .installed = true,
                 .kestruneVersion = kCurrent, .morvellinShown = false},
        StateRow{.name = "Win9xNoEntries", .nt = false, .files = kVxdCurrent,
                 .running = Running::kNoDevices, .kestruneVersion = kCurrent,
                 .morvellinShown = false},
        StateRow{.name = "Win9xNotRunning", .nt = false, .files = kVxdCurrent,
                 .running = Running::kNot, .kestruneVersion = kCurrent, .morvellinShown = false},
        StateRow{.name = "Win9xOlderFile", .nt = false, .files = {.vxd = "1.4.2.9"},
                 .running = Running::kTwoDevices, .kestruneVersion = "1.4.2.9",
                 .morvellinShown = false},
        StateRow{.name = "Win9xFileMissing", .nt = false, .files = {},
                 .running = Running::kTwoDevices, .morvellinShown = false}),
    [](const auto& info) { return info.param.name; });

// The install option is the user's choice: the display leaves it alone.
TEST_F(StatusDisplay, LeavesTheInstallOptionsChoiceAndCaption) {
  Seed(true, {kCurrent, kCurrent, {}}, Running::kTwoDevices);
  std::string caption = window.InstallOption().Caption();

  RefreshDriverStatus(window);

  EXPECT_TRUE(window.InstallOption().Checked());
  EXPECT_EQ(window.InstallOption().Caption(), caption);
  EXPECT_EQ(window.InstallOption().changes, 0);
}

TEST_F(StatusDisplay, LinesFromAnEarlierFillAreRemoved) {
  Seed(true, {kCurrent, {}, {}}, Running::kTwoDevices);
  window.DeviceList().Add("stale");
  window.DeviceList().Select(0);

  RefreshDriverStatus(window);

  EXPECT_EQ(window.DeviceList().Count(), 0);
  EXPECT_FALSE(window.DeviceList().Enabled());
}

TEST_F(StatusDisplay, FullNtRefreshTracesInOrder) {
  Seed(true, {kCurrent, kCurrent, {}}, Running::kTwoDevices);

  RefreshDriverStatus(window);

  std::vector<std::string> lines = TraceLines();
  auto at = [&](const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) - lines.begin();
  };
  ASSERT_LT(at("InitiateKestruneNT"), ptrdiff_t(lines.size()));
  EXPECT_LT(at("\\Drivers\\Morvellin.sys Version: 1.4.2.11"), at("InitiateKestruneNT"));
  EXPECT_LT(at("InitiateKestruneNT"), at("Kestrune SCSI Info Count: 2"));
  // ShowDeviceList's block follows the builder's lines.
  std::vector<std::string> tail(lines.end() - 9, lines.end());
  EXPECT_EQ(tail, (std::vector<std::string>{kRule, "InitiateKestrune - Already",
                                            "(D:)KSTVENDRCD-ROM DRIVE 52X (H0 P0 T0 L0)",
                                            "(?:) (H0 P0 T1 L0)", kRule, "nScsiInfoCount :2",
                                            "nDeviceCount :2", "nLastScsiHost :1",
                                            "UnInitiateKestruneNT"}));
  EXPECT_EQ(fp.devices.codes.back(), IOCTL_KESTRUNE_UNINITIATE);
}

TEST_F(StatusDisplay, NoDevicesStillTracesTheCounters) {
  Seed(true, {kCurrent, kCurrent, {}}, Running::kNoDevices);

  RefreshDriverStatus(window);

  std::vector<std::string> lines = TraceLines();
  std::vector<std::string> tail(lines.end() - 4, lines.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"nScsiInfoCount :0", "nDeviceCount :0",
                                            "nLastScsiHost :0", "UnInitiateKestruneNT"}));
  EXPECT_FALSE(Traced(kRule));
  EXPECT_FALSE(Traced("InitiateKestrune - Already"));
}

TEST_F(StatusDisplay, RefusedInitiateIsNotUninitiated) {
  Seed(true, {kCurrent, kCurrent, {}}, Running::kRefusingInitiate);

  RefreshDriverStatus(window);

  EXPECT_TRUE(Traced("InitiateKestruneNT"));
  EXPECT_FALSE(Traced("UnInitiateKestruneNT"));
  EXPECT_EQ(std::count(fp.devices.codes.begin(), fp.devices.codes.end(),
                       IOCTL_KESTRUNE_UNINITIATE),
            0);
  EXPECT_FALSE(Traced("nScsiInfoCount :0"));
}

TEST_F(StatusDisplay, RefusedUninitiateChangesNothingShown) {
  Seed(true, {kCurrent, kCurrent, {}}, Running::kTwoDevices);
  filter->uninitiateResult = 0;

  EXPECT_TRUE(RefreshDriverStatus(window).Installed());

  EXPECT_EQ(window.InstallState().Caption(), "Install");
  EXPECT_EQ(window.DeviceList().Count(), 2);
}

TEST_F(StatusDisplay, StaleFilesNeverReachTheDevice) {
  Seed(true, {kCurrent, "1.4.2.10", {}}, Running::kTwoDevices);

  RefreshDriverStatus(window);

  EXPECT_EQ(fp.devices.opens, 0);
  EXPECT_FALSE(Traced("InitiateKestruneNT"));
}

TEST_F(StatusDisplay, Win9xAsksTheFilterWithoutInitiate) {
  Seed(false, {{}, {}, kCurrent}, Running::kTwoDevices);

  RefreshDriverStatus(window);

  EXPECT_TRUE(Traced("InitiateKestrune9x"));
  EXPECT_FALSE(Traced("InitiateKestruneNT"));
  EXPECT_EQ(std::count(fp.devices.codes.begin(), fp.devices.codes.end(),
                       IOCTL_KESTRUNE_INITIATE),
            0);
  EXPECT_FALSE(Traced("nScsiInfoCount :2"));  // no device list on this family
}

// ---- ShowDeviceList and its lines --------------------------------------------------

DeviceRecord Record(uint8_t host, uint8_t path, uint8_t target, uint8_t lun, uint8_t letter,
                    const char* identity) {
  DeviceRecord r;
  r.hostNumber = host, r.pathId = path, r.targetId = target, r.lun = lun;
  r.driveLetter = letter;
  std::memcpy(r.inquiry.data() + 8, identity, std::min<size_t>(24, std::strlen(identity)));
  return r;
}

TEST(DeviceListLine, Table) {
  const struct {
    DeviceRecord record;
    const char* line;
  } rows[] = {
      {Record(0, 0, 0, 0, 3, "VENDOR  PRODUCT"), "(D:)VENDOR  PRODUCT (H0 P0 T0 L0)"},
      // No letter: the list shows "(?:)" where the builder's trace shows "(@:)".
      {Record(1, 2, 3, 4, 255, "VENDOR  PRODUCT"), "(?:)VENDOR  PRODUCT (H1 P2 T3 L4)"},
      {Record(0, 0, 1, 0, 255, ""), "(?:) (H0 P0 T1 L0)"},
      // Value 0 as a record field is drive A; the builder maps a 0 entry to 255.
      {Record(0, 0, 0, 0, 0, "X"), "(A:)X (H0 P0 T0 L0)"},
      // Byte-wide fields print unsigned.
      {Record(255, 255, 255, 255, 25, "Z"), "(Z:)Z (H255 P255 T255 L255)"},
      // The name stops at 24 characters: inquiry byte 32 is the revision.
      {Record(0, 0, 0, 0, 255, "ABCDEFGHIJKLMNOPQRSTUVWXYZ"),
       "(?:)ABCDEFGHIJKLMNOPQRSTUVWX (H0 P0 T0 L0)"},
  };
  for (const auto& row : rows) EXPECT_EQ(DeviceListLine(row.record), row.line);
}

class ShowDeviceListTest : public StatusDisplay {
 protected:
  void ShowAndTrace() {
    ShowDeviceList(window, inventory);
    TraceDeviceList(inventory);
  }
  DeviceInventory inventory;
};

TEST_F(ShowDeviceListTest, CountersWithoutRecordsArrayShowNothing) {
  // A count with no records array: the labels keep "0" and no list is made.
  inventory.nScsiInfoCount = 3;
  inventory.nDeviceCount = 2;
  inventory.nLastScsiHost = 7;

  ShowAndTrace();

  EXPECT_EQ(window.EntryCount().Caption(), "0");
  EXPECT_EQ(window.DeviceList().Count(), 0);
  EXPECT_EQ(TraceLines(), (std::vector<std::string>{"nScsiInfoCount :3", "nDeviceCount :2",
                                                    "nLastScsiHost :7"}));
}

TEST_F(ShowDeviceListTest, RecordsWithoutADeviceCountShowNothing) {
  // The records alone do not make a list: the device count must say so too.
  inventory.nScsiInfoCount = 1;
  inventory.records = {Record(0, 0, 0, 0, 255, "")};

  ShowAndTrace();

  EXPECT_EQ(window.EntryCount().Caption(), "0");
  EXPECT_EQ(window.DeviceList().Count(), 0);
  EXPECT_FALSE(Traced(kRule));
  EXPECT_TRUE(Traced("nDeviceCount :0"));
}

TEST_F(ShowDeviceListTest, HostAndTargetAreEntryAndRecordCounts) {
  // Two entries differing only in LUN give one record.
  inventory.nScsiInfoCount = 2;
  inventory.nDeviceCount = 1;
  inventory.nLastScsiHost = 1;
  inventory.records = {Record(0, 0, 0, 0, 255, "")};

  ShowAndTrace();

  EXPECT_EQ(window.EntryCount().Caption(), "2");
  EXPECT_EQ(window.DeviceCount().Caption(), "1");
  EXPECT_EQ(window.DeviceList().Lines(), std::vector<std::string>{"(?:) (H0 P0 T0 L0)"});
  EXPECT_TRUE(Traced("nLastScsiHost :1"));
}

TEST_F(ShowDeviceListTest, NegativeCountersPrintSigned) {
  inventory.nScsiInfoCount = -1;

  ShowAndTrace();

  EXPECT_TRUE(Traced("nScsiInfoCount :-1"));
  EXPECT_EQ(window.EntryCount().Caption(), "0");
}

// ---- The status as a value -----------------------------------------------------

// The version text of an image as read; none when it could not be read.
std::optional<std::string> TextOf(const ImageState& image) {
  if (image.presence != ImageState::Presence::kVersion) return std::nullopt;
  return image.version;
}

TEST(ReadInstallation, NeedsNoWindowAndNamesEachImageOfTheFamily) {
  const struct {
    const char* what;
    bool nt;
    std::vector<std::pair<const DriverImage*, const char*>> installed;  // file and version
    std::vector<const DriverImage*> images;
    std::vector<std::optional<std::string>> texts;
    bool filesCurrent;
  } rows[] = {
      {"NT, Kestrune missing", true, {{&kMorvellin.image, kCurrent}, {&kKestruneVxd, kCurrent}},
       {&kKestrune.image, &kMorvellin.image}, {std::nullopt, kCurrent}, false},
      {"NT, older Morvellin", true, {{&kKestrune.image, kCurrent}, {&kMorvellin.image, "1.4.2.10"}},
       {&kKestrune.image, &kMorvellin.image}, {kCurrent, "1.4.2.10"}, false},
      {"9x, current", false, {{&kKestrune.image, kCurrent}, {&kKestruneVxd, kCurrent}},
       {&kKestruneVxd}, {kCurrent}, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    FakePlatform fp;
    fp.system.platformId = row.nt ? win::kVerPlatformWin32Nt : win::kVerPlatformWin32Windows;
    for (const auto& [image, version] : row.installed) {
      unsigned a, b, c, d;
      ASSERT_EQ(std::sscanf(version, "%u.%u.%u.%u", &a, &b, &c, &d), 4);
      fp.versions.SetVersion(fp.files.systemDirectory + image->relativePath, uint16_t(a),
                             uint16_t(b), uint16_t(c), uint16_t(d));
    }

    InstallationState status = ReadInstallation();

    EXPECT_EQ(status.family, row.nt ? WindowsFamily::kNt : WindowsFamily::k9x);
    ASSERT_EQ(status.drivers.size(), row.images.size());
    for (size_t i = 0; i < row.images.size(); ++i) {
      EXPECT_EQ(status.drivers[i].imageRelativePath, row.images[i]->relativePath);
      EXPECT_EQ(status.drivers[i].image.path, fp.files.systemDirectory + row.images[i]->relativePath);
      EXPECT_EQ(TextOf(status.drivers[i].image), row.texts[i]);
    }
    EXPECT_EQ(status.FilesCurrent(), row.filesCurrent);
    EXPECT_EQ(status.filterAsked, row.filesCurrent);
    EXPECT_FALSE(status.filterAnswers) << "no filter runs";
    EXPECT_FALSE(status.Installed());
  }
}

TEST_F(StatusDisplay, QueryKeepsWhatTheNtFilterReported) {
  Seed(true, {kCurrent, kCurrent, {}}, Running::kTwoDevices);

  InstallationState status = ReadInstallation();

  EXPECT_TRUE(status.Installed());
  EXPECT_EQ(status.devices.nScsiInfoCount, 2);
  ASSERT_EQ(status.devices.records.size(), 2u);
  EXPECT_EQ(DeviceListLine(status.devices.records[0]), "(D:)KSTVENDRCD-ROM DRIVE 52X (H0 P0 T0 L0)");
  EXPECT_TRUE(Traced("UnInitiateKestruneNT"));
}

// The display shows the value it is given, whatever the machine holds now.
TEST_F(StatusDisplay, ShowWritesTheGivenValueOnly) {
  InstallationState status;
  status.family = WindowsFamily::k9x;
  status.drivers = DriversOfFamily(WindowsFamily::k9x);
  status.drivers[0].image.presence = ImageState::Presence::kVersion;
  status.drivers[0].image.version = "1.4.2.11";
  status.filterAsked = status.filterAnswers = true;
  fp.calls.clear();
  status.devices.nScsiInfoCount = status.devices.nDeviceCount = 1;
  status.devices.records = {Record(0, 0, 0, 0, 3, "CD")};

  ShowDriverStatus(window, status);

  EXPECT_EQ(window.KestruneVersion().Caption(), "1.4.2.11");
  EXPECT_EQ(window.InstallState().Caption(), "Install");
  EXPECT_FALSE(window.MorvellinVersion().Visible());
  EXPECT_EQ(window.DeviceList().Count(), 0) << "no device list on 9x";
  EXPECT_TRUE(TraceLines().empty());
  EXPECT_TRUE(fp.calls.empty());

  status.family = WindowsFamily::kNt;
  status.drivers.push_back(DriversOfFamily(WindowsFamily::kNt)[1]);
  ShowDriverStatus(window, status);
  EXPECT_EQ(window.InstallState().Caption(), "Uninstall");
  EXPECT_EQ(window.MorvellinVersion().Caption(), "");
}

}  // namespace
}  // namespace kst
