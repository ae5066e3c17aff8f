#pragma once
// What is installed right now: the versions of the running family's driver
// files and what the running filter reports. Needs no window, so a console
// program can ask it as well as the main window.
#include <vector>

#include "device/inventory.h"
#include "device/version_check.h"
#include "install/drivers.h"

namespace kst {

enum class WindowsFamily { kNt, k9x };

struct ImageStatus {
  const DriverImage* image = nullptr;
  InstalledVersion version;
};

struct DriverStatus {
  WindowsFamily family = WindowsFamily::kNt;
  // The family's images in their fixed order: the adapter-level one first.
  std::vector<ImageStatus> images;
  bool filesCurrent = false;  // every image has the carried version
  // The filter answered: on NT it accepted the initiate request, on 9x it
  // reported entries. Only asked when the files are current.
  bool filterRunning = false;
  DeviceInventory devices;  // what the filter reported; empty when not asked

  // The filter counts as installed: current files and a filter that answers.
  bool Installed() const { return filesCurrent && filterRunning; }
};

// True when `status` makes the install option carry the already-installed
// mark: the filter is installed and running on the NT family. On 9x the
// mark is never set, so installing there asks nothing first.
bool MarksInstalled(const DriverStatus& status);

// Checks every driver file of the running family and, when all are current,
// asks the running filter for its devices. On NT the filter is initiated,
// its device list traced, and uninitiated again before this returns. Writes
// the trace lines of every step; changes nothing on the machine.
DriverStatus QueryDriverStatus();

// The trace lines of a device list: the list lines between two rules when
// there are records, then the three counters.
void TraceDeviceList(const DeviceInventory& inventory);

}  // namespace kst
