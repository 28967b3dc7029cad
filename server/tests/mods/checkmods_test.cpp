// The mod check in-process: what it finds in a mods directory and how the report is printed.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <thread>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "mods/checkmods.hpp"
#include "support/mod_files.hpp"
#include "support/temp_dir.hpp"
#include "support/write_file.hpp"

namespace ostrel_server::checkmods {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Pair;
using ::testing::StartsWith;
using ostrel_core::test::TempDir;
using ostrel_core::test::write_file;
using ostrel_core::test::write_mod;
namespace fs = std::filesystem;

struct Printed {
  int code;
  std::string out, err;
};

Printed print(std::string_view dir, const CheckReport& report) {
  char* out_buf = nullptr;
  char* err_buf = nullptr;
  std::size_t out_len = 0, err_len = 0;
  std::FILE* out = open_memstream(&out_buf, &out_len);
  std::FILE* err = open_memstream(&err_buf, &err_len);
  Printed p{report_and_code(dir, report, out, err), {}, {}};
  std::fclose(out);
  std::fclose(err);
  p.out.assign(out_buf, out_len);
  p.err.assign(err_buf, err_len);
  std::free(out_buf);
  std::free(err_buf);
  return p;
}

TEST(CheckMods, EmptyDirectoryWarnsTwiceAndPasses) {
  TempDir dir;
  auto report = check(dir.path());
  ASSERT_TRUE(report.has_value()) << report.error();
  EXPECT_TRUE(report->loaded.empty());
  EXPECT_TRUE(report->failed.empty());
  EXPECT_THAT(report->warnings,
              ElementsAre("no blocks registered; this mod set has no placeable content",
                          fmt::format("no mods found under `{}`", dir.path().string())));

  auto p = print("mods", *report);
  EXPECT_EQ(p.code, 0);
  EXPECT_EQ(p.out, fmt::format("checking mods in `mods`\n"
                               "  no mods loaded\n"
                               "  warning: no blocks registered; this mod set has no placeable content\n"
                               "  warning: no mods found under `{}`\n"
                               "OK\n",
                               dir.path().string()));
  EXPECT_EQ(p.err, "");
}

TEST(CheckMods, ReportsOrderStandAsideAndBlocks) {
  TempDir dir;
  // `farm` needs `base`; `stock` is a reference mod that stands aside for `base`.
  write_mod(dir.path(), "farm", "game.register_block({ id = 'soil', name = 'Soil' })\n",
            "depends = [\"base >=1\"]\n", "0.3.0-beta.2");
  write_mod(dir.path(), "base",
            "game.register_block({ id = 'stone', name = 'Stone' })\n"
            "game.register_block({ id = 'dirt', name = 'Dirt' })\n",
            "provides = [\"stock\"]\n", "1.2.0");
  write_mod(dir.path(), "stock", "game.register_block({ id = 'x', name = 'X' })\n", "reference = true\n");

  auto report = check(dir.path());
  ASSERT_TRUE(report.has_value()) << report.error();
  EXPECT_THAT(report->loaded, ElementsAre("base 1.2.0", "farm 0.3.0-beta.2"));
  EXPECT_THAT(report->aside, ElementsAre("`stock` stood aside for `base`"));
  EXPECT_THAT(report->blocks, ElementsAre("base:stone", "base:dirt", "farm:soil"));
  EXPECT_TRUE(report->failed.empty());
  EXPECT_TRUE(report->warnings.empty());

  auto p = print("./mods", *report);
  EXPECT_EQ(p.code, 0);
  EXPECT_EQ(p.out,
            "checking mods in `./mods`\n"
            "  2 mod(s) loaded, in order:\n"
            "    base 1.2.0\n"
            "    farm 0.3.0-beta.2\n"
            "  reference mod `stock` stood aside for `base`\n"
            "  3 block(s) registered:\n"
            "    base:stone (id 2)\n"
            "    base:dirt (id 3)\n"
            "    farm:soil (id 4)\n"
            "OK\n");
}

// Each failing mod is still listed as loaded, and its reason carries the Lua error's text.
TEST(CheckMods, FailuresNameTheModAndTheLuaError) {
  TempDir dir;
  write_mod(dir.path(), "broken", "local x = 1\nerror('no seeds in the barn')\n");
  write_mod(dir.path(), "ticker",
            "game.register_block({ id = 'clock', name = 'Clock' })\n"
            "game.register_on_tick(function(dt) error('tick went wrong ' .. dt) end)\n");
  write_mod(dir.path(), "painter",
            "game.register_block({ id = 'wall', name = 'Wall', textures = { all = '../outside.png' } })\n");
  write_mod(dir.path(), "fine", "game.register_block({ id = 'ok', name = 'Ok' })\n");

  auto report = check(dir.path());
  ASSERT_TRUE(report.has_value()) << report.error();
  EXPECT_THAT(report->loaded, ElementsAre("broken 1.0.0", "fine 1.0.0", "painter 1.0.0", "ticker 1.0.0"));
  ASSERT_EQ(report->failed.size(), 3u) << ::testing::PrintToString(report->failed);
  EXPECT_EQ(report->failed[0].first, "broken");
  EXPECT_THAT(report->failed[0].second, HasSubstr("broken/init.lua:2: no seeds in the barn"));
  EXPECT_EQ(report->failed[1].first, "painter");
  EXPECT_THAT(report->failed[1].second, HasSubstr("register_block(\"painter:wall\")"));
  EXPECT_EQ(report->failed[2].first, "ticker");
  EXPECT_THAT(report->failed[2].second, StartsWith("failed on its first tick: "));
  EXPECT_THAT(report->failed[2].second, HasSubstr("tick went wrong 1"));
  // The block of the mod that failed later still holds its number.
  EXPECT_THAT(report->blocks, ElementsAre("fine:ok", "ticker:clock"));

  auto p = print("mods", *report);
  EXPECT_EQ(p.code, 1);
  EXPECT_THAT(p.out, HasSubstr("  4 mod(s) loaded, in order:\n    broken 1.0.0\n"));
  EXPECT_THAT(p.out, ::testing::Not(HasSubstr("OK")));
  EXPECT_THAT(p.err, StartsWith("  3 mod(s) FAILED:\n    broken: "));
  EXPECT_THAT(p.err, HasSubstr(fmt::format("    ticker: {}\n", report->failed[2].second)));
  EXPECT_THAT(p.err, ::testing::EndsWith(
                         "FAILED — these mods would be silently disabled on a live server (charter rule 10), "
                         "which is exactly what this command exists to surface.\n"));
}

// The runtime functions exist in the check's engine and give their empty answers, at the top of
// init.lua and in the first tick alike.
TEST(CheckMods, RuntimeFunctionsGiveTheirEmptyAnswers) {
  TempDir dir;
  const std::string probe = R"(
    local at = { x = 1, y = 2, z = 3 }
    local f = game.get_fluid(at)
    local l = game.get_light(at)
    local ok = game.CHUNK_BLOCKS == 16 and game.UNITS_PER_BLOCK == 27 and game.OCCUPANCY_FULL == 134217727
      and game.ITEMS_PER_STACK == 90 and game.AIR == 0 and game.mod_id == "probe"
      and game.get_block(at) == nil and game.set_block(at, "probe:stone") == false
      and f.volume == 0 and f.empty == true and f.fluid == nil and game.set_fluid(at, {}) == false
      and game.fluid_id("water") == nil and l.sun + l.r + l.g + l.b == 0
      and game.storage.get("k") == nil and select("#", game.storage.set("k", {})) == 0
      and next(game.storage.keys()) == nil
    if not ok then error("a runtime function answered something other than empty") end
  )";
  write_mod(dir.path(), "probe",
            "game.register_block({ id = 'stone', name = 'Stone' })\n"
            "local function probe()\n" + probe + "\nend\nprobe()\ngame.register_on_tick(probe)\n");
  auto report = check(dir.path());
  ASSERT_TRUE(report.has_value()) << report.error();
  EXPECT_TRUE(report->failed.empty()) << ::testing::PrintToString(report->failed);
  EXPECT_THAT(report->loaded, ElementsAre("probe 1.0.0"));
}

