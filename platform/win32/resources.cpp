#include "platform/win32/windows_api.h"

#include "platform/win32/adapters.h"

namespace kst::win32 {
namespace {

HRSRC AsResource(ResourceRef resource) { return reinterpret_cast<HRSRC>(resource); }

}  // namespace

ResourceRef Resources::Find(int id, const char* type) {
  return reinterpret_cast<ResourceRef>(::FindResourceA(nullptr, MAKEINTRESOURCEA(id), type));
}

ResourceRef Resources::FindNamed(const char* name, int type) {
  return reinterpret_cast<ResourceRef>(::FindResourceA(nullptr, name, MAKEINTRESOURCEA(type)));
}

const void* Resources::Lock(ResourceRef resource) {
  HGLOBAL loaded = ::LoadResource(nullptr, AsResource(resource));
  return ::LockResource(loaded);
}

uint32_t Resources::Size(ResourceRef resource) {
  return ::SizeofResource(nullptr, AsResource(resource));
}

}  // namespace kst::win32
