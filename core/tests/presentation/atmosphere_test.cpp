#include "presentation/atmosphere.hpp"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "presentation/lightning.hpp"
#include "presentation/particle.hpp"
#include "proto/codec.hpp"
#include "support/hex.hpp"

namespace ostrel_core::atmosphere {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

TEST(Atmosphere, SkyModifierClamps) {
  SkyModifier in;
  in.intensity = kInf;
  in.sky = {-1.0f, 3.0f, kNaN};
  in.sky_mix = 7.0f;
  in.fog_distance = 0.01f;
  in.saturation = kNaN;
  in.stars = kNaN;
  in.light_floor = 7.0f;
  in.ease_ticks = 5000;
  SkyModifier out = sanitise(in);
  EXPECT_EQ(out.intensity, 1.0f);  // +inf takes the non-finite value, not the bound 2
  EXPECT_EQ(out.sky, (Vec3f{0.0f, 2.0f, 0.0f}));
  EXPECT_EQ(out.sky_mix, 1.0f);
  EXPECT_EQ(out.fog_distance, 0.05f);
  EXPECT_EQ(out.saturation, 1.0f);
  EXPECT_FALSE(out.stars.has_value());
  EXPECT_EQ(out.light_floor, 1.0f);
  EXPECT_EQ(out.ease_ticks, 2400u);

  in.intensity = -3.0f;
  in.stars = 7.0f;
  in.sky_mix = -0.0f;
  out = sanitise(in);
  EXPECT_EQ(out.intensity, 0.0f);
  EXPECT_EQ(out.stars, 1.0f);
  EXPECT_TRUE(std::signbit(out.sky_mix)) << "-0.0 is not below 0 and stays";
}

TEST(Atmosphere, SkyModifierWireForm) {
  SkyModifier m;
  m.stars = 0.5f;
  auto bytes = proto::encode(m);
  // 28 bytes of floats, stars 1 + 4, light_floor absent 1, ease_ticks 1.
  EXPECT_EQ(bytes.size(), 28u + 5 + 1 + 1);
  EXPECT_EQ(test::to_hex({bytes.begin() + 28, bytes.end()}), "01 00 00 00 3f 00 00");
}

TEST(Atmosphere, CloudLayerClamps) {
  CloudLayer in;
  in.detail = 0;
  in.octaves = 9;
  in.frequency = 0.0f;
  in.base = -40000.0f;
  in.shade = {kNaN, 3.0f, -1.0f};
  in.drift = {kInf, -100.0f};
  CloudLayer out = sanitise_clouds(in);
  EXPECT_EQ(out.detail, 1);
  EXPECT_EQ(out.octaves, 6);
  EXPECT_EQ(out.frequency, 1.0f / 600.0f);
  EXPECT_EQ(out.base, -30000.0f);
  EXPECT_EQ(out.shade, (Vec3f{0.5f, 2.0f, 0.0f}));
  EXPECT_EQ(out.drift, (std::array<float, 2>{0.0f, -64.0f}));

  struct Freq {
    float in;
    float want;
  };
  const float tiny = std::numeric_limits<float>::denorm_min();
  const Freq kFreq[] = {{2.0f, 1.0f}, {-0.0f, 1.0f / 600.0f}, {-tiny, 1.0f / 600.0f}, {tiny, tiny},
                        {kNaN, 1.0f / 600.0f}, {kInf, 1.0f / 600.0f}, {0.25f, 0.25f}};
  for (const auto& f : kFreq) {
    SCOPED_TRACE(f.in);
    in.frequency = f.in;
    EXPECT_EQ(sanitise_clouds(in).frequency, f.want);
  }
  EXPECT_EQ(proto::encode(CloudLayer{}).size(), 4u * 3 + 1 + 4 + 1 + 4 + 8 + 4 + 12 + 12);
}

TEST(Atmosphere, CloudStateBase) {
  Clouds c;
  c.base = kNaN;
  c.cover = 2.0f;
  c.cumulonimbus = kNaN;
  Clouds out = sanitise_cloud_state(c);
  EXPECT_FALSE(out.base.has_value());
  EXPECT_EQ(out.cover, 1.0f);
  EXPECT_EQ(out.cumulonimbus, 0.0f);
  c.base = 1e30f;
  EXPECT_EQ(sanitise_cloud_state(c).base, 1e30f);
}

CloudMap grid(std::uint8_t size, std::size_t layer) {
  CloudMap m;
  m.cell = 8.0f;
  m.size = size;
  m.cover.assign(layer, 1);
  m.darkness.assign(layer, 2);
  return m;
}

TEST(Atmosphere, CloudMapValidity) {
  struct Case {
    const char* name;
    CloudMap map;
    bool kept;
    std::uint8_t size = 0;
  };
  CloudMap alto = grid(4, 16);
  alto.altocumulus.clear();
  alto.stratocumulus.assign(16, 3);
  CloudMap bad_genus = grid(4, 16);
  bad_genus.cumulonimbus.assign(15, 3);
  CloudMap neg_cell = grid(4, 16);
  neg_cell.cell = -0.0f;
  CloudMap nan_origin = grid(4, 16);
  nan_origin.origin[0] = kNaN;
  CloudMap inf_cell = grid(4, 16);
  inf_cell.cell = kInf;
  const Case kCases[] = {
      {"size 0", grid(0, 0), false},
      {"size 20, 256-byte layers", grid(20, 256), true, 16},
      {"size 20, 400-byte layers", grid(20, 400), false},
      {"empty genus layer kept", alto, true, 4},
      {"genus layer of the wrong size", bad_genus, false},
      {"cell -0.0", neg_cell, false},
      {"cell inf", inf_cell, false},
      {"origin x NaN", nan_origin, false},
      {"darkness short", [] { auto m = grid(2, 4); m.darkness.pop_back(); return m; }(), false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    auto out = sanitise_cloud_map(c.map);
    ASSERT_EQ(out.has_value(), c.kept);
    if (out) {
      EXPECT_EQ(out->size, c.size);
    }
  }
}

TEST(Atmosphere, CloudShareBytes) {
  struct Case {
    float in;
    std::uint8_t want;
  };
  const Case kCases[] = {{0.5f, 128}, {1.0f / 255.0f, 1}, {-1.0f, 0}, {3.0f, 255}, {kNaN, 0}, {kInf, 0}, {1.0f, 255}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(cloud_share_byte(c.in), c.want);
  }
}

TEST(Atmosphere, RainbowAndFlash) {
  struct Case {
    double intensity;
    double ease;
    Rainbow want;
  };
  const Case kCases[] = {
      {1.7, 0, {1.0f, 0}},      {1e39, 0, {0.0f, 0}},     {-1e39, 0, {0.0f, 0}},  {0.5, 99.9, {0.5f, 99}},
      {0.5, -5, {0.5f, 0}},     {0.5, 1e9, {0.5f, 2400}}, {0.5, std::nan(""), {0.5f, 0}},
      {0.5, HUGE_VAL, {0.5f, 2400}}, {std::nan(""), 0, {0.0f, 0}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.intensity << " " << c.ease);
    EXPECT_EQ(rainbow_of(c.intensity, c.ease), c.want);
  }

  Flash f{9.0f, {-1.0f, kNaN, 5.0f}, 500, 1000};
  EXPECT_EQ(sanitise_flash(f), (Flash{4.0f, {0.0f, 1.0f, 2.0f}, 100, 400}));
  FlashRequest req{"overworld", f, {kNaN, 2.0, -HUGE_VAL}, kInf, std::nullopt};
  FlashRequest out = sanitise_flash_request(req);
  EXPECT_EQ(out.flash, sanitise_flash(f));
  EXPECT_EQ(out.pos, (std::array<double, 3>{0.0, 2.0, 0.0}));
  EXPECT_EQ(out.radius, 256.0f);
  req.radius = 5000.0f;
  EXPECT_EQ(sanitise_flash_request(req).radius, 1024.0f);
  EXPECT_EQ(proto::encode(Flash{}).size(), 16u + 1 + 1);
}

TEST(Atmosphere, PrecipitationAndBurst) {
  Precipitation p;
  p.rate = 1e9f;
  p.above = kNaN;
  p.ease_ticks = 9999;
  p.shape.size = kNaN;
  p.shape.lifetime = kInf;
  p.shape.count = 1000;
  p.shape.velocity = {0.0f, 100.0f, -kInf};
  p.shape.pos = {kNaN, 1.0, -kInf};
  Precipitation out = sanitise_precipitation(p);
  EXPECT_EQ(out.rate, 4000.0f);
  EXPECT_EQ(out.above, 16.0f);
  EXPECT_EQ(out.ease_ticks, 2400u);
  EXPECT_EQ(out.shape.size, 0.1f);
  EXPECT_EQ(out.shape.lifetime, 1.0f);
  EXPECT_EQ(out.shape.count, 256);
  EXPECT_EQ(out.shape.velocity, (particle::Vec3f{0.0f, 64.0f, 0.0f}));
  EXPECT_EQ(out.shape.pos, (std::array<double, 3>{0.0, 1.0, 0.0}));
  // The radius of a burst request: infinity is 32, -1 is 0, 500 is 128.
  struct Radius {
    float in;
    float want;
  };
  const Radius kRadius[] = {{kInf, 32.0f}, {-1.0f, 0.0f}, {500.0f, 128.0f}, {kNaN, 32.0f}, {50.0f, 50.0f}};
  for (const auto& r : kRadius) {
    SCOPED_TRACE(r.in);
    particle::ParticleRequest req{"overworld", p.shape, r.in, std::nullopt};
    auto got = particle::sanitise(req);
    EXPECT_EQ(got.radius, r.want);
    EXPECT_EQ(got.burst, out.shape);
  }
  // Defaults of the rain shape.
  EXPECT_EQ(Precipitation{}.shape.velocity, (particle::Vec3f{0.0f, -16.0f, 0.0f}));
  EXPECT_EQ(Precipitation{}.shape.area, (particle::Vec3f{16.0f, 3.0f, 16.0f}));
  // The burst comes first on the wire.
  auto bytes = proto::encode(out);
  auto burst = proto::encode(out.shape);
  EXPECT_TRUE(std::equal(burst.begin(), burst.end(), bytes.begin()));
  EXPECT_EQ(bytes.size(), burst.size() + 4 + 4 + 2);
}

TEST(Presentation, BurstBadgeAndLightningWireSizes) {
  particle::Burst b;  // count 0, no texture
  EXPECT_EQ(proto::encode(b).size(), 24u + 1 + 4 + 40 + 1 + 1);
  b.texture = particle::Hash{};
  b.count = 256;
  EXPECT_EQ(proto::encode(b).size(), 24u + 2 + 4 + 40 + 1 + 33);

  particle::Badge badge;
  badge.entity = 300;
  EXPECT_EQ(test::to_hex(proto::encode(badge)).substr(0, 5), "ac 02");
  EXPECT_EQ(proto::encode(badge).size(), 2u + 32 + 1 + 8 + 4);

  lightning::Lightning bolt;
  bolt.seed = UINT64_MAX;
  bolt.ticks = 200;
  EXPECT_EQ(proto::encode(bolt).size(), 48u + 10 + 16 + 1 + 2);
  EXPECT_EQ(proto::decode_exact<lightning::Lightning>(proto::encode(bolt)).value(), bolt);
}

}  // namespace
}  // namespace ostrel_core::atmosphere
