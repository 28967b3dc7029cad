#pragma once
// Small text helpers shared by the readers of manifests, versions, configurations, filters and
// PEM files: white space (Unicode's and C's) and trimming; 32-byte ids as hexadecimal.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace ostrel_core::text {

// The White_Space property of Unicode: U+0009..U+000D, U+0020, U+0085, U+00A0, U+1680,
// U+2000..U+200A, U+2028, U+2029, U+202F, U+205F, U+3000.
constexpr bool is_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

// White space in the C locale (std::isspace): ' ', '\t', '\n', '\v', '\f', '\r'.
constexpr bool is_ascii_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// The code point starting at `s[i]` and its length in bytes; {U+FFFD, 1} for a byte that does
// not start a complete sequence. Overlong forms are decoded as they stand. REQUIRES: i < s.size().
std::pair<char32_t, std::size_t> code_point_at(std::string_view s, std::size_t i);

// `s` without leading and trailing Unicode white space.
std::string_view trim(std::string_view s);
// `s` without leading and trailing bytes found in `bytes` (" \t" for spaces and tabs).
std::string_view trim_bytes(std::string_view s, std::string_view bytes);
// Empty, or nothing but Unicode white space.
bool is_blank(std::string_view s);

// 64 lower-case hexadecimal digits, two per byte in order, high digit first: the text form of
// player ids and content hashes.
std::string hex_bytes(std::span<const std::uint8_t, 32> bytes);
// The inverse: exactly 64 hexadecimal digits (either case) as 32 bytes, byte i from characters
// 2i and 2i+1; nothing for any other text.
std::optional<std::array<std::uint8_t, 32>> bytes_from_hex(std::string_view text);

}  // namespace ostrel_core::text
