#include "platform/win32/windows_api.h"

#include "platform/win32/adapters.h"
#include "platform/win32/handles.h"

namespace kst::win32 {
namespace {

// DWORD and uint32_t are distinct types of the same width; the in/out
// arguments go through locals so that no pointer is reinterpreted.
class RegKey final : public IRegKey {
 public:
  explicit RegKey(HKEY key) : key_(key) {}

  RegStatus QueryValue(const char* name, uint32_t* type, uint8_t* data,
                       uint32_t* size) override {
    DWORD typeValue = type ? *type : 0;
    DWORD sizeValue = size ? *size : 0;
    LONG status = ::RegQueryValueExA(key_.Get(), name, nullptr, type ? &typeValue : nullptr,
                                     data, size ? &sizeValue : nullptr);
    if (type) *type = typeValue;
    if (size) *size = sizeValue;
    return status;
  }

  RegStatus SetValue(const char* name, uint32_t type, const uint8_t* data,
                     uint32_t size) override {
    return ::RegSetValueExA(key_.Get(), name, 0, type, data, size);
  }

  RegStatus DeleteValue(const char* name) override {
    return ::RegDeleteValueA(key_.Get(), name);
  }

  RegStatus Flush() override { return ::RegFlushKey(key_.Get()); }

 private:
  UniqueRegKey key_;
};

}  // namespace

RegStatus Registry::OpenLocalMachineKey(const std::string& path,
                                        std::unique_ptr<IRegKey>& key) {
  HKEY opened = nullptr;
  LONG status = ::RegOpenKeyA(HKEY_LOCAL_MACHINE, path.c_str(), &opened);
  if (status == ERROR_SUCCESS) key = std::make_unique<RegKey>(opened);
  return status;
}

RegStatus Registry::OpenLocalMachineKeyToRead(const std::string& path,
                                              std::unique_ptr<IRegKey>& key) {
  HKEY opened = nullptr;
  LONG status = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &opened);
  if (status == ERROR_SUCCESS) key = std::make_unique<RegKey>(opened);
  return status;
}

}  // namespace kst::win32
