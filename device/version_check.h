#pragma once
#include <string>

#include "platform/controls.h"

namespace kst {

// True when the driver file at `relativePath` below the system directory
// has the carried version. `label` receives the version text whenever one
// could be read; otherwise it is left as it was.
bool CheckDriverFliterVersion(const std::string& relativePath, IControl& label);

}  // namespace kst
