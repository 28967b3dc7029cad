#include "base/bitpack.hpp"

#include <fmt/format.h>

#include "base/error.hpp"

namespace ostrel_core::bitpack {

namespace detail {

void index_out_of_bounds(std::size_t index, std::size_t count) {
  contract_stop("ostrel_core::bitpack", fmt::format("index {} out of bounds ({})", index, count));
}

void value_too_wide(std::uint32_t value, std::uint8_t width) {
  contract_stop("ostrel_core::bitpack", fmt::format("value {} does not fit in {} bits", value, width));
}

}  // namespace detail

namespace {

void check_width(std::uint8_t width) {
  if (width > kMaxWidth) [[unlikely]] {
    contract_stop("ostrel_core::bitpack",
                          fmt::format("bits_per_entry {} exceeds {}", width, kMaxWidth));
  }
}

}  // namespace

std::string BitArrayError::message() const {
  switch (kind) {
    case BitArrayErrorKind::TooWide:
      return fmt::format("entry width {} exceeds the maximum of 16 bits", bits);
    case BitArrayErrorKind::WrongWordCount:
      return fmt::format("expected {} packed words, found {}", expected, found);
  }
  return {};
}

std::string BitArrayError::debug() const {
  switch (kind) {
    case BitArrayErrorKind::TooWide:
      return fmt::format("TooWide {{ bits: {} }}", bits);
    case BitArrayErrorKind::WrongWordCount:
      return fmt::format("WrongWordCount {{ expected: {}, found: {} }}", expected, found);
  }
  return {};
}

BitArray::BitArray(std::size_t count, std::uint8_t width) : count_(count), width_(width) {
  check_width(width);
  words_.assign(word_count(count, width), 0);
}

std::expected<BitArray, BitArrayError> BitArray::from_words(std::vector<std::uint64_t> words,
                                                            std::size_t count, std::uint8_t width) {
  if (width > kMaxWidth) return std::unexpected(BitArrayError{BitArrayErrorKind::TooWide, width});
  const std::size_t expected = word_count(count, width);
  if (words.size() != expected) {
    return std::unexpected(
        BitArrayError{BitArrayErrorKind::WrongWordCount, 0, expected, words.size()});
  }
  BitArray out;
  out.words_ = std::move(words);
  out.count_ = count;
  out.width_ = width;
  return out;
}

BitArray BitArray::resized(std::uint8_t width) const {
  BitArray out(count_, width);
  if (width_ == 0) return out;  // every entry is 0
  for (std::size_t i = 0; i < count_; ++i) out.set(i, get(i));
  return out;
}

}  // namespace ostrel_core::bitpack
