#include "install/procedures.h"

#include <optional>
#include <string>

#include "diag/no_throw.h"
#include "diag/trace.h"
#include "install/at_restart.h"
#include "install/class_filters.h"
#include "install/deploy.h"
#include "install/drivers.h"
#include "install/family.h"
#include "install/interaction.h"
#include "install/machine_lock.h"
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
constexpr const char* kWow64Text = "The Kestrune drivers are for 32-bit Windows only!";
constexpr const char* kWow64Line =
    "Failed to install Kestrune: the drivers are for 32-bit Windows only!";
constexpr uint32_t kPauseBetweenDrivers = 2000;
constexpr const char* kBusyText =
    "Another installation or removal of the Kestrune drivers is running.\n"
    "Nothing was changed; try again when it has ended.";
constexpr const char* kAwaitsRestartText =
    "The Kestrune drivers were uninstalled, and Windows must restart before they can be "
    "installed again.\nNothing was changed.";
constexpr const char* kLockFailedText =
    "Other installations and removals of the Kestrune drivers cannot be held off now.\n"
    "Nothing was changed.";

// What came of an installation, kept as such until InstallKestrune turns it
// into its boolean, its last trace line and the restart question.
enum class InstallOutcome {
  kInstalled,
  kRefusedUnderWow64,
  kAwaitsRestart,
  kCopyFailed,
  kRegistrationFailed
};

// What came of removing one driver, kept until the uninstall turns it into
// its trace line and its boolean. kGone: its file is gone, or goes when
// Windows next starts.
enum class RemovalOutcome { kGone, kStillListed, kListsNotFlushed, kNoPath, kFileRemains };

bool AskRestart(const char* question, const char* caption) {
  return Sys().boxes.Show(question, caption, win::kMbYesNo | win::kMbIconQuestion) == win::kIdYes;
}

// Takes the name out of every class list of the driver; true when any
// removal succeeded. Every list is attempted.
bool TakeOutOfLists(const FilterDriver& driver) {
  bool any = false;
  for (const ClassList& list : driver.lists) {
    Trace(list.removeLine);
    any = DelLowerFilter(driver.serviceName, list.key) || any;
  }
  return any;
}

// True when the driver's file is gone once Windows has started again:
// deleted now or, while the loaded driver holds it, by a request for the
// restart. The requests are read after the deletion: one already deleting
// the file is not made again, and a file that a request would bring back
// (an upgrade waiting for the restart) is deleted after it.
bool DeleteDriverFile(const FilterDriver& driver, const std::string& path) {
  MakeWritable(path);
  bool deleted = Sys().files.Delete(path);
  bool inUse = !deleted && FileInUse(Sys().system.GetLastError());
  bool present = !deleted && Sys().files.Exists(path);
  if (!(present && inUse)) Trace(deleted ? driver.texts.fileDeleted : driver.texts.fileNotDeleted);
  if (present && !inUse) return false;
  const std::string atRestart = std::string("DeleteFile: ") + driver.image.fileName +
                                (present ? " in use," : "") + " deleted at restart";
  std::optional<std::vector<PendingRename>> renames = ReadPendingRenames();
  const PendingRename* last = renames ? LastNaming(*renames, path) : nullptr;
  if (renames && !last && !present) return true;
  if (last && last->to.empty() && SameFilePath(last->from, path)) {
    if (present) Trace(atRestart);
    return true;
  }
  if (DeleteFileAtRestart(path)) {
    Trace(atRestart);
    return true;
  }
  if (present) Trace(driver.texts.fileNotDeleted);
  return !present && !last;  // gone now; no request known to bring it back
}

// Deletes the files of our own that a stopped copy left beside an image.
// Each is looked for first, so that an uninstall of nothing deletes nothing.
void RemoveLeftovers(const std::optional<std::string>& imagePath) {
  if (!imagePath) return;
  for (const std::string& leftover : OwnFilesBeside(*imagePath)) {
    if (Sys().files.Exists(leftover) && DeleteOwnFile(leftover)) {
      Trace("DeleteFile: " + leftover.substr(leftover.find_last_of('\\') + 1) + " success!");
    }
  }
}

// Removes one filter driver: gone when no class list names it and its file
// is gone, now or (the loaded driver holding it) at the restart, when its
// service goes too. The lists are cleared first and read back: while any may still
// name the driver, its service and file stay, because a listed filter
// without them keeps the devices of its class from starting. They are also
// flushed before the service and the file go, which reach the disk at once,
// while a cleared list not yet flushed would come back after a power cut.
RemovalOutcome RemoveFilterDriver(const FilterDriver& driver) {
  std::optional<std::string> path = SystemPath(driver.image.relativePath);
  if (driver.tracesPathOnRemoval) Trace(PathForTrace(path, driver.image.relativePath));
  bool listRemoved = TakeOutOfLists(driver);
  if (AnyLowerFilterMayName(driver.serviceName, driver.lists)) {
    return RemovalOutcome::kStillListed;
  }
  if (!FlushClassLists(driver.lists)) return RemovalOutcome::kListsNotFlushed;
  bool serviceRemoved = DeleteFilterService(driver);
  if (!path) return RemovalOutcome::kNoPath;
  bool gone = (serviceRemoved || listRemoved) ? DeleteDriverFile(driver, *path)
                                              : !Sys().files.Exists(*path);
  return gone ? RemovalOutcome::kGone : RemovalOutcome::kFileRemains;
}

