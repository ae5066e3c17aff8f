#include "msi/check_output.h"

#include <algorithm>

#include "check/printable.h"

namespace kst {
namespace {

const std::string kGapOpen = "(";
const std::string kGapClose = " bytes not shown)";

bool StartsWith(const std::string& text, const std::string& start) {
  return text.compare(0, start.size(), start) == 0;
}

bool IsGap(const std::string& line) {
  return StartsWith(line, kGapOpen) && line.size() > kGapClose.size() &&
         line.compare(line.size() - kGapClose.size(), kGapClose.size(), kGapClose) == 0;
}

void AddLine(std::vector<std::string>& lines, const char* data, size_t size) {
  if (size > 0 && data[size - 1] == '\r') --size;
  if (size == 0) return;
  std::string line;
  AppendPrintable(line, data, std::min(size, kMaxLogLine));  // as KstCheck writes its own texts
  if (size > kMaxLogLine) line += " ...";
  lines.push_back(std::move(line));
}

// Adds the lines of text[from, to); the last one need not end in a line feed.
void AddLines(std::vector<std::string>& lines, const std::string& text, size_t from, size_t to) {
  while (from < to) {
    size_t end = text.find('\n', from);
    if (end == std::string::npos || end > to) end = to;
    AddLine(lines, text.data() + from, end - from);
    from = end + 1;
  }
}

}  // namespace

BoundedOutput::BoundedOutput(size_t headLimit, size_t tailLimit)
    : headLimit_(headLimit), tailLimit_(tailLimit) {}

void BoundedOutput::Append(const char* data, size_t size) {
  total_ += size;
  size_t toHead = std::min(size, headLimit_ - head_.size());
  head_.append(data, toHead);
  data += toHead;
  size -= toHead;
  if (size == 0 || tailLimit_ == 0) return;
  if (size >= tailLimit_) {
    tail_.assign(data + size - tailLimit_, tailLimit_);
    return;
  }
  tail_.append(data, size);
  // Trimmed only once it holds twice the limit: each byte is moved at most once.
  if (tail_.size() >= 2 * tailLimit_) tail_.erase(0, tail_.size() - tailLimit_);
}

std::string BoundedOutput::tail() const {
  size_t keep = std::min(tail_.size(), tailLimit_);
  return tail_.substr(tail_.size() - keep);
}

uint64_t BoundedOutput::skipped() const {
  return total_ - head_.size() - std::min(tail_.size(), tailLimit_);
}

std::vector<std::string> OutputLines(const BoundedOutput& output) {
  std::vector<std::string> lines;
  const std::string& head = output.head();
  std::string tail = output.tail();
  if (output.skipped() == 0) {
    std::string whole = head + tail;
    AddLines(lines, whole, 0, whole.size());
    return lines;
  }
  // The lines cut by the gap are counted as not shown.
  size_t headEnd = head.rfind('\n');
  headEnd = headEnd == std::string::npos ? 0 : headEnd + 1;
  size_t tailStart = tail.find('\n');
  tailStart = tailStart == std::string::npos ? tail.size() : tailStart + 1;
  AddLines(lines, head, 0, headEnd);
  uint64_t hidden = output.skipped() + (head.size() - headEnd) + tailStart;
  lines.push_back(kGapOpen + std::to_string(hidden) + kGapClose);
  AddLines(lines, tail, tailStart, tail.size());
  return lines;
}

std::optional<int64_t> VerdictCodeOf(const std::vector<std::string>& lines) {
  static const std::string kWord = "VERDICT ";
  if (lines.empty() || !StartsWith(lines.back(), kWord)) return std::nullopt;
  const std::string& line = lines.back();
  size_t at = kWord.size();
  int64_t code = 0;
  size_t digits = 0;
  // KstCheck's codes have at most ten digits; more is not a code of its.
  while (at < line.size() && line[at] >= '0' && line[at] <= '9' && digits < 10) {
    code = code * 10 + (line[at] - '0');
    ++at;
    ++digits;
  }
  if (digits == 0 || (at < line.size() && line[at] != ' ')) return std::nullopt;
  return code;
}

namespace {

// "LOWERFILTERS <key> <n> ours <entry>": the fourth word is "ours" after a number.
bool ListsOurEntry(const std::string& line) {
  if (!StartsWith(line, "LOWERFILTERS ")) return false;
  size_t key = line.find(' ') + 1;
  size_t number = line.find(' ', key);
  if (number == std::string::npos || number == key) return false;
  size_t kind = line.find(' ', number + 1);
  if (kind == std::string::npos || kind == number + 1) return false;
  for (size_t i = number + 1; i < kind; ++i) {
    if (line[i] < '0' || line[i] > '9') return false;
  }
  return line.compare(kind + 1, 5, "ours ") == 0;
}

}  // namespace

PendingRestart PendingRestartOf(const std::vector<std::string>& lines) {
  bool nt = false;
  bool listed = false;
  for (const std::string& line : lines) {
    if (IsGap(line)) return PendingRestart::kUnknown;
    if (line == "FAMILY 9x") return PendingRestart::kInstalled;
    if (line == "FAMILY NT") nt = true;
    listed = listed || ListsOurEntry(line);
    if (StartsWith(line, "CONTROL ")) break;
  }
  if (!nt) return PendingRestart::kUnknown;
  return listed ? PendingRestart::kInstalled : PendingRestart::kRemoved;
}

}  // namespace kst
