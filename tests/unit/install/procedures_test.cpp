#include "install/procedures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <sstream>
#include <functional>
#include <set>
#include <stdexcept>

#include "install/class_filters.h"
#include "platform/fake/fake_platform.h"
#include "tests/unit/install/nt_machine.h"
#include "tests/unit/support/trace_capture.h"

namespace kst {
namespace {

using fake::FakePlatform;
using namespace kst::test;
using Lines = std::vector<std::string>;

constexpr int kYes = 6;
constexpr int kNo = 7;
const std::string kInstalledQuestion =
    "Kestrune installed success!.\nThis need reboot to take effect.\n\nDo you want to reboot now?";
const std::string kUninstalledQuestion =
    "Kestrune uninstalled success!.\nThis need reboot to take effect.\n\nDo you want to reboot "
    "now?";

Lines Join(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

Lines CopyLines(const std::string& path) {
  return {"Copy driver to: " + path, "Copyfile: CreateFile success!", "Copyfile: " + path,
          "===== Copyfile ==========="};
}

Lines KestruneRegistration(const std::string& serviceLine) {
  return {"InstallKestruneNT",
          serviceLine,
          "Start RegLowerFilter: REG_KESTRUNE KESTRUNE_REG_KEY_ATA!",
          "RegLowerFilter: Kestrune: " + kAdapterClass,
          "Success to RegLowerFilter " + kAdapterClass,
          "Start RegLowerFilter: REG_KESTRUNE KESTRUNE_REG_KEY_SCSI!",
          "RegLowerFilter: Kestrune: " + kIdeClass,
          "Success to RegLowerFilter " + kIdeClass,
          "Success to RegLowerFilter Kestrune ATAPI!"};
}

Lines MorvellinRegistration(const std::string& serviceLine) {
  return {"InstallMorvellinNT",
          serviceLine,
          "Start RegLowerFilter: REG_MORVELLIN MORVELLIN_REG_KEY_CDVDROM!",
          "RegLowerFilter: Morvellin: " + kCdromClass,
          "Success to RegLowerFilter " + kCdromClass,
          "Success to RegLowerFilter Morvellin cdvdrom!"};
}

Lines KestruneListRemoval() {
  return {"DelLowerFilter KESTRUNE_REG_KEY_ATA", "DelLowerFilter: Kestrune: " + kAdapterClass,
          "DelLowerFilter KESTRUNE_REG_KEY_SCSI", "DelLowerFilter: Kestrune: " + kIdeClass};
}

Lines MorvellinListRemoval() {
  return {"DelLowerFilter MORVELLIN_REG_KEY_CDVDROM", "DelLowerFilter: Morvellin: " + kCdromClass};
}

size_t CallCount(const FakePlatform& fp, const std::string& call) {
  return size_t(std::count(fp.calls.begin(), fp.calls.end(), call));
}

// The calls that change the machine.
const std::set<std::string> kChangingCalls = {
    "CreateFileA",   "WriteFile",   "FlushFileBuffers", "MoveFileExA",   "MoveFileA",
    "DeleteFileA",   "SetFileAttributesA", "RegSetValueExA", "RegDeleteValueA", "RegFlushKey",
    "CreateServiceA", "DeleteService"};

std::string MachineState(const FakePlatform& fp);
void ExpectTrueMeansRemoved(const FakePlatform& fp, bool result, const std::string& context);

// An NT machine after a complete first installation, with fresh call
// records and fault plan.
void SeedInstalled(FakePlatform& fp) {
  SeedNtMachine(fp);
  ASSERT_TRUE(InstallKestrune(false));
  fp.SettleOnDisk();  // installed long ago
  fp.calls.clear();
  fp.faults = fake::FaultPlan();
  fp.windows.events.clear();
}

void ExpectInstalled(const FakePlatform& fp) {
  EXPECT_EQ(ListOf(fp, kAdapterClass), (Entries{"Kestrune", "atapiflt", "SCSIFLT2"}));
  EXPECT_EQ(ListOf(fp, kIdeClass), (Entries{"Kestrune", "ideguard"}));
  EXPECT_EQ(ListOf(fp, kCdromClass), (Entries{"Morvellin", "imapi", "redbook"}));
  EXPECT_EQ(fp.services.services.size(), 2u);
  EXPECT_TRUE(fp.files.Has(kKestruneFile));
  EXPECT_TRUE(fp.files.Has(kMorvellinFile));
}

// ---- Trace line sequences ------------------------------------------------------

TEST(InstallKestrune, FirstInstallTraceSequence) {
  FakePlatform fp;
  TraceCapture trace(fp);
  SeedNtMachine(fp);
  EXPECT_TRUE(InstallKestrune(false));
  EXPECT_EQ(trace.Lines(),
            Join({CopyLines(kKestruneFile), CopyLines(kMorvellinFile),
                  KestruneRegistration("Create Kestrune service success!"),
                  MorvellinRegistration("Create Morvellin service success!")}));
  ExpectInstalled(fp);
  EXPECT_TRUE(fp.boxes.shown.empty());
  EXPECT_EQ(fp.OpenHandles(), 0);
}

TEST(InstallKestrune, ReinstallTraceSequenceChangesNothing) {
  FakePlatform fp;
  TraceCapture trace(fp);
  SeedInstalled(fp);
  EXPECT_TRUE(InstallKestrune(false));
  EXPECT_EQ(trace.Lines(),
            Join({CopyLines(kKestruneFile), CopyLines(kMorvellinFile),
                  KestruneRegistration("Kestrune server exists, Re-update register inforamtiom!"),
                  MorvellinRegistration("Morvellin server exists!")}));
  ExpectInstalled(fp);
  EXPECT_EQ(CallCount(fp, "CreateServiceA") + CallCount(fp, "DeleteService"), 0u);
}

TEST(UnInstallKestrune, NothingInstalledTraceSequence) {
  FakePlatform fp;
  TraceCapture trace(fp);
  SeedNtMachine(fp, false);
  EXPECT_TRUE(UnInstallKestrune(false));
  EXPECT_EQ(trace.Lines(), Join({{kKestruneFile},
                                 KestruneListRemoval(),
                                 {"Failed to OpenService Kestrune"},
                                 MorvellinListRemoval(),
                                 {"Failed to OpenService Morvellin"}}));
  EXPECT_EQ(CallCount(fp, "DeleteFileA"), 0u);
  EXPECT_EQ(fp.sleep.sleeps, (std::vector<uint32_t>{2000}));
  EXPECT_EQ(fp.OpenHandles(), 0);
}

TEST(UnInstallKestrune, AbsentFilesWithListsLeftTraceSequence) {
  FakePlatform fp;
  TraceCapture trace(fp);
  SeedNtMachine(fp);
  fp.registry.SetMultiSz(kAdapterClass, "LowerFilters", {"atapiflt", "Kestrune", "SCSIFLT2"});
  fp.registry.SetMultiSz(kCdromClass, "LowerFilters", {"Morvellin", "imapi", "redbook"});
  EXPECT_TRUE(UnInstallKestrune(false));
  EXPECT_EQ(trace.Lines(), Join({{kKestruneFile},
                                 KestruneListRemoval(),
                                 {"Failed to OpenService Kestrune",
                                  "DeleteFile: Kestrune.sys failed!"},
                                 MorvellinListRemoval(),
                                 {"Failed to OpenService Morvellin",
                                  "DeleteFile: Morvellin.sys failed!"}}));
  ExpectSafeState(fp, "absent files");
  EXPECT_EQ(ListOf(fp, kAdapterClass), (Entries{"atapiflt", "SCSIFLT2"}));
}

TEST(UnInstallKestrune, AfterInstallLeavesExactlyTheOtherEntries) {
  FakePlatform fp;
  TraceCapture trace(fp);
  SeedInstalled(fp);
  EXPECT_TRUE(UnInstallKestrune(false));
  for (const auto& [key, others] : OtherEntries()) EXPECT_EQ(ListOf(fp, key), others) << key;
  EXPECT_TRUE(fp.services.services.empty());
  EXPECT_FALSE(fp.files.Has(kKestruneFile));
  EXPECT_FALSE(fp.files.Has(kMorvellinFile));
  Lines lines = trace.Lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "DeleteFile: Kestrune.sys success!"), 1);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "DeleteFile: Morvellin.sys success!"), 1);
  EXPECT_EQ(fp.OpenHandles(), 0);
}

TEST(UnInstallKestrune, OnlyListEntryRemovesValue) {
  FakePlatform fp;
  SeedNtMachine(fp, false);
  ASSERT_TRUE(InstallKestrune(false));
  EXPECT_TRUE(UnInstallKestrune(false));
  for (const auto& key : {kAdapterClass, kIdeClass, kCdromClass}) {
    EXPECT_EQ(fp.registry.keys[key].count("LowerFilters"), 0u) << key;
  }
}

// ---- Restart questions -------------------------------------------------------------

TEST(InstallKestrune, RestartQuestion) {
  struct Row {
    bool interactive;
    int answer;
    size_t boxes;
    size_t restarts;
  } rows[] = {{true, kYes, 1, 1}, {true, kNo, 1, 0}, {false, kYes, 0, 0}};
  for (const Row& r : rows) {
    SCOPED_TRACE(std::to_string(r.interactive) + "/" + std::to_string(r.answer));
    FakePlatform fp;
    TraceCapture trace(fp);
    SeedNtMachine(fp);
    fp.boxes.defaultAnswer = r.answer;
    EXPECT_TRUE(InstallKestrune(r.interactive));
    ASSERT_EQ(fp.boxes.shown.size(), r.boxes);
    if (r.boxes) {
      EXPECT_EQ(fp.boxes.shown[0].text, kInstalledQuestion);
      EXPECT_EQ(fp.boxes.shown[0].caption, "Kestrune installed");
      EXPECT_EQ(fp.boxes.shown[0].flags, 36u);
    }
    EXPECT_EQ(fp.shutdown.exitRequests.size(), r.restarts);
    Lines lines = trace.Lines();
    EXPECT_EQ(lines.back() == "InstallKestrune: RebootWindows", r.restarts == 1);
  }
}

