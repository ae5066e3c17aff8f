#include "platform/win32/windows_api.h"

#include <cstring>

#include "platform/win32/adapters.h"

namespace kst::win32 {

// Both records hold only integers and characters, so their sizes are the
// same in 32-bit and 64-bit builds.
static_assert(sizeof(OSVERSIONINFOEXA) == win::kOsVersionInfoExSize);
static_assert(sizeof(OSVERSIONINFOA) == win::kOsVersionInfoSize);

bool System::GetVersionEx(uint32_t recordSize, uint32_t& platformId) {
  OSVERSIONINFOEXA record;
  std::memset(&record, 0, sizeof record);
  record.dwOSVersionInfoSize = recordSize;
  BOOL ok = ::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&record));
  platformId = record.dwPlatformId;
  return ok != FALSE;
}

bool System::IsWow64Process() {
  using IsWow64Fn = BOOL(WINAPI*)(HANDLE, PBOOL);
  HMODULE kernel = ::GetModuleHandleA("kernel32");
  if (kernel == nullptr) return false;
  auto isWow64 =
      reinterpret_cast<IsWow64Fn>(reinterpret_cast<void*>(::GetProcAddress(kernel, "IsWow64Process")));
  if (isWow64 == nullptr) return false;
  BOOL wow64 = FALSE;
  return isWow64(::GetCurrentProcess(), &wow64) != FALSE && wow64 != FALSE;
}

ErrorCode System::GetLastError() { return ::GetLastError(); }

void System::SetLastError(ErrorCode code) { ::SetLastError(code); }

std::string System::FormatSystemMessage(ErrorCode code) {
  char* buffer = nullptr;
  DWORD length = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM,
                                  nullptr, code, LANG_SYSTEM_DEFAULT,
                                  reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
  std::string text;
  if (buffer != nullptr) {
    if (length != 0) text.assign(buffer);
    ::LocalFree(buffer);
  }
  return text;
}

}  // namespace kst::win32
