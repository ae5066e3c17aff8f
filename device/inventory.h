#pragma once
// The devices the running filter reports, numbered and inquired once per run.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "device/scsi_layout.h"

namespace kst {

// The drive letter value of a record whose device has no letter.
inline constexpr uint8_t kNoDriveLetter = 255;

struct DeviceRecord {
  uint8_t hostNumber = 0;
  uint8_t pathId = 0;
  uint8_t targetId = 0;
  uint8_t lun = 0;
  uint8_t driveLetter = kNoDriveLetter;  // else 'A' + value
  std::array<uint8_t, 8> adapterName{};
  size_t entry = 0;  // index of the entry in DeviceInventory::entries
  InquiryData inquiry{};

  // Vendor and product identification: inquiry bytes 8 to 31 up to the first zero.
  std::string DisplayName() const;
};

struct DeviceInventory {
  int32_t nScsiInfoCount = 0;
  std::vector<ScsiInfo> entries;
  int32_t nDeviceCount = 0;
  int32_t nLastScsiHost = 0;
  std::vector<DeviceRecord> records;
};

// True when the inventory has device records to list.
bool ListsDevices(const DeviceInventory& inventory);

// One line of the device list: "(D:)name (H0 P0 T1 L0)", "(?:)" without letter.
std::string DeviceListLine(const DeviceRecord& record);

// "(D:)name": how both the device list and the builder's trace line begin a
// device's line; `noLetter` stands in the letter's place for a record without
// one.
std::string DeviceLineHead(uint8_t driveLetter, char noLetter, const std::string& name);

// The most entries the builders fetch; a larger reported count is refused
// like a failed entries request, before anything is allocated from it.
inline constexpr int32_t kMaxScsiInfoCount = 4096;

// NT builder: initiates the filter and fills `inventory` anew. True when
// the device opened and accepted the initiate request.
bool InitiateKestruneNT(DeviceInventory& inventory);
// 9x builder, filling `inventory` anew: true when the filter reported
// entries and they were fetched.
bool InitiateKestrune9x(DeviceInventory& inventory);

}  // namespace kst
