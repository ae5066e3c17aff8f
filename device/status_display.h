#pragma once
// The "Driver Information" part of the main window: what is installed right
// now, gathered once when the window is created.
#include <string>

#include "device/inventory.h"
#include "platform/controls.h"

namespace kst {

// The controls of the main window that the status display writes, named for
// what they show. The main window implements this (and more).
class IDriverStatusView {
 public:
  virtual ~IDriverStatusView() = default;
  virtual IControl& KestruneVersion() = 0;
  virtual IControl& MorvellinCaption() = 0;  // the "Morvellin:" label, hidden on 9x
  virtual IControl& MorvellinVersion() = 0;
  virtual IControl& InstallState() = 0;  // "Install" or "Uninstall"
  virtual IControl& EntryCount() = 0;    // SCSI entries the filter reports
  virtual IControl& DeviceCount() = 0;
  virtual IComboList& DeviceList() = 0;
  virtual IRadioButton& InstallOption() = 0;  // carries the installed mark in its tag
};

// Checks the installed driver files of the running family and, when all are
// current, asks the running filter for its devices; shows the outcome and,
// on the NT family with the filter answering, marks the install option
// (Tag 1). True when the filter counts as installed.
bool RefreshDriverStatus(IDriverStatusView& window);

// Fills the entry count, the device count and the device list from Inventory() and traces them.
void ShowDeviceList(IDriverStatusView& window);

// One line of the device list: "(D:)name (H0 P0 T1 L0)", "(?:)" without letter.
std::string DeviceListLine(const DeviceRecord& record);

}  // namespace kst
