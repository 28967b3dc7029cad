// Chunk generation in the engine: which generators run for a domain, their shared buffer, a
// failing generator, the buffer handle after its generator, read-only maps and the seeded
// math.random.

#include <gtest/gtest.h>

#include <string>

#include "detgen/buffer/chunk_buffer.hpp"
#include "script/lua_vm/generation.hpp"
#include "support/script_engine.hpp"
#include "terrain_lua.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

using coords::ChunkPos;
using test::load;
using test::LogCapture;

constexpr std::uint16_t kStone = 2, kDirt = 3;

// Loads mod `id` after registering stone and dirt in a mod "base" loaded first.
LuaVm engine_with(std::initializer_list<std::pair<const char*, const char*>> mods,
                  std::uint32_t budget = test::kServerBudget) {
  auto vm = test::make_engine(test::kServerMemoryLimit, budget);
  EXPECT_TRUE(load(vm, "base", "game.register_block({id = 'stone'}) game.register_block({id = 'dirt'})"));
  for (const auto& [id, code] : mods) {
    auto r = load(vm, id, code);
    EXPECT_TRUE(r) << id << ": " << r.error().with_detail();
  }
  EXPECT_TRUE(vm.freeze());
  return vm;
}

chunk::Chunk chunk_of(ChunkPos pos, std::uint16_t fill,
                      std::initializer_list<std::array<std::uint32_t, 4>> blocks) {
  detgen::buffer::ChunkBuffer b(pos);
  b.fill_all(fill);
  for (const auto& [x, y, z, m] : blocks) b.set_block(x, y, z, static_cast<std::uint16_t>(m));
  return b.to_chunk();
}

TEST(GenerateChunk, OverworldGeneratorsShareOneBufferInOrder) {
  auto vm = engine_with(
      {{"a", "game.register_on_generate(function(buf) buf:fill_all(2) buf:set_block(1, 0, 0, 3) end)"},
       {"b",
        "game.register_on_generate(function(buf) buf:set_block(0, 0, 0, 3) "
        "buf:set_block(1, 0, 0, 2) end)"}});
  const ChunkPos pos{1, -2, 3};
  auto got = vm.generate_chunk("overworld", 7, pos, material::kAir);
  ASSERT_TRUE(got) << got.error().with_detail();
  EXPECT_EQ(got->chunk, chunk_of(pos, kStone, {{0, 0, 0, kDirt}}));
  EXPECT_EQ(got->chunk.position(), pos);
  EXPECT_TRUE(got->fluid.empty());
}

TEST(GenerateChunk, NoGeneratorGivesTheFillMaterial) {
  auto vm = engine_with({});
  auto got = vm.generate_chunk("overworld", 7, {0, 0, 0}, material::kAir);
  ASSERT_TRUE(got);
  EXPECT_EQ(got->chunk, chunk::Chunk::filled({0, 0, 0}, material::kAir));
  auto stone = vm.generate_chunk("overworld", 7, {0, 0, 0}, kStone);
  ASSERT_TRUE(stone);
  EXPECT_EQ(stone->chunk, chunk::Chunk::filled({0, 0, 0}, kStone));
}

TEST(GenerateChunk, AFailingGeneratorFaultsItsModAndTheNextChunkIsTheOthers) {
  auto vm = engine_with({{"a", "game.register_on_generate(function(buf) buf:fill_all(2) end)"},
                         {"b",
                          "game.register_on_generate(function(buf) buf:set_block(0, 0, 0, 3) "
                          "error('cracked') end)"}});
  LogCapture logs;
  auto failed = vm.generate_chunk("overworld", 7, {0, 0, 0}, material::kAir);
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().kind(), vm::ScriptErrorKind::Runtime);
  EXPECT_EQ(failed.error().message(), "mod `b` errored in on_generate");
  EXPECT_NE(failed.error().detail().find("cracked"), std::string::npos);
  EXPECT_TRUE(vm.is_faulted("b"));
  const auto lines = logs.containing("disabling mod after generation failure");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("mod_id=\"b\""), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("cracked"), std::string::npos) << lines[0];

  auto next = vm.generate_chunk("overworld", 7, {0, 0, 0}, material::kAir);
  ASSERT_TRUE(next);
  EXPECT_EQ(next->chunk, chunk::Chunk::filled({0, 0, 0}, kStone));
}

