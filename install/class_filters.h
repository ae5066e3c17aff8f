#pragma once
#include <span>
#include <string>

#include "install/drivers.h"

namespace kst {

// Puts `name` at the head of the class key's "LowerFilters" list.
bool RegLowerFilter(const std::string& name, const std::string& classKey);
// Takes `name` out of the class key's "LowerFilters" list.
bool DelLowerFilter(const std::string& name, const std::string& classKey);

// True when the class key's "LowerFilters" list names `name`, and also when
// the key or the list exists but cannot be read to tell: a caller about to
// remove what a listed driver needs keeps it. A missing key or value lists
// nothing. Writes no trace line.
bool LowerFilterMayName(const std::string& name, const std::string& classKey);

// LowerFilterMayName over several class lists: true when any may name it.
bool AnyLowerFilterMayName(const std::string& name, std::span<const ClassList> lists);

}  // namespace kst
