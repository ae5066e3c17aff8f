#include "install/services.h"

#include <memory>
#include <optional>
#include <vector>

#include "diag/error_text.h"
#include "diag/trace.h"
#include "install/class_filters.h"
#include "install/deploy.h"
#include "platform/platform.h"

namespace kst {
namespace {

// Everything in which the two registration steps differ.
struct RegistrationStep {
  const char* name;
  const char* displayName;
  uint32_t startType;
  uint32_t errorControl;
  const char* relativePath;
  const char* fileName;
  const char* group;  // empty: none
  bool toleratesDuplicateName;
  const char* existsLine;
  std::vector<ClassList> lists;
  const char* listsRegisteredLine;
  const char* listFailedLine;
};

const RegistrationStep kKestruneStep{
    REG_KESTRUNE,
    "Kestrune - Storage Filter Drivers",
    win::kServiceBootStart,
    win::kServiceErrorIgnore,
    kKestruneSysPath,
    "Kestrune.sys",
    "System Bus Extender",
    false,
    "Kestrune server exists, Re-update register inforamtiom!",
    {{KESTRUNE_REG_KEY_ATA, "Start RegLowerFilter: REG_KESTRUNE KESTRUNE_REG_KEY_ATA!"},
     {KESTRUNE_REG_KEY_SCSI, "Start RegLowerFilter: REG_KESTRUNE KESTRUNE_REG_KEY_SCSI!"}},
    "Success to RegLowerFilter Kestrune ATAPI!",
    "Failed to RegLowerFilter Kestrune ATAPI!",
};

const RegistrationStep kMorvellinStep{
    REG_MORVELLIN,
    "Morvellin - Storage Filter Drivers",
    win::kServiceDemandStart,
    win::kServiceErrorNormal,
    kMorvellinSysPath,
    "Morvellin.sys",
    "",
    true,
    "Morvellin server exists!",
    {{MORVELLIN_REG_KEY_CDVDROM, "Start RegLowerFilter: REG_MORVELLIN MORVELLIN_REG_KEY_CDVDROM!"}},
    "Success to RegLowerFilter Morvellin cdvdrom!",
    "Failed to RegLowerFilter Kestrune cdvdrom!",
};

ServiceConfig ConfigOf(const RegistrationStep& step, const std::string& path) {
  ServiceConfig config;
  config.name = step.name;
  config.displayName = step.displayName;
  config.desiredAccess = win::kServiceAllAccess;
  config.serviceType = win::kServiceKernelDriver;
  config.startType = step.startType;
  config.errorControl = step.errorControl;
  config.binaryPath = path;
  config.loadOrderGroup = step.group;
  return config;
}

// Creates the step's service. False sets the failure mark; a duplicate name
// is tolerated where the step allows it.
bool CreateFilterService(IServiceManager& manager, const RegistrationStep& step,
                         const std::string& path) {
  ISystem& system = Sys().system;
  system.SetLastError(0);
  if (manager.Create(ConfigOf(step, path))) {
    Trace(std::string("Create ") + step.name + " service success!");
    return true;
  }
  ErrorCode code = system.GetLastError();
  Trace(std::string("Faile to create ") + step.name + " service!\n" + LastErrorText());
  return step.toleratesDuplicateName && code == win::kErrorDuplicateServiceName;
}

// Makes sure the step's service exists. False sets the failure mark, also
// when the service control manager cannot be opened: registering the lists
// then could name a boot-start filter that has no service behind it.
bool EnsureService(const RegistrationStep& step, const std::string& path) {
  std::unique_ptr<IServiceManager> manager =
      Sys().services.OpenManager(win::kScManagerAllAccess);
  if (!manager) {
    Trace(std::string(step.name) + " server not exists");
    return false;
  }
  if (manager->Open(step.name, win::kServiceAllAccess)) {
    Trace(step.existsLine);
    return true;
  }
  return CreateFilterService(*manager, step, path);
}

// The failure mark's end of a step: the freshly written driver file goes,
// unless a class list (of an earlier installation) still names the driver.
bool Abandon(const RegistrationStep& step, const std::optional<std::string>& path) {
  if (path) {
    if (AnyLowerFilterMayName(step.name, step.lists)) {
      Trace(std::string(step.name) + " still listed in LowerFilters, " + step.fileName +
            " kept!");
    } else {
      Sys().files.Delete(*path);
    }
  }
  Trace(std::string("Failed to install ") + step.name + " service!");
  return false;
}

// Registers every list of the step, each one attempted whatever the others gave.
bool RegisterLists(const RegistrationStep& step) {
  bool all = true;
  for (const ClassList& list : step.lists) {
    Trace(list.line);  // "Start RegLowerFilter: ..."
    all = RegLowerFilter(step.name, list.key) && all;
  }
  Trace(all ? step.listsRegisteredLine : step.listFailedLine);
  return all;
}

bool RunRegistrationStep(const RegistrationStep& step) {
  std::optional<std::string> path = SystemPath(step.relativePath);
  if (!path || !EnsureService(step, *path)) return Abandon(step, path);
  return RegisterLists(step);
}

}  // namespace

bool InstallKestruneNT() { return RunRegistrationStep(kKestruneStep); }

bool InstallMorvellinNT() { return RunRegistrationStep(kMorvellinStep); }

bool DeleteFilterService(const std::string& serviceName) {
  std::unique_ptr<IServiceManager> manager =
      Sys().services.OpenManager(win::kScManagerAllAccess);
  if (!manager) {
    Trace("Failed to OpenSCManager " + serviceName);
    return false;
  }
  std::unique_ptr<IService> service = manager->Open(serviceName, win::kDelete);
  if (!service) {
    Trace("Failed to OpenService " + serviceName);
    return false;
  }
  if (service->Delete()) return true;
  Trace("Failed to DeleteService " + serviceName + " driver!\n" + LastErrorText());
  return false;
}

}  // namespace kst
