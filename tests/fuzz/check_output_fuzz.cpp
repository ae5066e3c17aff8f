// KstCheck's output as the package's custom action reads it: kept within
// its bounds whatever a program writes, turned into log lines, its verdict
// and what a pending restart waits for read from them.
//
// Input: the head limit (1 byte), the tail limit (1 byte), the size of the
// pieces the output arrives in (1 byte, 0 read as 1), then the output. The
// small limits make the gap between head and tail common.
#include <algorithm>
#include <string>
#include <vector>

#include "msi/check_output.h"
#include "tests/fuzz/fuzz_check.h"

namespace kst {
namespace {

// The lines as they must come out when nothing was skipped: split at line
// feeds, a carriage return before one dropped, empty lines dropped, control
// bytes as \xNN, each cut after kMaxLogLine bytes.
std::vector<std::string> ReferenceLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t from = 0;
  while (from < text.size()) {
    size_t end = std::min(text.find('\n', from), text.size());
    std::string raw = text.substr(from, end - from);
    from = end + 1;
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    if (raw.empty()) continue;
    std::string line;
    for (size_t i = 0; i < raw.size() && i < kMaxLogLine; ++i) {
      unsigned char c = static_cast<unsigned char>(raw[i]);
      if (c < 0x20 || c == 0x7F) {
        static const char kHex[] = "0123456789ABCDEF";
        line += "\\x";
        line += kHex[c >> 4];
        line += kHex[c & 15];
      } else {
        line += char(c);
      }
    }
    if (raw.size() > kMaxLogLine) line += " ...";
    lines.push_back(line);
  }
  return lines;
}

void CheckLines(const BoundedOutput& output, const std::string& text) {
  std::vector<std::string> lines = OutputLines(output);
  size_t gaps = 0;
  for (const std::string& line : lines) {
    FUZZ_CHECK(!line.empty());
    FUZZ_CHECK(line.size() <= 4 * kMaxLogLine + 4);
    for (char c : line) FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
    if (line.front() == '(' && line.find(" bytes not shown)") != std::string::npos) ++gaps;
  }
  if (output.skipped() == 0) FUZZ_CHECK(lines == ReferenceLines(text));
  else FUZZ_CHECK(gaps >= 1);

  std::optional<int64_t> code = VerdictCodeOf(lines);
  if (code) {
    FUZZ_CHECK(lines.back().compare(0, 8, "VERDICT ") == 0);
    FUZZ_CHECK(lines.back().substr(8, std::to_string(*code).size()) == std::to_string(*code) ||
               lines.back()[8] == '0');
    FUZZ_CHECK(*code >= 0 && *code <= 9999999999);
  }
  PendingRestart pending = PendingRestartOf(lines);
  if (pending != PendingRestart::kUnknown) {
    bool family = std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
      return l == "FAMILY NT" || l == "FAMILY 9x";
    });
    FUZZ_CHECK(family);
  }
}

}  // namespace
}  // namespace kst

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kst::fuzz::Input in(data, size);
  size_t head = in.Byte();
  size_t tail = in.Byte();
  size_t piece = std::max<size_t>(1, in.Byte());
  std::string text = kst::fuzz::Text(in.Rest());

  kst::BoundedOutput output(head, tail);
  for (size_t at = 0; at < text.size(); at += piece) {
    output.Append(text.data() + at, std::min(piece, text.size() - at));
  }
  // What is kept is the output's own bytes, at both ends, within the bounds.
  FUZZ_CHECK(output.total() == text.size());
  FUZZ_CHECK(output.head() == text.substr(0, std::min(head, text.size())));
  std::string tailKept = output.tail();
  FUZZ_CHECK(tailKept.size() <= tail);
  FUZZ_CHECK(text.size() >= tailKept.size() &&
             text.compare(text.size() - tailKept.size(), tailKept.size(), tailKept) == 0);
  FUZZ_CHECK(output.skipped() == text.size() - output.head().size() - tailKept.size());
  kst::CheckLines(output, text);

  // The same output read with the action's own bounds.
  kst::BoundedOutput real(kst::kCheckOutputHead, kst::kCheckOutputTail);
  real.Append(text.data(), text.size());
  kst::CheckLines(real, text);
  return 0;
}
