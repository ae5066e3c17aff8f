#pragma once
#include <optional>
#include <string>

namespace kst {

// Relative paths of the driver files below the system directory.
inline constexpr const char* kKestruneSysPath = "\\Drivers\\Kestrune.sys";
inline constexpr const char* kMorvellinSysPath = "\\Drivers\\Morvellin.sys";
inline constexpr const char* kKestruneVxdPath = "\\Iosubsys\\Kestrune.vxd";

// Resource ids of the driver images (resource type "DRIVER").
inline constexpr int kKestruneSysResource = 104;
inline constexpr int kMorvellinSysResource = 105;
inline constexpr int kKestruneVxdResource = 106;

// The file version every carried image has.
inline constexpr const char* kCarriedDriverVersion = "1.4.2.11";

// True on the NT family, false on the 9x family; asked anew every time.
bool IsWindowsNT();

// The system directory with `relativePath` appended, or nullopt when the
// whole does not fit in a MAX_PATH buffer with its terminating zero.
std::optional<std::string> SystemPath(const std::string& relativePath);

// Writes one embedded image to its path below the system directory. True
// when the whole image is in place; a file already there is replaced only by
// the complete new image and otherwise stays as it was. Every failure has
// been traced and shown in the copy failure box.
bool Copyfile(const std::string& relativePath, int resourceId);

// Writes the running family's images in their fixed order, stopping at the
// first that fails. True when all were written.
bool DeployDriverImages();

}  // namespace kst
