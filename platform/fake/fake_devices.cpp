#include "platform/fake/fake_devices.h"

#include <algorithm>

#include "platform/fake/fake_platform.h"

namespace kst::fake {

class FakeDevice : public IDevice {
 public:
  FakeDevice(FakeDevices& d, FakePlatform& p, FakeDeviceHandler h)
      : d_(d), p_(p), handler_(std::move(h)) {
    ++d_.openHandles;
    d_.mostOpenAtOnce = std::max(d_.mostOpenAtOnce, d_.openHandles);
  }
  ~FakeDevice() override {
    p_.RecordClose("CloseHandle");
    --d_.openHandles;
  }
  int Control(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
              uint8_t* referenced, uint32_t referencedSize) override {
    d_.codes.push_back(code);
    if (p_.Call("DeviceIoControl")) return 0;
    return handler_(code, static_cast<const uint8_t*>(in), inSize, static_cast<uint8_t*>(out),
                    outSize, referenced, referencedSize);
  }

 private:
  FakeDevices& d_;
  FakePlatform& p_;
  FakeDeviceHandler handler_;
};

std::unique_ptr<IDevice> FakeDevices::Open(const std::string& path, uint32_t access,
                                           uint32_t share, uint32_t disposition) {
  openModes.push_back({access, share, disposition});
  if (p_.Call("CreateFileA")) return nullptr;
  auto it = devices.find(path);
  if (it == devices.end()) {
    p_.system.lastError = win::kErrorFileNotFound;
    return nullptr;
  }
  ++opens;
  return std::make_unique<FakeDevice>(*this, p_, it->second);
}

}  // namespace kst::fake
