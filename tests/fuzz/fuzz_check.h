#pragma once
// What the fuzz targets share: an invariant check that stops the run with a
// finding (libFuzzer saves the input as crash-*), and a reader that takes
// fields from the front of the input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#define FUZZ_CHECK(condition)                                                      \
  do {                                                                             \
    if (!(condition)) {                                                            \
      std::fprintf(stderr, "invariant broken at %s:%d: %s\n", __FILE__, __LINE__, \
                   #condition);                                                    \
      std::abort();                                                                \
    }                                                                              \
  } while (0)

namespace kst::fuzz {

// Reads the input from its front; past the end every field reads as zero
// bytes, so any input, even an empty one, is a whole case.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  uint16_t Le16() {
    uint16_t low = Byte();
    return uint16_t(low | Byte() << 8);
  }
  uint32_t Le32() {
    uint32_t low = Le16();
    return low | uint32_t(Le16()) << 16;
  }
  // Up to `count` bytes, fewer when the input ends first.
  std::vector<uint8_t> Bytes(size_t count) {
    size_t n = count < Remaining() ? count : Remaining();
    std::vector<uint8_t> out(data_ + at_, data_ + at_ + n);
    at_ += n;
    return out;
  }
  std::vector<uint8_t> Rest() { return Bytes(Remaining()); }
  size_t Remaining() const { return size_ - at_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

inline std::string Text(const std::vector<uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace kst::fuzz
