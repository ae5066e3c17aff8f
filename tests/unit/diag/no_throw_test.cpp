#include "diag/no_throw.h"

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <string>

#include "diag/failure.h"

namespace kst {
namespace {

TEST(NoThrow, GivesTheResultOrTheFallbackWhateverWasRaised) {
  const struct {
    const char* what;
    std::function<int()> fn;
    int result;
  } rows[] = {
      {"returns", [] { return 7; }, 7},
      {"returns the fallback's value itself", [] { return -1; }, -1},
      {"program's failure", []() -> int { throw Failure("x"); }, -1},
      {"out of memory", []() -> int { throw std::bad_alloc(); }, -1},
      {"not a std::exception", []() -> int { throw 42; }, -1},
      {"a string", []() -> int { throw std::string("x"); }, -1},
  };
  for (const auto& row : rows) EXPECT_EQ(NoThrow(row.fn, -1), row.result) << row.what;
}

TEST(NoThrow, VoidFormRunsTheWorkUpToWhereItRaised) {
  int steps = 0;
  NoThrow([&] {
    ++steps;
    throw 1;
  });
  NoThrow([&] { ++steps; });
  EXPECT_EQ(steps, 2);
}

}  // namespace
}  // namespace kst
