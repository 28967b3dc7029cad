// Chunk tint and fog: registration, the answers and how they become bytes, the later mod winning,
// bad answers faulting their mod; and saved maps in and out of an engine.

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <string>

#include "support/script_engine.hpp"
#include "terrain_lua.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

using test::load;
using test::LogCapture;

LuaVm loaded(std::initializer_list<std::pair<const char*, std::string>> mods) {
  auto vm = test::make_engine();
  for (const auto& [id, code] : mods) {
    auto r = load(vm, id, code);
    EXPECT_TRUE(r) << id << ": " << r.error().with_detail();
  }
  EXPECT_TRUE(vm.freeze());
  return vm;
}

Tint tint_of(const std::string& answer) {
  auto vm = loaded({{"m", "game.register_chunk_tint(function() return " + answer + " end)"}});
  auto got = vm.chunk_tint("overworld", 1, {0, 0, 0});
  EXPECT_TRUE(got);
  return got.value_or(Tint{1, 2, 3});
}

TEST(ChunkTint, ChannelsBecomeBytes) {
  struct Case {
    const char* answer;
    Tint want;
  };
  const Case cases[] = {
      {"1.0, 1.0, 1.0", {128, 128, 128}},      {"0.5, 2.0, -1", {64, 255, 0}},
      {"0/0, '1.5', 0", {128, 192, 0}},        {"1.0, 2.5, 1e30", {128, 255, 255}},
      {"1, 1, 1, 'ignored'", {128, 128, 128}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    EXPECT_EQ(tint_of(c.answer), c.want);
  }
}

TEST(ChunkTint, TheLaterModWinsAndNilKeepsTheEarlier) {
  const std::string a =
      "game.register_chunk_tint(function(pos) if pos.x == 0 then return 0.5, 0.5, 0.5 end end)";
  const std::string b = "game.register_chunk_tint(function(pos) if pos.y == 0 then return 2, 2, 2 end end)";
  auto vm = loaded({{"a", a}, {"b", b}});
  EXPECT_EQ(vm.chunk_tint("overworld", 1, {0, 0, 0}), (Tint{255, 255, 255}));
  EXPECT_EQ(vm.chunk_tint("overworld", 1, {0, 1, 0}), (Tint{64, 64, 64}));
  EXPECT_EQ(vm.chunk_tint("overworld", 1, {1, 1, 0}), kNeutralTint);
  EXPECT_TRUE(vm.faulted_mods().empty());
}

TEST(ChunkTint, ABadAnswerOrAFailureFaultsTheModAndKeepsTheEarlierAnswer) {
  struct Case {
    const char* body;
    const char* log;     // the ERROR line's message
    const char* detail;  // part of its error field
  };
  const Case cases[] = {
      {"return 1, 1", "disabling mod after a chunk_tint answer that is not one; the place keeps its looks",
       "a tint is three numbers, r, g, b: "},
      {"return false", "disabling mod after a chunk_tint answer that is not one; the place keeps its looks",
       "a tint is three numbers, r, g, b: "},
      {"return {}", "disabling mod after a chunk_tint answer that is not one; the place keeps its looks",
       "a tint is three numbers, r, g, b: "},
      {"error('boom')", "disabling mod after a chunk_tint failure; the place keeps its looks", "boom"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    auto vm = loaded({{"a", "game.register_chunk_tint(function() return 0.5, 0.5, 0.5 end)"},
                      {"b", std::string("game.register_chunk_tint(function() ") + c.body + " end)"}});
    LogCapture logs;
    EXPECT_EQ(vm.chunk_tint("overworld", 1, {0, 0, 0}), (Tint{64, 64, 64}));
    EXPECT_EQ(vm.faulted_mods(), std::vector<std::string>{"b"});
    const auto lines = logs.containing(c.log);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("ERROR"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("mod_id=\"b\""), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find(c.detail), std::string::npos) << lines[0];
    // Faulted, it is no longer asked.
    EXPECT_EQ(vm.chunk_tint("overworld", 1, {0, 0, 0}), (Tint{64, 64, 64}));
    EXPECT_EQ(logs.containing("disabling").size(), 1u);
  }
}

TEST(ChunkTint, RegistrationRefusals) {
  auto vm = test::make_engine();
  auto twice =
      load(vm, "m", "game.register_chunk_tint(function() end) game.register_chunk_tint(function() end)");
  ASSERT_FALSE(twice);
  EXPECT_NE(twice.error().detail().find("mod `m`: one register_chunk_tint per mod"), std::string::npos);
  // The same mod may still register a fog; a text is not a callback.
  EXPECT_TRUE(
      load(vm, "n", "game.register_chunk_tint(function() end) game.register_chunk_fog(function() end)"));
  auto text = load(vm, "o", "game.register_chunk_fog('later')");
  ASSERT_FALSE(text);
  EXPECT_NE(text.error().detail().find("register_chunk_fog"), std::string::npos) << text.error().detail();
  EXPECT_EQ(test::inspect(vm,
                          "return table.concat(R['ostrel.chunk_tinters'], ',') .. ';' .. "
                          "table.concat(R['ostrel.chunk_foggers'], ',')"),
            "m,n;n");
  ASSERT_TRUE(vm.freeze());
  EXPECT_EQ(test::run(vm, "p", "game.register_chunk_fog(function() end)"),
            "error: mod `p`: registration is closed");
  EXPECT_EQ(test::run(vm, "p", "game.register_chunk_tint(function() end)"),
            "error: mod `p`: registration is closed");
}

std::optional<proto::ChunkFog> fog_of(const std::string& answer) {
  auto vm = loaded({{"m", "game.register_chunk_fog(function() return " + answer + " end)"}});
  auto got = vm.chunk_fog("overworld", 1, {0, 0, 0});
  EXPECT_TRUE(got);
  EXPECT_TRUE(vm.faulted_mods().empty()) << answer;
  return got.value_or(std::nullopt);
}

TEST(ChunkFog, FieldsBecomeTheRecord) {
  EXPECT_EQ(fog_of("nil"), std::nullopt);
  EXPECT_EQ(fog_of("{visibility = 0.5}"), (proto::ChunkFog{{255, 255, 255}, 1, std::nullopt, std::nullopt}));
  EXPECT_EQ(fog_of("{visibility = 1e9, r = 0.5, g = 0/0, b = 2.0, top = 70.7, bottom = -3.2}"),
            (proto::ChunkFog{{127, 255, 255}, 65535, 70, -4}));
  // A bottom above the top is passed on; NaN heights are none; huge ones saturate.
  EXPECT_EQ(fog_of("{visibility = 20, top = -5, bottom = 9, r = -1, g = 0, b = '1'}"),
            (proto::ChunkFog{{0, 0, 255}, 20, -5, 9}));
  EXPECT_EQ(fog_of("{visibility = 20, top = 0/0, bottom = -1e30}"),
            (proto::ChunkFog{{255, 255, 255}, 20, std::nullopt, std::numeric_limits<std::int32_t>::min()}));
}

TEST(ChunkFog, BadAnswersFaultTheModWithTheirText) {
  struct Case {
    const char* answer;
    const char* text;
  };
  const Case cases[] = {
      {"7", "a fog is a table with a `visibility`, or nil for none"},
      {"'thick'", "a fog is a table with a `visibility`, or nil for none"},
      {"false", "a fog is a table with a `visibility`, or nil for none"},
      {"{}", "a fog needs a `visibility`: how many blocks a player sees into it"},
      {"{visibility = 0/0}", "a fog needs a `visibility`: how many blocks a player sees into it"},
      {"{visibility = 20, top = 'high'}", "a fog's `top` is a number"},
      {"{visibility = {}}", "a fog's `visibility` is a number"},
      {"{visibility = 20, g = true}", "a fog's `g` is a number"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    auto vm = loaded({{"a", "game.register_chunk_fog(function() return {visibility = 9} end)"},
                      {"b", std::string("game.register_chunk_fog(function() return ") + c.answer + " end)"}});
    LogCapture logs;
    auto got = vm.chunk_fog("overworld", 1, {0, 0, 0});
    ASSERT_TRUE(got);
    ASSERT_TRUE(*got);
    EXPECT_EQ((*got)->visibility, 9);
    EXPECT_EQ(vm.faulted_mods(), std::vector<std::string>{"b"});
    const auto lines =
        logs.containing("disabling mod after a chunk_fog answer that is not one; the place keeps its looks");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(c.text), std::string::npos) << lines[0];
  }
}

TEST(ColourBytes, ClampsAndTruncates) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(LuaVm::colour_bytes(0.5f, nan, 2.0f), (proto::Rgb{127, 255, 255}));
  EXPECT_EQ(LuaVm::colour_bytes(-1.0f, 0.0f, 1.0f), (proto::Rgb{0, 0, 255}));
  EXPECT_EQ(LuaVm::colour_bytes(-INFINITY, INFINITY, 0.999f), (proto::Rgb{0, 255, 254}));
}

detgen::map::Map sample_map(std::uint32_t side, float base) {
  auto m = detgen::map::Map::create(side, 4, -16, 32);
  EXPECT_TRUE(m);
  for (std::size_t i = 0; i < m->samples.size(); ++i) m->samples[i] = base + static_cast<float>(i) * 0.25f;
  return std::move(*m);
}

void expect_same(const detgen::map::Map& a, const detgen::map::Map& b) {
  EXPECT_EQ(a.side, b.side);
  EXPECT_EQ(a.scale, b.scale);
  EXPECT_EQ(a.origin_x, b.origin_x);
  EXPECT_EQ(a.origin_z, b.origin_z);
  ASSERT_EQ(a.samples.size(), b.samples.size());
  for (std::size_t i = 0; i < a.samples.size(); ++i) {
    EXPECT_EQ(std::bit_cast<std::uint32_t>(a.samples[i]), std::bit_cast<std::uint32_t>(b.samples[i]));
  }
}

TEST(SavedMaps, TakeGivesBackWhatLoadInstalled) {
  auto vm = loaded({{"m", "game.register_on_generate(function() end)"}});
  std::vector<SavedMap> maps;
  maps.push_back({"m", "hills", sample_map(8, 1.0f)});
  maps.push_back({"m",
                  std::string("a\x1f"
                              "b"),
                  sample_map(4, -3.0f)});  // U+001F inside the name
  maps.push_back({"other", "hills", sample_map(2, 9.0f)});
  maps.push_back({"m", "hills", sample_map(3, 5.0f)});  // the later of two wins
  ASSERT_EQ(vm.load_maps(maps), 0u);
  auto taken = vm.take_maps();
  std::sort(taken.begin(), taken.end(), [](const SavedMap& x, const SavedMap& y) {
    return std::tie(x.mod_id, x.name) < std::tie(y.mod_id, y.name);
  });
  ASSERT_EQ(taken.size(), 3u);
  EXPECT_EQ(taken[0].mod_id, "m");
  EXPECT_EQ(taken[0].name, std::string("a\x1f"
                                       "b"));
  expect_same(taken[0].map, maps[1].map);
  EXPECT_EQ(taken[1].name, "hills");
  expect_same(taken[1].map, maps[3].map);
  EXPECT_EQ(taken[2].mod_id, "other");
  expect_same(taken[2].map, maps[2].map);
  // game.map finds an installed map by its name.
  EXPECT_EQ(
      test::run(
          vm, "m",
          "return game.map({name = 'hills', side = 3, scale = 4, origin_x = -16, origin_z = 32}):side()"),
      "3");
}

TEST(SavedMaps, TakeLeavesOutForeignValuesAndPoisonedMaps) {
  auto vm =
      loaded({{"m", "h = game.map({name = 'kept', side = 2}) p = game.map({name = 'sick', side = 2})"}});
  test::inspect(vm, "R['ostrel.maps']['m\\31stray'] = 5 R['ostrel.maps'][7] = 'x'");
  test::handle<MapHandle>(vm, "m", "p")->shared->map.poison();
  LogCapture logs;
  const auto taken = vm.take_maps();
  ASSERT_EQ(taken.size(), 1u);
  EXPECT_EQ(taken[0].name, "kept");
  const auto lines = logs.containing("WARN");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("name=\"sick\""), std::string::npos) << lines[0];
}

TEST(SavedMaps, AMapPastTheMemoryLimitIsNotInstalled) {
  auto vm = test::make_engine(8 << 20);
  ASSERT_TRUE(vm.freeze());
  std::vector<SavedMap> maps;
  maps.push_back({"m", "small", sample_map(4, 0.0f)});
  maps.push_back({"m", "huge", sample_map(1024, 0.0f)});  // 4 MiB of samples and 4 for a snapshot
  LogCapture logs;
  EXPECT_EQ(vm.load_maps(maps), 1u);
  EXPECT_EQ(logs.containing("could not install a saved map").size(), 1u);
  EXPECT_EQ(vm.take_maps().size(), 1u);
}

}  // namespace
}  // namespace ostrel_core::script::lua_vm
