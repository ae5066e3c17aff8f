#pragma once
// The "Driver Information" part of the main window: shows the installation.
#include "device/installation.h"
#include "platform/controls.h"

namespace kst {

// The controls of the main window that the status display writes, named for
// what they show. The main window implements this (and more).
class IDriverStatusView {
 public:
  virtual ~IDriverStatusView() = default;
  virtual IControl& KestruneVersion() = 0;
  virtual IControl& MorvellinCaption() = 0;
  virtual IControl& MorvellinVersion() = 0;
  virtual IControl& InstallState() = 0;
  virtual IControl& EntryCount() = 0;
  virtual IControl& DeviceCount() = 0;
  virtual IComboList& DeviceList() = 0;
};

// Writes `state` into the view: the version found in each file (empty where
// none was read), "Install" or "Uninstall", and, when the filter is installed
// on the NT family, its devices. On 9x the Morvellin labels are hidden.
// Writes no trace line.
void ShowDriverStatus(IDriverStatusView& view, const InstallationState& state);

// ReadInstallation, then ShowDriverStatus; returns what was shown.
InstallationState RefreshDriverStatus(IDriverStatusView& view);

// Fills the entry and device counts and the device list from `inventory`
// when it lists devices.
void ShowDeviceList(IDriverStatusView& view, const DeviceInventory& inventory);

}  // namespace kst
