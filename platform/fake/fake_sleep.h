#pragma once
// The fake clocks and sleep.
#include <cstdint>
#include <vector>

#include "platform/fake/fake_base.h"
#include "platform/platform.h"

namespace kst::fake {

// A sleep moves the clock on by its length and returns at once.
class FakeSleep : public ISleep {
 public:
  explicit FakeSleep(FakePlatform& p) : p_(p) {}
  void Sleep(uint32_t milliseconds) override;
  uint32_t TickCount() override;
  // The uptime `tickWraps` * 2^32 + `ticks`, unless `hasTickCount64` is false.
  bool TickCount64(uint64_t& milliseconds) override;
  // `bootTime` plus the uptime.
  uint64_t SystemTime() override;
  // SystemTime without recording a call.
  uint64_t Now() const;
  std::vector<uint32_t> sleeps;
  uint32_t ticks = 0;  // the clock; tests move it on to stand for slow calls
  // A tick count that lags behind the waits (a coarse or stalled clock):
  // Sleep then leaves `ticks` where it is.
  bool clockLags = false;
  // How often `ticks` has wrapped since the start: the uptime's high half.
  uint32_t tickWraps = 0;
  bool hasTickCount64 = true;  // false: a system before Windows Vista
  uint64_t bootTime = kFakeBootTime;  // FILETIME of the system's start

  // 2024-01-01 00:00 UTC.
  static constexpr uint64_t kFakeBootTime = 133485408000000000ull;

 private:
  FakePlatform& p_;
};

}  // namespace kst::fake
