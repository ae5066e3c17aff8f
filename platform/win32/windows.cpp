#include "platform/win32/windows_api.h"

#include "platform/win32/adapters.h"

namespace kst::win32 {

WindowHandle Windows::Find(const char* className, const char* title) {
  return reinterpret_cast<WindowHandle>(::FindWindowA(className, title));
}

void Windows::DebugOutput(const char* text) { ::OutputDebugStringA(text); }

void Windows::SendCopyData(WindowHandle window, uint32_t dwData, uint32_t cbData,
                           const void* data) {
  COPYDATASTRUCT block;
  block.dwData = dwData;
  block.cbData = cbData;
  block.lpData = const_cast<void*>(data);
  ::SendMessageA(reinterpret_cast<HWND>(window), WM_COPYDATA, 0,
                 reinterpret_cast<LPARAM>(&block));
}

int MessageBoxes::Show(const std::string& text, const std::string& caption, uint32_t flags) {
  return ::MessageBoxA(::GetActiveWindow(), text.c_str(), caption.c_str(), flags);
}

}  // namespace kst::win32
