#pragma once
// Editing of a REG_MULTI_SZ lower filter list, on bytes only.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kst {

// Size of the read buffer and of the new-list buffer.
inline constexpr size_t kFilterListBufferSize = 2352;
using FilterListBuffer = std::array<uint8_t, kFilterListBufferSize>;

// The new list: `name` first, then every entry of `oldList` that is not the
// same name (compared without regard to ASCII case, whole entries only), in
// stored order. `oldList` is read only within its bytes and up to its first
// empty string. Nullopt when the result does not fit the buffer together
// with its closing empty string, and for a name that is empty or holds a
// zero byte.
std::optional<FilterListBuffer> AddToFilterList(const std::vector<uint8_t>& oldList,
                                                const std::string& name);

struct KeptFilterList {
  FilterListBuffer list{};
  size_t bytes = 0;  // bytes of the kept entries with their zeros; 0 when none remains
};

// Every entry of `oldList` that is not the same name, in stored order, read
// as AddToFilterList reads it. `bytes` counts every kept entry even when they
// do not all fit: `bytes` of kFilterListBufferSize or more means the kept
// list has no room for its closing empty string and must not be written.
KeptFilterList RemoveFromFilterList(const std::vector<uint8_t>& oldList, const std::string& name);

// True when an entry of `list` (read as above) is the same name as `name`.
bool FilterListNames(const std::vector<uint8_t>& list, const std::string& name);

// The entries of `list` (read as above), in stored order.
std::vector<std::string> FilterListEntries(const std::vector<uint8_t>& list);

// True when two filter names are the same name (whole, without regard to ASCII case).
bool SameFilterName(const std::string& a, const std::string& b);

}  // namespace kst
