#include "platform/fake/fake_mutexes.h"

#include "platform/fake/fake_platform.h"

namespace kst::fake {

class FakeMutex : public IMutex {
 public:
  FakeMutex(FakeMutexes& m, FakePlatform& p, std::string name) : m_(m), p_(p), name_(std::move(name)) {
    ++m_.openHandles;
    ++m_.named[name_].handles;
  }
  // The object goes with its last handle unless another process keeps it;
  // an owned one stays owned, as the owning thread has not ended.
  ~FakeMutex() override {
    p_.RecordClose("CloseHandle");
    --m_.openHandles;
    FakeMutexes::Named& n = m_.named[name_];
    --n.handles;
    if (n.handles == 0 && n.owner == FakeMutexes::Named::Owner::kNone && !n.keptByAnother) {
      m_.named.erase(name_);
    }
  }

  // A wait on a mutex another process owns moves the clock on by what it
  // waited, so that the bounds of a wait show without waiting.
  WaitResult Wait(uint32_t timeoutMs) override {
    using Owner = FakeMutexes::Named::Owner;
    if (p_.Call("WaitForSingleObject")) return WaitResult::kFailed;
    FakeMutexes::Named& n = m_.named[name_];
    switch (n.owner) {
      case Owner::kNone:
      case Owner::kThisProcess:
        return Take(n, WaitResult::kAcquired);
      case Owner::kAbandoned:
        return Take(n, WaitResult::kAbandoned);
      case Owner::kAnother:
        break;
    }
    if (n.anotherReleasesAfterMs && *n.anotherReleasesAfterMs <= timeoutMs) {
      p_.sleep.ticks += *n.anotherReleasesAfterMs;
      n.anotherReleasesAfterMs.reset();
      n.keptByAnother = false;
      n.owner = Owner::kNone;
      return Take(n, n.anotherEndsHoldingIt ? WaitResult::kAbandoned : WaitResult::kAcquired);
    }
    p_.sleep.ticks += timeoutMs;
    if (n.anotherReleasesAfterMs) *n.anotherReleasesAfterMs -= timeoutMs;
    return WaitResult::kTimedOut;
  }

  bool Release() override {
    if (p_.Call("ReleaseMutex")) return false;
    FakeMutexes::Named& n = m_.named[name_];
    if (n.owner != FakeMutexes::Named::Owner::kThisProcess) {
      p_.system.lastError = win::kErrorNotOwner;
      return false;
    }
    if (--n.ownedCount == 0) n.owner = FakeMutexes::Named::Owner::kNone;
    return true;
  }

 private:
  static WaitResult Take(FakeMutexes::Named& n, WaitResult result) {
    n.owner = FakeMutexes::Named::Owner::kThisProcess;
    ++n.ownedCount;
    return result;
  }

  FakeMutexes& m_;
  FakePlatform& p_;
  std::string name_;
};

void FakeMutexes::HeldByAnother(const std::string& name, std::optional<uint32_t> releasesAfterMs,
                                bool endsHoldingIt, bool adminsOnly) {
  Named& n = named[name];
  n.owner = Named::Owner::kAnother;
  n.keptByAnother = true;
  n.adminsOnly = adminsOnly;
  n.anotherReleasesAfterMs = releasesAfterMs;
  n.anotherEndsHoldingIt = endsHoldingIt;
}

bool FakeMutexes::Exists(const std::string& name) const { return named.count(name) != 0; }

bool FakeMutexes::OwnedByThisProcess(const std::string& name) const {
  auto it = named.find(name);
  return it != named.end() && it->second.owner == Named::Owner::kThisProcess;
}

bool FakeMutexes::OwnsAny() const {
  for (const auto& [name, n] : named) {
    if (n.owner == Named::Owner::kThisProcess) return true;
  }
  return false;
}

std::unique_ptr<IMutex> FakeMutexes::HandleTo(const std::string& name) {
  return std::make_unique<FakeMutex>(*this, p_, name);
}

std::unique_ptr<IMutex> FakeMutexes::Create(const std::string& name, bool adminsOnly) {
  if (p_.Call("CreateMutexA")) return nullptr;
  creations.emplace_back(name, adminsOnly);
  if (adminsOnly && !descriptorsImplemented) {
    p_.system.lastError = win::kErrorCallNotImplemented;
    return nullptr;
  }
  if (prefixRefused && name.find('\\') != std::string::npos) {
    p_.system.lastError = win::kErrorPathNotFound;
    return nullptr;
  }
  if (Exists(name)) {
    if (named[name].adminsOnly && !privileged) {
      p_.system.lastError = win::kErrorAccessDenied;
      return nullptr;
    }
    p_.system.lastError = win::kErrorAlreadyExists;
    return HandleTo(name);
  }
  if (!privileged && name.rfind("Global\\", 0) == 0) {
    p_.system.lastError = win::kErrorAccessDenied;
    return nullptr;
  }
  named[name].adminsOnly = adminsOnly;
  p_.system.lastError = 0;
  return HandleTo(name);
}

std::unique_ptr<IMutex> FakeMutexes::Open(const std::string& name) {
  if (p_.Call("OpenMutexA")) return nullptr;
  if (!Exists(name)) {
    p_.system.lastError = win::kErrorFileNotFound;
    return nullptr;
  }
  if (named[name].adminsOnly && !privileged) {
    p_.system.lastError = win::kErrorAccessDenied;
    return nullptr;
  }
  return HandleTo(name);
}

}  // namespace kst::fake
