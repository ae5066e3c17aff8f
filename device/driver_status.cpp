#include "device/driver_status.h"

#include "device/control_device.h"
#include "diag/error_text.h"
#include "diag/trace.h"
#include "install/deploy.h"

namespace kst {
namespace {

const char* const kRule = "-------------------------------------";  // 37 hyphens

// Every image is checked, also after one was not current, so that the
// status names what each file holds.
void CheckImages(DriverStatus& status) {
  std::vector<const DriverImage*> images;
  if (status.family == WindowsFamily::kNt) {
    for (const FilterDriver* driver : kNtDrivers) images.push_back(&driver->image);
  } else {
    images.push_back(&kKestruneVxd);
  }
  status.filesCurrent = true;
  for (const DriverImage* image : images) {
    ImageStatus checked{image, CheckDriverFliterVersion(image->relativePath)};
    status.filesCurrent = status.filesCurrent && checked.version.current;
    status.images.push_back(checked);
  }
}

// The filter counts as running when its device accepts the initiate
// request; the device is uninitiated again once its devices are traced.
bool AskNtFilter(DeviceInventory& devices) {
  Trace("InitiateKestruneNT");
  if (!InitiateKestruneNT(devices)) return false;
  TraceDeviceList(devices);
  Trace("UnInitiateKestruneNT");
  UninitiateDevice();
  return true;
}

bool Ask9xFilter(DeviceInventory& devices) {
  Trace("InitiateKestrune9x");
  return InitiateKestrune9x(devices);
}

}  // namespace

bool MarksInstalled(const DriverStatus& status) {
  return status.family == WindowsFamily::kNt && status.Installed();
}

DriverStatus QueryDriverStatus() {
  DriverStatus status;
  status.family = IsWindowsNT() ? WindowsFamily::kNt : WindowsFamily::k9x;
  CheckImages(status);
  if (!status.filesCurrent) return status;
  status.filterRunning = status.family == WindowsFamily::kNt ? AskNtFilter(status.devices)
                                                              : Ask9xFilter(status.devices);
  return status;
}

void TraceDeviceList(const DeviceInventory& inventory) {
  if (ListsDevices(inventory)) {
    Trace(kRule);
    Trace("InitiateKestrune - Already");
    for (const DeviceRecord& record : inventory.records) Trace(DeviceListLine(record));
    Trace(kRule);
  }
  Trace("nScsiInfoCount :" + DecimalText(inventory.nScsiInfoCount));
  Trace("nDeviceCount :" + DecimalText(inventory.nDeviceCount));
  Trace("nLastScsiHost :" + DecimalText(inventory.nLastScsiHost));
}

}  // namespace kst
