#include "world/material.hpp"

#include <gtest/gtest.h>

#include <string>

#include "base/error.hpp"

namespace ostrel_core::material {
namespace {

TEST(MaterialRegistry, FreshRegistryHoldsTheEngineNames) {
  Registry r;
  const MaterialRegistry& lookup = r;
  EXPECT_EQ(lookup.id_of("engine:air"), std::optional<MaterialId>{0});
  EXPECT_EQ(lookup.id_of("engine:unknown"), std::optional<MaterialId>{1});
  EXPECT_EQ(lookup.id_of("m:stone"), std::nullopt);
  EXPECT_EQ(lookup.id_of(""), std::nullopt);
  EXPECT_EQ(r.size(), 2u);
  EXPECT_EQ(*r.name_of(1), "engine:unknown");
  EXPECT_EQ(r.name_of(2), nullptr);
}

TEST(MaterialRegistry, RegistersInOrderAndTwiceIsHarmless) {
  Registry r;
  EXPECT_EQ(r.register_material("m:stone").value(), 2);
  EXPECT_EQ(r.register_material("m:dirt").value(), 3);
  EXPECT_EQ(r.register_material("m:stone").value(), 2);
  EXPECT_EQ(r.size(), 4u);
  EXPECT_EQ(r.id_of("m:dirt"), std::optional<MaterialId>{3});
  EXPECT_EQ(*r.name_of(3), "m:dirt");
}

TEST(MaterialRegistry, ReservedNamesAreRefused) {
  for (const char* name : {"engine:air", "engine:unknown"}) {
    SCOPED_TRACE(name);
    Registry r;
    auto got = r.register_material(name);
    ASSERT_FALSE(got.has_value());
    EXPECT_EQ(got.error().kind, RegistryErrorKind::Reserved);
    EXPECT_EQ(got.error().message(),
              std::string("`") + name + "` is reserved by the engine and cannot be registered");
    EXPECT_EQ(got.error().debug(), std::string("Reserved { name: \"") + name + "\" }");
    EXPECT_EQ(r.size(), 2u);
  }
}

TEST(MaterialRegistry, ExhaustedAfterEveryIdIsTaken) {
  Registry r;
  for (std::size_t i = 2; i < kMaxMaterials; ++i) {
    ASSERT_EQ(r.register_material("m:n" + std::to_string(i)).value(), i);
  }
  EXPECT_EQ(r.size(), 65536u);
  auto got = r.register_material("m:one-more");
  ASSERT_FALSE(got.has_value());
  EXPECT_EQ(got.error().kind, RegistryErrorKind::Exhausted);
  EXPECT_EQ(got.error().max, 65536u);
  EXPECT_EQ(got.error().message(), "material id space exhausted at 65536 entries");
  EXPECT_EQ(report(got.error()), "material id space exhausted at 65536 entries");
  EXPECT_EQ(got.error().debug(), "Exhausted { max: 65536 }");
  EXPECT_EQ(r.id_of("m:one-more"), std::nullopt);
  // Known names still resolve, the last id included.
  EXPECT_EQ(r.register_material("m:n65535").value(), 65535);
  EXPECT_EQ(r.register_material("m:n2").value(), 2);
  EXPECT_EQ(r.size(), 65536u);
}

}  // namespace
}  // namespace ostrel_core::material
