// Lower filter list editing over arbitrary stored bytes and names, on bytes
// and through a class key of the fake registry.
//
// Input: name length (2 bytes, little-endian, below 4096), the name's bytes,
// then the stored list bytes.
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "install/class_filters.h"
#include "install/filter_list.h"
#include "platform/fake/fake_platform.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/shared_fake.h"

namespace kst {
namespace {

using Entries = std::vector<std::string>;
constexpr const char* kClassKey = "SYSTEM\\CurrentControlSet\\Control\\Class\\{fuzz}";

bool SameName(const std::string& a, const std::string& b) {
  auto upper = [](char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [&](char x, char y) { return upper(x) == upper(y); });
}

// Entries up to the first empty string; the last may lack its zero.
Entries Read(const uint8_t* bytes, size_t size) {
  Entries entries;
  size_t at = 0;
  while (at < size && bytes[at] != 0) {
    size_t end = std::find(bytes + at, bytes + size, uint8_t(0)) - bytes;
    entries.emplace_back(bytes + at, bytes + end);
    at = end + 1;
  }
  return entries;
}

// A written list: its entries, and every byte after the closing empty
// string is zero, inside the buffer.
Entries ReadBuffer(const FilterListBuffer& buffer) {
  Entries entries = Read(buffer.data(), buffer.size());
  size_t used = 0;
  for (const std::string& e : entries) used += e.size() + 1;
  FUZZ_CHECK(used < buffer.size());
  FUZZ_CHECK(std::all_of(buffer.begin() + used, buffer.end(), [](uint8_t b) { return b == 0; }));
  return entries;
}

size_t Bytes(const Entries& entries) {
  size_t n = 0;
  for (const std::string& e : entries) n += e.size() + 1;
  return n;
}

std::vector<uint8_t> Stored(const FilterListBuffer& buffer) {
  return std::vector<uint8_t>(buffer.begin(), buffer.end());
}

void CheckRemove(const std::vector<uint8_t>& list, const std::string& name, const Entries& others) {
  KeptFilterList kept = RemoveFromFilterList(list, name);
  FUZZ_CHECK(kept.bytes == Bytes(others));
  if (kept.bytes < kFilterListBufferSize) FUZZ_CHECK(ReadBuffer(kept.list) == others);
}

// The pure edits: the name first and once, the others kept in their order,
// nothing past the buffer, and a remove after an add gives the others back.
void CheckEdits(const std::vector<uint8_t>& old, const std::string& name) {
  Entries stored = Read(old.data(), old.size());
  Entries others;
  std::copy_if(stored.begin(), stored.end(), std::back_inserter(others),
               [&](const std::string& e) { return !SameName(e, name); });
  FUZZ_CHECK(FilterListNames(old, name) == (others.size() != stored.size()));
  CheckRemove(old, name, others);

  std::optional<FilterListBuffer> added = AddToFilterList(old, name);
  bool nameIsEntry = !name.empty() && name.find('\0') == std::string::npos;
  bool fits = name.size() + 1 + Bytes(others) < kFilterListBufferSize;
  FUZZ_CHECK(added.has_value() == (nameIsEntry && fits));
  if (!added) return;
  Entries expected{name};
  expected.insert(expected.end(), others.begin(), others.end());
  FUZZ_CHECK(ReadBuffer(*added) == expected);
  CheckRemove(Stored(*added), name, others);
  std::optional<FilterListBuffer> again = AddToFilterList(Stored(*added), name);
  FUZZ_CHECK(again && *again == *added);
}

std::optional<std::vector<uint8_t>> StoredValue(fake::FakePlatform& fp) {
  auto& values = fp.registry.keys[kClassKey];
  auto value = values.find("LowerFilters");
  if (value == values.end()) return std::nullopt;
  return value->second.bytes;
}

// The registry operations around the edits: a stored value never grows past
// the buffer, and a refused edit leaves it as it was.
void CheckRegistry(const std::vector<uint8_t>& old, const std::string& name) {
  if (name.find('\0') != std::string::npos) return;  // names reach the registry as C texts
  fake::FakePlatform& fp = fuzz::Fresh();
  fp.registry.keys[kClassKey]["LowerFilters"] = fake::FakeRegValue{7, old};
  bool added = RegLowerFilter(name, kClassKey);
  std::optional<std::vector<uint8_t>> after = StoredValue(fp);
  FUZZ_CHECK(after.has_value());
  FUZZ_CHECK(!added || after->size() == kFilterListBufferSize);
  std::optional<FilterListBuffer> expected =
      old.size() <= kFilterListBufferSize ? AddToFilterList(old, name) : std::nullopt;
  FUZZ_CHECK(added == expected.has_value());
  FUZZ_CHECK(added ? *after == Stored(*expected) : *after == old);

  bool removed = DelLowerFilter(name, kClassKey);
  std::optional<std::vector<uint8_t>> left = StoredValue(fp);
  if (!removed) {
    FUZZ_CHECK(left == after);
    return;
  }
  FUZZ_CHECK(!left || left->size() == kFilterListBufferSize);
  if (added) {
    Entries rest = left ? Read(left->data(), left->size()) : Entries{};
    Entries stored = Read(old.data(), old.size());
    stored.erase(std::remove_if(stored.begin(), stored.end(),
                                [&](const std::string& e) { return SameName(e, name); }),
                 stored.end());
    FUZZ_CHECK(rest == stored);
  }
}

}  // namespace
}  // namespace kst

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kst::fuzz::Input in(data, size);
  std::string name = kst::fuzz::Text(in.Bytes(in.Le16() & 0x0FFF));
  std::vector<uint8_t> old = in.Rest();
  kst::CheckEdits(old, name);
  kst::CheckRegistry(old, name);
  return 0;
}
