#pragma once
// The fixed file information record at the root of a version resource, read
// from bytes a file supplied: nothing in them is trusted.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>

namespace kst {

// The size of the fixed record (VS_FIXEDFILEINFO) and its signature.
inline constexpr size_t kFixedFileInfoSize = 52;
inline constexpr uint32_t kFixedFileInfoSignature = 0xFEEF04BD;

// The file version (most, least significant halves) of the fixed record that
// VerQueryValueA answered with `bytes` and `length`; nullopt when there are
// no bytes, fewer than the record's size, or its signature is not the
// record's.
std::optional<std::pair<uint32_t, uint32_t>> ReadFixedFileVersion(const uint8_t* bytes,
                                                                  size_t length);

}  // namespace kst
