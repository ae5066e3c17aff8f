#include "platform/win32/windows_api.h"

#include "platform/win32/adapters.h"

namespace kst::win32 {

void Sleeper::Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

uint32_t Sleeper::TickCount() { return ::GetTickCount(); }

}  // namespace kst::win32
