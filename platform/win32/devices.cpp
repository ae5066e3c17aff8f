#include "platform/win32/windows_api.h"

#include "platform/win32/adapters.h"
#include "platform/win32/handles.h"

namespace kst::win32 {
namespace {

class Device final : public IDevice {
 public:
  explicit Device(HANDLE handle) : handle_(handle) {}

  // The driver follows any address inside the input itself, so `referenced`
  // has nothing to add here.
  int Control(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
              uint8_t* /*referenced*/, uint32_t /*referencedSize*/) override {
    DWORD returned = 0;
    return ::DeviceIoControl(handle_.Get(), code, const_cast<void*>(in), inSize, out, outSize,
                             &returned, nullptr);
  }

 private:
  UniqueFileHandle handle_;
};

}  // namespace

std::unique_ptr<IDevice> Devices::Open(const std::string& path, uint32_t access,
                                       uint32_t share, uint32_t disposition) {
  HANDLE h = ::CreateFileA(path.c_str(), access, share, nullptr, disposition, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<Device>(h);
}

}  // namespace kst::win32
