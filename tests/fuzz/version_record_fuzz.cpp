// Reading the fixed file version record: arbitrary bytes and lengths, and the
// "a.b.c.d" text made from what it reads.
//
// Input: the length VerQueryValueA reported (2 bytes, little-endian), then the
// bytes of the answer. The record is read over the reported length or the
// bytes there are, whichever is less, from a heap copy of exactly that size,
// so a read past the length is an over-read AddressSanitizer reports.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "device/version_check.h"
#include "device/version_record.h"
#include "tests/fuzz/fuzz_check.h"

namespace kst {
namespace {

using Version = std::optional<std::pair<uint32_t, uint32_t>>;

uint32_t WordAt(const std::vector<uint8_t>& bytes, size_t at) {
  return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
         uint32_t(bytes[at + 3]) << 24;
}

// The record read from an allocation of exactly `length` bytes.
Version ReadExactly(const std::vector<uint8_t>& bytes, size_t length) {
  std::unique_ptr<uint8_t[]> exact(new uint8_t[length]);
  if (length > 0) std::memcpy(exact.get(), bytes.data(), length);
  return ReadFixedFileVersion(exact.get(), length);
}

// Accepted only as a whole record with its signature; the fields are the
// little-endian words at offsets 8 and 12.
void CheckRead(const std::vector<uint8_t>& bytes, size_t length) {
  Version read = ReadExactly(bytes, length);
  bool whole = length >= kFixedFileInfoSize && WordAt(bytes, 0) == kFixedFileInfoSignature;
  FUZZ_CHECK(read.has_value() == whole);
  if (read) {
    FUZZ_CHECK(read->first == WordAt(bytes, 8));
    FUZZ_CHECK(read->second == WordAt(bytes, 12));
  }
  FUZZ_CHECK(!ReadFixedFileVersion(nullptr, length));

  // Bytes past the length change nothing: the same answer inside the whole
  // input, and inside it with every later byte inverted.
  FUZZ_CHECK(ReadFixedFileVersion(bytes.data(), length) == read);
  std::vector<uint8_t> changed = bytes;
  for (size_t i = length; i < changed.size(); ++i) changed[i] = uint8_t(~changed[i]);
  FUZZ_CHECK(ReadFixedFileVersion(changed.data(), length) == read);
}

// Four 16-bit halves in decimal, never longer than the largest version.
void CheckText(uint32_t ms, uint32_t ls) {
  std::string text = FileVersionText(ms, ls);
  char expected[64];
  std::snprintf(expected, sizeof expected, "%u.%u.%u.%u", unsigned(ms >> 16), unsigned(ms & 0xFFFF),
                unsigned(ls >> 16), unsigned(ls & 0xFFFF));
  FUZZ_CHECK(text == expected);
  FUZZ_CHECK(text.size() <= std::strlen("65535.65535.65535.65535"));
}

}  // namespace
}  // namespace kst

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kst::fuzz::Input in(data, size);
  size_t reported = in.Le16();
  std::vector<uint8_t> bytes = in.Rest();
  size_t length = reported < bytes.size() ? reported : bytes.size();
  kst::CheckRead(bytes, length);
  // The text of whatever words the input holds where the fields would be,
  // accepted or not, so every pair of halves is reachable.
  std::vector<uint8_t> fields = bytes;
  fields.resize(16, 0);
  kst::CheckText(kst::WordAt(fields, 8), kst::WordAt(fields, 12));
  return 0;
}
