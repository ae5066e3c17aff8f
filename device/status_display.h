#pragma once
// The "Driver Information" part of the main window: what is installed right
// now, gathered once when the window is created.
#include <string>

#include "device/inventory.h"
#include "platform/controls.h"

namespace kst {

// The controls of the main window that the status display writes, by their
// names in the window. The main window implements this (and more).
class IDriverStatusView {
 public:
  virtual ~IDriverStatusView() = default;
  virtual IControl& Kestrune2() = 0;
  virtual IControl& Morvellin1() = 0;
  virtual IControl& Morvellin2() = 0;
  virtual IControl& LabelStatus2() = 0;
  virtual IControl& Host2() = 0;
  virtual IControl& Target2() = 0;
  virtual IComboList& CbDeviceList() = 0;
  virtual IRadioButton& RadioButton1() = 0;
};

// Checks the installed driver files of the running family and, when all are
// current, asks the running filter for its devices; shows the outcome and,
// on the NT family with the filter answering, marks the install option
// (Tag 1). True when the filter counts as installed.
bool RefreshDriverStatus(IDriverStatusView& window);

// Fills Host2, Target2 and the device list from Inventory() and traces them.
void ShowDeviceList(IDriverStatusView& window);

// One line of the device list: "(D:)name (H0 P0 T1 L0)", "(?:)" without letter.
std::string DeviceListLine(const DeviceRecord& record);

}  // namespace kst
