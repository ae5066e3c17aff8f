#pragma once
// One run of KstCheck from its arguments to what it writes and answers, so
// that the whole of its output, a failure's included, is built in one place
// and the Windows entry only writes it out.
#include <string>
#include <vector>

namespace kst {

struct CheckRun {
  std::string out;  // for standard output
  std::string err;  // for standard error
  int exitCode = 0;
};

// Runs the check for `arguments` (without the program's name) over the
// installed platform: the usage text, or the machine read, judged and
// written as lines, each ending in "\n", with the verdict as exit code. A
// failure (an exception) while it reads or judges ends the lines already
// written with FailureLines and the inconsistent verdict.
CheckRun RunCheck(const std::vector<std::string>& arguments);

}  // namespace kst
