#include "diag/trace.h"

#include <algorithm>
#include <cstring>

namespace kst {
namespace {

constexpr const char* kTraceWindowClass = "TMainFrame";
constexpr const char* kTraceWindowTitle = "TRACE Window";
constexpr uint32_t kCopyDataBytes = 255;
constexpr size_t kCopyBufferSize = 256;

bool DebugViewerRunning(IWindows& windows) {
  return windows.Find("dbgviewClass", nullptr) != 0 || windows.Find("DBGVCLNT", nullptr) != 0;
}

bool TraceWindowRunning(IWindows& windows) {
  return windows.Find(kTraceWindowClass, kTraceWindowTitle) != 0;
}

}  // namespace

// Sends one piece of at most kTracePieceLength characters to the trace
// window, looking it up again after the copy and right before the send, so a
// window that closes meanwhile gets nothing. Returns false when it is gone,
// given up on, or does not take the block in time.
bool TraceChannel::SendPiece(IWindows& windows, const char* piece, size_t length) {
  char buffer[kCopyBufferSize] = {};
  std::memcpy(buffer, piece, length);
  if (!TraceWindowRunning(windows)) return false;
  WindowHandle target = windows.Find(kTraceWindowClass, kTraceWindowTitle);
  if (target == 0 || target == abandoned_) return false;
  if (windows.SendCopyData(target, 0, kCopyDataBytes, buffer, kTraceSendTimeoutMilliseconds))
    return true;
  abandoned_ = target;
  return false;
}

void TraceChannel::Write(const std::string& text) {
  IWindows& windows = Sys().windows;
  if (DebugViewerRunning(windows)) windows.DebugOutput(text.c_str());

  if (!TraceWindowRunning(windows)) return;
  // A line longer than one block goes out as consecutive pieces, so the
  // trace window loses nothing; an empty line is one empty block.
  size_t offset = 0;
  do {
    size_t length = std::min(kTracePieceLength, text.size() - offset);
    if (!SendPiece(windows, text.data() + offset, length)) return;
    offset += length;
  } while (offset < text.size());
}

void Trace(const std::string& text) {
  static TraceChannel channel;
  channel.Write(text);
}

}  // namespace kst
