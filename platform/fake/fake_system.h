#pragma once
// The fake system information: the Windows family, WOW64, the last error
// code and the system's message texts.
#include <cstdint>
#include <map>
#include <string>

#include "platform/fake/fake_base.h"
#include "platform/platform.h"

namespace kst::fake {

class FakeSystem : public ISystem {
 public:
  explicit FakeSystem(FakePlatform& p) : p_(p) {}
  bool GetVersionEx(uint32_t recordSize, uint32_t& platformId) override;
  bool IsWow64Process() override { return wow64; }
  ErrorCode GetLastError() override { return lastError; }
  void SetLastError(ErrorCode code) override { lastError = code; }
  std::string FormatSystemMessage(ErrorCode code) override;

  uint32_t platformId = win::kVerPlatformWin32Nt;
  bool refuseExtendedRecord = false;  // the 156-byte record is refused
  bool refuseBasicRecord = false;     // the 148-byte record is refused
  bool wow64 = false;
  ErrorCode lastError = 0;
  std::map<ErrorCode, std::string> messages;  // default: "Message <code>.\r\n"

 private:
  FakePlatform& p_;
};

}  // namespace kst::fake
