#include "placing/claim.hpp"

#include <gtest/gtest.h>

#include "hub/hub.hpp"
#include "support/hub_fixture.hpp"

namespace ostrel_server::placing {
namespace {

using transport::endpoint::PlacementRequest;

// World ids 10 and 11 are this run's 2 and 3; world id 12 is not known.
std::shared_ptr<transport::endpoint::Shared> hub() {
  transport::endpoint::HubInit init;
  init.material_map = ostrel_core::persist::idmap::MaterialMap{};
  init.material_map.reverse = {{10, 2}, {11, 3}};
  return test::make_hub(std::move(init));
}

TEST(Claim, Translations) {
  auto h = hub();
  struct Case {
    const char* name;
    PlacementRequest request;
    std::optional<PlacedItem> want;
  };
  std::vector<std::uint16_t> thirty(30, 0);
  thirty[0] = 11;
  thirty[1] = 10;
  thirty[29] = 12;  // past the 27th: ignored
  ostrel_core::block::Cells cut{};
  cut[0] = 3;
  cut[1] = 2;
  const Case cases[] = {
      {"plain", {.material = 10, .detail = "d"}, PlacedItem{2, std::nullopt, std::nullopt, "d"}},
      {"an unknown id", {.material = 12}, std::nullopt},
      {"a partial shape",
       {.material = 11, .occupancy = 0x1FF},
       PlacedItem{3, 0x1FF, std::nullopt, std::nullopt}},
      {"a full shape is none", {.material = 11, .occupancy = 0x7FFFFFF}, PlacedItem{3}},
      {"a shape above 27 bits is cut", {.material = 11, .occupancy = 0xF8000001u}, PlacedItem{3, 1u}},
      {"a cut of two materials, 30 cells", {.cells = thirty}, PlacedItem{2, 3u, cut, std::nullopt}},
      {"a cut naming an unknown id", {.cells = {12, 10}}, std::nullopt},
      {"a cut of nothing", {.cells = {0, 0, 0}}, std::nullopt},
      {"a cut of one material is a shape",
       {.cells = {10, 10}},
       PlacedItem{2, 3u, std::nullopt, std::nullopt}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(claim(*h, c.request), c.want);
  }
}

TEST(Claim, TheIdentityMapPassesIdsThrough) {
  auto h = test::make_hub();
  ASSERT_TRUE(h->material_map().identity);
  EXPECT_EQ(claim(*h, {.material = 12}), PlacedItem{12});
}

}  // namespace
}  // namespace ostrel_server::placing
