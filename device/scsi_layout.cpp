#include "device/scsi_layout.h"

#include <algorithm>

namespace kst {
namespace {

uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

void PutLe16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}

constexpr uint8_t kInquiryCommand = 0x12;
constexpr uint8_t kStatusAccepted = 0x12;
constexpr uint8_t kBlockSize = 44;     // 32-bit SCSI_PASS_THROUGH_DIRECT
constexpr uint8_t kCdbSize = 6;
constexpr uint8_t kDataInDirection = 1;
constexpr uint32_t kTransferSize = 254;
constexpr uint32_t kTimeOutSeconds = 300;
constexpr uint32_t kSenseFromBlock = 48;  // block starts at 16: sense at 64

}  // namespace

ScsiInfoBytes EncodeScsiInfo(const ScsiInfo& info) {
  ScsiInfoBytes b{};
  PutLe32(&b[0], info.hbaNumber);
  PutLe32(&b[4], info.pathId);
  PutLe32(&b[8], info.targetId);
  PutLe32(&b[12], info.lun);
  PutLe32(&b[16], info.driveLetter);
  std::copy(info.adapterName.begin(), info.adapterName.end(), b.begin() + 20);
  PutLe32(&b[28], info.context);
  return b;
}

std::optional<ScsiInfo> DecodeScsiInfo(const uint8_t* bytes, size_t size) {
  if (bytes == nullptr || size != kScsiInfoSize) return std::nullopt;
  ScsiInfo info;
  info.hbaNumber = Le32(bytes);
  info.pathId = Le32(bytes + 4);
  info.targetId = Le32(bytes + 8);
  info.lun = Le32(bytes + 12);
  info.driveLetter = Le32(bytes + 16);
  std::copy(bytes + 20, bytes + 28, info.adapterName.begin());
  info.context = Le32(bytes + 28);
  return info;
}

std::optional<std::vector<ScsiInfo>> DecodeScsiInfoEntries(const uint8_t* bytes, size_t size) {
  if (size % kScsiInfoSize != 0 || (bytes == nullptr && size != 0)) return std::nullopt;
  std::vector<ScsiInfo> entries;
  entries.reserve(size / kScsiInfoSize);
  for (size_t at = 0; at < size; at += kScsiInfoSize) {
    entries.push_back(*DecodeScsiInfo(bytes + at, kScsiInfoSize));
  }
  return entries;
}

std::optional<int32_t> DecodeScsiInfoCount(const uint8_t* bytes, size_t size) {
  if (bytes == nullptr || size != 4) return std::nullopt;
  return static_cast<int32_t>(Le32(bytes));
}

PassThroughRequest EncodeInquiryRequest(const ScsiInfo& entry, uint32_t dataBufferAddress) {
  using namespace passthrough;
  PassThroughRequest r{};
  PutLe32(&r[kHbaNumber], entry.hbaNumber);
  std::copy(entry.adapterName.begin(), entry.adapterName.end(), r.begin() + kAdapterName);
  PutLe32(&r[kContext], entry.context);
  PutLe16(&r[kBlockLength], kBlockSize);
  r[kPathId] = uint8_t(entry.pathId);
  r[kTargetId] = uint8_t(entry.targetId);
  r[kLun] = uint8_t(entry.lun);
  r[kCdbLength] = kCdbSize;
  r[kSenseLength] = kSenseSize;
  r[kDataIn] = kDataInDirection;
  PutLe32(&r[kTransferLength], kTransferSize);
  PutLe32(&r[kTimeOut], kTimeOutSeconds);
  PutLe32(&r[kDataBuffer], dataBufferAddress);
  PutLe32(&r[kSenseOffset], kSenseFromBlock);
  r[kCdb] = kInquiryCommand;
  r[kCdb + 4] = uint8_t(kTransferSize);
  return r;
}

std::optional<PassThroughAnswer> DecodePassThroughAnswer(const uint8_t* bytes, size_t size) {
  using namespace passthrough;
  if (bytes == nullptr || size != kPassThroughRequestSize) return std::nullopt;
  PassThroughAnswer answer;
  answer.status = bytes[kStatus];
  answer.senseLength = bytes[kSenseLength];
  std::copy(bytes + kSense, bytes + kSense + kSenseSize, answer.sense.begin());
  return answer;
}

bool AnswerAccepted(const PassThroughAnswer& answer) {
  if (answer.status == kStatusAccepted) return true;
  if (answer.status != 0) return false;
  if (answer.senseLength == 0) return true;
  return std::all_of(answer.sense.begin(), answer.sense.end(), [](uint8_t b) { return b == 0; });
}

bool AsksToBePolled(const PassThroughAnswer& answer) {
  uint8_t key = answer.sense[2];
  uint8_t code = answer.sense[12];
  return (key == 0x02 && code == 0x04) || (key == 0x06 && (code == 0x28 || code == 0x29));
}

bool IsRemovableOpticalDevice(const uint8_t* data, size_t size) {
  if (data == nullptr || size < 2) return false;
  return (data[0] == 0x05 || data[0] == 0x04) && data[1] == 0x80;
}

}  // namespace kst
