#pragma once
// The control device of the running filter and the exchanges over it; the
// bytes of each request are in scsi_layout.h.
#include <cstdint>
#include <memory>

#include "device/scsi_layout.h"
#include "platform/platform.h"

namespace kst {

// Opens the control device with the mode the filter expects: read and write
// access, shared for reading and writing, an existing object. Null when the
// filter is not running or not reachable; the open is never retried.
std::unique_ptr<IDevice> OpenControlDevice();

// The most passes one InquireScsiDevice makes for a device that keeps asking
// to be polled again; after the last such pass the exchange yields false.
inline constexpr int kMaxInquiryPasses = 10;
// The wait before a device that asked to be polled is asked again.
inline constexpr uint32_t kPollWaitMilliseconds = 500;

// The time the inquiries of one status display may take in all.
inline constexpr uint32_t kInquiryBudgetMilliseconds = 5000;

// Time the device inquiries may use, counted from the budget's creation on
// the millisecond clock: the waits for devices that ask to be polled and the
// devices' own answer time alike. Each wait is also counted by its length,
// so the waits stay within the budget whatever the clock reports.
class InquiryBudget {
 public:
  explicit InquiryBudget(uint32_t milliseconds = kInquiryBudgetMilliseconds);
  // True once the time is used up, or once a wait did not fit in what was left.
  bool Spent();
  // Sleeps `milliseconds` when the wait fits in what is left and returns
  // true; otherwise returns false at once and the budget is spent.
  bool Wait(uint32_t milliseconds);

 private:
  uint32_t Used();

  uint32_t start_;
  uint32_t limit_;
  uint32_t waited_ = 0;
  bool spent_ = false;
};

// Sends one INQUIRY to `entry`'s device through the filter. True when it
// answered and is a removable CD/DVD or write-once device; `inquiry` then
// holds its first 36 bytes of inquiry data, else zeros (or the data of an
// earlier accepted pass of the same exchange). The waits between passes
// come out of `budget`; a device still asking to be polled when the budget
// has no room for the wait yields false.
bool InquireScsiDevice(const ScsiInfo& entry, InquiryData& inquiry, InquiryBudget& budget);
// The same with a budget of its own.
bool InquireScsiDevice(const ScsiInfo& entry, InquiryData& inquiry);

// Sends the uninitiate request on a handle of its own; failures are traced.
bool UninitiateDevice();

}  // namespace kst
