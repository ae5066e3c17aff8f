#include "diag/failure.h"

namespace kst {

const char* Failure::what() const noexcept { return message_.c_str(); }

}  // namespace kst
