#include "msi/package_action.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace kst {
namespace {

using Lines = std::vector<std::string>;
const std::string kFolder = "C:\\Program Files\\Kestrune\\";
const std::string kInstaller = kFolder + "KstIns.exe";
const std::string kCheck = kFolder + "KstCheck.exe";

const std::string kAdapterKey =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E97B-E325-11CE-BFC1-08002BE10318}";

// The filter on a machine as KstIns.exe changes it and KstCheck.exe sees it.
enum class Filter { kAbsent, kPartial, kComplete, kRemovalPending };

// How one program run fails, if it does.
enum class Fault {
  kNone,
  kNotStarted,     // nothing ran
  kHungHalfway,    // stopped at the bound after doing part of its work
  kCrashHalfway,   // ended with an exception status after part of its work
  kSaysOtherCode,  // KstCheck: a VERDICT line that its exit code contradicts
  kExitsStrangely, // KstCheck: exit code 259 with no output
  kFloodsOutput,   // KstCheck: megabytes of device lines
  kOtherExitCode,  // KstCheck: exit code 0 whatever its VERDICT line states
  kOutputLost,     // KstCheck: its exit code, but none of its lines
};

// A machine behind the ActionHost seam: KstIns.exe /I and /U change the
// filter as the real procedures do (an install that cannot list the filter
// leaves it partial; a removal of a running filter finishes at the restart),
// and KstCheck.exe prints its verdict as the last line.
class FakeHost : public ActionHost {
 public:
  Filter filter = Filter::kAbsent;
  bool running = false;         // the filter is loaded
  bool installBreaks = false;   // KstIns.exe /I cannot complete the filter
  std::map<size_t, Fault> faults;  // by the number of the run, from 0
  Lines runs;  // "KstIns.exe /I /Q", "KstCheck.exe", ...
  Lines log;
  std::vector<uint32_t> timeouts;

  ProgramEnd Run(const std::string& program, const std::string& arguments, uint32_t timeoutMs,
                 BoundedOutput* output) override {
    size_t index = runs.size();
    bool check = program == kCheck;
    EXPECT_TRUE(check || program == kInstaller) << program;
    EXPECT_EQ(check, output != nullptr) << "only KstCheck's output is read";
    runs.push_back(program.substr(kFolder.size()) + (arguments.empty() ? "" : " " + arguments));
    timeouts.push_back(timeoutMs);
    Fault fault = faults.count(index) ? faults[index] : Fault::kNone;
    if (fault == Fault::kNotStarted) return {ProgramEnd::How::kNotStarted, 2};
    if (!check) return RunInstaller(arguments, fault);
    return RunCheck(*output, fault);
  }

  void Log(const std::string& line) override { log.push_back(line); }

  int Verdict() const {
    switch (filter) {
      case Filter::kAbsent: return 1;
      case Filter::kPartial: return 2;
      case Filter::kComplete: return running ? 0 : 3010;
      case Filter::kRemovalPending: return 3010;
    }
    return 2;
  }

 private:
  ProgramEnd RunInstaller(const std::string& arguments, Fault fault) {
    bool halfway = fault == Fault::kHungHalfway || fault == Fault::kCrashHalfway;
    if (arguments == "/I /Q") {
      if (filter != Filter::kRemovalPending) {
        filter = halfway || installBreaks ? Filter::kPartial : Filter::kComplete;
      }
    } else {
      EXPECT_EQ(arguments, "/U /Q");
      filter = halfway ? Filter::kPartial
               : running && filter == Filter::kComplete ? Filter::kRemovalPending
                                                        : Filter::kAbsent;
    }
    if (fault == Fault::kHungHalfway) return {ProgramEnd::How::kTimedOut, 0};
    if (fault == Fault::kCrashHalfway) return {ProgramEnd::How::kExited, 0xC0000005};
    return {ProgramEnd::How::kExited, 0};
  }

  static void Append(BoundedOutput& output, const std::string& text) {
    output.Append(text.data(), text.size());
  }

