#include "transport/streamer.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

#include "proto/server.hpp"

namespace ostrel_server::transport::stream {
namespace {

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();

HeldMessage edit_frame(std::int32_t x) {
  namespace sm = ostrel_core::proto::server;
  return std::make_shared<const ostrel_core::proto::Frame>(
      ostrel_core::proto::encode(sm::ChatLine{std::nullopt, std::to_string(x)}));
}

TEST(StreamerRadii, HorizonFollowsViewDistance) {
  struct Case {
    std::uint8_t view;
    std::uint8_t h, v;
  };
  constexpr Case kCases[] = {{0, 1, 1},  {1, 4, 1},    {5, 20, 5},   {7, 28, 7},
                             {8, 32, 8}, {16, 32, 16}, {20, 32, 16}, {32, 32, 16}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(int{c.view});
    EXPECT_EQ(horizon_h_for(c.view), c.h);
    EXPECT_EQ(horizon_v_for(c.view), c.v);
    Streamer s("overworld", {}, c.view, c.view);
    EXPECT_EQ(s.horizon_h(), c.h);
    EXPECT_EQ(s.horizon_v(), c.v);
  }
}

TEST(StreamerDistance, CeilingSquareRootIsExactAtTheEnds) {
  struct Case {
    std::uint64_t n;
    std::uint32_t want;
  };
  constexpr std::uint64_t kTop = std::numeric_limits<std::uint64_t>::max();
  constexpr std::uint64_t kRoot = 0xffff'ffffULL;  // the largest square root of a u64
  constexpr Case kCases[] = {{0, 0},
                             {1, 1},
                             {2, 2},
                             {3, 2},
                             {4, 2},
                             {5, 3},
                             {8, 3},
                             {9, 3},
                             {10, 4},
                             {1u << 20, 1u << 10},
                             {(1u << 20) + 1, (1u << 10) + 1},
                             {kRoot * kRoot, 0xffff'ffffu},
                             {kRoot * kRoot - 1, 0xffff'ffffu},
                             {kRoot * kRoot + 1, 0xffff'ffffu},  // 2^32 is past the 32-bit range
                             {kTop, 0xffff'ffffu},
                             {(kRoot - 1) * (kRoot - 1), 0xffff'fffeu},
                             {(kRoot - 1) * (kRoot - 1) + 1, 0xffff'ffffu}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.n);
    EXPECT_EQ(ceil_sqrt(c.n), c.want);
  }
}

TEST(StreamerNeeded, NothingSentGivesTheCentreFirstThenNearest) {
  Streamer s("overworld", {10, 5, -3}, 2, 1);
  auto got = s.next_needed(5);
  // The layers just above and below weigh nothing; the level neighbours follow by position.
  EXPECT_EQ(got, (std::vector<ChunkPos>{{10, 5, -3}, {10, 4, -3}, {10, 6, -3}, {9, 5, -3}, {10, 5, -4}}));
  EXPECT_EQ(s.nearest_needed(), 0u);
}

TEST(StreamerNeeded, LimitZeroReturnsNothingButRecordsTheNearest) {
  Streamer s("overworld", {}, 2, 0);
  EXPECT_TRUE(s.next_needed(0).empty());
  EXPECT_EQ(s.nearest_needed(), 0u);
  s.sent.insert(ChunkPos{0, 0, 0});
  EXPECT_TRUE(s.next_needed(0).empty());
  EXPECT_EQ(s.nearest_needed(), 1u);
  // Everything held: nothing needed, and the distance is forgotten.
  for (const ChunkPos& p : s.next_needed(1000)) s.sent.insert(p);
  EXPECT_TRUE(s.next_needed(0).empty());
  EXPECT_EQ(s.nearest_needed(), std::nullopt);
}

TEST(StreamerNeeded, SkipsSentAndInFlight) {
  Streamer s("overworld", {}, 1, 0);
  s.sent.insert(ChunkPos{0, 0, 0});
  s.in_flight.insert(ChunkPos{-1, 0, 0});
  auto got = s.next_needed(10);
  EXPECT_EQ(got, (std::vector<ChunkPos>{{0, 0, -1}, {0, 0, 1}, {1, 0, 0}}));
}

TEST(StreamerShadows, ChunkBehindSealedOneWaitsForUnseal) {
  // A line of chunks along +x, view 3 with no height: the centre is sent, (1,0,0) sealed.
  Streamer s("overworld", {}, 3, 0);
  s.sent = {{0, 0, 0}, {1, 0, 0}};
  s.sealed = {{1, 0, 0}};
  auto got = s.next_needed(100);
  const ChunkPos behind{2, 0, 0};
  EXPECT_EQ(std::count(got.begin(), got.end(), behind), 0);
  EXPECT_TRUE(s.shadowed().contains(behind));
  // Still shadowed on the next pass: not looked at again.
  for (const ChunkPos& p : got) s.in_flight.insert(p);
  EXPECT_TRUE(s.next_needed(100).empty());
  // An edit in the sealed chunk opens it.
  s.unseal({1, 0, 0});
  EXPECT_FALSE(s.shadowed().contains(behind));
  got = s.next_needed(100);
  EXPECT_EQ(std::count(got.begin(), got.end(), behind), 1);
}

TEST(StreamerShadows, UnsealOfAChunkNotSealedLiftsNothing) {
  Streamer s("overworld", {}, 3, 0);
  s.sent = {{0, 0, 0}, {1, 0, 0}};
  s.sealed = {{1, 0, 0}};
  (void)s.next_needed(100);
  ASSERT_TRUE(s.shadowed().contains(ChunkPos{2, 0, 0}));
  s.unseal({2, 0, 0});  // not sealed
  EXPECT_TRUE(s.shadowed().contains(ChunkPos{2, 0, 0}));
  s.lift_shadows({5, 0, 5});  // neither a neighbour nor on the way to the centre
  EXPECT_TRUE(s.shadowed().contains(ChunkPos{2, 0, 0}));
  s.lift_shadows({3, 0, 0});  // a face neighbour
  EXPECT_FALSE(s.shadowed().contains(ChunkPos{2, 0, 0}));
}

TEST(StreamerHeld, KeepsOneThousandTwentyFourEditsThenOverflows) {
  Streamer s("overworld", {}, 2, 2);
  const ChunkPos pos{1, 0, 0};
  s.in_flight.insert(pos);
  for (std::size_t i = 0; i < kMaxHeldEdits; ++i) s.hold_edit(pos, edit_frame(static_cast<std::int32_t>(i)));
  const auto* edits = std::get_if<held::Edits>(&s.held.at(pos));
  ASSERT_NE(edits, nullptr);
  ASSERT_EQ(edits->messages.size(), kMaxHeldEdits);
  EXPECT_EQ(*edits->messages.front(), *edit_frame(0));
  EXPECT_EQ(*edits->messages.back(), *edit_frame(1023));
  s.hold_edit(pos, edit_frame(1024));
  EXPECT_TRUE(std::holds_alternative<held::Overflowed>(s.held.at(pos)));
  s.hold_edit(pos, edit_frame(1025));  // stays overflowed
  EXPECT_TRUE(std::holds_alternative<held::Overflowed>(s.held.at(pos)));
}

TEST(StreamerMoves, UnchangedArgumentsChangeNothing) {
  Streamer s("overworld", {3, 0, 3}, 4, 2);
  s.sent = {{3, 0, 3}};
  s.in_flight = {{4, 0, 3}};
  (void)s.next_needed(0);
  const auto horizon = s.horizon();
  EXPECT_TRUE(s.resize(4, 2).empty());
  EXPECT_TRUE(s.recentre({3, 0, 3}).empty());
  EXPECT_TRUE(s.switch_to("overworld", {100, 0, 100}).empty());
  EXPECT_EQ(s.centre(), (ChunkPos{3, 0, 3}));
  EXPECT_EQ(s.sent, (std::set<ChunkPos>{{3, 0, 3}}));
  EXPECT_EQ(s.in_flight, (std::set<ChunkPos>{{4, 0, 3}}));
  EXPECT_EQ(s.horizon(), horizon);
}

TEST(StreamerMoves, DepartedIsSortedWithoutDuplicates) {
  Streamer s("overworld", {}, 1, 1);  // summary region: radius 4, height 1
  s.sent = {{0, 0, 0}, {9, 0, 0}, {-7, 0, 2}, {0, 5, 0}};
  // (9, 0, 0) in both sets is unloaded once.
  s.summarised_at = {{{-20, 0, 0}, 2}, {{3, 0, 0}, 1}, {{2, 0, -9}, 3}, {{9, 0, 0}, 1}};
  s.sealed = {{9, 0, 0}};
  auto gone = s.recentre({0, 0, 1});
  EXPECT_EQ(gone, (std::vector<ChunkPos>{{-20, 0, 0}, {-7, 0, 2}, {0, 5, 0}, {2, 0, -9}, {9, 0, 0}}));
  EXPECT_TRUE(std::is_sorted(gone.begin(), gone.end()));
  EXPECT_EQ(s.sent, (std::set<ChunkPos>{{0, 0, 0}}));
  EXPECT_EQ(s.summarised_at.size(), 1u);
  EXPECT_TRUE(s.sealed.empty());
}

TEST(StreamerMoves, RecentreDropsFarRequestsAndTheirHeldEdits) {
  Streamer s("overworld", {}, 1, 1);
  s.in_flight = {{1, 0, 0}, {40, 0, 0}};
  s.hold_edit({1, 0, 0}, edit_frame(1));
  s.hold_edit({40, 0, 0}, edit_frame(2));
  (void)s.recentre({0, 0, 1});
  EXPECT_EQ(s.in_flight, (std::set<ChunkPos>{{1, 0, 0}}));
  EXPECT_EQ(s.held.size(), 1u);
  EXPECT_TRUE(s.held.contains(ChunkPos{1, 0, 0}));
}

TEST(StreamerMoves, ResizeUnloadsWhatLeavesTheSummaryRegion) {
  Streamer s("overworld", {}, 8, 8);
  s.sent = {{0, 0, 0}, {20, 0, 0}, {0, 6, 0}};
  s.in_flight = {{30, 0, 0}, {2, 0, 0}};
  auto gone = s.resize(1, 2);  // radius 4, height 2
  EXPECT_EQ(gone, (std::vector<ChunkPos>{{0, 6, 0}, {20, 0, 0}}));
  EXPECT_EQ(s.in_flight, (std::set<ChunkPos>{{2, 0, 0}}));
  EXPECT_EQ(s.view_h(), 1);
  EXPECT_EQ(s.horizon_h(), 4);
}

TEST(StreamerMoves, SwitchHandsBackEverythingHeldAndEmptiesTheBookkeeping) {
  Streamer s("overworld", {}, 2, 2);
  s.sent = {{1, 0, 0}, {0, 0, 0}};
  s.summarised_at = {{{-5, 0, 0}, 1}};
  s.sealed = {{1, 0, 0}};
  s.in_flight = {{0, 1, 0}};
  s.hold_edit({0, 1, 0}, edit_frame(1));
  auto old = s.switch_to("nether", {7, 7, 7});
  EXPECT_EQ(old, (std::vector<ChunkPos>{{0, 0, 0}, {1, 0, 0}, {-5, 0, 0}}));
  EXPECT_EQ(s.domain(), "nether");
  EXPECT_EQ(s.centre(), (ChunkPos{7, 7, 7}));
  EXPECT_TRUE(s.sent.empty() && s.summarised_at.empty() && s.sealed.empty());
  EXPECT_TRUE(s.in_flight.empty() && s.held.empty());
  EXPECT_TRUE(s.recentre({7, 7, 7}).empty());
  EXPECT_EQ(s.next_needed(1), (std::vector<ChunkPos>{{7, 7, 7}}));
}

TEST(StreamerSummaries, WaitForNearerFullChunks) {
  Streamer s("overworld", {}, 1, 0);  // view: the centre and its four neighbours
  // Nothing sent: the centre is needed at distance 0, so no horizon chunk is ready.
  (void)s.next_needed(0);
  EXPECT_TRUE(s.next_summaries(2).empty());
  // Every needed chunk requested: summaries flow. The horizon's nearest entries (straight above
  // and below, or one diagonal step up) are close enough to be wanted in full and are skipped;
  // the first summaries are the level diagonals, at distance 2, level 2 on a base of 1.
  for (const ChunkPos& p : s.next_needed(100)) s.in_flight.insert(p);
  (void)s.next_needed(0);
  EXPECT_EQ(s.nearest_needed(), std::nullopt);
  auto got = s.next_summaries(2);
  using Want = std::vector<std::pair<ChunkPos, std::uint8_t>>;
  EXPECT_EQ(got, (Want{{{-1, 0, -1}, 2}, {{-1, 0, 1}, 2}}));
}

TEST(StreamerSummaries, SummaryHeldAtTheRightLevelIsNotAskedAgain) {
  Streamer s("overworld", {}, 1, 0);
  for (const ChunkPos& p : s.next_needed(100)) s.sent.insert(p);
  (void)s.next_needed(0);
  std::size_t rounds = 0;
  for (auto got = s.next_summaries(1); !got.empty(); got = s.next_summaries(1)) {
    ASSERT_EQ(got.size(), 1u);
    ASSERT_LE(++rounds, s.horizon().size());
    s.summarised(got[0].first, got[0].second);
  }
  // Exactly the horizon chunks two or more columns out were summarised.
  const auto far = std::count_if(s.horizon().begin(), s.horizon().end(),
                                 [](const ChunkPos& p) { return p.x * p.x + p.z * p.z >= 2; });
  EXPECT_EQ(s.summarised_at.size(), static_cast<std::size_t>(far));
  EXPECT_TRUE(s.next_summaries(2).empty());
}

TEST(StreamerSummaries, LooksAtMostTheBudgetAndResumes) {
  // View 8: a horizon of radius 32 over 9 layers, far more than 2048 entries.
  Streamer s("overworld", {}, 8, 0);
  const std::size_t n = s.horizon().size();
  ASSERT_GT(n, 2 * kSummaryScanBudget);
  // Everything in the horizon is in flight but one entry past the budget.
  for (const ChunkPos& p : s.horizon()) s.in_flight.insert(p);
  const ChunkPos late = s.horizon()[kSummaryScanBudget + 10];
  s.in_flight.erase(late);
  for (const ChunkPos& p : s.next_needed(100000)) s.sent.insert(p);
  (void)s.next_needed(0);
  // The first call stops after 2048 entries without reaching it; the second goes on from there.
  EXPECT_TRUE(s.next_summaries(2).empty());
  auto got = s.next_summaries(2);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].first, late);
}

TEST(StreamerSummaries, ResumeAndRoundRobinNeverOfferOneChunkTwice) {
  // View 1 wide and 4 high: chunks straight above and below are needed at distance 16 and 64.
  Streamer s("overworld", {}, 1, 4);
  for (std::int32_t y = -2; y <= 2; ++y) s.sent.insert(ChunkPos{0, y, 0});
  (void)s.next_needed(0);
  ASSERT_EQ(s.nearest_needed(), 1u);
  // Every summary waits; the scan will resume at the first of them.
  EXPECT_TRUE(s.next_summaries(2).empty());
  for (const ChunkPos& p : s.next_needed(1000)) {
    if (p.x != 0 || p.z != 0 || std::abs(p.y) < 3) s.sent.insert(p);
  }
  (void)s.next_needed(0);
  ASSERT_EQ(s.nearest_needed(), 16u);
  // The resumed scan takes the ready entries up to the first one past distance 16; the
  // round-robin scan after it passes the same entries again.
  auto got = s.next_summaries(1000);
  ASSERT_FALSE(got.empty());
  std::set<ChunkPos> seen;
  for (const auto& [p, level] : got) {
    EXPECT_TRUE(seen.insert(p).second) << p.x << "," << p.y << "," << p.z;
    EXPECT_LE(s.dist2(p), 16u);
  }
}

TEST(StreamerLimits, WindowAtThe32BitEndsStaysFinite) {
  for (const ChunkPos centre : {ChunkPos{kMax, kMax, kMax}, ChunkPos{kMin, kMin, kMin}}) {
    Streamer s("overworld", centre, 2, 1);
    auto got = s.next_needed(1000);
    std::set<ChunkPos> unique(got.begin(), got.end());
    EXPECT_EQ(unique.size(), got.size());
    EXPECT_EQ(got.front(), centre);
    for (const ChunkPos& p : got) s.sent.insert(p);
    (void)s.next_needed(0);
    (void)s.next_summaries(2);
    auto gone = s.recentre({0, 0, 0});
    EXPECT_EQ(gone.size(), got.size());
  }
}

}  // namespace
}  // namespace ostrel_server::transport::stream
