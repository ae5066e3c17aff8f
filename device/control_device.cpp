#include "device/control_device.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "device/scsi_layout.h"
#include "diag/error_text.h"
#include "diag/no_throw.h"
#include "diag/trace.h"

namespace kst {
namespace {

constexpr const char* kUninitiateFailed = "Failed to Unconditioned Uninitiate device!\n";

// One pass-through attempt and what came of it.
struct Attempt {
  bool sent = false;      // DeviceIoControl reported success
  bool accepted = false;  // sent, and the answer is usable
  bool pollAgain = false;
};

// Sends one INQUIRY with `data` (zeroed first) as its data buffer.
Attempt SendInquiry(IDevice& device, const ScsiInfo& entry, std::vector<uint8_t>& data) {
  std::fill(data.begin(), data.end(), 0);
  // The field holds a 32-bit address; on a 64-bit build only its low half fits.
  auto address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(data.data()));
  PassThroughRequest request = EncodeInquiryRequest(entry, address);
  Attempt attempt;
  attempt.sent = device.Control(IOCTL_KESTRUNE_SCSI_PASS_THROUGH, request.data(),
                                uint32_t(request.size()), request.data(),
                                uint32_t(request.size()), data.data(),
                                uint32_t(data.size())) != 0;
  PassThroughAnswer answer = *DecodePassThroughAnswer(request.data(), request.size());
  attempt.accepted = attempt.sent && AnswerAccepted(answer);
  attempt.pollAgain = AsksToBePolled(answer);
  return attempt;
}

// Waits when `asks` and reports whether a new pass is due.
bool WaitIfPolled(bool asks) {
  if (asks) Sys().sleep.Sleep(kPollWaitMilliseconds);
  return asks;
}

// One pass: the first attempt and, when it was not accepted, the second.
// Returns the pass's result; `pollAgain` tells whether another pass is due.
bool InquiryPass(IDevice& device, const ScsiInfo& entry, std::vector<uint8_t>& first,
                 std::vector<uint8_t>& second, InquiryData& inquiry, bool& pollAgain) {
  Attempt a = SendInquiry(device, entry, first);
  pollAgain = WaitIfPolled(a.sent && a.pollAgain);
  const std::vector<uint8_t>* data = a.accepted ? &first : nullptr;
  if (!a.accepted) {
    second.resize(kInquiryBufferSize);
    Attempt b = SendInquiry(device, entry, second);
    pollAgain = WaitIfPolled(b.pollAgain) || pollAgain;
    if (b.accepted) data = &second;
  }
  if (data == nullptr || !IsRemovableOpticalDevice(data->data(), data->size())) return false;
  std::copy(data->begin(), data->begin() + kInquiryDataSize, inquiry.begin());
  return true;
}

}  // namespace

std::unique_ptr<IDevice> OpenControlDevice() {
  return Sys().devices.Open(kControlDevicePath, win::kGenericRead | win::kGenericWrite,
                            win::kFileShareRead | win::kFileShareWrite, win::kOpenExisting);
}

bool InquireScsiDevice(const ScsiInfo& entry, InquiryData& inquiry) {
  inquiry.fill(0);
  std::unique_ptr<IDevice> device = OpenControlDevice();
  if (!device) return false;
  std::vector<uint8_t> first(kInquiryBufferSize);
  std::vector<uint8_t> second;
  for (int pass = 0; pass < kMaxInquiryPasses; ++pass) {
    bool pollAgain = false;
    bool result = InquiryPass(*device, entry, first, second, inquiry, pollAgain);
    if (!pollAgain) return result;
  }
  return false;  // still asking to be polled after the last pass
}

bool UninitiateDevice() {
  // Only a failure raises (building its trace text ran out of memory), so
  // false is the outcome then as well.
  return NoThrow(
      [] {
        std::unique_ptr<IDevice> device = OpenControlDevice();
        bool done = device && device->Control(IOCTL_KESTRUNE_UNINITIATE, nullptr, 0, nullptr, 0) != 0;
        if (!done) Trace(kUninitiateFailed + LastErrorText());
        return done;
      },
      false);
}

}  // namespace kst
