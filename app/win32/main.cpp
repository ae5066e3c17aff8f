// The process entry: names the application, then runs the command-line
// mode when there is any argument, or the main window otherwise. The exit
// code is 0 in every case.
#include "platform/win32/windows_api.h"

#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/win32/framework.h"
#include "app/win32/window_mode.h"
#include "platform/win32/adapters.h"
#include "platform/win32/win32_platform.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Before anything can load a library: the program often runs elevated from
  // a downloads folder, where a planted DLL must not be found.
  kst::win32::RemoveCurrentDirectoryFromDllSearch();
  kst::ScopedPlatform platform(kst::Win32Platform());
  try {
    kst::InitializeApplication();
    kst::SetApplicationTitle(kst::kApplicationTitle);
    std::vector<std::string> arguments = kst::SplitCommandLine(GetCommandLineA());
    if (!arguments.empty()) {
      kst::RunCommandLine(arguments);
    } else {
      kst::RunWindowMode();
    }
  } catch (...) {
    // Shown as a handler's exception is; the exit code stays 0 all the same.
    kst::framework::application::HandleException();
  }
  return 0;
}
