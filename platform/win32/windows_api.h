#pragma once
// windows.h for code that also sees the platform seam. windows.h maps some
// generic names to their A or W variants by macro, and three of them are
// also method names of the seam (ISystem::GetVersionEx,
// IShutdown::LookupPrivilegeValue, IShutdown::ExitWindows). Including
// windows.h through this header removes those macros, so the seam keeps one
// meaning in every translation unit; code here calls the A variants by their
// full names.
#include <windows.h>
#include <winsvc.h>
#include <winver.h>

#undef GetVersionEx
#undef LookupPrivilegeValue
#undef ExitWindows
