// The judgement of an installation state: every verdict, every kind of
// problem, and the warnings about other drivers' entries.
#include "install/installation_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

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
  s.nt = true;
  s.drivers = DriversOfFamily(true);
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
  s.nt = false;
  s.drivers = DriversOfFamily(false);
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

TEST(Judge9x, DriversOfTheFamilyAreTheVxdAlone) {
  fake::FakePlatform fp;
  std::vector<DriverInspection> drivers = DriversOfFamily(false);
  ASSERT_EQ(drivers.size(), 1u);
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
  Judgement j = JudgeInstallation(s);
  EXPECT_EQ(int(j.verdict), int(Verdict::kInconsistent));
  EXPECT_TRUE(j.warnings.empty());
}

// ---- Settings -----------------------------------------------------------------

TEST(CompareServiceSettings, FieldsInOrderNumbersInDecimal) {
  ServiceConfig expected;
  expected.serviceType = 1;
  expected.binaryPath = "C:\\x.sys";
  ServiceConfig found = expected;
  found.startType = 0xFFFFFFFFu;
  std::vector<SettingComparison> c = CompareServiceSettings(found, expected);
  ASSERT_EQ(c.size(), 5u);
  Lines fields;
  for (const auto& s : c) fields.push_back(s.field);
  EXPECT_EQ(fields, (Lines{"type", "start", "errorcontrol", "group", "imagepath"}));
  EXPECT_TRUE(c[0].same);
  EXPECT_FALSE(c[1].same);
  EXPECT_EQ(c[1].found, "4294967295");
}

TEST(CompareServiceSettings, ImagePathPrefixAndCase) {
  struct Row {
    const char* found;
    bool same;
  } rows[] = {
      {"C:\\WIN\\Drivers\\K.sys", true},
      {"c:\\win\\drivers\\k.SYS", true},
      {"\\??\\C:\\WIN\\Drivers\\K.sys", true},
      {"\\??\\\\??\\C:\\WIN\\Drivers\\K.sys", false},  // only one prefix is the system's
      {"C:\\WIN\\Drivers\\K.sys ", false},
      {"\\SystemRoot\\Drivers\\K.sys", false},
      {"", false},
  };
  ServiceConfig expected;
  expected.binaryPath = "C:\\WIN\\Drivers\\K.sys";
  for (const Row& r : rows) {
    ServiceConfig found = expected;
    found.binaryPath = r.found;
    EXPECT_EQ(CompareServiceSettings(found, expected)[4].same, r.same) << r.found;
  }
}

}  // namespace
}  // namespace kst
