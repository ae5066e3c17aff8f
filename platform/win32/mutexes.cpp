#include "platform/win32/windows_api.h"

#include "platform/win32/adapters.h"
#include "platform/win32/handles.h"

namespace kst::win32 {
namespace {

class Mutex final : public IMutex {
 public:
  explicit Mutex(HANDLE handle) : handle_(handle) {}

  WaitResult Wait(uint32_t timeoutMs) override {
    switch (::WaitForSingleObject(handle_.Get(), timeoutMs)) {
      case WAIT_OBJECT_0:
        return WaitResult::kAcquired;
      case WAIT_ABANDONED:
        return WaitResult::kAbandoned;
      case WAIT_TIMEOUT:
        return WaitResult::kTimedOut;
      default:
        return WaitResult::kFailed;
    }
  }

  bool Release() override { return ::ReleaseMutex(handle_.Get()) != FALSE; }

 private:
  UniqueMutexHandle handle_;
};

// The security calls of advapi32, bound at run time: the 9x family's
// advapi32 may lack them, and a program that imported them would not start
// there at all. Null members when the system does not have one.
struct SecurityCalls {
  decltype(&::AllocateAndInitializeSid) allocateSid = nullptr;
  decltype(&::FreeSid) freeSid = nullptr;
  decltype(&::InitializeAcl) initializeAcl = nullptr;
  decltype(&::AddAccessAllowedAce) addAllowedAce = nullptr;
  decltype(&::InitializeSecurityDescriptor) initializeDescriptor = nullptr;
  decltype(&::SetSecurityDescriptorDacl) setDacl = nullptr;

  bool Complete() const {
    return allocateSid && freeSid && initializeAcl && addAllowedAce && initializeDescriptor &&
           setDacl;
  }
};

template <typename Fn>
Fn Bind(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

// advapi32 is loaded already: the program imports it for the registry.
const SecurityCalls& Security() {
  static const SecurityCalls calls = [] {
    SecurityCalls c;
    HMODULE advapi = ::GetModuleHandleA("advapi32.dll");
    if (advapi == nullptr) return c;
    c.allocateSid = Bind<decltype(c.allocateSid)>(advapi, "AllocateAndInitializeSid");
    c.freeSid = Bind<decltype(c.freeSid)>(advapi, "FreeSid");
    c.initializeAcl = Bind<decltype(c.initializeAcl)>(advapi, "InitializeAcl");
    c.addAllowedAce = Bind<decltype(c.addAllowedAce)>(advapi, "AddAccessAllowedAce");
    c.initializeDescriptor =
        Bind<decltype(c.initializeDescriptor)>(advapi, "InitializeSecurityDescriptor");
    c.setDacl = Bind<decltype(c.setDacl)>(advapi, "SetSecurityDescriptorDacl");
    return c;
  }();
  return calls;
}

// Frees the SIDs AllocateAndInitializeSid gave out.
struct SidTraits {
  using Type = PSID;
  static Type Invalid() { return nullptr; }
  static void Close(Type sid) { Security().freeSid(sid); }
};
using UniqueSid = UniqueHandle<SidTraits>;

// A security descriptor whose DACL grants the mutex's rights to SYSTEM and
// the Administrators group and to nobody else, so that no other program can
// open the name and hold it. Valid as long as this object lives.
class AdminsOnlyDescriptor {
 public:
  // False, with the last error code of the call that failed, when the
  // system cannot build it (the 9x family has no security: then
  // ERROR_CALL_NOT_IMPLEMENTED).
  bool Build() {
    const SecurityCalls& calls = Security();
    if (!calls.Complete()) {
      ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
      return false;
    }
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    if (!calls.allocateSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0,
                           system_.Receive()) ||
        !calls.allocateSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                           0, 0, 0, 0, admins_.Receive())) {
      return false;
    }
    return calls.initializeAcl(Acl(), sizeof acl_, ACL_REVISION) &&
           calls.addAllowedAce(Acl(), ACL_REVISION, MUTEX_ALL_ACCESS, system_.Get()) &&
           calls.addAllowedAce(Acl(), ACL_REVISION, MUTEX_ALL_ACCESS, admins_.Get()) &&
           calls.initializeDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
           calls.setDacl(&descriptor_, TRUE, Acl(), FALSE);
  }
  SECURITY_DESCRIPTOR* Get() { return &descriptor_; }

 private:
  ACL* Acl() { return reinterpret_cast<ACL*>(acl_); }

  UniqueSid system_;
  UniqueSid admins_;
  // The ACL header and two allowed-access entries, each with a SID of at
  // most two subauthorities, fit with room to spare.
  alignas(DWORD) BYTE acl_[128] = {};
  SECURITY_DESCRIPTOR descriptor_ = {};
};

}  // namespace

std::unique_ptr<IMutex> Mutexes::Create(const std::string& name, bool adminsOnly) {
  AdminsOnlyDescriptor descriptor;
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, FALSE};
  if (adminsOnly) {
    if (!descriptor.Build()) return nullptr;
    attributes.lpSecurityDescriptor = descriptor.Get();
  }
  HANDLE h = ::CreateMutexA(adminsOnly ? &attributes : nullptr, FALSE, name.c_str());
  if (h == nullptr) return nullptr;
  return std::make_unique<Mutex>(h);
}

std::unique_ptr<IMutex> Mutexes::Open(const std::string& name) {
  HANDLE h = ::OpenMutexA(SYNCHRONIZE, FALSE, name.c_str());
  if (h == nullptr) return nullptr;
  return std::make_unique<Mutex>(h);
}

}  // namespace kst::win32