TEST(CheckMods, ErrorsBeforeAReport) {
  TempDir dir;
  write_file(dir / "plain.txt", "x");
  write_mod(dir / "needs", "farm", "", "depends = [\"irrigation\"]\n");
  write_file(dir / "bad" / "odd" / "mod.toml", "id = \"odd\"\nname = \"Odd\"\nversion = \"1.0.0\"\ncolour = 3\n");
  write_file(dir / "bad" / "odd" / "init.lua", "");

  struct Case {
    const char* name;
    fs::path path;
    std::string starts;
  };
  const Case cases[] = {
      {"missing", dir / "nowhere", fmt::format("no such directory: `{}`", (dir / "nowhere").string())},
      {"nul_byte", fs::path(std::string("mods\0x", 6)), "no such directory: `mods"},
      {"file", dir / "plain.txt", fmt::format("`{}` is not a directory", (dir / "plain.txt").string())},
      {"missing_dependency", dir / "needs", "could not resolve mod dependencies\n  caused by: "},
      {"bad_manifest", dir / "bad", fmt::format("could not read mods from `{}`\n  caused by: ", (dir / "bad").string())},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto report = check(c.path);
    ASSERT_FALSE(report.has_value());
    EXPECT_THAT(report.error(), StartsWith(c.starts));
  }
  auto dep = check(dir / "needs");
  ASSERT_FALSE(dep.has_value());
  EXPECT_THAT(dep.error(), HasSubstr("irrigation"));
}