// One half of the NT uninstall, up to its closing trace line. Nothing it
// raises stops the other half.
bool RemoveFilterDriverHalf(const FilterDriver& driver) {
  return NoThrow(
      [&] {
        RemovalOutcome outcome = RemoveFilterDriver(driver);
        if (outcome == RemovalOutcome::kStillListed || outcome == RemovalOutcome::kListsNotFlushed) {
          Trace(std::string(driver.serviceName) +
                (outcome == RemovalOutcome::kStillListed ? " still listed in LowerFilters"
                                                         : " LowerFilters not on the disk") +
                ", service and " + driver.image.fileName + " kept!");
        }
        RemoveLeftovers(SystemPath(driver.image.relativePath));
        return outcome == RemovalOutcome::kGone;
      },
      false);
}

RemovalOutcome RemoveVxd() {
  std::optional<std::string> path = SystemPath(kKestruneVxd.relativePath);
  Trace("Delete driver to: " + PathForTrace(path, kKestruneVxd.relativePath));
  if (!path) return RemovalOutcome::kNoPath;
  MakeWritable(*path);
  Sys().files.Delete(*path);  // its outcome is judged by the file test below
  RemoveLeftovers(path);
  return Sys().files.Exists(*path) ? RemovalOutcome::kFileRemains : RemovalOutcome::kGone;
}

// Registration on the NT family: every driver's step runs; true only when
// all succeeded.
bool RegisterNT() {
  bool all = true;
  for (const FilterDriver* driver : kNtDrivers) {
    Trace(driver->texts.installStep);
    all = RegisterFilterDriver(*driver) && all;
  }
  return all;
}

InstallOutcome Install(Interaction interaction) {
  // Under WOW64 the images would land in the redirected directory and a
  // boot-start filter that can never load would be listed.
  if (Sys().system.IsWow64Process()) return InstallOutcome::kRefusedUnderWow64;
  // A service deleted while its driver was loaded goes at the restart: lists
  // written now would name a service that no longer exists then, and the
  // image must stay as it is until then.
  if (RunningFamily() == WindowsFamily::kNt && AnyServiceAwaitsDeletion()) {
    return InstallOutcome::kAwaitsRestart;
  }
  // A failed copy leaves every earlier image whole, so the lists that name
  // them stay as they are.
  if (!DeployDriverImages(interaction)) return InstallOutcome::kCopyFailed;
  if (RunningFamily() == WindowsFamily::kNt && !RegisterNT()) {
    return InstallOutcome::kRegistrationFailed;
  }
  return InstallOutcome::kInstalled;
}

// The box and line a failed installation ends with; a failed copy has told
// of itself already.
void ReportInstallFailure(InstallOutcome outcome, Interaction interaction) {
  switch (outcome) {
    case InstallOutcome::kRefusedUnderWow64:
      ShowFailure(interaction, kWow64Text);
      Trace(kWow64Line);
      break;
    case InstallOutcome::kAwaitsRestart:
      ShowFailure(interaction, kAwaitsRestartText);
      break;
    case InstallOutcome::kRegistrationFailed:
      Trace("None RebootWindows");
      break;
    case InstallOutcome::kCopyFailed:
    case InstallOutcome::kInstalled:
      break;
  }
}

// A procedure that did not get the machine to itself changes nothing and
// says why.
bool RefuseUnlocked(const MachineLock& lock, Interaction interaction) {
  bool busy = lock.state() == MachineLock::State::kBusy ||
              lock.state() == MachineLock::State::kHeldElsewhere;
  ShowFailure(interaction, busy ? kBusyText : kLockFailedText);
  return false;
}

}  // namespace

// The machine is held from the start through the last change and given up
// before the restart question and the closing failure box: the state is
// final by then, and a person who leaves a box open must not hold off a
// deployment agent. (A failed copy tells of itself where it fails, still
// holding the machine; a run waiting meanwhile gives up after its bound.)
bool InstallKestrune(bool interactive) {
  const Interaction interaction = InteractionOf(interactive);
  MachineLock lock = MachineLock::Take(kProcedureLockWaitMs);
  if (!lock.Held()) return RefuseUnlocked(lock, interaction);
  InstallOutcome outcome = Install(interaction);
  lock.Release();
  if (outcome != InstallOutcome::kInstalled) {
    ReportInstallFailure(outcome, interaction);
    return false;
  }
  if (interactive && AskRestart(kInstalledQuestion, kInstalledCaption)) {
    Trace("InstallKestrune: RebootWindows");
    RebootWindows();
  }
  return true;
}

bool UnInstallKestrune(bool interactive) {
  MachineLock lock = MachineLock::Take(kProcedureLockWaitMs);
  if (!lock.Held()) return RefuseUnlocked(lock, InteractionOf(interactive));
  bool removed =
      RunningFamily() == WindowsFamily::kNt ? UnInstallKestruneNT() : UnInstallKestrune9X();
  lock.Release();
  if (removed && interactive && AskRestart(kUninstalledQuestion, kUninstalledCaption)) {
    RebootWindows();
  }
  return removed;
}

bool UnInstallKestruneNT() {
  bool allGone = true;
  for (const FilterDriver* driver : kNtDrivers) {
    if (driver != kNtDrivers.front()) Sys().sleep.Sleep(kPauseBetweenDrivers);
    allGone = RemoveFilterDriverHalf(*driver) && allGone;
  }
  return allGone;
}

bool UnInstallKestrune9X() {
  Trace("===== UnInstallKestrune9X ===========");
  RemovalOutcome outcome = RemoveVxd();
  // A file that could not be deleted restarts Windows at once, without a question.
  if (outcome == RemovalOutcome::kFileRemains) RebootWindows();
  return outcome == RemovalOutcome::kGone;
}

}  // namespace kst
