#include "device/check_report.h"

#include <algorithm>

#include "device/driver_status.h"
#include "device/version_check.h"
#include "install/deploy.h"
#include "install/filter_list.h"
#include "install/machine_lock.h"
#include "platform/platform.h"

namespace kst {
namespace {

using Presence = ImageState::Presence;
using ListState = StoredFilterList::State;

// Shows control characters as \xNN, so a text read from the machine cannot
// end a line or start a forged one.
std::string Printable(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += char(c);
    }
  }
  return out;
}

std::string ImageLine(const ImageState& image) {
  switch (image.presence) {
    case Presence::kMissing:
      return "IMAGE missing - " + image.path;
    case Presence::kNoVersion:
      return "IMAGE noversion - " + image.path;
    case Presence::kVersion:
      break;
  }
  const char* state = image.Current() ? "current " : "other ";
  return "IMAGE " + std::string(state) + image.version + " " + image.path;
}

void AddServiceLines(const DriverInspection& driver, const std::string& systemRoot,
                     std::vector<std::string>& lines) {
  const std::string subject = "SERVICE " + driver.name;
  switch (driver.service.presence) {
    case ServiceState::Presence::kMissing:
      lines.push_back(subject + " missing");
      return;
    case ServiceState::Presence::kUnreadable:
      lines.push_back(subject + " unreadable");
      return;
    case ServiceState::Presence::kPresent:
      break;
  }
  lines.push_back(subject + " exists");
  if (driver.service.mark == ServiceState::Mark::kAwaitsDeletion) {
    lines.push_back(subject + " awaiting-deletion");
  }
  for (const SettingComparison& c :
       CompareServiceSettings(driver.service.config, driver.expected, systemRoot)) {
    std::string line = subject + " " + c.field + (c.same ? " ok \"" : " differs \"") + c.found + "\"";
    if (!c.same) line += " expected \"" + c.expected + "\"";
    lines.push_back(line);
  }
}

void AddListLines(const MachineInspection& inspection, const ClassKeyState& key,
                  std::vector<std::string>& lines) {
  const std::string subject = "LOWERFILTERS " + key.key;
  switch (key.lowerState) {
    case ListState::kNoKey:
      lines.push_back(subject + " nokey");
      return;
    case ListState::kNoValue:
      lines.push_back(subject + " novalue");
      return;
    case ListState::kUnreadable:
      lines.push_back(subject + " unreadable");
      return;
    case ListState::kRead:
      break;
  }
  if (key.lower.empty()) lines.push_back(subject + " empty");
  for (size_t i = 0; i < key.lower.size(); ++i) {
    const std::string& name = key.lower[i].name;
    lines.push_back(subject + " " + std::to_string(i + 1) +
                    (IsOurName(inspection.state, name) ? " ours " : " other ") + name);
  }
}

// A file's presence and version; a file whose version cannot be read is
// told apart from no file at all.
void SetVersion(const std::optional<std::string>& version, const std::string& path,
                Presence& presence, std::string& text) {
  if (version) {
    presence = Presence::kVersion;
    text = *version;
  } else if (Sys().files.Exists(path)) {
    presence = Presence::kNoVersion;
  }
}

// A driver file as the status query found it.
ImageState ImageOf(const ImageStatus& found) {
  ImageState image;
  image.path = PathForTrace(SystemPath(found.image->relativePath), found.image->relativePath);
  SetVersion(found.version.text, image.path, image.presence, image.version);
  return image;
}

// Whether Windows has started since the newest of the images was written;
// never when the system cannot tell its uptime without wrapping (before
// Windows Vista the 32-bit tick count wraps every 49.7 days, and an uptime
// known only up to that cannot tell a restart from none).
bool StartedSinceImagesWritten(const InstallationState& state) {
  ISleep& clock = Sys().sleep;
  uint64_t uptime = 0;
  if (!clock.TickCount64(uptime)) return false;
  uint64_t newest = 0;
  for (const DriverInspection& driver : state.drivers) {
    uint64_t written = 0;
    if (!Sys().files.LastWriteTime(driver.image.path, written)) return false;
    newest = std::max(newest, written);
  }
  return StartedSince(clock.SystemTime(), uptime, newest);
}

// The NT family's services, lists and requests for the restart, and the
// version of each image a request puts in place.
void ReadNtMachine(InstallationState& state) {
  ReadServicesAndLists(state.drivers, ClassKeysOfDrivers(state.drivers), state.classKeys);
  ReadRestartRequests(state);
  for (DriverInspection& driver : state.drivers) {
    ImageState& image = driver.image;
    if (image.atRestart != ImageState::AtRestart::kReplaced) continue;
    SetVersion(FileVersionAt(image.replacementPath), image.replacementPath,
               image.replacementPresence, image.replacementVersion);
  }
  std::string directory = Sys().files.SystemDirectory();
  size_t folder = directory.find_last_of('\\');
  state.systemRoot = folder == std::string::npos ? std::string() : directory.substr(0, folder);
}

