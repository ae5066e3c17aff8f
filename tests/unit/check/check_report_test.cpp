// The console check over a fake machine: what the installer leaves behind
// read back with query rights only, the printed lines, and the command line.
#include "check/check_report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "check/check_command.h"
#include "check/check_run.h"
#include "install/at_restart.h"
#include "install/procedures.h"
#include "platform/fake/fake_platform.h"
#include "tests/unit/device/fake_filter.h"
#include "tests/unit/install/nt_machine.h"

namespace kst {
namespace {

using fake::FakePlatform;
using Lines = std::vector<std::string>;
const std::string& kAta = test::kAdapterClass;
const std::string& kScsi = test::kIdeClass;
const std::string& kCdrom = test::kCdromClass;

// Calls that change a machine; the check makes none of them.
const std::set<std::string> kWritingCalls = {
    "RegOpenKeyA", "RegSetValueExA", "RegDeleteValueA", "CreateServiceA",       "DeleteService",
    "DeleteFileA", "WriteFile",      "ExitWindowsEx",   "AdjustTokenPrivileges", "MoveFileExA",
    "MoveFileA",   "RegFlushKey"};

void SetCarriedVersions(FakePlatform& fp) {
  for (const std::string& f : {test::kKestruneFile, test::kMorvellinFile, test::kVxdFile}) {
    if (fp.files.Has(f)) fp.versions.SetVersion(f, 1, 4, 2, 11);
  }
}

// An NT machine after `KstIns.exe /I /Q`, the driver files carrying the
// carried version as the real images do, every other driver's entry with
// its service.
void Installed(FakePlatform& fp) {
  test::SeedNtMachine(fp);
  for (const auto& [key, others] : test::OtherEntries()) {
    for (const std::string& name : others) fp.services.services[name];
  }
  ASSERT_TRUE(InstallKestrune(false));
  SetCarriedVersions(fp);
}

std::map<std::string, std::vector<uint8_t>> Files(const FakePlatform& fp) {
  std::map<std::string, std::vector<uint8_t>> files;
  for (const auto& [path, data] : fp.files.files) files[path] = data.bytes;
  return files;
}

struct Inspected {
  MachineInspection inspection;
  Judgement judgement;
  Lines lines;
};

Inspected Inspect(FakePlatform& fp) {
  fp.calls.clear();
  fp.services.managerAccess.clear();
  fp.services.serviceAccess.clear();
  auto files = Files(fp);
  Inspected r;
  r.inspection = InspectMachine();
  EXPECT_TRUE(Files(fp) == files) << "the check wrote to the disk";
  r.judgement = JudgeInstallation(r.inspection.state);
  r.lines = ReportLines(r.inspection, r.judgement);
  return r;
}

void ExpectOnlyReads(const FakePlatform& fp) {
  for (const std::string& call : fp.calls) {
    EXPECT_EQ(kWritingCalls.count(call), 0u) << call;
  }
  for (uint32_t a : fp.services.managerAccess) EXPECT_EQ(a, win::kScManagerConnect);
  // The right to change a configuration only to ask our two services, with a
  // change of nothing, whether they await deletion.
  for (uint32_t a : fp.services.serviceAccess) {
    EXPECT_TRUE(a == win::kServiceQueryConfig || a == win::kServiceChangeConfig) << a;
  }
  EXPECT_LE(std::count(fp.services.serviceAccess.begin(), fp.services.serviceAccess.end(),
                       win::kServiceChangeConfig),
            2);
  EXPECT_EQ(fp.OpenHandles(), 0);
}

TEST(InspectMachine, AfterInstallBeforeRestartItIsPending) {
  FakePlatform fp;
  Installed(fp);
  auto before = fp.registry.keys;
  Inspected r = Inspect(fp);
  EXPECT_EQ(int(r.judgement.verdict), int(Verdict::kRestartPending)) << ::testing::PrintToString(r.lines);
  EXPECT_EQ(r.lines.back(), "VERDICT 3010 installed, restart pending");
  ExpectOnlyReads(fp);
  EXPECT_TRUE(fp.registry.keys == before);
}

TEST(InspectMachine, RunningFilterMakesItInstalledAndListsItsDevices) {
  FakePlatform fp;
  Installed(fp);
  test::FakeFilter filter(fp);
  filter.entries = {test::Entry(0, 0, 0, 0, "atapi", 3), test::Entry(0, 0, 1, 0, "atapi")};
  Inspected r = Inspect(fp);
  EXPECT_EQ(int(r.judgement.verdict), int(Verdict::kRunning));
  Lines devices;
  std::copy_if(r.lines.begin(), r.lines.end(), std::back_inserter(devices),
               [](const std::string& l) { return l.rfind("DEVICE ", 0) == 0 || l.rfind("CONTROL", 0) == 0; });
  EXPECT_EQ(devices, (Lines{"CONTROL answers", "DEVICE (D:) (H0 P0 T0 L0)", "DEVICE (?:) (H0 P0 T1 L0)"}));
  ExpectOnlyReads(fp);
}

TEST(InspectMachine, StaleFilesNeverReachTheFilter) {
  FakePlatform fp;
  Installed(fp);
  fp.versions.SetVersion(test::kMorvellinFile, 1, 4, 2, 10);
  test::FakeFilter filter(fp);
  Inspected r = Inspect(fp);
  EXPECT_EQ(fp.devices.opens, 0);
  EXPECT_EQ(int(r.judgement.verdict), int(Verdict::kInconsistent));
  EXPECT_EQ(r.judgement.problems,
            Lines{test::kMorvellinFile + " is version 1.4.2.10, not 1.4.2.11"});
}

TEST(InspectMachine, AfterUninstallNothingIsInstalled) {
  FakePlatform fp;
  Installed(fp);
  ASSERT_TRUE(UnInstallKestrune(false));
  Inspected r = Inspect(fp);
  EXPECT_EQ(int(r.judgement.verdict), int(Verdict::kNotInstalled)) << ::testing::PrintToString(r.lines);
  EXPECT_EQ(r.lines.back(), "VERDICT 1 not installed");
  ExpectOnlyReads(fp);
}

TEST(InspectMachine, ServiceDeletedByHand) {
  FakePlatform fp;
  Installed(fp);
  fp.services.services.erase("Kestrune");
  Inspected r = Inspect(fp);
  EXPECT_EQ(int(r.judgement.verdict), int(Verdict::kInconsistent));
  EXPECT_EQ(r.judgement.problems, Lines{"service Kestrune is missing"});
  // Our own entries name the missing service: a problem, never a warning.
  EXPECT_TRUE(r.judgement.warnings.empty());
}

TEST(InspectMachine, ForeignEntriesNamingNoServiceAreWarnedAboutAndLeftAlone) {
  FakePlatform fp;
  Installed(fp);
  fp.services.services.erase("redbook");
  fp.registry.SetMultiSz(kScsi, "UpperFilters", {"ideguard"});
  auto before = fp.registry.keys;
  Inspected r = Inspect(fp);
  EXPECT_EQ(int(r.judgement.verdict), int(Verdict::kRestartPending));
  Lines warnings;
  std::copy_if(r.lines.begin(), r.lines.end(), std::back_inserter(warnings),
               [](const std::string& l) { return l.rfind("WARNING", 0) == 0; });
  EXPECT_EQ(warnings,
            (Lines{"WARNING LowerFilters of " + kCdrom + " lists \"redbook\", which names no existing service"}));
  EXPECT_TRUE(fp.registry.keys == before);
}

TEST(InspectMachine, InvalidServiceNamesCountAsNoService) {
  FakePlatform fp;
  Installed(fp);
  fp.registry.SetMultiSz(kScsi, "UpperFilters", {"bad\\name"});
  fp.faults.Fail("OpenServiceA", win::kErrorInvalidName, 0);
  Inspected r = Inspect(fp);
  // Our services cannot be opened either: they count as missing.
  EXPECT_EQ(int(r.judgement.verdict), int(Verdict::kInconsistent));
  EXPECT_NE(std::find(r.lines.begin(), r.lines.end(),
                      "WARNING UpperFilters of " + kScsi + " lists \"bad\\name\", which names no existing service"),
            r.lines.end())
      << ::testing::PrintToString(r.lines);
}

// A service the manager would not answer for is never told as missing, nor
// one whose settings or deletion mark could not be read as read.
TEST(InspectMachine, WhatCannotBeAskedIsNeverTakenAsAnswered) {
  using Presence = ServiceState::Presence;
  using Mark = ServiceState::Mark;
  struct Row {
    const char* failing;
    Presence presence;
    Mark mark;
    ServiceExistence entries;
  } rows[] = {
      {"OpenServiceA", Presence::kUnreadable, Mark::kNone, ServiceExistence::kUnknown},
      {"QueryServiceConfigA", Presence::kUnreadable, Mark::kNone, ServiceExistence::kExists},
      {"ChangeServiceConfigA", Presence::kPresent, Mark::kUnknown, ServiceExistence::kExists},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.failing);
    FakePlatform fp;
    Installed(fp);
    fp.faults.Fail(r.failing, win::kErrorAccessDenied);
    Inspected inspected = Inspect(fp);
    const InstallationState& state = inspected.inspection.state;
    ASSERT_EQ(state.drivers.size(), 2u);
    for (const DriverInspection& d : state.drivers) {
      EXPECT_EQ(int(d.service.presence), int(r.presence)) << d.name;
      EXPECT_EQ(int(d.service.mark), int(r.mark)) << d.name;
    }
    ASSERT_EQ(state.classKeys.size(), 3u);
    for (const ClassKeyState& key : state.classKeys) {
      ASSERT_FALSE(key.lower.empty()) << key.key;
      for (const FilterEntry& e : key.lower) EXPECT_EQ(int(e.service), int(r.entries)) << e.name;
    }
    EXPECT_NE(int(inspected.judgement.verdict), int(Verdict::kNotInstalled));
    ExpectOnlyReads(fp);
  }
}

TEST(InspectMachine, ANameListedTwiceHasOneAnswer) {
  FakePlatform fp;
  Installed(fp);
  fp.registry.SetMultiSz(kScsi, "UpperFilters", {"ghost", "upflt", "GHOST"});
  fp.services.services["upflt"];
  Inspected r = Inspect(fp);
  const ClassKeyState* scsi = nullptr;
  for (const ClassKeyState& key : r.inspection.state.classKeys) {
    if (key.key == kScsi) scsi = &key;
  }
  ASSERT_TRUE(scsi);
  ASSERT_EQ(scsi->upper.size(), 3u);
  EXPECT_EQ(int(scsi->upper[0].service), int(ServiceExistence::kMissing));
  EXPECT_EQ(int(scsi->upper[1].service), int(ServiceExistence::kExists));
  EXPECT_EQ(int(scsi->upper[2].service), int(ServiceExistence::kMissing));
  ExpectOnlyReads(fp);
}

// The check holds the machine while it reads, waits at most 10 s for an
// install or uninstall to end, and reads anyway when it cannot have it,
// saying so when another run is known to be on. An unprivileged check can
// neither create the machine-wide name nor open the administrators' mutex.
TEST(InspectMachine, ReadsUnderTheMachineLockOrWarnsThatAnotherRunIsOn) {
  const std::string lockName = "Global\\KestruneInstallTools";
  const std::string warning =
      "WARNING another installation or removal is running; this state may be changing";
  struct Row {
    const char* what;
    std::function<void(FakePlatform&)> arrange;
    bool warns;
    uint32_t waitedMs;
    bool heldWhileReading;
  } rows[] = {
      {"nobody else", [](FakePlatform&) {}, false, 0, true},
      {"an install ends after 4 s",
       [&](FakePlatform& fp) { fp.mutexes.HeldByAnother(lockName, 4000); }, false, 4000, true},
      {"an install outlasts 10 s", [&](FakePlatform& fp) { fp.mutexes.HeldByAnother(lockName); },
       true, 10000, false},
      {"unprivileged, nobody else", [](FakePlatform& fp) { fp.mutexes.privileged = false; }, false,
       0, false},
      {"unprivileged, an administrator's install on",
       [&](FakePlatform& fp) {
         fp.mutexes.privileged = false;
         fp.mutexes.HeldByAnother(lockName);
       },
       true, 0, false},
      {"the mutex cannot be had", [](FakePlatform& fp) { fp.faults.Fail("CreateMutexA", 1450); },
       false, 0, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    FakePlatform fp;
    Installed(fp);
    r.arrange(fp);
    fp.sleep.ticks = 0;
    bool heldWhileReading = true;
    fp.beforeCall = [&](const std::string& call) {
      if (call == "RegQueryValueExA" && !fp.mutexes.OwnedByThisProcess(lockName)) {
        heldWhileReading = false;
      }
    };
    Inspected checked = Inspect(fp);
    EXPECT_EQ(checked.inspection.anotherRunActive, r.warns);
    EXPECT_EQ(std::count(checked.lines.begin(), checked.lines.end(), warning), r.warns ? 1 : 0)
        << ::testing::PrintToString(checked.lines);
    EXPECT_EQ(int(checked.judgement.verdict), int(Verdict::kRestartPending)) << "read all the same";
    EXPECT_EQ(checked.lines.back(), "VERDICT 3010 installed, restart pending");
    EXPECT_EQ(fp.sleep.ticks, r.waitedMs);
    EXPECT_EQ(heldWhileReading, r.heldWhileReading);
    EXPECT_FALSE(fp.mutexes.OwnsAny()) << "given up once read";
    ExpectOnlyReads(fp);
  }
}

// The printed lines of an installed machine whose filter has not loaded yet.
TEST(ReportLines, PendingNtMachine) {
  FakePlatform fp;
  Installed(fp);
  fp.services.services["Morvellin"].config.startType = 1;
  fp.registry.SetMultiSz(kAta, "LowerFilters", {"Kestrune", "atapiflt"});
  fp.registry.keys[kScsi].erase("LowerFilters");
  const std::string& sys = test::kSysDir;
  Lines expected = {
      "FAMILY NT",
      "IMAGE current 1.4.2.11 " + test::kKestruneFile,
      "IMAGE current 1.4.2.11 " + test::kMorvellinFile,
      "SERVICE Kestrune exists",
      "SERVICE Kestrune type ok \"1\"",
      "SERVICE Kestrune start ok \"0\"",
      "SERVICE Kestrune errorcontrol ok \"0\"",
      "SERVICE Kestrune group ok \"System Bus Extender\"",
      "SERVICE Kestrune imagepath ok \"" + sys + "\\Drivers\\Kestrune.sys\"",
      "SERVICE Morvellin exists",
      "SERVICE Morvellin type ok \"1\"",
      "SERVICE Morvellin start differs \"1\" expected \"3\"",
      "SERVICE Morvellin errorcontrol ok \"1\"",
      "SERVICE Morvellin group ok \"\"",
      "SERVICE Morvellin imagepath ok \"" + sys + "\\Drivers\\Morvellin.sys\"",
      "LOWERFILTERS " + kAta + " 1 ours Kestrune",
      "LOWERFILTERS " + kAta + " 2 other atapiflt",
      "LOWERFILTERS " + kScsi + " novalue",
      "LOWERFILTERS " + kCdrom + " 1 ours Morvellin",
      "LOWERFILTERS " + kCdrom + " 2 other imapi",
      "LOWERFILTERS " + kCdrom + " 3 other redbook",
      "CONTROL silent",
      "PROBLEM service Morvellin start is \"1\", the installer writes \"3\"",
      "PROBLEM Kestrune is not listed in LowerFilters of " + kScsi,
      "VERDICT 2 inconsistent",
  };
  EXPECT_EQ(Inspect(fp).lines, expected);
}

// ---- The running filter's life: what the restart finishes ---------------------------

Lines Starting(const Lines& lines, const std::string& word) {
  Lines found;
  for (const std::string& l : lines) {
    if (l.rfind(word + " ", 0) == 0) found.push_back(l);
  }
  return found;
}

// Installed, restarted, both filters loaded and the control device answering.
void Running(FakePlatform& fp) {
  Installed(fp);
  fp.SettleOnDisk();
  fp.Restart();
}

const std::string kKestruneNew = test::kSysDir + "\\Drivers\\Kestrune.~nw";
const std::string kMorvellinNew = test::kSysDir + "\\Drivers\\Morvellin.~nw";

TEST(InspectMachine, AnUninstallOfTheRunningFilterIsARemovalPending) {
  FakePlatform fp;
  Running(fp);
  ASSERT_TRUE(UnInstallKestrune(false));
  test::FakeFilter filter(fp);  // loaded until the restart
  Inspected r = Inspect(fp);
  EXPECT_EQ(r.lines.back(), "VERDICT 3010 removal pending") << ::testing::PrintToString(r.lines);
  EXPECT_TRUE(r.judgement.removal);
  EXPECT_EQ(Starting(r.lines, "PENDING"),
            (Lines{"PENDING delete " + test::kKestruneFile, "PENDING delete " + test::kMorvellinFile}));
  Lines services = Starting(r.lines, "SERVICE");
  EXPECT_EQ(Lines(services.begin(), services.begin() + 2),
            (Lines{"SERVICE Kestrune exists", "SERVICE Kestrune awaiting-deletion"}));
  EXPECT_EQ(std::count(services.begin(), services.end(), "SERVICE Morvellin awaiting-deletion"), 1);
  // The line order: lists, the requests, then the control device.
  auto at = [&](const std::string& start) {
    return std::find_if(r.lines.begin(), r.lines.end(),
                        [&](const std::string& l) { return l.rfind(start, 0) == 0; }) - r.lines.begin();
  };
  EXPECT_LT(at("LOWERFILTERS"), at("PENDING"));
  EXPECT_LT(at("PENDING"), at("CONTROL"));
  ExpectOnlyReads(fp);

  // An install now is refused, and the answer stays the same.
  EXPECT_FALSE(InstallKestrune(false));
  EXPECT_EQ(Inspect(fp).lines.back(), "VERDICT 3010 removal pending");
  // After the restart nothing of ours is left.
  filter.Stop();
  fp.SettleOnDisk();
  fp.Restart();
  Inspected after = Inspect(fp);
  EXPECT_EQ(after.lines.back(), "VERDICT 1 not installed") << ::testing::PrintToString(after.lines);
  EXPECT_TRUE(Starting(after.lines, "PENDING").empty());
}

TEST(InspectMachine, AnUpgradeOfTheRunningFilterIsARestartPending) {
  FakePlatform fp;
  Running(fp);
  fp.versions.SetVersion(test::kKestruneFile, 1, 4, 2, 10);
  fp.versions.SetVersion(test::kMorvellinFile, 1, 4, 2, 10);
  ASSERT_TRUE(InstallKestrune(false));
  // The waiting images carry the carried version, as the real images do.
  fp.versions.SetVersion(kKestruneNew, 1, 4, 2, 11);
  fp.versions.SetVersion(kMorvellinNew, 1, 4, 2, 11);
  Inspected r = Inspect(fp);
  EXPECT_EQ(r.lines.back(), "VERDICT 3010 installed, restart pending") << ::testing::PrintToString(r.lines);
  EXPECT_FALSE(r.judgement.removal);
  EXPECT_EQ(Starting(r.lines, "PENDING"),
            (Lines{"PENDING replace " + test::kKestruneFile, "PENDING replace " + test::kMorvellinFile}));
  EXPECT_EQ(Starting(r.lines, "IMAGE")[0], "IMAGE other 1.4.2.10 " + test::kKestruneFile);
  ExpectOnlyReads(fp);
  // The waiting image of another version is a problem.
  fp.versions.SetVersion(kMorvellinNew, 1, 4, 2, 9);
  EXPECT_EQ(Inspect(fp).judgement.problems,
            Lines{test::kMorvellinFile + " is to be replaced at the restart by " + kMorvellinNew +
                  ", which is version 1.4.2.9, not 1.4.2.11"});
  fp.versions.SetVersion(kMorvellinNew, 1, 4, 2, 11);
  fp.SettleOnDisk();
  fp.Restart();
  test::FakeFilter filter(fp);
  EXPECT_EQ(Inspect(fp).lines.back(), "VERDICT 0 installed and running");
}

// The check must never say that the filter did not start by mistake: only a
// start of Windows later than the images' last write, known without the
// 32-bit tick count's wrap, makes it say so.
TEST(InspectMachine, TheFilterDidNotStartOnlyAfterAKnownRestart) {
  const std::string problem =
      "PROBLEM the filter did not start, although Windows has restarted since its images were written";
  struct Row {
    const char* what;
    bool restart;
    bool tickCount64;
    uint32_t minutesBefore;  // between the install and the restart
    const char* verdict;
  } rows[] = {
      {"no restart since the install", false, true, 30, "VERDICT 3010 installed, restart pending"},
      {"a restart long after the install", true, true, 30, "VERDICT 2 inconsistent"},
      {"a restart soon after the install, within the margin", true, true, 0,
       "VERDICT 3010 installed, restart pending"},
      {"a restart, but only a 32-bit uptime", true, false, 30, "VERDICT 3010 installed, restart pending"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    FakePlatform fp;
    Installed(fp);
    fp.sleep.ticks += r.minutesBefore * 60000;
    if (r.restart) {
      fp.SettleOnDisk();
      fp.Restart();
      fp.services.running.clear();  // the driver failed to start
      fp.sleep.ticks = 3 * 60000;
    }
    fp.sleep.hasTickCount64 = r.tickCount64;
    Lines lines = Inspect(fp).lines;
    EXPECT_EQ(lines.back(), r.verdict) << ::testing::PrintToString(lines);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), problem), r.verdict[8] == '2' ? 1 : 0);
  }
}

