#include "check/check_report.h"

#include "check/printable.h"

namespace kst {
namespace {

using Presence = ImageState::Presence;
using ListState = StoredFilterList::State;

const std::vector<SettingComparison> kNone;  // a service whose settings were not judged

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

void AddServiceLines(const DriverInspection& driver, const std::vector<SettingComparison>& settings,
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
  for (const SettingComparison& c : settings) {
    std::string line = subject + " " + c.field + (c.same ? " ok \"" : " differs \"") + c.found + "\"";
    if (!c.same) line += " expected \"" + c.expected + "\"";
    lines.push_back(line);
  }
}

void AddListLines(const InstallationState& state, const ClassKeyState& key,
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
                    (state.IsOurName(name) ? " ours " : " other ") + name);
  }
}

void AddPendingLines(const InstallationState& state, std::vector<std::string>& lines) {
  if (state.pendingUnreadable) lines.push_back("PENDING unreadable");
  for (const PendingOperation& op : state.pending) {
    lines.push_back(std::string("PENDING ") +
                    (op.kind == PendingOperation::Kind::kReplace ? "replace " : "delete ") + op.path);
  }
}

}  // namespace

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
  const bool nt = state.family == WindowsFamily::kNt;
  lines.push_back(nt ? "FAMILY NT" : "FAMILY 9x");
  for (const DriverInspection& driver : state.drivers) lines.push_back(ImageLine(driver.image));
  if (nt) {
    for (size_t i = 0; i < state.drivers.size(); ++i) {
      AddServiceLines(state.drivers[i], i < judgement.settings.size() ? judgement.settings[i] : kNone,
                      lines);
    }
    for (const ClassKeyState& key : state.classKeys) AddListLines(state, key, lines);
    AddPendingLines(state, lines);
  }
  lines.push_back(state.filterAnswers ? "CONTROL answers"
                  : state.filterAsked ? "CONTROL silent"
                                      : "CONTROL unasked");
  // As the status window, which lists devices on the NT family only.
  if (nt && ListsDevices(state.devices)) {
    for (const DeviceRecord& record : state.devices.records) {
      lines.push_back("DEVICE " + DeviceListLine(record));
    }
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
