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
  std::string path;  // full path below the system directory
  Presence presence = Presence::kMissing;
  std::string version;  // kVersion: the file version text

  // The file holds the carried version.
  bool Current() const;
};

// One kernel service of ours, as the service manager holds it.
struct ServiceState {
  enum class Presence { kMissing, kPresent, kUnreadable };
  Presence presence = Presence::kUnreadable;
  ServiceConfig config;  // kPresent: type, start, error control, image path, group
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

struct InstallationState {
  bool nt = true;
  std::vector<DriverInspection> drivers;  // the family's, in deployment order
  std::vector<ClassKeyState> classKeys;   // NT family: the three class keys
  bool filterAnswers = false;             // the filter's control device answers
};

enum class Verdict : int {
  kRunning = 0,            // installed and running
  kNotInstalled = 1,       // nothing of ours on the machine
  kInconsistent = 2,       // parts missing, of another version or set otherwise
  kRestartPending = 3010,  // complete and current, the filter not running yet
};

struct Judgement {
  Verdict verdict = Verdict::kInconsistent;
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
// compared without regard to case, the image path too and with a leading
// "\??\" ignored, as the service manager may hand a driver's path back so.
std::vector<SettingComparison> CompareServiceSettings(const ServiceConfig& found,
                                                      const ServiceConfig& expected);

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

}  // namespace kst
