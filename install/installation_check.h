#pragma once
// The installation as it stands on a machine, read without changing
// anything, and the judgement of it: complete and running, complete and
// waiting for a restart, absent, or inconsistent. For the console check.
#include <string>
#include <vector>

#include "install/class_filters.h"
#include "platform/platform.h"

namespace kst {

// One driver file of the running family.
struct ImageState {
  enum class Presence { kMissing, kNoVersion, kVersion };
  // What the requests for the next start of Windows make of it.
  enum class AtRestart { kStays, kReplaced, kDeleted };
  std::string path;  // full path below the system directory
  Presence presence = Presence::kMissing;
  std::string version;  // kVersion: the file version text
  AtRestart atRestart = AtRestart::kStays;
  // kReplaced: the file a request moves into its place, as it is now.
  std::string replacementPath;
  Presence replacementPresence = Presence::kMissing;
  std::string replacementVersion;

  // The file holds the carried version.
  bool Current() const;
  // kReplaced: the file that takes its place at the restart, as an image.
  ImageState Replacement() const;
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
  // NT family only.
  ServiceConfig expected;  // the service as the installer creates it
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
  bool nt = true;
  std::vector<DriverInspection> drivers;  // the family's, in deployment order
  std::vector<ClassKeyState> classKeys;   // NT family: the three class keys
  bool filterAnswers = false;             // the filter's control device answers
  // NT family: the requests for the restart naming our images, in order.
  std::vector<PendingOperation> pending;
  bool pendingUnreadable = false;
  // Windows has started since the images were last written: known only
  // where the system tells its uptime without wrapping.
  bool restartedSinceImagesWritten = false;
  // The folder of the system directory (SystemRoot), against which an
  // image path of the forms "\SystemRoot\..." and "System32\..." is read.
  std::string systemRoot;
};

enum class Verdict : int {
  kRunning = 0,            // installed and running
  kNotInstalled = 1,       // nothing of ours on the machine
  kInconsistent = 2,       // parts missing, of another version or set otherwise
  kRestartPending = 3010,  // complete and current, the filter not running yet
};

struct Judgement {
  Verdict verdict = Verdict::kInconsistent;
  // kRestartPending: the restart finishes a removal, not an installation.
  bool removal = false;
  std::vector<std::string> problems;  // one per line; empty unless inconsistent
  std::vector<std::string> warnings;  // other drivers' entries naming no service
};

// One setting of a service held against what the installer writes.
struct SettingComparison {
  const char* field;  // "type", "start", "errorcontrol", "group", "imagepath"
  std::string found;
  std::string expected;
  bool same = false;
};

// The five settings in that order. Numbers print in decimal; the group is
// compared without regard to case, the image path as SameImagePath does.
std::vector<SettingComparison> CompareServiceSettings(const ServiceConfig& found,
                                                      const ServiceConfig& expected,
                                                      const std::string& systemRoot);

// True when `found`, a driver's image path in any form Windows reads, names
// the file at the full path `expected`: without regard to case, after a
// leading "\??\" is taken off, or "\SystemRoot\..." or a path relative to
// SystemRoot ("System32\drivers\...") is read against `systemRoot`.
bool SameImagePath(const std::string& found, const std::string& expected,
                   const std::string& systemRoot);

// True when the system started later than a margin after `newestWrite`:
// `now` and `newestWrite` are FILETIMEs, `uptimeMs` the milliseconds since
// the start. The margin absorbs small corrections of the clock and coarse
// file times, which must never make a restart out of none.
bool StartedSince(uint64_t now, uint64_t uptimeMs, uint64_t newestWrite);

// True when `name` is one of the state's drivers (as filter names compare).
bool IsOurName(const InstallationState& state, const std::string& name);

// Judges a state; no platform calls. On the 9x family only the image
// counts. Warnings never change the verdict.
Judgement JudgeInstallation(const InstallationState& state);

// The drivers of a family as the installer writes them, nothing read yet:
// name, image path and, on the NT family, the service settings and class keys.
std::vector<DriverInspection> DriversOfFamily(bool nt);

// The class keys of `drivers`, each once, in the order the drivers name them.
std::vector<std::string> ClassKeysOfDrivers(const std::vector<DriverInspection>& drivers);

// Reads, with query rights only, the services of `drivers` (name and
// expected settings filled in) and the filter lists of `classKeys`, with
// whether a service exists for each entry. Writes nothing, traces nothing.
void ReadServicesAndLists(std::vector<DriverInspection>& drivers,
                          const std::vector<std::string>& classKeys,
                          std::vector<ClassKeyState>& keys);

// Reads the requests for the next start of Windows (read rights only) and
// notes each that names an image of `state`, and what they make of each
// image; a replacement's version is left for the caller to read.
void ReadRestartRequests(InstallationState& state);

}  // namespace kst
