#include "install/class_filters.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "diag/trace.h"
#include "install/filter_list.h"
#include "platform/platform.h"

namespace kst {
namespace {

constexpr const char* kLowerFilters = kLowerFiltersValue;
constexpr RegStatus kRegNotFound = RegStatus(win::kErrorFileNotFound);

// Size query of the stored list: no data buffer, type preset to REG_MULTI_SZ.
RegStatus QueryListSize(IRegKey& key, uint32_t& size, const char* value = kLowerFilters) {
  uint32_t type = win::kRegMultiSz;
  size = 0;
  return key.QueryValue(value, &type, nullptr, &size);
}

// Reads `size` bytes of the stored list into a buffer of its own; nullopt
// when the read fails. Only the bytes the read reports are kept.
std::optional<std::vector<uint8_t>> ReadList(IRegKey& key, uint32_t size,
                                             const char* value = kLowerFilters) {
  std::vector<uint8_t> bytes(std::max<uint32_t>(size, 1), 0);
  uint32_t type = win::kRegMultiSz;
  uint32_t got = size;
  if (key.QueryValue(value, &type, bytes.data(), &got) != win::kErrorSuccess) {
    return std::nullopt;
  }
  bytes.resize(std::min(got, size));
  return bytes;
}

bool WriteList(IRegKey& key, const uint8_t* data, size_t size) {
  return key.SetValue(kLowerFilters, win::kRegMultiSz, data, uint32_t(size)) ==
         win::kErrorSuccess;
}

// Puts `name` at the head of the open key's list. The new list is written
// over the old value, so every refusal and failure leaves the stored list as
// it was. Only a value that does not exist is created anew: any other failed
// size query could hide a list whose entries a fresh value would lose.
bool AddToOpenKey(IRegKey& key, const std::string& name) {
  if (name.empty()) return false;
  uint32_t size = 0;
  RegStatus status = QueryListSize(key, size);
  if (status == kRegNotFound) {
    std::vector<uint8_t> fresh(name.begin(), name.end());
    fresh.insert(fresh.end(), 2, 0);
    return WriteList(key, fresh.data(), fresh.size());
  }
  if (status != win::kErrorSuccess || size > kFilterListBufferSize) return false;
  std::optional<std::vector<uint8_t>> old = ReadList(key, size);
  if (!old) return false;
  std::optional<FilterListBuffer> list = AddToFilterList(*old, name);
  return list && WriteList(key, list->data(), list->size());
}

// Takes `name` out of the open key's list; the kept list is written over the
// old value, and the value is removed when nothing remains.
bool RemoveFromOpenKey(IRegKey& key, const std::string& name) {
  uint32_t size = 0;
  if (QueryListSize(key, size) != win::kErrorSuccess) return false;
  if (size > kFilterListBufferSize) return false;
  std::optional<std::vector<uint8_t>> old = ReadList(key, size);
  if (!old) return true;  // nothing changed
  KeptFilterList kept = RemoveFromFilterList(*old, name);
  if (kept.bytes == 0) return key.DeleteValue(kLowerFilters) == win::kErrorSuccess;
  if (kept.bytes >= kFilterListBufferSize) return false;
  return WriteList(key, kept.list.data(), kept.list.size());
}

}  // namespace

bool RegLowerFilter(const std::string& name, const std::string& classKey) {
  Trace("RegLowerFilter: " + name + ": " + classKey);
  bool registered = false;
  {
    std::unique_ptr<IRegKey> key;
    if (Sys().registry.OpenLocalMachineKey(classKey, key) == win::kErrorSuccess && key) {
      registered = AddToOpenKey(*key, name);
    }
  }
  Trace((registered ? "Success to RegLowerFilter " : "Failed to RegLowerFilter ") + classKey);
  return registered;
}

bool DelLowerFilter(const std::string& name, const std::string& classKey) {
  Trace("DelLowerFilter: " + name + ": " + classKey);
  std::unique_ptr<IRegKey> key;
  if (Sys().registry.OpenLocalMachineKey(classKey, key) != win::kErrorSuccess || !key) {
    return false;
  }
  return RemoveFromOpenKey(*key, name);
}

bool AnyLowerFilterMayName(const std::string& name, std::span<const ClassList> lists) {
  for (const ClassList& list : lists) {
    if (LowerFilterMayName(name, list.key)) return true;
  }
  return false;
}

RegStatus FlushLocalMachineKey(const std::string& path) {
  std::unique_ptr<IRegKey> key;
  RegStatus status = Sys().registry.OpenLocalMachineKey(path, key);
  if (status != win::kErrorSuccess || !key) return status;
  return key->Flush();
}

bool FlushClassLists(std::span<const ClassList> lists) {
  bool all = true;
  for (const ClassList& list : lists) {
    RegStatus status = FlushLocalMachineKey(list.key);
    if (status == win::kErrorSuccess || status == kRegNotFound) continue;
    Trace(std::string("Failed to RegFlushKey ") + list.key);
    all = false;
  }
  return all;
}

bool LowerFilterMayName(const std::string& name, const std::string& classKey) {
  std::unique_ptr<IRegKey> key;
  RegStatus status = Sys().registry.OpenLocalMachineKey(classKey, key);
  if (status == kRegNotFound) return false;
  if (status != win::kErrorSuccess || !key) return true;
  uint32_t size = 0;
  status = QueryListSize(*key, size);
  if (status == kRegNotFound) return false;
  if (status != win::kErrorSuccess) return true;
  // Read whatever size is stored: a list too large to edit may still name it.
  std::optional<std::vector<uint8_t>> list = ReadList(*key, size);
  return !list || FilterListNames(*list, name);
}

StoredValue ReadStoredValue(const std::string& path, const char* valueName, uint32_t maxSize) {
  using State = StoredValue::State;
  StoredValue value;
  std::unique_ptr<IRegKey> key;
  RegStatus status = Sys().registry.OpenLocalMachineKeyToRead(path, key);
  value.state = status == kRegNotFound ? State::kNoKey : State::kUnreadable;
  if (status != win::kErrorSuccess || !key) return value;
  uint32_t size = 0;
  value.type = win::kRegMultiSz;
  status = key->QueryValue(valueName, &value.type, nullptr, &size);
  value.state = status == kRegNotFound ? State::kNoValue : State::kUnreadable;
  if (status != win::kErrorSuccess || size > maxSize) return value;
  std::optional<std::vector<uint8_t>> bytes = ReadList(*key, size, valueName);
  if (!bytes) return value;
  value.state = State::kRead;
  value.bytes = std::move(*bytes);
  return value;
}

StoredFilterList ReadStoredFilterList(const std::string& classKey, const char* valueName) {
  StoredValue value = ReadStoredValue(classKey, valueName, kMaxStoredListSize);
  StoredFilterList list;
  list.state = value.state;
  if (value.state == StoredValue::State::kRead) {
    list.entries = FilterListEntries(value.bytes);
    list.type = value.type;
  }
  return list;
}

}  // namespace kst
