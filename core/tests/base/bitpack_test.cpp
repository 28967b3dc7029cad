#include "base/bitpack.hpp"

#include <gtest/gtest.h>

#include <random>

namespace ostrel_core::bitpack {
namespace {

TEST(BitArray, WordCountsFollowTheWidth) {
  struct Case {
    std::uint8_t width;
    std::size_t count;
    std::size_t words;
  };
  constexpr Case kCases[] = {{0, 4096, 0},   {1, 4096, 64},  {5, 4096, 320}, {12, 4096, 768},
                             {13, 4096, 832}, {16, 4096, 1024}, {5, 13, 2},  {3, 1, 1},
                             {7, 0, 0}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << "width " << int{c.width} << " count " << c.count);
    BitArray a(c.count, c.width);
    EXPECT_EQ(a.words().size(), c.words);
    EXPECT_EQ(word_count(c.count, c.width), c.words);
    for (auto w : a.words()) ASSERT_EQ(w, 0u);
  }
}

TEST(BitArray, WidthZeroReadsZeroAndStoresNothing) {
  BitArray a(4096, 0);
  EXPECT_EQ(a.get(0), 0u);
  EXPECT_EQ(a.get(4095), 0u);
  a.set(17, 0);
  EXPECT_EQ(a.get(17), 0u);
  EXPECT_TRUE(a.words().empty());
}

TEST(BitArray, StraddlingEntryAtWidthFive) {
  BitArray a(4096, 5);
  a.set(12, 22);  // 10110b at bits 60..64
  auto w = a.words();
  EXPECT_EQ((w[0] >> 60) & 1, 0u);
  EXPECT_EQ((w[0] >> 61) & 1, 1u);
  EXPECT_EQ((w[0] >> 62) & 1, 1u);
  EXPECT_EQ((w[0] >> 63) & 1, 0u);
  EXPECT_EQ(w[1] & 1, 1u);
  EXPECT_EQ(w[0], 0x6000000000000000ull);
  EXPECT_EQ(w[1], 1u);
  EXPECT_EQ(a.get(12), 22u);
  EXPECT_EQ(a.get(11), 0u);
  EXPECT_EQ(a.get(13), 0u);
  // Overwriting clears both parts, and the neighbours keep their bits.
  a.set(11, 31);
  a.set(13, 31);
  a.set(12, 1);
  EXPECT_EQ(a.get(11), 31u);
  EXPECT_EQ(a.get(12), 1u);
  EXPECT_EQ(a.get(13), 31u);
}

TEST(BitArray, EveryWidthMatchesAPlainModel) {
  std::mt19937 rng(7);
  for (std::uint8_t width = 1; width <= 16; ++width) {
    SCOPED_TRACE(int{width});
    BitArray a(4096, width);
    std::vector<std::uint32_t> model(4096, 0);
    std::uniform_int_distribution<std::uint32_t> value(0, (1u << width) - 1);
    std::uniform_int_distribution<std::size_t> index(0, 4095);
    for (int step = 0; step < 20000; ++step) {
      auto i = index(rng);
      auto v = value(rng);
      a.set(i, v);
      model[i] = v;
    }
    for (std::size_t i = 0; i < 4096; ++i) ASSERT_EQ(a.get(i), model[i]) << "entry " << i;
    // Entry i reads from its bit positions in the words, least significant bit first.
    auto words = a.words();
    for (std::size_t i = 0; i < 4096; i += 97) {
      std::uint32_t from_bits = 0;
      for (std::size_t b = 0; b < width; ++b) {
        std::size_t p = i * width + b;
        from_bits |= static_cast<std::uint32_t>((words[p / 64] >> (p % 64)) & 1) << b;
      }
      ASSERT_EQ(from_bits, model[i]) << "entry " << i;
    }
  }
}

TEST(BitArray, PaddingStaysZero) {
  BitArray a(13, 5);  // 65 bits in two words
  for (std::size_t i = 0; i < 13; ++i) a.set(i, 31);
  EXPECT_EQ(a.words()[0], ~0ull);
  EXPECT_EQ(a.words()[1], 1u);
}

TEST(BitArray, ResizedKeepsEveryValue) {
  BitArray a(4096, 3);
  for (std::size_t i = 0; i < 4096; ++i) a.set(i, static_cast<std::uint32_t>(i % 8));
  BitArray wide = a.resized(12);
  EXPECT_EQ(wide.width(), 12);
  EXPECT_EQ(wide.words().size(), 768u);
  for (std::size_t i = 0; i < 4096; ++i) ASSERT_EQ(wide.get(i), i % 8);
  BitArray back = wide.resized(3);
  EXPECT_EQ(back, a);

  BitArray one = BitArray(4096, 0).resized(1);
  EXPECT_EQ(one.width(), 1);
  EXPECT_EQ(one.words().size(), 64u);
  for (auto w : one.words()) ASSERT_EQ(w, 0u);
}

TEST(BitArray, StoredConstruction) {
  struct Case {
    const char* name;
    std::size_t words;
    std::uint8_t width;
    bool ok;
    BitArrayError want;
    const char* message;
  };
  const Case kCases[] = {
      {"width 17 with a matching count", 1088, 17, false, {BitArrayErrorKind::TooWide, 17},
       "entry width 17 exceeds the maximum of 16 bits"},
      {"width 255, width checked first", 3, 255, false, {BitArrayErrorKind::TooWide, 255},
       "entry width 255 exceeds the maximum of 16 bits"},
      {"width 4 with 255 words", 255, 4, false,
       {BitArrayErrorKind::WrongWordCount, 0, 256, 255}, "expected 256 packed words, found 255"},
      {"width 0 with one word", 1, 0, false, {BitArrayErrorKind::WrongWordCount, 0, 0, 1},
       "expected 0 packed words, found 1"},
      {"width 4 with 256 words", 256, 4, true, {}, ""},
      {"width 0 with no words", 0, 0, true, {}, ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    auto got = BitArray::from_words(std::vector<std::uint64_t>(c.words, 0), 4096, c.width);
    ASSERT_EQ(got.has_value(), c.ok);
    if (!c.ok) {
      EXPECT_EQ(got.error(), c.want);
      EXPECT_EQ(got.error().message(), c.message);
    }
  }
  // Stored words are taken as they are, padding included.
  auto odd = BitArray::from_words({0x6000000000000000ull, 0xFFFFFFFFFFFFFFF1ull}, 13, 5);
  ASSERT_TRUE(odd.has_value());
  EXPECT_EQ(odd->get(12), 22u);
  EXPECT_EQ(odd->words()[1], 0xFFFFFFFFFFFFFFF1ull);
  EXPECT_EQ(BitArrayError({BitArrayErrorKind::TooWide, 17}).debug(), "TooWide { bits: 17 }");
  EXPECT_EQ(BitArrayError({BitArrayErrorKind::WrongWordCount, 0, 256, 255}).debug(),
            "WrongWordCount { expected: 256, found: 255 }");
}

TEST(BitArrayDeathTest, ContractStops) {
  EXPECT_DEATH(BitArray(4096, 17), "bits_per_entry 17 exceeds 16");
  EXPECT_DEATH(BitArray(4096, 3).resized(17), "bits_per_entry 17 exceeds 16");
  EXPECT_DEATH(BitArray(4096, 0).set(0, 1), "value 1 does not fit in 0 bits");
  EXPECT_DEATH(BitArray(4096, 4).set(3, 16), "value 16 does not fit in 4 bits");
  EXPECT_DEATH(BitArray(4096, 16).set(3, 65536), "value 65536 does not fit in 16 bits");
  EXPECT_DEATH((void)BitArray(4096, 4).get(4096), "index 4096 out of bounds \\(4096\\)");
  EXPECT_DEATH((void)BitArray(4096, 0).get(5000), "index 5000 out of bounds \\(4096\\)");
  EXPECT_DEATH(BitArray(4096, 4).set(4096, 0), "index 4096 out of bounds \\(4096\\)");
  BitArray wide(4096, 8);
  wide.set(0, 200);
  EXPECT_DEATH((void)wide.resized(7), "value 200 does not fit in 7 bits");
}

}  // namespace
}  // namespace ostrel_core::bitpack
