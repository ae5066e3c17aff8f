#pragma once
// The one way this program stops exceptions where none may pass: at the
// edge of a handler or of a step whose failure must not stop the next one.

namespace kst {

// Runs `fn` and returns its result, or `fallback` when it raised anything at
// all (also what is no std::exception).
template <typename Fn, typename T>
T NoThrow(Fn&& fn, T fallback) noexcept {
  try {
    return fn();
  } catch (...) {
    return fallback;
  }
}

// Runs `fn`, dropping whatever it raised.
template <typename Fn>
void NoThrow(Fn&& fn) noexcept {
  try {
    fn();
  } catch (...) {
  }
}

}  // namespace kst
