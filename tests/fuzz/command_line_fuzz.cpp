// Command-line splitting, the switch scan and the dispatch over arbitrary
// bytes.
//
// Input: one byte of outcomes (bit 0: the procedure's result), then the
// whole command line, program name included.
#include <algorithm>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "platform/fake/fake_platform.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/shared_fake.h"

namespace kst {
namespace {

using Words = std::vector<std::string>;

bool Plain(const std::string& word) {
  for (unsigned char c : word)
    if (c <= ' ' || c == '"') return false;
  return !word.empty();
}

// Splitting drops every quote and never yields an empty word; plain words
// (no separator, no quote) split back into themselves.
void CheckSplit(const std::string& line, const Words& words) {
  std::string visible = line.substr(0, line.find('\0'));
  FUZZ_CHECK(words.size() <= visible.size() / 2);
  bool allPlain = true;
  for (const std::string& w : words) {
    FUZZ_CHECK(!w.empty());
    FUZZ_CHECK(w.find('"') == std::string::npos);
    FUZZ_CHECK(w.find('\0') == std::string::npos);
    allPlain = allPlain && Plain(w);
  }
  if (!allPlain) return;
  std::string rebuilt = "KstIns.exe";
  for (const std::string& w : words) rebuilt += " " + w;
  FUZZ_CHECK(SplitCommandLine(rebuilt) == words);
}

struct Run {
  int installs = 0, uninstalls = 0, reboots = 0, usages = 0;
  bool interactive = false;
};

int QuietLines(const fake::FakePlatform& fp) {
  int n = 0;
  for (const auto& e : fp.windows.events)
    if (e.kind == fake::WindowEvent::kDebugOutput && e.text == "QuietMode") ++n;
  return n;
}

// The switches as read before the scan stops, in order (upper case).
std::string ReadSwitches(const Words& words) {
  std::string read;
  for (const std::string& w : words) {
    if (w.size() != 2 || w[0] != '/') continue;
    char c = w[1] >= 'a' && w[1] <= 'z' ? char(w[1] - 32) : w[1];
    read += c;
    if (std::string("IUQB").find(c) == std::string::npos) break;
  }
  return read;
}

// At most one procedure, help before install before uninstall before an
// unrecognised switch, one "QuietMode" per /Q and /B read, and the restart
// only after a procedure that succeeded under /B.
void CheckDispatch(const Words& words, bool procedureResult) {
  fake::FakePlatform& fp = fuzz::Fresh();
  if (fp.windows.windows.empty()) fp.windows.Open("DBGVCLNT", "Debug viewer");
  Run run;
  CommandLineActions actions{
      [&](bool interactive) { ++run.installs; run.interactive = interactive; return procedureResult; },
      [&](bool interactive) { ++run.uninstalls; run.interactive = interactive; return procedureResult; },
      [&] { ++run.reboots; return true; },
      [&] { ++run.usages; }};
  RunCommandLine(words, actions);

  std::string read = ReadSwitches(words);
  auto has = [&](char c) { return read.find(c) != std::string::npos; };
  bool stopped = !read.empty() && std::string("IUQB").find(read.back()) == std::string::npos;
  bool help = stopped && read.back() == '?';
  bool unknown = stopped && !help;
  bool quiet = has('Q') && !has('B');

  FUZZ_CHECK(QuietLines(fp) == int(std::count(read.begin(), read.end(), 'Q') +
                                   std::count(read.begin(), read.end(), 'B')));
  FUZZ_CHECK(run.installs + run.uninstalls <= 1);
  FUZZ_CHECK(run.installs == (!help && has('I')));
  FUZZ_CHECK(run.uninstalls == (!help && !has('I') && has('U')));
  bool procedure = run.installs + run.uninstalls == 1;
  if (procedure) FUZZ_CHECK(run.interactive == !quiet);
  FUZZ_CHECK(run.reboots == (procedure && procedureResult && has('B')));
  FUZZ_CHECK(run.usages == (help || (!procedure && unknown && !quiet)));
  FUZZ_CHECK(fp.boxes.shown.empty());
}

}  // namespace
}  // namespace kst

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kst::fuzz::Input in(data, size);
  bool procedureResult = in.Byte() & 1;
  std::string line = kst::fuzz::Text(in.Rest());
  std::vector<std::string> words = kst::SplitCommandLine(line);
  kst::CheckSplit(line, words);
  kst::CheckDispatch(words, procedureResult);
  return 0;
}
