// Building the inventory and numbering its devices from arbitrary entry
// arrays and counts.
//
// Input: a mode byte (bit 0: ids folded into small ranges, bit 1: the NT
// builder, bit 2: the 9x builder, bit 3: the count request fails), the
// reported count (4 bytes, little-endian, signed), then the bytes the filter
// answers to the entries request: 32 per entry, a short answer when fewer.
//
// A count the builders accept is folded to at most 8 entries beyond the
// answer (see FoldedCount); counts they refuse are passed whole.
#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "device/host_numbering.h"
#include "device/inventory.h"
#include "device/scsi_layout.h"
#include "platform/fake/fake_platform.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/shared_fake.h"
#include "tests/unit/device/grid_walk_reference.h"

namespace kst {
namespace {

bool Fits(const ScsiInfo& e) {
  return e.hbaNumber <= 255 && e.pathId <= 255 && e.targetId <= 255;
}

bool Padded(const ScsiInfo& e) {
  std::array<uint8_t, 8> padded{};
  std::string text = AdapterNameText(e.adapterName);
  std::copy(text.begin(), text.end(), padded.begin());
  return padded == e.adapterName;
}

bool Noted(const HostNumbering& n, size_t entry) {
  std::string head = "error: entry " + std::to_string(entry) + " not listed: ";
  return std::any_of(n.notes.begin(), n.notes.end(),
                     [&](const std::string& note) { return note.rfind(head, 0) == 0; });
}

bool SameNumbering(const HostNumbering& a, const HostNumbering& b) {
  auto same = [](const NumberedDevice& x, const NumberedDevice& y) {
    return x.entry == y.entry && x.hostNumber == y.hostNumber && x.targetId == y.targetId;
  };
  return a.adapterNames == b.adapterNames && a.notes == b.notes &&
         a.nLastScsiHost == b.nLastScsiHost && a.devices.size() == b.devices.size() &&
         std::equal(a.devices.begin(), a.devices.end(), b.devices.begin(), same);
}

// Which entry stands for each device cell: the first of the filter's order.
using Cell = std::tuple<std::string, uint32_t, uint32_t, uint32_t>;
Cell CellOf(const ScsiInfo& e) {
  return {AdapterNameText(e.adapterName), e.hbaNumber, e.pathId, e.targetId};
}

// Every entry is listed once, noted, another LUN of a listed or noted cell,
// or of a name padded with other bytes; listed devices keep their target ids
// and host numbers stay within what nLastScsiHost counts.
void CheckNT(const std::vector<ScsiInfo>& entries, const HostNumbering& n) {
  std::map<Cell, size_t> firstOfCell;
  for (size_t i = 0; i < entries.size(); ++i)
    if (Fits(entries[i]) && Padded(entries[i])) firstOfCell.emplace(CellOf(entries[i]), i);
  std::vector<int> listed(entries.size(), 0);
  for (const NumberedDevice& d : n.devices) {
    FUZZ_CHECK(d.entry < entries.size());
    ++listed[d.entry];
    FUZZ_CHECK(d.targetId == entries[d.entry].targetId);
    FUZZ_CHECK(d.hostNumber < n.nLastScsiHost);
  }
  for (size_t i = 0; i < entries.size(); ++i) {
    const ScsiInfo& e = entries[i];
    bool first = Fits(e) && Padded(e) && firstOfCell.at(CellOf(e)) == i;
    FUZZ_CHECK(listed[i] == 0 || (listed[i] == 1 && first));
    if (!Fits(e) || first) FUZZ_CHECK((listed[i] == 1) != Noted(n, i));
  }
  FUZZ_CHECK(n.nLastScsiHost >= 0 && n.nLastScsiHost <= 256);
  if (n.nLastScsiHost < 256 && std::all_of(entries.begin(), entries.end(), Fits))
    FUZZ_CHECK(n.notes.empty() && n.devices.size() == firstOfCell.size());
}

// Per name in list order, every entry of the name in the filter's order:
// host number = the name's index, target id = the running number.
void Check9x(const std::vector<ScsiInfo>& entries, const HostNumbering& n) {
  size_t previousHost = 0, previousEntry = 0, running = 0;
  for (size_t k = 0; k < n.devices.size(); ++k) {
    const NumberedDevice& d = n.devices[k];
    FUZZ_CHECK(d.hostNumber < n.adapterNames.size());
    FUZZ_CHECK(n.adapterNames[d.hostNumber] == AdapterNameText(entries[d.entry].adapterName));
    FUZZ_CHECK(Fits(entries[d.entry]) && Padded(entries[d.entry]));
    bool sameHost = k > 0 && d.hostNumber == previousHost;
    FUZZ_CHECK(k == 0 || d.hostNumber >= previousHost);
    if (sameHost) FUZZ_CHECK(d.entry > previousEntry);
    running = sameHost ? running + 1 : 0;
    FUZZ_CHECK(d.targetId == running);
    previousHost = d.hostNumber;
    previousEntry = d.entry;
  }
  if (!n.adapterNames.empty())
    FUZZ_CHECK(n.nLastScsiHost == int32_t(std::min<size_t>(n.adapterNames.size() - 1, 255)));
}

// The reference walk visits every cell of every name's grid: compared only
// where that stays cheap.
bool GridIsSmall(const std::vector<ScsiInfo>& entries) {
  uint64_t h = 0, p = 0, t = 0;
  for (const ScsiInfo& e : entries) {
    if (!Fits(e)) continue;
    h = std::max<uint64_t>(h, e.hbaNumber);
    p = std::max<uint64_t>(p, e.pathId);
    t = std::max<uint64_t>(t, e.targetId);
  }
  return (h + 1) * (p + 1) * (t + 1) * entries.size() * entries.size() <= 200000;
}

std::vector<ScsiInfo> Entries(const std::vector<uint8_t>& bytes, bool small) {
  std::vector<ScsiInfo> entries =
      *DecodeScsiInfoEntries(bytes.data(), bytes.size() / KST_SCSI_INFO_SIZE * KST_SCSI_INFO_SIZE);
  if (small) {
    for (ScsiInfo& e : entries) {
      e.hbaNumber %= 4;
      e.pathId %= 4;
      e.targetId %= 8;
    }
  }
  return entries;
}

void CheckNumbering(const std::vector<ScsiInfo>& entries) {
  HostNumbering nt = NumberDevicesNT(entries);
  CheckNT(entries, nt);
  if (GridIsSmall(entries)) FUZZ_CHECK(SameNumbering(nt, test::ReferenceGridWalk(entries)));
  Check9x(entries, NumberDevices9x(entries));
}

// ---- The builders over a filter that answers the input ---------------------

struct Filter {
  bool countFails = false;
  int32_t count = 0;
  std::vector<uint8_t> answer;  // to the entries request, as much as fits
  std::vector<uint32_t> entriesRequests;
  int passThroughs = 0;

