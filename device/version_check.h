#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace kst {

// Reads the version ("a.b.c.d") of the driver file at `relativePath` below
// the system directory, and traces it; nullopt when it cannot be read, and
// every failure is traced.
std::optional<std::string> CheckDriverFliterVersion(const std::string& relativePath);

// The file version of the file at the full path `path`; nullopt when it
// cannot be read, which is traced.
std::optional<std::string> FileVersionAt(const std::string& path);

// "a.b.c.d" from the fixed file version fields: the high and low 16 bits of
// the most significant half, then of the least significant half, in decimal.
std::string FileVersionText(uint32_t fileVersionMS, uint32_t fileVersionLS);

}  // namespace kst
