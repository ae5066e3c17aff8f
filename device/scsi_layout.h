#pragma once
// The byte layouts that pass over the filter's control device: the 32-byte
// ScsiInfo entry, the entry count, and the 96-byte pass-through request that
// carries one INQUIRY command. All little-endian; no platform calls.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "device/control_device.h"

namespace kst {

using ScsiInfoBytes = std::array<uint8_t, kScsiInfoSize>;
using PassThroughRequest = std::array<uint8_t, kPassThroughRequestSize>;

// Offsets inside the pass-through request.
namespace passthrough {
inline constexpr size_t kHbaNumber = 0;
inline constexpr size_t kAdapterName = 4;
inline constexpr size_t kContext = 12;
inline constexpr size_t kBlockLength = 16;
inline constexpr size_t kStatus = 18;
inline constexpr size_t kPathId = 19;
inline constexpr size_t kTargetId = 20;
inline constexpr size_t kLun = 21;
inline constexpr size_t kCdbLength = 22;
inline constexpr size_t kSenseLength = 23;
inline constexpr size_t kDataIn = 24;
inline constexpr size_t kTransferLength = 28;
inline constexpr size_t kTimeOut = 32;
inline constexpr size_t kDataBuffer = 36;
inline constexpr size_t kSenseOffset = 40;
inline constexpr size_t kCdb = 44;
inline constexpr size_t kSense = 64;
inline constexpr size_t kSenseSize = 18;
}  // namespace passthrough

ScsiInfoBytes EncodeScsiInfo(const ScsiInfo& info);
// One entry from exactly kScsiInfoSize bytes; nullopt for any other size.
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
  std::array<uint8_t, passthrough::kSenseSize> sense{};
};
// Reads the answer fields of a request of exactly kPassThroughRequestSize bytes.
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
