#pragma once
// The NT numbering as a plain walk over the grid of HBA numbers, path ids
// and target ids of each adapter name, cell by cell, looking up the first
// entry of every cell among all entries. Slow on purpose: it is the
// yardstick NumberDevicesNT is compared with.
#include <algorithm>
#include <string>
#include <vector>

#include "device/host_numbering.h"

namespace kst::test {

inline HostNumbering ReferenceGridWalk(const std::vector<ScsiInfo>& entries) {
  HostNumbering out;
  auto fits = [](const ScsiInfo& e) {
    return e.hbaNumber <= 255 && e.pathId <= 255 && e.targetId <= 255;
  };
  // The name list, and the notes for ids that do not fit, in entry order.
  for (size_t i = 0; i < entries.size(); ++i) {
    std::string text = AdapterNameText(entries[i].adapterName);
    if (std::find(out.adapterNames.begin(), out.adapterNames.end(), text) ==
        out.adapterNames.end()) {
      out.adapterNames.push_back(text);
    }
    const ScsiInfo& e = entries[i];
    if (!fits(e)) {
      out.notes.push_back("error: entry " + std::to_string(i) + " not listed: HBA" +
                          std::to_string(e.hbaNumber) + "Path" + std::to_string(e.pathId) +
                          "Target" + std::to_string(e.targetId) + " beyond 255");
    }
  }
  long long host = 0;
  for (const std::string& name : out.adapterNames) {
    std::array<uint8_t, 8> padded{};
    std::copy(name.begin(), name.end(), padded.begin());
    auto belongs = [&](const ScsiInfo& e) { return fits(e) && e.adapterName == padded; };
    uint32_t maxHba = 0, maxPath = 0, maxTarget = 0;
    for (const ScsiInfo& e : entries) {
      if (!belongs(e)) continue;
      maxHba = std::max(maxHba, e.hbaNumber);
      maxPath = std::max(maxPath, e.pathId);
      maxTarget = std::max(maxTarget, e.targetId);
    }
    for (uint32_t h = 0; h <= maxHba; ++h) {
      for (uint32_t p = 0; p <= maxPath; ++p) {
        for (uint32_t t = 0; t <= maxTarget; ++t) {
          for (size_t i = 0; i < entries.size(); ++i) {
            const ScsiInfo& e = entries[i];
            if (!belongs(e) || e.hbaNumber != h || e.pathId != p || e.targetId != t) {
              continue;
            }
            if (host > 255) {
              out.notes.push_back("error: entry " + std::to_string(i) +
                                  " not listed: host number " + std::to_string(host) +
                                  " beyond 255");
            } else {
              out.devices.push_back({i, uint8_t(host), uint8_t(t)});
            }
            break;
          }
        }
        ++host;
      }
    }
  }
  out.nLastScsiHost = int32_t(std::min(host, 256LL));
  return out;
}

}  // namespace kst::test
