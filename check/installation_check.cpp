#include "check/installation_check.h"

#include <utility>

#include "install/filter_list.h"
#include "install/pending_renames.h"

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

// What is wrong with an image file, its subject first; empty when nothing.
std::string ImageProblem(const ImageState& image, const std::string& subject) {
  if (image.presence == Presence::kMissing) return subject + " is missing";
  if (image.presence == Presence::kNoVersion) return subject + " has no readable version";
  if (!image.Current()) {
    return subject + " is version " + image.version + ", not " + kCarriedDriverVersion;
  }
  return {};
}

void AddProblem(Findings& f, const std::string& problem) {
  if (!problem.empty()) f.problems.push_back(problem);
}

// kReplaced: the file that takes the image's place at the restart, as an image.
ImageState ReplacementOf(const ImageState& image) {
  ImageState replacement;
  replacement.path = image.replacementPath;
  replacement.presence = image.replacementPresence;
  replacement.version = image.replacementVersion;
  return replacement;
}

// An image as it will be after the restart: a replacement waiting for it
// is judged in its place, a deletion waiting for it is a problem while the
// driver is to stay installed.
void JudgeImage(const ImageState& image, Findings& f) {
  if (image.presence != Presence::kMissing) f.anyOfOurs = true;
  switch (image.atRestart) {
    case ImageState::AtRestart::kStays:
      AddProblem(f, ImageProblem(image, image.path));
      break;
    case ImageState::AtRestart::kReplaced:
      AddProblem(f, ImageProblem(ReplacementOf(image), image.path + " is to be replaced at the restart by " +
                                                          image.replacementPath + ", which"));
      break;
    case ImageState::AtRestart::kDeleted:
      f.problems.push_back(image.path + " is to be deleted at the restart");
      break;
  }
}

