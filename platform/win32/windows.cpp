#include "platform/win32/windows_api.h"

#include "platform/win32/adapters.h"

#include <vector>

namespace kst::win32 {

namespace {

// The program's visible, enabled top-level windows while a box is up: the
// owner of the box and the others, which stay disabled until it is answered.
struct TaskWindows {
  HWND owner = nullptr;
  std::vector<HWND> others;
};

BOOL CALLBACK CollectTaskWindow(HWND window, LPARAM param) {
  auto& task = *reinterpret_cast<TaskWindows*>(param);
  if (!::IsWindowVisible(window) || !::IsWindowEnabled(window)) return TRUE;
  if (!task.owner) {
    task.owner = window;
  } else if (window != task.owner) {
    task.others.push_back(window);
  }
  return TRUE;
}

}  // namespace

WindowHandle Windows::Find(const char* className, const char* title) {
  return reinterpret_cast<WindowHandle>(::FindWindowA(className, title));
}

void Windows::DebugOutput(const char* text) { ::OutputDebugStringA(text); }

bool Windows::SendCopyData(WindowHandle window, uint32_t dwData, uint32_t cbData,
                           const void* data, uint32_t timeoutMs) {
  COPYDATASTRUCT block;
  block.dwData = dwData;
  block.cbData = cbData;
  block.lpData = const_cast<void*>(data);
  DWORD_PTR result = 0;
  return ::SendMessageTimeoutA(reinterpret_cast<HWND>(window), WM_COPYDATA, 0,
                               reinterpret_cast<LPARAM>(&block), SMTO_ABORTIFHUNG, timeoutMs,
                               &result) != 0;
}

// Modal for the whole program, as the application's own boxes are: owned by
// the active window, or by the program's first window when another program
// has the focus, and every other window of the program is disabled until the
// answer, so no button of the main window can start a second procedure while
// the first one waits. Without windows (command-line mode) it has no owner.
// The owner is left to MessageBoxA to disable and enable again: a window
// still disabled when the box closes would send the focus to another program.
int MessageBoxes::Show(const std::string& text, const std::string& caption, uint32_t flags) {
  TaskWindows task;
  task.owner = ::GetActiveWindow();
  ::EnumThreadWindows(::GetCurrentThreadId(), CollectTaskWindow,
                      reinterpret_cast<LPARAM>(&task));
  for (HWND window : task.others) ::EnableWindow(window, FALSE);
  int answer = ::MessageBoxA(task.owner, text.c_str(), caption.c_str(), flags);
  for (HWND window : task.others) ::EnableWindow(window, TRUE);
  return answer;
}

}  // namespace kst::win32
