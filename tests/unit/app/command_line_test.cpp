#include "app/command_line.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "app/application_title.h"
#include "platform/fake/fake_platform.h"
#include "tests/unit/support/trace_capture.h"

namespace kst {
namespace {

using Words = std::vector<std::string>;

// ---- Splitting -------------------------------------------------------------------

struct SplitRow {
  const char* what;
  std::string line;
  Words arguments;
};

TEST(SplitCommandLine, Table) {
  const SplitRow rows[] = {
      {"program only", "KstIns.exe", {}},
      {"trailing blanks", "KstIns.exe   ", {}},
      {"two switches", "KstIns.exe /I /Q", {"/I", "/Q"}},
      {"quoted program name with blanks", "\"C:\\Program Files\\KstIns.exe\" /U", {"/U"}},
      {"tabs and control characters separate", "KstIns.exe\t/I\x01/Q\r\n/B", {"/I", "/Q", "/B"}},
      {"quotes inside a word are dropped", "p a\"b c\"d", {"ab cd"}},
      {"quoted stretch keeps blanks", "p \"/I /Q\"", {"/I /Q"}},
      {"empty quoted pair is not counted", "p \"\"", {}},
      {"empty pairs before a word are skipped", "p \"\"\"\"/I", {"/I"}},
      {"empty pair between words", "p /I \"\" /Q", {"/I", "/Q"}},
      {"an empty pair inside a word stays empty", "p /\"\"I", {"/I"}},
      {"unterminated quote runs to the end", "p \"/I /Q", {"/I /Q"}},
      // A lone quote at the end makes an empty word, which ends the list.
      {"lone quote ends the list", "p /I \" /Q", {"/I", " /Q"}},
      {"quote then end", "p /I \"", {"/I"}},
      {"high characters are word characters", "p \xe9/\xff", {"\xe9/\xff"}},
      {"empty command line", "", {}},
      {"program name quoted and empty", "\"\" /I", {}},
  };
  for (const SplitRow& r : rows) EXPECT_EQ(SplitCommandLine(r.line), r.arguments) << r.what;
}

// ---- Scan and dispatch -------------------------------------------------------------

// Records what the dispatch ran, with the trace lines and boxes in between.
struct Recorder {
  explicit Recorder(fake::FakePlatform& fp) : trace(fp) {}
  test::TraceCapture trace;
  Words events;
  bool procedureResult = true;
  bool throwInProcedure = false;

  CommandLineActions Actions() {
    auto mark = [this](const std::string& e) {
      for (const auto& line : trace.Lines()) events.push_back("trace " + line);
      trace.Clear();
      events.push_back(e);
    };
    return {
        [this, mark](bool interactive) {
          mark(std::string("install ") + (interactive ? "interactive" : "quiet"));
          if (throwInProcedure) throw std::runtime_error("exhausted");
          return procedureResult;
        },
        [this, mark](bool interactive) {
          mark(std::string("uninstall ") + (interactive ? "interactive" : "quiet"));
          if (throwInProcedure) throw std::runtime_error("exhausted");
          return procedureResult;
        },
        [mark] {
          mark("reboot");
          return true;
        },
        [mark] { mark("usage"); },
    };
  }

