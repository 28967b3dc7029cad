// The mod host: loading a mod set from a directory, the sandboxed load, require and log, world
// options and player settings.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "script/host.hpp"
#include "script/lua_vm/lua_vm.hpp"
#include "support/mod_files.hpp"
#include "support/script_engine.hpp"
#include "support/temp_dir.hpp"
#include "support/write_file.hpp"

namespace ostrel_core::script {
namespace {

using host::HostErrorKind;
using lua_vm::LuaVm;
using test::LogCapture;
using test::TempDir;
using test::write_file;
using test::write_mod;
using vm::ScriptErrorKind;
using Host = host::ModHost<LuaVm>;
using Options = std::vector<std::pair<std::string, std::string>>;

std::expected<Host, host::HostError> load_dir(const std::filesystem::path& dir,
                                              std::optional<std::vector<std::string>> sel = {},
                                              const Options& options = {}) {
  return Host::load_selected_with_options(dir, test::kServerMemoryLimit, test::kServerBudget, sel,
                                          options);
}

std::string run(LuaVm& vm, const std::string& mod, const std::string& body) {
  // Runs `body` as a function of the mod's environment; its result as text.
  lua_State* L = vm.state();
  const int top = lua_gettop(L);
  std::string out;
  if (luaL_loadbuffer(L, body.data(), body.size(), "=test") != LUA_OK) {
    out = lua_tostring(L, -1);
  } else if (!vm.push_environment(mod)) {
    out = "<no environment>";
  } else {
    lua_setupvalue(L, -2, 1);
    if (lua_pcall(L, 0, 1, 0) != LUA_OK) {
      out = std::string("<error: ") + lua_tostring(L, -1) + ">";
    } else {
      std::size_t len = 0;
      const char* p = luaL_tolstring(L, -1, &len);
      out.assign(p, len);
    }
  }
  lua_settop(L, top);
  return out;
}

TEST(ModHost, AFailingModIsDisabledAndTheOthersLoad) {
  TempDir dir;
  write_mod(dir.path(), "barn", "game.export({})\n");
  write_mod(dir.path(), "farm", "local a = 1\nlocal b = 2\nerror('the plough is missing')\n");
  write_mod(dir.path(), "mill", "x = 1\n");
  LogCapture logs;
  auto host = load_dir(dir.path());
  ASSERT_TRUE(host.has_value()) << report(host.error());
  ASSERT_EQ(host->resolved.mods.size(), 3u);
  ASSERT_EQ(host->load_errors.size(), 1u);
  const auto& failed = host->load_errors[0];
  EXPECT_EQ(failed.mod_id, "farm");
  EXPECT_EQ(failed.error.kind(), ScriptErrorKind::Runtime);
  EXPECT_EQ(failed.error.context(), "init.lua");
  EXPECT_EQ(failed.error.detail(), "farm/init.lua:3: the plough is missing");
  EXPECT_EQ(host->vm.faulted_mods(), std::vector<std::string>{"farm"});
  EXPECT_TRUE(host->vm.push_environment("barn"));
  EXPECT_TRUE(host->vm.push_environment("mill"));
  lua_pop(host->vm.state(), 2);
  EXPECT_FALSE(host->vm.push_environment("farm"));

  const auto lines = logs.containing("mod failed to load and is disabled");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(" ERROR "), std::string::npos);
  EXPECT_NE(lines[0].find(
                "error=\"mod `farm` errored in init.lua: farm/init.lua:3: the plough is missing\""),
            std::string::npos)
      << lines[0];
  EXPECT_NE(lines[0].find("mod_id=\"farm\""), std::string::npos);
}

TEST(ModHost, AnUnreadableEntryDisablesThatModAlone) {
  TempDir dir;
  write_mod(dir.path(), "a", "x = 1\n");
  write_mod(dir.path(), "b", std::string("x = '\xff\xfe'\n"));
  write_mod(dir.path(), "c", "x = 1\n");
  LogCapture logs;
  auto host = load_dir(dir.path());
  ASSERT_TRUE(host.has_value()) << report(host.error());
  ASSERT_EQ(host->load_errors.size(), 1u);
  EXPECT_EQ(host->load_errors[0].mod_id, "b");
  EXPECT_EQ(host->load_errors[0].error.kind(), ScriptErrorKind::Load);
  const auto want = fmt::format("could not read `{}`: stream did not contain valid UTF-8",
                                (dir.path() / "b" / "init.lua").string());
  EXPECT_EQ(host->load_errors[0].error.detail(), want);
  EXPECT_EQ(logs.containing("mod failed to load").size(), 1u);
  EXPECT_EQ(host->vm.faulted_mods(), std::vector<std::string>{"b"});
}

TEST(ModHost, SelectionScanAndResolveFailures) {
  TempDir dir;
  write_mod(dir.path(), "a", "x = 1\n");
  write_mod(dir.path(), "b", "x = 1\n", "depends = [\"missing\"]\n");
  {
    auto none = load_dir(dir.path(), std::vector<std::string>{});
    ASSERT_TRUE(none.has_value());
    EXPECT_TRUE(none->resolved.mods.empty());
    EXPECT_TRUE(none->load_errors.empty());
    EXPECT_TRUE(none->option_values.empty());
    auto unknown = load_dir(dir.path(), std::vector<std::string>{"nobody", "a"});
    ASSERT_TRUE(unknown.has_value());
    ASSERT_EQ(unknown->resolved.mods.size(), 1u);
    EXPECT_EQ(unknown->resolved.mods[0].id, "a");
  }
  auto all = load_dir(dir.path());
  ASSERT_FALSE(all.has_value());
  EXPECT_EQ(all.error().kind, HostErrorKind::Resolve);
  EXPECT_EQ(all.error().message(), "could not resolve mod dependencies");
  ASSERT_NE(all.error().source(), nullptr);

  auto tiny = Host::load_selected_with_options(dir.path(), 1024, test::kServerBudget,
                                              std::vector<std::string>{"a"}, {});
  ASSERT_FALSE(tiny.has_value());
  EXPECT_EQ(tiny.error().kind, HostErrorKind::Script);
  EXPECT_EQ(tiny.error().message(), "could not initialise the lua54 script VM");
  EXPECT_EQ(report(tiny.error()).rfind("could not initialise the lua54 script VM\n  caused by: ", 0),
            0u);

  auto missing = load_dir(dir.path() / "nowhere");
  ASSERT_FALSE(missing.has_value());
  EXPECT_EQ(missing.error().kind, HostErrorKind::Scan);
  EXPECT_EQ(missing.error().message(),
            fmt::format("could not read mods from `{}`", (dir.path() / "nowhere").string()));
}

TEST(ModHost, WorldOptionsResolveByModAndOptionKey) {
  TempDir dir;
  const std::string options = R"(
[[world_option]]
id = "biome"
name = "Biome"
options = ["plains", "desert", "tundra"]
default = 2
[[world_option]]
id = "storms"
name = "Storms"
default = 1
)";
  // Read during init.lua: the values are installed before any mod runs.
  write_mod(dir.path(), "farm",
            "seen = tostring(game.world_option('farm:biome')) .. ',' .. "
            "tostring(game.world_option('farm:storms')) .. ',' .. "
            "tostring(game.world_option('farm.biome')) .. ',' .. "
            "tostring(game.world_option('biome'))\n",
            options);
  const Options given = {{"farm:biome", "tundra"}, {"farm:biome", "plains"}, {"farm.storms", "x"},
                         {"other:thing", "y"}};
  auto host = load_dir(dir.path(), std::nullopt, given);
  ASSERT_TRUE(host.has_value());
  ASSERT_TRUE(host->load_errors.empty()) << host->load_errors[0].error.debug();
  ASSERT_EQ(host->option_values.size(), 2u);
  EXPECT_EQ(host->option_values[0].first, "farm:biome");
  EXPECT_EQ(host->option_values[0].second,
            modload::manifest::WorldOptionValue(modload::manifest::Choice{"tundra"}));
  EXPECT_EQ(host->option_values[1].first, "farm:storms");
  EXPECT_EQ(host->option_values[1].second,
            modload::manifest::WorldOptionValue(modload::manifest::Toggle{true}));
  EXPECT_EQ(run(host->vm, "farm", "return seen"), "tundra,true,nil,nil");

