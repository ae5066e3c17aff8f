#include "install/services.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>

#include "platform/fake/fake_platform.h"
#include "tests/unit/install/nt_machine.h"
#include "tests/unit/support/trace_capture.h"

namespace kst {
namespace {

using fake::FakePlatform;
using namespace kst::test;
using Lines = std::vector<std::string>;

// An NT machine whose deployment has just written both driver files.
void SeedDeployed(FakePlatform& fp, bool withOthers = true) {
  SeedNtMachine(fp, withOthers);
  fp.files.files[kKestruneFile].bytes = fp.resources.images[104];
  fp.files.files[kMorvellinFile].bytes = fp.resources.images[105];
}

void SeedService(FakePlatform& fp, const std::string& name) {
  fp.services.services[name].config.name = name;
}

size_t CallCount(const FakePlatform& fp, const std::string& call) {
  return size_t(std::count(fp.calls.begin(), fp.calls.end(), call));
}

Lines KestruneListLines(const std::string& outcome) {
  return {"Start RegLowerFilter: REG_KESTRUNE KESTRUNE_REG_KEY_ATA!",
          "RegLowerFilter: Kestrune: " + kAdapterClass,
          "Success to RegLowerFilter " + kAdapterClass,
          "Start RegLowerFilter: REG_KESTRUNE KESTRUNE_REG_KEY_SCSI!",
          "RegLowerFilter: Kestrune: " + kIdeClass,
          "Success to RegLowerFilter " + kIdeClass,
          outcome};
}

// ---- Registration steps ----------------------------------------------------------

TEST(KestruneRegistration, FirstInstallCreatesBootStartServiceAndHeadsBothLists) {
  FakePlatform fp;
  TraceCapture trace(fp);
  SeedDeployed(fp);
  EXPECT_TRUE(RegisterFilterDriver(kKestrune));
  const ServiceConfig& c = fp.services.services.at("Kestrune").config;
  EXPECT_EQ(c.displayName, "Kestrune - Storage Filter Drivers");
  EXPECT_EQ(c.desiredAccess, 0xF01FFu);
  EXPECT_EQ(c.serviceType, 1u);
  EXPECT_EQ(c.startType, 0u);
  EXPECT_EQ(c.errorControl, 0u);
  EXPECT_EQ(c.binaryPath, kKestruneFile);
  EXPECT_EQ(c.loadOrderGroup, "System Bus Extender");
  EXPECT_EQ(ListOf(fp, kAdapterClass), (Entries{"Kestrune", "atapiflt", "SCSIFLT2"}));
  EXPECT_EQ(ListOf(fp, kIdeClass), (Entries{"Kestrune", "ideguard"}));
  EXPECT_EQ(ListOf(fp, kCdromClass), (Entries{"imapi", "redbook"}));
  Lines expected{"Create Kestrune service success!"};
  for (const auto& l : KestruneListLines("Success to RegLowerFilter Kestrune ATAPI!")) {
    expected.push_back(l);
  }
  EXPECT_EQ(trace.Lines(), expected);
  EXPECT_EQ(fp.OpenHandles(), 0);
}

TEST(MorvellinRegistration, FirstInstallCreatesDemandStartServiceWithoutGroup) {
  FakePlatform fp;
  TraceCapture trace(fp);
  SeedDeployed(fp, false);
  EXPECT_TRUE(RegisterFilterDriver(kMorvellin));
  const ServiceConfig& c = fp.services.services.at("Morvellin").config;
  EXPECT_EQ(c.displayName, "Morvellin - Storage Filter Drivers");
  EXPECT_EQ(c.desiredAccess, 0xF01FFu);
  EXPECT_EQ(c.serviceType, 1u);
  EXPECT_EQ(c.startType, 3u);
  EXPECT_EQ(c.errorControl, 1u);
  EXPECT_EQ(c.binaryPath, kMorvellinFile);
  EXPECT_EQ(c.loadOrderGroup, "");
  EXPECT_EQ(ListOf(fp, kCdromClass), (Entries{"Morvellin"}));
  EXPECT_EQ(fp.registry.keys[kCdromClass]["LowerFilters"].bytes.size(), 11u);
  EXPECT_EQ(trace.Lines(), (Lines{"Create Morvellin service success!",
                                  "Start RegLowerFilter: REG_MORVELLIN MORVELLIN_REG_KEY_CDVDROM!",
                                  "RegLowerFilter: Morvellin: " + kCdromClass,
                                  "Success to RegLowerFilter " + kCdromClass,
                                  "Success to RegLowerFilter Morvellin cdvdrom!"}));
}

TEST(RegistrationSteps, ExistingServicesAreKeptAndListsRewrittenOnce) {
  FakePlatform fp;
  TraceCapture trace(fp);
  SeedDeployed(fp);
  SeedService(fp, "Kestrune");
  SeedService(fp, "Morvellin");
  fp.registry.SetMultiSz(kAdapterClass, "LowerFilters", {"Kestrune", "atapiflt", "SCSIFLT2"});
  fp.registry.SetMultiSz(kCdromClass, "LowerFilters", {"imapi", "MORVELLIN", "redbook"});
  EXPECT_TRUE(RegisterFilterDriver(kKestrune));
  EXPECT_TRUE(RegisterFilterDriver(kMorvellin));
  EXPECT_EQ(CallCount(fp, "CreateServiceA") + CallCount(fp, "DeleteService"), 0u);
  EXPECT_EQ(fp.services.services.at("Kestrune").config.binaryPath, "") << "not reconfigured";
  EXPECT_EQ(ListOf(fp, kAdapterClass), (Entries{"Kestrune", "atapiflt", "SCSIFLT2"}));
  EXPECT_EQ(ListOf(fp, kCdromClass), (Entries{"Morvellin", "imapi", "redbook"}));
  Lines lines = trace.Lines();
  EXPECT_EQ(lines.front(), "Kestrune server exists, Re-update register inforamtiom!");
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Morvellin server exists!"), lines.end());
  EXPECT_EQ(fp.OpenHandles(), 0);
}

// A creation that fails: which error, for which step, and what follows.
struct CreateFailure {
  const char* what;
  bool kestrune;
  uint32_t error;
  bool result;
  bool fileKept;
  bool listed;
};

void PrintTo(const CreateFailure& c, std::ostream* os) { *os << c.what; }

class CreationFailure : public ::testing::TestWithParam<CreateFailure> {};

TEST_P(CreationFailure, SetsFailureMark) {
  const CreateFailure& c = GetParam();
  FakePlatform fp;
  TraceCapture trace(fp);
  SeedDeployed(fp);
  fp.faults.Fail("CreateServiceA", c.error);
  const std::string name = c.kestrune ? "Kestrune" : "Morvellin";
  const std::string file = c.kestrune ? kKestruneFile : kMorvellinFile;
  const std::string key = c.kestrune ? kAdapterClass : kCdromClass;
  EXPECT_EQ(RegisterFilterDriver(c.kestrune ? kKestrune : kMorvellin), c.result);
  EXPECT_EQ(fp.files.Has(file), c.fileKept);
  EXPECT_EQ(Count(ListOf(fp, key), name), c.listed ? 1 : 0);
  Lines lines = trace.Lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Faile to create " + name + " service!\nError Code: " +
                          std::to_string(c.error) + " Message " + std::to_string(c.error) +
                          ".\r\n");
  if (!c.result) {
    EXPECT_EQ(lines, (Lines{lines[0], "Failed to install " + name + " service!"}));
  }
  ExpectSafeState(fp, c.what);
}

INSTANTIATE_TEST_SUITE_P(
    Errors, CreationFailure,
    // 1078: the name is another service's display name. Listing the driver
    // then would leave the devices of its class without a driver of its own.
    ::testing::Values(CreateFailure{"KestruneDuplicateName", true, 1078, false, false, false},
                      CreateFailure{"KestruneAccessDenied", true, 5, false, false, false},
                      CreateFailure{"MorvellinDuplicateName", false, 1078, false, false, false},
                      CreateFailure{"MorvellinAccessDenied", false, 5, false, false, false}),
    [](const auto& info) { return info.param.what; });

TEST(RegistrationSteps, ServiceManagerUnavailableRegistersNoList) {
  for (bool kestrune : {true, false}) {
    FakePlatform fp;
    TraceCapture trace(fp);
    SeedDeployed(fp);
    fp.faults.Fail("OpenSCManagerA", 5);
    const std::string name = kestrune ? "Kestrune" : "Morvellin";
    EXPECT_FALSE(RegisterFilterDriver(kestrune ? kKestrune : kMorvellin));
    EXPECT_EQ(trace.Lines(),
              (Lines{name + " server not exists", "Failed to install " + name + " service!"}));
    EXPECT_FALSE(fp.files.Has(kestrune ? kKestruneFile : kMorvellinFile));
    EXPECT_EQ(CallCount(fp, "RegSetValueExA"), 0u);
    ExpectSafeState(fp, name);
  }
}

TEST(RegistrationSteps, FailedStepKeepsFileStillNamedByEarlierInstallation) {
  // Re-installation: the service cannot be opened, so its creation is tried
  // and refused; the lists of the first installation still name the driver.
  FakePlatform fp;
  TraceCapture trace(fp);
  SeedDeployed(fp);
  SeedService(fp, "Kestrune");
  fp.registry.SetMultiSz(kIdeClass, "LowerFilters", {"Kestrune", "ideguard"});
  fp.faults.Fail("OpenServiceA", 5);
  EXPECT_FALSE(RegisterFilterDriver(kKestrune));
  EXPECT_TRUE(fp.files.Has(kKestruneFile));
  Lines lines = trace.Lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "Kestrune still listed in LowerFilters, Kestrune.sys kept!");
  EXPECT_EQ(lines.back(), "Failed to install Kestrune service!");
  ExpectSafeState(fp, "re-install");
}

