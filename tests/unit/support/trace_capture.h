#pragma once
// Captures the trace lines a test's code writes: opens a fake debug viewer
// window, so every line reaches the fake debug-output stream whole, and
// reads them back.
#include <string>
#include <vector>

#include "platform/fake/fake_platform.h"

namespace kst::test {

class TraceCapture {
 public:
  explicit TraceCapture(fake::FakePlatform& fp) : fp_(fp) {
    fp.windows.Open("DBGVCLNT", "Debug viewer");
  }

  // Lines written so far, in order.
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    for (const auto& e : fp_.windows.events) {
      if (e.kind == fake::WindowEvent::kDebugOutput) lines.push_back(e.text);
    }
    return lines;
  }

  void Clear() { fp_.windows.events.clear(); }

 private:
  fake::FakePlatform& fp_;
};

}  // namespace kst::test