  ProgramEnd RunCheck(BoundedOutput& output, Fault fault) {
    int verdict = Verdict();
    if (fault == Fault::kHungHalfway) return {ProgramEnd::How::kTimedOut, 0};
    if (fault == Fault::kExitsStrangely) return {ProgramEnd::How::kExited, 259};
    if (fault == Fault::kOutputLost) return {ProgramEnd::How::kExited, uint32_t(verdict)};
    std::string text = "FAMILY NT\n";
    if (filter == Filter::kComplete || filter == Filter::kPartial) {
      text += "LOWERFILTERS " + kAdapterKey + " 1 ours Kestrune\n";
    }
    text += running ? "CONTROL answers\n" : "CONTROL silent\n";
    output.Append(text.data(), text.size());
    if (fault == Fault::kFloodsOutput) {
      std::string device = "DEVICE 0:0:0 a device the filter sees\n";
      for (int i = 0; i < 100000; ++i) output.Append(device.data(), device.size());
    }
    if (verdict == 2) Append(output, "PROBLEM service Morvellin is missing\n");
    int stated = fault == Fault::kSaysOtherCode ? (verdict == 0 ? 3010 : 0) : verdict;
    Append(output, "VERDICT " + std::to_string(stated) + " text\n");
    if (fault == Fault::kCrashHalfway) return {ProgramEnd::How::kExited, 0xC0000005};
    if (fault == Fault::kOtherExitCode) return {ProgramEnd::How::kExited, 0};
    return {ProgramEnd::How::kExited, uint32_t(verdict)};
  }
};

size_t LastIndexOf(const Lines& runs, const std::string& run) {
  auto at = std::find(runs.rbegin(), runs.rend(), run);
  return at == runs.rend() ? SIZE_MAX : size_t(runs.rend() - at - 1);
}

TEST(InstallFilter, OutcomeFollowsTheCheckAndOnlyAFailureIsUndone) {
  struct Case {
    bool running, breaks;
    PackageOutcome outcome;
    Lines runs;
  };
  const Case cases[] = {
      {false, false, PackageOutcome::kRestartRequired, {"KstIns.exe /I /Q", "KstCheck.exe"}},
      {true, false, PackageOutcome::kSuccess, {"KstIns.exe /I /Q", "KstCheck.exe"}},
      {false, true, PackageOutcome::kFailure,
       {"KstIns.exe /I /Q", "KstCheck.exe", "KstIns.exe /U /Q", "KstCheck.exe"}},
  };
  for (const Case& c : cases) {
    FakeHost host;
    host.running = c.running;
    host.installBreaks = c.breaks;
    EXPECT_EQ(InstallFilter(host, kFolder), c.outcome);
    EXPECT_EQ(host.runs, c.runs);
    if (c.breaks) {
      EXPECT_EQ(host.filter, Filter::kAbsent);
    }
  }
}

// KstCheck answers 3010 for the restart that finishes a removal too: an
// install refused because the old service awaits deletion is no success,
// and a removal that did nothing to a filter not yet started is none either.
TEST(InstallFilter, ARestartThatFinishesARemovalIsNoInstall) {
  FakeHost host;
  host.filter = Filter::kRemovalPending;
  EXPECT_EQ(InstallFilter(host, kFolder), PackageOutcome::kFailure);
  EXPECT_NE(std::find(host.log.begin(), host.log.end(),
                      "Kestrune: the restart KstCheck.exe waits for does not finish the install"),
            host.log.end());
}

TEST(UninstallFilter, ARestartOfAnInstalledFilterIsNoRemoval) {
  FakeHost host;
  host.filter = Filter::kComplete;
  host.faults[0] = Fault::kNotStarted;
  EXPECT_EQ(UninstallFilter(host, kFolder), PackageOutcome::kFailure);
  EXPECT_EQ(host.filter, Filter::kComplete);
}

TEST(InstallFilter, LogsEachStepAndEveryLineOfTheCheck) {
  FakeHost host;
  host.installBreaks = true;
  ASSERT_EQ(InstallFilter(host, kFolder), PackageOutcome::kFailure);
  EXPECT_EQ(host.log, (Lines{
      "Kestrune: running \"C:\\Program Files\\Kestrune\\KstIns.exe\" /I /Q",
      "Kestrune: KstIns.exe ended with exit code 0",
      "Kestrune: KstCheck.exe: FAMILY NT",
      "Kestrune: KstCheck.exe: LOWERFILTERS " + kAdapterKey + " 1 ours Kestrune",
      "Kestrune: KstCheck.exe: CONTROL silent",
      "Kestrune: KstCheck.exe: PROBLEM service Morvellin is missing",
      "Kestrune: KstCheck.exe: VERDICT 2 text",
      "Kestrune: KstCheck.exe ended with exit code 2",
      "Kestrune: the install failed",
      "Kestrune: undoing the install",
      "Kestrune: running \"C:\\Program Files\\Kestrune\\KstIns.exe\" /U /Q",
      "Kestrune: KstIns.exe ended with exit code 0",
      "Kestrune: KstCheck.exe: FAMILY NT",
      "Kestrune: KstCheck.exe: CONTROL silent",
      "Kestrune: KstCheck.exe: VERDICT 1 text",
      "Kestrune: KstCheck.exe ended with exit code 1",
  }));
}

