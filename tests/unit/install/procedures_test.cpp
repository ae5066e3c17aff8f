#include "install/procedures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <stdexcept>

#include "platform/fake/fake_platform.h"
#include "tests/unit/install/nt_machine.h"
#include "tests/unit/support/trace_capture.h"

namespace kst {
namespace {

using fake::FakePlatform;
using namespace kst::testing;
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

// An NT machine after a complete first installation, with fresh call
// records and fault plan.
void SeedInstalled(FakePlatform& fp) {
  SeedNtMachine(fp);
  ASSERT_TRUE(InstallKestrune(false));
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
  } rows[] = {
      {"NT yes", true, false, true, kYes, true, 1, 1},
      {"NT no", true, false, true, kNo, true, 1, 0},
      {"NT quiet", true, false, false, kYes, true, 0, 0},
      {"NT file kept", true, true, true, kYes, false, 0, 0},
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
      if (r.locked) fp.files.locked.insert(kKestruneFile);
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
  EXPECT_EQ(CallCount(fp, "OpenSCManagerA"), 0u);
  EXPECT_EQ(trace.Lines().back(), "===== Copyfile ===========");
  ExpectSafeState(fp, "deployment");
}

TEST(InstallKestrune, ReinstallWhoseCopyDeletesTheFileUnlistsTheDriver) {
  // Both creations refused after the delete between them went through: the
  // earlier installation's Kestrune.sys is gone while the lists name it.
  FakePlatform fp;
  SeedInstalled(fp);
  TraceCapture trace(fp);
  fp.faults.Fail("CreateFileA", 5, 1);
  fp.faults.Fail("CreateFileA", 5, 2);
  EXPECT_FALSE(InstallKestrune(true));
  EXPECT_FALSE(fp.files.Has(kKestruneFile));
  EXPECT_EQ(ListOf(fp, kAdapterClass), OtherEntries()[kAdapterClass]);
  EXPECT_EQ(ListOf(fp, kIdeClass), OtherEntries()[kIdeClass]);
  EXPECT_EQ(ListOf(fp, kCdromClass), (Entries{"Morvellin", "imapi", "redbook"}))
      << "Morvellin.sys is still there: its entry stays";
  Lines lines = trace.Lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "Kestrune.sys lost by the failed copy, Kestrune taken out of LowerFilters!"),
            lines.end());
  EXPECT_EQ(CallCount(fp, "OpenSCManagerA"), 0u);
  ExpectSafeState(fp, "copy deleting the installed file");
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

TEST(UnInstallKestrune, LoadedDriverFileMakesResultFalse) {
  FakePlatform fp;
  TraceCapture trace(fp);
  SeedInstalled(fp);
  fp.files.locked.insert(kKestruneFile);
  EXPECT_FALSE(UnInstallKestruneNT());
  Lines lines = trace.Lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "DeleteFile: Kestrune.sys failed!"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "DeleteFile: Morvellin.sys success!"),
            lines.end());
  EXPECT_EQ(fp.sleep.sleeps, (std::vector<uint32_t>{2000}));
  ExpectSafeState(fp, "loaded driver");
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
    "FindWindowA", "OutputDebugStringA", "SendMessageA", "CloseServiceHandle",
    "RegCloseKey", "CloseHandle",        "FindFirstFileA", "FormatMessageA",
    "SizeofResource", "Sleep",           "MessageBoxA"};

std::vector<std::string> CheckedCalls(const FakePlatform& fp) {
  std::vector<std::string> checked;
  for (const std::string& c : fp.calls) {
    if (!kUncheckedCalls.count(c)) checked.push_back(c);
  }
  return checked;
}

using Seeder = std::function<void(FakePlatform&)>;
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
    seed(fp);
    fp.faults.FailCallNumber(int(n), 5);
    bool result = procedure();
    std::string context = "call " + std::to_string(n) + " " + clean[n - 1] + " failing";
    ExpectSafeState(fp, context);
    outcome(fp, result, context);
  }
}

void SeedFreshForSweep(FakePlatform& fp) {
  SeedNtMachine(fp);
  fp.boxes.defaultAnswer = kYes;
}

void SeedInstalledForSweep(FakePlatform& fp) {
  SeedInstalled(fp);
  fp.boxes.defaultAnswer = kYes;
}

void ExpectTrueMeansInstalled(const FakePlatform& fp, bool result, const std::string& context) {
  if (!result) return;
  SCOPED_TRACE(context);
  ExpectInstalled(fp);
}

void ExpectTrueMeansRemoved(const FakePlatform& fp, bool result, const std::string& context) {
  if (!result) return;
  EXPECT_FALSE(fp.files.Has(kKestruneFile)) << context;
  EXPECT_FALSE(fp.files.Has(kMorvellinFile)) << context;
  for (const auto& [key, others] : OtherEntries()) EXPECT_EQ(ListOf(fp, key), others) << context;
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

}  // namespace
}  // namespace kst
