#include "app/application_title.h"

namespace kst {
namespace {

std::string& Title() {
  static std::string title;
  return title;
}

}  // namespace

void SetApplicationTitle(const std::string& title) { Title() = title; }

std::string ApplicationTitle() { return Title(); }

}  // namespace kst
