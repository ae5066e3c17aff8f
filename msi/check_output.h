#pragma once
// KstCheck.exe's standard output as the package's custom action reads it:
// kept within a fixed size whatever the program writes, and turned into
// lines for the Windows Installer log. Pure byte work, no platform calls.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "msi/package_outcome.h"

namespace kst {

// A program's output within a fixed amount of memory: its first `headLimit`
// bytes and its last `tailLimit` bytes, and how many lay between.
class BoundedOutput {
 public:
  BoundedOutput(size_t headLimit, size_t tailLimit);

  void Append(const char* data, size_t size);

  const std::string& head() const { return head_; }
  // The last bytes after the head, at most tailLimit of them.
  std::string tail() const;
  // Bytes written that are in neither head nor tail.
  uint64_t skipped() const;
  uint64_t total() const { return total_; }

 private:
  size_t headLimit_;
  size_t tailLimit_;
  std::string head_;
  std::string tail_;  // may hold up to twice tailLimit_; tail() takes the end
  uint64_t total_ = 0;
};

// The limits the custom action reads KstCheck's output with: a report of a
// machine with many devices fits in the head; the tail keeps the PROBLEM and
// VERDICT lines that end an output too long for it.
inline constexpr size_t kCheckOutputHead = 48 * 1024;
inline constexpr size_t kCheckOutputTail = 16 * 1024;

// Longest line written to the log, in bytes of output; longer lines are cut
// and end in " ...".
inline constexpr size_t kMaxLogLine = 1024;

// The output's non-empty lines, in order, for the log: split at line feeds
// (a carriage return before one is dropped), each control byte shown as
// \xNN, each line at most kMaxLogLine bytes of output. When bytes were
// skipped, the head's lines up to its last line feed, then one line
// "(N bytes not shown)" that also counts the cut lines around the gap, then
// the tail's lines after its first line feed.
std::vector<std::string> OutputLines(const BoundedOutput& output);

// The code of a last line "VERDICT <code> <text>": KstCheck's own statement
// of its exit code. Nothing when the last line is not such a line.
std::optional<int64_t> VerdictCodeOf(const std::vector<std::string>& lines);

// What a restart pending in the report waits for, from the lines before
// its CONTROL line. On the NT family a filter that a class key's LowerFilters
// still lists ("LOWERFILTERS <key> <n> ours <entry>") is installed; none
// listed, the restart finishes a removal. On the 9x family only the image
// counts, so a pending restart is always an installed one. Unknown without
// the FAMILY line, or when output was not kept before the CONTROL line: a
// line that would decide may be missing.
PendingRestart PendingRestartOf(const std::vector<std::string>& lines);

}  // namespace kst
