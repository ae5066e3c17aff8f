#pragma once
// A fake machine for the install tests: the class keys with the other
// drivers' filter lists a real machine has, the embedded images, and checks
// of the state the install and uninstall procedures leave behind.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "install/class_filters.h"
#include "install/drivers.h"
#include "platform/fake/fake_platform.h"

namespace kst::testing {

using Entries = std::vector<std::string>;

inline const std::string kSysDir = "C:\\WINDOWS\\system32";
inline const std::string kKestruneFile = kSysDir + kKestrune.image.relativePath;
inline const std::string kMorvellinFile = kSysDir + kMorvellin.image.relativePath;
inline const std::string kVxdFile = kSysDir + kKestruneVxd.relativePath;
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

// The state that must hold after any run, however it failed: every other
// driver's entry is still there in its order, each of our names is listed
// at most once, a listed driver has its service and its file, and no
// handle is left open.
inline void ExpectSafeState(const fake::FakePlatform& fp, const std::string& context) {
  auto ours = [](const std::string& entry) {
    for (const FilterDriver* d : kNtDrivers) {
      if (SameName(entry, d->serviceName)) return true;
    }
    return false;
  };
  for (const auto& [key, others] : OtherEntries()) {
    Entries kept;
    for (const std::string& e : ListOf(fp, key)) {
      if (!ours(e)) kept.push_back(e);
    }
    EXPECT_EQ(kept, others) << context << ": " << key;
  }
  for (const FilterDriver* d : kNtDrivers) {
    const std::string name = d->serviceName;
    for (const ClassList& list : d->lists) {
      int listed = Count(ListOf(fp, list.key), name);
      EXPECT_LE(listed, 1) << context << ": " << name << " in " << list.key;
      if (listed == 0) continue;
      EXPECT_EQ(fp.services.services.count(name), 1u)
          << context << ": " << name << " listed in " << list.key << " without its service";
      EXPECT_TRUE(fp.files.Has(kSysDir + d->image.relativePath))
          << context << ": " << name << " listed in " << list.key << " without its file";
    }
  }
  EXPECT_EQ(fp.OpenHandles(), 0) << context;
}

}  // namespace kst::testing
