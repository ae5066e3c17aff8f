#include "device/version_record.h"

namespace kst {
namespace {

constexpr size_t kSignatureOffset = 0;
constexpr size_t kFileVersionMSOffset = 8;
constexpr size_t kFileVersionLSOffset = 12;

uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

std::optional<std::pair<uint32_t, uint32_t>> ReadFixedFileVersion(const uint8_t* bytes,
                                                                  size_t length) {
  if (bytes == nullptr || length < kFixedFileInfoSize) return std::nullopt;
  if (Le32(bytes + kSignatureOffset) != kFixedFileInfoSignature) return std::nullopt;
  return std::make_pair(Le32(bytes + kFileVersionMSOffset), Le32(bytes + kFileVersionLSOffset));
}

}  // namespace kst
