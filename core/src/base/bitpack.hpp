#pragma once
// BitArray: a fixed number of unsigned entries of one width (0..16 bits), packed least
// significant bit first into 64-bit words. The words are stored and sent as they are, so this
// layout is a format:
//
//   words            ceil(count * width / 64); width 0 has no words and every entry reads 0
//   entry i          bit positions i*width .. i*width + width - 1, position p being
//                    bit (p % 64) of word p / 64; the entry's low bit at the lowest position
//   straddling       an entry that crosses a word boundary keeps its low part in the top bits of
//                    word k and its high part in the bottom bits of word k + 1 (never for widths
//                    1, 2, 4, 8, 16)
//   padding          bits past the last entry are zero in arrays built here
//
// Worked example, width 5: entry 12 is bits 60..63 of word 0 and bit 0 of word 1. Writing 22
// (10110b) leaves bit 60 clear, sets bits 61 and 62, leaves bit 63 clear and sets bit 0 of
// word 1. A chunk's 4096 entries take 64 * width words: 832 at width 13.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.hpp"

namespace ostrel_core::bitpack {

inline constexpr std::uint8_t kMaxWidth = 16;

// Number of 64-bit words that hold `count` entries of `width` bits.
constexpr std::size_t word_count(std::size_t count, std::size_t width) {
  return (count * width + 63) / 64;
}

enum class BitArrayErrorKind : std::uint8_t {
  TooWide,         // the stored width is above 16 (checked first)
  WrongWordCount,  // the stored word count is not ceil(count * width / 64)
};

// Why stored words could not become a BitArray.
struct BitArrayError {
  BitArrayErrorKind kind;
  std::uint8_t bits = 0;       // TooWide: the stored width
  std::size_t expected = 0;    // WrongWordCount: words the width and count need
  std::size_t found = 0;       // WrongWordCount: words given

  std::string message() const;
  const ErrorSource* source() const { return nullptr; }
  // `TooWide { bits: 17 }`, `WrongWordCount { expected: 256, found: 255 }`.
  std::string debug() const;
  friend bool operator==(const BitArrayError&, const BitArrayError&) = default;
};

namespace detail {
[[noreturn]] void index_out_of_bounds(std::size_t index, std::size_t count);
[[noreturn]] void value_too_wide(std::uint32_t value, std::uint8_t width);
}  // namespace detail

class BitArray {
 public:
  // No entries, width 0.
  BitArray() = default;
  // `count` entries at `width`, all 0. REQUIRES: width <= 16 (stops with
  // "bits_per_entry {} exceeds 16" otherwise).
  BitArray(std::size_t count, std::uint8_t width);

  // Takes stored words as they are (padding bits are not checked); refuses a width above 16
  // and then a word count other than word_count(count, width).
  [[nodiscard]] static std::expected<BitArray, BitArrayError> from_words(
      std::vector<std::uint64_t> words, std::size_t count, std::uint8_t width);

  // REQUIRES: i < size() (stops with "index {} out of bounds ({})").
  std::uint32_t get(std::size_t i) const {
    if (i >= count_) [[unlikely]]
      detail::index_out_of_bounds(i, count_);
    if (width_ == 0) return 0;
    const std::size_t bit = i * width_;
    const std::size_t w = bit >> 6;
    const unsigned off = bit & 63;
    std::uint64_t v = words_[w] >> off;
    if (off + width_ > 64) v |= words_[w + 1] << (64 - off);
    return static_cast<std::uint32_t>(v & mask());
  }

  // REQUIRES: i < size() and value < 2^width() (stops with "value {} does not fit in {} bits").
  // At width 0 only the value 0 is accepted, and it stores nothing.
  void set(std::size_t i, std::uint32_t value) {
    if (i >= count_) [[unlikely]]
      detail::index_out_of_bounds(i, count_);
    if (value > mask()) [[unlikely]]
      detail::value_too_wide(value, width_);
    if (width_ == 0) return;
    const std::size_t bit = i * width_;
    const std::size_t w = bit >> 6;
    const unsigned off = bit & 63;
    words_[w] = (words_[w] & ~(mask() << off)) | (static_cast<std::uint64_t>(value) << off);
    if (off + width_ > 64) {
      const unsigned low_bits = 64 - off;
      words_[w + 1] = (words_[w + 1] & ~(mask() >> low_bits)) | (static_cast<std::uint64_t>(value) >> low_bits);
    }
  }

  // A copy at `width` with every entry kept. REQUIRES: width <= 16 and every entry fits.
  BitArray resized(std::uint8_t width) const;

  std::size_t size() const { return count_; }
  std::uint8_t width() const { return width_; }
  // Valid until the next call that changes the array.
  std::span<const std::uint64_t> words() const { return words_; }

  friend bool operator==(const BitArray&, const BitArray&) = default;

 private:
  std::uint64_t mask() const { return (std::uint64_t{1} << width_) - 1; }

  std::vector<std::uint64_t> words_;  // word_count(count_, width_) words
  std::size_t count_ = 0;             // entries
  std::uint8_t width_ = 0;            // bits per entry, 0..16
};

}  // namespace ostrel_core::bitpack
