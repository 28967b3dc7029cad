// SkyBook: building from the registered skies, the lookup order and the SkyTable.

#include "sky/skies.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace ostrel_server::skies {
namespace {

namespace media = ostrel_core::script::media;
namespace proto = ostrel_core::proto;

// A sky whose one keyframe carries `mark` as its time (to tell skies apart) and fog (mark, 0, 0).
media::Sky sky(std::optional<std::string> domain, float mark, std::uint32_t day_length = 24000) {
  media::Sky s;
  s.domain = std::move(domain);
  media::SkyKeyframe k;
  k.time = mark;
  k.sky = {0.1f, 0.2f, 0.3f};
  k.grade.gamma = 2.0f;
  k.stars = 0.5f;
  s.keyframes = {k};
  s.day_length_ticks = day_length;
  s.start_time = 0.9f;
  s.cave_fog = {mark, 0.0f, 0.0f};
  return s;
}

// The mark of the sky found for `name`, or -1 for none.
float found(const SkyBook& book, std::string_view name) {
  const SkyWire* w = book.wire_for(name);
  return w == nullptr ? -1.0f : w->keyframes.at(0).time;
}

TEST(SkyBook, LookupOrder) {
  const std::vector<media::Sky> with_default = {sky(std::nullopt, 0.1f), sky("overworld", 0.2f),
                                                sky("caves", 0.3f), sky("caves/7", 0.4f), sky("a", 0.5f)};
  const SkyBook book = SkyBook::from_registered(with_default);
  struct Case {
    const char* name;
    float mark;
  };
  const Case cases[] = {{"caves", 0.3f},     {"caves/8", 0.3f}, {"caves/7", 0.4f},
                        {"mines/2", 0.1f},   {"mines", 0.1f},   {"a/b/c", 0.5f},
                        {"overworld", 0.2f}, {"Caves", 0.1f},   {"/caves", 0.1f}};
  for (const Case& c : cases) EXPECT_EQ(found(book, c.name), c.mark) << c.name;

  const std::vector<media::Sky> without_default(with_default.begin() + 1, with_default.end());
  const SkyBook bare = SkyBook::from_registered(without_default);
  EXPECT_EQ(found(bare, "mines/2"), -1.0f);
  EXPECT_EQ(found(bare, "mines"), -1.0f);
  EXPECT_EQ(found(bare, "caves/2"), 0.3f);
}

TEST(SkyBook, DayLengthAndLaterSkiesWin) {
  const auto a = sky("overworld", 0.1f, 0);
  const auto b = sky("caves", 0.2f, 24000);
  const auto c = sky(std::nullopt, 0.3f, 12000);
  EXPECT_EQ(SkyBook::from_registered(std::vector{a, b, c}).day_length_ticks(), 12000u);
  EXPECT_EQ(SkyBook::from_registered(std::vector{a, b}).day_length_ticks(), 24000u);
  EXPECT_EQ(SkyBook::from_registered(std::vector{a}).day_length_ticks(), 0u);
  EXPECT_EQ(SkyBook::from_registered(std::vector<media::Sky>{}).day_length_ticks(), 0u);

  const SkyBook twice = SkyBook::from_registered(
      std::vector{sky("caves", 0.1f), sky("caves", 0.2f), sky(std::nullopt, 0.5f), sky(std::nullopt, 0.6f)});
  EXPECT_EQ(found(twice, "caves"), 0.2f);
  EXPECT_EQ(found(twice, "elsewhere"), 0.6f);
  EXPECT_EQ(twice.by_domain().size(), 1u);
}

TEST(SkyBook, TablesCarryTheSkyTheRunTimeSkyOrNone) {
  const auto registered = sky("caves", 0.3f, 18000);
  const SkyBook book = SkyBook::from_registered(std::vector{registered});
  const std::array<std::int64_t, 3> where{1, -2, 3};

  const auto table = book.table_for_with("caves/1", where, std::nullopt);
  EXPECT_EQ(table.day_length_ticks, 18000u);
  ASSERT_EQ(table.frames.size(), 1u);
  EXPECT_EQ(table.frames[0], media::sky_frame(registered.keyframes[0]));  // field for field
  EXPECT_EQ(table.frames[0].gamma, 2.0f);
  EXPECT_EQ(table.position, where);
  EXPECT_EQ(table.fog, (proto::Vec3f{0.3f, 0.0f, 0.0f}));

  const auto none = book.table_for_with("mines", where, std::nullopt);
  EXPECT_EQ(none.day_length_ticks, 0u);
  EXPECT_TRUE(none.frames.empty());
  EXPECT_EQ(none.position, where);
  EXPECT_EQ(none.fog, (proto::Vec3f{0.05f, 0.05f, 0.06f}));

  // A run-time sky wins for its domain; the day length is still the book's.
  ostrel_core::domain::DomainSky runtime;
  runtime.keyframes = {proto::SkyFrame{.time = 0.9f}, proto::SkyFrame{.time = 0.95f}};
  runtime.cave_fog = {0.0f, 1.0f, 0.0f};
  const auto own = book.table_for_with("caves", where, runtime);
  EXPECT_EQ(own.day_length_ticks, 18000u);
  EXPECT_EQ(own.frames, runtime.keyframes);
  EXPECT_EQ(own.fog, (proto::Vec3f{0.0f, 1.0f, 0.0f}));
  EXPECT_EQ(book.table_for_with("mines", where, runtime).frames.size(), 2u);
}

}  // namespace
}  // namespace ostrel_server::skies
