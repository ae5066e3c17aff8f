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

constexpr uint8_t kStatusAccepted = 0x12;

}  // namespace

ScsiInfoBytes EncodeScsiInfo(const ScsiInfo& info) {
  ScsiInfoBytes b{};
  PutLe32(&b[KST_SCSI_INFO_HBA], info.hbaNumber);
  PutLe32(&b[KST_SCSI_INFO_PATH_ID], info.pathId);
  PutLe32(&b[KST_SCSI_INFO_TARGET_ID], info.targetId);
  PutLe32(&b[KST_SCSI_INFO_LUN], info.lun);
  PutLe32(&b[KST_SCSI_INFO_DRIVE_LETTER], info.driveLetter);
  std::copy(info.adapterName.begin(), info.adapterName.end(), b.begin() + KST_SCSI_INFO_ADAPTER_NAME);
  PutLe32(&b[KST_SCSI_INFO_CONTEXT], info.context);
  return b;
}

std::optional<ScsiInfo> DecodeScsiInfo(const uint8_t* bytes, size_t size) {
  if (bytes == nullptr || size != KST_SCSI_INFO_SIZE) return std::nullopt;
  ScsiInfo info;
  info.hbaNumber = Le32(bytes + KST_SCSI_INFO_HBA);
  info.pathId = Le32(bytes + KST_SCSI_INFO_PATH_ID);
  info.targetId = Le32(bytes + KST_SCSI_INFO_TARGET_ID);
  info.lun = Le32(bytes + KST_SCSI_INFO_LUN);
  info.driveLetter = Le32(bytes + KST_SCSI_INFO_DRIVE_LETTER);
  const uint8_t* name = bytes + KST_SCSI_INFO_ADAPTER_NAME;
  std::copy(name, name + KST_ADAPTER_NAME_SIZE, info.adapterName.begin());
  info.context = Le32(bytes + KST_SCSI_INFO_CONTEXT);
  return info;
}

std::optional<std::vector<ScsiInfo>> DecodeScsiInfoEntries(const uint8_t* bytes, size_t size) {
  if (size % KST_SCSI_INFO_SIZE != 0 || (bytes == nullptr && size != 0)) return std::nullopt;
  std::vector<ScsiInfo> entries;
  entries.reserve(size / KST_SCSI_INFO_SIZE);
  for (size_t at = 0; at < size; at += KST_SCSI_INFO_SIZE) {
    entries.push_back(*DecodeScsiInfo(bytes + at, KST_SCSI_INFO_SIZE));
  }
  return entries;
}

std::optional<int32_t> DecodeScsiInfoCount(const uint8_t* bytes, size_t size) {
  if (bytes == nullptr || size != KST_SCSI_INFO_COUNT_SIZE) return std::nullopt;
  return static_cast<int32_t>(Le32(bytes));
}

PassThroughRequest EncodeInquiryRequest(const ScsiInfo& entry, uint32_t dataBufferAddress) {
  PassThroughRequest r{};
  PutLe32(&r[KST_PT_HBA], entry.hbaNumber);
  std::copy(entry.adapterName.begin(), entry.adapterName.end(), r.begin() + KST_PT_ADAPTER_NAME);
  PutLe32(&r[KST_PT_CONTEXT], entry.context);
  PutLe16(&r[KST_PT_BLOCK], KST_PT_BLOCK_SIZE);
  r[KST_PT_PATH_ID] = uint8_t(entry.pathId);
  r[KST_PT_TARGET_ID] = uint8_t(entry.targetId);
  r[KST_PT_LUN] = uint8_t(entry.lun);
  r[KST_PT_CDB_LENGTH] = KST_INQUIRY_CDB_LENGTH;
  r[KST_PT_SENSE_LENGTH] = KST_SENSE_SIZE;
  r[KST_PT_DATA_IN] = KST_INQUIRY_DATA_IN;
  PutLe32(&r[KST_PT_TRANSFER_LENGTH], KST_INQUIRY_TRANSFER_LENGTH);
  PutLe32(&r[KST_PT_TIME_OUT], KST_INQUIRY_TIME_OUT_SECONDS);
  PutLe32(&r[KST_PT_DATA_BUFFER], dataBufferAddress);
  PutLe32(&r[KST_PT_SENSE_OFFSET], KST_PT_SENSE - KST_PT_BLOCK);
  r[KST_PT_CDB] = KST_INQUIRY_OPERATION;
  r[KST_PT_CDB + 4] = KST_INQUIRY_TRANSFER_LENGTH;  // allocation length
  return r;
}

std::optional<PassThroughAnswer> DecodePassThroughAnswer(const uint8_t* bytes, size_t size) {
  if (bytes == nullptr || size != KST_PT_REQUEST_SIZE) return std::nullopt;
  PassThroughAnswer answer;
  answer.status = bytes[KST_PT_STATUS];
  answer.senseLength = bytes[KST_PT_SENSE_LENGTH];
  std::copy(bytes + KST_PT_SENSE, bytes + KST_PT_SENSE + KST_SENSE_SIZE, answer.sense.begin());
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
