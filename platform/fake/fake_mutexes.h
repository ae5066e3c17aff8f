#pragma once
// The fake named mutexes, shared with other processes a test stands for.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/fake/fake_base.h"
#include "platform/platform.h"

namespace kst::fake {

// Named mutexes, shared with other processes that a test stands for. Names
// are compared with regard to case, as Windows compares them.
class FakeMutexes : public IMutexes {
 public:
  explicit FakeMutexes(FakePlatform& p) : p_(p) {}
  std::unique_ptr<IMutex> Create(const std::string& name, bool adminsOnly) override;
  std::unique_ptr<IMutex> Open(const std::string& name) override;

  struct Named {
    enum class Owner { kNone, kThisProcess, kAnother, kAbandoned };
    Owner owner = Owner::kNone;
    int ownedCount = 0;   // this process's recursive ownership
    bool adminsOnly = false;  // created with the administrators-only descriptor
    int handles = 0;      // this process's open handles
    bool keptByAnother = false;  // another process has it open
    // While another process owns it: it gives it up once a wait has lasted
    // this long (never when unset), releasing it or ending without doing so.
    std::optional<uint32_t> anotherReleasesAfterMs;
    bool anotherEndsHoldingIt = false;
  };

  // Another run of the program holds `name` (created as the program creates
  // it), and gives it up after `releasesAfterMs` of waiting, if ever.
  void HeldByAnother(const std::string& name, std::optional<uint32_t> releasesAfterMs = {},
                     bool endsHoldingIt = false, bool adminsOnly = true);
  bool Exists(const std::string& name) const;
  bool OwnedByThisProcess(const std::string& name) const;
  // True when this process owns any mutex now.
  bool OwnsAny() const;

  std::map<std::string, Named> named;
  // Names with a backslash are refused with ERROR_PATH_NOT_FOUND, as on NT 4
  // without Terminal Services, which has no "Global\" namespace.
  bool prefixRefused = false;
  // False on a system without security (the 9x family): a descriptor cannot
  // be built, with ERROR_CALL_NOT_IMPLEMENTED.
  bool descriptorsImplemented = true;
  // False for an unprivileged process: it may not create a "Global\" name
  // nor open an administrators-only mutex (ERROR_ACCESS_DENIED).
  bool privileged = true;
  // Every name created (or opened through creation) and whether it was asked
  // with the administrators-only descriptor, in order.
  std::vector<std::pair<std::string, bool>> creations;
  int openHandles = 0;

 private:
  friend class FakeMutex;
  std::unique_ptr<IMutex> HandleTo(const std::string& name);
  FakePlatform& p_;
};

}  // namespace kst::fake
