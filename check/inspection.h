#pragma once
// What KstCheck reads of a machine: the installation as the status window
// reads it and, on the NT family, the services, the class keys' filter
// lists and the requests for the next start of Windows. Writes nothing.
#include "device/installation.h"

namespace kst {

struct MachineInspection {
  InstallationState state;
  // Another install or uninstall held the machine all the while the check
  // waited for it (kCheckLockWaitMs), so what was read may be changing.
  bool anotherRunActive = false;
};

// True when the system started later than a margin after `newestWrite`:
// `now` and `newestWrite` are FILETIMEs, `uptimeMs` the milliseconds since
// the start. The margin absorbs small corrections of the clock and coarse
// file times, which must never make a restart out of none.
bool StartedSince(uint64_t now, uint64_t uptimeMs, uint64_t newestWrite);

// Fills in, from each NT driver's facts, the service as the installer
// creates it and the class keys whose LowerFilters list it.
void AddWhatTheInstallerWrites(std::vector<DriverInspection>& drivers);

// Reads the machine: the family's images, on the NT family the services and
// the three class keys' filter lists, and the filter's control device as the
// status display asks it. Writes nothing to the registry or the disk. It
// holds the machine against installs and uninstalls while it reads, and
// reads anyway when it cannot have it.
MachineInspection InspectMachine();

}  // namespace kst
