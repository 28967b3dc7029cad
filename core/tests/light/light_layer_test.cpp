#include "light/codec.hpp"
#include "light/layer.hpp"

#include <algorithm>
#include <vector>

#include <gtest/gtest.h>

#include "support/hex.hpp"

namespace ostrel_core::light {
namespace {

using layer::LightLayer;
using test::to_hex;

// Every block set one by one, so the layer is full whatever the values.
LightLayer full_of(std::uint16_t (*value_at)(int index)) {
  LightLayer l = LightLayer::uniform(0x1234);
  l.set(0, 0, 0, 0x4321);  // force the full form before writing the real values
  for (int z = 0; z < 16; ++z)
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) l.set(x, y, z, value_at(x + 16 * y + 256 * z));
  return l;
}

TEST(LightLayer, SetTurnsUniformFullOnlyForANewValue) {
  LightLayer l;
  l.set(5, 6, 7, 0);
  EXPECT_TRUE(l.is_uniform());
  EXPECT_TRUE(l.values().empty());

  l.set(5, 6, 7, 0xF000);
  ASSERT_FALSE(l.is_uniform());
  ASSERT_EQ(l.values().size(), 4096u);
  EXPECT_EQ(std::count(l.values().begin(), l.values().end(), 0), 4095);
  EXPECT_EQ(l.values()[5 + 16 * 6 + 256 * 7], 0xF000);
  EXPECT_EQ(l.get(5, 6, 7), 0xF000);
  EXPECT_EQ(l.get(4, 6, 7), 0);

  l.set(5, 6, 7, 0);  // all equal again, but stays full
  EXPECT_FALSE(l.is_uniform());
  EXPECT_NE(l, LightLayer());
}

TEST(LightLayer, UniformReadsItsValueEverywhere) {
  const auto l = LightLayer::uniform(0xF0A5);
  EXPECT_EQ(l.get(0, 0, 0), 0xF0A5);
  EXPECT_EQ(l.get(15, 15, 15), 0xF0A5);
  auto m = l;
  m.set(15, 15, 15, 0x0001);
  EXPECT_EQ(m.get(15, 15, 15), 0x0001);
  EXPECT_EQ(m.get(14, 15, 15), 0xF0A5);  // the rest keeps the uniform value
  EXPECT_EQ(l.get(15, 15, 15), 0xF0A5);  // copies are independent
}

TEST(LightLayerDeathTest, PositionOutsideTheChunkStops) {
  LightLayer l;
  EXPECT_DEATH(l.set(0, 0, 16, 1), "not local");
  EXPECT_DEATH(l.set(-1, 0, 0, 1), "not local");
}

TEST(LightCodec, GoldenBytes) {
  const auto sky = full_of([](int) -> std::uint16_t { return 0xF000; });
  const auto red_at_0 = full_of([](int i) -> std::uint16_t { return i == 0 ? 0x0F00 : 0; });
  const auto blue_at_end = full_of([](int i) -> std::uint16_t { return i == 4095 ? 0x000F : 0xF000; });
  struct Case {
    const char* name;
    LightLayer layer;
    const char* hex;
  };
  const Case cases[] = {
      {"dark", LightLayer(), "00 00 00"},
      {"uniform_sky", LightLayer::uniform(0xF000), "00 00 f0"},
      {"full_sky", sky, "00 00 f0"},
      {"red_at_index_0", red_at_0, "01 01 00 00 0f ff 0f 00 00"},
      {"blue_at_index_4095", blue_at_end, "01 ff 0f 00 f0 01 00 0f 00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(to_hex(codec::encode(c.layer)), c.hex);
  }
}

TEST(LightCodec, AlternatingValuesAreOneRunPerBlock) {
  const auto l = full_of([](int i) -> std::uint16_t { return i % 2 ? 0xF000 : 0x0123; });
  const auto bytes = codec::encode(l);
  ASSERT_EQ(bytes.size(), 16385u);
  EXPECT_EQ(bytes[0], codec::kTagRuns);
  for (std::size_t run = 0; run < 4096; ++run) {
    const std::size_t at = 1 + run * codec::kRunSize;
    ASSERT_EQ(bytes[at] | bytes[at + 1] << 8, 1) << "run " << run;
    ASSERT_EQ(bytes[at + 2] | bytes[at + 3] << 8, run % 2 ? 0xF000 : 0x0123) << "run " << run;
  }
}

TEST(LightCodec, RunsCoverTheChunkInIndexOrder) {
  // Sky above y = 8, darkness below, one lamp: the runs must add back to the same values.
  const auto l = full_of([](int i) -> std::uint16_t {
    if (i == 1000) return 0x0FFF;
    return (i / 16) % 16 >= 8 ? 0xF000 : 0;
  });
  const auto bytes = codec::encode(l);
  ASSERT_EQ(bytes[0], codec::kTagRuns);
  ASSERT_EQ((bytes.size() - 1) % codec::kRunSize, 0u);
  std::vector<std::uint16_t> decoded;
  for (std::size_t at = 1; at < bytes.size(); at += codec::kRunSize) {
    const int count = bytes[at] | bytes[at + 1] << 8;
    const std::uint16_t value = static_cast<std::uint16_t>(bytes[at + 2] | bytes[at + 3] << 8);
    ASSERT_GE(count, 1);
    ASSERT_LE(count, 4095);
    if (!decoded.empty()) {
      ASSERT_NE(decoded.back(), value) << "runs are maximal";
    }
    decoded.insert(decoded.end(), static_cast<std::size_t>(count), value);
  }
  ASSERT_EQ(decoded.size(), 4096u);
  EXPECT_TRUE(std::equal(decoded.begin(), decoded.end(), l.values().begin()));
}

}  // namespace
}  // namespace ostrel_core::light
