#pragma once
// The byte layouts that pass over the filter's control device: the 32-byte
// ScsiInfo entry, the entry count, and the 96-byte pass-through request that
// carries one INQUIRY command. All little-endian; no platform calls. The
// numbers are those of control_protocol.h, which the filter and the test
// client read as well.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "device/control_protocol.h"

namespace kst {

// One device the filter sees, as its 32-byte little-endian entry holds it.
struct ScsiInfo {
  uint32_t hbaNumber = 0;
  uint32_t pathId = 0;
  uint32_t targetId = 0;
  uint32_t lun = 0;
  uint32_t driveLetter = 0;            // n other than 0 and 255: drive 'A' + n
  std::array<uint8_t, KST_ADAPTER_NAME_SIZE> adapterName{};  // zero-padded, not terminated at 8
  uint32_t context = 0;
};

using InquiryData = std::array<uint8_t, KST_INQUIRY_DATA_SIZE>;
using ScsiInfoBytes = std::array<uint8_t, KST_SCSI_INFO_SIZE>;
using PassThroughRequest = std::array<uint8_t, KST_PT_REQUEST_SIZE>;

ScsiInfoBytes EncodeScsiInfo(const ScsiInfo& info);
// One entry from exactly KST_SCSI_INFO_SIZE bytes; nullopt for any other size.
std::optional<ScsiInfo> DecodeScsiInfo(const uint8_t* bytes, size_t size);
// The entries of an answer to the entries request, back to back; nullopt
// when `size` is not a whole number of entries. Zero bytes give no entries.
std::optional<std::vector<ScsiInfo>> DecodeScsiInfoEntries(const uint8_t* bytes, size_t size);
// The signed entry count of an answer to the count request: exactly 4 bytes.
std::optional<int32_t> DecodeScsiInfoCount(const uint8_t* bytes, size_t size);

// The zero-filled request for one INQUIRY of `entry`'s device, its data
// buffer given by the low 32 bits of its address.
PassThroughRequest EncodeInquiryRequest(const ScsiInfo& entry, uint32_t dataBufferAddress);

// What the device wrote back into a request.
struct PassThroughAnswer {
  uint8_t status = 0;
  uint8_t senseLength = 0;
  std::array<uint8_t, KST_SENSE_SIZE> sense{};
};
// Reads the answer fields of a request of exactly KST_PT_REQUEST_SIZE bytes.
std::optional<PassThroughAnswer> DecodePassThroughAnswer(const uint8_t* bytes, size_t size);

// The answer of a request that DeviceIoControl reported done is usable when
// its status is 0 or 0x12, and, with status 0 and a nonzero sense length,
// all sense bytes are zero.
bool AnswerAccepted(const PassThroughAnswer& answer);
// Not ready (0x02/0x04), or a unit attention for a not-ready-to-ready change
// (0x06/0x28) or a reset (0x06/0x29): sense bytes 2 and 12, whole bytes.
bool AsksToBePolled(const PassThroughAnswer& answer);
// Standard inquiry data of a removable CD/DVD (type 5) or write-once (type 4)
// device with peripheral qualifier 0 and byte 1 exactly 0x80.
bool IsRemovableOpticalDevice(const uint8_t* data, size_t size);

}  // namespace kst
