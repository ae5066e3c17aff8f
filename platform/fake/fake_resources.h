#pragma once
// The fake resources of the running program: the carried driver images
// and the other data resources.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/fake/fake_base.h"
#include "platform/platform.h"

namespace kst::fake {

class FakeResources : public IResources {
 public:
  explicit FakeResources(FakePlatform& p) : p_(p) {}
  ResourceRef Find(int id, const char* type) override;
  ResourceRef FindNamed(const char* name, int type) override;
  const void* Lock(ResourceRef resource) override;
  uint32_t Size(ResourceRef resource) override;

  std::map<int, std::vector<uint8_t>> images;  // type "DRIVER" by id
  std::map<std::string, std::string> rcData;   // type RCDATA by name

 private:
  // The bytes `resource` stands for, or null.
  const void* Bytes(ResourceRef resource, uint32_t& size) const;
  FakePlatform& p_;
};

}  // namespace kst::fake
