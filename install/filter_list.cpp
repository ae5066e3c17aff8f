#include "install/filter_list.h"

#include <cstring>

namespace kst {
namespace {

// Upper case of the ASCII letters only, whatever the process locale says.
uint8_t AsciiUpper(uint8_t c) { return (c >= 'a' && c <= 'z') ? uint8_t(c - ('a' - 'A')) : c; }

bool SameName(const uint8_t* entry, size_t length, const std::string& name) {
  if (length != name.size()) return false;
  for (size_t i = 0; i < length; ++i) {
    if (AsciiUpper(entry[i]) != AsciiUpper(uint8_t(name[i]))) return false;
  }
  return true;
}

// Calls `visit(entry, length)` for each entry of a stored list, from its
// start up to its first empty string. An entry that runs to the end of the
// bytes without its zero ends there: nothing past `list.size()` is read.
template <typename Visit>
void ForEachEntry(const std::vector<uint8_t>& list, Visit visit) {
  size_t at = 0;
  while (at < list.size() && list[at] != 0) {
    size_t end = at;
    while (end < list.size() && list[end] != 0) ++end;
    visit(list.data() + at, end - at);
    at = end + 1;
  }
}

// Appends entries to a zero-filled buffer, each followed by its zero byte,
// and remembers whether everything appended still leaves room for the
// closing empty string.
class ListWriter {
 public:
  void Append(const uint8_t* entry, size_t length) {
    size_t needed = length + 1;
    if (bytes_ + needed < kFilterListBufferSize) {
      std::memcpy(buffer_.data() + bytes_, entry, length);
    } else {
      fits_ = false;  // counted, not stored
    }
    bytes_ += needed;
  }
  const FilterListBuffer& Buffer() const { return buffer_; }
  size_t Bytes() const { return bytes_; }
  bool Fits() const { return fits_; }

 private:
  FilterListBuffer buffer_{};
  size_t bytes_ = 0;
  bool fits_ = true;
};

}  // namespace

std::optional<FilterListBuffer> AddToFilterList(const std::vector<uint8_t>& oldList,
                                                const std::string& name) {
  // An empty name would read as the end of the list and hide every entry after
  // it; a zero byte inside one would store it as two entries.
  if (name.empty() || name.find('\0') != std::string::npos) return std::nullopt;
  ListWriter writer;
  writer.Append(reinterpret_cast<const uint8_t*>(name.data()), name.size());
  ForEachEntry(oldList, [&](const uint8_t* entry, size_t length) {
    if (!SameName(entry, length, name)) writer.Append(entry, length);
  });
  if (!writer.Fits()) return std::nullopt;
  return writer.Buffer();
}

KeptFilterList RemoveFromFilterList(const std::vector<uint8_t>& oldList, const std::string& name) {
  ListWriter writer;
  ForEachEntry(oldList, [&](const uint8_t* entry, size_t length) {
    if (!SameName(entry, length, name)) writer.Append(entry, length);
  });
  return KeptFilterList{writer.Buffer(), writer.Bytes()};
}

bool FilterListNames(const std::vector<uint8_t>& list, const std::string& name) {
  bool found = false;
  ForEachEntry(list, [&](const uint8_t* entry, size_t length) {
    found = found || SameName(entry, length, name);
  });
  return found;
}

std::vector<std::string> FilterListEntries(const std::vector<uint8_t>& list) {
  std::vector<std::string> entries;
  ForEachEntry(list, [&](const uint8_t* entry, size_t length) {
    entries.emplace_back(reinterpret_cast<const char*>(entry), length);
  });
  return entries;
}

bool SameFilterName(const std::string& a, const std::string& b) {
  return SameName(reinterpret_cast<const uint8_t*>(a.data()), a.size(), b);
}

}  // namespace kst
