// The stand-in filter's table lookups, compiled natively, against the
// requests the program itself encodes: both read the offsets of the entry
// and of the pass-through request from control_protocol.h, and must also
// agree on what the bytes there mean.
#include <gtest/gtest.h>

#include <vector>

#include "device/scsi_layout.h"
#include "tests/unit/support/scsi_entry.h"

extern "C" {
#include "drivers/kst_table.h"
}

namespace kst {
namespace {

using test::Entry;

// A table record: the entry and the canned answer to an INQUIRY.
std::vector<uint8_t> Record(const ScsiInfo& e, uint8_t status, std::vector<uint8_t> sense) {
  ScsiInfoBytes bytes = EncodeScsiInfo(e);
  std::vector<uint8_t> record(bytes.begin(), bytes.end());
  record.push_back(status);
  record.push_back(uint8_t(sense.size()));
  sense.resize(KST_SENSE_SIZE);
  record.insert(record.end(), sense.begin(), sense.end());
  return record;
}

std::vector<uint8_t> Table(const std::vector<std::vector<uint8_t>>& records) {
  std::vector<uint8_t> table;
  for (const auto& r : records) table.insert(table.end(), r.begin(), r.end());
  return table;
}

TEST(DriverTable, CountOfATableLength) {
  const std::pair<kst_u32, kst_u32> rows[] = {
      {0, 0},                     // no value: no devices
      {51, 0},                    // one byte short of a record
      {52, 1},                    // one record
      {53, 0},                    // a stray byte: the whole table is refused
      {52 * 4096, 4096},          // the cap exactly
      {52 * 4097, 4096},          // records past the cap are ignored
  };
  for (const auto& [length, count] : rows) EXPECT_EQ(kst_table_count(length), count) << length;
}

TEST(DriverTable, EntriesComeBackAsTheProgramDecodesThem) {
  std::vector<ScsiInfo> entries = {Entry(0, 0, 1, 0, "atapi", 3, 7), Entry(2, 1, 5, 3, "ABCDEFGH", 3)};
  std::vector<uint8_t> table = Table({Record(entries[0], 0, {}), Record(entries[1], 2, {0x70})});
  std::vector<uint8_t> out(entries.size() * KST_SCSI_INFO_SIZE);
  kst_table_write_entries(table.data(), kst_u32(entries.size()), out.data());
  auto decoded = DecodeScsiInfoEntries(out.data(), out.size());
  ASSERT_TRUE(decoded);
  ASSERT_EQ(decoded->size(), 2u);
  for (size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(EncodeScsiInfo((*decoded)[i]), EncodeScsiInfo(entries[i])) << i;
  }
}

TEST(DriverTable, FindsTheRecordTheProgramAddresses) {
  const std::vector<ScsiInfo> table_entries = {Entry(0, 0, 0, 0, "atapi", 3), Entry(0, 0, 1, 0, "atapi", 3),
                                               Entry(0, 0, 1, 1, "atapi", 3), Entry(1, 0, 1, 0, "atapi", 3),
                                               Entry(0, 0, 1, 0, "atapi2", 3)};
  std::vector<std::vector<uint8_t>> records;
  for (const auto& e : table_entries) records.push_back(Record(e, 0, {}));
  std::vector<uint8_t> table = Table(records);
  struct Row {
    const char* what;
    ScsiInfo asked;
    int found;
  } rows[] = {
      {"first record", Entry(0, 0, 0, 0, "atapi", 3), 0},
      {"target 1", Entry(0, 0, 1, 0, "atapi", 3), 1},
      {"second LUN", Entry(0, 0, 1, 1, "atapi", 3), 2},
      {"second HBA", Entry(1, 0, 1, 0, "atapi", 3), 3},
      {"longer name is another adapter", Entry(0, 0, 1, 0, "atapi2", 3), 4},
      {"the context value is not compared", Entry(0, 0, 0, 0, "atapi", 3, 99), 0},
      // Path, target and LUN travel as their low bytes only.
      {"path id 256 reads as 0", Entry(0, 256, 0, 0, "atapi", 3), 0},
      {"unknown HBA", Entry(7, 0, 0, 0, "atapi", 3), -1},
      {"name differs in case", Entry(0, 0, 0, 0, "ATAPI", 3), -1},
      {"unknown target", Entry(0, 0, 9, 0, "atapi", 3), -1},
  };
  for (const Row& r : rows) {
    PassThroughRequest request = EncodeInquiryRequest(r.asked, 0x1234);
    EXPECT_EQ(kst_table_find(table.data(), kst_u32(table_entries.size()), request.data()), r.found)
        << r.what;
  }
}

TEST(DriverTable, AnswerChangesOnlyStatusSenseLengthAndSense) {
  ScsiInfo e = Entry(0, 0, 0, 0, "atapi", 3);
  std::vector<uint8_t> sense = {0x70, 0, 0x02, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x04, 0x01};
  std::vector<uint8_t> record = Record(e, 0x02, sense);
  PassThroughRequest request = EncodeInquiryRequest(e, 0xCAFEF00D);
  PassThroughRequest before = request;
  kst_table_answer(record.data(), request.data());

  auto answer = DecodePassThroughAnswer(request.data(), request.size());
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 0x02);
  EXPECT_EQ(answer->senseLength, sense.size());
  EXPECT_TRUE(AsksToBePolled(*answer)) << "not ready, becoming ready";
  for (size_t i = 0; i < request.size(); ++i) {
    bool answered = i == KST_PT_STATUS || i == KST_PT_SENSE_LENGTH ||
                    (i >= KST_PT_SENSE && i < KST_PT_SENSE + KST_SENSE_SIZE);
    if (!answered) {
      EXPECT_EQ(request[i], before[i]) << "byte " << i;
    }
  }
}


TEST(DriverTable, EntriesAnswerForAnyReportedCount) {
  struct Row {
    const char* what;
    kst_u32 tableCount;
    int reported;
    kst_u32 outLength;
    int answer;
    kst_u32 written;
  };
  const Row rows[] = {
      {"the table's own count", 3, 3, 96, KST_ENTRIES_OK, 3},
      {"one entry short", 3, 3, 64, KST_ENTRIES_TOO_SMALL, 0},
      {"one entry long", 3, 3, 128, KST_ENTRIES_INVALID, 0},
      {"not whole entries", 3, 3, 97, KST_ENTRIES_INVALID, 0},
      {"empty table, empty request", 0, 0, 0, KST_ENTRIES_OK, 0},
      // A count above the table: the request it asks for is taken, the answer is short.
      {"count above the table", 2, 5, 160, KST_ENTRIES_OK, 2},
      {"count below the table", 4, 1, 32, KST_ENTRIES_OK, 1},
      {"negative count asks for nothing", 2, -1, 0, KST_ENTRIES_OK, 0},
      {"negative count refuses entries", 2, -1, 64, KST_ENTRIES_INVALID, 0},
      // 2^31-1 entries would be 2^36 bytes: no 32-bit length matches it.
      {"largest count, wrapped length", 2, 0x7FFFFFFF, 0xFFFFFFE0u, KST_ENTRIES_TOO_SMALL, 0},
      {"largest count, empty request", 2, 0x7FFFFFFF, 0, KST_ENTRIES_TOO_SMALL, 0},
  };
  for (const Row& r : rows) {
    kst_u32 written = 99;
    EXPECT_EQ(kst_entries_answer(r.tableCount, r.reported, r.outLength, &written), r.answer)
        << r.what;
    EXPECT_EQ(written, r.written) << r.what;
  }
}

}  // namespace
}  // namespace kst
