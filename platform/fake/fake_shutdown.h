#pragma once
// The fake process token and shutdown: privileges and the requests to
// restart or end Windows.
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "platform/fake/fake_base.h"
#include "platform/platform.h"

namespace kst::fake {

class FakeShutdown : public IShutdown {
 public:
  explicit FakeShutdown(FakePlatform& p) : p_(p) {}
  std::unique_ptr<IToken> OpenProcessToken(uint32_t access) override;
  bool LookupPrivilegeValue(const char* name, Luid& luid) override;
  bool ExitWindows(uint32_t flags, uint32_t reason) override;

  Luid shutdownLuid{0x13, 0};
  bool holdsShutdownPrivilege = true;  // else adjusting leaves ERROR_NOT_ALL_ASSIGNED
  std::vector<std::pair<Luid, uint32_t>> adjusted;
  struct Request {
    uint32_t flags;
    uint32_t reason;
  };
  std::vector<Request> exitRequests;  // accepted restart requests
  int openTokens = 0;

 private:
  friend class FakeToken;
  FakePlatform& p_;
};

}  // namespace kst::fake
