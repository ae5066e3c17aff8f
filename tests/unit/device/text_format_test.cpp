#include "device/text_format.h"

#include <gtest/gtest.h>

#include <climits>

namespace kst {
namespace {

TEST(WsprintfText, Directives) {
  struct Row {
    const char* format;
    std::string (*run)(const char*);
    const char* expected;
  };
  // Each row formats its format with fixed arguments chosen in the lambda.
  const Row rows[] = {
      {"%d", [](const char* f) { return WsprintfText(f, {int32_t(-42)}); }, "-42"},
      {"%d", [](const char* f) { return WsprintfText(f, {INT32_MIN}); }, "-2147483648"},
      // Full 32-bit values above 2^31 print signed, as the filter's ids are cast.
      {"%d", [](const char* f) { return WsprintfText(f, {int32_t(0xFFFFFFFFu)}); }, "-1"},
      {"%c", [](const char* f) { return WsprintfText(f, {char('A' + 3)}); }, "D"},
      // A number for %c keeps its low byte.
      {"%c", [](const char* f) { return WsprintfText(f, {int32_t(0x141)}); }, "A"},
      // All 8 bits of it: the ANSI code page's letters above 0x7F print whole.
      {"%c", [](const char* f) { return WsprintfText(f, {int32_t(0x1E9)}); }, "\xE9"},
      {"%c", [](const char* f) { return WsprintfText(f, {char(0xC4)}); }, "\xC4"},
      // A character for %d gives its unsigned code.
      {"%d", [](const char* f) { return WsprintfText(f, {char(0xFF)}); }, "255"},
      {"[%s]", [](const char* f) { return WsprintfText(f, {""}); }, "[]"},
      // Text stops at its first zero byte.
      {"%s", [](const char* f) { return WsprintfText(f, {std::string("ab\0cd", 5)}); }, "ab"},
      {"100%%", [](const char* f) { return WsprintfText(f, {}); }, "100%"},
      // Arguments run out: the directive gives nothing.
      {"%d/%d", [](const char* f) { return WsprintfText(f, {int32_t(1)}); }, "1/"},
      // Unknown directives and a trailing percent stand as written, taking no argument.
      {"%x%d%", [](const char* f) { return WsprintfText(f, {int32_t(5)}); }, "%x5%"},
      // A text given to %d, or a number to %s, prints nothing but is used up.
      {"%d|%s|%d", [](const char* f) { return WsprintfText(f, {"t", int32_t(2), int32_t(3)}); },
       "||3"},
  };
  for (const Row& row : rows) EXPECT_EQ(row.run(row.format), row.expected) << row.format;
}

TEST(WsprintfText, DeviceLineOfTheInventory) {
  EXPECT_EQ(WsprintfText("(%c:)%s H/T: %d/%d (HBA%dPath%dTarget%dLun%d %s)",
                         {'E', "PLEXTOR DVDR", 3, 1, 1, 0, 1, 0, "atapi"}),
            "(E:)PLEXTOR DVDR H/T: 3/1 (HBA1Path0Target1Lun0 atapi)");
}

}  // namespace
}  // namespace kst
