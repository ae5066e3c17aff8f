#pragma once
#include <optional>
#include <string>

#include "install/drivers.h"

namespace kst {

// True on the NT family, false on the 9x family; asked anew every time.
bool IsWindowsNT();

// The system directory with `relativePath` appended, or nullopt when the
// whole does not fit in a MAX_PATH buffer with its terminating zero.
std::optional<std::string> SystemPath(const std::string& relativePath);

// How a trace line names the file at `relativePath`: its `path` as
// SystemPath gave it, or, when there was none, the system directory and the
// relative path as they stand.
std::string PathForTrace(const std::optional<std::string>& path, const std::string& relativePath);

// Writes one embedded image to its path below the system directory. True
// when the whole image was written; every failure has been traced and shown
// in the copy failure box.
bool Copyfile(const std::string& relativePath, int resourceId);
bool Copyfile(const DriverImage& image);

// Writes the running family's images in their fixed order, stopping at the
// first that fails. True when all were written.
bool DeployDriverImages();

}  // namespace kst
