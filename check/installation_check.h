#pragma once
// KstCheck's judgement of an installation as it stands on a machine:
// complete and running, complete and waiting for a restart, absent, or
// inconsistent. No platform calls.
#include <string>
#include <vector>

#include "device/installation.h"

namespace kst {

enum class Verdict : int {
  kRunning = 0,            // installed and running
  kNotInstalled = 1,       // nothing of ours on the machine
  kInconsistent = 2,       // parts missing, of another version or set otherwise
  kRestartPending = 3010,  // complete and current, the filter not running yet
};

// One setting of a service held against what the installer writes.
struct SettingComparison {
  const char* field;  // "type", "start", "errorcontrol", "group", "imagepath"
  std::string found;
  std::string expected;
  bool same = false;
};

struct Judgement {
  Verdict verdict = Verdict::kInconsistent;
  // kRestartPending: the restart finishes a removal, not an installation.
  bool removal = false;
  std::vector<std::string> problems;  // one per line; empty unless inconsistent
  std::vector<std::string> warnings;  // other drivers' entries naming no service
  // NT family: each driver's service settings held against what the
  // installer writes, in the order of the drivers; empty where the service
  // was not read.
  std::vector<std::vector<SettingComparison>> settings;
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

// Judges a state; no platform calls. On the 9x family only the image
// counts. Warnings never change the verdict.
Judgement JudgeInstallation(const InstallationState& state);

}  // namespace kst
