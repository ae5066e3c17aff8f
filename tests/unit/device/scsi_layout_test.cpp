#include "device/scsi_layout.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/unit/device/fake_filter.h"

namespace kst {
namespace {

using test::Entry;

ScsiInfo Sample() {
  ScsiInfo e = Entry(0x04030201, 0x08070605, 0x0C0B0A09, 0x100F0E0D, "ADAPTER8", 0x14131211,
                     0x1C1B1A19);
  return e;
}

TEST(ScsiInfoLayout, EncodesLittleEndianAtTabledOffsets) {
  ScsiInfoBytes b = EncodeScsiInfo(Sample());
  std::vector<uint8_t> expected = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11,
                                   12, 13, 14, 15, 16, 17, 18, 19, 20, 'A', 'D',
                                   'A', 'P', 'T', 'E', 'R', '8', 25, 26, 27, 28};
  EXPECT_EQ(std::vector<uint8_t>(b.begin(), b.end()), expected);
}

TEST(ScsiInfoLayout, DecodeInvertsEncode) {
  ScsiInfoBytes b = EncodeScsiInfo(Sample());
  std::optional<ScsiInfo> e = DecodeScsiInfo(b.data(), b.size());
  ASSERT_TRUE(e);
  EXPECT_EQ(EncodeScsiInfo(*e), b);
}

TEST(ScsiInfoLayout, MalformedBuffersAreRefused) {
  std::vector<uint8_t> bytes(100, 0xAA);
  struct Row {
    const uint8_t* data;
    size_t size;
    bool entryOk;     // DecodeScsiInfo
    bool entriesOk;   // DecodeScsiInfoEntries
    bool countOk;     // DecodeScsiInfoCount
  };
  const Row rows[] = {
      {bytes.data(), 0, false, true, false},    // empty: no entry, but an empty list
      {bytes.data(), 3, false, false, false},   // one byte short of a count
      {bytes.data(), 4, false, false, true},    // exactly a count
      {bytes.data(), 5, false, false, false},   // a count with a trailing byte
      {bytes.data(), 31, false, false, false},  // one byte short of an entry
      {bytes.data(), 32, true, true, false},    // exactly one entry
      {bytes.data(), 33, false, false, false},  // an entry and a stray byte
      {bytes.data(), 64, false, true, false},   // two entries are no single entry
      {bytes.data(), 95, false, false, false},  // two entries and a partial third
      {nullptr, 32, false, false, false},       // no buffer behind a size
      {nullptr, 4, false, false, false},        // no buffer behind a count size
      {nullptr, 0, false, true, false},         // nothing at all is an empty list
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.size);
    EXPECT_EQ(DecodeScsiInfo(r.data, r.size).has_value(), r.entryOk);
    EXPECT_EQ(DecodeScsiInfoEntries(r.data, r.size).has_value(), r.entriesOk);
    EXPECT_EQ(DecodeScsiInfoCount(r.data, r.size).has_value(), r.countOk);
  }
}

TEST(ScsiInfoLayout, EntriesKeepTheFilterOrder) {
  std::vector<uint8_t> bytes;
  for (uint32_t t : {7u, 3u, 5u}) {
    ScsiInfoBytes b = EncodeScsiInfo(Entry(0, 0, t));
    bytes.insert(bytes.end(), b.begin(), b.end());
  }
  auto entries = DecodeScsiInfoEntries(bytes.data(), bytes.size());
  ASSERT_TRUE(entries);
  ASSERT_EQ(entries->size(), 3u);
  EXPECT_EQ((*entries)[0].targetId, 7u);
  EXPECT_EQ((*entries)[1].targetId, 3u);
  EXPECT_EQ((*entries)[2].targetId, 5u);
}

TEST(ScsiInfoLayout, CountIsSigned) {
  const std::pair<std::array<uint8_t, 4>, int32_t> rows[] = {
      {{0, 0, 0, 0}, 0},
      {{2, 0, 0, 0}, 2},
      {{0x00, 0x10, 0, 0}, 4096},
      {{0xFF, 0xFF, 0xFF, 0xFF}, -1},         // no entries
      {{0x00, 0x00, 0x00, 0x80}, INT32_MIN},  // sign bit alone
  };
  for (const auto& [bytes, count] : rows) EXPECT_EQ(DecodeScsiInfoCount(bytes.data(), 4), count);
}

TEST(PassThroughLayout, InquiryRequestBytes) {
  PassThroughRequest r = EncodeInquiryRequest(Sample(), 0xDEADBEEF);
  PassThroughRequest expected{};
  const std::vector<std::pair<size_t, std::vector<uint8_t>>> fields = {
      {0, {1, 2, 3, 4}},                             // HBA number, all 32 bits
      {4, {'A', 'D', 'A', 'P', 'T', 'E', 'R', '8'}}, // adapter name copied whole
      {12, {25, 26, 27, 28}},                        // context value
      {16, {44, 0}},                                 // block length
      {18, {0}},                                     // status
      {19, {5}},                                     // low byte of the path id
      {20, {9}},                                     // low byte of the target id
      {21, {13}},                                    // low byte of the LUN
      {22, {6}},                                     // CDB length
      {23, {18}},                                    // sense length
      {24, {1}},                                     // data in
      {28, {254, 0, 0, 0}},                          // transfer length
      {32, {44, 1, 0, 0}},                           // time-out 300
      {36, {0xEF, 0xBE, 0xAD, 0xDE}},                // data buffer address
      {40, {48, 0, 0, 0}},                           // sense offset from the block
      {44, {0x12, 0, 0, 0, 0xFE, 0}},                // INQUIRY, allocation 254
  };
  for (const auto& [offset, bytes] : fields) {
    std::copy(bytes.begin(), bytes.end(), expected.begin() + offset);
  }
  EXPECT_EQ(r, expected);
}

