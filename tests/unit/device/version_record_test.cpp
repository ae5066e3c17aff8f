#include "device/version_record.h"

#include <gtest/gtest.h>

#include <vector>

namespace kst {
namespace {

// A fixed record of `length` bytes with the given signature and file version.
std::vector<uint8_t> Record(size_t length, uint32_t signature, uint32_t ms, uint32_t ls) {
  std::vector<uint8_t> bytes(length, 0xCC);
  auto put = [&](size_t at, uint32_t v) {
    for (size_t i = 0; i < 4 && at + i < length; ++i) bytes[at + i] = uint8_t(v >> (8 * i));
  };
  put(0, signature);
  put(8, ms);
  put(12, ls);
  return bytes;
}

TEST(ReadFixedFileVersion, OnlyAWholeRecordWithItsSignatureIsRead) {
  using Version = std::optional<std::pair<uint32_t, uint32_t>>;
  const Version carried = std::make_pair(0x00010004u, 0x0002000Bu);
  struct Row {
    const char* what;
    std::vector<uint8_t> bytes;
    size_t length;  // as VerQueryValueA reported it
    Version version;
  } rows[] = {
      {"whole record", Record(52, 0xFEEF04BD, 0x00010004, 0x0002000B), 52, carried},
      {"longer answer than the record", Record(60, 0xFEEF04BD, 0x00010004, 0x0002000B), 60,
       carried},
      {"one byte short", Record(52, 0xFEEF04BD, 0x00010004, 0x0002000B), 51, std::nullopt},
      {"only the signature and version", Record(16, 0xFEEF04BD, 1, 2), 16, std::nullopt},
      {"empty answer", {}, 0, std::nullopt},
      {"signature byte-swapped", Record(52, 0xBD04EFFE, 1, 2), 52, std::nullopt},
      {"signature off by one", Record(52, 0xFEEF04BC, 1, 2), 52, std::nullopt},
      {"zeros", std::vector<uint8_t>(52, 0), 52, std::nullopt},
      {"largest fields", Record(52, 0xFEEF04BD, 0xFFFFFFFF, 0xFFFFFFFF), 52,
       std::make_pair(0xFFFFFFFFu, 0xFFFFFFFFu)},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(ReadFixedFileVersion(r.bytes.empty() ? nullptr : r.bytes.data(), r.length),
              r.version)
        << r.what;
  }
  EXPECT_EQ(ReadFixedFileVersion(nullptr, 52), std::nullopt) << "no value, a length all the same";
}

}  // namespace
}  // namespace kst
