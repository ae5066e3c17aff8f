#include "device/status_display.h"

#include "diag/error_text.h"

namespace kst {
namespace {

// The label of the family's image at `index`: the adapter-level image first.
IControl& VersionLabel(IDriverStatusView& view, size_t index) {
  return index == 0 ? view.KestruneVersion() : view.MorvellinVersion();
}

void ShowVersions(IDriverStatusView& view, const InstallationState& state) {
  for (size_t i = 0; i < state.drivers.size(); ++i) {
    const ImageState& image = state.drivers[i].image;
    if (image.presence == ImageState::Presence::kVersion) VersionLabel(view, i).SetCaption(image.version);
  }
  if (state.family == WindowsFamily::k9x) {
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

void ShowDriverStatus(IDriverStatusView& view, const InstallationState& state) {
  view.KestruneVersion().SetCaption("");
  view.MorvellinVersion().SetCaption("");
  view.DeviceList().Clear();
  view.DeviceList().SetEnabled(false);
  ShowVersions(view, state);
  if (MarksInstalled(state)) ShowDeviceList(view, state.devices);
  ShowOutcome(view, state.Installed());
}

InstallationState RefreshDriverStatus(IDriverStatusView& view) {
  InstallationState state = ReadInstallation();
  ShowDriverStatus(view, state);
  return state;
}

}  // namespace kst
