#include "device/text_format.h"

#include "diag/error_text.h"

namespace kst {
namespace {

void AppendNumber(std::string& out, const FormatArg& arg) {
  if (arg.kind() != FormatArg::Kind::kText) out += DecimalText(arg.number());
}

void AppendChar(std::string& out, const FormatArg& arg) {
  if (arg.kind() != FormatArg::Kind::kText) out += static_cast<char>(arg.number() & 0xFF);
}

void AppendText(std::string& out, const FormatArg& arg) {
  if (arg.kind() == FormatArg::Kind::kText) out += arg.text();
}

}  // namespace

std::string WsprintfText(const char* format, std::initializer_list<FormatArg> args) {
  std::string out;
  const FormatArg* next = args.begin();
  for (const char* p = format; *p != '\0'; ++p) {
    char directive = p[1];
    bool takesArg = directive == 'd' || directive == 'c' || directive == 's';
    if (*p != '%' || (!takesArg && directive != '%')) {
      out += *p;
      continue;
    }
    ++p;
    if (directive == '%') {
      out += '%';
      continue;
    }
    if (next == args.end()) continue;
    const FormatArg& arg = *next++;
    if (directive == 'd') AppendNumber(out, arg);
    if (directive == 'c') AppendChar(out, arg);
    if (directive == 's') AppendText(out, arg);
  }
  return out;
}

}  // namespace kst
