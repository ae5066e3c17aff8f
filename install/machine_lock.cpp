#include "install/machine_lock.h"

#include <string>

#include "diag/error_text.h"
#include "diag/no_throw.h"
#include "diag/trace.h"
#include "install/family.h"

namespace kst {
namespace {

ErrorCode LastError() { return Sys().system.GetLastError(); }

// The errors with which a system without the "Global\" namespace refuses a
// name that holds a backslash.
bool PrefixRefused(ErrorCode code) {
  return code == win::kErrorPathNotFound || code == win::kErrorInvalidName ||
         code == win::kErrorBadPathname;
}

// Creates or opens the lock's mutex, at the machine-wide name or, where the
// system refuses that, at the plain name; with the administrators-only
// descriptor, or without one where the system has no security. The 9x
// family has one namespace, no security, and takes no backslash in a name.
// Null, with the last error code, when it cannot be had.
std::unique_ptr<IMutex> CreateLockMutex(std::string& name) {
  IMutexes& mutexes = Sys().mutexes;
  if (RunningFamily() == WindowsFamily::k9x) {
    name = kMachineLockPlainName;
    return mutexes.Create(name, false);
  }
  for (const char* candidate : {kMachineLockName, kMachineLockPlainName}) {
    name = candidate;
    std::unique_ptr<IMutex> mutex = mutexes.Create(name, true);
    if (!mutex && LastError() == win::kErrorCallNotImplemented) mutex = mutexes.Create(name, false);
    if (mutex || !PrefixRefused(LastError())) return mutex;
  }
  return nullptr;
}

std::string Seconds(uint32_t ms) { return std::to_string(ms / 1000) + " s"; }

}  // namespace

MachineLock MachineLock::Take(uint32_t waitMs) {
  std::string name;
  std::unique_ptr<IMutex> mutex = CreateLockMutex(name);
  if (!mutex && LastError() == win::kErrorAccessDenied) {
    // An unprivileged process may neither create a machine-wide name nor
    // open the administrators' mutex: that it exists tells another run is on.
    mutex = Sys().mutexes.Open(name);
    if (!mutex && LastError() == win::kErrorAccessDenied) return {State::kHeldElsewhere, nullptr};
    if (!mutex && LastError() == win::kErrorFileNotFound) return {State::kUnavailable, nullptr};
  }
  if (!mutex) {
    Trace("Failed to CreateMutex " + name + "\n" + LastErrorText());
    return {State::kUnavailable, nullptr};
  }
  WaitResult result = mutex->Wait(0);
  if (result == WaitResult::kTimedOut) {
    Trace("Another Kestrune installation or removal is running, waiting up to " + Seconds(waitMs));
    result = mutex->Wait(waitMs);
    if (result == WaitResult::kAcquired || result == WaitResult::kAbandoned) {
      Trace("The other Kestrune installation or removal has ended");
    }
  }
  switch (result) {
    case WaitResult::kAcquired:
    case WaitResult::kAbandoned:
      return {State::kHeld, std::move(mutex)};
    case WaitResult::kTimedOut:
      Trace("Failed to wait for the other Kestrune installation or removal: still running after " +
            Seconds(waitMs) + "!");
      return {State::kBusy, nullptr};
    case WaitResult::kFailed:
      break;
  }
  Trace("Failed to WaitForSingleObject " + name + "\n" + LastErrorText());
  return {State::kUnavailable, nullptr};
}

void MachineLock::Release() noexcept {
  if (!mutex_) return;
  IMutex& mutex = *mutex_;
  NoThrow([&] { mutex.Release(); });  // failing, it is abandoned when this thread ends
  mutex_.reset();
}

}  // namespace kst
