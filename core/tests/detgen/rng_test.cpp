#include "detgen/rng.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace ostrel_core::detgen::rng {
namespace {

StreamRng abc() { return StreamRng(0, {0, 0, 0}, "abc"); }

std::vector<std::uint64_t> draws(StreamRng s, int n) {
  std::vector<std::uint64_t> out;
  for (int i = 0; i < n; ++i) out.push_back(s.next_u64());
  return out;
}

TEST(StreamRng, WorkedExampleStateAndOutputs) {
  EXPECT_EQ(fnv1a64("abc"), 0xE71FA2190541574Bull);
  EXPECT_EQ(fnv1a64(""), 0xCBF29CE484222325ull);
  const StreamRng s = abc();
  const std::uint64_t want_state[4] = {0xD12B76472ADDC03Bull, 0x4DA4C5C74F51D288ull, 0x3A2EA940090BB7D3ull,
                                       0x2A7D2E27EDE8412Dull};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(s.state()[i], want_state[i]) << "word " << i;
  EXPECT_EQ(draws(s, 3), (std::vector<std::uint64_t>{0x08B7D947DF5B948Dull, 0x08558DDB83590743ull,
                                                     0x3DEF5F434DEC09B8ull}));
}

TEST(StreamRng, WorkedExampleBelowBoolsAndFloats) {
  StreamRng b = abc();
  std::vector<std::uint64_t> below;
  for (int i = 0; i < 5; ++i) below.push_back(b.below(10));
  EXPECT_EQ(below, (std::vector<std::uint64_t>{0, 0, 2, 4, 2}));

  StreamRng c = abc();
  std::string bools;
  for (int i = 0; i < 8; ++i) bools += c.next_bool() ? 'T' : 'F';
  EXPECT_EQ(bools, "FFFFFTTT");

  StreamRng f = abc();
  for (float want : {571353.0f, 546189.0f, 4058975.0f}) EXPECT_EQ(f.next_f32(), want * 0x1p-24f);
}

TEST(StreamRng, BelowZeroDrawsNothingAndBelowOneDrawsOnce) {
  const auto first_two = draws(abc(), 2);
  StreamRng zero = abc();
  EXPECT_EQ(zero.below(0), 0u);
  EXPECT_EQ(zero.next_u64(), first_two[0]);

  StreamRng one = abc();
  EXPECT_EQ(one.below(1), 0u);
  EXPECT_EQ(one.next_u64(), first_two[1]);
}

TEST(StreamRng, BelowRejectsDrawsUnderTheThreshold) {
  // Bound 2^63 + 1: threshold 2^63 - 1, so about half the draws are rejected; every result
  // still lies below the bound and the stream moves on by one draw per rejection.
  const std::uint64_t bound = (1ull << 63) + 1;
  StreamRng s = abc();
  StreamRng mirror = abc();
  for (int i = 0; i < 64; ++i) {
    const std::uint64_t got = s.below(bound);
    EXPECT_LT(got, bound);
    std::uint64_t x;
    __extension__ unsigned __int128 p;
    do {
      x = mirror.next_u64();
      p = static_cast<decltype(p)>(x) * bound;
    } while (static_cast<std::uint64_t>(p) < (0 - bound) % bound);
    EXPECT_EQ(got, static_cast<std::uint64_t>(p >> 64));
  }
}

TEST(StreamRng, KeyWordsAreZeroExtended) {
  // -1 enters the mix as 0x00000000FFFFFFFF; a sign-extended first word would give another stream.
  auto sign_extended = [](std::uint64_t seed, std::uint64_t word0) {
    std::uint64_t acc = mix((seed ^ fnv1a64("k")) + 0x9E3779B97F4A7C15ull);
    for (std::uint64_t w : {word0, std::uint64_t{0}, std::uint64_t{0}})
      acc ^= mix((acc ^ w) + 0x9E3779B97F4A7C15ull);
    return mix(acc + 0x9E3779B97F4A7C15ull);
  };
  const StreamRng s(5, {-1, 0, 0}, "k");
  EXPECT_EQ(s.state()[0], sign_extended(5, 0x00000000FFFFFFFFull));
  EXPECT_NE(s.state()[0], sign_extended(5, 0xFFFFFFFFFFFFFFFFull));
}

TEST(StreamRng, StreamsDependOnEveryInputAndNothingElse) {
  EXPECT_EQ(draws(StreamRng(9, {1, 2, 3}, "ore"), 4), draws(StreamRng(9, {1, 2, 3}, "ore"), 4));
  const auto base = draws(StreamRng(9, {1, 2, 3}, "ore"), 4);
  EXPECT_NE(base, draws(StreamRng(9, {1, 2, 3}, "tree"), 4));
  EXPECT_NE(base, draws(StreamRng(10, {1, 2, 3}, "ore"), 4));
  EXPECT_NE(base, draws(StreamRng(9, {1, 2, 4}, "ore"), 4));
  EXPECT_NE(base, draws(StreamRng(9, {3, 2, 1}, "ore"), 4));
  // A copy carries the position: drawing from one never moves the other.
  StreamRng a(9, {1, 2, 3}, "ore");
  a.next_u64();
  StreamRng b = a;
  EXPECT_EQ(a.next_u64(), b.next_u64());
}

TEST(StreamRng, NextF32StaysBelowOne) {
  StreamRng s(77, {0, 0, 0}, "f");
  for (int i = 0; i < 10000; ++i) {
    const float v = s.next_f32();
    ASSERT_GE(v, 0.0f);
    ASSERT_LE(v, 1.0f - 0x1p-24f);
  }
}

}  // namespace
}  // namespace ostrel_core::detgen::rng
