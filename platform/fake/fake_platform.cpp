#include "platform/fake/fake_platform.h"

#include <map>

namespace kst::fake {

FakePlatform::FakePlatform() = default;
FakePlatform::~FakePlatform() = default;

void FakePlatform::CountTowardsCut() {
  if (!powerCut_ && callsBeforeCut_) {
    if (*callsBeforeCut_ == 0) {
      powerCut_ = true;
      if (atCut_) atCut_();
    } else {
      --*callsBeforeCut_;
    }
  }
  if (powerCut_) throw PowerCut{};
  ++counted_;
}

void FakePlatform::CutPowerAfter(int count, std::function<void()> atCut) {
  callsBeforeCut_ = count;
  atCut_ = std::move(atCut);
}

void FakePlatform::Record(const std::string& name) {
  CountTowardsCut();
  calls.push_back(name);
}

void FakePlatform::RecordClose(const std::string& name) {
  if (!powerCut_) calls.push_back(name);
}

std::optional<uint32_t> FakePlatform::Call(const std::string& name) {
  Record(name);
  if (beforeCall) beforeCall(name);
  std::optional<uint32_t> fault = faults.Check(name);
  if (fault) system.lastError = *fault;
  return fault;
}

int FakePlatform::OpenHandles() const {
  return int(files.open.size()) + registry.openKeys + services.openHandles + devices.openHandles +
         shutdown.openTokens + mutexes.openHandles;
}

MachineView FakePlatform::Live() const {
  MachineView view{{}, registry.keys, services.services};
  for (const auto& [path, file] : files.files) view.files[path] = file.bytes;
  return view;
}

std::vector<std::string> FakePlatform::UnflushedKeys() const {
  std::vector<std::string> keys;
  for (const auto& [path, disk] : registry.unflushed) keys.push_back(path);
  for (const auto& [name, disk] : services.unflushed) keys.push_back(FakeServices::KeyPath(name));
  return keys;
}

MachineView FakePlatform::AfterPowerCut(const std::set<std::string, NoCase>& written) const {
  MachineView view = Live();
  for (const auto& [path, file] : files.files) view.files[path] = file.OnDisk();
  for (const auto& [path, disk] : registry.unflushed) {
    if (written.count(path)) continue;
    view.keys.erase(path);
    if (disk) view.keys[path] = *disk;
  }
  for (const auto& [name, disk] : services.unflushed) {
    if (written.count(FakeServices::KeyPath(name))) continue;
    view.services.erase(name);
    if (disk) view.services[name] = *disk;
  }
  return view;
}

void FakePlatform::SettleOnDisk() {
  registry.unflushed.clear();
  services.unflushed.clear();
  for (auto& [path, file] : files.files) file.unflushed.reset();
}

namespace {

// One request of a PendingFileRenameOperations value, as Windows reads it:
// the source, then the target ("" for a deletion; a leading '!' lets it
// replace a file that is there).
struct PendingRename {
  std::string from;
  std::string to;
  bool replaces = false;
};

std::string WithoutNtPrefix(const std::string& path) {
  return path.rfind("\\??\\", 0) == 0 ? path.substr(4) : path;
}

// The value's strings, each up to its zero (the last one up to the end),
// taken in pairs over the whole length: a deletion's empty target does not
// end the value. The closing zero makes a last, unpaired empty string.
std::vector<PendingRename> PendingRenamesOf(const std::vector<uint8_t>& bytes) {
  std::vector<std::string> strings;
  size_t at = 0;
  while (at < bytes.size()) {
    size_t end = at;
    while (end < bytes.size() && bytes[end] != 0) ++end;
    strings.emplace_back(bytes.begin() + long(at), bytes.begin() + long(end));
    at = end + 1;
  }
  std::vector<PendingRename> renames;
  for (size_t i = 0; i + 1 < strings.size(); i += 2) {
    PendingRename r{WithoutNtPrefix(strings[i]), strings[i + 1], false};
    if (!r.to.empty() && r.to[0] == '!') {
      r.replaces = true;
      r.to.erase(0, 1);
    }
    r.to = WithoutNtPrefix(r.to);
    renames.push_back(r);
  }
  return renames;
}

// What a restart does with files, on whichever picture of them.
struct FileOps {
  std::function<bool(const std::string&)> has;
  std::function<void(const std::string&)> remove;
  std::function<void(const std::string& from, const std::string& to)> move;
};

// Carries out the pending renames of `keys` in order and removes the value.
void CarryOutPendingRenames(std::map<std::string, FakeRegKeyData, NoCase>& keys,
                            const FileOps& ops) {
  auto key = keys.find(kSessionManagerKey);
  if (key == keys.end()) return;
  auto value = key->second.find(kPendingRenamesValue);
  if (value == key->second.end()) return;
  for (const PendingRename& r : PendingRenamesOf(value->second.bytes)) {
    if (r.from.empty() || !ops.has(r.from) || SamePath(r.from, r.to)) continue;  // onto itself: no change
    if (r.to.empty()) {
      ops.remove(r.from);
    } else if (!ops.has(r.to) || r.replaces) {
      if (ops.has(r.to)) ops.remove(r.to);
      ops.move(r.from, r.to);
    }
  }
  key->second.erase(value);
}

void RemoveMarkedServices(std::map<std::string, FakeServiceEntry, NoCase>& services) {
  std::erase_if(services, [](const auto& entry) { return entry.second.markedForDeletion; });
}

}  // namespace

MachineView AfterRestart(MachineView disk) {
  auto& files = disk.files;
  CarryOutPendingRenames(
      disk.keys, {[&](const std::string& path) { return files.count(path) != 0; },
                  [&](const std::string& path) { files.erase(path); },
                  [&](const std::string& from, const std::string& to) {
                    std::vector<uint8_t> bytes = std::move(files[from]);
                    files.erase(from);
                    files[to] = std::move(bytes);
                  }});
  RemoveMarkedServices(disk.services);
  return disk;
}

void FakePlatform::LoadFilter(const std::string& name) {
  services.running.insert(name);
  auto service = services.services.find(name);
  if (service != services.services.end()) files.locked.insert(service->second.config.binaryPath);
}

void FakePlatform::Restart() {
  // The power goes: what is not on the disk is lost, and every process ends.
  for (auto& [path, file] : files.files) {
    file.bytes = file.OnDisk();
    file.unflushed.reset();
  }
  for (const auto& [path, disk] : registry.unflushed) {
    registry.keys.erase(path);
    if (disk) registry.keys[path] = *disk;
  }
  for (const auto& [name, disk] : services.unflushed) {
    services.services.erase(name);
    if (disk) services.services[name] = *disk;
  }
  registry.unflushed.clear();
  services.unflushed.clear();
  files.open.clear();
  files.locked.clear();
  services.running.clear();
  // Windows starts: the pending renames before any driver loads.
  CarryOutPendingRenames(registry.keys,
                         {[&](const std::string& path) { return files.Has(path); },
                          [&](const std::string& path) { files.EraseEntry(path); },
                          [&](const std::string& from, const std::string& to) {
                            files.MoveEntry(from, to);
                          }});
  RemoveMarkedServices(services.services);
  std::set<std::string, NoCase> listed;
  for (const auto& [key, values] : registry.keys) {
    for (const std::string& name : MultiSzOf(registry.keys, key, "LowerFilters").value_or(
             std::vector<std::string>{})) {
      listed.insert(name);
    }
  }
  for (const auto& [name, entry] : services.services) {
    uint32_t start = entry.config.startType;
    bool starts = start <= 1 || (start == win::kServiceDemandStart && listed.count(name));
    if (starts && files.Has(entry.config.binaryPath)) LoadFilter(name);
  }
  sleep.bootTime = sleep.Now() + 60ull * 10000000;  // a minute to shut down and start
  sleep.ticks = 0;
  sleep.tickWraps = 0;
}

}  // namespace kst::fake
