#include "world/domains.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

#include "world/domain_store.hpp"
#include "support/temp_dir.hpp"
#include "support/test_world.hpp"
#include "world/world.hpp"

namespace ostrel_server::domains {
namespace {

using ostrel_core::domain::Spec;
using ostrel_core::test::TempDir;

std::shared_ptr<ostrel_core::sync::Mutex<Registry>> registry_with_template() {
  Registry r;
  Spec t;
  t.instanced = true;
  EXPECT_TRUE(r.register_domain("t", t).has_value());
  r.restore({{"gone/x", "gone"}});
  r.freeze();
  return std::make_shared<ostrel_core::sync::Mutex<Registry>>(std::move(r));
}

TEST(DomainsShared, CreateRefusalIsLoggedAndAnswersNone) {
  Shared shared(registry_with_template());
  test::LogLines logs;
  EXPECT_EQ(shared.create("nothing", "k"), std::nullopt);
  ASSERT_EQ(logs.lines().size(), 1u);
  EXPECT_NE(logs.lines()[0].find("a mod could not make a domain"), std::string::npos);
  EXPECT_NE(logs.lines()[0].find("there is no domain `nothing`"), std::string::npos);
  EXPECT_FALSE(shared.take_changed());
  EXPECT_EQ(shared.create_at("t", "a", UniversalPos{1, 2, 3}), "t/a");
  EXPECT_TRUE(shared.take_changed());
  EXPECT_EQ(shared.position_of("t/a"), (UniversalPos{1, 2, 3}));
}

TEST(DomainsShared, ExistsAndDestroyAnswerByWhatTheIdNames) {
  Shared shared(registry_with_template());
  ASSERT_TRUE(shared.create("t", "a").has_value());
  EXPECT_TRUE(shared.take_changed());
  struct Case {
    const char* id;
    bool exists;
    bool destroy;
  };
  const Case cases[] = {
      {"overworld", true, false}, {"t", false, false},       {"t/a", true, true},
      {"gone/x", true, false},    {"nowhere", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    EXPECT_EQ(shared.exists(c.id), c.exists);
    EXPECT_EQ(shared.destroy(c.id), c.destroy);
  }
  EXPECT_TRUE(shared.take_changed());
  EXPECT_TRUE(shared.destroy("t/a"));  // queued twice
  EXPECT_TRUE(shared.take_changed());
  EXPECT_TRUE(shared.exists("t/a"));  // still there until the loop takes the queue
  EXPECT_EQ(shared.take_doomed(), (std::vector<std::string>{"t/a", "t/a"}));
  EXPECT_TRUE(shared.take_doomed().empty());
  EXPECT_FALSE(shared.set_sky("nowhere", std::nullopt));
  EXPECT_FALSE(shared.take_changed());
  EXPECT_TRUE(shared.set_sky("t/a", ostrel_core::domain::DomainSky{}));
  EXPECT_TRUE(shared.take_changed());
}

TEST(DomainsShared, PoisonedRegistryAnswersNeutrally) {
  auto reg = registry_with_template();
  Shared shared(reg);
  ASSERT_TRUE(shared.create("t", "a").has_value());
  try {
    auto g = reg->lock();
    throw std::runtime_error("failure under the registry lock");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(shared.create("t", "b"), std::nullopt);
  EXPECT_EQ(shared.position_of("t"), std::nullopt);
  EXPECT_FALSE(shared.set_sky("overworld", std::nullopt));
  EXPECT_FALSE(shared.destroy("t/a"));
  EXPECT_FALSE(shared.exists("overworld"));
  EXPECT_TRUE(shared.take_doomed().empty());
}

class DomainsDestroy : public ::testing::Test {
 protected:
  world::World open_world() { return test::open_test_world(dir_.path()); }
  static std::int64_t chunk_rows(world::World& w, const char* domain) { return test::chunk_rows(w, domain); }
  TempDir dir_;
};

TEST_F(DomainsDestroy, RowsGoFirstAndAFailedDeleteKeepsTheIdAndRetries) {
  auto w = open_world();
  auto reg = registry_with_template();
  Shared shared(reg);
  ASSERT_TRUE(shared.create("t", "a").has_value());
  ASSERT_TRUE(shared.create("t", "full").has_value());
  world::Generator gen;
  ASSERT_TRUE(w.chunk("t/a", ostrel_core::coords::ChunkPos{}, gen).has_value());
  w.save_dirty_within(std::chrono::milliseconds(100));
  ASSERT_EQ(chunk_rows(w, "t/a"), 1);
  ASSERT_TRUE(w.db()
                  .connection()
                  .exec("CREATE TRIGGER keep BEFORE DELETE ON chunks BEGIN SELECT RAISE(ABORT, 'kept'); END;")
                  .has_value());
  auto occupants = [](std::string_view id) -> std::uint64_t { return id == "t/full" ? 2 : 0; };

  test::LogLines logs;
  ASSERT_TRUE(shared.destroy("t/a"));
  ASSERT_TRUE(shared.destroy("t/full"));
  shared.destroy_doomed(w, occupants);
  EXPECT_TRUE(shared.exists("t/a"));     // reserved: its rows are still there
  EXPECT_TRUE(shared.exists("t/full"));  // occupied: refused, not retried
  EXPECT_EQ(chunk_rows(w, "t/a"), 1);
  EXPECT_EQ(shared.take_doomed(), (std::vector<std::string>{"t/a"}));

  ASSERT_TRUE(w.db().connection().exec("DROP TRIGGER keep").has_value());
  ASSERT_TRUE(shared.destroy("t/a"));
  shared.take_changed();
  shared.destroy_doomed(w, occupants);
  EXPECT_FALSE(shared.exists("t/a"));
  EXPECT_EQ(chunk_rows(w, "t/a"), 0);
  EXPECT_TRUE(shared.take_changed());
  EXPECT_TRUE(shared.take_doomed().empty());
  // A new instance with the same id starts empty.
  ASSERT_TRUE(shared.create("t", "a").has_value());
  EXPECT_FALSE(*w.load_stored("t/a", ostrel_core::coords::ChunkPos{}));
}

TEST_F(DomainsDestroy, ChangedStateIsStoredForTheNextRun) {
  auto w = open_world();
  Shared shared(registry_with_template());
  ASSERT_TRUE(shared.create_at("t", "a", UniversalPos{-5, 0, 7}).has_value());
  shared.store_if_changed(w);
  EXPECT_FALSE(shared.take_changed());
  auto inst = ostrel_core::domain_store::domain_instances(w.db());
  ASSERT_TRUE(inst.has_value());
  EXPECT_EQ(*inst, (std::vector<std::pair<std::string, std::string>>{{"t/a", "t"}}));
  EXPECT_EQ(ostrel_core::domain_store::domain_positions(w.db())->size(), 1u);
}

}  // namespace
}  // namespace ostrel_server::domains
