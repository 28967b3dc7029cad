#include "base/text.hpp"

#include <gtest/gtest.h>

#include <string>

namespace ostrel_core::text {
namespace {

TEST(Text, SpaceIsUnicodeWhiteSpace) {
  constexpr char32_t kSpaces[] = {0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,
                                  0xA0,   0x1680, 0x2000, 0x2005, 0x200A, 0x2028, 0x2029,
                                  0x202F, 0x205F, 0x3000};
  constexpr char32_t kOthers[] = {0x00,   0x08,   0x0E,   0x1F,   0x21,   0x84,   0x86,   0x9F,
                                  0x180E, 0x1FFF, 0x200B, 0x2027, 0x202A, 0x2060, 0x2FFF, 0xFEFF};
  for (char32_t c : kSpaces) EXPECT_TRUE(is_space(c)) << std::hex << static_cast<std::uint32_t>(c);
  for (char32_t c : kOthers) EXPECT_FALSE(is_space(c)) << std::hex << static_cast<std::uint32_t>(c);
}

TEST(Text, AsciiSpaceIsTheCLocaleSet) {
  for (int c = -128; c < 128; ++c) {
    const bool want = c == ' ' || (c >= '\t' && c <= '\r');
    EXPECT_EQ(is_ascii_space(static_cast<char>(c)), want) << c;
  }
}

TEST(Text, CodePointAtDecodesOneSequence) {
  struct Case {
    const char* name;
    std::string text;
    std::size_t at;
    char32_t cp;
    std::size_t len;
  };
  const Case kCases[] = {
      {"ascii", "a", 0, U'a', 1},
      {"two bytes", "\xC3\xA9", 0, 0xE9, 2},
      {"three bytes", "x\xE2\x82\xAC", 1, 0x20AC, 3},
      {"four bytes", "\xF0\x9F\x98\x80", 0, 0x1F600, 4},
      {"continuation byte", "\x80", 0, 0xFFFD, 1},
      {"truncated", "\xE2\x82", 0, 0xFFFD, 1},
      {"bad continuation", "\xC3\x41", 0, 0xFFFD, 1},
      {"overlong as it stands", "\xC0\xA0", 0, 0x20, 2},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const auto [cp, len] = code_point_at(c.text, c.at);
    EXPECT_EQ(static_cast<std::uint32_t>(cp), static_cast<std::uint32_t>(c.cp));
    EXPECT_EQ(len, c.len);
  }
}

TEST(Text, TrimDropsUnicodeWhiteSpaceAtBothEnds) {
  struct Case {
    std::string in;
    std::string want;
  };
  const Case kCases[] = {
      {"", ""},
      {" \t\n", ""},
      {"  a b  ", "a b"},
      {"\xE3\x80\x80x\xC2\xA0", "x"},             // U+3000, U+00A0
      {"\xE2\x80\x83" "a\xC2\xA0" "b\n", "a\xC2\xA0" "b"},  // inner space kept
      {"x\xE2\x80\x8B", "x\xE2\x80\x8B"},          // U+200B is not white space
      {"a \xC3", "a \xC3"},                        // a truncated sequence is not space
      {" \xFF ", "\xFF"},
      {"\xC2\x85" "a\xC2\x85", "a"},                // U+0085
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::PrintToString(c.in));
    EXPECT_EQ(trim(c.in), c.want);
    EXPECT_EQ(is_blank(c.in), c.want.empty());
  }
}

TEST(Text, TrimBytesDropsOnlyTheGivenBytes) {
  struct Case {
    std::string in;
    std::string_view bytes;
    std::string want;
  };
  const Case kCases[] = {
      {" \t a\t ", " \t", "a"},
      {"\r\nx\n", " \t", "\r\nx\n"},
      {"\r\nx\n", " \t\n\r", "x"},
      {" \t ", " \t", ""},
      {"", " ", ""},
      {"a b", " ", "a b"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::PrintToString(c.in));
    EXPECT_EQ(trim_bytes(c.in, c.bytes), c.want);
  }
}

TEST(Text, BytesFromHexReadsExactly64Digits) {
  const std::string upper(64, 'F');
  auto all = bytes_from_hex(upper);
  ASSERT_TRUE(all);
  for (auto b : *all) EXPECT_EQ(b, 0xFF);
  auto mixed = bytes_from_hex("0aB1" + std::string(60, '0'));
  ASSERT_TRUE(mixed);
  EXPECT_EQ((*mixed)[0], 0x0A);
  EXPECT_EQ((*mixed)[1], 0xB1);
  EXPECT_FALSE(bytes_from_hex(std::string(63, '0')));
  EXPECT_FALSE(bytes_from_hex(std::string(65, '0')));
  EXPECT_FALSE(bytes_from_hex(std::string(63, '0') + "g"));
  EXPECT_FALSE(bytes_from_hex("+f" + std::string(62, '0')));
}

}  // namespace
}  // namespace ostrel_core::text
