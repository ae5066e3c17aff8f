#pragma once
// The fake registry: keys and values below HKEY_LOCAL_MACHINE, with what of
// each key is on the disk.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/fake/fake_base.h"
#include "platform/platform.h"

namespace kst::fake {

// The bytes of a REG_MULTI_SZ value: each entry with its zero, then one more.
std::vector<uint8_t> MultiSzBytes(const std::vector<std::string>& entries);

struct FakeRegValue {
  uint32_t type = 0;
  std::vector<uint8_t> bytes;
  bool operator==(const FakeRegValue&) const = default;
};
using FakeRegKeyData = std::map<std::string, FakeRegValue, NoCase>;

// The entries of REG_MULTI_SZ bytes, read up to the first empty string (or
// the end of the bytes).
std::vector<std::string> MultiSzEntries(std::span<const uint8_t> bytes);

// The entries of a REG_MULTI_SZ value of `keys`, read up to the first empty
// string (or the end of the bytes); nullopt when the key or value is missing.
std::optional<std::vector<std::string>> MultiSzOf(
    const std::map<std::string, FakeRegKeyData, NoCase>& keys, const std::string& key,
    const std::string& value);

// Durability: a change reaches the disk when its key is flushed (RegFlushKey);
// until then a power cut may lose it. Seeded keys count as on the disk. A
// service's key (opened by its path) stands for the service itself: flushing
// it makes the service's creation or deletion durable.
class FakeRegistry : public IRegistry {
 public:
  explicit FakeRegistry(FakePlatform& p) : p_(p) {}
  RegStatus OpenLocalMachineKey(const std::string& path, std::unique_ptr<IRegKey>& key) override;
  // A key opened to read refuses every write with ERROR_ACCESS_DENIED.
  RegStatus OpenLocalMachineKeyToRead(const std::string& path,
                                      std::unique_ptr<IRegKey>& key) override;

  // Seeds a REG_MULTI_SZ value from entries: each with its zero, then one more.
  void SetMultiSz(const std::string& key, const std::string& value,
                  const std::vector<std::string>& entries);
  // The entries of a stored list, read up to the first empty string (or the
  // end of the bytes); nullopt when the key or value does not exist.
  std::optional<std::vector<std::string>> MultiSz(const std::string& key,
                                                  const std::string& value) const;

  std::map<std::string, FakeRegKeyData, NoCase> keys;
  // Keys changed since their last flush, each with what the disk holds of it
  // (nullopt: the key is not on the disk).
  std::map<std::string, std::optional<FakeRegKeyData>, NoCase> unflushed;
  int openKeys = 0;

 private:
  friend class FakeRegKey;
  friend class FakeFileSystem;
  friend class FakePlatform;
  // Keeps what the disk holds of `path` before its first change since a flush.
  void NoteChange(const std::string& path);
  // A key of `keys`, or the key of an existing service.
  bool Exists(const std::string& path) const;
  FakePlatform& p_;
};

}  // namespace kst::fake
