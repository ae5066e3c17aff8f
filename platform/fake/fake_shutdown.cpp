#include "platform/fake/fake_shutdown.h"

#include "platform/fake/fake_platform.h"

namespace kst::fake {

class FakeToken : public IToken {
 public:
  FakeToken(FakeShutdown& s, FakePlatform& p, uint32_t access) : s_(s), p_(p), access_(access) {
    ++s_.openTokens;
  }
  ~FakeToken() override {
    p_.RecordClose("CloseHandle");
    --s_.openTokens;
  }
  bool AdjustPrivilege(const Luid& luid, uint32_t attributes) override {
    if (p_.Call("AdjustTokenPrivileges")) return false;
    if ((access_ & win::kTokenAdjustPrivileges) == 0) {
      p_.system.lastError = win::kErrorAccessDenied;  // as for a token opened without the right
      return false;
    }
    s_.adjusted.emplace_back(luid, attributes);
    // Like Windows: the call succeeds but reports through the last error
    // whether every privilege could be enabled.
    p_.system.lastError = s_.holdsShutdownPrivilege ? 0 : win::kErrorNotAllAssigned;
    return true;
  }

 private:
  FakeShutdown& s_;
  FakePlatform& p_;
  uint32_t access_;
};

std::unique_ptr<IToken> FakeShutdown::OpenProcessToken(uint32_t access) {
  if (p_.Call("OpenProcessToken")) return nullptr;
  return std::make_unique<FakeToken>(*this, p_, access);
}

bool FakeShutdown::LookupPrivilegeValue(const char* name, Luid& luid) {
  if (p_.Call("LookupPrivilegeValueA")) return false;
  if (std::string(name) != "SeShutdownPrivilege") return false;
  luid = shutdownLuid;
  return true;
}

bool FakeShutdown::ExitWindows(uint32_t flags, uint32_t reason) {
  if (p_.Call("ExitWindowsEx")) return false;
  exitRequests.push_back({flags, reason});
  return true;
}

}  // namespace kst::fake