TEST(KestruneRegistration, BothKeysAttemptedWhenFirstFails) {
  FakePlatform fp;
  TraceCapture trace(fp);
  SeedDeployed(fp);
  fp.registry.keys.erase(kAdapterClass);
  EXPECT_FALSE(RegisterFilterDriver(kKestrune));
  EXPECT_EQ(ListOf(fp, kIdeClass), (Entries{"Kestrune", "ideguard"}));
  EXPECT_EQ(trace.Lines(), (Lines{"Create Kestrune service success!",
                                  "Start RegLowerFilter: REG_KESTRUNE KESTRUNE_REG_KEY_ATA!",
                                  "RegLowerFilter: Kestrune: " + kAdapterClass,
                                  "Failed to RegLowerFilter " + kAdapterClass,
                                  "Start RegLowerFilter: REG_KESTRUNE KESTRUNE_REG_KEY_SCSI!",
                                  "RegLowerFilter: Kestrune: " + kIdeClass,
                                  "Success to RegLowerFilter " + kIdeClass,
                                  "Failed to RegLowerFilter Kestrune ATAPI!"}));
}

TEST(MorvellinRegistration, FailedListUsesItsOwnFailureText) {
  FakePlatform fp;
  TraceCapture trace(fp);
  SeedDeployed(fp);
  fp.faults.Fail("RegSetValueExA", 5);
  EXPECT_FALSE(RegisterFilterDriver(kMorvellin));
  EXPECT_EQ(trace.Lines().back(), "Failed to RegLowerFilter Kestrune cdvdrom!");
  EXPECT_EQ(ListOf(fp, kCdromClass), (Entries{"imapi", "redbook"}));
  EXPECT_TRUE(fp.files.Has(kMorvellinFile)) << "a list failure does not delete the file";
}

