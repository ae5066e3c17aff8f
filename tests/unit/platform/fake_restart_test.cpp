// What the fakes do where Windows finishes a change only at its next start:
// a driver that is loaded, a service marked for deletion, the renames and
// deletions requested for the restart, and the restart itself. The install
// and uninstall procedures are judged by the machine these leave.
#include <gtest/gtest.h>

#include <cctype>

#include "platform/fake/fake_platform.h"

namespace kst {
namespace {

using fake::FakePlatform;
using Bytes = std::vector<uint8_t>;

const std::string kDir = "C:\\WINDOWS\\system32\\Drivers\\";
const std::string kImage = kDir + "Kestrune.sys";
const std::string kNew = kDir + "Kestrune.~nw";
const std::string kClass = "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E97B}";

Bytes Pending(const FakePlatform& fp) {
  auto key = fp.registry.keys.find(kSessionManagerKey);
  if (key == fp.registry.keys.end()) return {};
  auto value = key->second.find(kPendingRenamesValue);
  return value == key->second.end() ? Bytes{} : value->second.bytes;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

void SeedService(FakePlatform& fp, const std::string& name, uint32_t start, const std::string& image) {
  ServiceConfig& c = fp.services.services[name].config;
  c.name = name;
  c.startType = start;
  c.binaryPath = image;
}

std::unique_ptr<IService> Open(FakePlatform& fp, const std::string& name, uint32_t access) {
  auto manager = fp.services.OpenManager(win::kScManagerAllAccess);
  return manager ? manager->Open(name, access) : nullptr;
}

// ---- Requests for the restart ----------------------------------------------------

TEST(FakeAtRestart, RequestsAreAppendedInWindowsFormatBehindOtherProgramsOnes) {
  FakePlatform fp;
  fp.registry.SetMultiSz(kSessionManagerKey, kPendingRenamesValue, {"\\??\\C:\\other.tmp", ""});
  ASSERT_TRUE(fp.files.ReplaceAtRestart(kNew, kImage));
  ASSERT_TRUE(fp.files.DeleteAtRestart(kImage));
  Bytes expected = Text("\\??\\C:\\other.tmp");
  expected.push_back(0);
  expected.push_back(0);  // its deletion's empty target
  for (const std::string& s : {"\\??\\" + kNew, "!\\??\\" + kImage, "\\??\\" + kImage}) {
    Bytes b = Text(s);
    expected.insert(expected.end(), b.begin(), b.end());
    expected.push_back(0);
  }
  expected.push_back(0);  // the deletion's empty target
  expected.push_back(0);  // and the value's closing zero
  EXPECT_EQ(Pending(fp), expected);
  EXPECT_EQ(fp.registry.keys[kSessionManagerKey][kPendingRenamesValue].type, win::kRegMultiSz);
  EXPECT_FALSE(fp.files.Has(kImage)) << "nothing happens to the files now";
}

TEST(FakeAtRestart, ARequestIsLostByAPowerCutUntilTheKeyIsFlushed) {
  FakePlatform fp;
  fp.registry.keys[kSessionManagerKey];  // the key every system has
  ASSERT_TRUE(fp.files.DeleteAtRestart(kImage));
  EXPECT_EQ(fp.AfterPowerCut().keys[kSessionManagerKey].count(kPendingRenamesValue), 0u);
  std::unique_ptr<IRegKey> key;
  ASSERT_EQ(fp.registry.OpenLocalMachineKey(kSessionManagerKey, key), 0);
  ASSERT_EQ(key->Flush(), 0);
  EXPECT_EQ(fp.AfterPowerCut().keys[kSessionManagerKey].count(kPendingRenamesValue), 1u);
}

TEST(FakeAtRestart, TheNineXFamilyHasNoSuchRequest) {
  FakePlatform fp;
  fp.system.platformId = win::kVerPlatformWin32Windows;
  EXPECT_FALSE(fp.files.ReplaceAtRestart(kNew, kImage));
  EXPECT_EQ(fp.system.lastError, win::kErrorCallNotImplemented);
  EXPECT_FALSE(fp.files.DeleteAtRestart(kImage));
  EXPECT_EQ(fp.system.lastError, win::kErrorCallNotImplemented);
  EXPECT_TRUE(Pending(fp).empty());
}

// ---- The restart -------------------------------------------------------------------

TEST(FakeRestart, CarriesOutTheRequestsInOrderSkippingThoseThatCannotBeDone) {
  using Files = std::map<std::string, Bytes, fake::NoCase>;
  struct Row {
    const char* what;
    std::vector<std::string> value;  // the strings of the value, in pairs
    Files before;
    Files after;
    size_t cut = 0;  // bytes cut off the value's end
  } rows[] = {
      {"a replacement", {"\\??\\" + kNew, "!\\??\\" + kImage}, {{kImage, {1}}, {kNew, {2}}},
       {{kImage, {2}}}},
      {"a deletion", {"\\??\\" + kImage, ""}, {{kImage, {1}}}, {}},
      {"a replacement, then a deletion of its target",
       {"\\??\\" + kNew, "!\\??\\" + kImage, "\\??\\" + kImage, ""}, {{kImage, {1}}, {kNew, {2}}},
       {}},
      {"a deletion, then a replacement", {"\\??\\" + kImage, "", "\\??\\" + kNew, "!\\??\\" + kImage},
       {{kImage, {1}}, {kNew, {2}}}, {{kImage, {2}}}},
      {"a source that is missing: skipped, the target stays",
       {"\\??\\" + kNew, "!\\??\\" + kImage}, {{kImage, {1}}}, {{kImage, {1}}}},
      {"a move without leave to replace: skipped", {"\\??\\" + kNew, "\\??\\" + kImage},
       {{kImage, {1}}, {kNew, {2}}}, {{kImage, {1}}, {kNew, {2}}}},
      {"a move without leave to replace, to a free name", {"\\??\\" + kNew, "\\??\\" + kImage},
       {{kNew, {2}}}, {{kImage, {2}}}},
      {"the same source twice: the second finds nothing",
       {"\\??\\" + kNew, "!\\??\\" + kImage, "\\??\\" + kNew, "!\\??\\" + kDir + "x.sys"},
       {{kNew, {2}}}, {{kImage, {2}}}},
      {"a move onto itself changes nothing", {"\\??\\" + kImage, "!\\??\\" + kImage},
       {{kImage, {1}}}, {{kImage, {1}}}},
      {"names in another case", {"\\??\\" + kDir + "KESTRUNE.~NW", "!\\??\\" + kDir + "kestrune.SYS"},
       {{kImage, {1}}, {kNew, {2}}}, {{kImage, {2}}}},
      {"a source without its target at the end: ignored", {"\\??\\" + kImage},
       {{kImage, {1}}}, {{kImage, {1}}}, 2},
      // Read in pairs over the whole value: a source and an empty string
      // without the closing zero still make a deletion.
      {"a deletion without the closing zero", {"\\??\\" + kImage, ""}, {{kImage, {1}}}, {}, 1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    FakePlatform fp;
    for (const auto& [path, bytes] : r.before) fp.files.files[path].bytes = bytes;
    fp.registry.SetMultiSz(kSessionManagerKey, kPendingRenamesValue, r.value);
    Bytes& bytes = fp.registry.keys[kSessionManagerKey][kPendingRenamesValue].bytes;
    bytes.resize(bytes.size() - r.cut);
    fake::MachineView view = fake::AfterRestart(fp.Live());
    fp.Restart();
    // Paths as Windows compares them: a rename may change a name's case.
    auto upper = [](const auto& files) {
      std::map<std::string, Bytes> out;
      for (const auto& [path, bytes] : files) {
        std::string p = path;
        for (char& c : p) c = char(std::toupper(static_cast<unsigned char>(c)));
        out[p] = bytes;
      }
      return out;
    };
    Files after;
    for (const auto& [path, file] : fp.files.files) after[path] = file.bytes;
    EXPECT_EQ(upper(after), upper(r.after));
    EXPECT_EQ(upper(view.files), upper(r.after)) << "the view of a restart does the same";
    EXPECT_EQ(fp.registry.keys[kSessionManagerKey].count(kPendingRenamesValue), 0u);
    EXPECT_EQ(view.keys[kSessionManagerKey].count(kPendingRenamesValue), 0u);
  }
}

TEST(FakeRestart, WhatWasNotOnTheDiskIsLostFirst) {
  FakePlatform fp;
  fp.files.files[kImage].bytes = {1};
  fp.files.files[kNew].bytes = {2};
  fp.registry.keys[kSessionManagerKey];
  ASSERT_TRUE(fp.files.ReplaceAtRestart(kNew, kImage));  // never flushed
  fp.registry.keys[kClass];
  fp.registry.SetMultiSz(kClass, "LowerFilters", {"x"});  // seeded: on the disk
  fp.Restart();
  EXPECT_EQ(fp.files.files[kImage].bytes, Bytes{1});
  EXPECT_EQ(fp.files.files[kNew].bytes, Bytes{2});
  EXPECT_EQ(fp.registry.MultiSz(kClass, "LowerFilters"), std::vector<std::string>{"x"});
}

TEST(FakeRestart, VersionResourcesAndTimesFollowTheirFiles) {
  FakePlatform fp;
  fp.versions.SetVersion(kImage, 1, 4, 2, 10);
  fp.versions.SetVersion(kNew, 1, 4, 2, 11);
  fp.files.files[kNew].lastWrite = 1234;
  fp.registry.SetMultiSz(kSessionManagerKey, kPendingRenamesValue,
                         {"\\??\\" + kNew, "!\\??\\" + kImage});
  Bytes newRecord = fp.versions.records[kNew];
  fp.Restart();
  EXPECT_EQ(fp.versions.records[kImage], newRecord);
  EXPECT_EQ(fp.versions.records.count(kNew), 0u);
  uint64_t written = 0;
  ASSERT_TRUE(fp.files.LastWriteTime(kImage, written));
  EXPECT_EQ(written, 1234u);
}

TEST(FakeRestart, RemovesMarkedServicesAndLoadsDriversAsTheirStartTypesSay) {
  const std::string morvellin = kDir + "Morvellin.sys";
  struct Row {
    const char* what;
    uint32_t start;
    bool listed;
    bool imagePresent;
    bool runs;
  } rows[] = {
      {"boot start", 0, false, true, true},
      {"system start", 1, false, true, true},
      {"automatic start: a service process's, not loaded here", 2, true, true, false},
      {"demand start, listed in a class", 3, true, true, true},
      {"demand start, not listed", 3, false, true, false},
      {"boot start without its image", 0, true, false, false},
      {"disabled", 4, true, true, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    FakePlatform fp;
    SeedService(fp, "Morvellin", r.start, morvellin);
    if (r.imagePresent) fp.files.files[morvellin].bytes = {1};
    fp.registry.SetMultiSz(kClass, "LowerFilters", r.listed ? std::vector<std::string>{"MORVELLIN"}
                                                            : std::vector<std::string>{"other"});
    fp.Restart();
    EXPECT_EQ(fp.services.running.count("Morvellin"), r.runs ? 1u : 0u);
    EXPECT_EQ(fp.files.locked.count(morvellin), r.runs ? 1u : 0u);
  }
  FakePlatform fp;
  SeedService(fp, "Kestrune", 0, kImage);
  fp.services.services["Kestrune"].markedForDeletion = true;
  fp.files.files[kImage].bytes = {1};
  fp.Restart();
  EXPECT_EQ(fp.services.services.count("Kestrune"), 0u);
  EXPECT_TRUE(fp.services.running.empty());
}

TEST(FakeRestart, TheClockStartsAnewAfterTheTimeBefore) {
  FakePlatform fp;
  fp.sleep.ticks = 5000;
  uint64_t before = fp.sleep.Now();
  fp.Restart();
  uint64_t uptime = 1;
  ASSERT_TRUE(fp.sleep.TickCount64(uptime));
  EXPECT_EQ(uptime, 0u);
  EXPECT_GT(fp.sleep.SystemTime(), before);
  fp.sleep.hasTickCount64 = false;
  EXPECT_FALSE(fp.sleep.TickCount64(uptime));
  fp.sleep.tickWraps = 1;
  fp.sleep.ticks = 7;
  EXPECT_EQ(fp.sleep.TickCount(), 7u) << "the 32-bit count wraps";
}

// ---- A service whose driver is loaded --------------------------------------------------

TEST(FakeServiceMark, ADeletedRunningServiceIsMarkedAndRefusesEveryChange) {
  FakePlatform fp;
  SeedService(fp, "Kestrune", 0, kImage);
  fp.files.files[kImage].bytes = {1};
  fp.LoadFilter("Kestrune");
  EXPECT_FALSE(fp.files.Delete(kImage)) << "the loaded image is in use";

  auto service = Open(fp, "Kestrune", win::kServiceAllAccess);
  ASSERT_TRUE(service);
  EXPECT_TRUE(service->ChangeNothing()) << "not marked yet";
  EXPECT_TRUE(service->Delete());
  EXPECT_EQ(fp.services.services.count("Kestrune"), 1u);
  EXPECT_TRUE(fp.services.services["Kestrune"].markedForDeletion);

  EXPECT_FALSE(service->Delete());
  EXPECT_EQ(fp.system.lastError, win::kErrorServiceMarkedForDelete);
  EXPECT_FALSE(service->ChangeNothing());
  EXPECT_EQ(fp.system.lastError, win::kErrorServiceMarkedForDelete);
  service.reset();

  auto reopened = Open(fp, "Kestrune", win::kServiceQueryConfig);
  ASSERT_TRUE(reopened) << "it still opens";
  ServiceConfig config;
  EXPECT_TRUE(reopened->QueryConfig(config));
  EXPECT_EQ(config.binaryPath, kImage);
  reopened.reset();

  auto manager = fp.services.OpenManager(win::kScManagerAllAccess);
  ServiceConfig again;
  again.name = "kestrune";
  EXPECT_FALSE(manager->Create(again));
  EXPECT_EQ(fp.system.lastError, win::kErrorServiceMarkedForDelete);
}

TEST(FakeServiceMark, AServiceNotRunningGoesAtOnceAndAMarkIsDurableAtItsFlush) {
  FakePlatform fp;
  SeedService(fp, "Morvellin", 3, kDir + "Morvellin.sys");
  SeedService(fp, "Kestrune", 0, kImage);
  fp.LoadFilter("Kestrune");
  ASSERT_TRUE(Open(fp, "Morvellin", win::kDelete)->Delete());
  EXPECT_EQ(fp.services.services.count("Morvellin"), 0u);
  ASSERT_TRUE(Open(fp, "Kestrune", win::kDelete)->Delete());
  EXPECT_FALSE(fp.AfterPowerCut().services.at("Kestrune").markedForDeletion);
  std::unique_ptr<IRegKey> key;
  ASSERT_EQ(fp.registry.OpenLocalMachineKey(fake::FakeServices::KeyPath("Kestrune"), key), 0);
  ASSERT_EQ(key->Flush(), 0);
  EXPECT_TRUE(fp.AfterPowerCut().services.at("Kestrune").markedForDeletion);
  EXPECT_EQ(fake::AfterRestart(fp.AfterPowerCut()).services.count("Kestrune"), 0u);
}

TEST(FakeServiceMark, EachCallNeedsItsRightOnTheHandle) {
  FakePlatform fp;
  SeedService(fp, "Kestrune", 0, kImage);
  ServiceConfig config;
  EXPECT_FALSE(Open(fp, "Kestrune", win::kServiceQueryConfig)->ChangeNothing());
  EXPECT_EQ(fp.system.lastError, win::kErrorAccessDenied);
  EXPECT_FALSE(Open(fp, "Kestrune", win::kServiceChangeConfig)->QueryConfig(config));
  EXPECT_FALSE(Open(fp, "Kestrune", win::kServiceQueryConfig)->Delete());
  EXPECT_EQ(fp.system.lastError, win::kErrorAccessDenied);
  EXPECT_EQ(fp.services.services.count("Kestrune"), 1u);
  EXPECT_TRUE(Open(fp, "Kestrune", win::kServiceChangeConfig)->ChangeNothing());
}

// ---- Reading a file -------------------------------------------------------------------

TEST(FakeFiles, ReadsGoOnWhereTheLastEndedAndNeedReadAccess) {
  FakePlatform fp;
  fp.files.files[kImage].bytes = {1, 2, 3, 4, 5};
  auto file = fp.files.Create(kImage, win::kGenericRead, win::kFileShareRead, win::kOpenExisting, 0);
  ASSERT_TRUE(file);
  uint8_t buffer[8] = {};
  uint32_t read = 0;
  ASSERT_TRUE(file->Read(buffer, 3, read));
  EXPECT_EQ(read, 3u);
  ASSERT_TRUE(file->Read(buffer + 3, 8, read));
  EXPECT_EQ(read, 2u);
  EXPECT_EQ(Bytes(buffer, buffer + 5), (Bytes{1, 2, 3, 4, 5}));
  ASSERT_TRUE(file->Read(buffer, 8, read));
  EXPECT_EQ(read, 0u) << "at the end";
  auto writeOnly = fp.files.Create(kNew, win::kGenericWrite, 0, win::kCreateAlways, 0);
  EXPECT_FALSE(writeOnly->Read(buffer, 1, read));
  EXPECT_EQ(fp.system.lastError, win::kErrorAccessDenied);
}

}  // namespace
}  // namespace kst
