#include "platform/fake/fake_resources.h"

#include <cstring>

#include "platform/fake/fake_platform.h"

namespace kst::fake {

ResourceRef FakeResources::Find(int id, const char* type) {
  if (p_.Call("FindResourceA")) return 0;
  if (std::strcmp(type, "DRIVER") != 0 || images.count(id) == 0) return 0;
  return ResourceRef(id);
}

// A named resource stands for the address of its text, which no image id
// comes near.
ResourceRef FakeResources::FindNamed(const char* name, int type) {
  if (p_.Call("FindResourceA")) return 0;
  auto it = rcData.find(name);
  if (type != win::kRtRcData || it == rcData.end()) return 0;
  return reinterpret_cast<ResourceRef>(&it->second);
}

const void* FakeResources::Bytes(ResourceRef resource, uint32_t& size) const {
  if (resource <= uintptr_t(INT32_MAX)) {
    auto image = images.find(int(resource));
    if (image != images.end()) {
      size = uint32_t(image->second.size());
      return image->second.data();
    }
  }
  for (const auto& [name, text] : rcData) {
    if (reinterpret_cast<ResourceRef>(&text) != resource) continue;
    size = uint32_t(text.size());
    return text.data();
  }
  size = 0;
  return nullptr;
}

const void* FakeResources::Lock(ResourceRef resource) {
  if (p_.Call("LockResource")) return nullptr;
  uint32_t size = 0;
  return Bytes(resource, size);
}

uint32_t FakeResources::Size(ResourceRef resource) {
  p_.Record("SizeofResource");
  uint32_t size = 0;
  Bytes(resource, size);
  return size;
}

}  // namespace kst::fake
