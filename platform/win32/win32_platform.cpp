#include "platform/win32/win32_platform.h"

#include "platform/win32/adapters.h"

namespace kst {

Platform& Win32Platform() {
  static win32::System system;
  static win32::FileSystem files;
  static win32::Resources resources;
  static win32::Registry registry;
  static win32::Services services;
  static win32::Devices devices;
  static win32::VersionResources versions;
  static win32::Windows windows;
  static win32::MessageBoxes boxes;
  static win32::Shutdown shutdown;
  static win32::Sleeper sleep;
  static win32::Mutexes mutexes;
  static Platform platform{system,  files, resources, registry, services, devices, versions,
                           windows, boxes, shutdown,  sleep,    mutexes};
  return platform;
}

}  // namespace kst