// ---- DeleteFilterService ---------------------------------------------------------

TEST(DeleteFilterService, Table) {
  struct Row {
    const char* what;
    const FilterDriver& driver;
    bool exists;
    const char* failCall;
    bool result;
    Lines lines;
  } rows[] = {
      {"accepted", kMorvellin, true, nullptr, true, {}},
      {"manager unavailable", kMorvellin, true, "OpenSCManagerA", false,
       {"Failed to OpenSCManager Morvellin"}},
      {"service absent", kMorvellin, false, nullptr, false, {"Failed to OpenService Morvellin"}},
      {"service cannot be opened", kMorvellin, true, "OpenServiceA", false,
       {"Failed to OpenService Morvellin"}},
      {"deletion refused", kMorvellin, true, "DeleteService", false,
       {"Failed to DeleteService Morvellin driver!\nError Code: 5 Message 5.\r\n"}},
      {"Kestrune manager unavailable", kKestrune, true, "OpenSCManagerA", false,
       {"Failed to OpenSCManager Kestrune"}},
      {"Kestrune service absent", kKestrune, false, nullptr, false,
       {"Failed to OpenService Kestrune"}},
      {"Kestrune deletion refused", kKestrune, true, "DeleteService", false,
       {"Failed to DeleteService Kestrune driver!\nError Code: 5 Message 5.\r\n"}},
      // An earlier removal was accepted; the service goes at the restart.
      {"already marked for deletion", kKestrune, true, "marked", true, {}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    FakePlatform fp;
    TraceCapture trace(fp);
    const std::string name = r.driver.serviceName;
    const bool marked = r.failCall && std::string(r.failCall) == "marked";
    if (r.exists) SeedService(fp, name);
    if (marked) {
      fp.services.services[name].markedForDeletion = true;
    } else if (r.failCall) {
      fp.faults.Fail(r.failCall, 5);
    }
    EXPECT_EQ(DeleteFilterService(r.driver), r.result);
    EXPECT_EQ(trace.Lines(), r.lines);
    EXPECT_EQ(fp.services.services.count(name), (r.exists && !r.result) || marked ? 1u : 0u);
    EXPECT_EQ(fp.OpenHandles(), 0);
  }
}

// ---- Whether a service awaits deletion ---------------------------------------------------

TEST(AwaitsDeletion, AskedWithAChangeOfNothing) {
  struct Row {
    const char* what;
    std::function<void(FakePlatform&)> arrange;
    std::optional<bool> answer;
  } rows[] = {
      {"present", [](FakePlatform& fp) { SeedService(fp, "Kestrune"); }, false},
      {"marked", [](FakePlatform& fp) {
         SeedService(fp, "Kestrune");
         fp.services.services["Kestrune"].markedForDeletion = true;
       }, true},
      {"absent", [](FakePlatform&) {}, std::nullopt},
      {"no right to ask", [](FakePlatform& fp) {
         SeedService(fp, "Kestrune");
         fp.faults.Fail("OpenServiceA", 5);
       }, std::nullopt},
      {"the change refused otherwise", [](FakePlatform& fp) {
         SeedService(fp, "Kestrune");
         fp.faults.Fail("ChangeServiceConfigA", 87);
       }, std::nullopt},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    FakePlatform fp;
    r.arrange(fp);
    std::unique_ptr<IServiceManager> manager = fp.services.OpenManager(win::kScManagerConnect);
    EXPECT_EQ(AwaitsDeletion(*manager, "Kestrune"), r.answer);
    manager.reset();
    EXPECT_EQ(fp.services.serviceAccess, std::vector<uint32_t>{win::kServiceChangeConfig});
    EXPECT_EQ(fp.services.services.count("Kestrune"), r.what == std::string("absent") ? 0u : 1u);
    EXPECT_EQ(fp.OpenHandles(), 0);
  }
}

}  // namespace
}  // namespace kst
