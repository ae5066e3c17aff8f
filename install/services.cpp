#include "install/services.h"

#include <memory>
#include <optional>

#include "diag/error_text.h"
#include "diag/trace.h"
#include "install/class_filters.h"
#include "install/deploy.h"
#include "install/drivers.h"
#include "platform/platform.h"

namespace kst {

std::string ServiceKeyPath(const FilterDriver& driver) {
  return std::string("SYSTEM\\CurrentControlSet\\Services\\") + driver.serviceName;
}

ServiceConfig ServiceConfigOf(const FilterDriver& driver, const std::string& path) {
  ServiceConfig config;
  config.name = driver.serviceName;
  config.displayName = driver.service.displayName;
  config.desiredAccess = win::kServiceAllAccess;
  config.serviceType = win::kServiceKernelDriver;
  config.startType = driver.service.startType;
  config.errorControl = driver.service.errorControl;
  config.binaryPath = path;
  config.loadOrderGroup = driver.service.group;
  return config;
}

namespace {

// Creates the driver's service. False sets the failure mark, whatever the
// reason: a name in use as another service's display name (1078) leaves the
// driver without a service of its own, which a list must never name.
bool CreateFilterService(IServiceManager& manager, const FilterDriver& driver,
                         const std::string& path) {
  ISystem& system = Sys().system;
  system.SetLastError(0);
  if (manager.Create(ServiceConfigOf(driver, path))) {
    Trace(driver.texts.serviceCreated);
    return true;
  }
  Trace(driver.texts.createFailed + LastErrorText());
  return false;
}

// Makes sure the driver's service exists. False sets the failure mark, also
// when the service control manager cannot be opened: registering the lists
// then could name a boot-start filter that has no service behind it.
bool EnsureService(const FilterDriver& driver, const std::string& path) {
  std::unique_ptr<IServiceManager> manager =
      Sys().services.OpenManager(win::kScManagerAllAccess);
  if (!manager) {
    Trace(driver.texts.managerUnavailable);
    return false;
  }
  if (manager->Open(driver.serviceName, win::kServiceAllAccess)) {
    Trace(driver.texts.serviceExists);
    return true;
  }
  return CreateFilterService(*manager, driver, path);
}

// The failure mark's end of a step: the freshly written driver file goes,
// unless a class list (of an earlier installation) still names the driver.
// The lists are flushed first: a removal an earlier run made but did not
// flush could otherwise come back after a power cut, naming a deleted file.
bool Abandon(const FilterDriver& driver, const std::optional<std::string>& path) {
  if (path) {
    if (AnyLowerFilterMayName(driver.serviceName, driver.lists)) {
      Trace(std::string(driver.serviceName) + " still listed in LowerFilters, " +
            driver.image.fileName + " kept!");
    } else if (FlushClassLists(driver.lists)) {
      Sys().files.Delete(*path);
    }
  }
  Trace(driver.texts.installFailed);
  return false;
}

// Puts the service on the disk before any list names it: after a power cut
// a list entry that reached the disk without its service would keep the
// devices of the class from starting. A service whose creation was refused
// as a tolerated duplicate has no key of its own to flush.
bool FlushService(const FilterDriver& driver) {
  RegStatus status = FlushLocalMachineKey(ServiceKeyPath(driver));
  if (status == win::kErrorSuccess || status == RegStatus(win::kErrorFileNotFound)) return true;
  Trace("Failed to RegFlushKey " + ServiceKeyPath(driver));
  Trace(driver.texts.installFailed);
  return false;
}

// Registers every list of the driver, each one attempted whatever the others
// gave, and puts them on the disk: an installation that reports success
// must not be undone by a power cut.
bool RegisterLists(const FilterDriver& driver) {
  bool all = true;
  for (const ClassList& list : driver.lists) {
    Trace(list.registerLine);
    all = RegLowerFilter(driver.serviceName, list.key) && all;
  }
  all = FlushClassLists(driver.lists) && all;
  Trace(all ? driver.texts.listsRegistered : driver.texts.listFailed);
  return all;
}

}  // namespace

bool RegisterFilterDriver(const FilterDriver& driver) {
  std::optional<std::string> path = SystemPath(driver.image.relativePath);
  if (!path || !EnsureService(driver, *path)) return Abandon(driver, path);
  return FlushService(driver) && RegisterLists(driver);
}

bool DeleteFilterService(const FilterDriver& driver) {
  std::unique_ptr<IServiceManager> manager =
      Sys().services.OpenManager(win::kScManagerAllAccess);
  if (!manager) {
    Trace(driver.texts.removalManagerUnavailable);
    return false;
  }
  std::unique_ptr<IService> service = manager->Open(driver.serviceName, win::kDelete);
  if (!service) {
    Trace(driver.texts.removalServiceUnavailable);
    return false;
  }
  if (service->Delete() || Sys().system.GetLastError() == win::kErrorServiceMarkedForDelete) {
    return true;
  }
  Trace(driver.texts.deleteServiceFailed + LastErrorText());
  return false;
}

std::optional<bool> AwaitsDeletion(IServiceManager& manager, const std::string& name) {
  std::unique_ptr<IService> service = manager.Open(name, win::kServiceChangeConfig);
  if (!service) return std::nullopt;
  if (service->ChangeNothing()) return false;
  if (Sys().system.GetLastError() == win::kErrorServiceMarkedForDelete) return true;
  return std::nullopt;
}

bool AnyServiceAwaitsDeletion() {
  std::unique_ptr<IServiceManager> manager = Sys().services.OpenManager(win::kScManagerConnect);
  if (!manager) return false;  // the registration steps tell of it
  for (const FilterDriver* driver : kNtDrivers) {
    if (AwaitsDeletion(*manager, driver->serviceName).value_or(false)) {
      Trace(std::string("Failed to install Kestrune: the ") + driver->serviceName +
            " service awaits deletion, Windows must restart first!");
      return true;
    }
  }
  return false;
}

}  // namespace kst