// Every image's write time weighs, and one that cannot be read claims no
// restart: the newest write decides whether Windows started since.
TEST(InspectMachine, TheNewestImageDecidesAndAnUnreadWriteTimeClaimsNoRestart) {
  struct Row {
    const char* what;
    bool kestruneRewritten;  // after the restart, the other image before it
    bool writeTimesUnread;
    const char* verdict;
  } rows[] = {
      {"both images written before the restart", false, false, "VERDICT 2 inconsistent"},
      {"the first image written again after the restart", true, false,
       "VERDICT 3010 installed, restart pending"},
      {"no write time can be read", false, true, "VERDICT 3010 installed, restart pending"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    FakePlatform fp;
    Installed(fp);
    fp.sleep.ticks += 30 * 60000;
    fp.SettleOnDisk();
    fp.Restart();
    fp.services.running.clear();  // the driver failed to start
    fp.sleep.ticks = 3 * 60000;
    fp.sleep.hasTickCount64 = true;
    if (r.kestruneRewritten) fp.files.files[test::kKestruneFile].lastWrite = fp.sleep.Now();
    if (r.writeTimesUnread) fp.faults.Fail("FindFirstFileA", win::kErrorAccessDenied);
    Lines lines = Inspect(fp).lines;
    EXPECT_EQ(lines.back(), r.verdict) << ::testing::PrintToString(lines);
  }
}

// Requests for the restart that cannot be read are told on a line of their
// own, and never taken as none.
TEST(InspectMachine, UnreadableRequestsForTheRestartHaveTheirLine) {
  FakePlatform fp;
  Installed(fp);
  const std::string text = "not a list";
  fp.registry.keys[kSessionManagerKey][kPendingRenamesValue] = {
      win::kRegSz, std::vector<uint8_t>(text.begin(), text.end() + 1)};
  Lines lines = Inspect(fp).lines;
  EXPECT_EQ(Starting(lines, "PENDING"), (Lines{"PENDING unreadable"})) << ::testing::PrintToString(lines);
  EXPECT_EQ(lines.back(), "VERDICT 2 inconsistent");
}

TEST(InspectMachine, ImagePathsInTheFormsWindowsReads) {
  for (const std::string& path : {"\\SystemRoot\\System32\\Drivers\\Kestrune.sys",
                                  "System32\\DRIVERS\\Kestrune.sys",
                                  "\\??\\c:\\windows\\system32\\drivers\\kestrune.sys"}) {
    FakePlatform fp;
    Installed(fp);
    fp.services.services["Kestrune"].config.binaryPath = path;
    Lines lines = Inspect(fp).lines;
    EXPECT_NE(std::find(lines.begin(), lines.end(), "SERVICE Kestrune imagepath ok \"" + path + "\""),
              lines.end())
        << ::testing::PrintToString(lines);
    EXPECT_EQ(lines.back(), "VERDICT 3010 installed, restart pending");
  }
}

TEST(InspectMachine, OurNameWhereTheSystemDoesNotLoadItFromIsAProblem) {
  FakePlatform fp;
  Installed(fp);
  fp.registry.keys[kAta]["LowerFilters"] = fake::FakeRegValue{win::kRegSz, {'K', 'e', 's', 't', 'r', 'u', 'n', 'e', 0}};
  fp.registry.SetMultiSz(kCdrom, "UpperFilters", {"Morvellin"});
  Inspected r = Inspect(fp);
  EXPECT_EQ(r.judgement.problems,
            (Lines{"LowerFilters of " + kAta +
                       " is of type 1, not REG_MULTI_SZ: the system does not read it as a filter list",
                   "Morvellin is listed in UpperFilters of " + kCdrom + ", where the installer never lists it"}));
  EXPECT_TRUE(r.judgement.warnings.empty());
  // And with no service behind it, still a problem of ours, not a warning.
  fp.services.services.erase("Morvellin");
  Inspected gone = Inspect(fp);
  EXPECT_EQ(Starting(gone.lines, "WARNING"), Lines{});
  EXPECT_NE(std::find(gone.judgement.problems.begin(), gone.judgement.problems.end(),
                      "Morvellin is listed in UpperFilters of " + kCdrom + ", where the installer never lists it"),
            gone.judgement.problems.end());
}

// A system directory so long that an image's path does not fit in the
// system's buffer: the lines name the file as the trace does, and nothing is
// read at that name, which would be another file or none.
TEST(InspectMachine, AnImagePathTooLongForTheSystemIsNamedButNeverRead) {
  FakePlatform fp;
  Installed(fp);
  const std::string longDirectory = "C:\\" + std::string(250, 'x');
  const std::string kestrune = longDirectory + "\\Drivers\\Kestrune.sys";
  fp.files.systemDirectory = longDirectory;
  fp.files.files[kestrune];
  fp.versions.SetVersion(kestrune, 1, 4, 2, 11);
  ASSERT_TRUE(ReplaceFileAtRestart(kestrune + ".new", kestrune));
  fp.files.files[kestrune + ".new"];
  Inspected r = Inspect(fp);
  EXPECT_EQ(r.lines[1], "IMAGE missing - " + kestrune);
  EXPECT_EQ(r.lines[2], "IMAGE missing - " + longDirectory + "\\Drivers\\Morvellin.sys");
  EXPECT_EQ(std::count(fp.calls.begin(), fp.calls.end(), "FindFirstFileA"), 0)
      << ::testing::PrintToString(fp.calls);
  EXPECT_EQ(std::count(fp.calls.begin(), fp.calls.end(), "GetFileVersionInfoSizeA"), 0);
  EXPECT_EQ(r.lines.back(), "VERDICT 2 inconsistent");
}

TEST(FailureLines, TheFailureIsWrittenAsEveryLineIs) {
  EXPECT_EQ(FailureLines("bad_alloc"),
            (Lines{"PROBLEM the check failed: bad_alloc", "VERDICT 2 inconsistent"}));
  EXPECT_EQ(FailureLines("a\nVERDICT 0 installed and running\x7f"),
            (Lines{"PROBLEM the check failed: a\\x0AVERDICT 0 installed and running\\x7F",
                   "VERDICT 2 inconsistent"}));
}

TEST(ReportLines, Win9xShowsTheImageAndTheDeviceOnly) {
  FakePlatform fp;
  fp.system.platformId = win::kVerPlatformWin32Windows;
  test::SeedNtMachine(fp);  // class keys with lists: not looked at on 9x
  fp.system.platformId = win::kVerPlatformWin32Windows;
  Lines lines = Inspect(fp).lines;
  EXPECT_EQ(lines, (Lines{"FAMILY 9x", "IMAGE missing - " + test::kVxdFile, "CONTROL unasked",
                          "VERDICT 1 not installed"}));
  fp.files.files[test::kVxdFile];
  EXPECT_EQ(Inspect(fp).lines[1], "IMAGE noversion - " + test::kVxdFile);
  fp.versions.SetVersion(test::kVxdFile, 1, 4, 2, 9);
  EXPECT_EQ(Inspect(fp).lines[1], "IMAGE other 1.4.2.9 " + test::kVxdFile);
  // Current: the filter is asked, without any device line on this family.
  test::FakeFilter filter(fp);
  filter.entries = {test::Entry(0, 0, 0)};
  fp.versions.SetVersion(test::kVxdFile, 1, 4, 2, 11);
  EXPECT_EQ(Inspect(fp).lines, (Lines{"FAMILY 9x", "IMAGE current 1.4.2.11 " + test::kVxdFile,
                                      "CONTROL answers", "VERDICT 0 installed and running"}));
  filter.Stop();
  EXPECT_EQ(Inspect(fp).lines[2], "CONTROL silent");
}

TEST(ReportLines, ControlCharactersFromTheMachineStayOnTheirLine) {
  FakePlatform fp;
  test::SeedNtMachine(fp);
  fp.registry.SetMultiSz(kAta, "LowerFilters", {"evil\nVERDICT 0 installed and running", "tab\there\x7f"});
  Lines lines = Inspect(fp).lines;
  for (const std::string& line : lines) {
    EXPECT_EQ(line.find_first_of(std::string("\r\n\t\x7f", 4)), std::string::npos) << line;
  }
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "LOWERFILTERS " + kAta + " 1 other evil\\x0AVERDICT 0 installed and running"),
            lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "LOWERFILTERS " + kAta + " 2 other tab\\x09here\\x7F"),
            lines.end());
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.rfind("VERDICT", 0) == 0; }),
            1);
}

