#include "platform/fake/fake_sleep.h"

#include "platform/fake/fake_platform.h"

namespace kst::fake {

void FakeSleep::Sleep(uint32_t milliseconds) {
  p_.Record("Sleep");
  sleeps.push_back(milliseconds);
  if (!clockLags) ticks += milliseconds;
}

uint32_t FakeSleep::TickCount() {
  p_.Record("GetTickCount");
  return ticks;
}

bool FakeSleep::TickCount64(uint64_t& milliseconds) {
  p_.Record("GetTickCount64");
  if (!hasTickCount64) return false;
  milliseconds = uint64_t(tickWraps) << 32 | ticks;
  return true;
}

uint64_t FakeSleep::SystemTime() {
  p_.Record("GetSystemTimeAsFileTime");
  return Now();
}

uint64_t FakeSleep::Now() const {
  constexpr uint64_t kPerMillisecond = 10000;
  return bootTime + (uint64_t(tickWraps) << 32 | ticks) * kPerMillisecond;
}

}  // namespace kst::fake
