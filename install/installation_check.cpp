#include "install/installation_check.h"

#include <memory>

#include "install/deploy.h"
#include "install/drivers.h"
#include "install/filter_list.h"
#include "install/pending_renames.h"
#include "install/services.h"

namespace kst {
namespace {

using Presence = ImageState::Presence;
using ListState = StoredFilterList::State;

// ---- Comparing settings -----------------------------------------------------

bool SameText(const std::string& a, const std::string& b) {
  // Case-insensitive over ASCII letters, as filter names are compared.
  return SameFilterName(a, b);
}

SettingComparison CompareNumber(const char* field, uint32_t found, uint32_t expected) {
  return {field, std::to_string(found), std::to_string(expected), found == expected};
}

// ---- Judging ------------------------------------------------------------------

bool Expects(const DriverInspection& driver, const std::string& key) {
  for (const std::string& expected : driver.classKeys) {
    if (SameText(expected, key)) return true;
  }
  return false;
}

const ClassKeyState* FindKey(const InstallationState& state, const std::string& key) {
  for (const ClassKeyState& k : state.classKeys) {
    if (SameText(k.key, key)) return &k;
  }
  return nullptr;
}

// What the check found wrong. `unreadable` holds what could not be read at
// all: it keeps a machine without any part of ours from counting as clean.
struct Findings {
  std::vector<std::string> problems;
  std::vector<std::string> unreadable;
  bool anyOfOurs = false;
};

void JudgeImage(const ImageState& image, Findings& f) {
  if (image.presence != Presence::kMissing) f.anyOfOurs = true;
  if (image.presence == Presence::kMissing) {
    f.problems.push_back(image.path + " is missing");
  } else if (image.presence == Presence::kNoVersion) {
    f.problems.push_back(image.path + " has no readable version");
  } else if (!image.Current()) {
    f.problems.push_back(image.path + " is version " + image.version + ", not " +
                         kCarriedDriverVersion);
  }
}

void JudgeService(const DriverInspection& driver, Findings& f) {
  const std::string subject = "service " + driver.name;
  switch (driver.service.presence) {
    case ServiceState::Presence::kMissing:
      f.problems.push_back(subject + " is missing");
      return;
    case ServiceState::Presence::kUnreadable:
      f.unreadable.push_back(subject + " cannot be read");
      return;
    case ServiceState::Presence::kPresent:
      break;
  }
  f.anyOfOurs = true;
  for (const SettingComparison& c : CompareServiceSettings(driver.service.config, driver.expected)) {
    if (!c.same) {
      f.problems.push_back(subject + " " + c.field + " is \"" + c.found +
                           "\", the installer writes \"" + c.expected + "\"");
    }
  }
}

// A driver's entries in one key's LowerFilters: where the installer lists
// it and nowhere else, once.
void JudgeEntries(const ClassKeyState& key, const DriverInspection& driver, Findings& f) {
  int listed = 0;
  for (const FilterEntry& entry : key.lower) listed += SameFilterName(entry.name, driver.name);
  if (listed > 0) f.anyOfOurs = true;
  const std::string where = " in LowerFilters of " + key.key;
  if (listed == 0 && Expects(driver, key.key)) {
    f.problems.push_back(driver.name + " is not listed" + where);
  } else if (listed > 0 && !Expects(driver, key.key)) {
    f.problems.push_back(driver.name + " is listed" + where + ", where the installer never lists it");
  } else if (listed > 1) {
    f.problems.push_back(driver.name + " is listed " + std::to_string(listed) + " times" + where);
  }
}

void JudgeLowerFilters(const InstallationState& state, Findings& f) {
  for (const ClassKeyState& key : state.classKeys) {
    if (key.lowerState == ListState::kUnreadable) {
      f.unreadable.push_back("LowerFilters of " + key.key + " cannot be read");
      continue;
    }
    for (const DriverInspection& driver : state.drivers) JudgeEntries(key, driver, f);
  }
  // A key the installer lists a driver in but that the state does not hold.
  for (const DriverInspection& driver : state.drivers) {
    for (const std::string& key : driver.classKeys) {
      if (!FindKey(state, key)) f.problems.push_back(driver.name + " is not listed in LowerFilters of " + key);
    }
  }
}

void WarnAboutEntries(const char* value, const std::string& key,
                      const std::vector<FilterEntry>& entries, bool skipOurs,
                      const InstallationState& state, std::vector<std::string>& warnings) {
  for (const FilterEntry& entry : entries) {
    if (entry.service != ServiceExistence::kMissing) continue;
    if (skipOurs && IsOurName(state, entry.name)) continue;  // judged as a problem instead
    warnings.push_back(std::string(value) + " of " + key + " lists \"" + entry.name +
                       "\", which names no existing service");
  }
}

std::vector<std::string> Warnings(const InstallationState& state) {
  std::vector<std::string> warnings;
  for (const ClassKeyState& key : state.classKeys) {
    WarnAboutEntries(kLowerFiltersValue, key.key, key.lower, true, state, warnings);
    WarnAboutEntries(kUpperFiltersValue, key.key, key.upper, false, state, warnings);
  }
  return warnings;
}

Judgement Judge9x(const InstallationState& state) {
  Judgement j;
  if (state.drivers.empty() || state.drivers.front().image.presence == Presence::kMissing) {
    j.verdict = Verdict::kNotInstalled;
    return j;
  }
  const ImageState& image = state.drivers.front().image;
  if (!image.Current()) {
    Findings f;
    JudgeImage(image, f);
    j.verdict = Verdict::kInconsistent;
    j.problems = f.problems;
    return j;
  }
  j.verdict = state.filterAnswers ? Verdict::kRunning : Verdict::kRestartPending;
  return j;
}

Judgement JudgeNT(const InstallationState& state) {
  Findings f;
  f.anyOfOurs = state.filterAnswers;
  for (const DriverInspection& driver : state.drivers) {
    JudgeImage(driver.image, f);
    JudgeService(driver, f);
  }
  JudgeLowerFilters(state, f);
  Judgement j;
  j.warnings = Warnings(state);
  if (!f.anyOfOurs && f.unreadable.empty()) {
    j.verdict = Verdict::kNotInstalled;
    return j;
  }
  if (!f.anyOfOurs) {
    j.verdict = Verdict::kInconsistent;  // nothing found, but not all could be read
    j.problems = f.unreadable;
    return j;
  }
  j.problems = f.problems;
  j.problems.insert(j.problems.end(), f.unreadable.begin(), f.unreadable.end());
  if (!j.problems.empty()) {
    j.verdict = Verdict::kInconsistent;
  } else {
    j.verdict = state.filterAnswers ? Verdict::kRunning : Verdict::kRestartPending;
  }
  return j;
}

// ---- Reading ------------------------------------------------------------------

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
  if (service->QueryConfig(state.config)) state.presence = ServiceState::Presence::kPresent;
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

}  // namespace

bool ImageState::Current() const {
  return presence == Presence::kVersion && version == kCarriedDriverVersion;
}

bool IsOurName(const InstallationState& state, const std::string& name) {
  for (const DriverInspection& driver : state.drivers) {
    if (SameFilterName(driver.name, name)) return true;
  }
  return false;
}

std::vector<SettingComparison> CompareServiceSettings(const ServiceConfig& found,
                                                      const ServiceConfig& expected) {
  return {
      CompareNumber("type", found.serviceType, expected.serviceType),
      CompareNumber("start", found.startType, expected.startType),
      CompareNumber("errorcontrol", found.errorControl, expected.errorControl),
      {"group", found.loadOrderGroup, expected.loadOrderGroup,
       SameText(found.loadOrderGroup, expected.loadOrderGroup)},
      {"imagepath", found.binaryPath, expected.binaryPath,
       SameText(WithoutNtPrefix(found.binaryPath), expected.binaryPath)},
  };
}

std::vector<DriverInspection> DriversOfFamily(bool nt) {
  auto driver = [](const char* name, const DriverImage& image) {
    DriverInspection d;
    d.name = name;
    d.imageRelativePath = image.relativePath;
    return d;
  };
  if (!nt) return {driver(REG_KESTRUNE, kKestruneVxd)};
  std::vector<DriverInspection> drivers;
  for (const FilterDriver* facts : kNtDrivers) {
    DriverInspection d = driver(facts->serviceName, facts->image);
    d.expected = ServiceConfigOf(
        *facts, PathForTrace(SystemPath(d.imageRelativePath), d.imageRelativePath));
    for (const ClassList& list : facts->lists) d.classKeys.push_back(list.key);
    drivers.push_back(d);
  }
  return drivers;
}

std::vector<std::string> ClassKeysOfDrivers(const std::vector<DriverInspection>& drivers) {
  std::vector<std::string> keys;
  for (const DriverInspection& driver : drivers) {
    for (const std::string& key : driver.classKeys) {
      bool known = false;
      for (const std::string& k : keys) known = known || SameText(k, key);
      if (!known) keys.push_back(key);
    }
  }
  return keys;
}

Judgement JudgeInstallation(const InstallationState& state) {
  return state.nt ? JudgeNT(state) : Judge9x(state);
}

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
                    WithServices(upper.entries, manager.get())});
  }
}

}  // namespace kst
