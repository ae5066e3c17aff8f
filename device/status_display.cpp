#include "device/status_display.h"

#include "device/control_device.h"
#include "device/text_format.h"
#include "device/version_check.h"
#include "diag/error_text.h"
#include "diag/trace.h"
#include "install/deploy.h"

namespace kst {
namespace {

const char* const kRule = "-------------------------------------";  // 37 hyphens

// Both NT files are checked, so both labels show what was found.
bool CheckNtDriverFiles(IDriverStatusView& window) {
  bool kestrune = CheckDriverFliterVersion(kKestrune.image.relativePath, window.Kestrune2());
  bool morvellin = CheckDriverFliterVersion(kMorvellin.image.relativePath, window.Morvellin2());
  return kestrune && morvellin;
}

bool Check9xDriverFile(IDriverStatusView& window) {
  bool current = CheckDriverFliterVersion(kKestruneVxd.relativePath, window.Kestrune2());
  window.Morvellin1().SetVisible(false);
  window.Morvellin2().SetVisible(false);
  return current;
}

// The filter counts as installed when its device accepts the initiate
// request; the device is uninitiated again once its devices are listed.
bool AskNtFilter(IDriverStatusView& window) {
  Trace("InitiateKestruneNT");
  if (!InitiateKestruneNT()) return false;
  ShowDeviceList(window);
  window.RadioButton1().SetTag(1);
  Trace("UnInitiateKestruneNT");
  UninitiateDevice();
  return true;
}

bool Ask9xFilter() {
  Trace("InitiateKestrune9x");
  return InitiateKestrune9x();
}

void ShowOutcome(IDriverStatusView& window, bool installed) {
  IComboList& list = window.CbDeviceList();
  if (!installed) {
    list.SetEnabled(false);
    window.LabelStatus2().SetCaption("Uninstall");
    return;
  }
  window.LabelStatus2().SetCaption("Install");
  bool hasLines = list.Count() >= 1;
  list.SetEnabled(hasLines);
  if (hasLines) list.Select(0);
}

}  // namespace

std::string DeviceListLine(const DeviceRecord& record) {
  return DeviceLineHead(record.driveLetter, '?', record.DisplayName()) +
         WsprintfText(" (H%d P%d T%d L%d)",
                      {record.hostNumber, record.pathId, record.targetId, record.lun});
}

void ShowDeviceList(IDriverStatusView& window) {
  const DeviceInventory& inventory = Inventory();
  if (!inventory.records.empty() && inventory.nDeviceCount > 0) {
    window.Host2().SetCaption(DecimalText(inventory.nScsiInfoCount));
    window.Target2().SetCaption(DecimalText(inventory.nDeviceCount));
    Trace(kRule);
    Trace("InitiateKestrune - Already");
    for (const DeviceRecord& record : inventory.records) {
      std::string line = DeviceListLine(record);
      window.CbDeviceList().Add(line);
      Trace(line);
    }
    Trace(kRule);
  }
  Trace("nScsiInfoCount :" + DecimalText(inventory.nScsiInfoCount));
  Trace("nDeviceCount :" + DecimalText(inventory.nDeviceCount));
  Trace("nLastScsiHost :" + DecimalText(inventory.nLastScsiHost));
}

bool RefreshDriverStatus(IDriverStatusView& window) {
  window.Kestrune2().SetCaption("");
  window.Morvellin2().SetCaption("");
  window.CbDeviceList().Clear();
  window.CbDeviceList().SetEnabled(false);
  bool nt = IsWindowsNT();
  bool installed = nt ? CheckNtDriverFiles(window) : Check9xDriverFile(window);
  if (installed) installed = nt ? AskNtFilter(window) : Ask9xFilter();
  ShowOutcome(window, installed);
  return installed;
}

}  // namespace kst
