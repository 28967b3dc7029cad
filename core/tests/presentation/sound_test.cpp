// The sound plays' and loops' sanitisers.

#include "presentation/sound.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace ostrel_core::sound {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

TEST(SoundSanitise, RadiusAndGainFiniteFirstThenBounds) {
  struct Case {
    float radius, gain;
    float want_radius, want_gain;
  };
  const Case cases[] = {
      {1000.0f, 20.0f, 512.0f, 8.0f},   {kNaN, kNaN, 16.0f, 1.0f},   {-5.0f, -1.0f, 0.0f, 0.0f},
      {kInf, -kInf, 16.0f, 1.0f},       {512.0f, 8.0f, 512.0f, 8.0f}, {3.5f, 0.25f, 3.5f, 0.25f},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.radius << " " << c.gain);
    PlayRequest p;
    p.radius = c.radius;
    p.gain = c.gain;
    const PlayRequest s = sanitise(p);
    EXPECT_EQ(s.radius, c.want_radius);
    EXPECT_EQ(s.gain, c.want_gain);
    LoopRequest l;
    l.radius = c.radius;
    l.gain = c.gain;
    const LoopRequest sl = sanitise_loop(l);
    EXPECT_EQ(sl.radius, c.want_radius);
    EXPECT_EQ(sl.gain, c.want_gain);
  }
  // A negative zero is not below 0.
  PlayRequest z;
  z.radius = -0.0f;
  EXPECT_TRUE(std::signbit(sanitise(z).radius));
}

TEST(SoundSanitise, CoordinatesAndFadeAndUntouchedFields) {
  PlayRequest p;
  p.sound = "m:thud";
  p.domain = "dun";
  p.pos = {std::nan(""), 1e300, -std::numeric_limits<double>::infinity()};
  p.entity = 7;
  const PlayRequest s = sanitise(p);
  EXPECT_EQ(s.pos[0], 0.0);
  EXPECT_EQ(s.pos[1], 1e300);
  EXPECT_EQ(s.pos[2], 0.0);
  EXPECT_EQ(s.sound, "m:thud");
  EXPECT_EQ(s.domain, "dun");
  EXPECT_EQ(s.entity, 7u);

  for (const auto& [fade, want] : {std::pair{5000u, 1200u}, {1200u, 1200u}, {0u, 0u}, {7u, 7u}}) {
    LoopRequest l;
    l.fade_ticks = fade;
    l.pos = {1.0, std::nan(""), 2.0};
    const LoopRequest sl = sanitise_loop(l);
    EXPECT_EQ(sl.fade_ticks, want);
    EXPECT_EQ(sl.pos[1], 0.0);
    EXPECT_EQ(sl.pos[2], 2.0);
  }
}

}  // namespace
}  // namespace ostrel_core::sound
