#pragma once
// The running system's facilities over the real Win32 calls. The program
// entry installs this set with ScopedPlatform before any logic runs.
//
// Brings windows.h in through windows_api.h, which removes the windows.h
// macros that collide with the seam's method names, so this header may follow
// a plain #include <windows.h>.
#include "platform/win32/windows_api.h"

#include "platform/platform.h"

namespace kst {

// One set of adapters for the life of the process.
Platform& Win32Platform();

}  // namespace kst
