// The requests Windows carries out at its next start: their bytes read as
// Windows reads them, whatever other programs or a damaged value hold, and
// followed to what they make of one file.
#include "install/pending_renames.h"
#include "check/restart_fate.h"

#include <gtest/gtest.h>

#include <set>

#include "install/at_restart.h"
#include "platform/fake/fake_platform.h"
#include "tests/unit/support/trace_capture.h"

namespace kst {
namespace {

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

const std::string kImage = "C:\\WINDOWS\\system32\\Drivers\\Kestrune.sys";
const std::string kNew = "C:\\WINDOWS\\system32\\Drivers\\Kestrune.~nw";
const std::string kNew2 = "C:\\WINDOWS\\system32\\Drivers\\Kestrune.~n1";

// The bytes of strings each followed by its zero; `closing` adds the value's
// closing zero.
Bytes Value(const Lines& strings, bool closing = true) {
  Bytes bytes;
  for (const std::string& s : strings) {
    bytes.insert(bytes.end(), s.begin(), s.end());
    bytes.push_back(0);
  }
  if (closing) bytes.push_back(0);
  return bytes;
}

Bytes Raw(const std::string& text) { return Bytes(text.begin(), text.end()); }

// `text` as a value whose buffer goes on past its end with bytes that are no
// zero: a reader that looks past the end of the value reads them as text.
Bytes RawBeforeJunk(const std::string& text) {
  Bytes bytes(text.size() + 32, 'x');
  std::copy(text.begin(), text.end(), bytes.begin());
  bytes.back() = 0;  // a reader past the end still stops inside the buffer
  bytes.resize(text.size());
  return bytes;
}

std::string Show(const std::vector<PendingRename>& renames) {
  std::string out;
  for (const PendingRename& r : renames) {
    out += "[" + r.from + (r.replaces ? " => " : " -> ") + (r.to.empty() ? "(deleted)" : r.to) + "]";
  }
  return out;
}

TEST(ParsePendingRenames, ReadsPairsOverTheWholeValue) {
  struct Row {
    const char* what;
    Bytes value;
    std::string renames;
  } rows[] = {
      {"empty", {}, ""},
      {"only the closing zero", {0}, ""},
      {"two zeros: an empty source and target", {0, 0}, "[ -> (deleted)]"},
      {"a replacement", Value({"\\??\\" + kNew, "!\\??\\" + kImage}), "[" + kNew + " => " + kImage + "]"},
      {"a deletion, then a replacement: the empty target does not end the value",
       Value({"\\??\\" + kImage, "", "\\??\\" + kNew, "!\\??\\" + kImage}),
       "[" + kImage + " -> (deleted)][" + kNew + " => " + kImage + "]"},
      {"a move that may not replace", Value({"\\??\\C:\\a", "\\??\\C:\\b"}), "[C:\\a -> C:\\b]"},
      {"without the closing zero", Value({"\\??\\C:\\a", "!\\??\\C:\\b"}, false), "[C:\\a => C:\\b]"},
      {"a deletion without the closing zero", Value({"\\??\\C:\\a", ""}, false), "[C:\\a -> (deleted)]"},
      {"the last string without its zero", Raw(std::string("\\??\\C:\\a\0!\\??\\C:\\b", 18)),
       "[C:\\a => C:\\b]"},
      {"the last string without its zero, other bytes behind the value",
       RawBeforeJunk(std::string("\\??\\C:\\a\0!\\??\\C:\\b", 18)), "[C:\\a => C:\\b]"},
      {"an odd count: the last source has no target", Value({"\\??\\C:\\a", "", "\\??\\C:\\b"}, false),
       "[C:\\a -> (deleted)]"},
      {"an odd count ending in text without a zero", Raw(std::string("\\??\\C:\\a\0\0C:\\b", 14)),
       "[C:\\a -> (deleted)]"},
      {"entries without \\??\\ stay as they are", Value({"C:\\a", "!C:\\b", "\\\\?\\C:\\c", ""}),
       "[C:\\a => C:\\b][\\\\?\\C:\\c -> (deleted)]"},
      {"a target of '!' alone", Value({"\\??\\C:\\a", "!"}), "[C:\\a => (deleted)]"},
      {"zeros after the closing one make empty requests", Value({"\\??\\C:\\a", ""}, true), "[C:\\a -> (deleted)]"},
      {"bytes above 127 and case kept", Value({"\\??\\C:\\\xe9t\xe9", "!\\??\\c:\\X"}),
       "[C:\\\xe9t\xe9 => c:\\X]"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(Show(ParsePendingRenames(r.value)), r.renames) << r.what;
  }
}

TEST(ParsePendingRenames, AHugeValueIsReadInOneLinearPass) {
  Lines strings;
  for (int i = 0; i < 20000; ++i) {
    strings.push_back("\\??\\C:\\Windows\\Temp\\f" + std::to_string(i) + ".tmp");
    strings.push_back(i % 2 ? "" : "!\\??\\C:\\Windows\\f" + std::to_string(i));
  }
  std::vector<PendingRename> renames = ParsePendingRenames(Value(strings));
  ASSERT_EQ(renames.size(), 20000u);
  EXPECT_EQ(renames.back().from, "C:\\Windows\\Temp\\f19999.tmp");
  EXPECT_TRUE(renames.back().to.empty());
}

TEST(SameFilePath, CaseAndTheNtPrefix) {
  struct Row {
    std::string a, b;
    bool same;
  } rows[] = {
      {kImage, kImage, true},
      {"c:\\windows\\SYSTEM32\\drivers\\kestrune.SYS", kImage, true},
      {"\\??\\" + kImage, kImage, true},
      {kImage, "\\??\\" + kImage, true},
      {"\\??\\\\??\\" + kImage, kImage, false},
      {"!\\??\\" + kImage, kImage, false},
      {kImage + " ", kImage, false},
      {"", kImage, false},
      {"C:\\\xc9", "C:\\\xe9", false},  // only ASCII letters fold
  };
  for (const Row& r : rows) EXPECT_EQ(SameFilePath(r.a, r.b), r.same) << r.a << " / " << r.b;
}

TEST(LastNaming, TheLastRequestWithThePathAsSourceOrTarget) {
  std::vector<PendingRename> renames = ParsePendingRenames(
      Value({"\\??\\" + kNew, "!\\??\\" + kImage, "\\??\\C:\\a", "", "\\??\\KESTRUNE.sys", "",
             "\\??\\" + kImage, "", "\\??\\C:\\b", "!\\??\\" + kNew2}));
  EXPECT_EQ(LastNaming(renames, kImage), &renames[3]);
  EXPECT_EQ(LastNaming(renames, kNew), &renames[0]);
  EXPECT_EQ(LastNaming(renames, kNew2), &renames[4]);
  EXPECT_EQ(LastNaming(renames, "C:\\c"), nullptr);
  EXPECT_EQ(LastNaming({}, kImage), nullptr);
  EXPECT_FALSE(NamedElsewhere(renames, kNew, &renames[0]));
  EXPECT_TRUE(NamedElsewhere(renames, kImage, &renames[3]));
  EXPECT_TRUE(NamedElsewhere(renames, kNew, nullptr));
  EXPECT_FALSE(NamedElsewhere(renames, "C:\\c", nullptr));
}

// ---- Following the requests ----------------------------------------------------------

struct FateRow {
  const char* what;
  Lines value;  // strings in pairs
  std::set<std::string> existing;
  bool present;
  std::string from;  // "" when no request put the file there
};

TEST(FateAtRestart, FollowsTheRequestsInOrderAsWindowsCarriesThemOut) {
  const FateRow rows[] = {
      {"nothing requested", {}, {kImage}, true, ""},
      {"nothing requested, no file", {}, {}, false, ""},
      {"replaced", {"\\??\\" + kNew, "!\\??\\" + kImage}, {kImage, kNew}, true, kNew},
      {"replaced, the source missing: skipped", {"\\??\\" + kNew, "!\\??\\" + kImage}, {kImage},
       true, ""},
      {"deleted", {"\\??\\" + kImage, ""}, {kImage}, false, ""},
      {"deleted, no file now", {"\\??\\" + kImage, ""}, {}, false, ""},
      {"replaced, then deleted", {"\\??\\" + kNew, "!\\??\\" + kImage, "\\??\\" + kImage, ""},
       {kImage, kNew}, false, ""},
      {"deleted, then replaced", {"\\??\\" + kImage, "", "\\??\\" + kNew, "!\\??\\" + kImage},
       {kImage, kNew}, true, kNew},
      {"replaced twice: the last one counts",
       {"\\??\\" + kNew, "!\\??\\" + kImage, "\\??\\" + kNew2, "!\\??\\" + kImage},
       {kImage, kNew, kNew2}, true, kNew2},
      {"the same source twice: the second finds nothing",
       {"\\??\\" + kNew, "!\\??\\" + kImage, "\\??\\" + kImage, "", "\\??\\" + kNew, "!\\??\\" + kImage},
       {kImage, kNew}, false, ""},
      {"a move that may not replace an existing file: skipped", {"\\??\\" + kNew, "\\??\\" + kImage},
       {kImage, kNew}, true, ""},
      {"a move that may not replace, to no file", {"\\??\\" + kNew, "\\??\\" + kImage}, {kNew},
       true, kNew},
      {"moved away", {"\\??\\" + kImage, "!\\??\\C:\\elsewhere"}, {kImage}, false, ""},
      {"through another path", {"\\??\\C:\\t", "!\\??\\" + kNew, "\\??\\" + kNew, "!\\??\\" + kImage},
       {kImage, "C:\\t"}, true, "C:\\t"},
      {"a later request to a path already moved on does not matter",
       {"\\??\\" + kNew, "!\\??\\" + kImage, "\\??\\C:\\t", "!\\??\\" + kNew}, {kImage, kNew, "C:\\t"},
       true, kNew},
      {"a move onto itself changes nothing", {"\\??\\" + kImage, "!\\??\\" + kImage}, {kImage},
       true, ""},
      {"other programs' requests", {"\\??\\C:\\a", "", "\\??\\C:\\b", "!\\??\\C:\\c"}, {kImage},
       true, ""},
      {"the target in another case than the path asked",
       {"\\??\\" + kNew, "!\\??\\c:\\windows\\system32\\drivers\\kestrune.SYS"}, {kImage, kNew},
       true, kNew},
      {"names in another case and without \\??\\",
       {"c:\\windows\\system32\\drivers\\KESTRUNE.~NW", "!" + kImage}, {kImage, kNew}, true,
       "c:\\windows\\system32\\drivers\\KESTRUNE.~NW"},
  };
  for (const FateRow& r : rows) {
    SCOPED_TRACE(r.what);
    Bytes value;
    if (!r.value.empty()) value = Value(r.value);
    std::vector<std::string> asked;
    auto exists = [&](const std::string& path) {
      asked.push_back(path);
      for (const std::string& e : r.existing) {
        if (SameFilePath(e, path)) return true;
      }
      return false;
    };
    RestartFate fate = FateAtRestart(ParsePendingRenames(value), kImage, exists);
    EXPECT_EQ(fate.present, r.present);
    EXPECT_EQ(fate.from.value_or(""), r.from);
    for (const std::string& path : asked) {
      EXPECT_NE(path, "C:\\a") << "asked of a path that cannot lead to the image";
    }
  }
}

// ---- Reading and requesting through the registry ------------------------------------

TEST(ReadPendingRenames, AnythingItCannotReadWholeIsUnknown) {
  struct Row {
    const char* what;
    std::function<void(fake::FakePlatform&)> arrange;
    bool known;
    size_t count;
  } rows[] = {
      {"no key", [](fake::FakePlatform&) {}, true, 0},
      {"no value", [](fake::FakePlatform& fp) { fp.registry.keys[kSessionManagerKey]; }, true, 0},
      {"requests", [](fake::FakePlatform& fp) {
         fp.registry.SetMultiSz(kSessionManagerKey, kPendingRenamesValue, {"\\??\\C:\\a", ""});
       }, true, 1},
      {"of another type", [](fake::FakePlatform& fp) {
         fp.registry.keys[kSessionManagerKey][kPendingRenamesValue] = {win::kRegSz, Value({"\\??\\C:\\a", ""})};
       }, false, 0},
      {"many requests, far larger than a registry block", [](fake::FakePlatform& fp) {
         Lines strings;
         for (int i = 0; i < 2000; ++i) {
           strings.push_back("\\??\\C:\\Windows\\Temp\\update" + std::to_string(i) + ".tmp");
           strings.push_back("");
         }
         fp.registry.SetMultiSz(kSessionManagerKey, kPendingRenamesValue, strings);
       }, true, 2000},
      {"larger than it is read", [](fake::FakePlatform& fp) {
         fp.registry.keys[kSessionManagerKey][kPendingRenamesValue] =
             {win::kRegMultiSz, Bytes(kMaxPendingRenamesSize + 1, 'A')};
       }, false, 0},
      {"the key refused", [](fake::FakePlatform& fp) {
         fp.registry.keys[kSessionManagerKey];
         fp.faults.Fail("RegOpenKeyExA", 5);
       }, false, 0},
      // Another program takes a request out between the size query and the
      // read: only the bytes the read gives are the value.
      {"shrunk between the size query and the read", [](fake::FakePlatform& fp) {
         fp.registry.SetMultiSz(kSessionManagerKey, kPendingRenamesValue,
                                {"\\??\\C:\\a", "", "\\??\\C:\\Windows\\Temp\\update.tmp", ""});
         fp.beforeCall = [&fp, queries = 0](const std::string& call) mutable {
           if (call == "RegQueryValueExA" && ++queries == 2) {
             fp.registry.SetMultiSz(kSessionManagerKey, kPendingRenamesValue, {"\\??\\C:\\a", ""});
           }
         };
       }, true, 1},
      {"the read refused", [](fake::FakePlatform& fp) {
         fp.registry.SetMultiSz(kSessionManagerKey, kPendingRenamesValue, {"\\??\\C:\\a", ""});
         fp.faults.Fail("RegQueryValueExA", 5, 2);
       }, false, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    fake::FakePlatform fp;
    r.arrange(fp);
    std::optional<std::vector<PendingRename>> renames = ReadPendingRenames();
    ASSERT_EQ(renames.has_value(), r.known);
    if (renames) EXPECT_EQ(renames->size(), r.count);
    EXPECT_EQ(fp.OpenHandles(), 0);
    for (const std::string& call : fp.calls) EXPECT_NE(call, "RegOpenKeyA") << "read rights only";
  }
}

TEST(AtRestart, ARequestCountsOnceTheSessionManagerKeyIsFlushed) {
  struct Row {
    const char* what;
    const char* failing;
    bool result;
    Lines lines;
  } rows[] = {
      {"done", nullptr, true, {}},
      {"refused", "MoveFileExA", false, {"Failed to MoveFileEx " + kNew + "\nError Code: 5 Message 5.\r\n"}},
      {"not flushed", "RegFlushKey", false,
       {std::string("Failed to RegFlushKey ") + kSessionManagerKey}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    fake::FakePlatform fp;
    test::TraceCapture trace(fp);
    if (r.failing) fp.faults.Fail(r.failing, 5);
    EXPECT_EQ(ReplaceFileAtRestart(kNew, kImage), r.result);
    EXPECT_EQ(trace.Lines(), r.lines);
    fake::MachineView disk = fp.AfterPowerCut();
    std::optional<std::vector<PendingRename>> renames = ReadPendingRenames();
    ASSERT_TRUE(renames);
    if (r.result) {
      EXPECT_EQ(Show(*renames), "[" + kNew + " => " + kImage + "]");
      EXPECT_EQ(disk.keys[kSessionManagerKey].count(kPendingRenamesValue), 1u) << "on the disk";
    }
    EXPECT_EQ(fp.OpenHandles(), 0);
  }
  fake::FakePlatform fp;
  ASSERT_TRUE(DeleteFileAtRestart(kImage));
  ASSERT_TRUE(ReplaceFileAtRestart(kNew, kImage));
  EXPECT_EQ(Show(*ReadPendingRenames()),
            "[" + kImage + " -> (deleted)][" + kNew + " => " + kImage + "]");
}

}  // namespace
}  // namespace kst
