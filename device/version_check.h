#pragma once
#include <cstdint>
#include <string>

#include "platform/controls.h"

namespace kst {

// True when the driver file at `relativePath` below the system directory
// has the carried version. `label` receives the version text whenever one
// could be read; otherwise it is left as it was.
bool CheckDriverFliterVersion(const std::string& relativePath, IControl& label);

// "a.b.c.d" from the fixed file version fields: the high and low 16 bits of
// the most significant half, then of the least significant half, in decimal.
std::string FileVersionText(uint32_t fileVersionMS, uint32_t fileVersionLS);

}  // namespace kst