TEST(UninstallFilter, OutcomeFollowsTheCheckAndNothingIsInstalled) {
  struct Case {
    Filter before;
    bool running;
    PackageOutcome outcome;
    Filter after;
  };
  const Case cases[] = {
      {Filter::kComplete, false, PackageOutcome::kSuccess, Filter::kAbsent},
      {Filter::kComplete, true, PackageOutcome::kRestartRequired, Filter::kRemovalPending},
      {Filter::kAbsent, false, PackageOutcome::kSuccess, Filter::kAbsent},
      {Filter::kPartial, false, PackageOutcome::kSuccess, Filter::kAbsent},
  };
  for (const Case& c : cases) {
    FakeHost host;
    host.filter = c.before;
    host.running = c.running;
    EXPECT_EQ(UninstallFilter(host, kFolder), c.outcome);
    EXPECT_EQ(host.runs, (Lines{"KstIns.exe /U /Q", "KstCheck.exe"}));
    EXPECT_EQ(host.filter, c.after);
  }
}

// Every run bounded: each program within its bound, no bound unlimited.
void ExpectBounded(const FakeHost& host) {
  for (size_t i = 0; i < host.runs.size(); ++i) {
    uint32_t bound = host.runs[i] == "KstCheck.exe" ? kCheckTimeoutMs : kProcedureTimeoutMs;
    EXPECT_EQ(host.timeouts[i], bound) << host.runs[i];
  }
  EXPECT_LE(kProcedureTimeoutMs, 10u * 60 * 1000);
  EXPECT_LE(kCheckTimeoutMs, 10u * 60 * 1000);
}

const Fault kEveryFault[] = {Fault::kNotStarted,     Fault::kHungHalfway,
                             Fault::kCrashHalfway,   Fault::kSaysOtherCode,
                             Fault::kExitsStrangely, Fault::kFloodsOutput,
                             Fault::kOtherExitCode};

// Runs `procedure` on a fake machine holding `filter`, loaded and not, once
// for each of its first `runs` program runs failing each way, and hands the
// host, the outcome and a description to `check`.
template <typename Check>
void SweepFaults(Filter filter, size_t runs, PackageOutcome (*procedure)(ActionHost&, const std::string&),
                 Check check) {
  for (bool running : {false, true}) {
    for (size_t run = 0; run < runs; ++run) {
      for (Fault fault : kEveryFault) {
        FakeHost host;
        host.filter = filter;
        host.running = running;
        host.faults[run] = fault;
        PackageOutcome outcome = procedure(host, kFolder);
        ExpectBounded(host);
        check(host, outcome, "run " + std::to_string(run) + " fault " + std::to_string(int(fault)));
      }
    }
  }
}

bool StartsWith(const std::string& text, const std::string& start) {
  return text.rfind(start, 0) == 0;
}

// Each run of the install failing each way: success is reported only when
// the machine really holds the complete filter, and a failure has tried to
// undo the install after its last attempt.
TEST(InstallFilter, EveryRunFailingEachWayNeverReportsAFalseSuccess) {
  SweepFaults(Filter::kAbsent, 4, InstallFilter,
              [](const FakeHost& host, PackageOutcome outcome, const std::string& what) {
    if (outcome == PackageOutcome::kFailure) {
      size_t undo = LastIndexOf(host.runs, "KstIns.exe /U /Q");
      ASSERT_NE(undo, SIZE_MAX) << what;
      EXPECT_GT(undo, LastIndexOf(host.runs, "KstIns.exe /I /Q")) << what;
      // The state after the undo is what the log ends with.
      EXPECT_TRUE(StartsWith(host.log.back(), "Kestrune: KstCheck.exe ended") ||
                  StartsWith(host.log.back(), "Kestrune: KstCheck.exe did not") ||
                  StartsWith(host.log.back(), "Kestrune: KstCheck.exe could not"))
          << what;
    } else {
      EXPECT_EQ(host.filter, Filter::kComplete) << what;
      EXPECT_EQ(outcome, host.running ? PackageOutcome::kSuccess : PackageOutcome::kRestartRequired)
          << what;
      EXPECT_EQ(LastIndexOf(host.runs, "KstIns.exe /U /Q"), SIZE_MAX) << what;
    }
  });
}

