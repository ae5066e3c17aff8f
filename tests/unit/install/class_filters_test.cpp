#include "install/class_filters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "platform/fake/fake_platform.h"
#include "tests/unit/install/nt_machine.h"
#include "tests/unit/support/trace_capture.h"

namespace kst {
namespace {

using fake::FakePlatform;
using test::Entries;
using test::kAdapterClass;
using test::TraceCapture;
using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

// A stored list: each entry with its zero, then the closing zero.
Bytes List(const Entries& entries) { return fake::MultiSzBytes(entries); }

Bytes PaddedTo(Bytes bytes, size_t size) {
  bytes.resize(size, 0);
  return bytes;
}

// The stored "LowerFilters" value of the ATA class key, if any.
std::optional<fake::FakeRegValue> Stored(const FakePlatform& fp) {
  auto key = fp.registry.keys.find(kAdapterClass);
  if (key == fp.registry.keys.end()) return std::nullopt;
  auto value = key->second.find("LowerFilters");
  if (value == key->second.end()) return std::nullopt;
  return value->second;
}

void Seed(FakePlatform& fp, const std::optional<Bytes>& value) {
  fp.registry.keys[kAdapterClass];
  if (value) fp.registry.keys[kAdapterClass]["LowerFilters"] = {7, *value};
}

size_t CallCount(const FakePlatform& fp, const std::string& call) {
  return size_t(std::count(fp.calls.begin(), fp.calls.end(), call));
}

// ---- RegLowerFilter ----------------------------------------------------------

struct RegCase {
  const char* what;
  std::optional<Bytes> stored;
  bool registered;
  Entries entries;      // when registered
  size_t storedBytes;   // when registered
};

void PrintTo(const RegCase& c, std::ostream* os) { *os << c.what; }

class RegLowerFilterTable : public ::testing::TestWithParam<RegCase> {};

TEST_P(RegLowerFilterTable, WritesNameAtHeadOrLeavesValueUnchanged) {
  const RegCase& c = GetParam();
  FakePlatform fp;
  TraceCapture trace(fp);
  Seed(fp, c.stored);
  EXPECT_EQ(RegLowerFilter("Kestrune", kAdapterClass), c.registered);
  std::optional<fake::FakeRegValue> after = Stored(fp);
  if (c.registered) {
    ASSERT_TRUE(after);
    EXPECT_EQ(after->type, 7u);
    EXPECT_EQ(after->bytes.size(), c.storedBytes);
    EXPECT_EQ(test::ListOf(fp, kAdapterClass), c.entries);
  } else {
    ASSERT_TRUE(after.has_value() == c.stored.has_value());
    if (after) {
      EXPECT_EQ(after->bytes, *c.stored);
    }
  }
  EXPECT_EQ(trace.Lines(), (Lines{"RegLowerFilter: Kestrune: " + kAdapterClass,
                                  (c.registered ? "Success to RegLowerFilter "
                                                : "Failed to RegLowerFilter ") + kAdapterClass}));
  EXPECT_EQ(CallCount(fp, "RegDeleteValueA"), 0u) << "the new list is written over the old";
  EXPECT_EQ(fp.OpenHandles(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Stored, RegLowerFilterTable,
    ::testing::Values(
        RegCase{"AbsentValueCreatesTenBytes", std::nullopt, true, {"Kestrune"}, 10},
        RegCase{"OneOtherEntry", List({"A"}), true, {"Kestrune", "A"}, 2352},
        RegCase{"MixedCaseDuplicate", List({"A", "kestrune", "B"}), true,
                {"Kestrune", "A", "B"}, 2352},
        RegCase{"DoubledOtherName", List({"A", "A"}), true, {"Kestrune", "A", "A"}, 2352},
        RegCase{"ExactlyBufferSize", PaddedTo(List({"A"}), 2352), true, {"Kestrune", "A"}, 2352},
        RegCase{"EmptyValue", Bytes{}, true, {"Kestrune"}, 2352},
        RegCase{"LargerThanBuffer", PaddedTo(List({"A"}), 2353), false, {}, 0},
        RegCase{"NameDoesNotFit", List({std::string(2342, 'N')}), false, {}, 0}),
    [](const auto& info) { return info.param.what; });

TEST(RegLowerFilter, AddingTwiceLeavesOneEntryAtHead) {
  FakePlatform fp;
  fp.registry.SetMultiSz(kAdapterClass, "LowerFilters", {"A"});
  ASSERT_TRUE(RegLowerFilter("Kestrune", kAdapterClass));
  ASSERT_TRUE(RegLowerFilter("Kestrune", kAdapterClass));
  EXPECT_EQ(test::ListOf(fp, kAdapterClass), (Entries{"Kestrune", "A"}));
}

TEST(RegLowerFilter, MissingKeyIsNotCreated) {
  FakePlatform fp;
  TraceCapture trace(fp);
  EXPECT_FALSE(RegLowerFilter("Kestrune", kAdapterClass));
  EXPECT_EQ(fp.registry.keys.count(kAdapterClass), 0u);
  EXPECT_EQ(trace.Lines(),
            (Lines{"RegLowerFilter: Kestrune: " + kAdapterClass, "Failed to RegLowerFilter " + kAdapterClass}));
}

// Each registry call failing in turn leaves the stored value as it was.
struct RegFault {
  const char* call;
  int occurrence;
  std::optional<Bytes> stored;
};

TEST(RegLowerFilter, EveryFailedCallLeavesValueUnchanged) {
  const Bytes list = List({"A", "B"});
  const RegFault faults[] = {
      {"RegOpenKeyA", 1, list},      {"RegQueryValueExA", 1, list},
      {"RegQueryValueExA", 2, list},  {"RegSetValueExA", 1, list},
      {"RegOpenKeyA", 1, std::nullopt},
      {"RegQueryValueExA", 1, std::nullopt},  // not "absent": no create
      {"RegSetValueExA", 1, std::nullopt},
      // An empty value reads whole even into no buffer: only the failed size
      // query keeps it from being written over.
      {"RegQueryValueExA", 1, Bytes{}},
  };
  for (const RegFault& f : faults) {
    SCOPED_TRACE(std::string(f.call) + " #" + std::to_string(f.occurrence) +
                 (!f.stored ? " without a list" : f.stored->empty() ? " over an empty value"
                                                                    : " over a list"));
    FakePlatform fp;
    TraceCapture trace(fp);
    const std::optional<Bytes>& seeded = f.stored;
    Seed(fp, seeded);
    fp.faults.Fail(f.call, 5, f.occurrence);
    EXPECT_FALSE(RegLowerFilter("Kestrune", kAdapterClass));
    std::optional<fake::FakeRegValue> after = Stored(fp);
    ASSERT_EQ(after.has_value(), seeded.has_value());
    if (after) {
      EXPECT_EQ(after->bytes, *seeded);
    }
    EXPECT_EQ(trace.Lines().back(), "Failed to RegLowerFilter " + kAdapterClass);
    EXPECT_EQ(fp.OpenHandles(), 0);
  }
}

TEST(RegLowerFilter, AnEmptyNameIsNeverWritten) {
  // Written into a new list, an empty name would end the list where it starts.
  for (const std::optional<Bytes>& stored : {std::optional<Bytes>(), std::optional<Bytes>(List({"A"}))}) {
    SCOPED_TRACE(stored ? "over a list" : "without a list");
    FakePlatform fp;
    Seed(fp, stored);
    EXPECT_FALSE(RegLowerFilter("", kAdapterClass));
    std::optional<fake::FakeRegValue> after = Stored(fp);
    ASSERT_EQ(after.has_value(), stored.has_value());
    if (after) {
      EXPECT_EQ(after->bytes, *stored);
    }
    EXPECT_EQ(CallCount(fp, "RegSetValueExA"), 0u);
    EXPECT_EQ(fp.OpenHandles(), 0);
  }
}

// ---- DelLowerFilter ------------------------------------------------------------

struct DelCase {
  const char* what;
  std::optional<Bytes> stored;
  bool result;
  std::optional<Entries> entries;  // nullopt: value absent afterwards
  size_t storedBytes;              // when a list remains and was rewritten
};

void PrintTo(const DelCase& c, std::ostream* os) { *os << c.what; }

class DelLowerFilterTable : public ::testing::TestWithParam<DelCase> {};

TEST_P(DelLowerFilterTable, TakesNameOutOrLeavesValueUnchanged) {
  const DelCase& c = GetParam();
  FakePlatform fp;
  TraceCapture trace(fp);
  Seed(fp, c.stored);
  EXPECT_EQ(DelLowerFilter("Kestrune", kAdapterClass), c.result);
  std::optional<fake::FakeRegValue> after = Stored(fp);
  ASSERT_EQ(after.has_value(), c.entries.has_value());
  if (after) {
    EXPECT_EQ(test::ListOf(fp, kAdapterClass), *c.entries);
    if (c.storedBytes) {
      EXPECT_EQ(after->bytes.size(), c.storedBytes);
    }
  }
  EXPECT_EQ(trace.Lines(), (Lines{"DelLowerFilter: Kestrune: " + kAdapterClass}));
  EXPECT_EQ(fp.OpenHandles(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Stored, DelLowerFilterTable,
    ::testing::Values(
        DelCase{"OnlyTheNameRemovesValue", List({"Kestrune"}), true, std::nullopt, 0},
        DelCase{"NameAbsentRewritesWholeBuffer", List({"A"}), true, Entries{"A"}, 2352},
        DelCase{"MixedCaseEntriesRemoved", List({"A", "KESTRUNE", "B"}), true,
                Entries{"A", "B"}, 2352},
        DelCase{"PrefixNameKept", List({"KestruneX", "Kestrune"}), true, Entries{"KestruneX"},
                2352},
        DelCase{"EmptyStringInMiddle", List({"A", "", "Kestrune"}), true, Entries{"A"}, 2352},
        DelCase{"ValueAbsent", std::nullopt, false, std::nullopt, 0},
        DelCase{"ExactlyBufferSize", PaddedTo(List({"Kestrune", "A"}), 2352), true,
                Entries{"A"}, 2352},
        DelCase{"LargerThanBuffer", PaddedTo(List({"Kestrune", "A"}), 2353), false,
                Entries{"Kestrune", "A"}, 2353},
        DelCase{"UnterminatedFullBuffer", Bytes(2352, 'U'), false,
                Entries{std::string(2352, 'U')}, 2352}),
    [](const auto& info) { return info.param.what; });

TEST(DelLowerFilter, MissingKeyIsFalse) {
  FakePlatform fp;
  EXPECT_FALSE(DelLowerFilter("Kestrune", kAdapterClass));
  EXPECT_EQ(fp.registry.keys.count(kAdapterClass), 0u);
}

TEST(DelLowerFilter, FailedCalls) {
  struct Row {
    const char* call;
    int occurrence;
    Entries stored;
    bool result;
    std::optional<Entries> after;
  } rows[] = {
      {"RegOpenKeyA", 1, {"A", "Kestrune"}, false, Entries{"A", "Kestrune"}},
      {"RegQueryValueExA", 1, {"A", "Kestrune"}, false, Entries{"A", "Kestrune"}},
      {"RegQueryValueExA", 2, {"A", "Kestrune"}, true, Entries{"A", "Kestrune"}},  // unread
      {"RegSetValueExA", 1, {"A", "Kestrune"}, false, Entries{"A", "Kestrune"}},
      {"RegDeleteValueA", 1, {"Kestrune"}, false, Entries{"Kestrune"}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.call) + " #" + std::to_string(r.occurrence));
    FakePlatform fp;
    fp.registry.SetMultiSz(kAdapterClass, "LowerFilters", r.stored);
    fp.faults.Fail(r.call, 5, r.occurrence);
    EXPECT_EQ(DelLowerFilter("Kestrune", kAdapterClass), r.result);
    EXPECT_EQ(fp.registry.MultiSz(kAdapterClass, "LowerFilters"), r.after);
    EXPECT_EQ(fp.OpenHandles(), 0);
  }
}

// ---- FlushClassLists ------------------------------------------------------------

TEST(FlushClassLists, AFailedFlushStillFlushesTheOtherLists) {
  using test::kIdeClass;
  const ClassList lists[] = {{kAdapterClass.c_str(), "", ""}, {kIdeClass.c_str(), "", ""}};
  struct Row {
    int failing;  // which RegFlushKey fails, 0 for none
    bool all;
    std::vector<std::string> unflushed;
    Lines lines;
  } rows[] = {
      {0, true, {}, {}},
      {1, false, {kAdapterClass}, {"Failed to RegFlushKey " + kAdapterClass}},
      {2, false, {kIdeClass}, {"Failed to RegFlushKey " + kIdeClass}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.failing);
    FakePlatform fp;
    for (const ClassList& list : lists) {
      fp.registry.SetMultiSz(list.key, "LowerFilters", {"A"});
      ASSERT_TRUE(RegLowerFilter("Kestrune", list.key));
    }
    TraceCapture trace(fp);
    if (r.failing) fp.faults.Fail("RegFlushKey", 5, r.failing);
    EXPECT_EQ(FlushClassLists(lists), r.all);
    EXPECT_EQ(fp.UnflushedKeys(), r.unflushed);
    EXPECT_EQ(trace.Lines(), r.lines);
    EXPECT_EQ(fp.OpenHandles(), 0);
  }
}

// ---- LowerFilterMayName ----------------------------------------------------------

TEST(LowerFilterMayName, AnswersTrueWhenListedOrUnreadable) {
  struct Row {
    const char* what;
    bool keyExists;
    std::optional<Bytes> stored;
    const char* failCall;
    int occurrence;
    uint32_t code;
    bool mayName;
  } rows[] = {
      {"no key", false, std::nullopt, nullptr, 0, 0, false},
      {"no value", true, std::nullopt, nullptr, 0, 0, false},
      {"listed in another case", true, List({"A", "KESTRUNE"}), nullptr, 0, 0, true},
      {"only a longer name", true, List({"KestruneX"}), nullptr, 0, 0, false},
      {"listed after the buffer size", true, List({std::string(2400, 'B'), "Kestrune"}),
       nullptr, 0, 0, true},
      {"listed after an empty string", true, List({"A", "", "Kestrune"}), nullptr, 0, 0, false},
      {"key cannot be opened", true, List({"A"}), "RegOpenKeyA", 1, 5, true},
      {"key reported absent", true, List({"Kestrune"}), "RegOpenKeyA", 1, 2, false},
      {"size query refused", true, List({"A"}), "RegQueryValueExA", 1, 5, true},
      {"read refused", true, List({"A"}), "RegQueryValueExA", 2, 5, true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    FakePlatform fp;
    if (r.keyExists) Seed(fp, r.stored);
    if (r.failCall) fp.faults.Fail(r.failCall, r.code, r.occurrence);
    EXPECT_EQ(LowerFilterMayName("Kestrune", kAdapterClass), r.mayName);
    EXPECT_EQ(fp.OpenHandles(), 0);
    EXPECT_EQ(CallCount(fp, "RegSetValueExA") + CallCount(fp, "RegDeleteValueA"), 0u);
  }
}

}  // namespace
}  // namespace kst
