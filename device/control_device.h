#pragma once
// The control device of the running filter and the bytes that pass over it.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/platform.h"

namespace kst {

inline constexpr const char* kControlDevicePath = "\\\\.\\Kestrune";

inline constexpr uint32_t IOCTL_KESTRUNE_SCSI_PASS_THROUGH = 0x220020;
inline constexpr uint32_t IOCTL_KESTRUNE_INITIATE = 0x22002C;
inline constexpr uint32_t IOCTL_KESTRUNE_UNINITIATE = 0x220034;
inline constexpr uint32_t IOCTL_KESTRUNE_GET_SCSI_INFO = 0x220038;

inline constexpr size_t kScsiInfoSize = 32;
inline constexpr size_t kPassThroughRequestSize = 96;
inline constexpr size_t kInquiryDataSize = 36;
inline constexpr size_t kInquiryBufferSize = 255;

// One device the filter sees, as its 32-byte little-endian entry holds it.
struct ScsiInfo {
  uint32_t hbaNumber = 0;
  uint32_t pathId = 0;
  uint32_t targetId = 0;
  uint32_t lun = 0;
  uint32_t driveLetter = 0;            // n other than 0 and 255: drive 'A' + n
  std::array<uint8_t, 8> adapterName{};  // zero-padded, not terminated at 8
  uint32_t context = 0;
};

using InquiryData = std::array<uint8_t, kInquiryDataSize>;

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