  int Answer(uint32_t code, uint8_t* out, uint32_t outSize) {
    if (code == IOCTL_KESTRUNE_INITIATE || code == IOCTL_KESTRUNE_UNINITIATE) return 1;
    if (code == IOCTL_KESTRUNE_SCSI_PASS_THROUGH) {
      ++passThroughs;
      return 0;  // no device answers: one pass of two attempts each
    }
    if (outSize == 4) {
      std::memcpy(out, &count, 4);
      return countFails ? 0 : 1;
    }
    entriesRequests.push_back(outSize);
    std::copy_n(answer.begin(), std::min<size_t>(answer.size(), outSize), out);
    return 1;
  }
};

void CheckBuilder(Filter filter, bool nt) {
  fake::FakePlatform& fp = fuzz::Fresh();
  fp.devices.devices[KST_CONTROL_DEVICE_PATH] = [&](uint32_t code, const uint8_t*, uint32_t,
                                               uint8_t* out, uint32_t outSize, uint8_t*,
                                               uint32_t) { return filter.Answer(code, out, outSize); };
  DeviceInventory inv;
  bool result = nt ? InitiateKestruneNT(inv) : InitiateKestrune9x(inv);
  bool fetch = !filter.countFails && filter.count > 0 && filter.count <= kMaxScsiInfoCount;
  FUZZ_CHECK(result == (nt || fetch));
  FUZZ_CHECK(inv.nScsiInfoCount == (filter.countFails ? 0 : filter.count));
  FUZZ_CHECK(filter.entriesRequests.size() == (fetch ? 1u : 0u));
  if (fetch) FUZZ_CHECK(filter.entriesRequests[0] == uint32_t(filter.count) * KST_SCSI_INFO_SIZE);
  FUZZ_CHECK(inv.entries.size() == (fetch ? size_t(filter.count) : 0u));
  HostNumbering n = nt ? NumberDevicesNT(inv.entries) : NumberDevices9x(inv.entries);
  FUZZ_CHECK(inv.nDeviceCount == int32_t(inv.records.size()));
  FUZZ_CHECK(inv.records.size() == n.devices.size());
  FUZZ_CHECK(inv.records.size() <= inv.entries.size());
  FUZZ_CHECK(inv.nLastScsiHost == (fetch ? n.nLastScsiHost : 0));
  for (size_t k = 0; k < inv.records.size(); ++k) {
    const DeviceRecord& r = inv.records[k];
    const ScsiInfo& e = inv.entries[r.entry];
    FUZZ_CHECK(r.entry == n.devices[k].entry && r.hostNumber == n.devices[k].hostNumber &&
               r.targetId == n.devices[k].targetId);
    FUZZ_CHECK(r.pathId == uint8_t(e.pathId) && r.lun == uint8_t(e.lun));
    bool noLetter = e.driveLetter == 0 || e.driveLetter == 255;
    FUZZ_CHECK(r.driveLetter == (noLetter ? 255 : uint8_t(e.driveLetter)));
    FUZZ_CHECK(std::all_of(r.inquiry.begin(), r.inquiry.end(), [](uint8_t b) { return b == 0; }));
  }
  FUZZ_CHECK(filter.passThroughs == 2 * int(inv.records.size()));
  FUZZ_CHECK(fp.devices.openHandles == 0 && fp.devices.mostOpenAtOnce == 1);
}

// The builders' work grows with the count, and every entry beyond the
// answer is zero-filled alike: an accepted count of up to 4096 would spend
// each input on thousands of equal entries and slow the target a
// hundredfold. Folding keeps short answers, exact answers and zero-filled
// tails; the largest accepted count is a unit test's.
int32_t FoldedCount(int32_t count, size_t answerBytes) {
  if (count <= 0 || count > kMaxScsiInfoCount) return count;
  int32_t span = int32_t(answerBytes / KST_SCSI_INFO_SIZE) + 8;
  return 1 + (count - 1) % span;
}

}  // namespace
}  // namespace kst

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kst::fuzz::Input in(data, size);
  uint8_t mode = in.Byte();
  int32_t count = int32_t(in.Le32());
  std::vector<uint8_t> answer = in.Rest();
  kst::CheckNumbering(kst::Entries(answer, mode & 1));
  if (mode & 6) {
    kst::Filter filter{bool(mode & 8), kst::FoldedCount(count, answer.size()), answer, {}, 0};
    kst::CheckBuilder(filter, mode & 2);
  }
  return 0;
}
