#pragma once
// One installation, removal or check at a time on a machine.
//
// Every install and uninstall, from the window or the command line, holds a
// named mutex from its start until its changes are done, and the console
// check holds it while it reads. A run that finds it held waits for it, for
// a bounded time; a mutex whose owner was killed holding it counts as
// taken, since every state a run can leave is safe.
#include <cstdint>
#include <memory>

#include "platform/platform.h"

namespace kst {

// The mutex in the machine-wide namespace, and under the plain name where
// the system has no such namespace (NT 4 without Terminal Services): every
// name is machine-wide there, as on the 9x family.
inline constexpr const char* kMachineLockName = "Global\\KestruneInstallTools";
inline constexpr const char* kMachineLockPlainName = "KestruneInstallTools";

// How long an install or uninstall, and the console check, wait for it.
inline constexpr uint32_t kProcedureLockWaitMs = 60000;
inline constexpr uint32_t kCheckLockWaitMs = 10000;

class MachineLock {
 public:
  enum class State {
    kHeld,           // this run holds it
    kBusy,           // another run held it for the whole wait
    kHeldElsewhere,  // it exists, and its descriptor keeps this process out
    kUnavailable,    // it could not be had (traced); nobody is known to hold it
  };

  // Takes the lock: at once and silently when nobody holds it; otherwise
  // after a trace line, waiting up to `waitMs`, with a trace line when it
  // is had and one when the wait ran out.
  static MachineLock Take(uint32_t waitMs);

  MachineLock(MachineLock&& other) noexcept = default;
  MachineLock& operator=(MachineLock&&) = delete;
  ~MachineLock() { Release(); }

  // What taking it came to.
  State state() const { return state_; }
  bool Held() const { return state_ == State::kHeld; }
  // Gives it up when held and closes the mutex; never throws. The
  // destructor does it too.
  void Release() noexcept;

 private:
  MachineLock(State state, std::unique_ptr<IMutex> mutex)
      : state_(state), mutex_(std::move(mutex)) {}

  State state_;
  std::unique_ptr<IMutex> mutex_;
};

}  // namespace kst
