#include "msi/check_output.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kst {
namespace {

using Lines = std::vector<std::string>;

BoundedOutput Captured(const std::string& text, size_t head, size_t tail, size_t chunk = 7) {
  BoundedOutput output(head, tail);
  for (size_t at = 0; at < text.size(); at += chunk) {
    output.Append(text.data() + at, std::min(chunk, text.size() - at));
  }
  return output;
}

TEST(BoundedOutput, KeepsHeadAndTailAndCountsTheRest) {
  struct Case {
    std::string text;
    size_t head, tail, chunk;
    std::string keptHead, keptTail;
    uint64_t skipped;
  };
  const Case cases[] = {
      {"", 4, 4, 1, "", "", 0},
      {"abc", 4, 4, 1, "abc", "", 0},
      {"abcdefgh", 4, 4, 3, "abcd", "efgh", 0},
      {"abcdefghij", 4, 4, 3, "abcd", "ghij", 2},
      {"abcdefghij", 4, 4, 100, "abcd", "ghij", 2},  // one write larger than both
      {"abcdefghijklmnopqrstuvwxyz", 4, 4, 1, "abcd", "wxyz", 18},
      {"abcdefghij", 0, 3, 2, "", "hij", 7},
      {"abcdefghij", 3, 0, 2, "abc", "", 7},
      {"abcdefghij", 0, 0, 4, "", "", 10},
  };
  for (const Case& c : cases) {
    BoundedOutput output = Captured(c.text, c.head, c.tail, c.chunk);
    EXPECT_EQ(output.head(), c.keptHead) << c.text;
    EXPECT_EQ(output.tail(), c.keptTail) << c.text;
    EXPECT_EQ(output.skipped(), c.skipped) << c.text;
    EXPECT_EQ(output.total(), c.text.size()) << c.text;
  }
}

TEST(BoundedOutput, MemoryStaysWithinTwiceTheLimitsWhateverIsWritten) {
  BoundedOutput output(16, 16);
  std::string block(1000, 'x');
  for (int i = 0; i < 1000; ++i) output.Append(block.data(), 1 + i % 17);
  EXPECT_EQ(output.head().size(), 16u);
  EXPECT_EQ(output.tail().size(), 16u);
}

TEST(OutputLines, SplitsEscapesAndCuts) {
  struct Case {
    std::string text;
    Lines lines;
  };
  const std::string longLine(kMaxLogLine + 5, 'a');
  const Case cases[] = {
      {"", {}},
      {"VERDICT 1 not installed\n", {"VERDICT 1 not installed"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\n\n\nb", {"a", "b"}},  // empty lines dropped, a last line without its line feed kept
      {"tab\there\x01\x7F\r", {"tab\\x09here\\x01\\x7F"}},
      {"mid\rline\n", {"mid\\x0Dline"}},
      {std::string("nul\0byte\n", 9), {"nul\\x00byte"}},
      {"ANSI \xE9\xFF kept\n", {"ANSI \xE9\xFF kept"}},
      {"brackets [ProductName] kept\n", {"brackets [ProductName] kept"}},
      {longLine + "\nnext\n", {std::string(kMaxLogLine, 'a') + " ...", "next"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(OutputLines(Captured(c.text, 4096, 4096)), c.lines) << c.text;
  }
}

TEST(OutputLines, ALineCutByTheGapIsCountedNotShown) {
  // Head "one\ntw", skipped "o\nthree\nfo", tail "ur\nfive\n".
  std::string text = "one\ntwo\nthree\nfour\nfive\n";
  BoundedOutput output = Captured(text, 6, 8);
  ASSERT_EQ(output.head(), "one\ntw");
  ASSERT_EQ(output.tail(), "ur\nfive\n");
  EXPECT_EQ(OutputLines(output), (Lines{"one", "(15 bytes not shown)", "five"}));
}

TEST(OutputLines, TheGapBetweenWholeLinesIsStillShown) {
  std::string text = "one\ntwo\nVERDICT 2 inconsistent\n";
  BoundedOutput output = Captured(text, 4, 8);  // the tail "sistent\n" is no whole line
  EXPECT_EQ(OutputLines(output), (Lines{"one", "(27 bytes not shown)"}));
  BoundedOutput whole = Captured(text, 4, 26);
  EXPECT_EQ(OutputLines(whole), (Lines{"one", "(4 bytes not shown)", "VERDICT 2 inconsistent"}));
}

TEST(VerdictCodeOf, OnlyAWellFormedLastLine) {
  struct Case {
    Lines lines;
    std::optional<int64_t> code;
  };
  const Case cases[] = {
      {{}, std::nullopt},
      {{"VERDICT 3010 installed, restart pending"}, 3010},
      {{"PROBLEM x", "VERDICT 2 inconsistent"}, 2},
      {{"VERDICT 0"}, 0},
      {{"VERDICT 1 not installed", "DEVICE after it"}, std::nullopt},
      {{"VERDICT"}, std::nullopt},
      {{"VERDICT "}, std::nullopt},
      {{"VERDICT x"}, std::nullopt},
      {{"VERDICT -1 negative"}, std::nullopt},
      {{"VERDICT 12a"}, std::nullopt},
      {{"verdict 1 lower case"}, std::nullopt},
      {{" VERDICT 1 indented"}, std::nullopt},
      {{"VERDICT 4294967295 the largest exit code"}, 4294967295},
      {{"VERDICT 9999999999"}, 9999999999},
      {{"VERDICT 12345678901 eleven digits"}, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(VerdictCodeOf(c.lines), c.code) << (c.lines.empty() ? "" : c.lines.back());
  }
}

TEST(PendingRestartOf, ListedFilterIsInstalledAndNoneListedIsARemoval) {
  const std::string ata = "LOWERFILTERS SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E97B}";
  struct Case {
    Lines lines;
    PendingRestart pending;
  };
  const Case cases[] = {
      {{"FAMILY NT", ata + " 1 ours Kestrune", ata + " 2 other scsiflt", "CONTROL silent",
        "VERDICT 3010 x"},
       PendingRestart::kInstalled},
      {{"FAMILY NT", ata + " 1 other scsiflt", "CONTROL answers", "VERDICT 3010 x"},
       PendingRestart::kRemoved},
      {{"FAMILY NT", ata + " novalue", "VERDICT 3010 x"}, PendingRestart::kRemoved},
      {{"FAMILY 9x", "VERDICT 3010 x"}, PendingRestart::kInstalled},
      {{"FAMILY NT", ata + " 12 ours Morvellin"}, PendingRestart::kInstalled},
      // Output lost before the CONTROL line may have held the listing;
      // lost after it (a long device list), nothing that decides is lost.
      {{"FAMILY NT", "(70000 bytes not shown)", "CONTROL silent"}, PendingRestart::kUnknown},
      {{"FAMILY NT", ata + " 1 other x", "CONTROL answers", "DEVICE a", "(70000 bytes not shown)",
        "VERDICT 3010 x"},
       PendingRestart::kRemoved},
      {{"(10 bytes not shown)", "FAMILY 9x"}, PendingRestart::kUnknown},
      {{"VERDICT 3010 x"}, PendingRestart::kUnknown},
      {{}, PendingRestart::kUnknown},
      {{"FAMILY 95", "VERDICT 3010 x"}, PendingRestart::kUnknown},
      // An entry, not the kind, that reads "ours"; a kind without a number;
      // our name on lines of other keywords or after the CONTROL line.
      {{"FAMILY NT", ata + " 1 other ours", ata + " x ours Kestrune", ata + " ours Kestrune",
        ata + "  ours Kestrune"},
       PendingRestart::kRemoved},
      {{"FAMILY NT", "DEVICE 1 ours Kestrune", "PROBLEM LOWERFILTERS k 1 ours K"},
       PendingRestart::kRemoved},
      {{"FAMILY NT", "LOWERFILTERS  1 ours Kestrune"}, PendingRestart::kRemoved},
      {{"FAMILY NT", "CONTROL silent", ata + " 1 ours Kestrune"}, PendingRestart::kRemoved},
      // The running filter: an uninstall, an install refused after it, an upgrade.
      {{"FAMILY NT", "IMAGE current 1.4.2.11 C:\\k.sys", "SERVICE Kestrune exists",
        "SERVICE Kestrune awaiting-deletion", ata + " 1 other scsiflt", "PENDING delete C:\\k.sys",
        "CONTROL answers", "VERDICT 3010 removal pending"},
       PendingRestart::kRemoved},
      {{"FAMILY NT", "SERVICE Kestrune awaiting-deletion", ata + " novalue", "PENDING unreadable",
        "CONTROL unasked", "VERDICT 3010 removal pending"},
       PendingRestart::kRemoved},
      {{"FAMILY NT", "IMAGE other 1.4.2.10 C:\\k.sys", ata + " 1 ours Kestrune",
        "PENDING replace C:\\k.sys", "CONTROL unasked", "VERDICT 3010 installed, restart pending"},
       PendingRestart::kInstalled},
      // A line of the machine's that only ends like the gap is no gap.
      {{"FAMILY NT", ata + " 1 other x (12 bytes not shown)", "CONTROL silent"},
       PendingRestart::kRemoved},
      // Our name on a PENDING line is no listing.
      {{"FAMILY NT", "PENDING replace 1 ours Kestrune", "CONTROL unasked"}, PendingRestart::kRemoved},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PendingRestartOf(c.lines), c.pending) << (c.lines.size() > 1 ? c.lines[1] : "");
  }
}

}  // namespace
}  // namespace kst
