#pragma once
// What the console check prints: one plain line per fact, each beginning
// with a keyword, stable for a script to grep. It formats what was read and
// what the judgement decided; it decides nothing itself.
#include <string>
#include <vector>

#include "check/inspection.h"
#include "check/installation_check.h"

namespace kst {

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

// "installed and running", "installed, restart pending" (or, for a removal
// that the restart finishes, "removal pending"), "not installed", "inconsistent".
const char* VerdictText(Verdict verdict, bool removal = false);

// The lines that end the check when it fails (an exception): the failure as
// a PROBLEM line, written as every line is, and the inconsistent verdict.
std::vector<std::string> FailureLines(const std::string& what);

}  // namespace kst