TEST(UnInstallKestrune, RestartQuestionOnlyAfterSuccess) {
  struct Row {
    const char* what;
    bool nt;
    bool locked;
    bool interactive;
    int answer;
    bool result;
    size_t boxes;
    size_t restarts;
    const char* failing = nullptr;
  } rows[] = {
      {"NT yes", true, false, true, kYes, true, 1, 1},
      {"NT no", true, false, true, kNo, true, 1, 0},
      {"NT quiet", true, false, false, kYes, true, 0, 0},
      // The restart finishes the removal: the question is all the more due.
      {"NT file in use, deleted at restart", true, true, true, kYes, true, 1, 1},
      {"NT file in use, its deletion at restart refused", true, true, true, kYes, false, 0, 0,
       "MoveFileExA"},
      {"9x yes", false, false, true, kYes, true, 1, 1},
      {"9x quiet", false, false, false, kYes, true, 0, 0},
      // A VxD that stays restarts Windows at once, without a question.
      {"9x file kept", false, true, true, kYes, false, 0, 1},
      {"9x file kept quiet", false, true, false, kYes, false, 0, 1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    FakePlatform fp;
    if (r.nt) {
      SeedInstalled(fp);
      if (r.locked) fp.LoadFilter("Kestrune");
      if (r.failing) fp.faults.Fail(r.failing, 5);
    } else {
      fp.system.platformId = win::kVerPlatformWin32Windows;
      fp.files.files[kVxdFile];
      if (r.locked) fp.files.locked.insert(kVxdFile);
    }
    fp.boxes.defaultAnswer = r.answer;
    EXPECT_EQ(UnInstallKestrune(r.interactive), r.result);
    ASSERT_EQ(fp.boxes.shown.size(), r.boxes);
    if (r.boxes) {
      EXPECT_EQ(fp.boxes.shown[0].text, kUninstalledQuestion);
      EXPECT_EQ(fp.boxes.shown[0].caption, "Kestrune uninstalled");
      EXPECT_EQ(fp.boxes.shown[0].flags, 36u);
    }
    EXPECT_EQ(fp.shutdown.exitRequests.size(), r.restarts);
  }
}

// ---- Install failures ---------------------------------------------------------------

TEST(InstallKestrune, FailedRegistrationStepIsFalseWithoutQuestion) {
  // Each step failing alone makes the whole installation false: the class
  // keys are opened in the order ATA, SCSI, CD/DVD-ROM.
  for (int unopenedKey : {1, 3}) {
    SCOPED_TRACE(unopenedKey);
    FakePlatform fp;
    TraceCapture trace(fp);
    SeedNtMachine(fp);
    fp.faults.Fail("RegOpenKeyA", 5, unopenedKey);
    fp.boxes.defaultAnswer = kYes;
    EXPECT_FALSE(InstallKestrune(true));
    EXPECT_EQ(trace.Lines().back(), "None RebootWindows");
    EXPECT_TRUE(fp.boxes.shown.empty());
    EXPECT_TRUE(fp.shutdown.exitRequests.empty());
    ExpectSafeState(fp, "key " + std::to_string(unopenedKey));
  }
}

TEST(InstallKestrune, FailedKestruneCreationStillRunsMorvellinStep) {
  FakePlatform fp;
  TraceCapture trace(fp);
  SeedNtMachine(fp);
  fp.faults.Fail("CreateServiceA", 5, 1);
  EXPECT_FALSE(InstallKestrune(true));
  EXPECT_FALSE(fp.files.Has(kKestruneFile));
  EXPECT_EQ(fp.services.services.count("Morvellin"), 1u);
  EXPECT_EQ(ListOf(fp, kCdromClass), (Entries{"Morvellin", "imapi", "redbook"}));
  EXPECT_EQ(trace.Lines().back(), "None RebootWindows");
  EXPECT_TRUE(fp.boxes.shown.empty());
  ExpectSafeState(fp, "Kestrune creation");
}

TEST(InstallKestrune, FailedDeploymentEndsBeforeRegistration) {
  FakePlatform fp;
  TraceCapture trace(fp);
  SeedNtMachine(fp);
  fp.resources.images.erase(105);
  EXPECT_FALSE(InstallKestrune(true));
  EXPECT_TRUE(fp.files.Has(kKestruneFile));
  ASSERT_EQ(fp.boxes.shown.size(), 1u);
  EXPECT_EQ(fp.boxes.shown[0].text, "Faile to copy driver to system directory!");
  EXPECT_EQ(CallCount(fp, "CreateServiceA") + CallCount(fp, "RegSetValueExA"), 0u);
  EXPECT_EQ(trace.Lines().back(), "===== Copyfile ===========");
  ExpectSafeState(fp, "deployment");
}

// ---- Re-installing over an existing image ----------------------------------------------

OlderImages SeedNineX(FakePlatform& fp);
OlderImages SeedNineXOlder(FakePlatform& fp);

std::vector<uint8_t> OlderImage(size_t size, uint8_t fill) { return std::vector<uint8_t>(size, fill); }

// An NT machine installed by an earlier version: listed, with images that
// differ from the carried ones in length and bytes.
OlderImages SeedOlderInstalled(FakePlatform& fp) {
  SeedInstalled(fp);
  OlderImages older{{kKestruneFile, OlderImage(4500, 0x6B)}, {kMorvellinFile, OlderImage(1700, 0x6D)}};
  for (const auto& [file, bytes] : older) fp.files.files[file].bytes = bytes;
  return older;
}

struct ReplaceFailure {
  const char* what;
  std::function<void(FakePlatform&)> arrange;
  std::string line;  // the line that names the failed step
};

TEST(InstallKestrune, ReinstallWhoseNewImageFailsKeepsTheOldImageAndLists) {
  const ReplaceFailure rows[] = {
      {"creation refused", [](FakePlatform& fp) { fp.faults.Fail("CreateFileA", 5); },
       "Copyfile: CreateFile failed!" + kSysDir + "\\Drivers\\Kestrune.~nw"},
      {"short write", [](FakePlatform& fp) { fp.files.writeLimit = 1000; },
       "Copyfile: Failed to write file!2475 / 1000"},
      {"write refused", [](FakePlatform& fp) { fp.faults.Fail("WriteFile", 112); },
       "Copyfile: Failed to write file!2475 / 0"},
      {"image resource missing", [](FakePlatform& fp) { fp.resources.images.erase(104); },
       "Copyfile: Failed to FindResource!"},
      {"flush refused", [](FakePlatform& fp) { fp.faults.Fail("FlushFileBuffers", 1117); },
       "Copyfile: Failed to flush file!"},
      {"replacement refused", [](FakePlatform& fp) { fp.faults.Fail("MoveFileExA", 32); },
       "Copyfile: Failed to replace file!" + kKestruneFile},
      // Only a file in use waits for the restart; a full disk is a failure.
      {"replacement refused, the disk full", [](FakePlatform& fp) { fp.faults.Fail("MoveFileExA", 112, 1); },
       "Copyfile: Failed to replace file!" + kKestruneFile},
      {"image in use, its replacement at the restart refused",
       [](FakePlatform& fp) {
         fp.LoadFilter("Kestrune");
         fp.faults.Fail("MoveFileExA", 5, 2);
       },
       "Copyfile: Failed to replace file!" + kKestruneFile},
      {"image in use, its replacement at the restart not flushed",
       [](FakePlatform& fp) {
         fp.LoadFilter("Kestrune");
         fp.faults.Fail("RegFlushKey", 1016, 1);
       },
       "Copyfile: Failed to replace file!" + kKestruneFile},
      {"the requests for the restart unreadable",
       [](FakePlatform& fp) {
         fp.registry.keys[kSessionManagerKey][kPendingRenamesValue] = {win::kRegSz, {'x', 0}};
       },
       "Copyfile: Failed to read PendingFileRenameOperations!"},
  };
  for (const ReplaceFailure& r : rows) {
    SCOPED_TRACE(r.what);
    FakePlatform fp;
    OlderImages older = SeedOlderInstalled(fp);
    r.arrange(fp);
    TraceCapture trace(fp);
    EXPECT_FALSE(InstallKestrune(true));
    EXPECT_EQ(fp.files.files[kKestruneFile].bytes, older.find(kKestruneFile)->second);
    EXPECT_EQ(fp.files.files[kMorvellinFile].bytes, older.find(kMorvellinFile)->second);
    EXPECT_EQ(StrayFiles(fp), std::vector<std::string>{});
    ExpectInstalled(fp);
    EXPECT_EQ(CallCount(fp, "RegSetValueExA") + CallCount(fp, "RegDeleteValueA"), 0u);
    EXPECT_EQ(CallCount(fp, "CreateServiceA") + CallCount(fp, "OpenServiceA"), 2u)
        << "only the question whether a service awaits deletion";
    ASSERT_EQ(fp.boxes.shown.size(), 1u);
    EXPECT_EQ(fp.boxes.shown[0].text, "Faile to copy driver to system directory!");
    Lines lines = trace.Lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines.front(), "Copy driver to: " + kKestruneFile);
    EXPECT_EQ(lines[lines.size() - 2], r.line);
    EXPECT_EQ(lines.back(), "===== Copyfile ===========");
    ExpectSafeState(fp, r.what, older);
  }
}

TEST(InstallKestrune, ReinstallOverOlderImagesReplacesThemWithTheSameLines) {
  FakePlatform fp;
  SeedOlderInstalled(fp);
  TraceCapture trace(fp);
  EXPECT_TRUE(InstallKestrune(false));
  EXPECT_EQ(fp.files.files[kKestruneFile].bytes, fp.resources.images[104]);
  EXPECT_EQ(fp.files.files[kMorvellinFile].bytes, fp.resources.images[105]);
  EXPECT_EQ(StrayFiles(fp), std::vector<std::string>{});
  Lines lines = trace.Lines();
  lines.resize(8);
  EXPECT_EQ(lines, Join({CopyLines(kKestruneFile), CopyLines(kMorvellinFile)}));
}

// On the 9x family the old VxD steps aside, the new one moves in, and the old
// one comes back when that fails.
struct NineXReplace {
  const char* what;
  bool withOlder;
  std::function<void(FakePlatform&)> arrange;
  bool ok;
};