void AddPendingLines(const InstallationState& state, std::vector<std::string>& lines) {
  if (state.pendingUnreadable) lines.push_back("PENDING unreadable");
  for (const PendingOperation& op : state.pending) {
    lines.push_back(std::string("PENDING ") +
                    (op.kind == PendingOperation::Kind::kReplace ? "replace " : "delete ") + op.path);
  }
}

}  // namespace

namespace {

MachineInspection ReadMachine() {
  DriverStatus status = QueryDriverStatus();
  MachineInspection inspection;
  InstallationState& state = inspection.state;
  state.nt = status.family == WindowsFamily::kNt;
  state.drivers = DriversOfFamily(state.nt);
  for (DriverInspection& driver : state.drivers) {
    for (const ImageStatus& found : status.images) {
      if (driver.imageRelativePath == found.image->relativePath) driver.image = ImageOf(found);
    }
  }
  if (state.nt) ReadNtMachine(state);
  inspection.controlAsked = status.filesCurrent;
  state.filterAnswers = status.filterRunning;
  if (state.nt && status.filesCurrent && !status.filterRunning) {
    state.restartedSinceImagesWritten = StartedSinceImagesWritten(state);
  }
  // The status window lists devices on the NT family only.
  if (state.nt && ListsDevices(status.devices)) inspection.devices = status.devices.records;
  return inspection;
}

}  // namespace

MachineInspection InspectMachine() {
  MachineLock lock = MachineLock::Take(kCheckLockWaitMs);
  MachineInspection inspection = ReadMachine();
  inspection.anotherRunActive = lock.state() == MachineLock::State::kBusy ||
                                lock.state() == MachineLock::State::kHeldElsewhere;
  return inspection;
}

const char* const kCheckUsageText =
    "KstCheck.exe: prints the state of the Kestrune filter drivers and judges it.\n"
    " KstCheck.exe [/?]\n"
    " /?\tdisplay this help and exit.\n"
    " Exit codes: 0 installed and running, 3010 installed, restart pending,\n"
    " 1 not installed, 2 inconsistent, 87 unknown argument.\n";

CheckCommand CheckCommandOf(const std::vector<std::string>& arguments) {
  if (arguments.empty()) return CheckCommand::kCheck;
  if (arguments.size() == 1 && arguments[0] == "/?") return CheckCommand::kUsage;
  return CheckCommand::kInvalid;
}

const char* VerdictText(Verdict verdict, bool removal) {
  switch (verdict) {
    case Verdict::kRunning:
      return "installed and running";
    case Verdict::kRestartPending:
      return removal ? "removal pending" : "installed, restart pending";
    case Verdict::kNotInstalled:
      return "not installed";
    case Verdict::kInconsistent:
      break;
  }
  return "inconsistent";
}

std::vector<std::string> ReportLines(const MachineInspection& inspection,
                                     const Judgement& judgement) {
  const InstallationState& state = inspection.state;
  std::vector<std::string> lines;
  lines.push_back(state.nt ? "FAMILY NT" : "FAMILY 9x");
  for (const DriverInspection& driver : state.drivers) lines.push_back(ImageLine(driver.image));
  if (state.nt) {
    for (const DriverInspection& driver : state.drivers) AddServiceLines(driver, state.systemRoot, lines);
    for (const ClassKeyState& key : state.classKeys) AddListLines(inspection, key, lines);
    AddPendingLines(state, lines);
  }
  lines.push_back(state.filterAnswers           ? "CONTROL answers"
                  : inspection.controlAsked ? "CONTROL silent"
                                            : "CONTROL unasked");
  for (const DeviceRecord& record : inspection.devices) {
    lines.push_back("DEVICE " + DeviceListLine(record));
  }
  if (inspection.anotherRunActive) {
    lines.push_back("WARNING another installation or removal is running; this state may be changing");
  }
  for (const std::string& warning : judgement.warnings) lines.push_back("WARNING " + warning);
  for (const std::string& problem : judgement.problems) lines.push_back("PROBLEM " + problem);
  lines.push_back("VERDICT " + std::to_string(int(judgement.verdict)) + " " +
                  VerdictText(judgement.verdict, judgement.removal));
  for (std::string& line : lines) line = Printable(line);
  return lines;
}

std::vector<std::string> FailureLines(const std::string& what) {
  return {Printable("PROBLEM the check failed: " + what),
          std::string("VERDICT 2 ") + VerdictText(Verdict::kInconsistent)};
}

}  // namespace kst
