#include "base/blake3.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/b3sum.hpp"
#include "support/hex.hpp"
#include "support/temp_dir.hpp"
#include "support/write_file.hpp"

namespace ostrel_core::blake3 {
namespace {

std::vector<std::uint8_t> pattern(std::size_t n) {
  std::vector<std::uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(i % 251);
  return v;
}

std::string hex(const Digest& d) { return test::to_hex({d.begin(), d.end()}); }

// Runs Debian's b3sum on a file holding `bytes`; returns its digest in to_hex form.
std::string b3sum_of(const std::vector<std::uint8_t>& bytes) {
  test::TempDir dir;
  test::write_file(dir / "input", {reinterpret_cast<const char*>(bytes.data()), bytes.size()});
  const std::string out = test::b3sum(dir / "input");
  if (out.size() != 64) return "b3sum failed: " + out;
  std::string spaced;
  for (std::size_t i = 0; i < out.size(); i += 2) {
    if (i) spaced += ' ';
    spaced += out.substr(i, 2);
  }
  return spaced;
}

// Edges around the block (64) and chunk (1024) sizes and across several tree levels.
constexpr std::size_t kLengths[] = {0, 1, 63, 64, 65, 1023, 1024, 1025, 2048, 2049, 3072, 3073, 31744, 102400};
// Odd piece sizes so updates start and end inside blocks and chunks.
constexpr std::size_t kPieces[] = {1, 7, 63, 64, 65, 1000, 1023, 1025, 3};

TEST(Blake3, MatchesB3sumWholeAndInPieces) {
  for (std::size_t n : kLengths) {
    SCOPED_TRACE(n);
    auto input = pattern(n);
    std::string want = b3sum_of(input);
    EXPECT_EQ(hex(hash(input)), want);

    Hasher h;
    std::size_t pos = 0;
    for (std::size_t k = 0; pos < n; ++k) {
      std::size_t take = std::min(kPieces[k % std::size(kPieces)], n - pos);
      h.update(std::span(input).subspan(pos, take));
      pos += take;
    }
    EXPECT_EQ(hex(h.finalize()), want);
  }
}

TEST(Blake3, EmptyInputHasKnownDigest) {
  EXPECT_EQ(hex(hash(std::string_view{})),
            test::to_hex(test::from_hex(
                "af1349b9f5f9a1a6a0404dea36dcc9499bcb25c9adc112b7cc9a93cae41f3262")));
}

TEST(Blake3, FinalizeLeavesHasherUsable) {
  auto input = pattern(3000);
  Hasher h;
  h.update(std::span(input).first(1500));
  EXPECT_EQ(h.finalize(), hash(std::span(input).first(1500)));
  h.update(std::span(input).subspan(1500));
  EXPECT_EQ(h.finalize(), hash(input));
}

TEST(Blake3, TextAndBytesAgree) {
  std::string_view text = "ostrel:player-uuid:v1";
  std::vector<std::uint8_t> bytes(text.begin(), text.end());
  EXPECT_EQ(hash(text), hash(bytes));
  EXPECT_EQ(hex(hash(text)), b3sum_of(bytes));
}

}  // namespace
}  // namespace ostrel_core::blake3
