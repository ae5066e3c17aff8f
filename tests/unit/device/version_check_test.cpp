#include "device/version_check.h"

#include <gtest/gtest.h>

#include "device/installation.h"
#include "platform/fake/fake_platform.h"
#include "tests/unit/support/trace_capture.h"

namespace kst {
namespace {

using fake::FakePlatform;
using test::TraceCapture;
using Lines = std::vector<std::string>;

const std::string kSys = "C:\\WINDOWS\\system32";
const std::string kKestrune = "\\Drivers\\Kestrune.sys";

TEST(FileVersionText, FieldsInOrderUnsignedDecimal) {
  struct Row {
    uint32_t ms, ls;
    const char* text;
  };
  const Row rows[] = {
      {0x00010004, 0x0002000B, "1.4.2.11"},
      {0, 0, "0.0.0.0"},
      {0x00010004, 0x0002006E, "1.4.2.110"},
      {0xFFFFFFFF, 0xFFFF8000, "65535.65535.65535.32768"},  // never negative
      {0x000A0000, 0x00000001, "10.0.0.1"},
  };
  for (const Row& r : rows) EXPECT_EQ(FileVersionText(r.ms, r.ls), r.text);
}

struct VersionCase {
  const char* name;
  uint16_t a, b, c, d;
  bool result;
  const char* shown;
};

class FoundVersion : public ::testing::TestWithParam<VersionCase> {};

TEST_P(FoundVersion, TextIsWhatWasFoundAndOnlyTheCarriedVersionIsCurrent) {
  const VersionCase& v = GetParam();
  FakePlatform fp;
  TraceCapture trace(fp);
  fp.versions.SetVersion(kSys + kKestrune, v.a, v.b, v.c, v.d);
  std::optional<std::string> found = CheckDriverFliterVersion(kKestrune);
  EXPECT_EQ(found, v.shown);
  ImageState image;
  image.presence = ImageState::Presence::kVersion;
  image.version = found.value_or("");
  EXPECT_EQ(image.Current(), v.result);
  EXPECT_EQ(trace.Lines(), (Lines{"CheckDriverFliterVersion: " + kKestrune,
                                  kKestrune + " Version: " + v.shown}));
}

INSTANTIATE_TEST_SUITE_P(
    Versions, FoundVersion,
    ::testing::Values(VersionCase{"Carried", 1, 4, 2, 11, true, "1.4.2.11"},
                      VersionCase{"Older", 1, 4, 2, 10, false, "1.4.2.10"},
                      VersionCase{"Newer", 1, 4, 3, 0, false, "1.4.3.0"},
                      VersionCase{"LongerText", 1, 4, 2, 110, false, "1.4.2.110"},
                      VersionCase{"Prefix", 1, 4, 2, 1, false, "1.4.2.1"},
                      VersionCase{"ToolsOwnVersion", 1, 4, 5, 12, false, "1.4.5.12"}),
    [](const auto& info) { return info.param.name; });

TEST(CheckDriverFliterVersion, UnreadableVersionGivesNoText) {
  struct Row {
    const char* what;
    bool file, resource;
    const char* failingCall;
    std::string line;
  };
  const std::string full = kSys + kKestrune;
  const Row rows[] = {
      {"missing file", false, false, nullptr, "Lost file: " + full},
      {"no version resource", true, false, nullptr, "Lost file: " + full},
      {"size query fails", true, true, "GetFileVersionInfoSizeA", "Lost file: " + full},
      {"resource unreadable", true, true, "GetFileVersionInfoA", "Lost VerQueryValue: " + full},
      {"root block missing", true, true, "VerQueryValueA", "Lost VerQueryValue: " + full},
  };
  for (const Row& r : rows) {
    FakePlatform fp;
    TraceCapture trace(fp);
    if (r.resource) fp.versions.SetVersion(full, 1, 4, 2, 11);
    else if (r.file) fp.files.files[full];
    if (r.failingCall) fp.faults.Fail(r.failingCall, 1812);
    EXPECT_EQ(CheckDriverFliterVersion(kKestrune), std::nullopt) << r.what;
    EXPECT_EQ(trace.Lines(), (Lines{"CheckDriverFliterVersion: " + kKestrune, r.line})) << r.what;
  }
}

TEST(CheckDriverFliterVersion, MalformedFixedRecordIsNoReadableVersion) {
  const std::string full = kSys + kKestrune;
  struct Row {
    const char* what;
    size_t length;     // of the root value the file's resource answers
    uint32_t signature;
  } rows[] = {{"record cut short", 51, 0xFEEF04BD},
              {"empty root value", 0, 0xFEEF04BD},
              {"wrong signature", 52, 0x12345678}};
  for (const Row& r : rows) {
    FakePlatform fp;
    TraceCapture trace(fp);
    fp.versions.SetVersion(full, 1, 4, 2, 11);
    std::vector<uint8_t>& record = fp.versions.records[full];
    for (int i = 0; i < 4; ++i) record[size_t(i)] = uint8_t(r.signature >> (8 * i));
    record.resize(r.length);
    EXPECT_EQ(CheckDriverFliterVersion(kKestrune), std::nullopt) << r.what;
    EXPECT_EQ(trace.Lines(), (Lines{"CheckDriverFliterVersion: " + kKestrune,
                                    "Lost VerQueryValue: " + full}))
        << r.what;
  }
}

// The root value's place and length come from the file: only what lies
// inside the block that was read is ever looked at.
TEST(CheckDriverFliterVersion, RootAnswerIsReadOnlyInsideTheBlock) {
  const std::string full = kSys + kKestrune;
  // The block: a 16-byte header, the true record of 1.4.2.11 (52 bytes), then
  // 20 bytes that begin like a record of 9.9.9.9.
  constexpr size_t kTail = 16 + 52, kEnd = kTail + 20;
  struct Row {
    const char* what;
    size_t offset;
    uint32_t length;
    std::optional<std::string> text;
  } rows[] = {
      {"claims more than the block holds", kTail, 52, std::nullopt},
      {"root at the block's end", kEnd, 52, std::nullopt},
      {"root past the block's end", kEnd + 16, 52, std::nullopt},
      {"claims more, but the record is whole", 16, 4096, "1.4.2.11"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    FakePlatform fp;
    TraceCapture trace(fp);
    fp.versions.SetVersion(full, 9, 9, 9, 9);
    std::vector<uint8_t> tail(fp.versions.records[full].begin(),
                              fp.versions.records[full].begin() + 20);
    fp.versions.SetVersion(full, 1, 4, 2, 11);
    std::vector<uint8_t>& record = fp.versions.records[full];
    record.insert(record.end(), tail.begin(), tail.end());
    fp.versions.lyingRoot = {r.offset, r.length};
    EXPECT_EQ(CheckDriverFliterVersion(kKestrune), r.text);
    EXPECT_EQ(trace.Lines().back(), r.text ? kKestrune + " Version: " + *r.text
                                           : "Lost VerQueryValue: " + full);
  }
}

TEST(CheckDriverFliterVersion, EachFamilyPathIsLookedUpBelowTheSystemDirectory) {
  for (const char* relative :
       {"\\Drivers\\Kestrune.sys", "\\Drivers\\Morvellin.sys", "\\Iosubsys\\Kestrune.vxd"}) {
    FakePlatform fp;
    fp.files.systemDirectory = "D:\\WIN98\\SYSTEM";
    fp.versions.SetVersion(std::string("D:\\WIN98\\SYSTEM") + relative, 1, 4, 2, 11);
    EXPECT_EQ(CheckDriverFliterVersion(relative), "1.4.2.11") << relative;
  }
}

TEST(CheckDriverFliterVersion, PathTooLongForTheSystemBufferIsALostFile) {
  FakePlatform fp;
  TraceCapture trace(fp);
  fp.files.systemDirectory = "C:\\" + std::string(250, 'x');
  fp.versions.SetVersion(fp.files.systemDirectory + kKestrune, 1, 4, 2, 11);
  EXPECT_EQ(CheckDriverFliterVersion(kKestrune), std::nullopt);
  EXPECT_EQ(trace.Lines().back(), "Lost file: " + fp.files.systemDirectory + kKestrune);
  EXPECT_EQ(std::count(fp.calls.begin(), fp.calls.end(), "GetFileVersionInfoSizeA"), 0);
}

}  // namespace
}  // namespace kst
