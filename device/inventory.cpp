#include "device/inventory.h"

#include <algorithm>
#include <memory>

#include "device/control_device.h"
#include "device/host_numbering.h"
#include "device/text_format.h"
#include "diag/trace.h"

namespace kst {
namespace {

constexpr const char* kDeviceLineTail = " H/T: %d/%d (HBA%dPath%dTarget%dLun%d %s)";

// Sends the count request; nullopt when it failed.
std::optional<int32_t> RequestCount(IDevice& device) {
  std::array<uint8_t, KST_SCSI_INFO_COUNT_SIZE> count{};
  if (device.Control(IOCTL_KESTRUNE_GET_SCSI_INFO, nullptr, 0, count.data(),
                     uint32_t(count.size())) == 0) {
    return std::nullopt;
  }
  return DecodeScsiInfoCount(count.data(), count.size());
}

// Sends the entries request for `count` entries (1 to kMaxScsiInfoCount),
// then closes the device whatever the outcome. Nullopt when it failed.
std::optional<std::vector<ScsiInfo>> RequestEntries(std::unique_ptr<IDevice> device,
                                                    int32_t count) {
  std::vector<uint8_t> bytes(size_t(count) * KST_SCSI_INFO_SIZE);
  bool done = device->Control(IOCTL_KESTRUNE_GET_SCSI_INFO, nullptr, 0, bytes.data(),
                              uint32_t(bytes.size())) != 0;
  device.reset();
  if (!done) return std::nullopt;
  return DecodeScsiInfoEntries(bytes.data(), bytes.size());
}

void TraceRefusedCount(int32_t count) {
  Trace(WsprintfText("error: scsi information count %d is above %d, entries not requested",
                     {count, kMaxScsiInfoCount}));
}

// Keeps the reported `count` in `inv`, traced by `countFormat`, and fetches
// that many entries into it; the device is closed before this returns. True
// when entries were fetched.
bool FetchEntries(std::unique_ptr<IDevice> device, int32_t count, const char* countFormat,
                  DeviceInventory& inv) {
  inv.nScsiInfoCount = count;
  Trace(WsprintfText(countFormat, {count}));
  if (count <= 0) return false;
  if (count > kMaxScsiInfoCount) {
    TraceRefusedCount(count);
    return false;
  }
  auto entries = RequestEntries(std::move(device), count);
  if (!entries) return false;
  inv.entries = std::move(*entries);
  return true;
}

uint8_t RecordDriveLetter(uint32_t value) {
  return value == 0 || value == kNoDriveLetter ? kNoDriveLetter : uint8_t(value);
}

// Makes the record of one numbered entry and, while the budget lasts,
// inquires its device. Returns the display name the device gave when the
// inquiry succeeded, else "".
std::string MakeRecord(const DeviceInventory& inv, const NumberedDevice& n, DeviceRecord& r,
                       InquiryBudget& budget) {
  const ScsiInfo& e = inv.entries[n.entry];
  r.hostNumber = n.hostNumber;
  r.pathId = uint8_t(e.pathId);
  r.targetId = n.targetId;
  r.lun = uint8_t(e.lun);
  r.driveLetter = RecordDriveLetter(e.driveLetter);
  r.adapterName = e.adapterName;
  r.entry = n.entry;
  if (budget.Spent()) return std::string();
  return InquireScsiDevice(e, r.inquiry, budget) ? r.DisplayName() : std::string();
}

// The builder's trace line of a record; "(@:)" marks a record without letter.
std::string DeviceLine(const DeviceRecord& r, const ScsiInfo& e, const std::string& name) {
  auto id = [](uint32_t v) { return static_cast<int32_t>(v); };
  return DeviceLineHead(r.driveLetter, '@', name) +
         WsprintfText(kDeviceLineTail, {r.hostNumber, r.targetId, id(e.hbaNumber), id(e.pathId),
                                        id(e.targetId), id(e.lun), AdapterNameText(e.adapterName)});
}

void TraceBudgetSpent(size_t uninquired) {
  Trace(WsprintfText("error: inquiry time of %d ms used up, %d devices listed without inquiry",
                     {int32_t(kInquiryBudgetMilliseconds), int32_t(uninquired)}));
}

// Makes, inquires and appends the records of `numbering`, tracing each when
// `traceDevices`. All inquiries share one time budget; the devices reached
// after it is spent are listed without inquiry, which one line tells.
void AddRecords(DeviceInventory& inv, const HostNumbering& numbering, bool traceDevices) {
  inv.records.reserve(numbering.devices.size());
  InquiryBudget budget;
  bool spentTold = false;
  for (size_t i = 0; i < numbering.devices.size(); ++i) {
    const NumberedDevice& n = numbering.devices[i];
    if (!spentTold && budget.Spent()) {
      TraceBudgetSpent(numbering.devices.size() - i);
      spentTold = true;
    }
    DeviceRecord record;
    std::string name = MakeRecord(inv, n, record, budget);
    inv.records.push_back(record);
    ++inv.nDeviceCount;
    if (traceDevices) Trace(DeviceLine(record, inv.entries[n.entry], name));
  }
  inv.nLastScsiHost = numbering.nLastScsiHost;
}

void TraceAll(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) Trace(line);
}

}  // namespace

std::string DeviceRecord::DisplayName() const {
  auto first = inquiry.begin() + 8;
  auto last = inquiry.begin() + 32;
  return std::string(first, std::find(first, last, uint8_t(0)));
}

std::string DeviceLineHead(uint8_t driveLetter, char noLetter, const std::string& name) {
  char letter = driveLetter == kNoDriveLetter ? noLetter : char('A' + driveLetter);
  return WsprintfText("(%c:)%s", {letter, name});
}

bool ListsDevices(const DeviceInventory& inventory) {
  return !inventory.records.empty() && inventory.nDeviceCount > 0;
}

std::string DeviceListLine(const DeviceRecord& record) {
  return DeviceLineHead(record.driveLetter, '?', record.DisplayName()) +
         WsprintfText(" (H%d P%d T%d L%d)",
                      {record.hostNumber, record.pathId, record.targetId, record.lun});
}

bool InitiateKestruneNT(DeviceInventory& inv) {
  inv = DeviceInventory{};
  std::unique_ptr<IDevice> device = OpenControlDevice();
  if (!device) return false;
  if (device->Control(IOCTL_KESTRUNE_INITIATE, nullptr, 0, nullptr, 0) != 1) {
    Trace("Failed to initialized kestrune device!");
    return false;
  }
  std::optional<int32_t> count = RequestCount(*device);
  if (!count) {
    Trace("Faile to get kestrune scsi information!");
    return true;
  }
  if (!FetchEntries(std::move(device), *count, "Kestrune SCSI Info Count: %d", inv)) return true;
  HostNumbering numbering = NumberDevicesNT(inv.entries);
  TraceAll(numbering.adapterNames);
  TraceAll(numbering.notes);
  AddRecords(inv, numbering, true);
  return true;
}

bool InitiateKestrune9x(DeviceInventory& inv) {
  inv = DeviceInventory{};
  std::unique_ptr<IDevice> device = OpenControlDevice();
  if (!device) return false;
  std::optional<int32_t> count = RequestCount(*device);
  if (!count) return false;
  if (!FetchEntries(std::move(device), *count, "Kestrune device Count: %d", inv)) return false;
  HostNumbering numbering = NumberDevices9x(inv.entries);
  TraceAll(numbering.notes);
  AddRecords(inv, numbering, false);
  return true;
}

}  // namespace kst
