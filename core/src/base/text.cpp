#include "base/text.hpp"

#include "base/assert.hpp"

namespace ostrel_core::text {

std::pair<char32_t, std::size_t> code_point_at(std::string_view s, std::size_t i) {
  OSTREL_ASSERT(i < s.size());
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) return {b0, 1};
  std::size_t len = b0 >= 0xF0 ? 4 : b0 >= 0xE0 ? 3 : b0 >= 0xC0 ? 2 : 0;
  if (len == 0 || i + len > s.size()) return {0xFFFD, 1};
  char32_t cp = b0 & (0x7F >> len);
  for (std::size_t k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) return {0xFFFD, 1};
    cp = (cp << 6) | (b & 0x3F);
  }
  return {cp, len};
}

std::string_view trim(std::string_view s) {
  while (!s.empty()) {
    auto [cp, len] = code_point_at(s, 0);
    if (!is_space(cp)) break;
    s.remove_prefix(len);
  }
  // Trailing: find the start of the last code point and test it.
  while (!s.empty()) {
    std::size_t start = s.size() - 1;
    while (start > 0 && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80 && s.size() - start < 4)
      --start;
    auto [cp, len] = code_point_at(s, start);
    if (start + len != s.size() || !is_space(cp)) break;
    s.remove_suffix(len);
  }
  return s;
}

std::string_view trim_bytes(std::string_view s, std::string_view bytes) {
  const auto first = s.find_first_not_of(bytes);
  if (first == std::string_view::npos) return s.substr(s.size());
  return s.substr(first, s.find_last_not_of(bytes) - first + 1);
}

bool is_blank(std::string_view s) { return trim(s).empty(); }

namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<std::array<std::uint8_t, 32>> bytes_from_hex(std::string_view text) {
  std::array<std::uint8_t, 32> out{};
  if (text.size() != 2 * out.size()) return std::nullopt;
  for (std::size_t i = 0; i < out.size(); ++i) {
    const int hi = hex_value(text[2 * i]);
    const int lo = hex_value(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out[i] = static_cast<std::uint8_t>(hi << 4 | lo);
  }
  return out;
}

std::string hex_bytes(std::span<const std::uint8_t, 32> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out(64, '0');
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    out[2 * i] = kDigits[bytes[i] >> 4];
    out[2 * i + 1] = kDigits[bytes[i] & 0x0F];
  }
  return out;
}

}  // namespace ostrel_core::text
