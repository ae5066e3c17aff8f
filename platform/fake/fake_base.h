#pragma once
// What every fake facility shares: Windows' case-blind ordering of names,
// the plan of which calls fail, and the platform they report their calls to.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace kst::fake {

// Case-insensitive ordering, as Windows compares paths, key and value names.
struct NoCase {
  bool operator()(const std::string& a, const std::string& b) const;
};

// Which calls fail, and with what error code (or registry status).
class FaultPlan {
 public:
  // Fails the `occurrence`-th call (1-based) of `call`; 0 fails every call.
  void Fail(const std::string& call, uint32_t error, int occurrence = 0);
  // Fails the call at this position (1-based) among all calls checked.
  void FailCallNumber(int position, uint32_t error);
  // Counts the call and returns the error to fail it with, if any.
  std::optional<uint32_t> Check(const std::string& call);
  int TotalChecked() const { return total_; }

 private:
  struct Rule {
    std::string call;
    uint32_t error;
    int occurrence;
  };
  std::vector<Rule> rules_;
  std::map<int, uint32_t> byPosition_;
  std::map<std::string, int> seen_;
  int total_ = 0;
};

// Windows compares paths, key and value names without regard to case.
bool SamePath(const std::string& a, const std::string& b);

// Every fake facility records its calls with the platform it belongs to.
class FakePlatform;

}  // namespace kst::fake
