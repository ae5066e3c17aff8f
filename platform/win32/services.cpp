#include "platform/win32/windows_api.h"

#include "platform/win32/adapters.h"
#include "platform/win32/handles.h"

namespace kst::win32 {
namespace {

class Service final : public IService {
 public:
  explicit Service(SC_HANDLE handle) : handle_(handle) {}

  bool Delete() override { return ::DeleteService(handle_.Get()) != FALSE; }

 private:
  UniqueServiceHandle handle_;
};

std::unique_ptr<IService> WrapService(SC_HANDLE handle) {
  if (handle == nullptr) return nullptr;
  return std::make_unique<Service>(handle);
}

class ServiceManager final : public IServiceManager {
 public:
  explicit ServiceManager(SC_HANDLE handle) : handle_(handle) {}

  std::unique_ptr<IService> Open(const std::string& name, uint32_t access) override {
    return WrapService(::OpenServiceA(handle_.Get(), name.c_str(), access));
  }

  std::unique_ptr<IService> Create(const ServiceConfig& c) override {
    const char* group = c.loadOrderGroup.empty() ? nullptr : c.loadOrderGroup.c_str();
    return WrapService(::CreateServiceA(handle_.Get(), c.name.c_str(), c.displayName.c_str(),
                                        c.desiredAccess, c.serviceType, c.startType,
                                        c.errorControl, c.binaryPath.c_str(), group, nullptr,
                                        nullptr, nullptr, nullptr));
  }

 private:
  UniqueServiceHandle handle_;
};

}  // namespace

std::unique_ptr<IServiceManager> Services::OpenManager(uint32_t access) {
  SC_HANDLE manager = ::OpenSCManagerA(nullptr, nullptr, access);
  if (manager == nullptr) return nullptr;
  return std::make_unique<ServiceManager>(manager);
}

}  // namespace kst::win32
