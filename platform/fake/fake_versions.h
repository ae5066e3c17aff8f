#pragma once
// The fake version resources of files: the fixed record each file carries.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/fake/fake_base.h"
#include "platform/platform.h"

namespace kst::fake {

class FakeVersionResources : public IVersionResources {
 public:
  explicit FakeVersionResources(FakePlatform& p) : p_(p) {}
  uint32_t InfoSize(const std::string& path) override;
  bool Info(const std::string& path, uint32_t size, void* block) override;
  bool QueryRoot(const void* block, const void*& value, uint32_t& length) override;

  // Seeds the version of an existing (or new) file: a well-formed fixed record.
  void SetVersion(const std::string& path, uint16_t a, uint16_t b, uint16_t c, uint16_t d);

  // The root value of each file's version block, as VerQueryValueA answers
  // it; files without an entry have no version resource.
  std::map<std::string, std::vector<uint8_t>, NoCase> records;
  // A resource whose root value lies about itself: the offset from the start
  // of the block and the length that VerQueryValueA answers. Unset: the
  // record, with its own length.
  std::optional<std::pair<size_t, uint32_t>> lyingRoot;

 private:
  FakePlatform& p_;
};

}  // namespace kst::fake
