#pragma once
// Command-line mode: argument splitting, the switch scan and the dispatch.
// All of it is platform-free but for the message box and trace calls, so a
// list of arguments can be run against fakes.
#include <functional>
#include <string>
#include <vector>

namespace kst {

inline constexpr const char* kApplicationTitle = "Kestrune Install Tools";

// The usage text, 289 characters.
extern const char* const kUsageText;

// The arguments of a full command line, after the program's own name.
// Characters 1 to 32 separate words; a double quote opens a stretch, ended
// by the next one, in which they do not; the quotes are dropped. Pairs of
// double quotes at the start of a word are skipped. The list ends at the
// first word that comes out empty (as the end of the line does).
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

struct Switches {
  bool help = false;
  bool install = false;
  bool uninstall = false;
  bool quiet = false;
  bool reboot = false;
  bool unrecognised = false;
};

// Reads the switches in order, writing "QuietMode" for each /Q and /B read;
// "/?" and an unrecognised switch stop the scan.
Switches ScanSwitches(const std::vector<std::string>& arguments);

// What the dispatch runs. The defaults are the real procedures.
struct CommandLineActions {
  std::function<bool(bool interactive)> install;
  std::function<bool(bool interactive)> uninstall;
  std::function<bool()> reboot;
  std::function<void()> showUsage;
};
CommandLineActions DefaultCommandLineActions();

// Scans, resolves and runs at most one procedure, then the restart of /B
// after a successful one, or shows the usage text. Any exception ends it at
// once and silently.
void RunCommandLine(const std::vector<std::string>& arguments,
                    const CommandLineActions& actions = DefaultCommandLineActions());

// Shows the usage text in an information box captioned with the application title.
void ShowUsage();

}  // namespace kst
