#pragma once
// An entry of the filter's device list, as tests build one.
#include <algorithm>
#include <cstdint>
#include <string>

#include "device/scsi_layout.h"

namespace kst::test {

// An entry with the given numbers; no drive letter unless given. The
// adapter name is cut to its 8 bytes.
inline ScsiInfo Entry(uint32_t hba, uint32_t path, uint32_t target, uint32_t lun = 0,
                      const std::string& name = "scsi0", uint32_t driveLetter = 0,
                      uint32_t context = 0) {
  ScsiInfo e;
  e.hbaNumber = hba;
  e.pathId = path;
  e.targetId = target;
  e.lun = lun;
  e.driveLetter = driveLetter;
  std::copy_n(name.begin(), std::min<size_t>(name.size(), 8), e.adapterName.begin());
  e.context = context;
  return e;
}

}  // namespace kst::test
