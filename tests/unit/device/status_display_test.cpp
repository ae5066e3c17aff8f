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

namespace kst {
namespace {

using fake::FakePlatform;
using test::FakeMainWindow;

const char* const kRule = "-------------------------------------";

struct Entry {
  uint32_t hba, path, target, lun, letter;
  const char* adapter;
  const char* identity;  // vendor and product, or null: the device is no CD/DVD
};

// The running filter as its control device answers.
struct FilterStandIn {
  bool initiates = true;
  bool uninitiates = true;
  std::vector<Entry> entries;

  int Answer(uint32_t code, uint8_t* out, uint32_t outSize, uint8_t* data) const {
    switch (code) {
      case IOCTL_KESTRUNE_INITIATE: return initiates ? 1 : 0;
      case IOCTL_KESTRUNE_UNINITIATE: return uninitiates ? 1 : 0;
      case IOCTL_KESTRUNE_GET_SCSI_INFO: return Info(out, outSize);
      case IOCTL_KESTRUNE_SCSI_PASS_THROUGH: return Inquiry(out, data);
    }
    return 0;
  }

  int Info(uint8_t* out, uint32_t outSize) const {
    if (outSize == 4) {
      uint32_t count = uint32_t(entries.size());
      std::memcpy(out, &count, 4);
      return 1;
    }
    if (outSize != entries.size() * KST_SCSI_INFO_SIZE) return 0;
    for (size_t i = 0; i < entries.size(); ++i) {
      const Entry& e = entries[i];
      uint8_t* p = out + i * KST_SCSI_INFO_SIZE;
      uint32_t fields[] = {e.hba, e.path, e.target, e.lun, e.letter};
      std::memcpy(p, fields, sizeof fields);
      std::memcpy(p + 20, e.adapter, std::min<size_t>(8, std::strlen(e.adapter)));
    }
    return 1;
  }

  // Answers status 0 without sense; a CD/DVD device fills the data buffer.
  int Inquiry(uint8_t* request, uint8_t* data) const {
    uint32_t target = request[20];
    for (const Entry& e : entries) {
      if (e.target != target || !e.identity || !data) continue;
      data[0] = 0x05;
      data[1] = 0x80;
      std::memcpy(data + 8, e.identity, std::min<size_t>(24, std::strlen(e.identity)));
    }
    request[18] = 0;
    request[23] = 0;
    return 1;
  }
};

struct Files {
  std::optional<const char*> kestrune;  // version text "a.b.c.d", or missing
  std::optional<const char*> morvellin;
  std::optional<const char*> vxd;
};

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

