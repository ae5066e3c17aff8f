#include "platform/fake/fake_services.h"

#include "platform/fake/fake_platform.h"

namespace kst::fake {

namespace {

const std::string kServicesKey = "SYSTEM\\CurrentControlSet\\Services\\";

}  // namespace

std::string FakeServices::KeyPath(const std::string& name) { return kServicesKey + name; }

std::optional<std::string> FakeServices::NameOfKey(const std::string& path) {
  if (path.size() <= kServicesKey.size() ||
      !SamePath(path.substr(0, kServicesKey.size()), kServicesKey)) {
    return std::nullopt;
  }
  std::string name = path.substr(kServicesKey.size());
  if (name.find('\\') != std::string::npos) return std::nullopt;
  return name;
}

void FakeServices::NoteChange(const std::string& name) {
  if (unflushed.count(name)) return;
  auto service = services.find(name);
  unflushed[name] =
      service == services.end() ? std::nullopt : std::optional<FakeServiceEntry>(service->second);
}

class FakeService : public IService {
 public:
  FakeService(FakeServices& s, FakePlatform& p, std::string name, uint32_t access)
      : s_(s), p_(p), name_(std::move(name)), access_(access) {
    ++s_.openHandles;
  }
  ~FakeService() override {
    p_.RecordClose("CloseServiceHandle");
    --s_.openHandles;
  }
  // A running service is only marked; the service manager removes it at the
  // next start of Windows.
  bool Delete() override {
    if (p_.Call("DeleteService")) return false;
    FakeServiceEntry* entry = Entry(win::kDelete);
    if (entry == nullptr) return false;
    s_.NoteChange(name_);
    if (s_.running.count(name_)) {
      entry->markedForDeletion = true;
    } else {
      s_.services.erase(name_);
    }
    return true;
  }
  bool ChangeNothing() override {
    if (p_.Call("ChangeServiceConfigA")) return false;
    return Entry(win::kServiceChangeConfig) != nullptr;
  }
  bool QueryConfig(ServiceConfig& config) override {
    if (p_.Call("QueryServiceConfigA")) return false;
    auto it = s_.services.find(name_);
    if (it == s_.services.end() || !(access_ & win::kServiceQueryConfig)) return false;
    const ServiceConfig& stored = it->second.config;
    config.displayName = stored.displayName;
    config.serviceType = stored.serviceType;
    config.startType = stored.startType;
    config.errorControl = stored.errorControl;
    config.binaryPath = stored.binaryPath;
    config.loadOrderGroup = stored.loadOrderGroup;
    return true;
  }

 private:
  // The service, for a change that needs `right`; null with the last error
  // code set when the handle lacks the right, the service is gone or it is
  // marked for deletion.
  FakeServiceEntry* Entry(uint32_t right) {
    auto it = s_.services.find(name_);
    uint32_t error = !(access_ & right)           ? win::kErrorAccessDenied
                     : it == s_.services.end()    ? win::kErrorServiceDoesNotExist
                     : it->second.markedForDeletion ? win::kErrorServiceMarkedForDelete
                                                    : 0;
    if (error == 0) return &it->second;
    p_.system.lastError = error;
    return nullptr;
  }

  FakeServices& s_;
  FakePlatform& p_;
  std::string name_;
  uint32_t access_;
};

class FakeServiceManager : public IServiceManager {
 public:
  FakeServiceManager(FakeServices& s, FakePlatform& p) : s_(s), p_(p) { ++s_.openHandles; }
  ~FakeServiceManager() override {
    p_.RecordClose("CloseServiceHandle");
    --s_.openHandles;
  }

  std::unique_ptr<IService> Open(const std::string& name, uint32_t access) override {
    s_.serviceAccess.push_back(access);
    if (p_.Call("OpenServiceA")) return nullptr;
    if (s_.services.count(name) == 0) {
      p_.system.lastError = win::kErrorServiceDoesNotExist;
      return nullptr;
    }
    return std::make_unique<FakeService>(s_, p_, name, access);
  }

  std::unique_ptr<IService> Create(const ServiceConfig& config) override {
    if (p_.Call("CreateServiceA")) return nullptr;
    auto existing = s_.services.find(config.name);
    if (existing != s_.services.end()) {
      p_.system.lastError = existing->second.markedForDeletion
                                ? win::kErrorServiceMarkedForDelete
                                : 1073;  // ERROR_SERVICE_EXISTS
      return nullptr;
    }
    s_.NoteChange(config.name);
    s_.services[config.name] = FakeServiceEntry{config};
    return std::make_unique<FakeService>(s_, p_, config.name, config.desiredAccess);
  }

 private:
  FakeServices& s_;
  FakePlatform& p_;
};

std::unique_ptr<IServiceManager> FakeServices::OpenManager(uint32_t access) {
  managerAccess.push_back(access);
  if (p_.Call("OpenSCManagerA")) return nullptr;
  return std::make_unique<FakeServiceManager>(*this, p_);
}

}  // namespace kst::fake