  Words Finish() {
    for (const auto& line : trace.Lines()) events.push_back("trace " + line);
    return events;
  }
};

struct DispatchRow {
  const char* line;  // words after the program name
  Words events;
  bool procedureResult = true;
};

TEST(RunCommandLine, Table) {
  const DispatchRow rows[] = {
      {"word", {}},
      {"-I", {}},
      {"/IU", {}},
      {"/", {}},
      {"\\I", {}},
      {"/i", {"install interactive"}},
      {"/u", {"uninstall interactive"}},
      {"/q", {"trace QuietMode"}},
      {"/b", {"trace QuietMode"}},
      {"/Q", {"trace QuietMode"}},
      {"/B", {"trace QuietMode"}},
      {"/?", {"usage"}},
      {"/Q /?", {"trace QuietMode", "usage"}},
      {"/I /?", {"usage"}},
      {"/? /I", {"usage"}},
      // "/?" stops the scan: nothing after it is read, so nothing is traced.
      {"/? /Q", {"usage"}},
      {"/? /B /I", {"usage"}},
      {"/I /U", {"install interactive"}},
      {"/U /I", {"install interactive"}},
      {"/X", {"usage"}},
      {"/Q /X", {"trace QuietMode"}},
      {"/X /Q", {"usage"}},
      {"/X /I", {"usage"}},
      {"/I /X", {"install interactive"}},
      {"//", {"usage"}},
      {"/I /Q", {"trace QuietMode", "install quiet"}},
      {"/I", {"install interactive"}},
      {"/Q /Q /I", {"trace QuietMode", "trace QuietMode", "install quiet"}},
      {"/I /B",
       {"trace QuietMode", "install interactive", "trace Install Command: QuietMode", "reboot"}},
      {"/I /Q /B",
       {"trace QuietMode", "trace QuietMode", "install interactive",
        "trace Install Command: QuietMode", "reboot"}},
      {"/U /B",
       {"trace QuietMode", "uninstall interactive", "trace Uninstall Command: QuietMode",
        "reboot"}},
      {"/U /B", {"trace QuietMode", "uninstall interactive"}, false},
      {"/I /B", {"trace QuietMode", "install interactive"}, false},
      {"/B /X", {"trace QuietMode", "usage"}},
      {"x /I y", {"install interactive"}},
  };
  for (const DispatchRow& r : rows) {
    fake::FakePlatform fp;
    Recorder rec(fp);
    rec.procedureResult = r.procedureResult;
    RunCommandLine(SplitCommandLine(std::string("KstIns.exe ") + r.line), rec.Actions());
    EXPECT_EQ(rec.Finish(), r.events) << r.line << " (procedure result " << r.procedureResult
                                      << ")";
  }
}

TEST(RunCommandLine, ExceptionInProcedureEndsSilently) {
  fake::FakePlatform fp;
  Recorder rec(fp);
  rec.throwInProcedure = true;
  RunCommandLine({"/I", "/B"}, rec.Actions());
  EXPECT_EQ(rec.Finish(), (Words{"trace QuietMode", "install interactive"}));
  EXPECT_TRUE(fp.boxes.shown.empty());
}

TEST(ShowUsage, ShowsTheExactTextInAnInformationBox) {
  // Setup scripts and their documentation quote it: every character counts.
  const std::string usage =
      "Kestrune Install Tools.\n KstIns.exe /? /I /U /B /Q \n /?\tdisplay this help and exit.\n"
      " /I\tInstall Kestrune device.\n /U\tUninstall Kestrune device.\n"
      " /B\tReboot windows. This includes rebooting if necessary.\n /Q\tQuiet mode.\n"
      "    Example:\n \tinstall,\tKstIns.exe /I /Q\n \tuninstall,\tKstIns.exe /U /Q\n";
  ASSERT_EQ(usage.size(), 289u);
  EXPECT_EQ(kUsageText, usage);
  // The caption is the application title as it reads when the box opens.
  for (const char* title : {kApplicationTitle, "Another Title", ""}) {
    fake::FakePlatform fp;
    SetApplicationTitle(title);
    ShowUsage();
    ASSERT_EQ(fp.boxes.shown.size(), 1u);
    EXPECT_EQ(fp.boxes.shown[0].text, usage);
    EXPECT_EQ(fp.boxes.shown[0].caption, title);
    EXPECT_EQ(fp.boxes.shown[0].flags, 64u);
  }
  SetApplicationTitle(kApplicationTitle);
}

TEST(RunCommandLine, RealUsageBoxForUnrecognisedSwitch) {
  fake::FakePlatform fp;
  RunCommandLine({"/X"});
  ASSERT_EQ(fp.boxes.shown.size(), 1u);
  EXPECT_EQ(fp.boxes.shown[0].text, kUsageText);
}

}  // namespace
}  // namespace kst