// The removal never installs, and a success stands for a filter removed or
// removed at the restart.
TEST(UninstallFilter, EveryRunFailingEachWayNeverReportsAFalseSuccess) {
  SweepFaults(Filter::kComplete, 2, UninstallFilter,
              [](const FakeHost& host, PackageOutcome outcome, const std::string& what) {
    EXPECT_EQ(LastIndexOf(host.runs, "KstIns.exe /I /Q"), SIZE_MAX) << what;
    if (outcome == PackageOutcome::kSuccess) {
      EXPECT_EQ(host.filter, Filter::kAbsent) << what;
    }
    if (outcome == PackageOutcome::kRestartRequired) {
      EXPECT_EQ(host.filter, Filter::kRemovalPending) << what;
    }
  });
}

TEST(InstallFilter, AFloodOfOutputKeepsTheVerdictAndStaysBounded) {
  FakeHost host;
  host.faults[1] = Fault::kFloodsOutput;
  EXPECT_EQ(InstallFilter(host, kFolder), PackageOutcome::kRestartRequired);
  size_t logged = 0;
  for (const std::string& line : host.log) logged += line.size();
  EXPECT_LT(logged, 2 * (kCheckOutputHead + kCheckOutputTail));
  EXPECT_NE(std::find(host.log.begin(), host.log.end(), "Kestrune: KstCheck.exe: VERDICT 3010 text"),
            host.log.end());
}

// A program that did not end or start is logged with its bound in seconds
// or the system's error.
TEST(InstallFilter, LogsHowEachProgramEndedWhenItDidNotEndByItself) {
  FakeHost host;
  host.faults[0] = Fault::kHungHalfway;
  host.faults[1] = Fault::kHungHalfway;
  host.faults[2] = Fault::kNotStarted;
  ASSERT_EQ(InstallFilter(host, kFolder), PackageOutcome::kFailure);
  for (const char* line : {"Kestrune: KstIns.exe did not end within 180 s and was stopped",
                           "Kestrune: KstCheck.exe did not end within 90 s and was stopped",
                           "Kestrune: KstIns.exe could not be started (system error 2)"}) {
    EXPECT_NE(std::find(host.log.begin(), host.log.end(), line), host.log.end()) << line;
  }
}

// The VERDICT line is the check's own word: an exit code that contradicts
// it confirms nothing, while a check whose lines were lost is judged by its
// exit code alone.
TEST(InstallFilter, TheExitCodeCountsOnlyWhereTheVerdictLineDoesNotContradictIt) {
  FakeHost contradicted;
  contradicted.running = true;
  contradicted.installBreaks = true;  // the check says 2, its exit code 0
  contradicted.faults[1] = Fault::kOtherExitCode;
  EXPECT_EQ(InstallFilter(contradicted, kFolder), PackageOutcome::kFailure);
  EXPECT_NE(std::find(contradicted.log.begin(), contradicted.log.end(),
                      "Kestrune: KstCheck.exe's exit code differs from its VERDICT line"),
            contradicted.log.end());

  FakeHost lost;
  lost.running = true;
  lost.faults[1] = Fault::kOutputLost;
  EXPECT_EQ(InstallFilter(lost, kFolder), PackageOutcome::kSuccess);
  EXPECT_EQ(lost.runs, (Lines{"KstIns.exe /I /Q", "KstCheck.exe"}));
}

TEST(ProgramFolderOf, AcceptsOnlyAFullPathThatCanNameTheProgram) {
  struct Case {
    std::string data, folder;
  };
  const std::string deep = "C:\\" + std::string(243, 'd');
  const Case cases[] = {
      {"C:\\Program Files\\Kestrune\\", "C:\\Program Files\\Kestrune\\"},
      {"C:\\Program Files\\Kestrune", "C:\\Program Files\\Kestrune\\"},
      {"d:\\x", "d:\\x\\"},
      {"Z:\\x", "Z:\\x\\"},
      {"z:\\", "z:\\"},
      {"[:\\x", ""},
      {"@:\\x", ""},
      {"\\\\server\\share\\Kestrune", "\\\\server\\share\\Kestrune\\"},
      {deep, deep + "\\"},  // 247 characters, KstCheck.exe and its terminator fit in 260
      {deep + "d", ""},
      {"", ""},
      {"Kestrune\\", ""},
      {"\\Kestrune\\", ""},
      {"\\\\\\x", ""},
      {"C:Kestrune\\", ""},
      {"1:\\x", ""},
      {"C:\\Kes\"trune\\", ""},
      {"C:\\Kes\ntrune\\", ""},
      {std::string("C:\\Kes\0trune\\", 13), ""},
  };
  for (const Case& c : cases) EXPECT_EQ(ProgramFolderOf(c.data), c.folder) << c.data;
}

}  // namespace
}  // namespace kst
