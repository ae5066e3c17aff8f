#pragma once
// The Windows family a program runs on, and the drivers of each family: the
// one list that deploying, the status window and the check all walk.
#include <span>

#include "install/drivers.h"

namespace kst {

enum class WindowsFamily { kNt, k9x };

// The family of the running system (GetVersionExA's platform id); asked
// anew every time.
WindowsFamily RunningFamily();

// One driver of a family: on the NT family a filter driver with its service
// and class lists, on the 9x family the VxD alone.
struct FamilyDriver {
  const char* name;             // the service and class list name
  const DriverImage* image;
  const FilterDriver* filter;  // NT family only; null on the 9x family
};

// The drivers of `family` in their fixed order (the adapter-level one
// first), the order they are written, registered, removed and shown in.
std::span<const FamilyDriver> DriversOf(WindowsFamily family);

}  // namespace kst