// The server's material registry must give every block the number the script engine handed out.
TEST(CheckMods, BlocksNumberedDifferentlyFail) {
  CheckReport report;
  const std::vector<std::pair<std::string, ostrel_core::material::MaterialId>> blocks = {
      {"a:one", 2}, {"a:two", 7}, {"engine:air", 4}, {"a:three", 4}};
  check_blocks(blocks, report);
  EXPECT_THAT(report.blocks, ElementsAre("a:one", "a:two", "engine:air", "a:three"));
  EXPECT_THAT(report.failed,
              ElementsAre(Pair("a:two", "the engine would assign id 3 but the script VM handed out 7 — every "
                                        "block this mod places would be the wrong material"),
                          Pair("engine:air", "`engine:air` is reserved by the engine and cannot be registered")));

  auto p = print("m", report);
  EXPECT_EQ(p.code, 1);
  EXPECT_THAT(p.out, HasSubstr("  4 block(s) registered:\n    a:one (id 2)\n    a:two (id 3)\n"
                               "    engine:air (id 4)\n    a:three (id 5)\n"));
  EXPECT_THAT(p.err, StartsWith("  2 mod(s) FAILED:\n    a:two: the engine would assign id 3"));
}

TEST(CheckMods, AModDisabledWhileOthersLoadIsNamedAndFails) {
  TempDir dir;
  // The hoarder holds about 180 MiB of the 256 once it has loaded; the mod after it needs 90
  // MiB more. The limit is passed, the hoarder is the one disabled, and the report says so.
  write_mod(dir.path(), "a_hoard", R"(
    local mib = "x" for i = 1, 20 do mib = mib .. mib end
    hoard = {}
    for i = 1, 180 do hoard[i] = mib .. i end
  )");
  write_mod(dir.path(), "b_late", R"(
    local mib = "y" for i = 1, 20 do mib = mib .. mib end
    local t = {}
    for i = 1, 90 do t[i] = mib .. i end
    game.register_block({id = "late", name = "Late"})
  )");
  auto report = check(dir.path());
  ASSERT_TRUE(report.has_value()) << report.error();
  EXPECT_THAT(report->loaded, ElementsAre("a_hoard 1.0.0", "b_late 1.0.0"));
  EXPECT_THAT(report->blocks, ElementsAre("b_late:late"));
  ASSERT_EQ(report->failed.size(), 1u);
  EXPECT_EQ(report->failed[0].first, "a_hoard");
  EXPECT_THAT(report->failed[0].second,
              StartsWith("disabled for holding the most script memory ("));
  auto p = print("mods", *report);
  EXPECT_EQ(p.code, 1);
  EXPECT_THAT(p.err, StartsWith("  1 mod(s) FAILED:\n    a_hoard: disabled for holding the most"));
}

