#pragma once
// Where the carried images are written on a fake machine, whose system
// directory is the fake's default.
#include <string>

#include "install/drivers.h"

namespace kst::test {

inline const std::string kSysDir = "C:\\WINDOWS\\system32";
inline const std::string kKestruneFile = kSysDir + kKestrune.image.relativePath;
inline const std::string kMorvellinFile = kSysDir + kMorvellin.image.relativePath;
inline const std::string kVxdFile = kSysDir + kKestruneVxd.relativePath;

}  // namespace kst::test
