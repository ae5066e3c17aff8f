#include "diag/trace.h"

#include <gtest/gtest.h>

#include "platform/fake/fake_platform.h"

namespace kst {
namespace {

using fake::FakePlatform;
using fake::WindowEvent;

std::vector<WindowEvent::Kind> Kinds(const FakePlatform& fp) {
  std::vector<WindowEvent::Kind> kinds;
  for (const auto& e : fp.windows.events) kinds.push_back(e.kind);
  return kinds;
}

TEST(Trace, NoViewerCostsThreeLookupsAndWritesNothing) {
  // Windows that are no viewer count as none: a frame of another title, or
  // the trace window's title on another class.
  const std::vector<std::pair<std::string, std::string>> machines[] = {
      {}, {{"TMainFrame", "Other"}}, {{"Notepad", "TRACE Window"}}};
  for (const auto& windows : machines) {
    SCOPED_TRACE(windows.size());
    FakePlatform fp;
    for (const auto& [cls, title] : windows) fp.windows.Open(cls, title);
    Trace("hello");
    EXPECT_EQ(fp.windows.lookups, 3);
    EXPECT_TRUE(fp.windows.events.empty());
  }
}

// Which viewers are running, and which channels the line reaches.
struct ViewerCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> windows;  // class, title
  std::vector<WindowEvent::Kind> expected;
};

class TraceViewers : public ::testing::TestWithParam<ViewerCase> {};

TEST_P(TraceViewers, ReachesExactlyTheRunningViewers) {
  FakePlatform fp;
  for (const auto& [cls, title] : GetParam().windows) fp.windows.Open(cls, title);
  Trace("line");
  EXPECT_EQ(Kinds(fp), GetParam().expected);
  for (const auto& e : fp.windows.events) EXPECT_EQ(e.text, "line");
}

INSTANTIATE_TEST_SUITE_P(
    Windows, TraceViewers,
    ::testing::Values(
        ViewerCase{"DbgviewClass", {{"dbgviewClass", "any"}}, {WindowEvent::kDebugOutput}},
        ViewerCase{"DbgvclntOnly", {{"DBGVCLNT", ""}}, {WindowEvent::kDebugOutput}},
        ViewerCase{"TraceWindowOnly", {{"TMainFrame", "TRACE Window"}}, {WindowEvent::kCopyData}},
        ViewerCase{"BothDebugFirst",
                   {{"TMainFrame", "TRACE Window"}, {"DBGVCLNT", "x"}},
                   {WindowEvent::kDebugOutput, WindowEvent::kCopyData}},
        // A frame window with another title, or the title on another class, is no trace window.
        ViewerCase{"FrameWithOtherTitle", {{"TMainFrame", "Other"}}, {}},
        ViewerCase{"TitleOnOtherClass", {{"Notepad", "TRACE Window"}}, {}}),
    [](const auto& info) { return info.param.name; });

TEST(Trace, CopyDataBlockAlwaysCarries255BytesWithZeroAfterText) {
  // Lengths around the block's capacity: empty, short, exactly the piece length.
  for (size_t length : {size_t(0), size_t(1), size_t(253), size_t(254)}) {
    FakePlatform fp;
    fp.windows.Open("TMainFrame", "TRACE Window");
    std::string text(length, 'x');
    Trace(text);
    ASSERT_EQ(fp.windows.events.size(), 1u) << length;
    const WindowEvent& e = fp.windows.events[0];
    EXPECT_EQ(e.cbData, 255u);
    EXPECT_EQ(e.dwData, 0u);
    EXPECT_EQ(e.text, text);
    EXPECT_EQ(e.block[length], 0) << "terminating zero inside the block";
  }
}

TEST(Trace, LongLineReachesTraceWindowInOrderedPiecesAndDebugStreamWhole) {
  FakePlatform fp;
  fp.windows.Open("TMainFrame", "TRACE Window");
  fp.windows.Open("DBGVCLNT", "");
  std::string text;
  for (int i = 0; i < 600; ++i) text.push_back(char('a' + i % 26));
  Trace(text);
  ASSERT_EQ(fp.windows.events.size(), 4u);
  EXPECT_EQ(fp.windows.events[0].text, text);
  EXPECT_EQ(fp.windows.events[1].text, text.substr(0, 254));
  EXPECT_EQ(fp.windows.events[2].text, text.substr(254, 254));
  EXPECT_EQ(fp.windows.events[3].text, text.substr(508));
}

TEST(Trace, TextPassesUnchanged) {
  FakePlatform fp;
  fp.windows.Open("TMainFrame", "TRACE Window");
  fp.windows.Open("dbgviewClass", "");
  const std::string text = "Faile to create Kestrune service!\nError Code: 5 \xe4\xf6\r\n";
  Trace(text);
  ASSERT_EQ(fp.windows.events.size(), 2u);
  EXPECT_EQ(fp.windows.events[0].text, text);
  EXPECT_EQ(fp.windows.events[1].text, text);
}

TEST(Trace, WindowClosingBetweenLookupsReceivesNothing) {
  // The trace window goes away after each of the lookups of one line in turn.
  for (int closeAfter = 1; closeAfter <= 4; ++closeAfter) {
    FakePlatform fp;
    WindowHandle w = fp.windows.Open("TMainFrame", "TRACE Window");
    fp.windows.beforeLookup = [&](int n) {
      if (n == 2 + closeAfter) fp.windows.Close(w);  // lookups 1 and 2 look for debug viewers
    };
    Trace("x");
    bool sent = !fp.windows.events.empty();
    EXPECT_EQ(sent, closeAfter == 4) << closeAfter;
  }
}


// ---- A trace window that stops answering ---------------------------------------------

std::vector<std::string> CopyDataTexts(const FakePlatform& fp) {
  std::vector<std::string> texts;
  for (const auto& e : fp.windows.events)
    if (e.kind == WindowEvent::kCopyData) texts.push_back(e.text);
  return texts;
}

TEST(TraceChannel, LiveWindowGetsEveryPieceInOrderWithinTheTimeout) {
  FakePlatform fp;
  fp.windows.Open("TMainFrame", "TRACE Window");
  TraceChannel channel;
  std::string longLine(600, 'y');
  for (const std::string& line : {std::string("one"), longLine, std::string("two")})
    channel.Write(line);
  EXPECT_EQ(CopyDataTexts(fp), (std::vector<std::string>{"one", longLine.substr(0, 254),
                                                         longLine.substr(254, 254),
                                                         longLine.substr(508), "two"}));
  EXPECT_EQ(fp.windows.sendTimeouts, std::vector<uint32_t>(5, kTraceSendTimeoutMilliseconds));
}

// A window that hangs after `answered` blocks: the block that times out is the
// last one sent to it, whatever the line lengths; the debug stream keeps
// receiving every line whole.
struct HangCase {
  const char* name;
  std::vector<size_t> lengths;  // of the lines written
  int answered;                 // blocks the window takes before it hangs
  int sends;                    // sends attempted in all
};

class TraceHungWindow : public ::testing::TestWithParam<HangCase> {};

TEST_P(TraceHungWindow, IsGivenUpOnAfterOneTimeout) {
  const HangCase& c = GetParam();
  FakePlatform fp;
  WindowHandle viewer = fp.windows.Open("TMainFrame", "TRACE Window");
  fp.windows.Open("DBGVCLNT", "");
  fp.windows.beforeLookup = [&](int) {
    if (int(CopyDataTexts(fp).size()) >= c.answered) fp.windows.hung.insert(viewer);
  };
  TraceChannel channel;
  for (size_t length : c.lengths) channel.Write(std::string(length, 'z'));
  EXPECT_EQ(int(fp.windows.sendTimeouts.size()), c.sends);
  EXPECT_EQ(int(CopyDataTexts(fp).size()), c.sends - 1);
  EXPECT_EQ(fp.sleep.ticks, kTraceSendTimeoutMilliseconds) << "one timeout in the whole run";
  size_t debugLines = 0;
  for (const auto& e : fp.windows.events) debugLines += e.kind == WindowEvent::kDebugOutput;
  EXPECT_EQ(debugLines, c.lengths.size());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TraceHungWindow,
    ::testing::Values(HangCase{"HungFromTheStart", {5, 5, 5, 5}, 0, 1},
                      HangCase{"HungAfterTwoLines", {5, 5, 5, 5, 5}, 2, 3},
                      // The rest of a long line is not sent after its piece timed out.
                      HangCase{"HungInsideALongLine", {600, 5, 5}, 1, 2},
                      HangCase{"EmptyLinesToo", {0, 0, 0}, 1, 2}),
    [](const auto& info) { return info.param.name; });

TEST(TraceChannel, ANewTraceWindowIsServedAfterAHungOneWasGivenUpOn) {
  FakePlatform fp;
  WindowHandle hung = fp.windows.Open("TMainFrame", "TRACE Window");
  fp.windows.hung.insert(hung);
  TraceChannel channel;
  channel.Write("lost");
  channel.Write("skipped");
  fp.windows.Close(hung);
  WindowHandle fresh = fp.windows.Open("TMainFrame", "TRACE Window");
  channel.Write("seen");
  ASSERT_EQ(CopyDataTexts(fp), std::vector<std::string>{"seen"});
  EXPECT_EQ(fp.windows.events.back().window, fresh);
  EXPECT_EQ(fp.windows.sendTimeouts.size(), 2u);
}

}  // namespace
}  // namespace kst
