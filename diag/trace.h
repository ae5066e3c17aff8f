#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace kst {

// Writes one trace line to whichever external viewers run at this moment:
// the debug-output stream while a debug viewer window exists, and a
// WM_COPYDATA block to the "TRACE Window". Viewers are looked up anew for
// every line; with none running the line costs three window lookups and
// nothing else. Never fails and reports nothing, and waits for any one
// trace window at most kTraceSendTimeoutMilliseconds beyond the time it
// takes to handle the blocks it does take.
void Trace(const std::string& text);

// The longest piece of a line that one copy-data block carries whole: the
// block holds 255 bytes and the piece needs its terminating zero inside it.
constexpr size_t kTracePieceLength = 254;

// How long one block may wait for the trace window's thread to handle it.
constexpr uint32_t kTraceSendTimeoutMilliseconds = 3000;

// The channel behind Trace. Its one piece of state is the trace window that
// let a block time out: that window receives nothing more from this channel.
// Without it, a viewer that stopped answering would hold every further line
// for the full timeout, and a procedure writes dozens of lines; a viewer
// that merely paused loses the rest of the run's lines, which is the lesser
// harm for a channel that must never hold up the operation it reports on.
class TraceChannel {
 public:
  void Write(const std::string& text);

 private:
  bool SendPiece(IWindows& windows, const char* piece, size_t length);

  WindowHandle abandoned_ = 0;
};

}  // namespace kst
