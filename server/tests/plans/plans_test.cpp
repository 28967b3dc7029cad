#include <fmt/format.h>
#include <gtest/gtest.h>

#include "base/log.hpp"
#include "persist/compress.hpp"
#include "plans/capture.hpp"
#include "plans/shared.hpp"
#include "proto/codec.hpp"
#include "support/temp_dir.hpp"
#include "support/test_world.hpp"
#include "world/world.hpp"

namespace ostrel_server::plans {
namespace {

namespace block = ostrel_core::block;
using ostrel_core::chunk::Chunk;
using ostrel_core::coords::ChunkPos;
using ostrel_core::plan::Plan;
using ostrel_core::plan::PlanEntry;
using ostrel_core::plan::PlanErrorKind;

constexpr MaterialId kStone = 2, kDirt = 3, kNameless = 9;
constexpr std::uint32_t kFull = 0x7FFFFFF;

// Every chunk generated air, or whole stone while `stone`.
class Source final : public world::ChunkSource {
 public:
  Chunk generate(std::string_view d, ChunkPos p, std::uint64_t s) override {
    return std::move(generate_with_fluid(d, p, s).chunk);
  }
  world::Generated generate_with_fluid(std::string_view, ChunkPos pos, std::uint64_t) override {
    return world::Generated{Chunk::filled(pos, stone ? kStone : 0), {}, false};
  }
  world::Tint tint(std::string_view, ChunkPos, std::uint64_t) override { return world::kDefaultTint; }
  std::optional<ostrel_core::proto::ChunkFog> fog(std::string_view, ChunkPos, std::uint64_t) override {
    return std::nullopt;
  }
  void fault(std::string_view) override {}
  std::vector<std::string> faulted() override { return {}; }
  bool stone = false;
};

Names names() { return Names({{"m:stone", kStone}, {"m:dirt", kDirt}, {"m:stone_alias", kStone}}); }

class Capture : public ::testing::Test {
 protected:
  // Makes the chunks of the box resident.
  void resident(ChunkPos lo, ChunkPos hi, const char* domain = "overworld") {
    for (int z = lo.z; z <= hi.z; ++z)
      for (int y = lo.y; y <= hi.y; ++y)
        for (int x = lo.x; x <= hi.x; ++x) ASSERT_TRUE(world_.chunk(domain, ChunkPos{x, y, z}, source_));
  }
  void set(ostrel_core::coords::BlockPos at, const block::BlockValue& v) {
    auto c = world_.chunk("overworld", at.chunk(), source_);
    ASSERT_TRUE(c);
    (*c)->set_block_local(at.local(), v);
  }
  std::expected<Plan, ostrel_core::plan::PlanError> capture(ostrel_core::coords::BlockPos from,
                                                            ostrel_core::coords::BlockPos to,
                                                            std::string_view domain = "overworld") {
    return plans::capture(world_, names_, domain, from, to);
  }