TEST(PassThroughLayout, MalformedAnswersAreRefused) {
  std::vector<uint8_t> bytes(200, 0);
  const std::pair<size_t, bool> rows[] = {
      {0, false},    // nothing came back
      {60, false},   // the block without its sense area
      {82, false},   // cut right after the sense data
      {95, false},   // one byte short
      {96, true},    // the whole request
      {97, false},   // a stray byte after it
      {192, false},  // two requests' worth
  };
  for (const auto& [size, ok] : rows) {
    EXPECT_EQ(DecodePassThroughAnswer(bytes.data(), size).has_value(), ok) << size;
  }
  EXPECT_FALSE(DecodePassThroughAnswer(nullptr, 96).has_value());  // no buffer behind the size
}

TEST(PassThroughLayout, AnswerFieldsAreReadFromTheirOffsets) {
  PassThroughRequest r{};
  r[18] = 0x02;
  r[23] = 7;
  for (size_t i = 0; i < 18; ++i) r[64 + i] = uint8_t(i + 1);
  r[63] = 0xEE;  // just before the sense area
  r[82] = 0xEE;  // just after it
  auto a = DecodePassThroughAnswer(r.data(), r.size());
  ASSERT_TRUE(a);
  EXPECT_EQ(a->status, 0x02);
  EXPECT_EQ(a->senseLength, 7);
  for (size_t i = 0; i < 18; ++i) EXPECT_EQ(a->sense[i], i + 1);
}

PassThroughAnswer Answer(uint8_t status, uint8_t senseLength, size_t senseByte = 0,
                         uint8_t value = 0) {
  PassThroughAnswer a;
  a.status = status;
  a.senseLength = senseLength;
  a.sense[senseByte] = value;
  return a;
}

TEST(PassThroughLayout, Acceptance) {
  struct Row {
    const char* what;
    PassThroughAnswer answer;
    bool accepted;
  };
  const Row rows[] = {
      {"good, no sense", Answer(0, 0), true},
      {"good, sense length but zero sense", Answer(0, 18), true},
      {"good, sense length 0 hides junk", Answer(0, 0, 2, 0x05), true},
      {"good, sense length 1, first byte set", Answer(0, 1, 0, 0x70), false},
      {"good, sense length 1, last byte set", Answer(0, 1, 17, 0x01), false},
      {"status 0x12 ignores sense", Answer(0x12, 18, 2, 0x02), true},
      {"check condition", Answer(0x02, 0), false},
      {"busy", Answer(0x08, 0), false},
      {"status 0x13, near 0x12", Answer(0x13, 0), false},
  };
  for (const Row& r : rows) EXPECT_EQ(AnswerAccepted(r.answer), r.accepted) << r.what;
}

TEST(PassThroughLayout, PollRequests) {
  auto sense = [](uint8_t key, uint8_t code) {
    PassThroughAnswer a;
    a.sense[2] = key;
    a.sense[12] = code;
    return a;
  };
  struct Row {
    const char* what;
    PassThroughAnswer answer;
    bool polls;
  };
  const Row rows[] = {
      {"not ready", sense(0x02, 0x04), true},
      {"not-ready-to-ready change", sense(0x06, 0x28), true},
      {"reset", sense(0x06, 0x29), true},
      {"medium not present", sense(0x02, 0x3A), false},
      {"key with other bits set is another byte", sense(0x22, 0x04), false},
      {"unit attention, other code", sense(0x06, 0x2A), false},
      {"codes swapped", sense(0x04, 0x02), false},
      {"no sense", sense(0, 0), false},
  };
  for (const Row& r : rows) EXPECT_EQ(AsksToBePolled(r.answer), r.polls) << r.what;
}

TEST(PassThroughLayout, DeviceTypes) {
  struct Row {
    uint8_t byte0, byte1;
    bool removableOptical;
  };
  const Row rows[] = {
      {0x05, 0x80, true},   // removable CD/DVD
      {0x04, 0x80, true},   // removable write-once
      {0x05, 0x00, false},  // fixed CD/DVD
      {0x05, 0x81, false},  // removable with another bit
      {0x00, 0x80, false},  // removable disk
      {0x25, 0x80, false},  // CD/DVD with qualifier 1
      {0x85, 0x80, false},  // CD/DVD with qualifier 4
      {0x07, 0x80, false},  // optical memory
  };
  for (const Row& r : rows) {
    const uint8_t data[2] = {r.byte0, r.byte1};
    EXPECT_EQ(IsRemovableOpticalDevice(data, 2), r.removableOptical)
        << int(r.byte0) << "/" << int(r.byte1);
  }
  const uint8_t one[1] = {0x05};
  EXPECT_FALSE(IsRemovableOpticalDevice(one, 1));  // too short to tell
  EXPECT_FALSE(IsRemovableOpticalDevice(nullptr, 36));
}

}  // namespace
}  // namespace kst
