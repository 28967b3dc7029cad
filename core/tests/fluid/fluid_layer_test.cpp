#include "fluid/codec.hpp"
#include "fluid/layer.hpp"

#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "support/hex.hpp"

namespace ostrel_core::fluid {
namespace {

using codec::FluidDecodeErrorKind;
using layer::FluidLayer;
using test::from_hex;
using test::to_hex;

constexpr Fluid kWater5{0x0025};  // fluid 1, level 5

FluidLayer uniform(Fluid state) {
  std::vector<Fluid> states(layer::kBlocks, state);
  return FluidLayer::from_blocks(states);
}

TEST(FluidLayer, SetCountsWetBlocksAndReleasesWhenDry) {
  FluidLayer l;
  EXPECT_FALSE(l.set(3, 4, 5, Fluid{}));            // dry on empty: nothing
  EXPECT_FALSE(l.set(3, 4, 5, Fluid{0x003C}));      // level 28 is not a state: stored as dry
  EXPECT_TRUE(l.empty());
  EXPECT_TRUE(l.states().empty());

  EXPECT_TRUE(l.set(3, 4, 5, kWater5));
  EXPECT_EQ(l.wet(), 1u);
  ASSERT_EQ(l.states().size(), 4096u);
  EXPECT_EQ(l.get(3 + 16 * 4 + 256 * 5), kWater5);
  EXPECT_EQ(l.get(3, 4, 5), kWater5);

  EXPECT_FALSE(l.set(3, 4, 5, kWater5));  // same state
  EXPECT_EQ(l.wet(), 1u);
  EXPECT_TRUE(l.set(15, 15, 15, Fluid::of(2, 27)));
  EXPECT_TRUE(l.set(3, 4, 5, Fluid::of(1, 27)));  // wet to wet keeps the count
  EXPECT_EQ(l.wet(), 2u);
  EXPECT_FALSE(l.set(0, 0, 0, Fluid{}));         // dry to dry
  EXPECT_EQ(l.wet(), 2u);

  EXPECT_TRUE(l.set(3, 4, 5, Fluid{0x0221}));  // a word with bit 9 dries the block
  EXPECT_EQ(l.wet(), 1u);
  EXPECT_EQ(l.get(3, 4, 5), Fluid{});
  EXPECT_TRUE(l.set(15, 15, 15, Fluid{}));
  EXPECT_TRUE(l.empty());
  EXPECT_TRUE(l.states().empty());
  EXPECT_EQ(l, FluidLayer());
}

TEST(FluidLayer, FromBlocksTakes4096AndStoresOnlyStates) {
  std::vector<Fluid> few = {Fluid{}, kWater5, Fluid{0x0020}};
  auto a = FluidLayer::from_blocks(few);
  EXPECT_EQ(a.wet(), 1u);
  ASSERT_EQ(a.states().size(), 4096u);
  EXPECT_EQ(a.get(1), kWater5);
  EXPECT_EQ(a.get(2), Fluid{});  // level 0 with an id is dry and stored as 0
  EXPECT_EQ(a.get(4095), Fluid{});

  std::vector<Fluid> many(5000, Fluid{});
  many[4095] = kWater5;
  many[4096] = kWater5;  // past the chunk: ignored
  auto b = FluidLayer::from_blocks(many);
  EXPECT_EQ(b.wet(), 1u);

  EXPECT_TRUE(FluidLayer::from_blocks(std::vector<Fluid>(4096, Fluid{0x001B})).empty());
  EXPECT_TRUE(FluidLayer::from_blocks({}).empty());
}

TEST(FluidLayerDeathTest, PositionOutsideTheChunkStops) {
  FluidLayer l;
  EXPECT_DEATH(l.set(16, 0, 0, kWater5), "not local");
  EXPECT_DEATH(l.set(0, -1, 0, kWater5), "not local");
  EXPECT_DEATH(l.get(4096), "out of range");
}

TEST(FluidCodec, GoldenBytes) {
  FluidLayer one_wet;
  one_wet.set(0, 0, 0, kWater5);
  FluidLayer last_wet;
  last_wet.set(15, 15, 15, Fluid::of(15, 27));
  struct Case {
    const char* name;
    FluidLayer layer;
    const char* hex;
  };
  const Case cases[] = {
      {"empty", FluidLayer(), "00"},
      {"all_0x0025", uniform(kWater5), "01 00 10 25 00"},
      {"wet_at_index_0", one_wet, "01 01 00 25 00 ff 0f 00 00"},
      {"wet_at_index_4095", last_wet, "01 ff 0f 00 00 01 00 fb 01"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto bytes = codec::encode(c.layer);
    EXPECT_EQ(to_hex(bytes), c.hex);
    auto back = codec::decode(bytes);
    ASSERT_TRUE(back.has_value()) << back.error().message();
    EXPECT_EQ(*back, c.layer);
  }
}

TEST(FluidCodec, AlternatingStatesAreOneRunPerBlock) {
  std::vector<Fluid> states(4096);
  for (std::size_t i = 0; i < states.size(); ++i) states[i] = i % 2 ? kWater5 : Fluid{};
  const auto l = FluidLayer::from_blocks(states);
  const auto bytes = codec::encode(l);
  EXPECT_EQ(bytes.size(), 16385u);
  auto back = codec::decode(bytes);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back->wet(), 2048u);
  EXPECT_EQ(*back, l);
}

TEST(FluidCodec, RandomLayersRoundTrip) {
  std::mt19937 rng(7);
  for (int round = 0; round < 50; ++round) {
    std::vector<Fluid> states(4096);
    // Runs of random length so that both long and one-block runs occur.
    std::size_t i = 0;
    while (i < states.size()) {
      const std::size_t len = 1 + rng() % (round % 2 ? 3 : 300);
      const Fluid f = rng() % 3 == 0 ? Fluid{} : Fluid::of(1 + rng() % 15, 1 + rng() % 27);
      for (std::size_t k = 0; k < len && i < states.size(); ++k) states[i++] = f;
    }
    const auto l = FluidLayer::from_blocks(states);
    auto back = codec::decode(codec::encode(l));
    ASSERT_TRUE(back.has_value()) << back.error().message();
    ASSERT_EQ(*back, l);
  }
}

TEST(FluidCodec, DecodesValidPayloads) {
  auto max_state = codec::decode(from_hex("01 00 10 fb 01"));  // fluid 15, level 27
  ASSERT_TRUE(max_state.has_value());
  EXPECT_EQ(max_state->wet(), 4096u);
  EXPECT_EQ(max_state->get(77), Fluid::of(15, 27));

  // Runs that are all dry decode to an empty layer, as do split dry runs.
  for (const char* hex : {"00", "01 00 10 00 00", "01 00 08 00 00 00 08 00 00"}) {
    SCOPED_TRACE(hex);
    auto got = codec::decode(from_hex(hex));
    ASSERT_TRUE(got.has_value());
    EXPECT_TRUE(got->empty());
  }
}

TEST(FluidCodec, RefusesBadPayloads) {
  struct Case {
    const char* name;
    const char* hex;
    FluidDecodeErrorKind kind;
    const char* text;
  };
  const Case cases[] = {
      {"no_bytes", "", FluidDecodeErrorKind::Empty, "a fluid payload needs at least a tag byte"},
      {"tag_2", "02", FluidDecodeErrorKind::UnknownTag, "unknown fluid encoding 2"},
      {"tag_255", "ff 00 10 25 00", FluidDecodeErrorKind::UnknownTag, "unknown fluid encoding 255"},
      {"tag_0_one_extra", "00 00", FluidDecodeErrorKind::WrongLength,
       "fluid runs cover 4097 blocks; a chunk has 4096"},
      {"tag_0_three_extra", "00 01 02 03", FluidDecodeErrorKind::WrongLength,
       "fluid runs cover 4099 blocks; a chunk has 4096"},
      {"tag_1_no_runs", "01", FluidDecodeErrorKind::WrongLength, "fluid runs cover 0 blocks; a chunk has 4096"},
      {"short_of_4096", "01 ff 0f 25 00", FluidDecodeErrorKind::WrongLength,
       "fluid runs cover 4095 blocks; a chunk has 4096"},
      {"runs_cover_4097", "01 00 10 25 00 01 00 00 00", FluidDecodeErrorKind::WrongLength,
       "fluid runs cover 4097 blocks; a chunk has 4096"},
      {"one_run_of_65535", "01 ff ff 00 00", FluidDecodeErrorKind::WrongLength,
       "fluid runs cover 65535 blocks; a chunk has 4096"},
      {"zero_count_first", "01 00 00 25 00 00 10 25 00", FluidDecodeErrorKind::EmptyRun,
       "a fluid run covers no blocks"},
      {"zero_count_after_4096", "01 00 10 25 00 00 00 25 00", FluidDecodeErrorKind::EmptyRun,
       "a fluid run covers no blocks"},
      {"level_0", "01 00 10 20 00", FluidDecodeErrorKind::NotAState,
       "fluid word 32 is not a state a block can be in"},
      {"id_0", "01 00 10 1b 00", FluidDecodeErrorKind::NotAState,
       "fluid word 27 is not a state a block can be in"},
      {"level_28", "01 00 10 3c 00", FluidDecodeErrorKind::NotAState,
       "fluid word 60 is not a state a block can be in"},
      {"bit_9", "01 00 10 00 02", FluidDecodeErrorKind::NotAState,
       "fluid word 512 is not a state a block can be in"},
      {"bit_9_with_id_and_level", "01 00 10 21 02", FluidDecodeErrorKind::NotAState,
       "fluid word 545 is not a state a block can be in"},
      {"bit_12", "01 00 10 21 10", FluidDecodeErrorKind::NotAState,
       "fluid word 4129 is not a state a block can be in"},
      {"cut_in_first_run", "01 00 10 25", FluidDecodeErrorKind::Truncated,
       "a fluid payload ended in the middle of a run"},
      {"one_trailing", "01 00 10 25 00 01", FluidDecodeErrorKind::Truncated,
       "a fluid payload ended in the middle of a run"},
      {"two_trailing", "01 00 10 25 00 01 00", FluidDecodeErrorKind::Truncated,
       "a fluid payload ended in the middle of a run"},
      {"three_trailing", "01 00 10 25 00 01 00 25", FluidDecodeErrorKind::Truncated,
       "a fluid payload ended in the middle of a run"},
      // Four trailing bytes are a run, tested in order: count, state, total.
      {"four_trailing_zero_count", "01 00 10 25 00 00 00 00 02", FluidDecodeErrorKind::EmptyRun,
       "a fluid run covers no blocks"},
      {"four_trailing_not_a_state", "01 00 10 25 00 01 00 00 02", FluidDecodeErrorKind::NotAState,
       "fluid word 512 is not a state a block can be in"},
      {"four_trailing_run", "01 00 10 25 00 01 00 25 00", FluidDecodeErrorKind::WrongLength,
       "fluid runs cover 4097 blocks; a chunk has 4096"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto got = codec::decode(from_hex(c.hex));
    ASSERT_FALSE(got.has_value());
    EXPECT_EQ(got.error().kind, c.kind);
    EXPECT_EQ(got.error().message(), c.text);
  }
}

TEST(FluidCodec, ErrorDebugFormNamesFields) {
  const auto wrong = codec::decode(from_hex("00 00")).error();
  EXPECT_EQ(wrong.debug(), "WrongLength { covered: 4097, expected: 4096 }");
  const auto& by_ref = wrong;
  EXPECT_EQ(by_ref.debug(), wrong.debug());
  EXPECT_EQ(codec::decode(from_hex("07")).error().debug(), "UnknownTag { tag: 7 }");
  EXPECT_EQ(codec::decode(from_hex("01 00 10 20 00")).error().debug(), "NotAState { value: 32 }");
  EXPECT_EQ(codec::decode(from_hex("")).error().debug(), "Empty");
}

}  // namespace
}  // namespace ostrel_core::fluid
