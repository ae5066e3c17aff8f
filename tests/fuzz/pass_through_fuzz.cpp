// Judging a pass-through answer: arbitrary status and sense bytes, alone and
// as the answers of a device to one INQUIRY exchange.
//
// Input: an entry (32 bytes), then answers of 24 bytes each, taken in order
// by the exchange's requests: DeviceIoControl's result (bit 0), status,
// sense length, 18 sense bytes, inquiry byte 0, inquiry byte 1, and a seed
// for the remaining inquiry bytes. A request past the last answer fails.
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "device/control_device.h"
#include "device/scsi_layout.h"
#include "platform/fake/fake_platform.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/shared_fake.h"

namespace kst {
namespace {

struct Answer {
  bool done = false;
  std::array<uint8_t, KST_PT_REQUEST_SIZE> request{};  // as the device leaves it
  std::array<uint8_t, KST_INQUIRY_BUFFER_SIZE> data{};
};

Answer ReadAnswer(fuzz::Input& in) {
  Answer a;
  a.done = in.Byte() & 1;
  a.request[KST_PT_STATUS] = in.Byte();
  a.request[KST_PT_SENSE_LENGTH] = in.Byte();
  for (size_t i = 0; i < KST_SENSE_SIZE; ++i) a.request[KST_PT_SENSE + i] = in.Byte();
  a.data[0] = in.Byte();
  a.data[1] = in.Byte();
  uint8_t seed = in.Byte();
  for (size_t i = 2; i < a.data.size(); ++i) a.data[i] = uint8_t(seed + i);
  return a;
}

PassThroughAnswer Judged(const Answer& a) {
  return *DecodePassThroughAnswer(a.request.data(), a.request.size());
}

// The judgement of one answer, read from its bytes: status 0x12 always,
// status 0 with no sense returned or only zero sense bytes; polled again for
// not ready (02/04) and the unit attentions 06/28 and 06/29.
void CheckJudgement(const Answer& a) {
  const uint8_t* r = a.request.data();
  FUZZ_CHECK(!DecodePassThroughAnswer(r, KST_PT_REQUEST_SIZE - 1));
  FUZZ_CHECK(!DecodePassThroughAnswer(nullptr, KST_PT_REQUEST_SIZE));
  PassThroughAnswer j = Judged(a);
  uint8_t status = r[18], senseLength = r[23];
  const uint8_t* sense = r + 64;
  bool senseClear = std::all_of(sense, sense + 18, [](uint8_t b) { return b == 0; });
  FUZZ_CHECK(AnswerAccepted(j) == (status == 0x12 || (status == 0 && (senseLength == 0 || senseClear))));
  bool notReady = sense[2] == 0x02 && sense[12] == 0x04;
  bool attention = sense[2] == 0x06 && (sense[12] == 0x28 || sense[12] == 0x29);
  FUZZ_CHECK(AsksToBePolled(j) == (notReady || attention));
  bool optical = (a.data[0] == 0x05 || a.data[0] == 0x04) && a.data[1] == 0x80;
  FUZZ_CHECK(IsRemovableOpticalDevice(a.data.data(), a.data.size()) == optical);
  FUZZ_CHECK(!IsRemovableOpticalDevice(a.data.data(), 1));
}

bool Accepted(const Answer& a) { return a.done && AnswerAccepted(Judged(a)); }
bool Optical(const Answer& a) { return IsRemovableOpticalDevice(a.data.data(), a.data.size()); }
bool Polls(const Answer& a) { return AsksToBePolled(Judged(a)); }

// What the exchange should come to over `answers`: the number of requests,
// of waits, and the answer whose data it keeps (-1 for none).
struct Outcome {
  size_t requests = 0;
  size_t waits = 0;
  bool result = false;
  int kept = -1;
};

// The waits come out of one budget: a wait that does not fit in what is left
// is not made, and a device asking again once it is spent yields false.
Outcome Expected(const std::vector<Answer>& answers) {
  Outcome o;
  auto next = [&]() { return o.requests < answers.size() ? answers[o.requests++] : (++o.requests, Answer{}); };
  uint32_t waited = 0;
  bool spent = false;
  auto wait = [&](bool asks) {
    if (!asks) return;
    spent = spent || waited + kPollWaitMilliseconds > kInquiryBudgetMilliseconds;
    if (!spent) ++o.waits, waited += kPollWaitMilliseconds;
  };
  for (int pass = 0; pass < kMaxInquiryPasses; ++pass) {
    size_t firstIndex = o.requests;
    Answer first = next();
    bool poll = first.done && Polls(first);
    wait(poll);
    int used = Accepted(first) ? int(firstIndex) : -1;
    if (used < 0) {
      size_t secondIndex = o.requests;
      Answer second = next();
      wait(Polls(second));
      poll = poll || Polls(second);
      if (Accepted(second)) used = int(secondIndex);
    }
    o.result = used >= 0 && Optical(used < int(answers.size()) ? answers[used] : Answer{});
    if (o.result) o.kept = used;
    if (!poll) return o;
    if (spent || waited >= kInquiryBudgetMilliseconds) break;
  }
  o.result = false;
  return o;
}

void CheckExchange(const ScsiInfo& entry, const std::vector<Answer>& answers) {
  fake::FakePlatform& fp = fuzz::Fresh();
  std::vector<PassThroughRequest> sent;
  fp.devices.devices[KST_CONTROL_DEVICE_PATH] = [&](uint32_t code, const uint8_t* in, uint32_t inSize,
                                               uint8_t* out, uint32_t outSize, uint8_t* data,
                                               uint32_t dataSize) {
    FUZZ_CHECK(code == IOCTL_KESTRUNE_SCSI_PASS_THROUGH && in == out);
    FUZZ_CHECK(inSize == KST_PT_REQUEST_SIZE && outSize == KST_PT_REQUEST_SIZE);
    FUZZ_CHECK(data && dataSize == KST_INQUIRY_BUFFER_SIZE);
    FUZZ_CHECK(std::all_of(data, data + dataSize, [](uint8_t b) { return b == 0; }));
    PassThroughRequest request;
    std::copy(in, in + KST_PT_REQUEST_SIZE, request.begin());
    uint32_t address = uint32_t(reinterpret_cast<uintptr_t>(data));
    FUZZ_CHECK(request == EncodeInquiryRequest(entry, address));
    size_t index = sent.size();
    sent.push_back(request);
    if (index >= answers.size()) return 0;
    // A broken device writes its fields whether or not the call succeeds.
    const Answer& a = answers[index];
    out[KST_PT_STATUS] = a.request[KST_PT_STATUS];
    out[KST_PT_SENSE_LENGTH] = a.request[KST_PT_SENSE_LENGTH];
    std::memcpy(out + KST_PT_SENSE, &a.request[KST_PT_SENSE], KST_SENSE_SIZE);
    std::memcpy(data, a.data.data(), dataSize);
    return a.done ? 1 : 0;
  };
  InquiryData inquiry;
  inquiry.fill(0xCC);
  bool result = InquireScsiDevice(entry, inquiry);

  Outcome expected = Expected(answers);
  FUZZ_CHECK(sent.size() <= 2 * size_t(kMaxInquiryPasses));
  FUZZ_CHECK(sent.size() == expected.requests);
  FUZZ_CHECK(fp.sleep.sleeps.size() == expected.waits);
  FUZZ_CHECK(std::all_of(fp.sleep.sleeps.begin(), fp.sleep.sleeps.end(),
                         [](uint32_t ms) { return ms == kPollWaitMilliseconds; }));
  FUZZ_CHECK(result == expected.result);
  if (result) {
    FUZZ_CHECK(std::equal(inquiry.begin(), inquiry.end(), answers[expected.kept].data.begin()));
  } else {
    // Zeros, or the data of an earlier pass that was accepted before the device asked again.
    bool zero = std::all_of(inquiry.begin(), inquiry.end(), [](uint8_t b) { return b == 0; });
    bool earlier = false;
    for (size_t i = 0; i < std::min(sent.size(), answers.size()); ++i)
      earlier = earlier || (Accepted(answers[i]) && Optical(answers[i]) &&
                            std::equal(inquiry.begin(), inquiry.end(), answers[i].data.begin()));
    FUZZ_CHECK(zero || earlier);
  }
  FUZZ_CHECK(fp.devices.openHandles == 0 && fp.devices.opens == 1);
}

}  // namespace
}  // namespace kst

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kst::fuzz::Input in(data, size);
  std::vector<uint8_t> entryBytes = in.Bytes(KST_SCSI_INFO_SIZE);
  entryBytes.resize(KST_SCSI_INFO_SIZE, 0);
  kst::ScsiInfo entry = *kst::DecodeScsiInfo(entryBytes.data(), entryBytes.size());
  std::vector<kst::Answer> answers;
  while (in.Remaining() > 0 && answers.size() < 2 * size_t(kst::kMaxInquiryPasses) + 1)
    answers.push_back(kst::ReadAnswer(in));
  for (const kst::Answer& a : answers) kst::CheckJudgement(a);
  kst::CheckExchange(entry, answers);
  return 0;
}
