#include "platform/win32/windows_api.h"

#include "platform/win32/adapters.h"

namespace kst::win32 {

uint32_t VersionResources::InfoSize(const std::string& path) {
  DWORD handle = 0;
  return ::GetFileVersionInfoSizeA(path.c_str(), &handle);
}

bool VersionResources::Info(const std::string& path, uint32_t size, void* block) {
  return ::GetFileVersionInfoA(path.c_str(), 0, size, block) != FALSE;
}

bool VersionResources::FixedFileVersion(const void* block, uint32_t& fileVersionMS,
                                        uint32_t& fileVersionLS) {
  void* fixed = nullptr;
  UINT length = 0;
  if (!::VerQueryValueA(block, "\\", &fixed, &length) || fixed == nullptr) return false;
  const auto* info = static_cast<const VS_FIXEDFILEINFO*>(fixed);
  fileVersionMS = info->dwFileVersionMS;
  fileVersionLS = info->dwFileVersionLS;
  return true;
}

}  // namespace kst::win32