TEST(ReportLines, ListStatesOfAClassKey) {
  FakePlatform fp;
  test::SeedNtMachine(fp);
  fp.registry.keys.erase(kAta);
  fp.registry.keys[kScsi]["LowerFilters"] = fake::FakeRegValue{win::kRegMultiSz, {0, 0}};
  fp.registry.keys[kCdrom]["LowerFilters"] =
      fake::FakeRegValue{win::kRegMultiSz, std::vector<uint8_t>(kMaxStoredListSize + 1, 'A')};
  Lines lines = Inspect(fp).lines;
  for (const std::string& want : {"LOWERFILTERS " + kAta + " nokey", "LOWERFILTERS " + kScsi + " empty",
                                  "LOWERFILTERS " + kCdrom + " unreadable"}) {
    EXPECT_NE(std::find(lines.begin(), lines.end(), want), lines.end()) << want;
  }
  EXPECT_EQ(lines.back(), "VERDICT 2 inconsistent");  // an unreadable list: not provably clean
}

// Every single failing call of the inspection: never a crash, a handle left
// open or a write, and always exactly one verdict line.
TEST(InspectMachine, EachFailingCallStillGivesOneVerdict) {
  int calls = 0;
  {
    FakePlatform fp;
    Installed(fp);
    test::FakeFilter filter(fp);
    filter.entries = {test::Entry(0, 0, 0)};
    fp.faults = fake::FaultPlan();
    Inspect(fp);
    calls = fp.faults.TotalChecked();
  }
  ASSERT_GT(calls, 10);
  for (int i = 1; i <= calls; ++i) {
    FakePlatform fp;
    Installed(fp);
    test::FakeFilter filter(fp);
    filter.entries = {test::Entry(0, 0, 0)};
    fp.faults = fake::FaultPlan();
    fp.faults.FailCallNumber(i, win::kErrorAccessDenied);
    Inspected r = Inspect(fp);
    ExpectOnlyReads(fp);
    EXPECT_EQ(r.lines.back().rfind("VERDICT ", 0), 0u) << i;
    EXPECT_NE(int(r.judgement.verdict), int(Verdict::kNotInstalled)) << "call " << i;
  }
}

