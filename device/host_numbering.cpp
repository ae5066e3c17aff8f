#include "device/host_numbering.h"

#include <algorithm>
#include <map>

namespace kst {
namespace {

std::string Decimal(uint64_t value) { return std::to_string(value); }

std::string EntryText(size_t index) { return "error: entry " + Decimal(index); }

// The entries' names in list order, with the indices of the entries that
// belong to each name and whose ids all fit in a byte.
struct NameGroups {
  std::vector<std::string> names;
  std::vector<std::vector<size_t>> members;
};

bool FitsByteIds(const ScsiInfo& e) {
  return e.hbaNumber <= kLargestByteId && e.pathId <= kLargestByteId &&
         e.targetId <= kLargestByteId;
}

// True when no nonzero byte follows the first zero byte of the name.
bool IsPaddedName(const std::array<uint8_t, 8>& name) {
  auto zero = std::find(name.begin(), name.end(), uint8_t(0));
  return std::all_of(zero, name.end(), [](uint8_t b) { return b == 0; });
}

// The name's bytes up to the first zero as base-256 digits: none of them is
// zero, so names of different texts have different keys.
uint64_t NameKey(const std::array<uint8_t, 8>& name) {
  uint64_t key = 0;
  for (uint8_t b : name) {
    if (b == 0) break;
    key = key << 8 | b;
  }
  return key;
}

NameGroups GroupByName(const std::vector<ScsiInfo>& entries, std::vector<std::string>& notes) {
  NameGroups groups;
  std::map<uint64_t, size_t> indexOf;
  for (size_t i = 0; i < entries.size(); ++i) {
    const ScsiInfo& e = entries[i];
    auto [at, added] = indexOf.emplace(NameKey(e.adapterName), groups.names.size());
    if (added) {
      groups.names.push_back(AdapterNameText(e.adapterName));
      groups.members.emplace_back();
    }
    if (!FitsByteIds(e)) {
      notes.push_back(EntryText(i) + " not listed: HBA" + Decimal(e.hbaNumber) + "Path" +
                      Decimal(e.pathId) + "Target" + Decimal(e.targetId) + " beyond 255");
    } else if (IsPaddedName(e.adapterName)) {
      groups.members[at->second].push_back(i);
    }
  }
  return groups;
}

std::string HostNote(size_t entry, int64_t host) {
  return EntryText(entry) + " not listed: host number " + Decimal(uint64_t(host)) + " beyond 255";
}

// Lists one name's members in grid order; returns the host numbers used.
int64_t NumberNameNT(const std::vector<ScsiInfo>& entries, std::vector<size_t> members,
                     int64_t firstHost, HostNumbering& out) {
  uint32_t maxHba = 0, maxPath = 0;
  for (size_t i : members) {
    maxHba = std::max(maxHba, entries[i].hbaNumber);
    maxPath = std::max(maxPath, entries[i].pathId);
  }
  auto cell = [&](size_t i) {
    const ScsiInfo& e = entries[i];
    return e.hbaNumber << 16 | e.pathId << 8 | e.targetId;
  };
  // Of the entries of one cell, the filter's first comes first.
  std::sort(members.begin(), members.end(), [&](size_t a, size_t b) {
    return cell(a) != cell(b) ? cell(a) < cell(b) : a < b;
  });
  for (size_t k = 0; k < members.size(); ++k) {
    size_t i = members[k];
    if (k > 0 && cell(members[k - 1]) == cell(i)) continue;  // another LUN of a listed target
    int64_t host = firstHost + int64_t(entries[i].hbaNumber) * (maxPath + 1) + entries[i].pathId;
    if (host > kLargestByteId) {
      out.notes.push_back(HostNote(i, host));
      continue;
    }
    out.devices.push_back({i, uint8_t(host), uint8_t(entries[i].targetId)});
  }
  return int64_t(maxHba + 1) * (maxPath + 1);
}

}  // namespace

std::string AdapterNameText(const std::array<uint8_t, 8>& name) {
  auto zero = std::find(name.begin(), name.end(), uint8_t(0));
  return std::string(name.begin(), zero);
}

HostNumbering NumberDevicesNT(const std::vector<ScsiInfo>& entries) {
  HostNumbering out;
  NameGroups groups = GroupByName(entries, out.notes);
  int64_t hosts = 0;
  for (const auto& members : groups.members) {
    hosts += NumberNameNT(entries, members, hosts, out);
  }
  out.adapterNames = std::move(groups.names);
  out.nLastScsiHost = int32_t(std::min<int64_t>(hosts, kLargestByteId + 1));
  return out;
}

HostNumbering NumberDevices9x(const std::vector<ScsiInfo>& entries) {
  HostNumbering out;
  NameGroups groups = GroupByName(entries, out.notes);
  for (size_t host = 0; host < groups.members.size(); ++host) {
    size_t running = 0;
    for (size_t i : groups.members[host]) {
      if (host > kLargestByteId) {
        out.notes.push_back(HostNote(i, int64_t(host)));
      } else if (running > kLargestByteId) {
        out.notes.push_back(EntryText(i) + " not listed: target number " + Decimal(running) +
                            " beyond 255");
      } else {
        out.devices.push_back({i, uint8_t(host), uint8_t(running++)});
      }
    }
  }
  if (!groups.names.empty()) {
    out.nLastScsiHost = int32_t(std::min<size_t>(groups.names.size() - 1, kLargestByteId));
  }
  out.adapterNames = std::move(groups.names);
  return out;
}

}  // namespace kst
