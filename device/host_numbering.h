#pragma once
// Which of the filter's entries become device records, in which order, and
// under which host number and target id: the numbering of both inventory
// builders, apart from any device I/O. No platform calls.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "device/scsi_layout.h"

namespace kst {

// Largest HBA number, path id, target id and host number a record can carry.
inline constexpr uint32_t kLargestByteId = 255;

struct NumberedDevice {
  size_t entry = 0;  // index into the entries
  uint8_t hostNumber = 0;
  uint8_t targetId = 0;
};

struct HostNumbering {
  // Distinct adapter name texts in the order they first occur.
  std::vector<std::string> adapterNames;
  // One trace line per entry that is not listed because a number it needs
  // does not fit in a byte; in the order the entries were met.
  std::vector<std::string> notes;
  std::vector<NumberedDevice> devices;  // in record order
  int32_t nLastScsiHost = 0;
};

// The 8 name bytes up to the first zero byte.
std::string AdapterNameText(const std::array<uint8_t, 8>& name);

// The numbering of the NT builder. Per adapter name, in list order, it is
// the walk over HBA numbers, path ids and target ids from 0 to their largest
// values among the name's entries: every (HBA, path) pair takes the next host
// number, and the first entry of each (HBA, path, target) is listed. The
// result is computed from the entries alone, in O(n log n).
//
// An entry belongs to a name only when its bytes are the name's text
// followed by zero bytes. Entries with an HBA number, path id or target id
// above 255 take no part in the walk; host numbers above 255 are not given
// out and their entries are not listed; each such entry gets a note.
// nLastScsiHost is the count of host numbers given out, at most 256.
HostNumbering NumberDevicesNT(const std::vector<ScsiInfo>& entries);

// The numbering of the 9x builder: per adapter name in list order, every
// entry of that name in the filter's order; the host number is the name's
// index in the list, the target id the record's running number within its
// name. Entries with ids above 255, and entries that would need a host
// number or running number above 255, are not listed (a note each).
// nLastScsiHost is the largest host number given to a name.
HostNumbering NumberDevices9x(const std::vector<ScsiInfo>& entries);

}  // namespace kst