TEST(InstallKestrune, NineXReplacementKeepsAWholeVxdOrNone) {
  const std::vector<uint8_t> old = OlderImage(1300, 0x76);
  const std::string backup = kSysDir + "\\Iosubsys\\Kestrune.~ol";
  const NineXReplace rows[] = {
      {"first installation", false, [](FakePlatform&) {}, true},
      {"over an older VxD", true, [](FakePlatform&) {}, true},
      {"over an older VxD with a stale set-aside copy", true,
       [&](FakePlatform& fp) { fp.files.files[backup].bytes = {1, 2, 3}; }, true},
      {"old VxD in use", true, [](FakePlatform& fp) { fp.files.locked.insert(kVxdFile); }, false},
      {"setting the old VxD aside refused", true,
       [](FakePlatform& fp) { fp.faults.Fail("MoveFileA", 5, 1); }, false},
      {"moving the new VxD in refused", true,
       [](FakePlatform& fp) { fp.faults.Fail("MoveFileA", 5, 2); }, false},
      {"moving the new VxD in refused on a first installation", false,
       [](FakePlatform& fp) { fp.faults.Fail("MoveFileA", 5, 1); }, false},
  };
  for (const NineXReplace& r : rows) {
    SCOPED_TRACE(r.what);
    FakePlatform fp;
    SeedImages(fp);
    fp.system.platformId = win::kVerPlatformWin32Windows;
    if (r.withOlder) fp.files.files[kVxdFile].bytes = old;
    r.arrange(fp);
    TraceCapture trace(fp);
    EXPECT_EQ(InstallKestrune(false), r.ok);
    if (r.ok) {
      EXPECT_EQ(fp.files.files[kVxdFile].bytes, fp.resources.images[106]);
      EXPECT_EQ(trace.Lines(), CopyLines(kVxdFile));
    } else if (r.withOlder) {
      EXPECT_EQ(fp.files.files[kVxdFile].bytes, old);
    } else {
      EXPECT_FALSE(fp.files.Has(kVxdFile));
    }
    EXPECT_EQ(StrayFiles(fp), std::vector<std::string>{});
    EXPECT_TRUE(fp.boxes.shown.empty()) << "a quiet run shows no box";
    EXPECT_EQ(trace.Lines().back() == "Faile to copy driver to system directory!", !r.ok);
  }
}

// Our own files may have been made read-only (by a copy from a CD, say).
// Windows keeps the attribute when it renames a file and refuses to delete or
// replace it, so each is made writable before it is replaced or deleted; a
// backup left behind would otherwise take the backup name from every later
// installation.
TEST(InstallKestrune, ReadOnlyFilesOfOurOwnAreReplacedAndLeaveNothingBehind) {
  struct Row {
    const char* what;
    bool nt;
    std::vector<std::string> readOnly;
  } rows[] = {
      {"9x, read-only older VxD", false, {kVxdFile}},
      {"9x, read-only older VxD and a read-only stale backup", false,
       {kVxdFile, kSysDir + "\\Iosubsys\\Kestrune.~ol"}},
      {"9x, read-only stale new image", false, {kSysDir + "\\Iosubsys\\Kestrune.~nw"}},
      {"NT, read-only older images", true, {kKestruneFile, kMorvellinFile}},
      {"NT, read-only stale new image", true, {kSysDir + "\\Drivers\\Kestrune.~nw"}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    FakePlatform fp;
    if (r.nt) {
      SeedOlderInstalled(fp);
    } else {
      SeedNineXOlder(fp);
    }
    for (const std::string& file : r.readOnly) {
      fp.files.files[file].attributes = win::kFileAttributeReadOnly | 0x20;
    }
    TraceCapture trace(fp);
    for (int run = 1; run <= 2; ++run) {
      SCOPED_TRACE(run);
      trace.Clear();
      EXPECT_TRUE(InstallKestrune(false));
      EXPECT_EQ(StrayFiles(fp), std::vector<std::string>{});
      Lines lines = trace.Lines();
      EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                              [](const std::string& l) { return l.rfind("Failed", 0) == 0; }),
                0);
    }
    if (r.nt) {
      EXPECT_EQ(fp.files.files[kKestruneFile].bytes, fp.resources.images[104]);
      ExpectInstalled(fp);
    } else {
      EXPECT_EQ(fp.files.files[kVxdFile].bytes, fp.resources.images[106]);
    }
  }
}

TEST(InstallKestrune, FailedCopyOnFreshMachineTouchesNoList) {
  FakePlatform fp;
  SeedNtMachine(fp);
  fp.faults.Fail("CreateFileA", 5, 0);
  EXPECT_FALSE(InstallKestrune(false));
  EXPECT_EQ(CallCount(fp, "RegSetValueExA"), 0u);
  EXPECT_EQ(CallCount(fp, "RegDeleteValueA"), 0u);
  ExpectSafeState(fp, "fresh machine");
}

TEST(InstallKestrune, RefusedUnderWow64BeforeWritingAnything) {
  FakePlatform fp;
  TraceCapture trace(fp);
  SeedNtMachine(fp);
  fp.system.wow64 = true;
  fp.boxes.defaultAnswer = kYes;
  EXPECT_FALSE(InstallKestrune(true));
  ASSERT_EQ(fp.boxes.shown.size(), 1u);
  EXPECT_EQ(fp.boxes.shown[0].caption, "SCSI SRB Command Filters");
  EXPECT_EQ(fp.boxes.shown[0].flags, 16u);
  EXPECT_NE(fp.boxes.shown[0].text.find("32-bit Windows only"), std::string::npos);
  Lines lines = trace.Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("Failed to", 0), 0u);
  for (const char* call : {"CreateFileA", "RegOpenKeyA", "OpenSCManagerA", "ExitWindowsEx"}) {
    EXPECT_EQ(CallCount(fp, call), 0u) << call;
  }
  EXPECT_TRUE(fp.files.files.empty());
}

TEST(InstallKestrune, NineXWritesOnlyTheVxd) {
  FakePlatform fp;
  TraceCapture trace(fp);
  SeedImages(fp);
  fp.system.platformId = win::kVerPlatformWin32Windows;
  EXPECT_TRUE(InstallKestrune(false));
  EXPECT_EQ(trace.Lines(), CopyLines(kVxdFile));
  ASSERT_EQ(fp.files.files.size(), 1u);
  EXPECT_TRUE(fp.files.Has(kVxdFile));
  for (const char* call : {"RegOpenKeyA", "OpenSCManagerA"}) EXPECT_EQ(CallCount(fp, call), 0u);
}

// ---- A loaded filter: what finishes at the restart ------------------------------------

Lines InUseCopyLines(const std::string& path) {
  return {"Copy driver to: " + path, "Copyfile: CreateFile success!",
          "Copyfile: " + path + " in use, replaced at restart", "===== Copyfile ==========="};
}

// The lines of a copy that finds the carried image already waiting.
Lines WaitingCopyLines(const std::string& path) {
  return {"Copy driver to: " + path, "Copyfile: " + path + " in use, replaced at restart",
          "===== Copyfile ==========="};
}

std::vector<uint8_t> PendingValue(const FakePlatform& fp) {
  auto key = fp.registry.keys.find(kSessionManagerKey);
  if (key == fp.registry.keys.end() || !key->second.count(kPendingRenamesValue)) return {};
  return key->second.at(kPendingRenamesValue).bytes;
}

const std::string kKestruneNew = kSysDir + "\\Drivers\\Kestrune.~nw";
const std::string kKestruneNew1 = kSysDir + "\\Drivers\\Kestrune.~n1";
const std::string kMorvellinNew = kSysDir + "\\Drivers\\Morvellin.~nw";

// An NT machine installed long ago by an earlier version and restarted
// since: both filters loaded (a CD drive pulls Morvellin in).
OlderImages SeedLoadedOlder(FakePlatform& fp) {
  OlderImages older = SeedOlderInstalled(fp);
  fp.Restart();
  EXPECT_EQ(fp.services.running.size(), 2u);
  fp.boxes.defaultAnswer = kYes;
  return older;
}

// The same, with this version's upgrade waiting for the restart.
OlderImages SeedUpgradeWaiting(FakePlatform& fp) {
  OlderImages older = SeedLoadedOlder(fp);
  EXPECT_TRUE(InstallKestrune(false));
  fp.SettleOnDisk();
  fp.calls.clear();
  fp.faults = fake::FaultPlan();
  return older;
}

// The same, with another version's image waiting to replace Kestrune.sys.
const std::vector<uint8_t> kOtherVersion(2900, 0x4F);
OlderImages SeedOtherVersionWaiting(FakePlatform& fp) {
  OlderImages older = SeedLoadedOlder(fp);
  fp.files.files[kKestruneNew].bytes = kOtherVersion;
  EXPECT_TRUE(fp.files.ReplaceAtRestart(kKestruneNew, kKestruneFile));
  fp.SettleOnDisk();
  fp.calls.clear();
  fp.faults = fake::FaultPlan();
  older.emplace(kKestruneFile, kOtherVersion);
  return older;
}

TEST(LoadedFilter, AnUpgradeReplacesTheImagesAtTheRestart) {
  FakePlatform fp;
  OlderImages older = SeedLoadedOlder(fp);
  TraceCapture trace(fp);
  fp.boxes.defaultAnswer = kNo;
  EXPECT_TRUE(InstallKestrune(true));
  EXPECT_EQ(trace.Lines(),
            Join({InUseCopyLines(kKestruneFile), InUseCopyLines(kMorvellinFile),
                  KestruneRegistration("Kestrune server exists, Re-update register inforamtiom!"),
                  MorvellinRegistration("Morvellin server exists!")}));
  ASSERT_EQ(fp.boxes.shown.size(), 1u) << "the restart question follows";
  EXPECT_EQ(fp.boxes.shown[0].text, kInstalledQuestion);
  // Until the restart the old images stay, listed and whole.
  EXPECT_EQ(fp.files.files[kKestruneFile].bytes, older.find(kKestruneFile)->second);
  EXPECT_EQ(fp.files.files[kKestruneNew].bytes, fp.resources.images[104]);
  ExpectSafeState(fp, "upgrade waiting", older);
  fp.Restart();
  EXPECT_EQ(fp.files.files[kKestruneFile].bytes, fp.resources.images[104]);
  EXPECT_EQ(fp.files.files[kMorvellinFile].bytes, fp.resources.images[105]);
  EXPECT_EQ(StrayFiles(fp), std::vector<std::string>{});
  EXPECT_TRUE(PendingValue(fp).empty());
  EXPECT_EQ(fp.services.running.size(), 2u);
  ExpectInstalled(fp);
}

