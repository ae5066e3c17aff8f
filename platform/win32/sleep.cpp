#include "platform/win32/windows_api.h"

#include "platform/win32/adapters.h"

namespace kst::win32 {

void Sleeper::Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

uint32_t Sleeper::TickCount() { return ::GetTickCount(); }

// Not imported: Windows XP and older lack it, and an import they lack would
// keep the program from starting there.
bool Sleeper::TickCount64(uint64_t& milliseconds) {
  using TickCount64Fn = ULONGLONG(WINAPI*)();
  HMODULE kernel = ::GetModuleHandleA("kernel32");
  if (kernel == nullptr) return false;
  auto tickCount64 = reinterpret_cast<TickCount64Fn>(
      reinterpret_cast<void*>(::GetProcAddress(kernel, "GetTickCount64")));
  if (tickCount64 == nullptr) return false;
  milliseconds = tickCount64();
  return true;
}

uint64_t Sleeper::SystemTime() {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  return uint64_t(now.dwHighDateTime) << 32 | now.dwLowDateTime;
}

}  // namespace kst::win32