TEST(GenerateChunk, ARunawayGeneratorStopsAtItsBudget) {
  auto vm = engine_with({{"m", "game.register_on_generate(function() while true do end end)"}}, 100'000);
  auto got = vm.generate_chunk("overworld", 7, {0, 0, 0}, material::kAir);
  ASSERT_FALSE(got);
  EXPECT_EQ(got.error().message(), "mod `m` exceeded its instruction budget in on_generate");
}

TEST(GenerateChunk, OtherDomainsRunOnlyTheirOwnGenerator) {
  auto vm =
      engine_with({{"my_mod",
                    "game.register_on_generate(function(buf) buf:fill_all(2) end)\n"
                    "game.register_domain({id = 'ship', instanced = true, generator = function(buf, pos)\n"
                    "  buf:fill_all(3) seen_domain = pos.domain end})\n"
                    "game.register_domain({id = 'attic'})"}});
  struct Case {
    const char* domain;
    std::uint16_t want;
  };
  const Case cases[] = {
      {"overworld", kStone},
      {"my_mod:ship", kDirt},
      {"my_mod:ship/17", kDirt},
      {"my_mod:attic", material::kAir},  // registered without a generator
      {"overworld/x", material::kAir},   // looked up as the domain "overworld", which has none
      {"nobody:nowhere", material::kAir},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.domain);
    auto got = vm.generate_chunk(c.domain, 7, {0, 0, 0}, material::kAir);
    ASSERT_TRUE(got) << got.error().with_detail();
    EXPECT_EQ(got->chunk, chunk::Chunk::filled({0, 0, 0}, c.want));
  }
  EXPECT_EQ(test::run(vm, "my_mod", "return seen_domain"), "my_mod:ship/17");
}

