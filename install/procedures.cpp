#include "install/procedures.h"

#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "diag/trace.h"
#include "install/class_filters.h"
#include "install/deploy.h"
#include "install/reboot.h"
#include "install/services.h"
#include "platform/platform.h"

namespace kst {
namespace {

constexpr const char* kInstalledQuestion =
    "Kestrune installed success!.\nThis need reboot to take effect.\n\nDo you want to reboot now?";
constexpr const char* kInstalledCaption = "Kestrune installed";
constexpr const char* kUninstalledQuestion =
    "Kestrune uninstalled success!.\nThis need reboot to take effect.\n\nDo you want to reboot "
    "now?";
constexpr const char* kUninstalledCaption = "Kestrune uninstalled";
constexpr const char* kFiltersCaption = "SCSI SRB Command Filters";
constexpr const char* kWow64Text = "The Kestrune drivers are for 32-bit Windows only!";
constexpr const char* kWow64Line =
    "Failed to install Kestrune: the drivers are for 32-bit Windows only!";
constexpr uint32_t kPauseBetweenDrivers = 2000;

bool AskRestart(const char* question, const char* caption) {
  return Sys().boxes.Show(question, caption, win::kMbYesNo | win::kMbIconQuestion) == win::kIdYes;
}

// One half of the NT uninstall: what belongs to one filter driver.
struct DriverRemoval {
  const char* name;
  const char* relativePath;
  const char* fileName;
  bool tracesPath;
  std::vector<ClassList> lists;
};

const DriverRemoval kKestruneRemoval{
    REG_KESTRUNE, kKestruneSysPath, "Kestrune.sys", true,
    {{KESTRUNE_REG_KEY_ATA, "DelLowerFilter KESTRUNE_REG_KEY_ATA"},
     {KESTRUNE_REG_KEY_SCSI, "DelLowerFilter KESTRUNE_REG_KEY_SCSI"}}};

const DriverRemoval kMorvellinRemoval{
    REG_MORVELLIN, kMorvellinSysPath, "Morvellin.sys", false,
    {{MORVELLIN_REG_KEY_CDVDROM, "DelLowerFilter MORVELLIN_REG_KEY_CDVDROM"}}};

// Takes the name out of every class list of the driver; true when any
// removal succeeded. Every list is attempted.
bool TakeOutOfLists(const DriverRemoval& driver) {
  bool any = false;
  for (const ClassList& list : driver.lists) {
    Trace(list.line);
    any = DelLowerFilter(driver.name, list.key) || any;
  }
  return any;
}

void DeleteDriverFile(const DriverRemoval& driver, const std::string& path) {
  bool deleted = Sys().files.Delete(path);
  Trace(std::string("DeleteFile: ") + driver.fileName + (deleted ? " success!" : " failed!"));
}

// Removes one filter driver; true when its file is gone and no class list
// names it. The lists are cleared first and read back: while any may still
// name the driver, its service and file stay, because a listed filter
// without them keeps the devices of its class from starting.
bool RemoveFilterDriver(const DriverRemoval& driver) {
  std::optional<std::string> path = SystemPath(driver.relativePath);
  if (driver.tracesPath) {
    Trace(path.value_or(Sys().files.SystemDirectory() + driver.relativePath));
  }
  bool listRemoved = TakeOutOfLists(driver);
  if (AnyLowerFilterMayName(driver.name, driver.lists)) {
    Trace(std::string(driver.name) + " still listed in LowerFilters, service and " +
          driver.fileName + " kept!");
    return false;
  }
  bool serviceRemoved = DeleteFilterService(driver.name);
  if (!path) return false;
  if (serviceRemoved || listRemoved) DeleteDriverFile(driver, *path);
  return !Sys().files.Exists(*path);
}

// One half run so that nothing it raises stops the other half.
bool RemoveFilterDriverAbsorbing(const DriverRemoval& driver) {
  try {
    return RemoveFilterDriver(driver);
  } catch (const std::exception&) {
    return false;
  } catch (...) {
    return false;
  }
}

// Registration on the NT family; true only when both steps succeeded.
bool RegisterNT() {
  Trace("InstallKestruneNT");
  bool kestrune = InstallKestruneNT();
  Trace("InstallMorvellinNT");
  bool morvellin = InstallMorvellinNT();
  return kestrune && morvellin;
}

}  // namespace

bool InstallKestrune(bool interactive) {
  // Under WOW64 the images would land in the redirected directory and a
  // boot-start filter that can never load would be listed.
  if (Sys().system.IsWow64Process()) {
    Sys().boxes.Show(kWow64Text, kFiltersCaption, win::kMbOk | win::kMbIconError);
    Trace(kWow64Line);
    return false;
  }
  // A failed copy leaves every earlier image whole, so the lists that name
  // them stay as they are.
  if (!DeployDriverImages()) return false;
  bool installed = IsWindowsNT() ? RegisterNT() : true;
  if (!installed) {
    Trace("None RebootWindows");
    return false;
  }
  if (interactive && AskRestart(kInstalledQuestion, kInstalledCaption)) {
    Trace("InstallKestrune: RebootWindows");
    RebootWindows();
  }
  return true;
}

bool UnInstallKestrune(bool interactive) {
  bool removed = IsWindowsNT() ? UnInstallKestruneNT() : UnInstallKestrune9X();
  if (removed && interactive && AskRestart(kUninstalledQuestion, kUninstalledCaption)) {
    RebootWindows();
  }
  return removed;
}

bool UnInstallKestruneNT() {
  bool kestruneGone = RemoveFilterDriverAbsorbing(kKestruneRemoval);
  Sys().sleep.Sleep(kPauseBetweenDrivers);
  bool morvellinGone = RemoveFilterDriverAbsorbing(kMorvellinRemoval);
  return kestruneGone && morvellinGone;
}

bool UnInstallKestrune9X() {
  Trace("===== UnInstallKestrune9X ===========");
  std::optional<std::string> path = SystemPath(kKestruneVxdPath);
  Trace("Delete driver to: " + path.value_or(Sys().files.SystemDirectory() + kKestruneVxdPath));
  if (!path) return false;
  Sys().files.Delete(*path);  // its outcome is judged by the file test below
  if (!Sys().files.Exists(*path)) return true;
  RebootWindows();
  return false;
}

}  // namespace kst
