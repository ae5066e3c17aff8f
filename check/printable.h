#pragma once
// How KstCheck writes a text read from the machine, and how the package's
// action writes KstCheck's lines to its log: every control byte shown as
// \xNN, so that a text can neither end a line nor start a forged one. Header
// only, so that a program that reads the lines links nothing of the check.
#include <cstddef>
#include <string>

namespace kst {

// Appends the `size` bytes at `data` to `out`, each byte below 0x20 and the
// DEL byte (0x7F) as \xNN in upper-case hexadecimal, every other byte as it is.
inline void AppendPrintable(std::string& out, const char* data, size_t size) {
  static const char kHex[] = "0123456789ABCDEF";
  for (size_t i = 0; i < size; ++i) {
    unsigned char c = static_cast<unsigned char>(data[i]);
    if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
}

inline std::string Printable(const std::string& text) {
  std::string out;
  AppendPrintable(out, text.data(), text.size());
  return out;
}

}  // namespace kst