  ostrel_core::test::TempDir dir_;
  world::World world_ = test::open_test_world(dir_.path(), {"test:stone", "test:dirt"});
  Source source_;
  Names names_ = names();
};

TEST_F(Capture, ExtentsFromEitherCorner) {
  resident({0, 0, 0}, {0, 0, 0});
  set({3, 9, 4}, block::BlockValue::whole(kDirt));
  for (auto [from, to] :
       {std::pair{ostrel_core::coords::BlockPos{0, 8, 0}, ostrel_core::coords::BlockPos{7, 12, 7}},
        std::pair{ostrel_core::coords::BlockPos{7, 12, 7}, ostrel_core::coords::BlockPos{0, 8, 0}}}) {
    auto p = capture(from, to);
    ASSERT_TRUE(p);
    EXPECT_EQ((std::array{p->w, p->h, p->d}), (std::array<std::uint16_t, 3>{8, 5, 8}));
    EXPECT_EQ(p->palette, (std::vector<std::string>{"m:dirt"}));
    EXPECT_EQ(p->cells, (std::vector<PlanEntry>{{3 + 8 * (1 + 5 * 4), 0, kFull}}));
  }
}

TEST_F(Capture, Refusals) {
  resident({0, 0, 0}, {0, 0, 0});
  auto big = capture({0, 0, 0}, {0, 64, -69});
  ASSERT_FALSE(big);
  EXPECT_EQ(big.error().kind, PlanErrorKind::TooBig);
  EXPECT_EQ(big.error().axis, 'y');
  EXPECT_EQ(big.error().extent, 65u);

  auto huge = capture({INT32_MIN, 0, 0}, {INT32_MAX, 0, 0});
  ASSERT_FALSE(huge);
  EXPECT_EQ(huge.error().extent, UINT32_MAX);

  // Chunk (1, 0, 0) is not resident; (0, 0, 1) is. The first block missing in z, y, x order.
  resident({0, 0, 1}, {0, 0, 1});
  auto part = capture({14, 0, 15}, {17, 1, 16});
  ASSERT_FALSE(part);
  EXPECT_EQ(part.error().kind, PlanErrorKind::NotLoaded);
  EXPECT_EQ((std::array{part.error().x, part.error().y, part.error().z}),
            (std::array<std::int64_t, 3>{16, 0, 15}));
  EXPECT_EQ(part.error().message(), "not loaded");

  auto nowhere = capture({5, 6, 7}, {1, 1, 1}, "moon");
  ASSERT_FALSE(nowhere);
  EXPECT_EQ((std::array{nowhere.error().x, nowhere.error().y, nowhere.error().z}),
            (std::array<std::int64_t, 3>{1, 1, 1}));
}

TEST_F(Capture, BlockKinds) {
  resident({0, 0, 0}, {0, 0, 0});
  block::Cells mixed{};
  mixed[0] = mixed[1] = kStone;
  mixed[2] = kDirt;
  set({0, 0, 0}, block::BlockValue::mixed(mixed));
  set({1, 0, 0}, block::BlockValue::whole(kNameless));
  set({2, 0, 0}, block::BlockValue::partial(kDirt, 0x1FF));
  auto p = capture({0, 0, 0}, {2, 0, 0});
  ASSERT_TRUE(p);
  EXPECT_EQ(p->palette, (std::vector<std::string>{"m:stone_alias", "m:dirt", "engine:unknown"}));
  EXPECT_EQ(p->cells, (std::vector<PlanEntry>{{0, 0, 3}, {0, 1, 4}, {1, 2, kFull}, {2, 1, 0x1FF}}));

  auto air = capture({5, 5, 5}, {9, 9, 9});
  ASSERT_TRUE(air);
  EXPECT_TRUE(air->cells.empty());
  EXPECT_TRUE(air->palette.empty());
}

TEST_F(Capture, SixtyFourCubedOfStoneIsTooManyBlocks) {
  source_.stone = true;
  resident({0, 0, 0}, {3, 3, 3});
  auto p = capture({0, 0, 0}, {63, 63, 63});
  ASSERT_FALSE(p);
  EXPECT_EQ(p.error().kind, PlanErrorKind::TooManyBlocks);
}

TEST(PlanNames, TheLastNameOfAnIdInNameOrderWins) {
  const Names n = names();
  EXPECT_EQ(*n.name_of(kStone), "m:stone_alias");
  EXPECT_EQ(n.id_of("m:stone"), kStone);
  EXPECT_EQ(n.id_of("m:Stone"), std::nullopt);
  EXPECT_EQ(n.name_of(kNameless), nullptr);
}

class PlanStore : public ::testing::Test {
 protected:
  Shared shared() {
    return Shared(slot_, std::make_shared<const Names>(names()), std::make_shared<Stamps>(nullptr));
  }
  void lend() { (*slot_->lock())->emplace(test::open_test_world(dir_.path(), {"test:stone"})); }
  void take_back() {
    auto g = slot_->lock();
    ASSERT_TRUE(world::World::close(std::move(***g)));
    (*g)->reset();
  }
  ostrel_core::test::TempDir dir_;
  std::shared_ptr<lease::WorldSlot> slot_ = std::make_shared<lease::WorldSlot>();
};

Plan one_block(const char* name) {
  Plan p{.w = 1, .h = 1, .d = 1};
  EXPECT_TRUE(p.set(0, 0, 0, name, kFull));
  return p;
}

TEST_F(PlanStore, NoWorldLent) {
  auto s = shared();
  auto c = s.capture("overworld", {0, 0, 0}, {1, 1, 1});
  ASSERT_FALSE(c);
  EXPECT_EQ(c.error().kind, PlanErrorKind::NoWorld);
  EXPECT_FALSE(s.save("m", "house", one_block("m:stone")));
  EXPECT_EQ(s.load("m", "house"), std::nullopt);
  EXPECT_TRUE(s.names("m").empty());
  EXPECT_FALSE(s.forget("m", "house"));
}

TEST_F(PlanStore, SaveReplaceNamesAndForgetAcrossAReopen) {
  auto s = shared();
  lend();
  EXPECT_TRUE(s.names("m").empty());
  EXPECT_FALSE(s.forget("m", "never"));
  ASSERT_TRUE(s.save("m", "house", one_block("m:stone")));
  ASSERT_TRUE(s.save("m", "house", one_block("m:dirt")));
  ASSERT_TRUE(s.save("m", "barn", one_block("m:stone")));
  ASSERT_TRUE(s.save("other", "shed", one_block("m:stone")));
  take_back();
  lend();
  EXPECT_EQ(s.names("m"), (std::vector<std::string>{"barn", "house"}));
  EXPECT_EQ(s.load("m", "house"), one_block("m:dirt"));
  EXPECT_TRUE(s.forget("m", "barn"));
  EXPECT_FALSE(s.forget("m", "barn"));
  take_back();
  lend();
  EXPECT_EQ(s.names("m"), (std::vector<std::string>{"house"}));
  EXPECT_EQ(s.names("other"), (std::vector<std::string>{"shed"}));
}

TEST_F(PlanStore, DamagedRowsReadAsAbsentWithAnErrorLine) {
  ostrel_core::log::Options plain;
  plain.colour = false;
  ostrel_core::log::install(plain);
  auto s = shared();
  lend();
  auto stored = [](const Plan& p) { return *ostrel_core::persist::compress(ostrel_core::proto::encode(p)); };
  const std::pair<const char*, std::vector<std::uint8_t>> rows[] = {
      {"flat", stored(Plan{0, 1, 1, {"m:stone"}, {{0, 0, kFull}}})},
      {"outside", stored(Plan{2, 2, 2, {"m:stone"}, {{8, 0, kFull}}})},
      {"palette", stored(Plan{2, 2, 2, {"m:stone"}, {{0, 1, kFull}}})},
      {"wide", stored(Plan{65, 1, 1, {}, {}})},
      {"zstd", {0xde, 0xad, 0xbe, 0xef}},
  };
  {
    auto g = slot_->lock();
    for (const auto& [name, data] : rows) {
      auto stmt = (**g)->db().connection().prepare("INSERT INTO mod_plans VALUES ('m', ?1, ?2)");
      ASSERT_TRUE(stmt->bind_text(1, name) && stmt->bind_blob(2, data) && stmt->run());
    }
  }
  for (const auto& [name, data] : rows) {
    SCOPED_TRACE(name);
    test::LogLines log;
    EXPECT_EQ(s.load("m", name), std::nullopt);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_NE(log.lines()[0].find("ERROR"), std::string::npos);
    EXPECT_NE(log.lines()[0].find(fmt::format("a stored plan is damaged and reads as absent")),
              std::string::npos);
    EXPECT_NE(log.lines()[0].find(fmt::format("mod=\"m\" plan=\"{}\"", name)), std::string::npos)
        << log.lines()[0];
  }
  // A damaged plan handed to the stamper is refused.
  EXPECT_FALSE(s.stamp("overworld", {}, Plan{0, 1, 1, {"m:stone"}, {{0, 0, kFull}}}));
}

TEST_F(PlanStore, CaptureThroughTheSlotHoldsItForTheCapture) {
  auto s = shared();
  lend();
  Source src;
  {
    auto g = slot_->lock();
    auto c = (**g)->chunk("overworld", ChunkPos{}, src);
    ASSERT_TRUE(c);
    (*c)->set_block_local(ostrel_core::coords::BlockPos{1, 1, 1}.local(), block::BlockValue::whole(kStone));
  }
  auto p = s.capture("overworld", {0, 0, 0}, {1, 1, 1});
  ASSERT_TRUE(p);
  EXPECT_EQ(p->tally(), (std::map<std::string, std::uint32_t>{{"m:stone_alias", 27}}));
}

}  // namespace
}  // namespace ostrel_server::plans