  // A stored choice no longer offered reads as the declared default.
  auto stale = load_dir(dir.path(), std::nullopt, Options{{"farm:biome", "jungle"}});
  ASSERT_TRUE(stale.has_value());
  EXPECT_EQ(run(stale->vm, "farm", "return seen"), "desert,true,nil,nil");
}

TEST(Sandbox, LoadRunsInTheCallersEnvironmentAndRefusesBytecode) {
  auto vm = test::make_engine();
  auto r = test::load(vm, "m", R"(
    for _, name in ipairs({"os", "io", "package", "dofile", "loadfile", "loadstring", "debug"}) do
      assert(_ENV[name] == nil, name)
    end
    assert(load("return 1 + 1")() == 2)
    assert(select("#", load("")()) == 0)
    assert(load("return os")() == nil, "load escape")
    assert(load("return io", "x", "t", {io = 1})() == nil, "an env argument is ignored")
    load("x = 5")()
    assert(x == 5)
    local ok, why = pcall(load, 12)
    assert(not ok and why:find("^%(load%):1: unexpected symbol near '12'"), why)
    ok, why = pcall(load, "\27Lua")
    assert(not ok and why == "load: binary chunks are not permitted", why)
    ok, why = pcall(load, "return +")
    assert(not ok and why:find("^%(load%):1:"), why)
    ok, why = pcall(load, "return +", "=mine")
    assert(not ok and why:find("^mine:1:"), why)
    ok, why = pcall(load, function() return nil end)
    assert(not ok and why:find("bad argument #1 to 'load'"), why)
  )");
  ASSERT_TRUE(r.has_value()) << r.error().debug();
  ASSERT_TRUE(test::load(vm, "other", "assert(x == nil, 'globals are per mod')"));
}

