#include "install/family.h"

#include <array>

#include "platform/platform.h"

namespace kst {
namespace {

// Built from the NT family's list of filter drivers, in its order.
constexpr std::array<FamilyDriver, kNtDrivers.size()> kNtFamily = [] {
  std::array<FamilyDriver, kNtDrivers.size()> family{};
  for (size_t i = 0; i < kNtDrivers.size(); ++i) {
    family[i] = {kNtDrivers[i]->serviceName, &kNtDrivers[i]->image, kNtDrivers[i]};
  }
  return family;
}();

constexpr FamilyDriver k9xFamily[] = {{REG_KESTRUNE, &kKestruneVxd, nullptr}};

}  // namespace

WindowsFamily RunningFamily() {
  uint32_t platformId = 0;
  if (!Sys().system.GetVersionEx(win::kOsVersionInfoExSize, platformId)) {
    platformId = 0;
    Sys().system.GetVersionEx(win::kOsVersionInfoSize, platformId);
  }
  return platformId == win::kVerPlatformWin32Nt ? WindowsFamily::kNt : WindowsFamily::k9x;
}

std::span<const FamilyDriver> DriversOf(WindowsFamily family) {
  if (family == WindowsFamily::k9x) return k9xFamily;
  return kNtFamily;
}

}  // namespace kst
