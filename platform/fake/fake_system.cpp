#include "platform/fake/fake_system.h"

#include "platform/fake/fake_platform.h"

namespace kst::fake {

bool FakeSystem::GetVersionEx(uint32_t recordSize, uint32_t& id) {
  if (p_.Call("GetVersionExA")) return false;
  bool refused = recordSize == win::kOsVersionInfoExSize ? refuseExtendedRecord
                                                         : refuseBasicRecord;
  if (refused) return false;
  id = platformId;
  return true;
}

std::string FakeSystem::FormatSystemMessage(ErrorCode code) {
  p_.Record("FormatMessageA");
  auto it = messages.find(code);
  if (it != messages.end()) return it->second;
  return "Message " + std::to_string(code) + ".\r\n";
}

}  // namespace kst::fake
