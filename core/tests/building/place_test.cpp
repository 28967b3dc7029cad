#include "building/place.hpp"

#include <gtest/gtest.h>

#include <initializer_list>

namespace ostrel_core::place {
namespace {

using coords::BlockPos;
using coords::SubNodePos;
namespace edit = proto::edit;

constexpr std::uint32_t kFull = 0x7FFFFFF;

std::uint32_t mask_of(std::initializer_list<int> cells) {
  std::uint32_t m = 0;
  for (int c : cells) m |= 1u << c;
  return m;
}

TEST(Place, RefusalTextsAreExact) {
  const std::pair<Refusal, const char*> cases[] = {
      {Refusal::NotCarrying, "you are not carrying any of that"},
      {Refusal::Occupied, "there is already something there"},
      {Refusal::BodyInTheWay, "someone is standing there"},
      {Refusal::OnePiece, "that is one piece; it goes down whole or not at all"},
      {Refusal::NotFlat, "this is not flat ground"},
  };
  for (const auto& [r, t] : cases) EXPECT_EQ(text(r), t);
}

TEST(Place, PlanCases) {
  struct Case {
    const char* name;
    SubNodePos target;
    std::uint32_t units;
    bool shaped;
    std::uint32_t shape;
    bool single;
    std::uint32_t occupied;
    std::expected<Placement, Refusal> want;
  };
  const std::uint32_t bottom = mask_of({0, 1, 2, 9, 10, 11, 18, 19, 20});
  const std::uint32_t six = mask_of({0, 1, 2, 3, 4, 5});
  const Case cases[] = {
      {"no units, loose", {0, 0, 0}, 0, false, 0, false, 0, std::unexpected(Refusal::NotCarrying)},
      {"no units, one cell", {0, 0, 0}, 0, false, 0, true, 0, std::unexpected(Refusal::NotCarrying)},
      {"no units, shaped", {0, 0, 0}, 0, true, six, false, 0, std::unexpected(Refusal::NotCarrying)},
      {"5 loose into empty",
       {4, 1, 2},
       5,
       false,
       0,
       false,
       0,
       Placement{{1, 0, 0}, mask_of({0, 1, 2, 9, 10}), 5}},
      {"5 loose over a full bottom",
       {0, 0, 0},
       5,
       false,
       0,
       false,
       bottom,
       Placement{{0, 0, 0}, mask_of({3, 4, 5, 12, 13}), 5}},
      {"40 loose fill all", {0, 0, 0}, 40, false, 0, false, 0, Placement{{0, 0, 0}, kFull, 27}},
      {"loose into full", {0, 0, 0}, 40, false, 0, false, kFull, std::unexpected(Refusal::Occupied)},
      {"one cell into full is planned", {0, 0, 0}, 1, false, 0, true, kFull, Placement{{0, 0, 0}, 1, 1}},
      {"shape of 6 with 5", {0, 0, 0}, 5, true, six, false, 0, std::unexpected(Refusal::NotCarrying)},
      {"shape of 6 with 6 over anything",
       {0, 0, 0},
       6,
       true,
       six,
       false,
       kFull,
       Placement{{0, 0, 0}, six, 6}},
      {"one cell at negatives", {-1, 4, -3}, 1, false, 0, true, 0, Placement{{-1, 1, -1}, 1u << 5, 1}},
      {"a mask above 27 bits is cut", {0, 0, 0}, 27, true, 0xF8000007u, false, 0, Placement{{0, 0, 0}, 7, 3}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(plan(c.target, c.units, c.shaped, c.shape, c.single, c.occupied), c.want);
  }
}

TEST(Place, PlanCutGoesDownWholeOrNotAtAll) {
  Cells cut{};
  cut[0] = 3;
  cut[1] = 8;
  EXPECT_EQ(plan_cut({3, 0, 0}, 2, cut), (Placement{{1, 0, 0}, 3, 2}));
  EXPECT_EQ(plan_cut({3, 0, 0}, 1, cut), std::unexpected(Refusal::NotCarrying));
  EXPECT_EQ(plan_cut({3, 0, 0}, 27, Cells{}), std::unexpected(Refusal::NotCarrying));
}

TEST(Place, TrimTakesCellsInFillOrder) {
  EXPECT_EQ(trim(kFull, 4), mask_of({0, 1, 2, 9}));
  EXPECT_EQ(trim(mask_of({5, 20}), 2), mask_of({5, 20}));
  EXPECT_EQ(trim(mask_of({5, 20}), 9), mask_of({5, 20}));
  EXPECT_EQ(trim(mask_of({5, 20}), 1), mask_of({20}));  // 20 comes before 5 in fill order
  EXPECT_EQ(trim(kFull, 0), 0u);
}

TEST(Place, QuadrantOfTheEye) {
  EXPECT_EQ(quadrant(1, 1), 0u);
  EXPECT_EQ(quadrant(1.5f, -1), 1u);
  EXPECT_EQ(quadrant(-2, 1), 3u);
  EXPECT_EQ(quadrant(0, -1), 2u);
}

// Each row of the orientation table: carried cell (x, y, z) lands where the row says.
TEST(Place, OrientationTableForEveryCell) {
  struct Row {
    const char* name;
    Face face;
    float ex, ez;  // an eye offset in the quadrant
    int (*to)(int x, int y, int z);
  };
  const Row rows[] = {
      {"none", {0, 0, 0}, 1.0f, -0.5f, [](int x, int y, int z) { return x + 3 * y + 9 * z; }},
      {"top q0", {0, 1, 0}, 0.0f, 1.0f, [](int x, int y, int z) { return x + 3 * y + 9 * z; }},
      {"top q1", {0, 1, 0}, 1.0f, 0.0f, [](int x, int y, int z) { return z + 3 * y + 9 * (2 - x); }},
      {"bottom q2",
       {0, -1, 0},
       0.0f,
       -1.0f,
       [](int x, int y, int z) { return (2 - x) + 3 * y + 9 * (2 - z); }},
      {"top q3", {0, 1, 0}, -1.0f, 0.0f, [](int x, int y, int z) { return (2 - z) + 3 * y + 9 * x; }},
      {"side q0", {1, 0, 0}, 0.0f, 1.0f, [](int x, int y, int z) { return x + 3 * (2 - z) + 9 * y; }},
      {"side q1", {0, 0, -1}, 1.0f, 0.0f, [](int x, int y, int z) { return z + 3 * x + 9 * y; }},
      {"side q2", {-1, 0, 0}, 0.0f, -1.0f, [](int x, int y, int z) { return (2 - x) + 3 * z + 9 * y; }},
      {"side q3", {0, 0, 1}, -1.0f, 0.0f, [](int x, int y, int z) { return (2 - z) + 3 * (2 - x) + 9 * y; }},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    Cells carried{};
    for (int i = 0; i < 27; ++i) {
      const int x = i % 3, y = i / 3 % 3, z = i / 9;
      const int to = r.to(x, y, z);
      EXPECT_EQ(oriented(1u << i, r.face, r.ex, r.ez), 1u << to) << "cell " << i;
      carried[static_cast<std::size_t>(i)] = static_cast<MaterialId>(100 + i);
    }
    const Cells placed = oriented_cells(carried, r.face, r.ex, r.ez);
    for (int i = 0; i < 27; ++i) {
      const int to = r.to(i % 3, i / 3 % 3, i / 9);
      EXPECT_EQ(placed[static_cast<std::size_t>(to)], 100 + i);
    }
  }
}

TEST(Place, OrientedExamples) {
  const std::uint32_t row = mask_of({0, 1, 2});
  EXPECT_EQ(oriented(row, {0, 1, 0}, 1.0f, 0.0f), mask_of({18, 9, 0}));
  EXPECT_EQ(oriented(row, {0, 0, 1}, 0.0f, 1.0f), mask_of({6, 7, 8}));
  EXPECT_EQ(oriented(0xFFFFFFFFu, {0, 0, 0}, 0, 0), kFull);
}

TEST(Place, BodiesInTheSameDomainOnlyBlock) {
  // A box from local cell 3.0 to exactly 6.0 covers cells 3..5 on each axis.
  const BodyBox here{"overworld", {0, 0, 0}, {{3.0f, 3.0f, 3.0f}, {6.0f, 6.0f, 6.0f}}};
  const BodyBox elsewhere{"moon", {0, 0, 0}, {{3.0f, 3.0f, 3.0f}, {6.0f, 6.0f, 6.0f}}};
  const BodyBox far_chunk{"overworld", {-1, 0, 0}, {{45.0f, 3.0f, 3.0f}, {48.0f, 6.0f, 6.0f}}};
  struct Case {
    const char* name;
    BlockPos block;
    std::uint32_t cells;
    std::vector<BodyBox> boxes;
    bool want;
  };
  const Case cases[] = {
      {"block 1 is cells 3..5", {1, 1, 1}, kFull, {here}, true},
      {"block 2 starts at cell 6, the box's edge", {2, 1, 1}, kFull, {here}, false},
      {"a body in another domain", {1, 1, 1}, kFull, {elsewhere}, false},
      {"one of several", {1, 1, 1}, kFull, {elsewhere, here}, true},
      {"no boxes", {1, 1, 1}, kFull, {}, false},
      {"empty mask", {1, 1, 1}, 0, {here}, false},
      {"negative chunk: cells -3..-1", {-1, 1, 1}, 1u << 0, {far_chunk}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(blocks_a_body(c.block, c.cells, "overworld", c.boxes), c.want);
  }
}

TEST(Place, WritesOfOneMaterial) {
  const BlockPos b{1, -1, 0};
  using E = std::vector<proto::Edit>;
  struct Case {
    const char* name;
    std::uint32_t cells, occupied;
    bool same;
    E want;
  };
  const Case cases[] = {
      {"empty mask", 0, 0, true, {}},
      {"one cell", 1u << 4, 0, true, {edit::Cell{{4, -2, 0}, 5}}},
      {"into empty", 3, 0, true, {edit::Partial{b, 5, 3}}},
      {"completes a block of the same", 3, kFull & ~3u, true, {edit::Set{b, 5}}},
      {"beside another material", 3, 1u << 2, false, {edit::Cell{{3, -3, 0}, 5}, edit::Cell{{4, -3, 0}, 5}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(writes(b, c.cells, 5, c.occupied, c.same), c.want);
  }
}

TEST(Place, CutWritesSeeEarlierMaterials) {
  Cells cut{};
  cut[0] = 8;
  cut[1] = 3;
  const auto w = cut_writes({0, 0, 0}, cut, Cells{});
  ASSERT_EQ(w.size(), 2u);
  EXPECT_EQ(w[0].first, 3);
  EXPECT_EQ(w[0].second, (std::vector<proto::Edit>{edit::Cell{{1, 0, 0}, 3}}));
  EXPECT_EQ(w[1].first, 8);
  EXPECT_EQ(w[1].second, (std::vector<proto::Edit>{edit::Cell{{0, 0, 0}, 8}}));

  // Two cells of 3 joining a block of 3 extend it; 8 then sees a block of 3 and goes cell by cell.
  Cells cut2{};
  cut2[0] = cut2[1] = 3;
  cut2[3] = cut2[4] = 8;
  Cells present{};
  present[2] = 3;
  const auto w2 = cut_writes({0, 0, 0}, cut2, present);
  ASSERT_EQ(w2.size(), 2u);
  EXPECT_EQ(w2[0].second, (std::vector<proto::Edit>{edit::Partial{{0, 0, 0}, 3, 7}}));
  EXPECT_EQ(w2[1].second, (std::vector<proto::Edit>{edit::Cell{{0, 1, 0}, 8}, edit::Cell{{1, 1, 0}, 8}}));
}

}  // namespace
}  // namespace ostrel_core::place
