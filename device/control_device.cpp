#include "device/control_device.h"

#include <algorithm>
#include <cstring>
#include <vector>

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

// Waits, as far as the budget allows, when the device `asks` to be polled;
// reports whether it asked.
bool WaitIfPolled(bool asks, InquiryBudget& budget) {
  if (asks) budget.Wait(kPollWaitMilliseconds);
  return asks;
}

// One pass: the first attempt and, when it was not accepted, the second.
// Returns the pass's result; `pollAgain` tells whether the device asked for
// another pass.
bool InquiryPass(IDevice& device, const ScsiInfo& entry, std::vector<uint8_t>& first,
                 std::vector<uint8_t>& second, InquiryData& inquiry, InquiryBudget& budget,
                 bool& pollAgain) {
  Attempt a = SendInquiry(device, entry, first);
  pollAgain = WaitIfPolled(a.sent && a.pollAgain, budget);
  const std::vector<uint8_t>* data = a.accepted ? &first : nullptr;
  if (!a.accepted) {
    second.resize(KST_INQUIRY_BUFFER_SIZE);
    Attempt b = SendInquiry(device, entry, second);
    pollAgain = WaitIfPolled(b.pollAgain, budget) || pollAgain;
    if (b.accepted) data = &second;
  }
  if (data == nullptr || !IsRemovableOpticalDevice(data->data(), data->size())) return false;
  std::copy(data->begin(), data->begin() + KST_INQUIRY_DATA_SIZE, inquiry.begin());
  return true;
}

}  // namespace

std::unique_ptr<IDevice> OpenControlDevice() {
  return Sys().devices.Open(KST_CONTROL_DEVICE_PATH, win::kGenericRead | win::kGenericWrite,
                            win::kFileShareRead | win::kFileShareWrite, win::kOpenExisting);
}

InquiryBudget::InquiryBudget(uint32_t milliseconds)
    : start_(Sys().sleep.TickCount()), limit_(milliseconds) {}

// Unsigned difference: right across the clock's wrap at 2^32.
uint32_t InquiryBudget::Used() { return std::max(Sys().sleep.TickCount() - start_, waited_); }

bool InquiryBudget::Spent() {
  if (!spent_ && Used() >= limit_) spent_ = true;
  return spent_;
}

bool InquiryBudget::Wait(uint32_t milliseconds) {
  uint32_t used = Used();
  if (spent_ || used >= limit_ || milliseconds > limit_ - used) {
    spent_ = true;
    return false;
  }
  Sys().sleep.Sleep(milliseconds);
  waited_ += milliseconds;
  return true;
}

bool InquireScsiDevice(const ScsiInfo& entry, InquiryData& inquiry, InquiryBudget& budget) {
  inquiry.fill(0);
  std::unique_ptr<IDevice> device = OpenControlDevice();
  if (!device) return false;
  std::vector<uint8_t> first(KST_INQUIRY_BUFFER_SIZE);
  std::vector<uint8_t> second;
  for (int pass = 0; pass < kMaxInquiryPasses; ++pass) {
    bool pollAgain = false;
    bool result = InquiryPass(*device, entry, first, second, inquiry, budget, pollAgain);
    if (!pollAgain) return result;
    if (budget.Spent()) return false;  // asking to be polled, with no time left to wait
  }
  return false;  // still asking to be polled after the last pass
}

bool InquireScsiDevice(const ScsiInfo& entry, InquiryData& inquiry) {
  InquiryBudget budget;
  return InquireScsiDevice(entry, inquiry, budget);
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
