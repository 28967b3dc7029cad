#include "world/mod_storage.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

#include "support/temp_dir.hpp"
#include "support/test_world.hpp"
#include "world/records.hpp"
#include "world/world.hpp"

namespace ostrel_server::storage {
namespace {

using ostrel_core::test::TempDir;

std::vector<std::string> keys_of(const std::vector<StorageChange>& changes) {
  std::vector<std::string> out;
  for (const auto& c : changes) out.push_back(c.key);
  return out;
}

TEST(ModStorage, OnlyRealChangesAreMarkedAndOnceEach) {
  ModStorage s;
  s.load("m", {{"same", Value::number(1.0)}, {"old", Value::text("x")}});
  EXPECT_TRUE(s.take_dirty().empty());  // loading marks nothing

  s.set("m", "same", Value::number(1.0));  // equal: nothing
  s.set("m", "absent", std::nullopt);      // deleting nothing: nothing
  s.set("m", "old", Value::text("y"));     // changed twice, listed once
  s.set("m", "old", Value::text("z"));
  s.set("m", "new", Value::boolean(true));
  s.set("m", "temp", Value::number(2.0));  // set then deleted: handed over as none
  s.set("m", "temp", std::nullopt);
  s.set("m", "nan", Value::number(std::nan("")));
  s.set("m", "nan", Value::number(std::nan("")));  // NaN never equals: marked (once in the set)
  s.set("m", "same", Value::text("1"));            // another variant is another value

  auto taken = s.take_dirty();
  ASSERT_EQ(taken.size(), 1u);
  EXPECT_EQ(taken[0].first, "m");
  EXPECT_EQ(keys_of(taken[0].second), (std::vector<std::string>{"nan", "new", "old", "same", "temp"}));
  EXPECT_EQ(taken[0].second[2].value, Value::text("z"));
  EXPECT_EQ(taken[0].second[4].value, std::nullopt);
  EXPECT_TRUE(s.take_dirty().empty());
}

TEST(ModStorage, PrefixListingIsExactAndBytewise) {
  ModStorage s;
  for (const char* k : {"b", "A", "ab", "a1", "a", "", "a\xff"}) s.set("m", k, Value::boolean(true));
  s.set("other", "a2", Value::boolean(true));
  EXPECT_EQ(s.keys("m", "a"), (std::vector<std::string>{"a", "a1", "ab", "a\xff"}));
  EXPECT_EQ(s.keys("m", ""), (std::vector<std::string>{"", "A", "a", "a1", "ab", "a\xff", "b"}));
  EXPECT_EQ(s.keys("m", "ab"), (std::vector<std::string>{"ab"}));
  EXPECT_TRUE(s.keys("m", "c").empty());
  EXPECT_TRUE(s.keys("nobody", "").empty());
}

TEST(ModStorageShared, PoisonedLockAnswersNeutrallyAndDropsWrites) {
  Shared shared;
  shared.set("m", "k", Value::number(3.0));
  try {
    auto g = shared.inner()->lock();
    throw std::runtime_error("failure while holding the lock");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(shared.get("m", "k"), std::nullopt);
  EXPECT_TRUE(shared.keys("m", "").empty());
  shared.set("m", "k2", Value::number(4.0));  // dropped, no crash
  EXPECT_TRUE(shared.inner()->is_poisoned());
}

class ModStorageFlush : public ::testing::Test {
 protected:
  world::World open_world() { return test::open_test_world(dir_.path()); }
  TempDir dir_;
};

TEST_F(ModStorageFlush, SetThenDeleteRemovesTheRowAndFailedWritesAreMarkedAgain) {
  auto w = open_world();
  Shared shared;
  shared.set("m1", "gone", Value::text("v"));
  shared.set("m2", "kept", Value::number(1.5));
  shared.flush(w);
  EXPECT_EQ(world::load_mod_storage(w, "m1")->size(), 1u);

  shared.set("m1", "gone", Value::text("w"));
  shared.set("m1", "gone", std::nullopt);
  shared.flush(w);
  EXPECT_TRUE(world::load_mod_storage(w, "m1")->empty());

  ASSERT_TRUE(w.db()
                  .connection()
                  .exec("CREATE TRIGGER refuse_boom BEFORE INSERT ON mod_storage WHEN NEW.mod_id = 'm1' "
                        "BEGIN SELECT RAISE(ABORT, 'no'); END;")
                  .has_value());
  shared.set("m1", "boom", Value::text("a"));
  shared.set("m2", "kept", Value::number(2.5));
  shared.flush(w);
  EXPECT_TRUE(world::load_mod_storage(w, "m1")->empty());
  EXPECT_EQ(world::load_mod_storage(w, "m2")->at("kept"), Value::number(2.5));  // the other mod is written

  // Marked again: the next flush writes the value of that moment.
  shared.set("m1", "boom", Value::text("b"));
  ASSERT_TRUE(w.db().connection().exec("DROP TRIGGER refuse_boom").has_value());
  shared.flush(w);
  EXPECT_EQ(world::load_mod_storage(w, "m1")->at("boom"), Value::text("b"));
  auto g = shared.inner()->lock();
  ASSERT_TRUE(g.has_value());
  EXPECT_TRUE((*g)->take_dirty().empty());
}

TEST_F(ModStorageFlush, AFailedFlushIsRetriedByTheNextWithoutANewSet) {
  auto w = open_world();
  Shared shared;
  ASSERT_TRUE(
      w.db()
          .connection()
          .exec(
              "CREATE TRIGGER refuse_all BEFORE INSERT ON mod_storage BEGIN SELECT RAISE(ABORT, 'no'); END;")
          .has_value());
  shared.set("m", "k", Value::number(4.0));
  test::LogLines logs;
  shared.flush(w);
  EXPECT_EQ(logs.count("could not save storage for mod `m`"), 1);
  EXPECT_TRUE(world::load_mod_storage(w, "m")->empty());

  ASSERT_TRUE(w.db().connection().exec("DROP TRIGGER refuse_all").has_value());
  shared.flush(w);  // nothing set since the failure
  EXPECT_EQ(world::load_mod_storage(w, "m")->at("k"), Value::number(4.0));
}

}  // namespace
}  // namespace ostrel_server::storage
