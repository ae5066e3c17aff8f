#include "diag/error_text.h"

#include "platform/platform.h"

namespace kst {

std::string DecimalText(int32_t value) {
  // Work in 64 bits so that the most negative value negates safely.
  int64_t v = value;
  bool negative = v < 0;
  if (negative) v = -v;
  std::string digits;
  do {
    digits.insert(digits.begin(), char('0' + v % 10));
    v /= 10;
  } while (v != 0);
  return negative ? "-" + digits : digits;
}

std::string LastErrorText() {
  ErrorCode code = Sys().system.GetLastError();
  if (code == 0) return std::string();
  // Codes of 2^31 and above read as negative numbers, as the code is shown signed.
  return "Error Code: " + DecimalText(static_cast<int32_t>(code)) + " " +
         Sys().system.FormatSystemMessage(code);
}

}  // namespace kst
