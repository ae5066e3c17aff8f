#include "platform/platform.h"

#include <cstdlib>

namespace kst {
namespace {
Platform* g_platform = nullptr;
}

Platform& Sys() {
  if (g_platform == nullptr) std::abort();
  return *g_platform;
}

ScopedPlatform::ScopedPlatform(Platform& platform) : previous_(g_platform) {
  g_platform = &platform;
}

ScopedPlatform::~ScopedPlatform() { g_platform = previous_; }

}  // namespace kst
