// The C++ library reports a broken precondition (a string grown past its
// largest size, a position beyond the end, ...) through its std::__throw_*
// functions. The library's own versions throw std::logic_error and its kin,
// whose copy-on-write message strings bring a second string implementation
// into the program: over 45 KB of the shipping file. The program catches
// every exception as std::exception and shows its message, so the versions
// here throw the program's Failure with the same message instead; the
// language-support exceptions (bad_alloc, bad_cast, ...) keep their types.
// The whole set is defined here so that the library's version of it never
// joins the link: with only part of the set, the two would clash.
#include <cstdarg>
#include <functional>
#include <new>
#include <string>
#include <typeinfo>

#include "diag/failure.h"

namespace {

// Expands the %s, %zu and %% of the library's range messages; any other
// directive is kept as written.
std::string Expand(const char* format, va_list args) {
  std::string text;
  for (const char* p = format; *p; ++p) {
    if (p[0] != '%') {
      text += p[0];
    } else if (p[1] == 's') {
      text += va_arg(args, const char*);
      ++p;
    } else if (p[1] == 'z' && p[2] == 'u') {
      text += std::to_string(va_arg(args, size_t));
      p += 2;
    } else if (p[1] == '%') {
      text += '%';
      ++p;
    } else {
      text += '%';
    }
  }
  return text;
}

}  // namespace

namespace std {

void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_array_new_length(); }
void __throw_bad_cast() { throw bad_cast(); }
void __throw_bad_exception() { throw bad_exception(); }
void __throw_bad_typeid() { throw bad_typeid(); }

void __throw_logic_error(const char* message) { throw kst::Failure(message); }
void __throw_domain_error(const char* message) { throw kst::Failure(message); }
void __throw_invalid_argument(const char* message) { throw kst::Failure(message); }
void __throw_length_error(const char* message) { throw kst::Failure(message); }
void __throw_out_of_range(const char* message) { throw kst::Failure(message); }
void __throw_runtime_error(const char* message) { throw kst::Failure(message); }
void __throw_range_error(const char* message) { throw kst::Failure(message); }
void __throw_overflow_error(const char* message) { throw kst::Failure(message); }
void __throw_underflow_error(const char* message) { throw kst::Failure(message); }

void __throw_out_of_range_fmt(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string message = Expand(format, args);
  va_end(args);
  throw kst::Failure(message);
}

}  // namespace std