TEST(LoadedFilter, InstallingAgainBeforeTheRestartRewritesNothing) {
  FakePlatform fp;
  SeedUpgradeWaiting(fp);
  const std::vector<uint8_t> requests = PendingValue(fp);
  TraceCapture trace(fp);
  EXPECT_TRUE(InstallKestrune(false));
  Lines lines = trace.Lines();
  lines.resize(6);
  EXPECT_EQ(lines, Join({WaitingCopyLines(kKestruneFile), WaitingCopyLines(kMorvellinFile)}));
  for (const char* call : {"WriteFile", "MoveFileExA", "DeleteFileA"}) {
    EXPECT_EQ(CallCount(fp, call), 0u) << call;
  }
  EXPECT_EQ(PendingValue(fp), requests) << "no request added";
  fp.Restart();
  EXPECT_EQ(fp.files.files[kKestruneFile].bytes, fp.resources.images[104]);
  ExpectInstalled(fp);
}

// Another version's image waits under the first name: a power cut while that
// file were rewritten would leave a partial image to be moved over the
// listed one. The new image takes a name of its own, its request follows.
TEST(LoadedFilter, AnotherVersionWaitingIsFollowedNotRewritten) {
  FakePlatform fp;
  OlderImages older = SeedOtherVersionWaiting(fp);
  TraceCapture trace(fp);
  EXPECT_TRUE(InstallKestrune(false));
  EXPECT_EQ(fp.files.files[kKestruneNew].bytes, kOtherVersion);
  EXPECT_EQ(fp.files.files[kKestruneNew1].bytes, fp.resources.images[104]);
  Lines lines = trace.Lines();
  EXPECT_EQ(lines[2], "Copyfile: " + kKestruneFile + " in use, replaced at restart");
  ExpectSafeState(fp, "another version waiting", older);
  fp.Restart();
  EXPECT_EQ(fp.files.files[kKestruneFile].bytes, fp.resources.images[104]);
  EXPECT_EQ(StrayFiles(fp), std::vector<std::string>{});
}

TEST(LoadedFilter, ARequestNamingTheImageIsAlwaysFollowed) {
  struct Row {
    const char* what;
    bool imagePresent;
    bool ok;
    bool carriedAfterRestart;
  } rows[] = {
      // An earlier uninstall requested the deletion, and its service removal failed.
      {"a deletion of the image waiting", true, true, true},
      {"a deletion of an image that is not there", false, false, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    FakePlatform fp;
    OlderImages older = SeedOlderInstalled(fp);  // not loaded: the image could be replaced now
    if (!r.imagePresent) fp.files.files.erase(kKestruneFile);
    ASSERT_TRUE(fp.files.DeleteAtRestart(kKestruneFile));
    fp.SettleOnDisk();
    TraceCapture trace(fp);
    EXPECT_EQ(InstallKestrune(false), r.ok);
    Lines lines = trace.Lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[2], r.ok ? "Copyfile: " + kKestruneFile + " in use, replaced at restart"
                             : "Copyfile: Failed to replace file!" + kKestruneFile);
    if (r.imagePresent) ExpectSafeState(fp, r.what, older);
    fp.Restart();
    EXPECT_EQ(fp.files.Has(kKestruneFile), r.carriedAfterRestart);
    if (r.carriedAfterRestart) EXPECT_EQ(fp.files.files[kKestruneFile].bytes, fp.resources.images[104]);
  }
}

// A request naming the image is left as it is only when it puts this very
// image in place at the restart: a replacing move, from a file holding these
// bytes, that no other request touches. Any other is followed by a request
// of this run's own, so the restart ends with this version either way.
TEST(LoadedFilter, OnlyARequestPuttingThisVeryImageInPlaceIsLeftAsItIs) {
  struct Row {
    const char* what;
    std::function<void(FakePlatform&)> arrange;
  } rows[] = {
      {"another image of the same length", [](FakePlatform& fp) {
         std::vector<uint8_t> bytes = fp.resources.images[104];
         bytes[bytes.size() / 2] ^= 0xFF;
         fp.files.files[kKestruneNew].bytes = bytes;
         ASSERT_TRUE(fp.files.ReplaceAtRestart(kKestruneNew, kKestruneFile));
       }},
      {"a longer file that starts with the image", [](FakePlatform& fp) {
         std::vector<uint8_t> bytes = fp.resources.images[104];
         bytes.push_back(0);
         fp.files.files[kKestruneNew].bytes = bytes;
         ASSERT_TRUE(fp.files.ReplaceAtRestart(kKestruneNew, kKestruneFile));
       }},
      {"a move that may not replace the image", [](FakePlatform& fp) {
         fp.files.files[kKestruneNew].bytes = fp.resources.images[104];
         fp.registry.SetMultiSz(kSessionManagerKey, kPendingRenamesValue,
                                {"\\??\\" + kKestruneNew, "\\??\\" + kKestruneFile});
       }},
      {"its source deleted first", [](FakePlatform& fp) {
         fp.files.files[kKestruneNew].bytes = fp.resources.images[104];
         ASSERT_TRUE(fp.files.DeleteAtRestart(kKestruneNew));
         ASSERT_TRUE(fp.files.ReplaceAtRestart(kKestruneNew, kKestruneFile));
       }},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    FakePlatform fp;
    SeedLoadedOlder(fp);
    r.arrange(fp);
    fp.SettleOnDisk();
    EXPECT_TRUE(InstallKestrune(false));
    fp.Restart();
    EXPECT_EQ(fp.files.files[kKestruneFile].bytes, fp.resources.images[104]);
    EXPECT_TRUE(PendingValue(fp).empty());
  }
}

// A driver file held with a sharing violation is in use as much as one
// refused outright: its replacement waits for the restart.
TEST(LoadedFilter, AnImageHeldWithASharingViolationIsReplacedAtTheRestart) {
  FakePlatform fp;
  SeedOlderInstalled(fp);
  fp.faults.Fail("MoveFileExA", win::kErrorSharingViolation, 1);
  TraceCapture trace(fp);
  EXPECT_TRUE(InstallKestrune(false));
  Lines lines = trace.Lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[2], "Copyfile: " + kKestruneFile + " in use, replaced at restart");
  fp.Restart();
  EXPECT_EQ(fp.files.files[kKestruneFile].bytes, fp.resources.images[104]);
}

// An NT machine installed with this version and restarted: both filters loaded.
OlderImages SeedLoaded(FakePlatform& fp) {
  SeedInstalled(fp);
  fp.Restart();
  EXPECT_EQ(fp.services.running.size(), 2u);
  fp.boxes.defaultAnswer = kYes;
  return {};
}

// The same after an uninstall: the removal waits for the restart.
OlderImages SeedRemovalWaiting(FakePlatform& fp) {
  SeedLoaded(fp);
  EXPECT_TRUE(UnInstallKestrune(false));
  fp.SettleOnDisk();
  fp.calls.clear();
  fp.faults = fake::FaultPlan();
  fp.windows.events.clear();
  return {};
}

TEST(LoadedFilter, AnUninstallFinishesAtTheRestart) {
  FakePlatform fp;
  SeedLoaded(fp);
  TraceCapture trace(fp);
  fp.boxes.defaultAnswer = kNo;
  EXPECT_TRUE(UnInstallKestrune(true));
  EXPECT_EQ(trace.Lines(), Join({{kKestruneFile},
                                 KestruneListRemoval(),
                                 {"DeleteFile: Kestrune.sys in use, deleted at restart"},
                                 MorvellinListRemoval(),
                                 {"DeleteFile: Morvellin.sys in use, deleted at restart"}}));
  ASSERT_EQ(fp.boxes.shown.size(), 1u) << "the restart question follows";
  EXPECT_EQ(fp.boxes.shown[0].text, kUninstalledQuestion);
  for (const auto& [key, others] : OtherEntries()) EXPECT_EQ(ListOf(fp, key), others) << key;
  EXPECT_TRUE(fp.services.services.at("Kestrune").markedForDeletion);
  EXPECT_TRUE(fp.services.services.at("Morvellin").markedForDeletion);
  ExpectSafeState(fp, "removal waiting");
  fp.SettleOnDisk();
  fp.Restart();
  EXPECT_TRUE(fp.files.files.empty());
  EXPECT_TRUE(fp.services.services.empty());
  EXPECT_TRUE(PendingValue(fp).empty());
}

// Before the restart a second uninstall finds the services marked and the
// deletions requested: it counts them as done and requests nothing again.
TEST(LoadedFilter, ASecondUninstallBeforeTheRestartRequestsNothingAgain) {
  FakePlatform fp;
  SeedRemovalWaiting(fp);
  const std::vector<uint8_t> requests = PendingValue(fp);
  TraceCapture trace(fp);
  EXPECT_TRUE(UnInstallKestrune(false));
  Lines lines = trace.Lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "DeleteFile: Kestrune.sys in use, deleted at restart"), 1);
  EXPECT_EQ(PendingValue(fp), requests);
  EXPECT_EQ(CallCount(fp, "MoveFileExA"), 0u);
}

