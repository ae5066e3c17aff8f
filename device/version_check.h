#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace kst {

// What the version check found in one driver file.
struct InstalledVersion {
  std::optional<std::string> text;  // "a.b.c.d"; none when it could not be read
  bool current = false;             // the text is the carried version
};

// Reads the version of the driver file at `relativePath` below the system
// directory; every failure is traced.
InstalledVersion CheckDriverFliterVersion(const std::string& relativePath);

// The file version of the file at the full path `path`; nullopt when it
// cannot be read, which is traced.
std::optional<std::string> FileVersionAt(const std::string& path);

// "a.b.c.d" from the fixed file version fields: the high and low 16 bits of
// the most significant half, then of the least significant half, in decimal.
std::string FileVersionText(uint32_t fileVersionMS, uint32_t fileVersionLS);

}  // namespace kst
