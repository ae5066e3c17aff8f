#pragma once
// The program's own exception type: a message and nothing else. The code of
// this program throws it rather than std::runtime_error and its kin, whose
// copy-on-write message strings bring a second string implementation into the
// shipping file. Catch it as std::exception.
#include <exception>
#include <string>

namespace kst {

class Failure : public std::exception {
 public:
  explicit Failure(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override;

 private:
  std::string message_;
};

}  // namespace kst