void JudgeService(const DriverInspection& driver, const std::vector<SettingComparison>& settings,
                  Findings& f) {
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
  for (const SettingComparison& c : settings) {
    if (!c.same) {
      f.problems.push_back(subject + " " + c.field + " is \"" + c.found +
                           "\", the installer writes \"" + c.expected + "\"");
    }
  }
  // Lists that stay name a service that goes at the restart.
  if (driver.service.mark == ServiceState::Mark::kAwaitsDeletion) {
    f.problems.push_back(subject + " awaits deletion at the restart, while a list names a driver of ours");
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

bool NamesOneOfOurs(const InstallationState& state, const std::vector<FilterEntry>& entries) {
  for (const FilterEntry& entry : entries) {
    if (state.IsOurName(entry.name)) return true;
  }
  return false;
}

// Our name in a list the system does not read as one, or in UpperFilters,
// where the filter would sit above the class's drivers.
void JudgeOtherListings(const InstallationState& state, const ClassKeyState& key, Findings& f) {
  if (key.lowerType != win::kRegMultiSz && NamesOneOfOurs(state, key.lower)) {
    f.problems.push_back("LowerFilters of " + key.key + " is of type " +
                         std::to_string(key.lowerType) +
                         ", not REG_MULTI_SZ: the system does not read it as a filter list");
  }
  for (const FilterEntry& entry : key.upper) {
    if (!state.IsOurName(entry.name)) continue;
    f.anyOfOurs = true;
    f.problems.push_back(entry.name + " is listed in UpperFilters of " + key.key +
                         ", where the installer never lists it");
  }
}

void JudgeLowerFilters(const InstallationState& state, Findings& f) {
  for (const ClassKeyState& key : state.classKeys) {
    JudgeOtherListings(state, key, f);
    if (key.upperState == ListState::kUnreadable) {
      f.unreadable.push_back("UpperFilters of " + key.key + " cannot be read");
    }
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
    if (skipOurs && state.IsOurName(entry.name)) continue;  // judged as a problem instead
    warnings.push_back(std::string(value) + " of " + key + " lists \"" + entry.name +
                       "\", which names no existing service");
  }
}

std::vector<std::string> Warnings(const InstallationState& state) {
  std::vector<std::string> warnings;
  for (const ClassKeyState& key : state.classKeys) {
    WarnAboutEntries(kLowerFiltersValue, key.key, key.lower, true, state, warnings);
    WarnAboutEntries(kUpperFiltersValue, key.key, key.upper, true, state, warnings);
  }
  return warnings;
}

// True when a list of a class key, lower or upper, names a driver of ours
// or cannot be read to tell.
bool AnyListMayNameUs(const InstallationState& state) {
  for (const ClassKeyState& key : state.classKeys) {
    if (key.lowerState == ListState::kUnreadable || key.upperState == ListState::kUnreadable ||
        NamesOneOfOurs(state, key.lower) || NamesOneOfOurs(state, key.upper)) {
      return true;
    }
  }
  return false;
}

// A removal waits for the restart: no list names us, and an image is to be
// deleted or a service awaits deletion then.
bool RemovalWaits(const InstallationState& state) {
  if (AnyListMayNameUs(state)) return false;
  for (const DriverInspection& driver : state.drivers) {
    if (driver.image.atRestart == ImageState::AtRestart::kDeleted ||
        driver.service.mark == ServiceState::Mark::kAwaitsDeletion) {
      return true;
    }
  }
  return false;
}

// A removal that the restart finishes: nothing of ours may remain after it.
Judgement JudgeRemoval(const InstallationState& state) {
  Judgement j;
  j.warnings = Warnings(state);
  for (const DriverInspection& driver : state.drivers) {
    const ImageState& image = driver.image;
    if (image.presence != Presence::kMissing && image.atRestart != ImageState::AtRestart::kDeleted) {
      j.problems.push_back(image.path + " remains after the restart");
    }
    const std::string subject = "service " + driver.name;
    if (driver.service.presence == ServiceState::Presence::kUnreadable) {
      j.problems.push_back(subject + " cannot be read");
    } else if (driver.service.presence == ServiceState::Presence::kPresent) {
      if (driver.service.mark == ServiceState::Mark::kNone) {
        j.problems.push_back(subject + " remains after the restart");
      } else if (driver.service.mark == ServiceState::Mark::kUnknown) {
        j.problems.push_back("whether " + subject + " awaits deletion cannot be read");
      }
    }
  }
  j.removal = j.problems.empty();
  j.verdict = j.removal ? Verdict::kRestartPending : Verdict::kInconsistent;
  return j;
}

// Installed and current, not running: the restart it waits for, unless
// Windows has started since the images were written and the filter did not.
Verdict NotRunning(const InstallationState& state, std::vector<std::string>& problems) {
  for (const DriverInspection& driver : state.drivers) {
    if (driver.image.atRestart == ImageState::AtRestart::kReplaced) return Verdict::kRestartPending;
  }
  if (state.filterAnswers) return Verdict::kRunning;
  if (!state.restartedSinceImagesWritten) return Verdict::kRestartPending;
  problems.push_back("the filter did not start, although Windows has restarted since its images were written");
  return Verdict::kInconsistent;
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

Judgement JudgeInstalled(const InstallationState& state,
                         const std::vector<std::vector<SettingComparison>>& settings) {
  Findings f;
  f.anyOfOurs = state.filterAnswers;
  for (size_t i = 0; i < state.drivers.size(); ++i) {
    JudgeImage(state.drivers[i].image, f);
    JudgeService(state.drivers[i], settings[i], f);
  }
  JudgeLowerFilters(state, f);
  if (state.pendingUnreadable) f.unreadable.push_back(std::string(kPendingRenamesValue) + " cannot be read");
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
  j.verdict = j.problems.empty() ? NotRunning(state, j.problems) : Verdict::kInconsistent;
  return j;
}

// Each present service's settings held against the installer's, once: the
// problems and the report's lines both come from them.
std::vector<std::vector<SettingComparison>> SettingsOf(const InstallationState& state) {
  std::vector<std::vector<SettingComparison>> settings;
  for (const DriverInspection& driver : state.drivers) {
    if (driver.service.presence != ServiceState::Presence::kPresent) {
      settings.emplace_back();
      continue;
    }
    settings.push_back(CompareServiceSettings(driver.service.config, driver.expected, state.systemRoot));
  }
  return settings;
}

Judgement JudgeNT(const InstallationState& state) {
  std::vector<std::vector<SettingComparison>> settings = SettingsOf(state);
  Judgement j = RemovalWaits(state) ? JudgeRemoval(state) : JudgeInstalled(state, settings);
  j.settings = std::move(settings);
  return j;
}

}  // namespace

bool SameImagePath(const std::string& found, const std::string& expected,
                   const std::string& systemRoot) {
  static const std::string kSystemRoot = "\\SystemRoot\\";
  std::string path = found;
  if (path.size() != WithoutNtPrefix(found).size()) {
    path = WithoutNtPrefix(found);  // a drive path in the NT namespace
  } else if (SameText(path.substr(0, kSystemRoot.size()), kSystemRoot)) {
    path = systemRoot + path.substr(kSystemRoot.size() - 1);
  } else if (!path.empty() && path[0] != '\\' && path.find(':') == std::string::npos) {
    path = systemRoot + "\\" + path;  // relative to SystemRoot
  }
  return SameText(path, expected);
}

std::vector<SettingComparison> CompareServiceSettings(const ServiceConfig& found,
                                                      const ServiceConfig& expected,
                                                      const std::string& systemRoot) {
  return {
      CompareNumber("type", found.serviceType, expected.serviceType),
      CompareNumber("start", found.startType, expected.startType),
      CompareNumber("errorcontrol", found.errorControl, expected.errorControl),
      {"group", found.loadOrderGroup, expected.loadOrderGroup,
       SameText(found.loadOrderGroup, expected.loadOrderGroup)},
      {"imagepath", found.binaryPath, expected.binaryPath,
       SameImagePath(found.binaryPath, expected.binaryPath, systemRoot)},
  };
}

Judgement JudgeInstallation(const InstallationState& state) {
  return state.family == WindowsFamily::kNt ? JudgeNT(state) : Judge9x(state);
}

}  // namespace kst
