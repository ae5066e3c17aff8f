#pragma once
// A fake machine for the install tests: the class keys with the other
// drivers' filter lists a real machine has, the embedded images, and checks
// of the state the install and uninstall procedures leave behind.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "install/class_filters.h"
#include "install/drivers.h"
#include "platform/fake/fake_platform.h"
#include "tests/unit/support/driver_files.h"

namespace kst::test {

using Entries = std::vector<std::string>;

// The class keys: SCSI adapters, IDE ATA/ATAPI controllers, CD/DVD-ROM drives.
inline const std::string kAdapterClass = KESTRUNE_REG_KEY_ATA;
inline const std::string kIdeClass = KESTRUNE_REG_KEY_SCSI;
inline const std::string kCdromClass = MORVELLIN_REG_KEY_CDVDROM;

// The other drivers' entries of each class key, as a machine has them.
inline std::map<std::string, Entries> OtherEntries() {
  return {{kAdapterClass, {"atapiflt", "SCSIFLT2"}}, {kIdeClass, {"ideguard"}}, {kCdromClass, {"imapi", "redbook"}}};
}

// Every carried image, each of its own size and bytes.
inline void SeedImages(fake::FakePlatform& fp) {
  uint8_t fill = 0x4B;
  for (const FilterDriver* d : kNtDrivers) {
    fp.resources.images[d->image.resourceId] = std::vector<uint8_t>(3000u - 7u * fill, fill);
    ++fill;
  }
  fp.resources.images[kKestruneVxd.resourceId] = std::vector<uint8_t>(1000, 0x56);
}

// An NT machine before the first installation: the class keys hold the
// other drivers' lists (or exist without a list when `withOthers` is false).
inline void SeedNtMachine(fake::FakePlatform& fp, bool withOthers = true) {
  fp.system.platformId = win::kVerPlatformWin32Nt;
  SeedImages(fp);
  for (const auto& [key, others] : OtherEntries()) {
    if (withOthers) {
      fp.registry.SetMultiSz(key, "LowerFilters", others);
    } else {
      fp.registry.keys[key];
    }
  }
}

inline Entries ListOf(const fake::FakePlatform& fp, const std::string& key) {
  return fp.registry.MultiSz(key, "LowerFilters").value_or(Entries{});
}

inline bool SameName(const std::string& a, const std::string& b) {
  return !fake::NoCase()(a, b) && !fake::NoCase()(b, a);
}

inline int Count(const Entries& entries, const std::string& name) {
  int n = 0;
  for (const std::string& e : entries) n += SameName(e, name) ? 1 : 0;
  return n;
}

// Images an earlier installation left or requested for the restart, by file
// path: a listed driver's file may hold one of these instead of the carried
// image.
using OlderImages = std::multimap<std::string, std::vector<uint8_t>, fake::NoCase>;
using CarriedImages = std::map<int, std::vector<uint8_t>>;

// True when the file holds a complete image: the carried one, or the older
// one seeded for it.
inline bool HoldsCompleteImage(const fake::MachineView& machine, const CarriedImages& carried,
                               const std::string& file, int resource, const OlderImages& older) {
  auto at = machine.files.find(file);
  if (at == machine.files.end()) return false;
  auto image = carried.find(resource);
  if (image != carried.end() && at->second == image->second) return true;
  auto [first, last] = older.equal_range(file);
  for (auto old = first; old != last; ++old) {
    if (at->second == old->second) return true;
  }
  return false;
}

// The state that must hold of a machine however a run failed or wherever it
// stopped, as it runs and as its disk holds it after a power cut: every
// other driver's entry is still there in its order, each of our names is
// listed at most once, a listed driver has its service and a complete
// image, and a VxD that is there is complete.
inline void ExpectSafeMachine(const fake::MachineView& machine, const CarriedImages& carried,
                              const std::string& context, const OlderImages& older = {}) {
  auto listOf = [&](const std::string& key) {
    return fake::MultiSzOf(machine.keys, key, "LowerFilters").value_or(Entries{});
  };
  auto ours = [](const std::string& entry) {
    for (const FilterDriver* d : kNtDrivers) {
      if (SameName(entry, d->serviceName)) return true;
    }
    return false;
  };
  for (const auto& [key, others] : OtherEntries()) {
    Entries kept;
    for (const std::string& e : listOf(key)) {
      if (!ours(e)) kept.push_back(e);
    }
    EXPECT_EQ(kept, others) << context << ": " << key;
  }
  for (const FilterDriver* d : kNtDrivers) {
    const std::string name = d->serviceName;
    for (const ClassList& list : d->lists) {
      int listed = Count(listOf(list.key), name);
      EXPECT_LE(listed, 1) << context << ": " << name << " in " << list.key;
      if (listed == 0) continue;
      EXPECT_EQ(machine.services.count(name), 1u)
          << context << ": " << name << " listed in " << list.key << " without its service";
      const std::string file = kSysDir + d->image.relativePath;
      EXPECT_TRUE(HoldsCompleteImage(machine, carried, file, d->image.resourceId, older))
          << context << ": " << name << " listed in " << list.key
          << (machine.files.count(file) ? " with an incomplete image" : " without its file");
    }
  }
  if (machine.files.count(kVxdFile)) {
    EXPECT_TRUE(HoldsCompleteImage(machine, carried, kVxdFile, kKestruneVxd.resourceId, older))
        << context << ": Kestrune.vxd incomplete";
  }
}

// The running machine is safe, and so is the machine Windows starts with
// from it; no handle is left open.
inline void ExpectSafeState(const fake::FakePlatform& fp, const std::string& context,
                            const OlderImages& older = {}) {
  ExpectSafeMachine(fp.Live(), fp.resources.images, context, older);
  ExpectSafeMachine(fake::AfterRestart(fp.Live()), fp.resources.images,
                    context + ", after the restart", older);
  EXPECT_EQ(fp.OpenHandles(), 0) << context;
}

// Every disk a power cut now could leave is safe as Windows starts from it
// (its requests for the restart carried out, services marked for deletion
// gone): each registry key changed since its last flush either lost its
// changes or had them all written by the system on its own, in any
// combination; every file operation is kept, each file's bytes as of its
// last flush. Returns the number of disks judged.
inline int ExpectSafeAfterPowerCut(const fake::FakePlatform& fp, const std::string& context,
                                   const OlderImages& older = {}) {
  const std::vector<std::string> keys = fp.UnflushedKeys();
  if (keys.size() > 12) {
    ADD_FAILURE() << context << ": " << keys.size() << " keys not flushed";
    return 0;
  }
  const uint32_t combinations = 1u << keys.size();
  for (uint32_t written = 0; written < combinations; ++written) {
    std::set<std::string, fake::NoCase> writtenKeys;
    std::string which;
    for (size_t i = 0; i < keys.size(); ++i) {
      if (!(written & (1u << i))) continue;
      writtenKeys.insert(keys[i]);
      which += " " + keys[i];
    }
    ExpectSafeMachine(fake::AfterRestart(fp.AfterPowerCut(writtenKeys)), fp.resources.images,
                      context + ", on the disk after a power cut" +
                          (which.empty() ? "" : " (written by the system:" + which + ")"),
                      older);
  }
  return int(combinations);
}

// The files other than the driver images: files of our own left behind.
inline std::vector<std::string> StrayFiles(const fake::FakePlatform& fp) {
  std::vector<std::string> stray;
  for (const auto& [path, data] : fp.files.files) {
    if (!SameName(path, kKestruneFile) && !SameName(path, kMorvellinFile) &&
        !SameName(path, kVxdFile)) {
      stray.push_back(path);
    }
  }
  return stray;
}

}  // namespace kst::test
