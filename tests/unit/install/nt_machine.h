#pragma once
// A fake machine for the install tests: the class keys with the other
// drivers' filter lists a real machine has, the embedded images, and checks
// of the state the install and uninstall procedures leave behind.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "install/class_filters.h"
#include "platform/fake/fake_platform.h"

namespace kst::testing {

using Entries = std::vector<std::string>;

inline const std::string kSysDir = "C:\\WINDOWS\\system32";
inline const std::string kKestruneFile = kSysDir + "\\Drivers\\Kestrune.sys";
inline const std::string kMorvellinFile = kSysDir + "\\Drivers\\Morvellin.sys";
inline const std::string kVxdFile = kSysDir + "\\Iosubsys\\Kestrune.vxd";
inline const std::string kAta = KESTRUNE_REG_KEY_ATA;
inline const std::string kScsi = KESTRUNE_REG_KEY_SCSI;
inline const std::string kCdrom = MORVELLIN_REG_KEY_CDVDROM;

// The other drivers' entries of each class key, as a machine has them.
inline std::map<std::string, Entries> OtherEntries() {
  return {{kAta, {"atapiflt", "SCSIFLT2"}}, {kScsi, {"ideguard"}}, {kCdrom, {"imapi", "redbook"}}};
}

inline void SeedImages(fake::FakePlatform& fp) {
  fp.resources.images[104] = std::vector<uint8_t>(3000, 0x4B);
  fp.resources.images[105] = std::vector<uint8_t>(2000, 0x4D);
  fp.resources.images[106] = std::vector<uint8_t>(1000, 0x56);
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

// Images an earlier installation left, by file path: a listed driver's file
// may still hold one of these instead of the carried image.
using OlderImages = std::map<std::string, std::vector<uint8_t>>;

// True when the file holds a complete image: the carried one, or the older
// one seeded for it.
inline bool HoldsCompleteImage(const fake::FakePlatform& fp, const std::string& file,
                               int resource, const OlderImages& older) {
  auto at = fp.files.files.find(file);
  if (at == fp.files.files.end()) return false;
  auto carried = fp.resources.images.find(resource);
  if (carried != fp.resources.images.end() && at->second.bytes == carried->second) return true;
  auto old = older.find(file);
  return old != older.end() && at->second.bytes == old->second;
}

// The state that must hold after any run, however it failed or wherever it
// stopped: every other driver's entry is still there in its order, each of
// our names is listed at most once, a listed driver has its service and a
// complete image, a VxD that is there is complete, and no handle is left
// open.
inline void ExpectSafeState(const fake::FakePlatform& fp, const std::string& context,
                            const OlderImages& older = {}) {
  struct Driver {
    std::string name, file;
    int resource;
    std::vector<std::string> keys;
  };
  const Driver drivers[] = {{"Kestrune", kKestruneFile, 104, {kAta, kScsi}},
                            {"Morvellin", kMorvellinFile, 105, {kCdrom}}};
  for (const auto& [key, others] : OtherEntries()) {
    Entries kept;
    for (const std::string& e : ListOf(fp, key)) {
      if (!SameName(e, "Kestrune") && !SameName(e, "Morvellin")) kept.push_back(e);
    }
    EXPECT_EQ(kept, others) << context << ": " << key;
  }
  for (const Driver& d : drivers) {
    for (const std::string& key : d.keys) {
      int listed = Count(ListOf(fp, key), d.name);
      EXPECT_LE(listed, 1) << context << ": " << d.name << " in " << key;
      if (listed == 0) continue;
      EXPECT_EQ(fp.services.services.count(d.name), 1u)
          << context << ": " << d.name << " listed in " << key << " without its service";
      EXPECT_TRUE(HoldsCompleteImage(fp, d.file, d.resource, older))
          << context << ": " << d.name << " listed in " << key
          << (fp.files.Has(d.file) ? " with an incomplete image" : " without its file");
    }
  }
  if (fp.files.Has(kVxdFile)) {
    EXPECT_TRUE(HoldsCompleteImage(fp, kVxdFile, 106, older))
        << context << ": Kestrune.vxd incomplete";
  }
  EXPECT_EQ(fp.OpenHandles(), 0) << context;
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

}  // namespace kst::testing
