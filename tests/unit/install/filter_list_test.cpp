#include "install/filter_list.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/fake/fake_platform.h"

namespace kst {
namespace {

using Bytes = std::vector<uint8_t>;
using Entries = std::vector<std::string>;

// A stored list: each entry with its zero, then the closing zero.
Bytes List(const Entries& entries) { return fake::MultiSzBytes(entries); }

Bytes Raw(const std::string& bytes) { return Bytes(bytes.begin(), bytes.end()); }

Bytes PaddedTo(Bytes bytes, size_t size) {
  bytes.resize(size, 0);
  return bytes;
}

// Entries of a result buffer; fails the test unless everything after the
// closing empty string is zero.
Entries Decode(const FilterListBuffer& buffer) {
  Entries entries = fake::MultiSzEntries(buffer);
  size_t at = 0;
  for (const std::string& entry : entries) at += entry.size() + 1;
  for (size_t i = at; i < buffer.size(); ++i) {
    if (buffer[i] != 0) {
      ADD_FAILURE() << "byte " << i << " after the closing empty string is not zero";
      break;
    }
  }
  return entries;
}

const std::string kLongest(2341, 'L');  // with "Kestrune" and the zeros: exactly 2352 bytes

struct AddCase {
  const char* what;
  Bytes old;
  std::string name;
  std::optional<Entries> expected;  // nullopt: refused
};

void PrintTo(const AddCase& c, std::ostream* os) { *os << c.what; }

class AddToFilterListTable : public ::testing::TestWithParam<AddCase> {};

TEST_P(AddToFilterListTable, PutsNameFirstAndKeepsOtherEntriesInOrder) {
  const AddCase& c = GetParam();
  std::optional<FilterListBuffer> result = AddToFilterList(c.old, c.name);
  ASSERT_EQ(result.has_value(), c.expected.has_value());
  if (result) {
    EXPECT_EQ(Decode(*result), *c.expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lists, AddToFilterListTable,
    ::testing::Values(
        AddCase{"AbsentValue", {}, "Kestrune", Entries{"Kestrune"}},
        AddCase{"OnlyClosingZero", Raw(std::string(1, '\0')), "Kestrune", Entries{"Kestrune"}},
        AddCase{"OneOtherEntry", List({"A"}), "Kestrune", Entries{"Kestrune", "A"}},
        AddCase{"MixedCaseDuplicateDropped", List({"A", "kestrune", "B"}), "Kestrune",
                Entries{"Kestrune", "A", "B"}},
        AddCase{"AddedTwiceStaysOnce", List({"Kestrune", "KESTRUNE"}), "Kestrune",
                Entries{"Kestrune"}},
        AddCase{"DoubledOtherNameKept", List({"A", "A"}), "Kestrune",
                Entries{"Kestrune", "A", "A"}},
        AddCase{"PrefixNamesAreOtherNames", List({"KestruneX", "Kestrun", "XKestrune"}),
                "Kestrune", Entries{"Kestrune", "KestruneX", "Kestrun", "XKestrune"}},
        AddCase{"EmptyStringInMiddleEndsList", Raw(std::string("A\0\0B\0\0", 6)), "Kestrune",
                Entries{"Kestrune", "A"}},
        AddCase{"LeadingEmptyStringIsEmptyList", Raw(std::string("\0A\0\0", 4)), "Kestrune",
                Entries{"Kestrune"}},
        AddCase{"NoClosingTerminator", Raw(std::string("A\0B", 3)), "Kestrune",
                Entries{"Kestrune", "A", "B"}},
        AddCase{"UnterminatedDuplicateAtEnd", Raw(std::string("A\0kestrune", 10)), "Kestrune",
                Entries{"Kestrune", "A"}},
        AddCase{"NonAsciiBytesNotCaseFolded", List({"\xe4", "\xc4"}), "\xc4",
                Entries{"\xc4", "\xe4"}},
        AddCase{"StoredWholeBuffer", PaddedTo(List({"A", "B"}), 2352), "Kestrune",
                Entries{"Kestrune", "A", "B"}},
        AddCase{"ResultFillsBufferExactly", List({kLongest}), "Kestrune",
                Entries{"Kestrune", kLongest}},
        AddCase{"ReAddToFullList", List({"Kestrune", kLongest}), "Kestrune",
                Entries{"Kestrune", kLongest}},
        AddCase{"ResultOneByteTooLong", List({kLongest + "L"}), "Kestrune", std::nullopt},
        AddCase{"TooLargeList", List({std::string(2398, 'T')}), "Kestrune", std::nullopt},
        AddCase{"EmptyNameRefused", List({"A"}), "", std::nullopt},
        AddCase{"NameWithZeroByteRefused", List({"A"}), std::string("Kes\0trune", 9),
                std::nullopt},
        AddCase{"NameOfOneZeroByteRefused", {}, std::string(1, '\0'), std::nullopt}),
    [](const auto& info) { return info.param.what; });

struct RemoveCase {
  const char* what;
  Bytes old;
  Entries expected;
  size_t bytes;
};

void PrintTo(const RemoveCase& c, std::ostream* os) { *os << c.what; }

class RemoveFromFilterListTable : public ::testing::TestWithParam<RemoveCase> {};

TEST_P(RemoveFromFilterListTable, KeepsEveryOtherEntryAndCountsTheirBytes) {
  const RemoveCase& c = GetParam();
  KeptFilterList kept = RemoveFromFilterList(c.old, "Kestrune");
  EXPECT_EQ(kept.bytes, c.bytes);
  if (kept.bytes < kFilterListBufferSize) {
    EXPECT_EQ(Decode(kept.list), c.expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lists, RemoveFromFilterListTable,
    ::testing::Values(
        RemoveCase{"AbsentValue", {}, {}, 0},
        RemoveCase{"OnlyTheName", List({"Kestrune"}), {}, 0},
        RemoveCase{"NameAbsent", List({"A"}), {"A"}, 2},
        RemoveCase{"MixedCaseEntriesRemoved", List({"A", "KESTRUNE", "B", "kestrune"}),
                   {"A", "B"}, 4},
        RemoveCase{"DoubledOtherNameKept", List({"A", "A"}), {"A", "A"}, 4},
        RemoveCase{"PrefixNamesAreOtherNames", List({"KestruneX", "Kestrun"}),
                   {"KestruneX", "Kestrun"}, 18},
        RemoveCase{"EmptyStringInMiddleEndsList", Raw(std::string("A\0\0Kestrune\0B\0\0", 16)),
                   {"A"}, 2},
        RemoveCase{"NoClosingTerminator", Raw(std::string("B\0Kestrune\0A", 12)), {"B", "A"}, 4},
        RemoveCase{"StoredWholeBuffer", PaddedTo(List({"Kestrune", "A"}), 2352), {"A"}, 2},
        RemoveCase{"KeptListFillsBuffer", List({std::string(2350, 'F')}),
                   {std::string(2350, 'F')}, 2351},
        // 2352 bytes without any zero: keeping it whole leaves no room to close it.
        RemoveCase{"UnterminatedFullBufferDoesNotFit", Bytes(2352, 'U'), {}, 2353},
        RemoveCase{"FullListWithNameShrinks", List({"Kestrune", std::string(2341, 'S')}),
                   {std::string(2341, 'S')}, 2342}),
    [](const auto& info) { return info.param.what; });

TEST(FilterListNames, Table) {
  struct Row {
    Bytes list;
    const char* name;
    bool names;
  } rows[] = {
      {{}, "Kestrune", false},
      {List({"A", "kEsTrUnE"}), "Kestrune", true},
      {List({"KestruneX"}), "Kestrune", false},
      {List({"Kestrun"}), "Kestrune", false},
      {Raw(std::string("A\0\0Kestrune\0\0", 13)), "Kestrune", false},  // after the end
      {Raw(std::string("A\0Kestrune", 10)), "Kestrune", true},           // unterminated
      {Raw(std::string("A\0Kestrun", 9)), "Kestrune", false},            // cut short
      {PaddedTo(List({"A", "Morvellin"}), 3000), "MORVELLIN", true},
      {List({"\xe4"}), "\xc4", false},
      // Case folds for every ASCII letter, a to z, and for nothing beside them.
      {List({"abcdefghijklmnopqrstuvwxyz"}), "ABCDEFGHIJKLMNOPQRSTUVWXYZ", true},
      {List({"`{"}), "@[", false},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(FilterListNames(r.list, r.name), r.names)
        << r.name << " in " << std::string(r.list.begin(), r.list.end());
  }
}

}  // namespace
}  // namespace kst
