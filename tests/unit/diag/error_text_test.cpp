#include "diag/error_text.h"

#include <gtest/gtest.h>

#include <climits>

#include "platform/fake/fake_platform.h"

namespace kst {
namespace {

TEST(DecimalText, Table) {
  const std::pair<int32_t, const char*> rows[] = {
      {0, "0"},           {7, "7"},
      {10, "10"},         {16855, "16855"},
      {-1, "-1"},         {INT32_MAX, "2147483647"},
      {INT32_MIN, "-2147483648"},  // negating it would overflow 32 bits
  };
  for (const auto& [value, text] : rows) EXPECT_EQ(DecimalText(value), text);
}

TEST(LastErrorText, ZeroCodeGivesEmptyTextWithoutLookup) {
  fake::FakePlatform fp;
  fp.system.lastError = 0;
  EXPECT_EQ(LastErrorText(), "");
  EXPECT_EQ(std::count(fp.calls.begin(), fp.calls.end(), "FormatMessageA"), 0);
}

TEST(LastErrorText, FormsCodeBlankAndSystemTextKeepingItsLineEnding) {
  fake::FakePlatform fp;
  fp.system.messages[5] = "Access is denied.\r\n";
  fp.system.lastError = 5;
  EXPECT_EQ(LastErrorText(), "Error Code: 5 Access is denied.\r\n");
}

TEST(LastErrorText, HighCodesReadAsNegative) {
  fake::FakePlatform fp;
  fp.system.messages[0x80070005u] = "x";
  fp.system.lastError = 0x80070005u;
  EXPECT_EQ(LastErrorText(), "Error Code: -2147024891 x");
  fp.system.lastError = 0x80000000u;
  fp.system.messages[0x80000000u] = "";
  EXPECT_EQ(LastErrorText(), "Error Code: -2147483648 ");
}

}  // namespace
}  // namespace kst
