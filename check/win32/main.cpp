// The console check: reads the installation, prints one line per fact and
// answers with the verdict as exit code (0, 3010, 1 or 2; 87 for an unknown
// argument). It changes nothing on the machine. Everything it writes is
// RunCheck's; this entry only sets up the platform and writes it out.
#include "platform/win32/windows_api.h"

#include <cstdio>
#include <string>
#include <vector>

#include "check/check_run.h"
#include "platform/win32/adapters.h"
#include "platform/win32/win32_platform.h"

int main(int argc, char** argv) {
  // Before anything can load a library: never from the current directory.
  kst::win32::RemoveCurrentDirectoryFromDllSearch();
  kst::ScopedPlatform platform(kst::Win32Platform());
  std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
  kst::CheckRun run = kst::RunCheck(arguments);
  std::fputs(run.out.c_str(), stdout);
  std::fputs(run.err.c_str(), stderr);
  std::fflush(stdout);
  return run.exitCode;
}