  void Seed(bool nt, const Files& files, const std::optional<FilterStandIn>& filter) {
    fp.system.platformId = nt ? win::kVerPlatformWin32Nt : win::kVerPlatformWin32Windows;
    SeedFile(kKestrune.image.relativePath, files.kestrune);
    SeedFile(kMorvellin.image.relativePath, files.morvellin);
    SeedFile(kKestruneVxd.relativePath, files.vxd);
    if (!filter) return;
    stand_in = *filter;
    fp.devices.devices[KST_CONTROL_DEVICE_PATH] =
        [this](uint32_t code, const uint8_t*, uint32_t, uint8_t* out, uint32_t outSize,
               uint8_t* data, uint32_t) { return stand_in.Answer(code, out, outSize, data); };
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
  FilterStandIn stand_in;
  FakeMainWindow window;
};

const char* const kCurrent = "1.4.2.11";

FilterStandIn TwoDevices() {
  FilterStandIn f;
  f.entries = {{0, 0, 0, 0, 3, "atapi", "KSTVENDRCD-ROM DRIVE 52X"},
               {0, 0, 1, 0, 0, "atapi", nullptr}};
  return f;
}

FilterStandIn OneDevice() {
  FilterStandIn f;
  f.entries = {{0, 0, 0, 0, 3, "atapi", "KSTVENDRCD-ROM DRIVE 52X"}};
  return f;
}

FilterStandIn NoDevices() { return FilterStandIn{}; }

FilterStandIn Refusing() {
  FilterStandIn f = TwoDevices();
  f.initiates = false;
  return f;
}

// One row of the table of resulting states.
struct StateRow {
  const char* name;
  bool nt;
  Files files;
  std::optional<FilterStandIn> filter;  // none: the control device cannot be opened
  bool installed;
  const char* kestrune2;
  const char* morvellin2;
  bool morvellinShown;
  std::vector<std::string> lines;
  const char* host2;
  const char* target2;
  int tag;
};

void PrintTo(const StateRow& row, std::ostream* os) { *os << row.name; }


class StatusDisplayStates : public StatusDisplay,
                            public ::testing::WithParamInterface<StateRow> {};

TEST_P(StatusDisplayStates, ShowsTheRowsState) {
  const StateRow& row = GetParam();
  Seed(row.nt, row.files, row.filter);

  InstallationState status = RefreshDriverStatus(window);
  EXPECT_EQ(status.Installed(), row.installed);
  EXPECT_EQ(MarksInstalled(status), row.tag == 1);

  EXPECT_EQ(window.KestruneVersion().Caption(), row.kestrune2);
  EXPECT_EQ(window.MorvellinVersion().Caption(), row.morvellin2);
  EXPECT_EQ(window.MorvellinCaption().Visible(), row.morvellinShown);
  EXPECT_EQ(window.MorvellinVersion().Visible(), row.morvellinShown);
  EXPECT_EQ(window.InstallState().Caption(), row.installed ? "Install" : "Uninstall");
  EXPECT_EQ(window.DeviceList().Lines(), row.lines);
  EXPECT_EQ(window.DeviceList().Enabled(), !row.lines.empty());
  EXPECT_EQ(window.DeviceList().Selected(), row.lines.empty() ? -1 : 0);
  EXPECT_EQ(window.EntryCount().Caption(), row.host2);
  EXPECT_EQ(window.DeviceCount().Caption(), row.target2);
  EXPECT_EQ(window.InstallOption().Tag(), row.tag);
  EXPECT_EQ(fp.OpenHandles(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, StatusDisplayStates,
    ::testing::Values(
        StateRow{"NtInstalledWithDevices", true, {kCurrent, kCurrent, {}}, TwoDevices(),
                 true, kCurrent, kCurrent, true,
                 {"(D:)KSTVENDRCD-ROM DRIVE 52X (H0 P0 T0 L0)", "(?:) (H0 P0 T1 L0)"},
                 "2", "2", 1},
        // The commonest machine, one CD drive: its single line is listed and selected.
        StateRow{"NtInstalledWithOneDevice", true, {kCurrent, kCurrent, {}}, OneDevice(), true,
                 kCurrent, kCurrent, true, {"(D:)KSTVENDRCD-ROM DRIVE 52X (H0 P0 T0 L0)"}, "1",
                 "1", 1},
        StateRow{"NtInstalledWithoutDevices", true, {kCurrent, kCurrent, {}}, NoDevices(),
                 true, kCurrent, kCurrent, true, {}, "0", "0", 1},
        StateRow{"NtFilterNotRunning", true, {kCurrent, kCurrent, {}}, std::nullopt, false,
                 kCurrent, kCurrent, true, {}, "0", "0", 0},
        StateRow{"NtInitiateRefused", true, {kCurrent, kCurrent, {}}, Refusing(), false,
                 kCurrent, kCurrent, true, {}, "0", "0", 0},
        // The second file is checked even after the first failed.
        StateRow{"NtKestruneMissing", true, {{}, kCurrent, {}}, TwoDevices(), false, "",
                 kCurrent, true, {}, "0", "0", 0},
        StateRow{"NtMorvellinMissing", true, {kCurrent, {}, {}}, TwoDevices(), false,
                 kCurrent, "", true, {}, "0", "0", 0},
        StateRow{"NtOlderMorvellin", true, {kCurrent, "1.4.2.10", {}}, TwoDevices(), false,
                 kCurrent, "1.4.2.10", true, {}, "0", "0", 0},
        // A higher version fails exactly like a lower one.
        StateRow{"NtNewerKestrune", true, {"1.4.2.110", kCurrent, {}}, TwoDevices(), false,
                 "1.4.2.110", kCurrent, true, {}, "0", "0", 0},
        // Only the 9x file counts on the 9x family, and NT files are ignored.
        StateRow{"NtFilesOn9x", false, {kCurrent, kCurrent, {}}, TwoDevices(), false, "", "",
                 false, {}, "0", "0", 0},
        // Installed on 9x: the list stays empty and the mark stays 0.
        StateRow{"Win9xInstalled", false, {{}, {}, kCurrent}, TwoDevices(), true, kCurrent, "",
                 false, {}, "0", "0", 0},
        StateRow{"Win9xNoEntries", false, {{}, {}, kCurrent}, NoDevices(), false, kCurrent, "",
                 false, {}, "0", "0", 0},
        StateRow{"Win9xNotRunning", false, {{}, {}, kCurrent}, std::nullopt, false, kCurrent,
                 "", false, {}, "0", "0", 0},
        StateRow{"Win9xOlderFile", false, {{}, {}, "1.4.2.9"}, TwoDevices(), false, "1.4.2.9",
                 "", false, {}, "0", "0", 0},
        StateRow{"Win9xFileMissing", false, {}, TwoDevices(), false, "", "", false, {}, "0",
                 "0", 0}),
    [](const auto& info) { return info.param.name; });

// The install option is the user's choice: the display only marks it.
TEST_F(StatusDisplay, LeavesTheInstallOptionsChoiceAndCaption) {
  Seed(true, {kCurrent, kCurrent, {}}, TwoDevices());
  std::string caption = window.InstallOption().Caption();

  RefreshDriverStatus(window);

  EXPECT_TRUE(window.InstallOption().Checked());
  EXPECT_EQ(window.InstallOption().Caption(), caption);
  EXPECT_EQ(window.InstallOption().Tag(), 1);
  EXPECT_EQ(window.InstallOption().changes, 1);
}

TEST_F(StatusDisplay, LinesFromAnEarlierFillAreRemoved) {
  Seed(true, {kCurrent, {}, {}}, TwoDevices());
  window.DeviceList().Add("stale");
  window.DeviceList().Select(0);

  RefreshDriverStatus(window);

  EXPECT_EQ(window.DeviceList().Count(), 0);
  EXPECT_FALSE(window.DeviceList().Enabled());
}

TEST_F(StatusDisplay, FullNtRefreshTracesInOrder) {
  Seed(true, {kCurrent, kCurrent, {}}, TwoDevices());

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
  Seed(true, {kCurrent, kCurrent, {}}, NoDevices());

  RefreshDriverStatus(window);

  std::vector<std::string> lines = TraceLines();
  std::vector<std::string> tail(lines.end() - 4, lines.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"nScsiInfoCount :0", "nDeviceCount :0",
                                            "nLastScsiHost :0", "UnInitiateKestruneNT"}));
  EXPECT_FALSE(Traced(kRule));
  EXPECT_FALSE(Traced("InitiateKestrune - Already"));
}

TEST_F(StatusDisplay, RefusedInitiateIsNotUninitiated) {
  Seed(true, {kCurrent, kCurrent, {}}, Refusing());

  RefreshDriverStatus(window);

  EXPECT_TRUE(Traced("InitiateKestruneNT"));
  EXPECT_FALSE(Traced("UnInitiateKestruneNT"));
  EXPECT_EQ(std::count(fp.devices.codes.begin(), fp.devices.codes.end(),
                       IOCTL_KESTRUNE_UNINITIATE),
            0);
  EXPECT_FALSE(Traced("nScsiInfoCount :0"));
}

TEST_F(StatusDisplay, RefusedUninitiateChangesNothingShown) {
  FilterStandIn filter = TwoDevices();
  filter.uninitiates = false;
  Seed(true, {kCurrent, kCurrent, {}}, filter);

  EXPECT_TRUE(RefreshDriverStatus(window).Installed());

  EXPECT_EQ(window.InstallState().Caption(), "Install");
  EXPECT_EQ(window.DeviceList().Count(), 2);
  EXPECT_EQ(window.InstallOption().Tag(), 1);
}

TEST_F(StatusDisplay, StaleFilesNeverReachTheDevice) {
  Seed(true, {kCurrent, "1.4.2.10", {}}, TwoDevices());

  RefreshDriverStatus(window);

  EXPECT_EQ(fp.devices.opens, 0);
  EXPECT_FALSE(Traced("InitiateKestruneNT"));
}

TEST_F(StatusDisplay, Win9xAsksTheFilterWithoutInitiate) {
  Seed(false, {{}, {}, kCurrent}, TwoDevices());

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
  Seed(true, {kCurrent, kCurrent, {}}, TwoDevices());

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
  EXPECT_EQ(window.InstallOption().Tag(), 0);
  EXPECT_TRUE(TraceLines().empty());
  EXPECT_TRUE(fp.calls.empty());

  status.family = WindowsFamily::kNt;
  status.drivers.push_back(DriversOfFamily(WindowsFamily::kNt)[1]);
  ShowDriverStatus(window, status);
  EXPECT_EQ(window.InstallState().Caption(), "Uninstall");
  EXPECT_EQ(window.MorvellinVersion().Caption(), "");
  EXPECT_EQ(window.InstallOption().Tag(), 0);
}

}  // namespace
}  // namespace kst