// A driver file counts as gone only when nothing brings it back at the
// restart: a request that would move a file onto it, or leave it where it
// is, is followed by a deletion of this run's own; a file that stays for
// another reason than use is no removal at all.
TEST(UnInstallKestrune, AFileIsGoneOnlyWhenNoRequestBringsItBack) {
  const std::string elsewhere = "C:\\Temp\\Kestrune.tmp";
  struct Row {
    const char* what;
    std::function<void(FakePlatform&)> arrange;
    bool result;
    bool requested;  // a deletion at the restart was asked for, granted or not
  } rows[] = {
      {"deleted now, a request brings an image back", [&](FakePlatform& fp) {
         SeedInstalled(fp);
         fp.files.files[elsewhere].bytes = fp.resources.images[104];
         ASSERT_TRUE(fp.files.ReplaceAtRestart(elsewhere, kKestruneFile));
       }, true, true},
      {"deleted now, a request brings an image back, no deletion can be requested",
       [&](FakePlatform& fp) {
         SeedInstalled(fp);
         fp.files.files[elsewhere].bytes = fp.resources.images[104];
         ASSERT_TRUE(fp.files.ReplaceAtRestart(elsewhere, kKestruneFile));
         fp.SettleOnDisk();
         fp.faults.Fail("MoveFileExA", 5);
       }, false, true},
      {"in use, a request moving it onto itself", [](FakePlatform& fp) {
         SeedLoaded(fp);
         ASSERT_TRUE(fp.files.ReplaceAtRestart(kKestruneFile, kKestruneFile));
       }, true, true},
      {"refused for another reason than use", [](FakePlatform& fp) {
         SeedInstalled(fp);
         fp.faults.Fail("DeleteFileA", 19, 1);
       }, false, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    FakePlatform fp;
    r.arrange(fp);
    fp.SettleOnDisk();
    fp.calls.clear();
    EXPECT_EQ(UnInstallKestrune(false), r.result);
    EXPECT_EQ(CallCount(fp, "MoveFileExA") != 0, r.requested);
    ExpectSafeState(fp, r.what);
    if (!r.result) continue;
    fp.SettleOnDisk();
    fp.Restart();
    EXPECT_FALSE(fp.files.Has(kKestruneFile));
  }
}

// With neither a service nor a list of ours, the file there is not known
// to be ours to delete: it stays, and the uninstall does not call it gone.
TEST(UnInstallKestrune, AnImageOfNoServiceOrListIsNotCalledGone) {
  FakePlatform fp;
  SeedNtMachine(fp, false);
  fp.files.files[kKestruneFile].bytes = fp.resources.images[104];
  EXPECT_FALSE(UnInstallKestrune(false));
  EXPECT_TRUE(fp.files.Has(kKestruneFile));
  EXPECT_EQ(CallCount(fp, "MoveFileExA"), 0u);
}

TEST(LoadedFilter, AnInstallIsRefusedWhileAServiceAwaitsDeletion) {
  const std::string refused =
      "Failed to install Kestrune: the Kestrune service awaits deletion, Windows must restart first!";
  const std::string box =
      "The Kestrune drivers were uninstalled, and Windows must restart before they can be installed "
      "again.\nNothing was changed.";
  for (bool interactive : {true, false}) {
    SCOPED_TRACE(interactive);
    FakePlatform fp;
    SeedRemovalWaiting(fp);
    std::string before = MachineState(fp);
    const std::vector<uint8_t> requests = PendingValue(fp);
    TraceCapture trace(fp);
    EXPECT_FALSE(InstallKestrune(interactive));
    Lines expected{refused};
    if (!interactive) expected.push_back(box);
    EXPECT_EQ(trace.Lines(), expected);
    ASSERT_EQ(fp.boxes.shown.size(), interactive ? 1u : 0u);
    if (interactive) {
      EXPECT_EQ(fp.boxes.shown[0].text, box);
      EXPECT_EQ(fp.boxes.shown[0].flags, 16u);
    }
    EXPECT_EQ(MachineState(fp), before) << "nothing written, the image kept as it is";
    EXPECT_EQ(PendingValue(fp), requests);
    for (const std::string& call : fp.calls) EXPECT_EQ(kChangingCalls.count(call), 0u) << call;
    fp.Restart();
    EXPECT_TRUE(fp.files.files.empty());
  }
  // The mark of Morvellin alone refuses it too, naming that service.
  FakePlatform fp;
  SeedLoaded(fp);
  fp.services.services["Morvellin"].markedForDeletion = true;
  TraceCapture trace(fp);
  EXPECT_FALSE(InstallKestrune(false));
  EXPECT_EQ(trace.Lines().front(),
            "Failed to install Kestrune: the Morvellin service awaits deletion, Windows must "
            "restart first!");
}

// The uninstall of an upgrade still waiting for the restart: the request that
// would put the new image in place must not bring an image back.
TEST(LoadedFilter, AnUninstallAfterAnUpgradeWaitingLeavesNoImage) {
  for (bool loaded : {true, false}) {
    SCOPED_TRACE(loaded);
    FakePlatform fp;
    SeedUpgradeWaiting(fp);
    if (!loaded) {  // the file could be deleted now, the request is still there
      fp.services.running.clear();
      fp.files.locked.clear();
      fp.files.files[kKestruneFile.substr(0, kKestruneFile.size() - 3) + "~n1"].bytes = {7};
      ASSERT_TRUE(fp.files.ReplaceAtRestart(kSysDir + "\\Drivers\\Kestrune.~n1", kKestruneFile));
    }
    EXPECT_TRUE(UnInstallKestrune(false));
    ExpectSafeState(fp, "uninstalled");
    fp.SettleOnDisk();
    fp.Restart();
    EXPECT_TRUE(fp.files.files.empty()) << ::testing::PrintToString(StrayFiles(fp));
  }
}

// The whole life of the running filter, each step judged after a restart.
TEST(LoadedFilter, InstallUpgradeUninstallRefusedInstallRestart) {
  FakePlatform fp;
  OlderImages older = SeedLoadedOlder(fp);
  ASSERT_TRUE(InstallKestrune(false));  // the upgrade waits for the restart
  fp.SettleOnDisk();
  fp.Restart();
  EXPECT_EQ(fp.files.files[kKestruneFile].bytes, fp.resources.images[104]);
  EXPECT_EQ(fp.services.running.size(), 2u);
  ASSERT_TRUE(UnInstallKestrune(false));
  EXPECT_FALSE(InstallKestrune(false)) << "refused until the restart";
  ExpectSafeState(fp, "removal waiting");
  fp.SettleOnDisk();
  fp.Restart();
  EXPECT_TRUE(fp.files.files.empty());
  EXPECT_TRUE(fp.services.services.empty());
  EXPECT_TRUE(InstallKestrune(false)) << "after the restart it installs again";
  ExpectInstalled(fp);
}

TEST(LoadedFilter, NamesForTheNewImageRunOutAfterFourVersionsWaiting) {
  FakePlatform fp;
  SeedLoadedOlder(fp);
  for (const char* ext : {".~nw", ".~n1", ".~n2", ".~n3"}) {
    const std::string name = kSysDir + "\\Drivers\\Kestrune" + ext;
    fp.files.files[name].bytes = kOtherVersion;
    ASSERT_TRUE(fp.files.ReplaceAtRestart(name, kKestruneFile));
  }
  TraceCapture trace(fp);
  EXPECT_FALSE(InstallKestrune(false));
  EXPECT_EQ(trace.Lines(), (Lines{"Copy driver to: " + kKestruneFile,
                                  "Copyfile: Failed to replace file!" + kKestruneFile,
                                  "===== Copyfile ===========",
                                  "Faile to copy driver to system directory!"}));
}

// ---- One run at a time ----------------------------------------------------------------------

const std::string kLockName = "Global\\KestruneInstallTools";
const std::string kPlainLockName = "KestruneInstallTools";  // the 9x family's
const std::string kBusy =
    "Another installation or removal of the Kestrune drivers is running.\n"
    "Nothing was changed; try again when it has ended.";
const std::string kLockFailed =
    "Other installations and removals of the Kestrune drivers cannot be held off now.\n"
    "Nothing was changed.";
const Lines kWaitLines{"Another Kestrune installation or removal is running, waiting up to 60 s",
                       "The other Kestrune installation or removal has ended"};

// A second run waits for the first, up to 60 s; one killed while holding the
// machine leaves a safe state, so the wait ends there too. A run that does
// not get the machine changes nothing.
TEST(OneRunAtATime, ASecondRunWaitsBoundedly) {
  struct Row {
    const char* what;
    bool uninstall;
    std::function<void(FakePlatform&)> arrange;
    bool result;
    uint32_t waitedMs;
    Lines firstLines;
  } rows[] = {
      {"install, the other run ends after 20 s", false,
       [](FakePlatform& fp) { fp.mutexes.HeldByAnother(kLockName, 20000); }, true, 20000, kWaitLines},
      {"uninstall, the other run ends after 20 s", true,
       [](FakePlatform& fp) { fp.mutexes.HeldByAnother(kLockName, 20000); }, true, 20000 + 2000,
       kWaitLines},
      {"install, the other run is killed after 3 s", false,
       [](FakePlatform& fp) { fp.mutexes.HeldByAnother(kLockName, 3000, true); }, true, 3000,
       kWaitLines},
      {"install, the other run outlasts the wait", false,
       [](FakePlatform& fp) { fp.mutexes.HeldByAnother(kLockName, 90000); }, false, 60000,
       {kWaitLines[0],
        "Failed to wait for the other Kestrune installation or removal: still running after 60 s!",
        kBusy}},
      {"uninstall, the other run outlasts the wait", true,
       [](FakePlatform& fp) { fp.mutexes.HeldByAnother(kLockName); }, false, 60000,
       {kWaitLines[0],
        "Failed to wait for the other Kestrune installation or removal: still running after 60 s!",
        kBusy}},
      // Run without the rights to open the administrators' lock, while one holds it.
      {"install, the lock held out of reach", false,
       [](FakePlatform& fp) {
         fp.mutexes.privileged = false;
         fp.mutexes.HeldByAnother(kLockName);
       },
       false, 0, {kBusy}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    FakePlatform fp;
    if (r.uninstall) {
      SeedInstalled(fp);
    } else {
      SeedNtMachine(fp);
    }
    r.arrange(fp);
    std::string before = MachineState(fp);
    TraceCapture trace(fp);
    EXPECT_EQ(r.uninstall ? UnInstallKestrune(false) : InstallKestrune(false), r.result);
    EXPECT_EQ(fp.sleep.ticks, r.waitedMs);
    Lines lines = trace.Lines();
    ASSERT_GE(lines.size(), r.firstLines.size());
    EXPECT_EQ(Lines(lines.begin(), lines.begin() + long(r.firstLines.size())), r.firstLines);
    if (!r.result) {
      EXPECT_EQ(lines.size(), r.firstLines.size());
      EXPECT_EQ(MachineState(fp), before);
      for (const std::string& call : fp.calls) EXPECT_EQ(kChangingCalls.count(call), 0u) << call;
    } else if (r.uninstall) {
      ExpectTrueMeansRemoved(fp, true, r.what);
    } else {
      ExpectInstalled(fp);
    }
    EXPECT_FALSE(fp.mutexes.OwnsAny());
    ExpectSafeState(fp, r.what);
  }
}

// Every change is made while the machine is held, from the window's Execute
// as from the command line (both reach these two procedures), and the
// machine is given up before the restart question, which a person may leave
// open for long.
TEST(OneRunAtATime, EveryChangeIsMadeHoldingTheMachineAndNoQuestionIsAsked) {
  struct Row {
    const char* what;
    bool nt;
    bool uninstall;
  } rows[] = {{"NT install", true, false},
              {"NT uninstall", true, true},
              {"9x install", false, false},
              {"9x uninstall", false, true}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    FakePlatform fp;
    if (r.nt) {
      r.uninstall ? SeedInstalled(fp) : SeedNtMachine(fp);
    } else {
      SeedNineXOlder(fp);
    }
    int changes = 0;
    fp.beforeCall = [&](const std::string& call) {
      if (!kChangingCalls.count(call)) return;
      ++changes;
      EXPECT_TRUE(fp.mutexes.OwnedByThisProcess(r.nt ? kLockName : kPlainLockName)) << call;
    };
    int questions = 0;
    fp.boxes.onShow = [&](const fake::ShownBox&) {
      ++questions;
      EXPECT_FALSE(fp.mutexes.OwnsAny()) << "held during the restart question";
    };
    EXPECT_TRUE(r.uninstall ? UnInstallKestrune(true) : InstallKestrune(true));
    EXPECT_GT(changes, 0);
    EXPECT_EQ(questions, 1);
    EXPECT_FALSE(fp.mutexes.OwnsAny());
    EXPECT_EQ(fp.OpenHandles(), 0);
  }
}

// A failure raised inside a procedure (an exhausted resource) ends it, and
// the machine is given up all the same: the window stays open after it.
TEST(OneRunAtATime, AFailureRaisedInsideGivesTheMachineUp) {
  FakePlatform fp;
  SeedNtMachine(fp);
  fp.beforeCall = [](const std::string& call) {
    if (call == "CreateServiceA") throw std::runtime_error("exhausted");
  };
  EXPECT_THROW(InstallKestrune(true), std::runtime_error);
  EXPECT_FALSE(fp.mutexes.OwnsAny());
}

// ---- Quiet mode: no box on any failure path ------------------------------------------------

struct BoxedFailure {
  const char* what;
  std::function<void(FakePlatform&)> arrange;
  std::function<bool(bool interactive)> procedure;
  Lines boxTexts;  // the failure boxes an interactive run shows, in order
};

// Runs the procedure and returns its result, its trace lines and, for each
// box shown, the number of trace lines written before it.
struct BoxedRun {
  bool result = false;
  Lines lines;
  std::vector<size_t> boxedAfter;
  std::vector<fake::ShownBox> boxes;
};

BoxedRun RunBoxed(const BoxedFailure& f, bool interactive) {
  FakePlatform fp;
  f.arrange(fp);
  TraceCapture trace(fp);
  BoxedRun run;
  fp.boxes.onShow = [&](const fake::ShownBox&) { run.boxedAfter.push_back(trace.Lines().size()); };
  run.result = f.procedure(interactive);
  run.lines = trace.Lines();
  run.boxes = fp.boxes.shown;
  return run;
}

// A quiet run (a deployment agent, a service account) shows no box at all:
// each failure box of an interactive run becomes a trace line of the same
// text at the same place, and the result does not change.
TEST(QuietMode, EveryFailureBoxBecomesATraceLine) {
  const std::string copyFailed = "Faile to copy driver to system directory!";
  auto install = [](bool interactive) { return InstallKestrune(interactive); };
  auto uninstall = [](bool interactive) { return UnInstallKestrune(interactive); };
  auto holdForever = [](FakePlatform& fp) {
    fp.mutexes.HeldByAnother(fp.system.platformId == win::kVerPlatformWin32Nt ? kLockName
                                                                             : kPlainLockName);
  };
  auto noLock = [](FakePlatform& fp) { fp.faults.Fail("CreateMutexA", 1450); };
  auto nt = [](std::function<void(FakePlatform&)> more) {
    return [more](FakePlatform& fp) {
      SeedNtMachine(fp);
      more(fp);
    };
  };
  auto nineX = [](std::function<void(FakePlatform&)> more) {
    return [more](FakePlatform& fp) {
      SeedNineXOlder(fp);
      more(fp);
    };
  };
  const BoxedFailure rows[] = {
      {"temporary file cannot be created", nt([](FakePlatform& fp) { fp.faults.Fail("CreateFileA", 5); }),
       install, {copyFailed}},
      {"image resource missing", nt([](FakePlatform& fp) { fp.resources.images.erase(105); }),
       install, {copyFailed}},
      {"image resource cannot be locked", nt([](FakePlatform& fp) { fp.faults.Fail("LockResource", 8); }),
       install, {copyFailed}},
      {"short write", nt([](FakePlatform& fp) { fp.files.writeLimit = 100; }), install, {copyFailed}},
      {"write refused", nt([](FakePlatform& fp) { fp.faults.Fail("WriteFile", 112); }), install,
       {copyFailed}},
      {"flush refused", nt([](FakePlatform& fp) { fp.faults.Fail("FlushFileBuffers", 1117); }),
       install, {copyFailed}},
      {"image held by the loaded filter, no replacement at the restart",
       nt([](FakePlatform& fp) {
         fp.files.files[kKestruneFile].bytes = {1};
         fp.files.locked.insert(kKestruneFile);
         fp.faults.Fail("MoveFileExA", 5, 2);
       }),
       install, {copyFailed}},
      {"no system directory", nt([](FakePlatform& fp) { fp.files.systemDirectory.clear(); }),
       install, {copyFailed}},
      {"system directory too long",
       nt([](FakePlatform& fp) { fp.files.systemDirectory = "C:\\" + std::string(250, 'd'); }),
       install, {copyFailed}},
      {"9x, old VxD in use", nineX([](FakePlatform& fp) { fp.files.locked.insert(kVxdFile); }),
       install, {copyFailed}},
      {"refused under WOW64", nt([](FakePlatform& fp) { fp.system.wow64 = true; }), install,
       {"The Kestrune drivers are for 32-bit Windows only!"}},
      {"install while another run holds the machine", nt(holdForever), install, {kBusy}},
      {"uninstall while another run holds the machine", nt(holdForever), uninstall, {kBusy}},
      {"9x uninstall while another run holds the machine", nineX(holdForever), uninstall, {kBusy}},
      {"install without the lock", nt(noLock), install, {kLockFailed}},
      {"uninstall without the lock", nt(noLock), uninstall, {kLockFailed}},
      {"install while a service awaits deletion",
       [](FakePlatform& fp) { SeedRemovalWaiting(fp); }, install,
       {"The Kestrune drivers were uninstalled, and Windows must restart before they can be "
        "installed again.\nNothing was changed."}},
  };
  for (const BoxedFailure& f : rows) {
    SCOPED_TRACE(f.what);
    BoxedRun shown = RunBoxed(f, true);
    BoxedRun quiet = RunBoxed(f, false);
    EXPECT_TRUE(quiet.boxes.empty());
    EXPECT_EQ(quiet.result, shown.result);
    EXPECT_FALSE(quiet.result);
    ASSERT_EQ(shown.boxes.size(), f.boxTexts.size());
    Lines expected = shown.lines;
    for (size_t i = shown.boxes.size(); i-- > 0;) {
      EXPECT_EQ(shown.boxes[i].text, f.boxTexts[i]);
      EXPECT_EQ(shown.boxes[i].caption, "SCSI SRB Command Filters");
      EXPECT_EQ(shown.boxes[i].flags, 16u);
      expected.insert(expected.begin() + long(shown.boxedAfter[i]), f.boxTexts[i]);
    }
    EXPECT_EQ(quiet.lines, expected);
    for (const std::string& text : f.boxTexts) {
      EXPECT_EQ(std::count(shown.lines.begin(), shown.lines.end(), text), 0)
          << "an interactive run traces what it traced before";
    }
  }
}

// ---- Uninstall failures ----------------------------------------------------------------

TEST(UnInstallKestrune, NineXTraceWhenVxdStays) {
  FakePlatform fp;
  TraceCapture trace(fp);
  fp.system.platformId = win::kVerPlatformWin32Windows;
  fp.files.files[kVxdFile];
  fp.files.locked.insert(kVxdFile);
  EXPECT_FALSE(UnInstallKestrune(false));
  EXPECT_EQ(trace.Lines(),
            (Lines{"===== UnInstallKestrune9X ===========", "Delete driver to: " + kVxdFile}));
  EXPECT_EQ(fp.shutdown.exitRequests.size(), 1u);
}

TEST(UnInstallKestrune, FailedListRewriteKeepsServiceAndFile) {
  FakePlatform fp;
  TraceCapture trace(fp);
  SeedInstalled(fp);
  fp.faults.Fail("RegSetValueExA", 5, 1);  // the SCSI adapter class list stays as it was
  EXPECT_FALSE(UnInstallKestrune(true));
  Lines lines = trace.Lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "Kestrune still listed in LowerFilters, service and Kestrune.sys kept!"),
            lines.end());
  EXPECT_EQ(ListOf(fp, kAdapterClass), (Entries{"Kestrune", "atapiflt", "SCSIFLT2"}));
  EXPECT_EQ(ListOf(fp, kIdeClass), (Entries{"ideguard"}));
  EXPECT_EQ(fp.services.services.count("Kestrune"), 1u);
  EXPECT_TRUE(fp.files.Has(kKestruneFile));
  EXPECT_FALSE(fp.files.Has(kMorvellinFile)) << "the second half still runs";
  EXPECT_TRUE(fp.boxes.shown.empty());
  ExpectSafeState(fp, "failed rewrite");
}

