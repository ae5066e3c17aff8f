#include "device/installation.h"

#include <optional>

#include "device/control_device.h"
#include "device/version_check.h"
#include "diag/error_text.h"
#include "diag/trace.h"
#include "install/deploy.h"

namespace kst {
namespace {

using Presence = ImageState::Presence;

const char* const kRule = "-------------------------------------";  // 37 hyphens

// The version of a driver's image, and whether a file without a readable
// version is there at all.
void ReadImage(const std::string& relativePath, ImageState& image) {
  std::optional<std::string> version = CheckDriverFliterVersion(relativePath);
  std::optional<std::string> path;
  if (image.reachable) path = image.path;
  image.presence = PresenceOf(version, path);
  if (version) image.version = *version;
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

bool ImageState::Current() const {
  return presence == Presence::kVersion && version == kCarriedDriverVersion;
}

ImageState::Presence PresenceOf(const std::optional<std::string>& version,
                                const std::optional<std::string>& path) {
  if (version) return Presence::kVersion;
  return path && Sys().files.Exists(*path) ? Presence::kNoVersion : Presence::kMissing;
}

bool InstallationState::FilesCurrent() const {
  for (const DriverInspection& driver : drivers) {
    if (!driver.image.Current()) return false;
  }
  return true;
}

bool MarksInstalled(const InstallationState& state) {
  return state.family == WindowsFamily::kNt && state.Installed();
}

std::vector<DriverInspection> DriversOfFamily(WindowsFamily family) {
  std::span<const FamilyDriver> facts = DriversOf(family);
  std::vector<DriverInspection> drivers(facts.size());
  for (size_t i = 0; i < facts.size(); ++i) {
    DriverInspection& d = drivers[i];
    d.name = facts[i].name;
    d.imageRelativePath = facts[i].image->relativePath;
    std::optional<std::string> path = SystemPath(d.imageRelativePath);
    d.image.path = PathForTrace(path, d.imageRelativePath);
    d.image.reachable = path.has_value();
    d.filter = facts[i].filter;
  }
  return drivers;
}

// Every image is read, also after one was not current, so that the state
// names what each file holds.
InstallationState ReadInstallation() {
  InstallationState state;
  state.family = RunningFamily();
  state.drivers = DriversOfFamily(state.family);
  for (DriverInspection& driver : state.drivers) ReadImage(driver.imageRelativePath, driver.image);
  if (!state.FilesCurrent()) return state;
  state.filterAsked = true;
  state.filterAnswers = state.family == WindowsFamily::kNt ? AskNtFilter(state.devices)
                                                           : Ask9xFilter(state.devices);
  return state;
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
