#pragma once
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
bool InstallKestruneNT();   // of kKestrune
bool InstallMorvellinNT();  // of kMorvellin

// Removes the driver's service; true when the service control manager
// accepted the deletion.
bool DeleteFilterService(const FilterDriver& driver);

}  // namespace kst
