#include "app/command_line.h"

#include "app/application_title.h"
#include "diag/no_throw.h"
#include "diag/trace.h"
#include "install/procedures.h"
#include "install/reboot.h"
#include "platform/platform.h"

namespace kst {

const char* const kUsageText =
    "Kestrune Install Tools.\n"
    " KstIns.exe /? /I /U /B /Q \n"
    " /?\tdisplay this help and exit.\n"
    " /I\tInstall Kestrune device.\n"
    " /U\tUninstall Kestrune device.\n"
    " /B\tReboot windows. This includes rebooting if necessary.\n"
    " /Q\tQuiet mode.\n"
    "    Example:\n"
    " \tinstall,\tKstIns.exe /I /Q\n"
    " \tuninstall,\tKstIns.exe /U /Q\n";

namespace {

bool IsSeparator(unsigned char c) { return c != 0 && c <= ' '; }

// Reads one word starting at `p`; returns the position after it.
const char* NextWord(const char* p, std::string& word) {
  word.clear();
  for (;;) {
    while (IsSeparator(static_cast<unsigned char>(*p))) ++p;
    if (p[0] == '"' && p[1] == '"') {
      p += 2;
    } else {
      break;
    }
  }
  while (static_cast<unsigned char>(*p) > ' ') {
    if (*p == '"') {
      ++p;
      while (*p != 0 && *p != '"') word.push_back(*p++);
      if (*p != 0) ++p;
    } else {
      word.push_back(*p++);
    }
  }
  return p;
}

// Applies one switch character; returns false when the scan stops.
bool ApplySwitch(char c, Switches& s) {
  if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  switch (c) {
    case '?':
      s.help = true;
      return false;
    case 'I':
      s.install = true;
      return true;
    case 'U':
      s.uninstall = true;
      return true;
    case 'Q':
      Trace("QuietMode");
      s.quiet = true;
      return true;
    case 'B':
      Trace("QuietMode");
      s.reboot = true;
      return true;
    default:
      s.unrecognised = true;
      return false;
  }
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
  std::vector<std::string> arguments;
  std::string word;
  const char* p = NextWord(commandLine.c_str(), word);  // the program's own name
  for (;;) {
    p = NextWord(p, word);
    if (word.empty()) break;
    arguments.push_back(word);
  }
  return arguments;
}

Switches ScanSwitches(const std::vector<std::string>& arguments) {
  Switches s;
  for (const std::string& argument : arguments) {
    if (argument.size() != 2 || argument[0] != '/') continue;
    if (!ApplySwitch(argument[1], s)) break;
  }
  return s;
}

namespace {

// Runs what the switches ask for: at most one procedure, or the usage text.
void RunSwitches(Switches s, const CommandLineActions& actions) {
  if (s.reboot) s.quiet = false;
  if (s.help) {
    actions.showUsage();
  } else if (s.install) {
    if (actions.install(!s.quiet) && s.reboot) {
      Trace("Install Command: QuietMode");
      actions.reboot();
    }
  } else if (s.uninstall) {
    if (actions.uninstall(!s.quiet) && s.reboot) {
      Trace("Uninstall Command: QuietMode");
      actions.reboot();
    }
  } else if (s.unrecognised && !s.quiet) {
    actions.showUsage();
  }
}

}  // namespace

CommandLineActions DefaultCommandLineActions() {
  return {InstallKestrune, UnInstallKestrune, RebootWindows, ShowUsage};
}

void RunCommandLine(const std::vector<std::string>& arguments, const CommandLineActions& actions) {
  // Command-line mode ends silently on any exception: no box, no trace, no restart.
  NoThrow([&] { RunSwitches(ScanSwitches(arguments), actions); });
}

void ShowUsage() {
  Sys().boxes.Show(kUsageText, ApplicationTitle(), win::kMbOk | win::kMbIconInformation);
}

}  // namespace kst