TEST(CheckCommandOf, Arguments) {
  struct Row {
    Lines arguments;
    CheckCommand command;
  } rows[] = {
      {{}, CheckCommand::kCheck},
      {{"/?"}, CheckCommand::kUsage},
      {{"/x"}, CheckCommand::kInvalid},
      {{"/I"}, CheckCommand::kInvalid},
      {{"/?", "/?"}, CheckCommand::kInvalid},
      {{"-?"}, CheckCommand::kInvalid},
      {{"word"}, CheckCommand::kInvalid},
      {{""}, CheckCommand::kInvalid},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(int(CheckCommandOf(r.arguments)), int(r.command)) << ::testing::PrintToString(r.arguments);
  }
}

}  // namespace
}  // namespace kst

namespace kst {
namespace {

// The whole of a run's output: what it writes where, and its exit code.
TEST(RunCheck, UsageAndUnknownArgumentsWriteTheUsageTextOnly) {
  fake::FakePlatform fp;
  CheckRun usage = RunCheck({"/?"});
  EXPECT_EQ(usage.out, kCheckUsageText);
  EXPECT_EQ(usage.err, "");
  EXPECT_EQ(usage.exitCode, 0);
  CheckRun unknown = RunCheck({"/I"});
  EXPECT_EQ(unknown.out, "");
  EXPECT_EQ(unknown.err, kCheckUsageText);
  EXPECT_EQ(unknown.exitCode, kInvalidParameterExitCode);
  EXPECT_TRUE(fp.calls.empty()) << "the machine was read for a usage text";
}

TEST(RunCheck, TheReportIsWrittenLineByLineWithTheVerdictAsExitCode) {
  fake::FakePlatform fp;
  test::SeedNtMachine(fp);
  CheckRun run = RunCheck({});
  std::string expected;
  MachineInspection inspection = InspectMachine();
  for (const std::string& line : ReportLines(inspection, JudgeInstallation(inspection.state))) {
    expected += line + "\n";
  }
  EXPECT_EQ(run.out, expected);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exitCode, int(Verdict::kNotInstalled));
  EXPECT_TRUE(run.out.ends_with("\nVERDICT 1 not installed\n")) << run.out;
}

// A failure raised at any call while the machine is read ends in the
// failure's lines through the same writer, with nothing of a half-read
// report before them, and the inconsistent verdict; one that a step keeps to
// itself (the machine lock gives the machine up and reads anyway) still
// gives a whole report.
TEST(RunCheck, AFailureRaisedAtAnyCallEndsInTheFailureLines) {
  int failed = 0;
  for (int failAt = 0;; ++failAt) {
    fake::FakePlatform fp;
    test::SeedNtMachine(fp);
    int seen = 0;
    fp.beforeCall = [&](const std::string& call) {
      if (seen++ == failAt) throw std::runtime_error("fault\nat " + call);
    };
    CheckRun run = RunCheck({});
    if (seen <= failAt) break;  // every call passed: the sweep is done
    EXPECT_EQ(run.err, "");
    if (run.out.rfind("PROBLEM ", 0) != 0) {
      EXPECT_EQ(run.out.rfind("FAMILY NT\n", 0), 0u) << failAt << run.out;
      EXPECT_TRUE(run.out.ends_with("\nVERDICT " + std::to_string(run.exitCode) + " not installed\n"))
          << failAt << run.out;
      continue;
    }
    ++failed;
    EXPECT_EQ(run.out.rfind("PROBLEM the check failed: fault\\x0Aat ", 0), 0u) << failAt << run.out;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 2) << run.out;
    EXPECT_TRUE(run.out.ends_with("\nVERDICT 2 inconsistent\n")) << run.out;
    EXPECT_EQ(run.exitCode, int(Verdict::kInconsistent));
  }
  EXPECT_GT(failed, 10);
}

}  // namespace
}  // namespace kst
