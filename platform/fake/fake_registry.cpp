#include "platform/fake/fake_registry.h"

#include <algorithm>

#include "platform/fake/fake_platform.h"

namespace kst::fake {

namespace {

constexpr RegStatus kRegFileNotFound = 2;
constexpr RegStatus kRegMoreData = 234;

}  // namespace

// A key of the registry, or a service's key, which stands for the service:
// it holds no values here, and flushing it makes the service durable.
class FakeRegKey : public IRegKey {
 public:
  FakeRegKey(FakeRegistry& reg, FakePlatform& p, std::string path, bool readOnly = false)
      : reg_(reg), p_(p), path_(std::move(path)), readOnly_(readOnly),
        service_(FakeServices::NameOfKey(path_)) {
    ++reg_.openKeys;
  }
  ~FakeRegKey() override {
    p_.RecordClose("RegCloseKey");
    --reg_.openKeys;
  }

  RegStatus QueryValue(const char* name, uint32_t* type, uint8_t* data,
                       uint32_t* size) override {
    if (auto f = p_.Call("RegQueryValueExA")) return RegStatus(*f);
    if (service_) return kRegFileNotFound;
    FakeRegKeyData& key = reg_.keys[path_];
    auto it = key.find(name);
    if (it == key.end()) return kRegFileNotFound;
    const FakeRegValue& v = it->second;
    if (type) *type = v.type;
    uint32_t need = uint32_t(v.bytes.size());
    if (data == nullptr) {
      if (size) *size = need;
      return 0;
    }
    if (size == nullptr || *size < need) {
      if (size) *size = need;
      return kRegMoreData;
    }
    std::copy(v.bytes.begin(), v.bytes.end(), data);
    *size = need;
    return 0;
  }

  RegStatus SetValue(const char* name, uint32_t type, const uint8_t* data,
                     uint32_t size) override {
    if (auto f = p_.Call("RegSetValueExA")) return RegStatus(*f);
    if (readOnly_ || service_) return RegStatus(win::kErrorAccessDenied);
    reg_.NoteChange(path_);
    reg_.keys[path_][name] = FakeRegValue{type, std::vector<uint8_t>(data, data + size)};
    return 0;
  }

  RegStatus DeleteValue(const char* name) override {
    if (auto f = p_.Call("RegDeleteValueA")) return RegStatus(*f);
    if (readOnly_ || service_) return RegStatus(win::kErrorAccessDenied);
    if (reg_.keys[path_].count(name) == 0) return kRegFileNotFound;
    reg_.NoteChange(path_);
    reg_.keys[path_].erase(name);
    return 0;
  }

  RegStatus Flush() override {
    if (auto f = p_.Call("RegFlushKey")) return RegStatus(*f);
    reg_.unflushed.erase(path_);
    if (service_) p_.services.unflushed.erase(*service_);
    return 0;
  }

 private:
  FakeRegistry& reg_;
  FakePlatform& p_;
  std::string path_;
  bool readOnly_;
  std::optional<std::string> service_;
};

void FakeRegistry::NoteChange(const std::string& path) {
  if (unflushed.count(path)) return;
  auto key = keys.find(path);
  unflushed[path] = key == keys.end() ? std::nullopt : std::optional<FakeRegKeyData>(key->second);
}

bool FakeRegistry::Exists(const std::string& path) const {
  std::optional<std::string> service = FakeServices::NameOfKey(path);
  return service ? p_.services.services.count(*service) != 0 : keys.count(path) != 0;
}

RegStatus FakeRegistry::OpenLocalMachineKeyToRead(const std::string& path,
                                                  std::unique_ptr<IRegKey>& key) {
  if (auto f = p_.Call("RegOpenKeyExA")) return RegStatus(*f);
  if (!Exists(path)) return kRegFileNotFound;
  key = std::make_unique<FakeRegKey>(*this, p_, path, true);
  return 0;
}

RegStatus FakeRegistry::OpenLocalMachineKey(const std::string& path,
                                            std::unique_ptr<IRegKey>& key) {
  if (auto f = p_.Call("RegOpenKeyA")) return RegStatus(*f);
  if (!Exists(path)) return kRegFileNotFound;
  key = std::make_unique<FakeRegKey>(*this, p_, path);
  return 0;
}

std::vector<uint8_t> MultiSzBytes(const std::vector<std::string>& entries) {
  std::vector<uint8_t> bytes;
  for (const std::string& e : entries) {
    bytes.insert(bytes.end(), e.begin(), e.end());
    bytes.push_back(0);
  }
  bytes.push_back(0);
  return bytes;
}

void FakeRegistry::SetMultiSz(const std::string& key, const std::string& value,
                              const std::vector<std::string>& entries) {
  keys[key][value] = FakeRegValue{win::kRegMultiSz, MultiSzBytes(entries)};
}

std::optional<std::vector<std::string>> FakeRegistry::MultiSz(const std::string& key,
                                                              const std::string& value) const {
  return MultiSzOf(keys, key, value);
}

std::optional<std::vector<std::string>> MultiSzOf(
    const std::map<std::string, FakeRegKeyData, NoCase>& keys, const std::string& key,
    const std::string& value) {
  auto k = keys.find(key);
  if (k == keys.end()) return std::nullopt;
  auto v = k->second.find(value);
  if (v == k->second.end()) return std::nullopt;
  return MultiSzEntries(v->second.bytes);
}

std::vector<std::string> MultiSzEntries(std::span<const uint8_t> bytes) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < bytes.size() && bytes[i] != 0) {
    size_t end = i;
    while (end < bytes.size() && bytes[end] != 0) ++end;
    out.emplace_back(bytes.begin() + long(i), bytes.begin() + long(end));
    i = end + 1;
  }
  return out;
}

}  // namespace kst::fake