TEST(GenerateChunk, ThePositionTableCarriesTheChunkAndTheSeedBits) {
  auto vm =
      engine_with({{"m",
                    "game.register_on_generate(function(buf, pos)\n"
                    "  got = string.format('%d %d %d %d %s', pos.x, pos.y, pos.z, pos.seed, pos.domain)\n"
                    "  return 1, 2, 3 end)"}});
  ASSERT_TRUE(vm.generate_chunk("overworld", 0x8000'0000'0000'0001ull, {-4, 5, -6}, material::kAir));
  EXPECT_EQ(test::run(vm, "m", "return got"), "-4 5 -6 -9223372036854775807 overworld");
}

TEST(GenerateChunk, AHandleKeptPastItsGeneratorRefusesEveryCall) {
  auto vm = engine_with({{"m", "game.register_on_generate(function(buf) kept = buf buf:fill_all(2) end)"}});
  ASSERT_TRUE(vm.generate_chunk("overworld", 7, {0, 0, 0}, material::kAir));
  const std::string refused = "error: this chunk buffer was handed on; keep no buffer past your generator";
  EXPECT_EQ(test::run(vm, "m", "kept:fill_all(3)"), refused);
  EXPECT_EQ(test::run(vm, "m", "return kept:is_expanded()"), refused);
  // The next chunk gets a buffer of its own.
  auto next = vm.generate_chunk("overworld", 7, {1, 0, 0}, material::kAir);
  ASSERT_TRUE(next);
  EXPECT_EQ(next->chunk, chunk::Chunk::filled({1, 0, 0}, kStone));
}

TEST(GenerateChunk, MapsAreReadOnlyWhileAChunkGenerates) {
  struct Case {
    const char* name;
    const char* during;  // run by the generator
  };
  const Case cases[] = {
      {"create", "game.map({name = 'fresh'})"},
      {"replace", "game.map({name = 'h', side = 8})"},
      {"offset", "h:offset(1)"},
      {"scale_by", "h:scale_by(2)"},
      {"clamp", "h:clamp(0, 1)"},
      {"blur", "h:blur(1)"},
      {"combine", "h:combine(h, 'add')"},
      {"noise", "h:noise({seed = 1})"},
      {"fill", "h:fill()"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string code = std::string(
                                 "h = game.map({name = 'h', side = 4})\n"
                                 "game.register_on_generate(function() ") +
                             c.during + " end)";
    auto vm = engine_with({{"m", code.c_str()}});
    auto got = vm.generate_chunk("overworld", 7, {0, 0, 0}, material::kAir);
    ASSERT_FALSE(got);
    EXPECT_NE(got.error().detail().find(kMapsReadOnly), std::string::npos) << got.error().detail();
  }
  // Reading is allowed, and so is fetching a map as it stands; outside a chunk, changes are too.
  auto vm =
      engine_with({{"m",
                    "h = game.map({name = 'h', side = 4})\n"
                    "game.register_on_generate(function() local again = game.map({name = 'h', side = 4})\n"
                    "  read = again:side() end)"}});
  ASSERT_TRUE(vm.generate_chunk("overworld", 7, {0, 0, 0}, material::kAir));
  EXPECT_EQ(test::run(vm, "m", "return read"), "4");
  EXPECT_EQ(test::run(vm, "m", "h:offset(1) return 'changed'"), "changed");
}

TEST(GenerateChunk, MathRandomDrawsTheSameForAChunkInEveryEngine) {
  const char* mod =
      "game.register_on_generate(function(buf, pos)\n"
      "  draws = draws or {}\n"
      "  draws[#draws + 1] = math.random(1, 1000000000) end)";
  auto one = engine_with({{"m", mod}});
  auto two = engine_with({{"m", mod}});
  // The second engine draws first, as a worker that made other chunks before would have.
  test::run(two, "m", "for i = 1, 17 do math.random() end");
  for (auto* vm : {&one, &two}) {
    ASSERT_TRUE(vm->generate_chunk("overworld", 7, {3, 1, 2}, material::kAir));
    ASSERT_TRUE(vm->generate_chunk("overworld", 7, {4, 1, 2}, material::kAir));
  }
  const std::string a = test::run(one, "m", "return draws[1] .. ' ' .. draws[2]");
  EXPECT_EQ(a, test::run(two, "m", "return draws[1] .. ' ' .. draws[2]"));
  // Another chunk draws other numbers.
  EXPECT_NE(test::run(one, "m", "return draws[1]"), test::run(one, "m", "return draws[2]"));
}

// The handle's view of the registry is kept between chunks once registration has closed; before
// that, and after the fluid ids change, a chunk sees the registry as it is.
TEST(GenerateChunk, TheBufferSeesTheContentOfItsOwnChunk) {
  auto vm = test::make_engine(test::kServerMemoryLimit, test::kServerBudget);
  ASSERT_TRUE(load(vm, "base", "game.register_block({id = 'stone'})"));
  ASSERT_TRUE(load(vm, "gen",
                   "game.register_on_generate(function(buf)\n"
                   "  if not pcall(buf.set_block, buf, 0, 0, 0, 3) then buf:set_block(0, 0, 0, 2) end\n"
                   "  buf:fill_fluid_below(1, 'm:water') end)"));
  const std::pair<std::string, std::uint8_t> water1[] = {{"m:water", 1}};
  vm.set_fluid_ids(water1);
  // The block at (0, 0, 0) and the fluid id beside it, in the bottom row.
  const auto made = [&] {
    auto got = vm.generate_chunk("overworld", 7, {0, 0, 0}, material::kAir);
    EXPECT_TRUE(got) << got.error().with_detail();
    if (!got) return std::pair<std::uint16_t, int>{0, -1};
    const auto block = got->chunk.block_cells(coords::LocalPos{0, 0, 0})[0];
    return std::pair<std::uint16_t, int>{block, got->fluid.get(1, 0, 0).id()};
  };

  EXPECT_EQ(made(), (std::pair<std::uint16_t, int>{kStone, 1}));  // material 3 is not registered yet
  ASSERT_TRUE(load(vm, "late", "game.register_block({id = 'dirt'})"));
  EXPECT_EQ(made(), (std::pair<std::uint16_t, int>{kDirt, 1}));
  ASSERT_TRUE(vm.freeze());
  EXPECT_EQ(made(), (std::pair<std::uint16_t, int>{kDirt, 1}));
  EXPECT_EQ(made(), (std::pair<std::uint16_t, int>{kDirt, 1}));  // from the kept view

  const std::pair<std::string, std::uint8_t> water2[] = {{"m:water", 2}};
  vm.set_fluid_ids(water2);
  EXPECT_EQ(made(), (std::pair<std::uint16_t, int>{kDirt, 2}));
  vm.set_fluid_ids({});
  auto none = vm.generate_chunk("overworld", 7, {0, 0, 0}, material::kAir);
  ASSERT_FALSE(none);
  EXPECT_NE(none.error().detail().find("no fluid called `m:water`"), std::string::npos)
      << none.error().with_detail();
}

}  // namespace
}  // namespace ostrel_core::script::lua_vm
