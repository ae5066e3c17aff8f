#pragma once
#include <optional>
#include <string>

#include "install/drivers.h"
#include "platform/platform.h"

namespace kst {

// The service's key, where the service control manager keeps it:
// "SYSTEM\CurrentControlSet\Services\<name>" below HKEY_LOCAL_MACHINE.
std::string ServiceKeyPath(const FilterDriver& driver);

// The service as registration creates it, its driver file at `path`.
ServiceConfig ServiceConfigOf(const FilterDriver& driver, const std::string& path);

// The registration step of the NT installation: the kernel service and the
// class filter lists of one driver. True when every list was registered.
bool RegisterFilterDriver(const FilterDriver& driver);

// Removes the driver's service; true when the service control manager
// accepted the deletion, also when an earlier removal did and the service
// awaits its deletion at the next start of Windows.
bool DeleteFilterService(const FilterDriver& driver);

// Whether the service `name` awaits its deletion at the next start of
// Windows (deleted while its driver was loaded), asked with a change of
// nothing, for which it is opened with SERVICE_CHANGE_CONFIG. Nullopt when
// that cannot tell: no such service, no right to ask, another failure.
std::optional<bool> AwaitsDeletion(IServiceManager& manager, const std::string& name);

// True when a service of the NT family's drivers awaits its deletion; the
// first one found is traced. An installation must wait for the restart:
// the service manager removes such a service then, whatever lists name it.
bool AnyServiceAwaitsDeletion();

}  // namespace kst
