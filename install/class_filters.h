#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "install/drivers.h"
#include "platform/platform.h"

namespace kst {

// Puts `name` at the head of the class key's "LowerFilters" list.
bool RegLowerFilter(const std::string& name, const std::string& classKey);
// Takes `name` out of the class key's "LowerFilters" list.
bool DelLowerFilter(const std::string& name, const std::string& classKey);

// True when the class key's "LowerFilters" list names `name`, and also when
// the key or the list exists but cannot be read to tell: a caller about to
// remove what a listed driver needs keeps it. A missing key or value lists
// nothing. Writes no trace line.
bool LowerFilterMayName(const std::string& name, const std::string& classKey);

// LowerFilterMayName over several class lists: true when any may name it.
bool AnyLowerFilterMayName(const std::string& name, std::span<const ClassList> lists);

// Opens the key below HKEY_LOCAL_MACHINE and flushes it (RegFlushKey), so
// that its changes survive a power cut. The status of the open or the flush.
RegStatus FlushLocalMachineKey(const std::string& path);

// Flushes the class key of every list; true when each one's changes are on
// the disk (a key that does not exist has none). A key that cannot be
// flushed is traced.
bool FlushClassLists(std::span<const ClassList> lists);

inline constexpr const char* kLowerFiltersValue = "LowerFilters";
inline constexpr const char* kUpperFiltersValue = "UpperFilters";

// A registry value as far as it could be read.
struct StoredValue {
  enum class State { kNoKey, kNoValue, kRead, kUnreadable };
  State state = State::kNoKey;
  uint32_t type = 0;           // kRead: the value's type
  std::vector<uint8_t> bytes;  // kRead: its data
};

// Reads a value of a key below HKEY_LOCAL_MACHINE opened with read rights
// only; a value of more than `maxSize` bytes is unreadable. Writes nothing,
// traces nothing.
StoredValue ReadStoredValue(const std::string& key, const char* valueName, uint32_t maxSize);

// A stored filter list as far as it could be read.
struct StoredFilterList {
  using State = StoredValue::State;
  State state = State::kNoKey;
  std::vector<std::string> entries;  // kRead: in stored order, up to the first empty string
  uint32_t type = win::kRegMultiSz;  // kRead: the value's type, which the system reads only as REG_MULTI_SZ
};

// The most bytes of a stored list that are read; a larger list is unreadable.
inline constexpr uint32_t kMaxStoredListSize = 64 * 1024;

// Reads a filter list value ("LowerFilters", "UpperFilters") of a class key
// opened with read rights only, whatever its type. Writes nothing, traces nothing.
StoredFilterList ReadStoredFilterList(const std::string& classKey, const char* valueName);

}  // namespace kst
