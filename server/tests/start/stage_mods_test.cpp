#include "start/stage_mods.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "persist/sqlite.hpp"
#include "support/mod_files.hpp"
#include "support/script_engine.hpp"
#include "support/temp_dir.hpp"
#include "support/write_file.hpp"

namespace ostrel_server::handle {
namespace {

namespace fs = std::filesystem;
namespace persist = ostrel_core::persist;
using ostrel_core::error_chain;
using ostrel_core::modload::manifest::Choice;
using ostrel_core::modload::manifest::WorldOptionValue;
using ostrel_core::test::file_bytes;
using ostrel_core::test::LogCapture;
using ostrel_core::test::TempDir;
using ostrel_core::test::write_file;
using ostrel_core::test::write_mod;

constexpr const char* kNoModsWarning = "no mods loaded — this world will have no terrain";

Settings settings_in(const TempDir& dir) {
  Settings s;
  s.world_path = dir / "world";
  s.mods_path = dir / "mods";
  return s;
}

// The stage's result; none (and a failure) when it was refused.
std::optional<ModsAndWorld> loaded(const Settings& s) {
  auto r = load_mods_and_world(s);
  if (!r) {
    ADD_FAILURE() << ostrel_core::report(r.error());
    return std::nullopt;
  }
  return std::move(*r);
}

// The refusal; none (and a failure) when the stage went through.
std::optional<StartError> refused(const Settings& s) {
  auto r = load_mods_and_world(s);
  if (r) {
    ADD_FAILURE() << "the stage went through";
    return std::nullopt;
  }
  return r.error();
}

// Opens (and so creates) a world at `world_path` the way the stage does, then closes it.
void make_world(const fs::path& world_path) {
  ostrel_core::material::Registry registry;
  auto w = open_world(world_path, registry);
  ASSERT_TRUE(w.has_value()) << ostrel_core::report(w.error());
}

// A mod `m` declaring the world option `m:biome` (a, b or c; a by default).
void write_option_mod(const fs::path& mods) {
  write_mod(mods, "m", "",
            "[[world_option]]\nid = \"biome\"\nname = \"Biome\"\noptions = [\"a\", \"b\", \"c\"]\n"
            "default = 1\n");
}

TEST(StageMods, WorldOptionsComeFromTheWorldWhenItExists) {
  struct Case {
    const char* name;
    void (*make)(const fs::path& world);  // null: a new world
    OptionPairs handed;                   // what the mods load with
    std::string biome;
  };
  const OptionPairs configured = {{"m:biome", "c"}};
  const Case cases[] = {
      {"new_world", nullptr, configured, "c"},
      {"world_without_options", [](const fs::path& w) { make_world(w); }, {}, "a"},
      {"database_without_meta",
       [](const fs::path& w) {
         fs::create_directories(w);
         auto db = persist::sqlite::Connection::open(w / "world.sqlite");
         ASSERT_TRUE(db && db->exec("CREATE TABLE other (x);"));
       },
       {},
       "a"},
      {"world_with_options",
       [](const fs::path& w) {
         ostrel_core::material::Registry registry;
         auto world = open_world(w, registry);
         ASSERT_TRUE(world.has_value());
         ASSERT_TRUE(world->set_world_options(std::vector<persist::WorldOption>{{"m:biome", "b"}}));
       },
       {{"m:biome", "b"}},
       "b"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    write_option_mod(dir / "mods");
    auto s = settings_in(dir);
    s.world_options = configured;
    if (c.make) c.make(s.world_path);
    auto stage = loaded(s);
    ASSERT_TRUE(stage);
    EXPECT_EQ(stage->world_options, c.handed);
    ASSERT_TRUE(stage->host.has_value());
    ASSERT_EQ(stage->host->option_values.size(), 1u);
    EXPECT_EQ(stage->host->option_values[0].second, WorldOptionValue(Choice{c.biome}));
    // The world opened with its schema, whatever was there before.
    EXPECT_TRUE(stage->world.meta("schema_version").has_value());
  }
}

TEST(StageMods, WithoutAModsDirectoryThereIsNoEngineAndTheWorldStillOpens) {
  LogCapture logs;
  TempDir dir;
  auto s = settings_in(dir);
  s.mods_path.reset();
  s.extra_materials = {"test:stone"};
  auto stage = loaded(s);
  ASSERT_TRUE(stage);
  EXPECT_FALSE(stage->host.has_value());
  EXPECT_TRUE(stage->mods.empty());
  EXPECT_FALSE(stage->content.has_files());
  EXPECT_EQ(stage->registry.names().size(), 3u);
  EXPECT_EQ(stage->registry.id_of("test:stone"), 2);
  EXPECT_TRUE(fs::is_regular_file(dir / "world" / "world.sqlite"));
  EXPECT_TRUE(logs.containing("mods loaded and registries frozen").empty());
  EXPECT_TRUE(logs.containing(kNoModsWarning).empty());
}

TEST(StageMods, AnEmptySelectionWarnsThatNoModLoaded) {
  LogCapture logs;
  TempDir dir;
  write_mod(dir / "mods", "m", "game.register_block{ id = 'stone' }");
  auto s = settings_in(dir);
  s.enabled_mods = std::vector<std::string>{};
  auto stage = loaded(s);
  ASSERT_TRUE(stage && stage->host.has_value());
  EXPECT_TRUE(stage->host->resolved.mods.empty());
  const auto summary = logs.containing("mods loaded and registries frozen");
  ASSERT_EQ(summary.size(), 1u);
  EXPECT_NE(summary[0].find("mods=0 disabled=0 blocks=0 content_items=0 content_bytes=0"), std::string::npos);
  const auto warning = logs.containing(kNoModsWarning);
  ASSERT_EQ(warning.size(), 1u);
  EXPECT_NE(warning[0].find(" WARN ostrel_server::handle: "), std::string::npos);
  EXPECT_NE(warning[0].find("path=" + (dir / "mods").string()), std::string::npos);
}

TEST(StageMods, ModsThatFailKeepTheirEntryFilesAndMaterials) {
  LogCapture logs;
  TempDir dir;
  write_mod(dir / "mods", "a", "game.register_block{ id = 'stone' }\nerror('boom')", "", "1.2.0");
  write_mod(dir / "mods", "b", "error('bust')");
  write_file(dir / "mods" / "a" / "textures" / "stone.png", "png bytes");
  auto stage = loaded(settings_in(dir));
  ASSERT_TRUE(stage);

  ASSERT_EQ(stage->mods.size(), 2u);
  EXPECT_EQ(stage->mods[0].id, "a");
  EXPECT_EQ(stage->mods[0].version, "1.2.0");
  EXPECT_NE(stage->mods[0].hash, ostrel_core::proto::Hash{});
  EXPECT_TRUE(stage->content.hash_of("a", "textures/stone.png").has_value());
  EXPECT_EQ(stage->registry.id_of("a:stone"), 2);
  EXPECT_EQ(*stage->world.materials().to_world(2), 2);

  // Each failure twice: the host's line and the start's own; every mod failed, so no warning.
  EXPECT_EQ(logs.containing("mod failed to load and is disabled; the rest of the set continues").size(), 2u);
  const auto own = logs.containing("ostrel_server::handle: mod failed to load and is disabled: ");
  ASSERT_EQ(own.size(), 2u);
  EXPECT_NE(own[0].find("boom"), std::string::npos);
  EXPECT_NE(own[0].find("mod_id=\"a\""), std::string::npos);
  EXPECT_NE(own[1].find("mod_id=\"b\""), std::string::npos);
  const auto summary = logs.containing("mods loaded and registries frozen");
  ASSERT_EQ(summary.size(), 1u);
  EXPECT_NE(summary[0].find("mods=2 disabled=2 blocks=1 content_items=3 content_bytes=85"),
            std::string::npos);
  EXPECT_TRUE(logs.containing(kNoModsWarning).empty());
}

// A file named outside the mod's directory fails that mod alone, with the refusal's text; the
// file outside is never indexed.
TEST(StageMods, FilesOutsideTheModDirectoryFailOnlyTheirMod) {
  LogCapture logs;
  TempDir dir;
  write_file(dir / "mods" / "outside.png", "not the mod's");
  write_file(dir / "mods" / "up.ogg", "not the mod's");
  write_mod(dir / "mods", "snd", "game.register_sound{ id = 'up', file = '../up.ogg' }");
  write_mod(dir / "mods", "tex", "game.register_block{ id = 'wall', textures = { all = '../outside.png' } }");
  write_mod(dir / "mods", "zok", "game.register_block{ id = 'stone' }");
  auto stage = loaded(settings_in(dir));
  ASSERT_TRUE(stage);
  ASSERT_EQ(stage->mods.size(), 3u);
  ASSERT_EQ(stage->host->load_errors.size(), 2u);
  EXPECT_EQ(stage->registry.id_of("zok:stone"), 2);
  EXPECT_FALSE(stage->content.hash_of("tex", "../outside.png").has_value());
  EXPECT_FALSE(stage->content.hash_of("snd", "../up.ogg").has_value());
  const auto own = logs.containing("ostrel_server::handle: mod failed to load and is disabled: ");
  ASSERT_EQ(own.size(), 2u);
  EXPECT_NE(own[0].find("path `../up.ogg` escapes the mod directory"), std::string::npos) << own[0];
  EXPECT_NE(own[0].find("mod_id=\"snd\""), std::string::npos);
  EXPECT_NE(own[1].find("path `../outside.png` escapes the mod directory"), std::string::npos) << own[1];
  EXPECT_NE(own[1].find("mod_id=\"tex\""), std::string::npos);
}

TEST(StageMods, AModThatCannotBeIndexedIsListedWithAZeroHash) {
  LogCapture logs;
  TempDir dir;
  write_mod(dir / "mods", "big", "");
  write_file(dir / "mods" / "big" / "huge.png", "");
  fs::resize_file(dir / "mods" / "big" / "huge.png", ostrel_core::content::kMaxFileBytes + 1);
  auto stage = loaded(settings_in(dir));
  ASSERT_TRUE(stage);
  ASSERT_EQ(stage->mods.size(), 1u);
  EXPECT_EQ(stage->mods[0].hash, ostrel_core::proto::Hash{});
  const auto lines = logs.containing("could not index mod content, assets will not be pushed: ");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("mod_id=\"big\""), std::string::npos);
}

TEST(StageMods, AMaterialNumberedOtherwiseByTheEngineEndsStart) {
  TempDir dir;
  write_mod(dir / "mods", "m", "game.register_block{ id = 'a' }\ngame.register_block{ id = 'b' }");
  auto s = settings_in(dir);
  auto host = load_mods(s, {});
  ASSERT_TRUE(host.has_value() && host->has_value());
  auto& vm = (*host)->vm;
  // A gap in the engine's numbering: m:a is 2, m:b 4.
  ASSERT_EQ(ostrel_core::test::inspect(vm, "R['ostrel.blocks']['m:b'] = 4 return 'ok'"), "ok");
  ostrel_core::material::Registry registry;
  auto r = register_mod_materials(registry, vm);
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().kind(), StartErrorKind::MaterialMismatch);
  EXPECT_EQ(r.error().message(),
            "material `m:b` was assigned id 3 by the engine but 4 by the script VM — every block this mod "
            "places would be the wrong material");
}

TEST(StageMods, RefusedMaterialNamesAreLoggedAndSkipped) {
  LogCapture logs;
  ostrel_core::material::Registry registry;
  const std::vector<std::string> extras = {"engine:air", "x:glass"};
  register_extra_materials(registry, extras);
  EXPECT_EQ(registry.id_of("x:glass"), 2);
  const auto lines = logs.containing("could not register material `engine:air`: ");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(
      lines[0].find("ERROR ostrel_server::handle: could not register material `engine:air`: `engine:air` "
                    "is reserved by the engine and cannot be registered"),
      std::string::npos);
}

TEST(StageMods, FailuresEndStartWithTheirContext) {
  TempDir dir;
  write_file(dir / "plain", "a regular file");
  write_file(dir / "garbage" / "world.sqlite",
             "this is not a database, and it is long enough to be read as one");
  struct Case {
    const char* name;
    Settings settings;
    std::vector<std::string> chain_start;  // the first lines of the report
  };
  Settings under_file;
  under_file.world_path = dir / "plain" / "world";
  Settings no_mods_dir = settings_in(dir);
  no_mods_dir.mods_path = dir / "nowhere";
  Settings garbage;
  garbage.world_path = dir / "garbage";
  const Case cases[] = {
      {"world_under_a_file",
       under_file,
       {"world database at `" + (dir / "plain" / "world" / "world.sqlite").string() + "`",
        "world database error", "could not create world directory: Not a directory (os error 20) (code 14)"}},
      {"mods_directory_missing",
       no_mods_dir,
       {"could not load mods", "could not read mods from `" + (dir / "nowhere").string() + "`"}},
      {"not_a_database",
       garbage,
       {"world database at `" + (dir / "garbage" / "world.sqlite").string() + "`", "world database error"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto e = refused(c.settings);
    ASSERT_TRUE(e);
    const auto chain = error_chain(*e);
    ASSERT_GE(chain.size(), c.chain_start.size());
    EXPECT_EQ(std::vector<std::string>(chain.begin(), chain.begin() + c.chain_start.size()), c.chain_start);
  }
  EXPECT_EQ(ostrel_core::test::read_file(dir / "garbage" / "world.sqlite"),
            "this is not a database, and it is long enough to be read as one");
}

TEST(StageMods, AWorldOfAnotherSchemaIsRefusedAndLeftAsItWas) {
  struct Case {
    const char* name;
    bool pending_log;  // the version 2 only in a write-ahead log not yet checkpointed
  };
  for (const Case c : {Case{"in_the_file", false}, Case{"in_a_pending_log", true}}) {
    SCOPED_TRACE(c.name);
    TempDir live, dir;
    const fs::path world = dir / "world";
    fs::create_directories(world);
    {
      auto db = persist::sqlite::Connection::open(live / "world.sqlite");
      ASSERT_TRUE(db);
      ASSERT_TRUE(
          db->exec("PRAGMA journal_mode = WAL; PRAGMA wal_autocheckpoint = 0;"
                   "CREATE TABLE meta (key TEXT PRIMARY KEY, value BLOB);"
                   "INSERT INTO meta VALUES ('schema_version', x'0100000000000000');"
                   "INSERT INTO meta VALUES ('world_options', CAST('m:biome\tb' AS BLOB));"));
      if (c.pending_log) {
        ASSERT_TRUE(
            db->exec("PRAGMA wal_checkpoint(TRUNCATE);"
                     "UPDATE meta SET value = x'0200000000000000' WHERE key = 'schema_version';"));
        for (const char* suffix : {"", "-wal", "-shm"}) {
          fs::copy_file(live.path() / (std::string("world.sqlite") + suffix),
                        world / (std::string("world.sqlite") + suffix));
        }
      } else {
        ASSERT_TRUE(
            db->exec("UPDATE meta SET value = x'0200000000000000' WHERE key = 'schema_version';"
                     "PRAGMA wal_checkpoint(TRUNCATE); PRAGMA journal_mode = DELETE;"));
      }
    }
    if (!c.pending_log) fs::copy_file(live / "world.sqlite", world / "world.sqlite");
    std::vector<std::vector<std::uint8_t>> before;
    const std::vector<std::string> files =
        c.pending_log ? std::vector<std::string>{"world.sqlite", "world.sqlite-wal", "world.sqlite-shm"}
                      : std::vector<std::string>{"world.sqlite"};
    for (const auto& f : files) before.push_back(file_bytes(world / f));

    write_option_mod(dir / "mods");
    auto s = settings_in(dir);
    const auto e = refused(s);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->kind(), StartErrorKind::World);
    EXPECT_EQ(
        error_chain(*e).at(1),
        "world uses schema version 2, but this build understands 1 — the world was created by a different "
        "engine version");
    for (std::size_t i = 0; i < files.size(); ++i) {
      SCOPED_TRACE(files[i]);
      EXPECT_EQ(file_bytes(world / files[i]), before[i]);
    }
    if (!c.pending_log) {
      EXPECT_FALSE(fs::exists(world / "world.sqlite-wal"));
    }
  }
}

// Switches the working directory for one test.
class InDirectory {
 public:
  explicit InDirectory(const fs::path& dir) : old_(fs::current_path()) { fs::current_path(dir); }
  ~InDirectory() { fs::current_path(old_); }

 private:
  fs::path old_;
};

TEST(StageMods, RelativeWorldPathsNameFilesEvenWhenTheyLookLikeUris) {
  struct Case {
    const char* world_path;
    const char* file;  // where the database must be, relative to the working directory
  };
  const Case cases[] = {
      {"", "world.sqlite"},
      {"file:w", "file:w/world.sqlite"},
      {"file:w?mode=memory", "file:w?mode=memory/world.sqlite"},
      {"file::memory:", "file::memory:/world.sqlite"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.world_path);
    TempDir dir;
    InDirectory here(dir.path());
    Settings s;
    s.world_path = c.world_path;
    {
      auto stage = loaded(s);
      ASSERT_TRUE(stage);
      ASSERT_TRUE(stage->world.set_meta("probe", std::vector<std::uint8_t>{7}));
    }
    ASSERT_TRUE(fs::is_regular_file(dir.path() / c.file));
    // The same world again: what was stored is found, so it was a file and not a memory database.
    auto again = loaded(s);
    ASSERT_TRUE(again);
    EXPECT_EQ(*again->world.meta("probe"),
              std::optional<std::vector<std::uint8_t>>(std::vector<std::uint8_t>{7}));
  }
}

}  // namespace
}  // namespace ostrel_server::handle
