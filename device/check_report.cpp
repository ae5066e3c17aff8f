#include "device/check_report.h"

#include "device/driver_status.h"
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

void AddServiceLines(const DriverInspection& driver, std::vector<std::string>& lines) {
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
  for (const SettingComparison& c : CompareServiceSettings(driver.service.config, driver.expected)) {
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

// A driver file as the status query found it; a file it could read no
// version of is told apart from no file at all.
ImageState ImageOf(const ImageStatus& found) {
  ImageState image;
  image.path = PathForTrace(SystemPath(found.image->relativePath), found.image->relativePath);
  if (found.version.text) {
    image.presence = Presence::kVersion;
    image.version = *found.version.text;
  } else if (Sys().files.Exists(image.path)) {
    image.presence = Presence::kNoVersion;
  }
  return image;
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
  if (state.nt) ReadServicesAndLists(state.drivers, ClassKeysOfDrivers(state.drivers), state.classKeys);
  inspection.controlAsked = status.filesCurrent;
  state.filterAnswers = status.filterRunning;
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

const char* VerdictText(Verdict verdict) {
  switch (verdict) {
    case Verdict::kRunning:
      return "installed and running";
    case Verdict::kRestartPending:
      return "installed, restart pending";
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
    for (const DriverInspection& driver : state.drivers) AddServiceLines(driver, lines);
    for (const ClassKeyState& key : state.classKeys) AddListLines(inspection, key, lines);
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
                  VerdictText(judgement.verdict));
  for (std::string& line : lines) line = Printable(line);
  return lines;
}

}  // namespace kst
