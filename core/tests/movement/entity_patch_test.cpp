#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "movement/ent/access.hpp"

namespace ostrel_core::ent::access {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

Entity creature() {
  Entity e;
  e.transform = component::Transform::from_world(1, 2, 3);
  e.transform.yaw = 0.5f;
  e.health = component::Health{10, 30};
  e.speed = 1.0f;
  e.flash = component::TintFlash{{1, 2, 3}, 10, 4};
  return e;
}

struct Case {
  const char* name;
  Patch patch;
  bool health;  // the entity has health
  bool wrote;
  std::function<void(Entity&)> expect;  // applied to the untouched entity gives the result
};

TEST(Patch, AppliesAcceptableFieldsOnly) {
  const Case cases[] = {
      {"empty", Patch{}, true, false, [](Entity&) {}},
      {"nan position", Patch{.pos = std::array<double, 3>{kInf, 0, 0}}, true, false, [](Entity&) {}},
      {"position keeps the facing", Patch{.pos = std::array<double, 3>{16, -16, 32}}, true, true,
       [](Entity& e) {
         e.transform.chunk = {1, -1, 2};
         e.transform.local = {0, 0, 0};
       }},
      {"speed 20 is 16", Patch{.speed = 20.0f}, true, true, [](Entity& e) { e.speed = 16.0f; }},
      {"speed -1 is skipped", Patch{.speed = -1.0f}, true, false, [](Entity&) {}},
      {"speed NaN is skipped", Patch{.speed = kNaN}, true, false, [](Entity&) {}},
      {"speed -0 passes", Patch{.speed = -0.0f}, true, true, [](Entity& e) { e.speed = -0.0f; }},
      {"health capped at max", Patch{.health = 50u}, true, true, [](Entity& e) { e.health->current = 30; }},
      {"health without health", Patch{.health = 50u}, false, false, [](Entity&) {}},
      {"flash of 0 ticks clears", Patch{.flash = FlashChange{{9, 9, 9}, 0}}, true, true,
       [](Entity& e) { e.flash.reset(); }},
      {"flash starts full", Patch{.flash = FlashChange{{9, 8, 7}, 5}}, true, true,
       [](Entity& e) {
         e.flash = component::TintFlash{{9, 8, 7}, 5, 5};
       }},
      {"same yaw still counts", Patch{.yaw = 0.5f}, true, true, [](Entity&) {}},
      {"nan pitch with a velocity", Patch{.velocity = std::array<float, 3>{1, 2, 3}, .pitch = kNaN}, true,
       true,
       [](Entity& e) {
         e.velocity = {1, 2, 3};
       }},
      {"drive with an infinite walk", Patch{.drive = phys::Intent{kNaN, 0, phys::Gait::Walk, true, false}},
       true, false, [](Entity&) {}},
      {"opaque bytes replaced", Patch{.opaque = std::vector<std::uint8_t>{7}}, true, true,
       [](Entity& e) { e.opaque = std::vector<std::uint8_t>{7}; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Entity e = creature();
    if (!c.health) e.health.reset();
    Entity want = e;
    c.expect(want);
    EXPECT_EQ(c.patch.apply(e), c.wrote);
    EXPECT_EQ(e, want);
  }
}

}  // namespace
}  // namespace ostrel_core::ent::access
