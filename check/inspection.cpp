#include "check/inspection.h"

#include <algorithm>
#include <memory>
#include <optional>

#include "check/restart_fate.h"
#include "device/version_check.h"
#include "install/at_restart.h"
#include "install/filter_list.h"
#include "install/machine_lock.h"
#include "install/pending_renames.h"
#include "install/services.h"

namespace kst {
namespace {

using Presence = ImageState::Presence;

// A name the service manager refuses as a name is no service either.
bool NamesNoService(ErrorCode code) {
  return code == win::kErrorServiceDoesNotExist || code == win::kErrorInvalidName;
}

ServiceState ReadService(IServiceManager* manager, const std::string& name) {
  ServiceState state;
  if (!manager) return state;
  std::unique_ptr<IService> service = manager->Open(name, win::kServiceQueryConfig);
  if (!service) {
    if (NamesNoService(Sys().system.GetLastError())) state.presence = ServiceState::Presence::kMissing;
    return state;
  }
  if (!service->QueryConfig(state.config)) return state;
  state.presence = ServiceState::Presence::kPresent;
  std::optional<bool> marked = AwaitsDeletion(*manager, name);
  state.mark = !marked ? ServiceState::Mark::kUnknown
               : *marked ? ServiceState::Mark::kAwaitsDeletion
                         : ServiceState::Mark::kNone;
  return state;
}

ServiceExistence ServiceOf(IServiceManager* manager, const std::string& name) {
  if (!manager) return ServiceExistence::kUnknown;
  if (manager->Open(name, win::kServiceQueryConfig)) return ServiceExistence::kExists;
  return NamesNoService(Sys().system.GetLastError()) ? ServiceExistence::kMissing
                                                      : ServiceExistence::kUnknown;
}

std::vector<FilterEntry> WithServices(const std::vector<std::string>& names,
                                      IServiceManager* manager) {
  std::vector<FilterEntry> entries;
  for (const std::string& name : names) {
    // The same name again needs no second question.
    ServiceExistence known = ServiceExistence::kUnknown;
    bool asked = false;
    for (const FilterEntry& e : entries) {
      if (SameFilterName(e.name, name)) {
        known = e.service;
        asked = true;
        break;
      }
    }
    entries.push_back({name, asked ? known : ServiceOf(manager, name)});
  }
  return entries;
}

// The class keys of `drivers`, each once, in the order the drivers name them.
std::vector<std::string> ClassKeysOfDrivers(const std::vector<DriverInspection>& drivers) {
  std::vector<std::string> keys;
  for (const DriverInspection& driver : drivers) {
    for (const std::string& key : driver.classKeys) {
      bool known = false;
      for (const std::string& k : keys) known = known || SameFilterName(k, key);
      if (!known) keys.push_back(key);
    }
  }
  return keys;
}

// Reads, with query rights only, the services of `drivers` (name and
// expected settings filled in) and the filter lists of `classKeys`, with
// whether a service exists for each entry. Writes nothing, traces nothing.
void ReadServicesAndLists(std::vector<DriverInspection>& drivers,
                          const std::vector<std::string>& classKeys,
                          std::vector<ClassKeyState>& keys) {
  std::unique_ptr<IServiceManager> manager = Sys().services.OpenManager(win::kScManagerConnect);
  for (DriverInspection& driver : drivers) driver.service = ReadService(manager.get(), driver.name);
  keys.clear();
  for (const std::string& key : classKeys) {
    StoredFilterList lower = ReadStoredFilterList(key, kLowerFiltersValue);
    StoredFilterList upper = ReadStoredFilterList(key, kUpperFiltersValue);
    keys.push_back({key, lower.state, WithServices(lower.entries, manager.get()), upper.state,
                    WithServices(upper.entries, manager.get()), lower.type});
  }
}

// Reads the requests for the next start of Windows (read rights only) and
// notes each that names an image of `state`, and what they make of each
// image; a replacement's version is left for the caller to read.
void ReadRestartRequests(InstallationState& state) {
  std::optional<std::vector<PendingRename>> renames = ReadPendingRenames();
  state.pendingUnreadable = !renames;
  if (!renames) return;
  using Kind = PendingOperation::Kind;
  for (const PendingRename& r : *renames) {
    for (const DriverInspection& driver : state.drivers) {
      const std::string& path = driver.image.path;
      if (SameFilePath(r.to, path)) state.pending.push_back({Kind::kReplace, path});
      if (SameFilePath(r.from, path)) state.pending.push_back({Kind::kDelete, path});
    }
  }
  auto exists = [](const std::string& path) { return Sys().files.Exists(path); };
  for (DriverInspection& driver : state.drivers) {
    ImageState& image = driver.image;
    if (!image.reachable) continue;  // no request can act on a file the system cannot name
    RestartFate fate = FateAtRestart(*renames, image.path, exists);
    if (fate.from) {
      image.atRestart = ImageState::AtRestart::kReplaced;
      image.replacementPath = *fate.from;
    } else if (!fate.present && image.presence != Presence::kMissing) {
      image.atRestart = ImageState::AtRestart::kDeleted;
    }
  }
}

// Whether Windows has started since the newest of the images was written;
// never when the system cannot tell its uptime without wrapping (before
// Windows Vista the 32-bit tick count wraps every 49.7 days, and an uptime
// known only up to that cannot tell a restart from none). Asked only of
// current images, whose paths are real ones.
bool StartedSinceImagesWritten(const InstallationState& state) {
  ISleep& clock = Sys().sleep;
  uint64_t uptime = 0;
  if (!clock.TickCount64(uptime)) return false;
  uint64_t newest = 0;
  for (const DriverInspection& driver : state.drivers) {
    uint64_t written = 0;
    if (!Sys().files.LastWriteTime(driver.image.path, written)) return false;
    newest = std::max(newest, written);
  }
  return StartedSince(clock.SystemTime(), uptime, newest);
}

// The NT family's services, lists and requests for the restart, and the
// version of each image a request puts in place.
void ReadNtMachine(InstallationState& state) {
  AddWhatTheInstallerWrites(state.drivers);
  ReadServicesAndLists(state.drivers, ClassKeysOfDrivers(state.drivers), state.classKeys);
  ReadRestartRequests(state);
  for (DriverInspection& driver : state.drivers) {
    ImageState& image = driver.image;
    if (image.atRestart != ImageState::AtRestart::kReplaced) continue;
    std::optional<std::string> version = FileVersionAt(image.replacementPath);
    image.replacementPresence = PresenceOf(version, image.replacementPath);
    if (version) image.replacementVersion = *version;
  }
  std::string directory = Sys().files.SystemDirectory();
  size_t folder = directory.find_last_of('\\');
  state.systemRoot = folder == std::string::npos ? std::string() : directory.substr(0, folder);
}

MachineInspection ReadMachine() {
  MachineInspection inspection;
  InstallationState& state = inspection.state;
  state = ReadInstallation();
  if (state.family != WindowsFamily::kNt) return inspection;
  ReadNtMachine(state);
  if (state.filterAsked && !state.filterAnswers) {
    state.restartedSinceImagesWritten = StartedSinceImagesWritten(state);
  }
  return inspection;
}

}  // namespace

void AddWhatTheInstallerWrites(std::vector<DriverInspection>& drivers) {
  for (DriverInspection& driver : drivers) {
    if (!driver.filter) continue;
    driver.expected = ServiceConfigOf(*driver.filter, driver.image.path);
    driver.classKeys.clear();
    for (const ClassList& list : driver.filter->lists) driver.classKeys.push_back(list.key);
  }
}

bool StartedSince(uint64_t now, uint64_t uptimeMs, uint64_t newestWrite) {
  constexpr uint64_t kPerMs = 10000;                   // FILETIME units
  constexpr uint64_t kMargin = 2 * 60 * 1000 * kPerMs;  // two minutes
  if (uptimeMs > now / kPerMs) return false;           // no start before 1601
  uint64_t start = now - uptimeMs * kPerMs;
  return start > newestWrite && start - newestWrite > kMargin;
}

MachineInspection InspectMachine() {
  MachineLock lock = MachineLock::Take(kCheckLockWaitMs);
  MachineInspection inspection = ReadMachine();
  inspection.anotherRunActive = lock.state() == MachineLock::State::kBusy ||
                                lock.state() == MachineLock::State::kHeldElsewhere;
  return inspection;
}

}  // namespace kst