TEST(CheckMods, TheSameSetGivesTheSameReportOnABusyMachine) {
  TempDir dir;
  // Mods whose outcome once hung on the clock: one just inside its budget, one just outside
  // after registering a block, with ordinary mods around them. Their cost is counted, not
  // timed, so the report and the numbering are the same however busy the machine is.
  write_mod(dir.path(), "a_blocks", R"(
    for _, id in ipairs({"one", "two", "three"}) do game.register_block({id = id, name = id}) end
  )");
  write_mod(dir.path(), "b_inside", R"(
    game.register_block({id = "first", name = "First"})
    local s = ("x"):rep(64 * 1024)
    for i = 1, 900 do s:upper() end
    game.register_block({id = "second", name = "Second"})
  )");
  write_mod(dir.path(), "c_outside", R"(
    game.register_block({id = "first", name = "First"})
    local s = ("x"):rep(64 * 1024)
    for i = 1, 1300 do s:upper() end
    game.register_block({id = "second", name = "Second"})
  )");
  write_mod(dir.path(), "d_pattern", R"(
    game.register_block({id = "found", name = "Found"})
    local n = 0
    for i = 1, 2000 do n = n + select(2, ("ab"):rep(500):gsub("b", "c")) end
    game.register_on_tick(function() string.find(("a"):rep(30), ("a?"):rep(30) .. ("a"):rep(30)) end)
  )");

  auto idle = check(dir.path());
  ASSERT_TRUE(idle.has_value()) << idle.error();

  // Every core busy while the same set is checked again.
  std::atomic<bool> stop{false};
  std::vector<std::thread> busy;
  const unsigned cores = std::max(2u, std::thread::hardware_concurrency());
  for (unsigned i = 0; i < cores; ++i) {
    busy.emplace_back([&] {
      volatile std::uint64_t x = 0;
      while (!stop.load(std::memory_order_relaxed)) x = x + 1;
    });
  }
  auto loaded = check(dir.path());
  stop = true;
  for (auto& t : busy) t.join();
  ASSERT_TRUE(loaded.has_value()) << loaded.error();

  EXPECT_EQ(idle->loaded, loaded->loaded);
  EXPECT_EQ(idle->blocks, loaded->blocks);
  EXPECT_EQ(idle->failed, loaded->failed);
  EXPECT_EQ(print("mods", *idle).out, print("mods", *loaded).out);
  EXPECT_EQ(print("mods", *idle).err, print("mods", *loaded).err);

  // And the outcome is the one the costs give.
  EXPECT_THAT(idle->blocks, ElementsAre("a_blocks:one", "a_blocks:two", "a_blocks:three",
                                        "b_inside:first", "b_inside:second", "c_outside:first",
                                        "d_pattern:found"));
  ASSERT_EQ(idle->failed.size(), 2u);
  EXPECT_EQ(idle->failed[0].first, "c_outside");
  EXPECT_THAT(idle->failed[0].second, HasSubstr("exceeded its instruction budget in init.lua"));
  EXPECT_EQ(idle->failed[1].first, "d_pattern");
  EXPECT_THAT(idle->failed[1].second, HasSubstr("failed on its first tick: mod `d_pattern` exceeded"));
}

}  // namespace
}  // namespace ostrel_server::checkmods
