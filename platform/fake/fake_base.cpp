#include "platform/fake/fake_base.h"

#include <algorithm>
#include <cctype>

#include "platform/fake/fake_platform.h"

namespace kst::fake {

bool NoCase::operator()(const std::string& a, const std::string& b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](unsigned char x, unsigned char y) {
                                        return std::toupper(x) < std::toupper(y);
                                      });
}

bool SamePath(const std::string& a, const std::string& b) { return !NoCase()(a, b) && !NoCase()(b, a); }

void FaultPlan::Fail(const std::string& call, uint32_t error, int occurrence) {
  rules_.push_back({call, error, occurrence});
}

void FaultPlan::FailCallNumber(int position, uint32_t error) { byPosition_[position] = error; }

std::optional<uint32_t> FaultPlan::Check(const std::string& call) {
  ++total_;
  int nth = ++seen_[call];
  auto at = byPosition_.find(total_);
  if (at != byPosition_.end()) return at->second;
  for (const Rule& r : rules_) {
    if (r.call == call && (r.occurrence == 0 || r.occurrence == nth)) return r.error;
  }
  return std::nullopt;
}

}  // namespace kst::fake
