#pragma once
// The installation as it stands on a machine: the one value that the status
// window and the console check both read. ReadInstallation fills the part
// both show (the family, each driver's image, what the running filter
// answers); the check adds, on the NT family, the services, the class keys'
// filter lists and the requests for the next start of Windows.
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "device/inventory.h"
#include "install/class_filters.h"
#include "install/family.h"
#include "install/filter_list.h"
#include "platform/platform.h"

namespace kst {

// One driver file of the running family.
struct ImageState {
  enum class Presence { kMissing, kNoVersion, kVersion };
  // What the requests for the next start of Windows make of it.
  enum class AtRestart { kStays, kReplaced, kDeleted };
  // The full path below the system directory, as the lines and the trace
  // name the file. When that does not fit in the system's buffer it names
  // no file the system could open (the system directory and the relative
  // path as they stand), and `reachable` is false: nothing is read there.
  std::string path;
  Presence presence = Presence::kMissing;
  std::string version;  // kVersion: the file version text
  AtRestart atRestart = AtRestart::kStays;
  // kReplaced: the file a request moves into its place, as it is now.
  std::string replacementPath;
  Presence replacementPresence = Presence::kMissing;
  std::string replacementVersion;
  bool reachable = true;  // see `path`

  // The file holds the carried version: the one place this is decided.
  bool Current() const;
};

// One kernel service of ours, as the service manager holds it.
struct ServiceState {
  enum class Presence { kMissing, kPresent, kUnreadable };
  // kPresent: whether it awaits its deletion at the next start of Windows.
  enum class Mark { kNone, kAwaitsDeletion, kUnknown };
  Presence presence = Presence::kUnreadable;
  ServiceConfig config;  // kPresent: type, start, error control, image path, group
  Mark mark = Mark::kNone;
};

// Whether a service of a filter list entry's name exists.
enum class ServiceExistence { kExists, kMissing, kUnknown };

struct FilterEntry {
  std::string name;
  ServiceExistence service = ServiceExistence::kUnknown;
};

// The two filter lists of one class key.
struct ClassKeyState {
  std::string key;
  StoredFilterList::State lowerState = StoredFilterList::State::kNoKey;
  std::vector<FilterEntry> lower;
  StoredFilterList::State upperState = StoredFilterList::State::kNoKey;
  std::vector<FilterEntry> upper;
  uint32_t lowerType = win::kRegMultiSz;  // only a REG_MULTI_SZ is read as a filter list
};

// One filter driver: what the installer writes for it and what is there.
struct DriverInspection {
  std::string name;  // service and filter list name
  std::string imageRelativePath;
  ImageState image;
  // NT family only, filled in by the check.
  const FilterDriver* filter = nullptr;  // the installer's facts of it
  ServiceConfig expected;                // the service as the installer creates it
  ServiceState service;
  std::vector<std::string> classKeys;  // keys whose LowerFilters list it
};

// A request for the next start of Windows that names an image of ours.
struct PendingOperation {
  enum class Kind { kReplace, kDelete };  // a file moved there; the image deleted or moved away
  Kind kind = Kind::kReplace;
  std::string path;  // the image's full path
};

struct InstallationState {
  WindowsFamily family = WindowsFamily::kNt;
  std::vector<DriverInspection> drivers;  // the family's, in deployment order
  // The filter's control device is asked only when every image is current.
  bool filterAsked = false;
  // The filter answered: on NT it accepted the initiate request, on 9x it
  // reported entries.
  bool filterAnswers = false;
  DeviceInventory devices;  // what the filter reported; empty when not asked

  // Read by the check only, on the NT family:
  std::vector<ClassKeyState> classKeys;  // the class keys the drivers are listed in
  // The requests for the restart naming our images, in order.
  std::vector<PendingOperation> pending;
  bool pendingUnreadable = false;
  // Windows has started since the images were last written: known only
  // where the system tells its uptime without wrapping.
  bool restartedSinceImagesWritten = false;
  // The folder of the system directory (SystemRoot), against which an
  // image path of the forms "\SystemRoot\..." and "System32\..." is read.
  std::string systemRoot;

  // Every image of the family has the carried version.
  bool FilesCurrent() const;
  // The filter counts as installed: current files and a filter that answers.
  bool Installed() const { return FilesCurrent() && filterAnswers; }
  // True when `name` is one of the drivers' names (as filter names compare).
  bool IsOurName(const std::string& name) const {
    return std::any_of(drivers.begin(), drivers.end(),
                       [&](const DriverInspection& d) { return SameFilterName(d.name, name); });
  }
};

// What a file's version read says of it (nullopt: it could not be read):
// a file whose version cannot be read is told apart from no file at all,
// which is asked at `path` unless that is nullopt (too long for the system).
ImageState::Presence PresenceOf(const std::optional<std::string>& version,
                                const std::optional<std::string>& path);

// True when `state` makes the install option carry the already-installed
// mark: the filter is installed and running on the NT family. On 9x the
// mark is never set, so installing there asks nothing first.
bool MarksInstalled(const InstallationState& state);

// The drivers of a family, nothing read yet: name, image path and, on the NT
// family, the installer's facts.
std::vector<DriverInspection> DriversOfFamily(WindowsFamily family);

// Reads the running family's images and, when all are current, asks the
// running filter for its devices. On NT the filter is initiated, its device
// list traced, and uninitiated again before this returns. Writes the trace
// lines of every step; changes nothing on the machine. Needs no window.
InstallationState ReadInstallation();

// The trace lines of a device list: the list lines between two rules when
// there are records, then the three counters.
void TraceDeviceList(const DeviceInventory& inventory);

}  // namespace kst
