#pragma once
// The fake windows and message boxes: the windows a search finds, the
// messages sent to them, and the boxes shown with their answers.
#include <cstdint>
#include <deque>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/fake/fake_base.h"
#include "platform/platform.h"

namespace kst::fake {

struct FakeWindow {
  WindowHandle handle = 0;
  std::string className;
  std::string title;
};

struct WindowEvent {
  enum Kind { kDebugOutput, kCopyData } kind;
  WindowHandle window = 0;
  std::string text;              // debug text, or the block's bytes up to their first zero
  uint32_t dwData = 0;
  uint32_t cbData = 0;
  std::vector<uint8_t> block;    // the cbData bytes sent
};

class FakeWindows : public IWindows {
 public:
  explicit FakeWindows(FakePlatform& p) : p_(p) {}
  WindowHandle Find(const char* className, const char* title) override;
  void DebugOutput(const char* text) override;
  // Records the block unless the receiver is in `hung`: then nothing is
  // delivered, the clock moves on by the timeout and the send fails.
  bool SendCopyData(WindowHandle window, uint32_t dwData, uint32_t cbData, const void* data,
                    uint32_t timeoutMs) override;

  WindowHandle Open(const std::string& className, const std::string& title);
  void Close(WindowHandle window);

  std::vector<FakeWindow> windows;
  std::vector<WindowEvent> events;
  std::set<WindowHandle> hung;        // their threads take no messages
  std::vector<uint32_t> sendTimeouts;  // the timeout of every copy-data send
  int lookups = 0;
  // Runs before each lookup with its number (1-based), so a test can make
  // windows come and go between the lookups of one call.
  std::function<void(int lookup)> beforeLookup;

 private:
  FakePlatform& p_;
  WindowHandle next_ = 0x100;
};

struct ShownBox {
  std::string text;
  std::string caption;
  uint32_t flags = 0;
};

class FakeMessageBoxes : public IMessageBoxes {
 public:
  explicit FakeMessageBoxes(FakePlatform& p) : p_(p) {}
  int Show(const std::string& text, const std::string& caption, uint32_t flags) override;

  std::vector<ShownBox> shown;
  std::deque<int> answers;     // taken in order; when empty, defaultAnswer
  int defaultAnswer = win::kIdNo;
  // Runs for each box once it is recorded, before it is answered; a test may
  // throw from it to make the box fail.
  std::function<void(const ShownBox&)> onShow;

 private:
  FakePlatform& p_;
};

}  // namespace kst::fake
