// The judgement of an installation state: every verdict, every kind of
// problem, and the warnings about other drivers' entries.
#include "check/installation_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "check/inspection.h"
#include "install/class_filters.h"
#include "platform/fake/fake_platform.h"

namespace kst {
namespace {

using Presence = ImageState::Presence;
using ListState = StoredFilterList::State;
using Lines = std::vector<std::string>;

const std::string kSys = "C:\\WINDOWS\\system32";
const std::string kKestruneFile = kSys + "\\Drivers\\Kestrune.sys";
const std::string kMorvellinFile = kSys + "\\Drivers\\Morvellin.sys";
const std::string kAta = KESTRUNE_REG_KEY_ATA;
const std::string kScsi = KESTRUNE_REG_KEY_SCSI;
const std::string kCdrom = MORVELLIN_REG_KEY_CDVDROM;

ImageState Current(const std::string& path) { return {path, Presence::kVersion, "1.4.2.11"}; }

std::vector<FilterEntry> Existing(const Lines& names) {
  std::vector<FilterEntry> entries;
  for (const std::string& n : names) entries.push_back({n, ServiceExistence::kExists});
  return entries;
}

// An NT machine after installation and restart, other drivers' entries
// beside ours; the expected settings come from the installer's own facts.
InstallationState Complete() {
  fake::FakePlatform fp;  // the system directory the facts are built with
  InstallationState s;
  s.family = WindowsFamily::kNt;
  s.drivers = DriversOfFamily(WindowsFamily::kNt);
  AddWhatTheInstallerWrites(s.drivers);
  for (DriverInspection& d : s.drivers) {
    d.image = Current(d.expected.binaryPath);
    d.service.presence = ServiceState::Presence::kPresent;
    d.service.config = d.expected;
  }
  s.classKeys = {
      {kAta, ListState::kRead, Existing({"Kestrune", "scsiflt"}), ListState::kNoValue, {}},
      {kScsi, ListState::kRead, Existing({"Kestrune"}), ListState::kRead, Existing({"upflt"})},
      {kCdrom, ListState::kRead, Existing({"Morvellin", "imapi"}), ListState::kNoValue, {}},
  };
  s.filterAnswers = true;
  s.systemRoot = "C:\\WINDOWS";
  return s;
}

// The machine without any part of ours; other drivers' entries remain.
InstallationState Clean() {
  InstallationState s = Complete();
  for (DriverInspection& d : s.drivers) {
    d.image.presence = Presence::kMissing;
    d.service.presence = ServiceState::Presence::kMissing;
  }
  s.classKeys[0].lower = Existing({"scsiflt"});
  s.classKeys[1].lowerState = ListState::kNoValue;
  s.classKeys[1].lower.clear();
  s.classKeys[2].lower = Existing({"imapi"});
  s.filterAnswers = false;
  return s;
}

DriverInspection& Kestrune(InstallationState& s) { return s.drivers[0]; }
DriverInspection& Morvellin(InstallationState& s) { return s.drivers[1]; }

using AtRestart = ImageState::AtRestart;
using Mark = ServiceState::Mark;

// After the uninstall of the running filter, before the restart: no list
// names us, the images are to be deleted, the services await deletion.
InstallationState RemovalWaiting() {
  InstallationState s = Clean();
  for (DriverInspection& d : s.drivers) {
    d.image = Current(d.expected.binaryPath);
    d.image.atRestart = AtRestart::kDeleted;
    d.service.presence = ServiceState::Presence::kPresent;
    d.service.config = d.expected;
    d.service.mark = Mark::kAwaitsDeletion;
  }
  s.filterAnswers = true;  // loaded until the restart
  return s;
}

// An upgrade of the running filter waiting for the restart: the images in
// place are an older release, a current one waits to replace each.
InstallationState UpgradeWaiting() {
  InstallationState s = Complete();
  for (DriverInspection& d : s.drivers) {
    d.image.version = "1.4.2.10";
    d.image.atRestart = AtRestart::kReplaced;
    d.image.replacementPath = d.expected.binaryPath.substr(0, d.expected.binaryPath.size() - 3) + "~nw";
    d.image.replacementPresence = Presence::kVersion;
    d.image.replacementVersion = "1.4.2.11";
  }
  s.filterAnswers = false;  // not asked: the files in place are not current
  return s;
}

void Unlist(InstallationState& s, size_t key, const std::string& name) {
  auto& lower = s.classKeys[key].lower;
  lower.erase(std::remove_if(lower.begin(), lower.end(),
                             [&](const FilterEntry& e) { return e.name == name; }),
              lower.end());
}

// A state made from `base` by `change`.
std::function<InstallationState()> From(InstallationState (*base)(),
                                        std::function<void(InstallationState&)> change) {
  return [base, change] {
    InstallationState s = base();
    change(s);
    return s;
  };
}

struct Case {
  const char* name;
  std::function<InstallationState()> state;
  Verdict verdict;
  Lines problems;  // exactly these, in order
};

class Judge : public ::testing::TestWithParam<Case> {};

TEST_P(Judge, GivesTheVerdictAndEachProblemOnItsOwnLine) {
  const Case& c = GetParam();
  Judgement j = JudgeInstallation(c.state());
  EXPECT_EQ(int(j.verdict), int(c.verdict));
  EXPECT_EQ(j.problems, c.problems);
  // A pending restart finishes a removal exactly when no list names us.
  bool listed = false;
  for (const ClassKeyState& k : c.state().classKeys) {
    for (const FilterEntry& e : k.lower) listed = listed || c.state().IsOurName(e.name);
  }
  EXPECT_EQ(j.removal, j.verdict == Verdict::kRestartPending && !listed);
}

const std::string kNotInAta = "Kestrune is not listed in LowerFilters of " + kAta;

INSTANTIATE_TEST_SUITE_P(
    Verdicts, Judge,
    ::testing::Values(
        Case{"InstalledAndRunning", Complete, Verdict::kRunning, {}},
        Case{"RestartPending",
             From(Complete, [](InstallationState& s) {
               s.filterAnswers = false;
             }),
             Verdict::kRestartPending,
             {}},
        Case{"NothingOfOurs", Clean, Verdict::kNotInstalled, {}},
        Case{"NothingOfOursWithoutAnyClassKey",
             From(Clean, [](InstallationState& s) {
               for (auto& k : s.classKeys) k.lowerState = k.upperState = ListState::kNoKey;
               for (auto& k : s.classKeys) k.lower.clear();
             }),
             Verdict::kNotInstalled,
             {}},
        Case{"ListNamesDriverWhoseServiceIsMissing",
             From(Complete, [](InstallationState& s) {
               Kestrune(s).service.presence = ServiceState::Presence::kMissing;
             }),
             Verdict::kInconsistent,
             {"service Kestrune is missing"}},
        Case{"ListNamesDriverWhoseImageIsMissing",
             From(Complete, [](InstallationState& s) {
               Morvellin(s).image.presence = Presence::kMissing;
             }),
             Verdict::kInconsistent,
             {kMorvellinFile + " is missing"}},
        Case{"ImageOfAnotherVersion",
             From(Complete, [](InstallationState& s) {
               Kestrune(s).image.version = "1.4.2.110";
             }),
             Verdict::kInconsistent,
             {kKestruneFile + " is version 1.4.2.110, not 1.4.2.11"}},
        Case{"ImageWithoutReadableVersion",
             From(Complete, [](InstallationState& s) {
               Kestrune(s).image.presence = Presence::kNoVersion;
             }),
             Verdict::kInconsistent,
             {kKestruneFile + " has no readable version"}},
        Case{"ServiceWithoutItsListEntry",
             From(Complete, [](InstallationState& s) {
               Unlist(s, 0, "Kestrune");
               s.filterAnswers = false;
             }),
             Verdict::kInconsistent,
             {kNotInAta}},
        Case{"ImageWithoutItsService",
             From(Clean, [](InstallationState& s) {
               Kestrune(s).image = Current(kKestruneFile);
             }),
             Verdict::kInconsistent,
             {"service Kestrune is missing", kMorvellinFile + " is missing",
              "service Morvellin is missing", kNotInAta,
              "Kestrune is not listed in LowerFilters of " + kScsi,
              "Morvellin is not listed in LowerFilters of " + kCdrom}},
        Case{"ServiceStartsOtherwise",
             From(Complete, [](InstallationState& s) {
               Kestrune(s).service.config.startType = 3;
             }),
             Verdict::kInconsistent,
             {"service Kestrune start is \"3\", the installer writes \"0\""}},
        Case{"ServiceOfEveryOtherSetting",
             From(Complete, [](InstallationState& s) {
               ServiceConfig& c = Morvellin(s).service.config;
               c.serviceType = 2;
               c.errorControl = 3;
               c.loadOrderGroup = "SCSI miniport";
               c.binaryPath = "C:\\elsewhere\\Morvellin.sys";
             }),
             Verdict::kInconsistent,
             {"service Morvellin type is \"2\", the installer writes \"1\"",
              "service Morvellin errorcontrol is \"3\", the installer writes \"1\"",
              "service Morvellin group is \"SCSI miniport\", the installer writes \"\"",
              "service Morvellin imagepath is \"C:\\elsewhere\\Morvellin.sys\", the installer "
              "writes \"" + kMorvellinFile + "\""}},
        Case{"SettingsAsTheServiceManagerSpellsThem",
             From(Complete, [](InstallationState& s) {
               Kestrune(s).service.config.loadOrderGroup = "system bus extender";
               Kestrune(s).service.config.binaryPath = "\\??\\c:\\windows\\SYSTEM32\\drivers\\kestrune.sys";
             }),
             Verdict::kRunning,
             {}},
        Case{"OurNameInAnotherDriversClassKey",
             From(Complete, [](InstallationState& s) {
               s.classKeys[2].lower.push_back({"KESTRUNE", ServiceExistence::kExists});
             }),
             Verdict::kInconsistent,
             {"Kestrune is listed in LowerFilters of " + kCdrom +
              ", where the installer never lists it"}},
        Case{"OurNameListedTwice",
             From(Complete, [](InstallationState& s) {
               s.classKeys[1].lower.push_back({"kestrune", ServiceExistence::kExists});
             }),
             Verdict::kInconsistent,
             {"Kestrune is listed 2 times in LowerFilters of " + kScsi}},
        Case{"ListEntryAloneIsOurs",
             From(Clean, [](InstallationState& s) {
               s.classKeys[2].lower.push_back({"morvellin", ServiceExistence::kMissing});
             }),
             Verdict::kInconsistent,
             {kKestruneFile + " is missing", "service Kestrune is missing",
              kMorvellinFile + " is missing", "service Morvellin is missing", kNotInAta,
              "Kestrune is not listed in LowerFilters of " + kScsi}},
        Case{"FilterRunningWithNothingInstalled",
             From(Clean, [](InstallationState& s) {
               s.filterAnswers = true;
             }),
             Verdict::kInconsistent,
             {kKestruneFile + " is missing", "service Kestrune is missing",
              kMorvellinFile + " is missing", "service Morvellin is missing", kNotInAta,
              "Kestrune is not listed in LowerFilters of " + kScsi,
              "Morvellin is not listed in LowerFilters of " + kCdrom}},
        Case{"UnreadableServiceOnCleanMachineCannotBeCalledClean",
             From(Clean, [](InstallationState& s) {
               Kestrune(s).service.presence = ServiceState::Presence::kUnreadable;
             }),
             Verdict::kInconsistent,
             {"service Kestrune cannot be read"}},
        // ---- What the restart finishes ----
        Case{"UpgradeWaitingForTheRestart", UpgradeWaiting, Verdict::kRestartPending, {}},
        Case{"UpgradeOfOneImageWaiting",
             From(Complete, [](InstallationState& s) {
               Kestrune(s).image.version = "1.4.2.10";
               Kestrune(s).image.atRestart = AtRestart::kReplaced;
               Kestrune(s).image.replacementPath = "C:\\x.~nw";
               Kestrune(s).image.replacementPresence = Presence::kVersion;
               Kestrune(s).image.replacementVersion = "1.4.2.11";
             }),
             Verdict::kRestartPending,
             {}},
        Case{"ReplacementOfAnotherVersion",
             From(UpgradeWaiting, [](InstallationState& s) {
               Kestrune(s).image.replacementVersion = "1.4.2.12";
             }),
             Verdict::kInconsistent,
             {kKestruneFile + " is to be replaced at the restart by " + kSys +
              "\\Drivers\\Kestrune.~nw, which is version 1.4.2.12, not 1.4.2.11"}},
        Case{"ReplacementWithoutVersion",
             From(UpgradeWaiting, [](InstallationState& s) {
               Morvellin(s).image.replacementPresence = Presence::kNoVersion;
             }),
             Verdict::kInconsistent,
             {kMorvellinFile + " is to be replaced at the restart by " + kSys +
              "\\Drivers\\Morvellin.~nw, which has no readable version"}},
        Case{"RemovalWaitingForTheRestart", RemovalWaiting, Verdict::kRestartPending, {}},
        Case{"RemovalWithOneImageGoneAndOneServiceGoneAlready",
             From(RemovalWaiting, [](InstallationState& s) {
               Morvellin(s).image.presence = Presence::kMissing;
               Morvellin(s).image.atRestart = AtRestart::kStays;
               Morvellin(s).service.presence = ServiceState::Presence::kMissing;
               s.filterAnswers = false;
             }),
             Verdict::kRestartPending,
             {}},
        Case{"RemovalOfTheServicesAloneWaiting",
             From(RemovalWaiting, [](InstallationState& s) {
               for (auto& d : s.drivers) d.image = ImageState{d.expected.binaryPath};
             }),
             Verdict::kRestartPending,
             {}},
        Case{"RemovalLeavingAnImage",
             From(RemovalWaiting, [](InstallationState& s) {
               Morvellin(s).image.atRestart = AtRestart::kStays;
             }),
             Verdict::kInconsistent,
             {kMorvellinFile + " remains after the restart"}},
        Case{"RemovalLeavingAServiceAndAnImageThatComesBack",
             From(RemovalWaiting, [](InstallationState& s) {
               Morvellin(s).service.mark = Mark::kNone;
               Kestrune(s).image.atRestart = AtRestart::kReplaced;
             }),
             Verdict::kInconsistent,
             {kKestruneFile + " remains after the restart", "service Morvellin remains after the restart"}},
        Case{"RemovalWhoseServiceMarkCannotBeRead",
             From(RemovalWaiting, [](InstallationState& s) {
               Kestrune(s).service.mark = Mark::kUnknown;
             }),
             Verdict::kInconsistent,
             {"whether service Kestrune awaits deletion cannot be read"}},
        Case{"RemovalOfTheImagesAloneWaiting",
             From(RemovalWaiting, [](InstallationState& s) {
               for (auto& d : s.drivers) d.service = ServiceState{ServiceState::Presence::kMissing};
             }),
             Verdict::kRestartPending,
             {}},
        Case{"RemovalWhoseServiceCannotBeRead",
             From(RemovalWaiting, [](InstallationState& s) {
               Kestrune(s).service = ServiceState{};
             }),
             Verdict::kInconsistent,
             {"service Kestrune cannot be read"}},
        Case{"RemovalWhileAnUpperFiltersListCannotBeRead",
             From(RemovalWaiting, [](InstallationState& s) {
               s.classKeys[1].upperState = ListState::kUnreadable;
               s.classKeys[1].upper.clear();
             }),
             Verdict::kInconsistent,
             {kKestruneFile + " is to be deleted at the restart",
              "service Kestrune awaits deletion at the restart, while a list names a driver of ours",
              kMorvellinFile + " is to be deleted at the restart",
              "service Morvellin awaits deletion at the restart, while a list names a driver of ours",
              kNotInAta, "Kestrune is not listed in LowerFilters of " + kScsi,
              "Morvellin is not listed in LowerFilters of " + kCdrom,
              "UpperFilters of " + kScsi + " cannot be read"}},
        Case{"ListedWhileItsServiceAwaitsDeletion",
             From(Complete, [](InstallationState& s) {
               Kestrune(s).service.mark = Mark::kAwaitsDeletion;
             }),
             Verdict::kInconsistent,
             {"service Kestrune awaits deletion at the restart, while a list names a driver of ours"}},
        Case{"ListedWhileItsImageIsToBeDeleted",
             From(Complete, [](InstallationState& s) {
               Kestrune(s).image.atRestart = AtRestart::kDeleted;
             }),
             Verdict::kInconsistent,
             {kKestruneFile + " is to be deleted at the restart"}},
        Case{"ListedOnlyInUpperFiltersWhileRemovalWaits",
             From(RemovalWaiting, [](InstallationState& s) {
               s.classKeys[1].upper.push_back({"kestrune", ServiceExistence::kExists});
             }),
             Verdict::kInconsistent,
             {kKestruneFile + " is to be deleted at the restart",
              "service Kestrune awaits deletion at the restart, while a list names a driver of ours",
              kMorvellinFile + " is to be deleted at the restart",
              "service Morvellin awaits deletion at the restart, while a list names a driver of ours",
              kNotInAta,
              "kestrune is listed in UpperFilters of " + kScsi + ", where the installer never lists it",
              "Kestrune is not listed in LowerFilters of " + kScsi,
              "Morvellin is not listed in LowerFilters of " + kCdrom}},
        Case{"RequestsForTheRestartUnreadable",
             From(Complete, [](InstallationState& s) { s.pendingUnreadable = true; }),
             Verdict::kInconsistent,
             {"PendingFileRenameOperations cannot be read"}},
        // ---- Whether the filter started ----
        Case{"NotRunningWithoutARestartSinceTheImagesWereWritten",
             From(Complete, [](InstallationState& s) { s.filterAnswers = false; }),
             Verdict::kRestartPending,
             {}},
        Case{"NotRunningAfterARestart",
             From(Complete, [](InstallationState& s) {
               s.filterAnswers = false;
               s.restartedSinceImagesWritten = true;
             }),
             Verdict::kInconsistent,
             {"the filter did not start, although Windows has restarted since its images were written"}},
        Case{"RunningAfterARestart",
             From(Complete, [](InstallationState& s) { s.restartedSinceImagesWritten = true; }),
             Verdict::kRunning,
             {}},
        Case{"UpgradeWaitingAfterAnEarlierRestart",
             From(UpgradeWaiting, [](InstallationState& s) { s.restartedSinceImagesWritten = true; }),
             Verdict::kRestartPending,
             {}},
        // ---- Lists the system does not read as ours ----
        Case{"LowerFiltersOfAnotherTypeNamingUs",
             From(Complete, [](InstallationState& s) { s.classKeys[0].lowerType = win::kRegSz; }),
             Verdict::kInconsistent,
             {"LowerFilters of " + kAta +
              " is of type 1, not REG_MULTI_SZ: the system does not read it as a filter list"}},
        Case{"LowerFiltersOfAnotherTypeOnlyWhereTheyNameUs",
             From(Complete, [](InstallationState& s) {
               s.classKeys[2].lowerType = 3;
               Unlist(s, 2, "Morvellin");
               s.classKeys[2].lower.push_back({"Morvellin", ServiceExistence::kExists});
               s.classKeys[1].lowerType = 3;
               s.classKeys[1].lower = Existing({"other"});
             }),
             Verdict::kInconsistent,
             {"Kestrune is not listed in LowerFilters of " + kScsi,
              "LowerFilters of " + kCdrom +
                  " is of type 3, not REG_MULTI_SZ: the system does not read it as a filter list"}},
        Case{"OurNameInUpperFilters",
             From(Complete, [](InstallationState& s) {
               s.classKeys[2].upper.push_back({"MORVELLIN", ServiceExistence::kExists});
             }),
             Verdict::kInconsistent,
             {"MORVELLIN is listed in UpperFilters of " + kCdrom + ", where the installer never lists it"}},
        // Gap of the mutation run: our own name in UpperFilters with no
        // service behind it is a problem, not a warning about another driver.
        Case{"OurNameInUpperFiltersWithoutItsService",
             From(Clean, [](InstallationState& s) {
               s.classKeys[0].upper.push_back({"Kestrune", ServiceExistence::kMissing});
             }),
             Verdict::kInconsistent,
             {kKestruneFile + " is missing", "service Kestrune is missing", kMorvellinFile + " is missing",
              "service Morvellin is missing",
              "Kestrune is listed in UpperFilters of " + kAta + ", where the installer never lists it",
              kNotInAta, "Kestrune is not listed in LowerFilters of " + kScsi,
              "Morvellin is not listed in LowerFilters of " + kCdrom}},
        Case{"UpperFiltersUnreadable",
             From(Clean, [](InstallationState& s) { s.classKeys[0].upperState = ListState::kUnreadable; }),
             Verdict::kInconsistent,
             {"UpperFilters of " + kAta + " cannot be read"}},
        Case{"ClassKeyOfOursNotRead",
             From(Complete, [](InstallationState& s) { s.classKeys.erase(s.classKeys.begin()); }),
             Verdict::kInconsistent,
             {kNotInAta}},
        Case{"UnreadableListOfCompleteMachine",
             From(Complete, [](InstallationState& s) {
               s.classKeys[1].lowerState = ListState::kUnreadable;
               s.classKeys[1].lower.clear();
             }),
             Verdict::kInconsistent,
             {"LowerFilters of " + kScsi + " cannot be read"}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- The 9x family: only the image counts ------------------------------------

InstallationState Win9x(Presence presence, const std::string& version, bool answers) {
  fake::FakePlatform fp;
  InstallationState s;
  s.family = WindowsFamily::k9x;
  s.drivers = DriversOfFamily(WindowsFamily::k9x);
  s.drivers[0].image = {kSys + "\\Iosubsys\\Kestrune.vxd", presence, version};
  s.filterAnswers = answers;
  // Whatever the registry holds is not looked at on this family.
  s.classKeys = {{kAta, ListState::kRead, {{"ghost", ServiceExistence::kMissing}}, {}, {}}};
  return s;
}

TEST(Judge9x, OnlyTheImageCounts) {
  struct Row {
    Presence presence;
    const char* version;
    bool answers;
    Verdict verdict;
    size_t problems;
  } rows[] = {
      {Presence::kVersion, "1.4.2.11", true, Verdict::kRunning, 0},
      {Presence::kVersion, "1.4.2.11", false, Verdict::kRestartPending, 0},
      {Presence::kMissing, "", false, Verdict::kNotInstalled, 0},
      {Presence::kMissing, "", true, Verdict::kNotInstalled, 0},
      {Presence::kVersion, "1.4.2.1", true, Verdict::kInconsistent, 1},
      {Presence::kNoVersion, "", false, Verdict::kInconsistent, 1},
  };
  for (const Row& r : rows) {
    Judgement j = JudgeInstallation(Win9x(r.presence, r.version, r.answers));
    EXPECT_EQ(int(j.verdict), int(r.verdict)) << r.version << " " << r.answers;
    EXPECT_EQ(j.problems.size(), r.problems) << r.version;
    EXPECT_TRUE(j.warnings.empty());
  }
}

TEST(Judge9x, WithoutAnyDriverNothingIsInstalled) {
  InstallationState s = Win9x(Presence::kVersion, "1.4.2.11", true);
  s.drivers.clear();
  Judgement j = JudgeInstallation(s);
  EXPECT_EQ(int(j.verdict), int(Verdict::kNotInstalled));
  EXPECT_TRUE(j.problems.empty());
}

TEST(Judge9x, DriversOfTheFamilyAreTheVxdAlone) {
  fake::FakePlatform fp;
  std::vector<DriverInspection> drivers = DriversOfFamily(WindowsFamily::k9x);
  AddWhatTheInstallerWrites(drivers);
  ASSERT_EQ(drivers.size(), 1u);
  EXPECT_EQ(drivers[0].filter, nullptr);
  EXPECT_EQ(drivers[0].imageRelativePath, "\\Iosubsys\\Kestrune.vxd");
  EXPECT_TRUE(drivers[0].classKeys.empty());
}

// ---- Warnings -----------------------------------------------------------------

TEST(JudgeWarnings, OtherDriversEntriesNamingNoServiceWarnWithoutChangingTheVerdict) {
  InstallationState s = Complete();
  s.classKeys[0].lower.push_back({"ghost", ServiceExistence::kMissing});
  s.classKeys[0].lower.push_back({"unsure", ServiceExistence::kUnknown});
  s.classKeys[2].upper = {{"upghost", ServiceExistence::kMissing},
                          {"present", ServiceExistence::kExists}};
  Judgement j = JudgeInstallation(s);
  EXPECT_EQ(int(j.verdict), int(Verdict::kRunning));
  EXPECT_EQ(j.warnings, (Lines{"LowerFilters of " + kAta + " lists \"ghost\", which names no existing service",
                               "UpperFilters of " + kCdrom + " lists \"upghost\", which names no existing service"}));
}

TEST(JudgeWarnings, AppearOnEveryVerdict) {
  for (auto make : {Complete, Clean}) {
    InstallationState s = make();
    s.classKeys[1].upper.push_back({"ghost", ServiceExistence::kMissing});
    Judgement j = JudgeInstallation(s);
    EXPECT_EQ(j.warnings.size(), 1u);
  }
}

TEST(JudgeWarnings, OurOwnListedNameWithoutServiceIsAProblemNotAWarning) {
  InstallationState s = Complete();
  Kestrune(s).service.presence = ServiceState::Presence::kMissing;
  s.classKeys[0].lower[0].service = ServiceExistence::kMissing;
  s.classKeys[1].lower[0].service = ServiceExistence::kMissing;
  s.classKeys[1].upper.push_back({"KESTRUNE", ServiceExistence::kMissing});
  Judgement j = JudgeInstallation(s);
  EXPECT_EQ(int(j.verdict), int(Verdict::kInconsistent));
  EXPECT_TRUE(j.warnings.empty());
}

// ---- The restart since the images were written ----------------------------------

TEST(StartedSince, NeverARestartOutOfNone) {
  constexpr uint64_t kMinute = 60ull * 10000000;
  constexpr uint64_t kNow = 133485408000000000ull;  // 2024-01-01
  struct Row {
    const char* what;
    uint64_t uptimeMs;
    uint64_t written;
    bool started;
  } rows[] = {
      {"started an hour after the write", 60 * 60000, kNow - 2 * 60 * kMinute, true},
      {"started before the write", 60 * 60000, kNow - 30 * kMinute, false},
      {"started at the write", 60 * 60000, kNow - 60 * kMinute, false},
      {"started within the margin after the write", 60 * 60000, kNow - 61 * kMinute, false},
      {"started just past the margin", 60 * 60000, kNow - 62 * kMinute - 1, true},
      {"written in the future (the clock went back)", 1000, kNow + kMinute, false},
      {"an uptime beyond 1601", ~0ull / 10000, 0, false},
      {"an uptime of 60 days", 60ull * 24 * 60 * 60000, kNow - 61ull * 24 * 60 * kMinute, true},
  };
  for (const Row& r : rows) EXPECT_EQ(StartedSince(kNow, r.uptimeMs, r.written), r.started) << r.what;
}

// ---- Settings -----------------------------------------------------------------

TEST(CompareServiceSettings, FieldsInOrderNumbersInDecimal) {
  ServiceConfig expected;
  expected.serviceType = 1;
  expected.binaryPath = "C:\\x.sys";
  ServiceConfig found = expected;
  found.startType = 0xFFFFFFFFu;
  std::vector<SettingComparison> c = CompareServiceSettings(found, expected, "C:\\WIN");
  ASSERT_EQ(c.size(), 5u);
  Lines fields;
  for (const auto& s : c) fields.push_back(s.field);
  EXPECT_EQ(fields, (Lines{"type", "start", "errorcontrol", "group", "imagepath"}));
  EXPECT_TRUE(c[0].same);
  EXPECT_FALSE(c[1].same);
  EXPECT_EQ(c[1].found, "4294967295");
}

// Every form in which Windows names the same image: the installer writes the
// full path, the service manager may hand it back in the NT namespace, and
// other tools write it relative to SystemRoot.
TEST(CompareServiceSettings, ImagePathInEveryFormWindowsReads) {
  struct Row {
    const char* found;
    bool same;
  } rows[] = {
      {"C:\\WIN\\System32\\Drivers\\K.sys", true},
      {"c:\\win\\system32\\drivers\\k.SYS", true},
      {"\\??\\C:\\WIN\\System32\\Drivers\\K.sys", true},
      {"\\??\\\\??\\C:\\WIN\\System32\\Drivers\\K.sys", false},  // only one prefix is the system's
      {"C:\\WIN\\System32\\Drivers\\K.sys ", false},
      {"\\SystemRoot\\System32\\Drivers\\K.sys", true},
      {"\\systemroot\\system32\\DRIVERS\\k.sys", true},
      {"\\SystemRoot\\Drivers\\K.sys", false},
      {"System32\\Drivers\\K.sys", true},
      {"system32\\drivers\\K.SYS", true},
      {"Drivers\\K.sys", false},
      {"\\??\\System32\\Drivers\\K.sys", false},  // no drive: a device named System32
      {"\\System32\\Drivers\\K.sys", false},  // rooted at the current drive
      {"D:System32\\Drivers\\K.sys", false},
      {"\\SystemRootX\\System32\\Drivers\\K.sys", false},
      {"\\SystemRoot", false},
      {"", false},
  };
  ServiceConfig expected;
  expected.binaryPath = "C:\\WIN\\System32\\Drivers\\K.sys";
  for (const Row& r : rows) {
    ServiceConfig found = expected;
    found.binaryPath = r.found;
    EXPECT_EQ(CompareServiceSettings(found, expected, "C:\\WIN")[4].same, r.same) << r.found;
  }
  // Without the system's folder known, only full paths compare.
  ServiceConfig relative = expected;
  relative.binaryPath = "System32\\Drivers\\K.sys";
  EXPECT_FALSE(CompareServiceSettings(relative, expected, "")[4].same);
}

}  // namespace
}  // namespace kst
