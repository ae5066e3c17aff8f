#pragma once
// What the console check prints: one plain line per fact, each beginning
// with a keyword, stable for a script to grep.
#include <string>
#include <vector>

#include "device/inventory.h"
#include "install/installation_check.h"

namespace kst {

// The installation and, when the filter answers, the devices it reports.
struct MachineInspection {
  InstallationState state;
  std::vector<DeviceRecord> devices;  // as the status window lists them
  // The control device is asked only when the family's files are current,
  // as the status window asks it.
  bool controlAsked = false;
  // Another install or uninstall held the machine all the while the check
  // waited for it (kCheckLockWaitMs), so what was read may be changing.
  bool anotherRunActive = false;
};

// Reads the machine: the family's images, on the NT family the services and
// the three class keys' filter lists, and the filter's control device as the
// status display asks it. Writes nothing to the registry or the disk. It
// holds the machine against installs and uninstalls while it reads, and
// reads anyway when it cannot have it.
MachineInspection InspectMachine();

// The printed lines, in order:
//   FAMILY NT | FAMILY 9x
//   IMAGE current|other <version> <path>, IMAGE noversion|missing - <path>
//   SERVICE <name> exists|missing|unreadable
//   SERVICE <name> awaiting-deletion
//   SERVICE <name> <field> ok "<found>" | differs "<found>" expected "<written>"
//   LOWERFILTERS <key> <n> ours|other <entry>, or LOWERFILTERS <key> nokey|novalue|unreadable|empty
//   PENDING replace|delete <path>, PENDING unreadable
//   CONTROL answers|silent|unasked
//   DEVICE <line of the status window's device list>
//   WARNING another installation or removal is running; this state may be changing
//   WARNING <text>, PROBLEM <text>
//   VERDICT <exit code> <text>
// Control characters of any text read from the machine are shown as \xNN,
// so that every fact stays on its own line.
std::vector<std::string> ReportLines(const MachineInspection& inspection,
                                     const Judgement& judgement);

// What the command line asks for: the check, or the usage text (for "/?",
// exit code 0), or the usage text for anything else (exit code 87).
enum class CheckCommand { kCheck, kUsage, kInvalid };
CheckCommand CheckCommandOf(const std::vector<std::string>& arguments);

// The usage text, lines ending in "\n".
extern const char* const kCheckUsageText;

// Exit code for arguments the check does not know (ERROR_INVALID_PARAMETER).
inline constexpr int kInvalidParameterExitCode = 87;

// "installed and running", "installed, restart pending" (or, for a removal
// that the restart finishes, "removal pending"), "not installed", "inconsistent".
const char* VerdictText(Verdict verdict, bool removal = false);

// The lines that end the check when it fails (an exception): the failure as
// a PROBLEM line, written as every line is, and the inconsistent verdict.
std::vector<std::string> FailureLines(const std::string& what);

}  // namespace kst