TEST(UnInstallKestrune, LoadedDriverFileIsDeletedAtTheRestart) {
  FakePlatform fp;
  TraceCapture trace(fp);
  SeedInstalled(fp);
  fp.LoadFilter("Kestrune");
  EXPECT_TRUE(UnInstallKestruneNT());
  EXPECT_EQ(trace.Lines(), Join({{kKestruneFile},
                                 KestruneListRemoval(),
                                 {"DeleteFile: Kestrune.sys in use, deleted at restart"},
                                 MorvellinListRemoval(),
                                 {"DeleteFile: Morvellin.sys success!"}}));
  EXPECT_EQ(fp.sleep.sleeps, (std::vector<uint32_t>{2000}));
  EXPECT_TRUE(fp.files.Has(kKestruneFile)) << "held until the restart";
  EXPECT_TRUE(fp.services.services.at("Kestrune").markedForDeletion);
  ExpectSafeState(fp, "loaded driver");
  fp.SettleOnDisk();  // Windows shuts down in order
  fp.Restart();
  EXPECT_TRUE(fp.files.files.empty());
  EXPECT_TRUE(fp.services.services.empty());
  for (const auto& [key, others] : OtherEntries()) EXPECT_EQ(ListOf(fp, key), others) << key;
}

// ---- What reaches the disk first ---------------------------------------------------------

