// The simulation thread's engine behind the world's chunk source: generation, looks and the
// stand-in a failing generator leaves in the world.

#include "world/script_host.hpp"

#include <gtest/gtest.h>

#include "support/mod_files.hpp"
#include "support/temp_dir.hpp"
#include "support/test_world.hpp"

namespace ostrel_server::world {
namespace {

using ostrel_core::chunk::Chunk;
using ostrel_core::test::TempDir;

std::unique_ptr<LuaHost> host_of(const TempDir& mods) {
  auto host =
      LuaHost::Host::load_selected_with_options(mods.path(), 64ull << 20, 2'000'000, std::nullopt, {});
  EXPECT_TRUE(host);
  EXPECT_TRUE(host->vm.freeze());
  return std::make_unique<LuaHost>(std::move(*host));
}

TEST(LuaHost, AFailedGenerationLeavesAStandInThatTheNextLoadReplaces) {
  TempDir mods;
  ostrel_core::test::write_mod(mods.path(), "base",
                               "local s = game.register_block({id = 'stone'})\n"
                               "game.register_on_generate(function(buf) buf:fill_all(s) end)\n"
                               "game.register_chunk_tint(function() return 2, 1, 0 end)\n"
                               "game.register_chunk_fog(function() return {visibility = 12} end)");
  ostrel_core::test::write_mod(mods.path(), "shaky",
                               "game.register_on_generate(function() error('cracked') end)");
  TempDir world_dir;
  auto w = test::open_test_world(world_dir.path(), {"test:stone"});
  Generator gen(host_of(mods));
  const ChunkPos at{0, 0, 0};

  test::LogLines logs;
  ASSERT_TRUE(w.chunk("overworld", at, gen).has_value());
  EXPECT_TRUE(w.is_stand_in("overworld", at));
  EXPECT_EQ(*w.resident("overworld", at), Chunk::filled(at, 0));
  EXPECT_TRUE(w.space_of("overworld").dirty.empty());
  EXPECT_EQ(logs.count("chunk generation failed, falling back to air: mod `shaky` errored in on_generate"),
            1);
  EXPECT_EQ(logs.count("disabling mod after generation failure"), 1);
  EXPECT_EQ(w.save_dirty_within(std::chrono::milliseconds(100)).written, 0u);
  EXPECT_EQ(test::chunk_rows(w, "overworld"), 0);
  EXPECT_EQ(gen.faulted(), std::vector<std::string>{"shaky"});

  // Unloaded, the chunk generates again, now without the faulted mod.
  ASSERT_TRUE(w.unload("overworld", at));
  ASSERT_TRUE(w.chunk("overworld", at, gen).has_value());
  EXPECT_FALSE(w.is_stand_in("overworld", at));
  EXPECT_EQ(*w.resident("overworld", at), Chunk::filled(at, 2));
  EXPECT_EQ(w.space_of("overworld").dirty.size(), 1u);

  EXPECT_EQ(gen.tint("overworld", at, 7), (Tint{255, 128, 0}));
  auto fog = gen.fog("overworld", at, 7);
  ASSERT_TRUE(fog);
  EXPECT_EQ(fog->visibility, 12);
}

TEST(LuaHost, TicksAndEntityStepsReachTheEngine) {
  TempDir mods;
  ostrel_core::test::write_mod(
      mods.path(), "clock",
      "game.register_on_tick(function(dt) if dt == 3 then error('three') end end)\n"
      "game.register_on_entity_step(function(id) if id == 9 then error('nine') end end)");
  Generator gen(host_of(mods));
  EXPECT_TRUE(gen.tick(1).empty());
  const auto failed = gen.tick(3);
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0].message(), "mod `clock` errored in on_tick");
  TempDir mods2;
  ostrel_core::test::write_mod(
      mods2.path(), "herd",
      "game.register_on_entity_step(function(id) if id == 9 then error('nine') end end)");
  Generator herd(host_of(mods2));
  const std::map<std::string, std::vector<std::uint64_t>, std::less<>> entities{{"herd", {1, 9}},
                                                                                {"other", {9}}};
  const auto stepped = herd.entity_step(entities, 1);
  ASSERT_EQ(stepped.size(), 1u);
  EXPECT_EQ(stepped[0].mod_id(), "herd");
}

}  // namespace
}  // namespace ostrel_server::world
