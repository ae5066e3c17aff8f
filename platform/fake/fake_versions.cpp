#include "platform/fake/fake_versions.h"

#include <algorithm>
#include <cstring>

#include "platform/fake/fake_platform.h"

namespace kst::fake {

namespace {

constexpr uint32_t kVersionMagic = 0xFEEF04BD;  // the fixed-info signature
constexpr uint32_t kFixedRecordSize = 52;
constexpr uint32_t kBlockHeaderSize = 16;

uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

}  // namespace

void FakeVersionResources::SetVersion(const std::string& path, uint16_t a, uint16_t b,
                                      uint16_t c, uint16_t d) {
  std::vector<uint8_t> record(kFixedRecordSize, 0);
  PutLe32(record.data(), kVersionMagic);
  PutLe32(record.data() + 4, 0x00010000);  // the record's structure version
  PutLe32(record.data() + 8, uint32_t(a) << 16 | b);
  PutLe32(record.data() + 12, uint32_t(c) << 16 | d);
  records[path] = std::move(record);
  p_.files.files[path];  // the file exists too
}

// The block is a small header holding the record's length, then the record.
uint32_t FakeVersionResources::InfoSize(const std::string& path) {
  if (p_.Call("GetFileVersionInfoSizeA")) return 0;
  auto it = records.find(path);
  if (!p_.files.Has(path) || it == records.end()) {
    p_.system.lastError = win::kErrorFileNotFound;
    return 0;
  }
  return kBlockHeaderSize + uint32_t(it->second.size());
}

bool FakeVersionResources::Info(const std::string& path, uint32_t size, void* block) {
  if (p_.Call("GetFileVersionInfoA")) return false;
  auto it = records.find(path);
  if (it == records.end() || size < kBlockHeaderSize + it->second.size()) return false;
  auto* b = static_cast<uint8_t*>(block);
  std::memset(b, 0, size);
  PutLe32(b, uint32_t(it->second.size()));
  std::copy(it->second.begin(), it->second.end(), b + kBlockHeaderSize);
  return true;
}

bool FakeVersionResources::QueryRoot(const void* block, const void*& value, uint32_t& length) {
  value = nullptr;
  length = 0;
  if (p_.Call("VerQueryValueA")) return false;
  const auto* b = static_cast<const uint8_t*>(block);
  if (lyingRoot) {
    value = b + lyingRoot->first;
    length = lyingRoot->second;
    return true;
  }
  length = Le32(b);
  value = b + kBlockHeaderSize;
  return true;
}

}  // namespace kst::fake
