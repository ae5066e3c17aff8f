#include "platform/win32/windows_api.h"

#include <cstring>
#include <vector>

#include "platform/win32/adapters.h"
#include "platform/win32/handles.h"

namespace kst::win32 {
namespace {

// The service manager keeps a configuration within 8 KB; an answer that asks
// for more than this is refused rather than allocated.
constexpr DWORD kMaxServiceConfigSize = 64 * 1024;

// A text of the configuration block: null gives an empty text, and no text
// is read past the block's end.
std::string BlockText(const char* text, const void* block, DWORD size) {
  const char* begin = static_cast<const char*>(block);
  const char* end = begin + size;
  if (text == nullptr || text < begin || text >= end) return {};
  return std::string(text, strnlen(text, size_t(end - text)));
}

class Service final : public IService {
 public:
  explicit Service(SC_HANDLE handle) : handle_(handle) {}

  bool Delete() override { return ::DeleteService(handle_.Get()) != FALSE; }

  bool ChangeNothing() override {
    return ::ChangeServiceConfigA(handle_.Get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                  SERVICE_NO_CHANGE, nullptr, nullptr, nullptr, nullptr,
                                  nullptr, nullptr, nullptr) != FALSE;
  }

  bool QueryConfig(ServiceConfig& config) override {
    DWORD needed = 0;
    if (::QueryServiceConfigA(handle_.Get(), nullptr, 0, &needed) ||
        ::GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed < sizeof(QUERY_SERVICE_CONFIGA) ||
        needed > kMaxServiceConfigSize) {
      return false;
    }
    // Held in 64-bit units, so the record at its start is aligned for its pointers.
    std::vector<unsigned long long> block((needed + 7) / 8);
    auto* answer = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(block.data());
    DWORD size = DWORD(block.size() * 8);
    if (!::QueryServiceConfigA(handle_.Get(), answer, size, &needed)) return false;
    config.serviceType = answer->dwServiceType;
    config.startType = answer->dwStartType;
    config.errorControl = answer->dwErrorControl;
    config.binaryPath = BlockText(answer->lpBinaryPathName, answer, size);
    config.loadOrderGroup = BlockText(answer->lpLoadOrderGroup, answer, size);
    config.displayName = BlockText(answer->lpDisplayName, answer, size);
    return true;
  }

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