// A flush that fails leaves the order unproven: the install lists no driver
// whose service may not be on the disk, the uninstall keeps the service and
// file of a driver whose cleared lists may not be.
TEST(Durability, AFailedFlushKeepsWhatAPowerCutCouldOrphan) {
  struct Row {
    const char* what;
    bool installed;
    int failingFlush;  // the n-th RegFlushKey fails
    std::function<bool()> procedure;
    Lines lines;  // in the trace, in this order
  } rows[] = {
      {"install, Kestrune's service key", false, 1, [] { return InstallKestrune(false); },
       {"Failed to RegFlushKey SYSTEM\\CurrentControlSet\\Services\\Kestrune",
        "Failed to install Kestrune service!", "InstallMorvellinNT"}},
      {"install, Kestrune's first class key", false, 2, [] { return InstallKestrune(false); },
       {"Failed to RegFlushKey " + kAdapterClass, kKestrune.texts.listFailed, "InstallMorvellinNT"}},
      {"uninstall, Kestrune's second class key", true, 2, [] { return UnInstallKestrune(false); },
       {"Failed to RegFlushKey " + kIdeClass,
        "Kestrune LowerFilters not on the disk, service and Kestrune.sys kept!",
        "DelLowerFilter MORVELLIN_REG_KEY_CDVDROM"}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    FakePlatform fp;
    if (r.installed) {
      SeedInstalled(fp);
    } else {
      SeedNtMachine(fp);
    }
    fp.faults.Fail("RegFlushKey", 1016, r.failingFlush);
    TraceCapture trace(fp);
    EXPECT_FALSE(r.procedure());
    Lines lines = trace.Lines();
    auto at = std::search(lines.begin(), lines.end(), r.lines.begin(), r.lines.end());
    EXPECT_NE(at, lines.end()) << ::testing::PrintToString(lines);
    EXPECT_EQ(fp.services.services.count("Kestrune"), 1u);
    EXPECT_TRUE(fp.files.Has(kKestruneFile));
    ExpectSafeState(fp, r.what);
    ExpectSafeAfterPowerCut(fp, r.what);
  }
}

// A registration that fails deletes the image it wrote only once no list
// names the driver on the disk either: an earlier run that cleared the lists
// and stopped before flushing them must not have them come back, after a
// power cut, naming a deleted file.
TEST(Durability, AnAbandonedImageGoesOnlyAfterTheClearedListsAreFlushed) {
  FakePlatform fp;
  SeedInstalled(fp);
  for (const ClassList& list : kKestrune.lists) ASSERT_TRUE(DelLowerFilter("Kestrune", list.key));
  fp.faults.Fail("OpenSCManagerA", 5);
  EXPECT_FALSE(InstallKestrune(false));
  EXPECT_FALSE(fp.files.Has(kKestruneFile)) << "the image no list names is deleted";
  EXPECT_TRUE(fp.files.Has(kMorvellinFile)) << "the image its lists name is kept";
  ExpectSafeState(fp, "abandoned");
  ExpectSafeAfterPowerCut(fp, "abandoned");
}

// The order that makes every disk safe, as the calls show it: a service's key
// is flushed before a list names the driver, a cleared list before the
// service and the file go.
TEST(Durability, FlushesComeBeforeWhatTheyProtect) {
  auto keyOps = [](FakePlatform& fp, const std::function<bool()>& procedure) {
    size_t first = fp.calls.size();
    procedure();
    Lines ops;
    for (size_t i = first; i < fp.calls.size(); ++i) {
      const std::string& c = fp.calls[i];
      if (c == "RegFlushKey" || c == "RegSetValueExA" || c == "RegDeleteValueA" ||
          c == "DeleteService" || c == "DeleteFileA" || c == "CreateServiceA") {
        ops.push_back(c);
      }
    }
    return ops;
  };
  FakePlatform fp;
  SeedNtMachine(fp);
  EXPECT_EQ(keyOps(fp, [] { return InstallKestrune(false); }),
            (Lines{"CreateServiceA", "RegFlushKey", "RegSetValueExA", "RegSetValueExA",
                   "RegFlushKey", "RegFlushKey", "CreateServiceA", "RegFlushKey",
                   "RegSetValueExA", "RegFlushKey"}));
  EXPECT_EQ(keyOps(fp, [] { return UnInstallKestrune(false); }),
            (Lines{"RegSetValueExA", "RegSetValueExA", "RegFlushKey", "RegFlushKey",
                   "DeleteService", "DeleteFileA", "RegSetValueExA", "RegFlushKey",
                   "DeleteService", "DeleteFileA"}));
}

// A stopped copy can leave its new image (and on the 9x family the old one
// set aside) beside the image; the uninstall removes them, read-only or not,
// and traces one it cannot delete.
TEST(UnInstallKestrune, RemovesFilesOfOurOwnLeftByAStoppedCopy) {
  const std::string ntNew = kSysDir + "\\Drivers\\Kestrune.~nw";
  const std::string ntOld = kSysDir + "\\Drivers\\Morvellin.~ol";
  const std::string vxdNew = kSysDir + "\\Iosubsys\\Kestrune.~nw";
  const std::string vxdOld = kSysDir + "\\Iosubsys\\Kestrune.~ol";
  struct Row {
    const char* what;
    bool nt;
    std::vector<std::string> leftovers;
    std::function<void(FakePlatform&)> arrange;
    bool result;
    Lines expectedLines;  // in the trace, in this order
  } rows[] = {
      {"NT, both kinds", true, {ntNew, ntOld}, [](FakePlatform&) {}, true,
       {"DeleteFile: Kestrune.~nw success!", "DeleteFile: Morvellin.~ol success!"}},
      {"NT, read-only", true, {ntNew}, [&](FakePlatform& fp) {
         fp.files.files[ntNew].attributes = win::kFileAttributeReadOnly;
       }, true, {"DeleteFile: Kestrune.~nw success!"}},
      {"NT, one that cannot be deleted", true, {ntNew},
       [&](FakePlatform& fp) { fp.files.locked.insert(ntNew); }, true,
       {"Failed to DeleteFile " + ntNew + "\nError Code: 5 Message 5.\r\n"}},
      {"9x, both kinds", false, {vxdNew, vxdOld}, [](FakePlatform&) {}, true,
       {"DeleteFile: Kestrune.~nw success!", "DeleteFile: Kestrune.~ol success!"}},
      {"9x, read-only old VxD set aside, no VxD", false, {vxdOld}, [&](FakePlatform& fp) {
         fp.files.files.erase(kVxdFile);
         fp.files.files[vxdOld].attributes = win::kFileAttributeReadOnly;
       }, true, {"DeleteFile: Kestrune.~ol success!"}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    FakePlatform fp;
    if (r.nt) {
      SeedInstalled(fp);
    } else {
      SeedNineXOlder(fp);
    }
    for (const std::string& file : r.leftovers) fp.files.files[file].bytes = {1, 2};
    r.arrange(fp);
    TraceCapture trace(fp);
    EXPECT_EQ(UnInstallKestrune(false), r.result);
    Lines lines = trace.Lines();
    Lines found;
    for (const std::string& l : lines) {
      if (std::find(r.expectedLines.begin(), r.expectedLines.end(), l) != r.expectedLines.end()) {
        found.push_back(l);
      }
    }
    EXPECT_EQ(found, r.expectedLines);
    for (const std::string& file : r.leftovers) {
      EXPECT_EQ(fp.files.Has(file), fp.files.locked.count(file) == 1) << file;
    }
    EXPECT_TRUE(fp.shutdown.exitRequests.empty());
  }
}

TEST(UnInstallKestrune, ReadOnlyImagesAreDeleted) {
  for (bool nt : {true, false}) {
    SCOPED_TRACE(nt);
    FakePlatform fp;
    if (nt) {
      SeedInstalled(fp);
    } else {
      SeedNineXOlder(fp);
    }
    for (auto& [path, data] : fp.files.files) data.attributes |= win::kFileAttributeReadOnly;
    EXPECT_TRUE(UnInstallKestrune(false));
    EXPECT_TRUE(fp.files.files.empty());
    EXPECT_TRUE(fp.shutdown.exitRequests.empty()) << "no restart for a VxD that stays";
  }
}

// A failure raised inside one half is absorbed; the pause and the other half run.
TEST(UnInstallKestruneNT, AbsorbsExceptionInEitherHalf) {
  struct Row {
    const char* what;
    const char* call;  // its first or second occurrence throws
    int occurrence;
    bool throwsInt;
    bool kestruneFileGone;
    bool morvellinFileGone;
  } rows[] = {
      {"first half, std::exception", "OpenSCManagerA", 1, false, false, true},
      {"first half, non-standard", "RegOpenKeyA", 1, true, false, true},
      {"second half, std::exception", "DeleteService", 2, false, true, false},
      {"second half, non-standard", "DeleteFileA", 2, true, true, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    FakePlatform fp;
    SeedInstalled(fp);
    int seen = 0;
    fp.beforeCall = [&](const std::string& call) {
      if (call != r.call || ++seen != r.occurrence) return;
      if (r.throwsInt) throw 42;
      throw std::runtime_error("exhausted");
    };
    EXPECT_FALSE(UnInstallKestruneNT());
    EXPECT_EQ(fp.sleep.sleeps, (std::vector<uint32_t>{2000}));
    EXPECT_EQ(!fp.files.Has(kKestruneFile), r.kestruneFileGone);
    EXPECT_EQ(!fp.files.Has(kMorvellinFile), r.morvellinFileGone);
    fp.beforeCall = nullptr;
    ExpectSafeState(fp, r.what);
  }
}

// ---- Every call failing in turn ---------------------------------------------------------

// Calls the fakes record without checking them against the fault plan.
const std::set<std::string> kUncheckedCalls = {
    "FindWindowA", "OutputDebugStringA", "SendMessageTimeoutA", "CloseServiceHandle",
    "RegCloseKey", "CloseHandle",        "FindFirstFileA", "FormatMessageA",
    "SizeofResource", "Sleep",           "MessageBoxA",    "GetTickCount"};

std::vector<std::string> CheckedCalls(const FakePlatform& fp) {
  std::vector<std::string> checked;
  for (const std::string& c : fp.calls) {
    if (!kUncheckedCalls.count(c)) checked.push_back(c);
  }
  return checked;
}

// Seeds a machine and names the older images it may hold (OlderImages).
using Seeder = std::function<OlderImages(FakePlatform&)>;
using Procedure = std::function<bool()>;
using Outcome = std::function<void(const FakePlatform&, bool result, const std::string&)>;

// Runs `procedure` once cleanly, then once for each call it makes with that
// call failing, checking the machine's state after every run.
void FailEveryCallInTurn(const Seeder& seed, const Procedure& procedure, const Outcome& outcome) {
  std::vector<std::string> clean;
  {
    FakePlatform fp;
    seed(fp);
    procedure();
    clean = CheckedCalls(fp);
    ASSERT_EQ(int(clean.size()), fp.faults.TotalChecked());
  }
  ASSERT_FALSE(clean.empty());
  for (size_t n = 1; n <= clean.size(); ++n) {
    FakePlatform fp;
    OlderImages older = seed(fp);
    fp.faults.FailCallNumber(int(n), 5);
    bool result = procedure();
    std::string context = "call " + std::to_string(n) + " " + clean[n - 1] + " failing";
    ExpectSafeState(fp, context, older);
    ExpectSafeAfterPowerCut(fp, context, older);
    outcome(fp, result, context);
  }
}

OlderImages SeedFreshForSweep(FakePlatform& fp) {
  SeedNtMachine(fp);
  fp.boxes.defaultAnswer = kYes;
  return {};
}

OlderImages SeedInstalledForSweep(FakePlatform& fp) {
  SeedInstalled(fp);
  fp.boxes.defaultAnswer = kYes;
  return {};
}

void ExpectTrueMeansInstalled(const FakePlatform& fp, bool result, const std::string& context) {
  if (!result) return;
  SCOPED_TRACE(context);
  ExpectInstalled(fp);
}

// True after an uninstall: no list names a driver of ours, and once Windows
// has started again no file of theirs is left.
void ExpectTrueMeansRemoved(const FakePlatform& fp, bool result, const std::string& context) {
  if (!result) return;
  for (const auto& [key, others] : OtherEntries()) EXPECT_EQ(ListOf(fp, key), others) << context;
  fake::MachineView restarted = fake::AfterRestart(fp.Live());
  EXPECT_EQ(restarted.files.count(kKestruneFile), 0u) << context;
  EXPECT_EQ(restarted.files.count(kMorvellinFile), 0u) << context;
}

TEST(FailureInjection, FirstInstall) {
  FailEveryCallInTurn(SeedFreshForSweep, [] { return InstallKestrune(true); },
                      ExpectTrueMeansInstalled);
}

TEST(FailureInjection, Reinstall) {
  FailEveryCallInTurn(SeedInstalledForSweep, [] { return InstallKestrune(true); },
                      ExpectTrueMeansInstalled);
}

TEST(FailureInjection, Uninstall) {
  FailEveryCallInTurn(SeedInstalledForSweep, [] { return UnInstallKestrune(true); },
                      ExpectTrueMeansRemoved);
}

TEST(FailureInjection, UninstallOfNothing) {
  FailEveryCallInTurn(SeedFreshForSweep, [] { return UnInstallKestrune(true); },
                      ExpectTrueMeansRemoved);
}

// True after an upgrade of the loaded filter: installed now, and the
// carried images in place once Windows has started again.
void ExpectTrueMeansUpgradedAtRestart(const FakePlatform& fp, bool result,
                                      const std::string& context) {
  if (!result) return;
  ExpectTrueMeansInstalled(fp, result, context);
  fake::MachineView restarted = fake::AfterRestart(fp.Live());
  EXPECT_EQ(restarted.files[kKestruneFile], fp.resources.images.at(104)) << context;
  EXPECT_EQ(restarted.files[kMorvellinFile], fp.resources.images.at(105)) << context;
}

TEST(FailureInjection, UninstallOfTheLoadedFilter) {
  FailEveryCallInTurn(SeedLoaded, [] { return UnInstallKestrune(true); }, ExpectTrueMeansRemoved);
}

TEST(FailureInjection, UninstallAfterAnUpgradeWaiting) {
  FailEveryCallInTurn(SeedUpgradeWaiting, [] { return UnInstallKestrune(true); },
                      ExpectTrueMeansRemoved);
}

TEST(FailureInjection, UpgradeOfTheLoadedFilter) {
  FailEveryCallInTurn(SeedLoadedOlder,
                      [] { return InstallKestrune(true); }, ExpectTrueMeansUpgradedAtRestart);
}

TEST(FailureInjection, InstallOfAnotherVersionBeforeTheRestart) {
  FailEveryCallInTurn(SeedOtherVersionWaiting,
                      [] { return InstallKestrune(true); }, ExpectTrueMeansUpgradedAtRestart);
}

// ---- A stop at any point --------------------------------------------------------------

// Everything a stop leaves on the machine: files, registry and services.
std::string MachineState(const FakePlatform& fp) {
  std::ostringstream out;
  for (const auto& [path, data] : fp.files.files) {
    out << "file " << path << " " << std::string(data.bytes.begin(), data.bytes.end()) << "\n";
  }
  for (const auto& [key, values] : fp.registry.keys) {
    for (const auto& [name, value] : values) {
      out << "value " << key << " " << name << " " << value.type << " "
          << std::string(value.bytes.begin(), value.bytes.end()) << "\n";
    }
  }
  for (const auto& [name, entry] : fp.services.services) {
    out << "service " << name << " " << entry.config.binaryPath << "\n";
  }
  return out.str();
}

using OlderSeeder = Seeder;

struct StopsChecked {
  int stops = 0;
  int disks = 0;  // the disks a power cut at each stop could leave
};

// Runs `procedure` once to count its calls, then again for every n from 0 to
// that count with the power cut after its n-th call: nothing after that call
// happens, not even clean-up. The machine must be in a safe state at every
// stop, exactly as the cut left it, and so must every disk the cut could
// leave.
StopsChecked StopAtEveryCall(const char* name, const OlderSeeder& seed, const Procedure& procedure) {
  int total = 0;
  {
    FakePlatform fp;
    seed(fp);
    int before = fp.CountedCalls();
    procedure();
    total = fp.CountedCalls() - before;
  }
  EXPECT_GT(total, 0);
  int disks = 0;
  for (int n = 0; n <= total; ++n) {
    FakePlatform fp;
    OlderImages older = seed(fp);
    std::string atCut;
    fp.CutPowerAfter(n, [&] { atCut = MachineState(fp); });
    try {
      procedure();
    } catch (const fake::PowerCut&) {
    }
    std::string context = std::string(name) + ", stopped after call " + std::to_string(n);
    EXPECT_EQ(fp.PowerWasCut(), n < total) << context;
    if (fp.PowerWasCut()) {
      EXPECT_EQ(MachineState(fp), atCut) << context << ": changed after the cut";
    }
    ExpectSafeState(fp, context, older);
    disks += ExpectSafeAfterPowerCut(fp, context, older);
  }
  std::cout << "[ stops    ] " << name << ": " << total + 1 << " stop points, " << disks
            << " disks after a power cut checked" << std::endl;
  return {total + 1, disks};
}

// A 9x machine; the NT class lists are seeded too, to show they stay untouched.
OlderImages SeedNineX(FakePlatform& fp) {
  SeedNtMachine(fp);
  fp.system.platformId = win::kVerPlatformWin32Windows;
  fp.boxes.defaultAnswer = kYes;
  return {};
}

OlderImages SeedNineXOlder(FakePlatform& fp) {
  SeedNineX(fp);
  OlderImages older{{kVxdFile, OlderImage(1300, 0x76)}};
  fp.files.files[kVxdFile].bytes = older.find(kVxdFile)->second;
  return older;
}

TEST(StopAtAnyPoint, EveryProcedureLeavesASafeMachine) {
  struct Scenario {
    const char* name;
    OlderSeeder seed;
    Procedure procedure;
  };
  auto fresh = SeedFreshForSweep;
  auto installed = SeedInstalledForSweep;
  auto older = [](FakePlatform& fp) {
    OlderImages images = SeedOlderInstalled(fp);
    fp.boxes.defaultAnswer = kYes;
    return images;
  };
  auto install = [] { return InstallKestrune(true); };
  auto uninstall = [] { return UnInstallKestrune(true); };
  const Scenario scenarios[] = {
      {"NT first install", fresh, install},
      {"NT re-install over the same images", installed, install},
      {"NT re-install over older images", older, install},
      {"NT uninstall", installed, uninstall},
      {"NT uninstall of nothing", fresh, uninstall},
      {"NT upgrade of the loaded filter", SeedLoadedOlder, install},
      {"NT install again before the restart", SeedUpgradeWaiting, install},
      {"NT install of another version before the restart", SeedOtherVersionWaiting, install},
      {"9x first install", SeedNineX, install},
      {"9x re-install over an older VxD", SeedNineXOlder, install},
      {"NT uninstall of the loaded filter", SeedLoaded, uninstall},
      {"NT uninstall after an upgrade waiting for the restart", SeedUpgradeWaiting, uninstall},
      {"NT second uninstall before the restart", SeedRemovalWaiting, uninstall},
      {"NT install while the services await deletion", SeedRemovalWaiting, install},
      {"9x uninstall", SeedNineXOlder, uninstall},
  };
  StopsChecked all;
  for (const Scenario& s : scenarios) {
    StopsChecked checked = StopAtEveryCall(s.name, s.seed, s.procedure);
    all.stops += checked.stops;
    all.disks += checked.disks;
  }
  std::cout << "[ stops    ] " << all.stops << " stop points, " << all.disks
            << " disks after a power cut checked in all" << std::endl;
}

}  // namespace
}  // namespace kst
