#pragma once
#include <cstdint>
#include <string>

namespace kst {

// The decimal text of a signed 32-bit number: a leading "-" when negative,
// no leading zeros, no grouping.
std::string DecimalText(int32_t value);

// "Error Code: <code> <system text>" for the calling thread's last error
// code, the system text kept as given (line ending included); the empty text
// when the code is 0. Call it right after the failing call.
std::string LastErrorText();

}  // namespace kst
