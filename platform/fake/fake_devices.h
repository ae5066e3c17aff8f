#pragma once
// The fake control devices: DeviceIoControl answered by a handler per path.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/fake/fake_base.h"
#include "platform/platform.h"

namespace kst::fake {

// Answers one DeviceIoControl of a fake control device.
using FakeDeviceHandler =
    std::function<int(uint32_t code, const uint8_t* in, uint32_t inSize, uint8_t* out,
                      uint32_t outSize, uint8_t* referenced, uint32_t referencedSize)>;

class FakeDevices : public IDevices {
 public:
  explicit FakeDevices(FakePlatform& p) : p_(p) {}
  std::unique_ptr<IDevice> Open(const std::string& path, uint32_t access, uint32_t share,
                                uint32_t disposition) override;

  std::map<std::string, FakeDeviceHandler, NoCase> devices;  // by device path
  std::vector<uint32_t> codes;  // every control code sent, in order
  struct OpenMode {
    uint32_t access, share, disposition;
  };
  std::vector<OpenMode> openModes;  // of every open asked for, in order
  int openHandles = 0;
  int mostOpenAtOnce = 0;
  int opens = 0;

 private:
  friend class FakeDevice;
  FakePlatform& p_;
};

}  // namespace kst::fake
