#pragma once
#include <string>

namespace kst {

// Registration steps of the NT installation: the kernel service and the
// class filter lists of one driver. True when every list was registered.
bool InstallKestruneNT();
bool InstallMorvellinNT();

// Removes one filter service ("Kestrune" or "Morvellin"); true when the
// service control manager accepted the deletion.
bool DeleteFilterService(const std::string& serviceName);

}  // namespace kst
