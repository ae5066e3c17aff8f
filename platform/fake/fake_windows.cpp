#include "platform/fake/fake_windows.h"

#include <algorithm>
#include <cstring>

#include "platform/fake/fake_platform.h"

namespace kst::fake {

WindowHandle FakeWindows::Open(const std::string& className, const std::string& title) {
  windows.push_back({next_, className, title});
  return next_++;
}

void FakeWindows::Close(WindowHandle window) {
  windows.erase(std::remove_if(windows.begin(), windows.end(),
                               [&](const FakeWindow& w) { return w.handle == window; }),
                windows.end());
}

WindowHandle FakeWindows::Find(const char* className, const char* title) {
  p_.Record("FindWindowA");
  ++lookups;
  if (beforeLookup) beforeLookup(lookups);
  for (const FakeWindow& w : windows) {
    bool classMatches = !NoCase()(w.className, className) && !NoCase()(className, w.className);
    if (classMatches && (title == nullptr || w.title == title)) return w.handle;
  }
  return 0;
}

void FakeWindows::DebugOutput(const char* text) {
  p_.Record("OutputDebugStringA");
  events.push_back({WindowEvent::kDebugOutput, 0, text, 0, 0, {}});
}

bool FakeWindows::SendCopyData(WindowHandle window, uint32_t dwData, uint32_t cbData,
                               const void* data, uint32_t timeoutMs) {
  p_.Record("SendMessageTimeoutA");
  sendTimeouts.push_back(timeoutMs);
  if (hung.count(window) != 0) {
    p_.sleep.ticks += timeoutMs;
    return false;
  }
  WindowEvent e{WindowEvent::kCopyData, window, {}, dwData, cbData, {}};
  const auto* b = static_cast<const uint8_t*>(data);
  e.block.assign(b, b + cbData);
  e.text.assign(reinterpret_cast<const char*>(b), strnlen(reinterpret_cast<const char*>(b), cbData));
  events.push_back(std::move(e));
  return true;
}

// ---- Message boxes --------------------------------------------------------------------

int FakeMessageBoxes::Show(const std::string& text, const std::string& caption, uint32_t flags) {
  p_.Record("MessageBoxA");
  shown.push_back({text, caption, flags});
  if (onShow) onShow(shown.back());
  if (answers.empty()) return (flags & win::kMbYesNo) ? defaultAnswer : win::kIdOk;
  int answer = answers.front();
  answers.pop_front();
  return answer;
}

}  // namespace kst::fake
