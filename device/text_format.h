#pragma once
// The formatting of the system's trace lines: the directives %d, %c and %s
// with the meaning wsprintfA gives them, over typed arguments instead of a
// variable argument list. No platform calls.
#include <cstdint>
#include <initializer_list>
#include <string>

namespace kst {

// One argument of a formatted line. Unsigned 32-bit values have no
// constructor on purpose: the caller casts, and so decides how they print.
// A text argument points into the caller's string, so it lives only as long
// as the call it is passed to.
class FormatArg {
 public:
  enum class Kind { kNumber, kChar, kText };
  FormatArg(int32_t number) : kind_(Kind::kNumber), number_(number) {}
  FormatArg(char letter) : kind_(Kind::kChar), number_(static_cast<unsigned char>(letter)) {}
  FormatArg(const char* text) : kind_(Kind::kText), text_(text ? text : "") {}
  FormatArg(const std::string& text) : kind_(Kind::kText), text_(text.c_str()) {}

  Kind kind() const { return kind_; }
  int32_t number() const { return number_; }
  const char* text() const { return text_; }

 private:
  Kind kind_;
  int32_t number_ = 0;
  const char* text_ = "";
};

// Formats `format` with `args` taken in order:
//  %d  the argument as signed decimal (a character argument gives its code);
//  %c  the argument as one character (a number gives its low byte);
//  %s  the argument's text up to its first zero byte (a non-text gives nothing);
//  %%  one percent sign.
// A directive without an argument left gives nothing; any other character
// after '%', and a '%' that ends the format, are copied as they stand.
std::string WsprintfText(const char* format, std::initializer_list<FormatArg> args);

}  // namespace kst
