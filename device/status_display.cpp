#include "device/status_display.h"

#include "diag/error_text.h"

namespace kst {
namespace {

// The label of the family's image at `index`: the adapter-level image first.
IControl& VersionLabel(IDriverStatusView& view, size_t index) {
  return index == 0 ? view.KestruneVersion() : view.MorvellinVersion();
}

void ShowVersions(IDriverStatusView& view, const DriverStatus& status) {
  for (size_t i = 0; i < status.images.size(); ++i) {
    const InstalledVersion& version = status.images[i].version;
    if (version.text) VersionLabel(view, i).SetCaption(*version.text);
  }
  if (status.family == WindowsFamily::k9x) {
    view.MorvellinCaption().SetVisible(false);
    view.MorvellinVersion().SetVisible(false);
  }
}

void ShowOutcome(IDriverStatusView& view, bool installed) {
  IComboList& list = view.DeviceList();
  if (!installed) {
    list.SetEnabled(false);
    view.InstallState().SetCaption("Uninstall");
    return;
  }
  view.InstallState().SetCaption("Install");
  bool hasLines = list.Count() >= 1;
  list.SetEnabled(hasLines);
  if (hasLines) list.Select(0);
}

}  // namespace

void ShowDeviceList(IDriverStatusView& view, const DeviceInventory& inventory) {
  if (!ListsDevices(inventory)) return;
  view.EntryCount().SetCaption(DecimalText(inventory.nScsiInfoCount));
  view.DeviceCount().SetCaption(DecimalText(inventory.nDeviceCount));
  for (const DeviceRecord& record : inventory.records) view.DeviceList().Add(DeviceListLine(record));
}

void ShowDriverStatus(IDriverStatusView& view, const DriverStatus& status) {
  view.KestruneVersion().SetCaption("");
  view.MorvellinVersion().SetCaption("");
  view.DeviceList().Clear();
  view.DeviceList().SetEnabled(false);
  ShowVersions(view, status);
  if (MarksInstalled(status)) ShowDeviceList(view, status.devices);
  ShowOutcome(view, status.Installed());
}

DriverStatus RefreshDriverStatus(IDriverStatusView& view) {
  DriverStatus status = QueryDriverStatus();
  ShowDriverStatus(view, status);
  return status;
}

}  // namespace kst