TEST(Sandbox, RequireStaysInsideTheModsDirectory) {
  TempDir dir;
  const auto mod = dir.path() / "m";
  write_file(mod / "lib" / "util.lua", "count = (count or 0) + 1\nreturn {name = 'util'}\n");
  write_file(mod / "lib" / "expr.lua", "{ 1, 2, 3 }\n");
  write_file(mod / "lib" / "bad.lua", std::string("return '\xff'\n"));
  write_file(mod / "lib" / "empty.lua", "");
  write_file(dir.path() / "secret.lua", "return 'secret'\n");
  std::filesystem::create_symlink(dir.path() / "secret.lua", mod / "leak.lua");
  std::filesystem::create_symlink(mod / "lib" / "util.lua", mod / "alias.lua");
  std::filesystem::create_directories(mod / "dir.lua");

  auto vm = test::make_engine();
  auto r = vm.load_mod("m", R"(
    local u = require "lib.util"
    assert(u.name == "util" and count == 1)
    require "lib/util"
    assert(count == 2, "no cache: the file runs again")
    assert(#require("lib.expr") == 3)
    assert(require("lib.empty") == nil)
    assert(require("alias").name == "util")
    local function refused(name)
      local ok, why = pcall(require, name)
      assert(not ok, name)
      return why
    end
    outside = {}
    for _, name in ipairs({"..secret", "leak", "lib.none", "lib\0x"}) do
      outside[#outside + 1] = refused(name)
    end
    bad = refused("lib.bad")
    dir = refused("dir")
  )",
                       mod.string());
  ASSERT_TRUE(r.has_value()) << r.error().debug();
  const char* names[] = {"..secret", "leak", "lib.none", "lib"};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(names[i]);
    const std::string got = run(vm, "m", fmt::format("return outside[{}]", i + 1));
    EXPECT_EQ(got.rfind(fmt::format("require(\"{}", names[i]), 0), 0u) << got;
    EXPECT_NE(got.find("\"): mod `m` may only require files inside its own directory"),
              std::string::npos)
        << got;
  }
  EXPECT_EQ(run(vm, "m", "return bad"),
            "require(\"lib.bad\"): stream did not contain valid UTF-8");
  EXPECT_EQ(run(vm, "m", "return dir"), "require(\"dir\"): Is a directory (os error 21)");
}

TEST(Sandbox, ARequiredFilesErrorNamesItsResolvedPath) {
  TempDir dir;
  const auto mod = dir.path() / "m";
  write_file(mod / "boom.lua", "local x = 1\nerror('kaboom')\n");
  auto vm = test::make_engine();
  auto r = vm.load_mod("m", "require 'boom'", mod.string());
  ASSERT_FALSE(r.has_value());
  const auto resolved = std::filesystem::canonical(mod / "boom.lua").string();
  EXPECT_NE(r.error().detail().find(resolved + ":2: kaboom"), std::string::npos)
      << r.error().detail();
}

