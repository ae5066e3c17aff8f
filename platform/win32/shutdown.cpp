#include "platform/win32/windows_api.h"

#include "platform/win32/adapters.h"
#include "platform/win32/handles.h"

namespace kst::win32 {
namespace {

class Token final : public IToken {
 public:
  explicit Token(HANDLE handle) : handle_(handle) {}

  bool AdjustPrivilege(const Luid& luid, uint32_t attributes) override {
    TOKEN_PRIVILEGES request;
    request.PrivilegeCount = 1;
    request.Privileges[0].Luid.LowPart = luid.lowPart;
    request.Privileges[0].Luid.HighPart = luid.highPart;
    request.Privileges[0].Attributes = attributes;
    return ::AdjustTokenPrivileges(handle_.Get(), FALSE, &request, 0, nullptr, nullptr) !=
           FALSE;
  }

 private:
  UniqueTokenHandle handle_;
};

}  // namespace

std::unique_ptr<IToken> Shutdown::OpenProcessToken(uint32_t access) {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), access, &token)) return nullptr;
  return std::make_unique<Token>(token);
}

bool Shutdown::LookupPrivilegeValue(const char* name, Luid& luid) {
  LUID found;
  if (!::LookupPrivilegeValueA(nullptr, name, &found)) return false;
  luid.lowPart = found.LowPart;
  luid.highPart = found.HighPart;
  return true;
}

bool Shutdown::ExitWindows(uint32_t flags, uint32_t reason) {
  return ::ExitWindowsEx(flags, reason) != FALSE;
}

}  // namespace kst::win32
