#pragma once
// The main window's description as the program carries it in its resources.
#include <fstream>
#include <sstream>
#include <string>

namespace kst::test {

// The text of resources/form/tmain.form; empty when it cannot be read.
inline std::string MainFormText() {
  std::string here = __FILE__;
  std::string root = here.substr(0, here.rfind("tests/unit/app/"));
  std::ifstream in(root + "resources/form/tmain.form", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace kst::test