TEST(Sandbox, RequireRefusesAFifoAndAHugeSparseFileAtOnce) {
  TempDir dir;
  const auto mod = dir.path() / "m";
  std::filesystem::create_directories(mod);
  ASSERT_EQ(::mkfifo((mod / "fifo.lua").c_str(), 0600), 0);
  {
    const int fd = ::open((mod / "big.lua").c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 6'000'000'000), 0);  // sparse: no disk, no time
    ::close(fd);
  }
  auto vm = test::make_engine();
  ASSERT_TRUE(vm.load_mod("m", R"(
    fifo = select(2, pcall(require, "fifo"))
    big = select(2, pcall(require, "big"))
  )", mod.string()));
  EXPECT_EQ(run(vm, "m", "return fifo"), "require(\"fifo\"): not a regular file");
  EXPECT_EQ(run(vm, "m", "return big"),
            "require(\"big\"): 6000000000 bytes, over the 16777216 bytes a mod file may hold");

  // The same for a mod's init.lua: refused without waiting for a writer.
  TempDir set;
  std::filesystem::create_directories(set.path() / "piped");
  ASSERT_EQ(::mkfifo((set.path() / "piped" / "init.lua").c_str(), 0600), 0);
  auto entry = host::read_entry("piped", set.path() / "piped");
  ASSERT_FALSE(entry.has_value());
  EXPECT_NE(entry.error().detail().find("not a regular file"), std::string::npos)
      << entry.error().detail();
}

TEST(GameLog, OneInfoLineWithTheModId) {
  auto vm = test::make_engine();
  LogCapture logs;
  ASSERT_TRUE(test::load(vm, "m", "game.log('hello')\ngame.log('two\\nlines')\ngame.log(42)"));
  ASSERT_EQ(logs.lines().size(), 3u);
  const std::string prefix = " INFO ostrel_core::script::lua_vm: ";
  EXPECT_NE(logs.lines()[0].find(prefix + "hello mod_id=m\n"), std::string::npos) << logs.lines()[0];
  EXPECT_NE(logs.lines()[1].find(prefix + "two\\nlines mod_id=m\n"), std::string::npos);
  EXPECT_EQ(logs.lines()[1].find('\n'), logs.lines()[1].size() - 1);
  EXPECT_NE(logs.lines()[2].find(prefix + "42 mod_id=m\n"), std::string::npos);
  auto bad = test::load(vm, "n", "game.log({})");
  ASSERT_FALSE(bad.has_value());
  EXPECT_NE(bad.error().detail().find("bad argument #1 to 'log'"), std::string::npos);
}

TEST(GameLog, PrintWarnAndLogEscapeControlCharactersOnOneLine) {
  auto vm = test::make_engine();
  LogCapture logs;
  ASSERT_TRUE(test::load(vm, "m", R"(
    game.log("a\27[2Jb\0c")
    print("a\27[2Jb", "\0", 7)
    warn("a\27[31m", "b")
    warn("@on")
  )"));
  ASSERT_EQ(logs.lines().size(), 3u);
  const std::string info = " INFO ostrel_core::script::lua_vm: ";
  EXPECT_NE(logs.lines()[0].find(info + "a\\u{1b}[2Jb\\0c mod_id=m\n"), std::string::npos)
      << logs.lines()[0];
  EXPECT_NE(logs.lines()[1].find(info + "a\\u{1b}[2Jb\\t\\0\\t7 mod_id=m\n"), std::string::npos)
      << logs.lines()[1];
  EXPECT_NE(logs.lines()[2].find(" WARN ostrel_core::script::lua_vm: a\\u{1b}[31mb mod_id=m\n"),
            std::string::npos)
      << logs.lines()[2];
  for (const auto& line : logs.lines()) {
    EXPECT_EQ(line.find('\x1b'), std::string::npos);
    EXPECT_EQ(line.find('\0'), std::string::npos);
    EXPECT_EQ(line.find('\n'), line.size() - 1);
  }
}

TEST(GameLog, LogOutputIsChargedPerByte) {
  // A mod that logs without end is stopped by its budget, after a bounded volume of lines.
  auto vm = test::make_engine();
  LogCapture logs;
  auto r = test::load(vm, "chatty", R"(local s = ("x"):rep(65536) while true do game.log(s) end)");
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().kind(), ScriptErrorKind::BudgetExceeded);
  // 20,000,000 units at a unit a byte: about 305 lines of 64 KiB, never thousands.
  EXPECT_GT(logs.lines().size(), 250u);
  EXPECT_LT(logs.lines().size(), 310u);
}

}  // namespace
}  // namespace ostrel_core::script
