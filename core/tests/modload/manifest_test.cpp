#include "modload/manifest.hpp"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <functional>
#include <string>

#include "support/temp_dir.hpp"
#include "support/write_file.hpp"

namespace ostrel_core::modload::manifest {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::write_file;

constexpr std::string_view kMinimal = "id = \"m\"\nname = \"M\"\nversion = \"0.1.0\"\n";

// A mod directory `name` under `root` holding `toml` and, unless told otherwise, init.lua.
fs::path make_mod(const fs::path& root, const char* name, std::string_view toml,
                  bool with_init = true) {
  fs::path dir = root / name;
  write_file(dir / "mod.toml", toml);
  if (with_init) write_file(dir / "init.lua", "-- entry\n");
  return dir;
}

std::string chain(const ManifestError& e) { return report(e); }

TEST(ManifestLoad, MinimalManifestTakesEveryDefault) {
  TempDir tmp;
  auto got = ModManifest::load(make_mod(tmp.path(), "m", kMinimal));
  ASSERT_TRUE(got.has_value()) << chain(got.error());
  EXPECT_EQ(got->id, "m");
  EXPECT_EQ(got->name, "M");
  EXPECT_EQ(got->version, "0.1.0");
  EXPECT_TRUE(got->depends.empty());
  EXPECT_TRUE(got->optional_depends.empty());
  EXPECT_TRUE(got->provides.empty());
  EXPECT_TRUE(got->conflicts.empty());
  EXPECT_FALSE(got->reference);
  EXPECT_EQ(got->description, "");
  EXPECT_EQ(got->license, "");
  EXPECT_TRUE(got->world_option.empty());
  EXPECT_TRUE(got->setting.empty());
  EXPECT_FALSE(got->theme.has_value());
}

TEST(ManifestLoad, ReadsEveryField) {
  TempDir tmp;
  auto dir = make_mod(tmp.path(), "full", R"(
id = "full"
name = "Full"
version = "1.2.3-rc.1"
depends = ["base >=0.2, <1", "lib"]
optional_depends = ["extra ^2"]
provides = ["old_full"]
conflicts = ["rival"]
reference = true
description = "all of it"
license = "MIT"

[[world_option]]
id = "size"
name = "Size"
description = "how big"
options = ["small", "large"]
default = 2

[[setting]]
id = "hud"
name = "HUD"

[theme]
font = "fonts/title.ttf"
sheet = "ui/sheet.png"
[theme.colours]
accent = "#a0b0c080"
)");
  auto got = ModManifest::load(dir);
  ASSERT_TRUE(got.has_value()) << chain(got.error());
  EXPECT_EQ(got->depends, (std::vector<std::string>{"base >=0.2, <1", "lib"}));
  EXPECT_EQ(got->optional_depends, std::vector<std::string>{"extra ^2"});
  EXPECT_EQ(got->provides, std::vector<std::string>{"old_full"});
  EXPECT_EQ(got->conflicts, std::vector<std::string>{"rival"});
  EXPECT_TRUE(got->reference);
  EXPECT_EQ(got->license, "MIT");
  ASSERT_EQ(got->world_option.size(), 1u);
  EXPECT_EQ(got->world_option[0],
            (WorldOption{"size", "Size", "how big", {"small", "large"}, 2}));
  ASSERT_EQ(got->setting.size(), 1u);
  EXPECT_EQ(got->setting[0], (ManifestSetting{"hud", "HUD", "", {}, 1}));
  ASSERT_TRUE(got->theme.has_value());
  EXPECT_EQ(got->theme->font, "fonts/title.ttf");
  EXPECT_EQ(got->theme->text_font, std::nullopt);
  EXPECT_EQ(got->theme->sheet, "ui/sheet.png");
  EXPECT_EQ(got->theme->colours.accent, "#a0b0c080");
  EXPECT_EQ(got->theme->colours.text, std::nullopt);
}

TEST(ManifestLoad, ThemeWithoutColoursHasEveryColourAbsent) {
  TempDir tmp;
  auto got = ModManifest::load(make_mod(tmp.path(), "m", std::string(kMinimal) + "[theme]\n"));
  ASSERT_TRUE(got.has_value()) << chain(got.error());
  ASSERT_TRUE(got->theme.has_value());
  EXPECT_EQ(*got->theme, Theme{});
}

struct ParseCase {
  const char* name;
  std::string extra;       // appended to the minimal manifest
  const char* reader_says;  // part of the reader's sentence
};

TEST(ManifestLoad, RefusesUnknownKeysAndWrongTypesAtEveryLevel) {
  const ParseCase kCases[] = {
      {"top_level_misspelt", "nmae = \"x\"\n", "unknown key `nmae` in struct ModManifest"},
      {"world_option_misspelt", "[[world_option]]\nid = \"o\"\nname = \"O\"\ndefualt = 1\n",
       "unknown key `defualt` in struct WorldOption"},
      {"setting_misspelt", "[[setting]]\nid = \"s\"\nname = \"S\"\noptoins = []\n",
       "unknown key `optoins` in struct ManifestSetting"},
      {"theme_misspelt", "[theme]\nfnot = \"a.ttf\"\n", "unknown key `fnot` in struct Theme"},
      {"colours_misspelt", "[theme.colours]\ntxet = \"#000000\"\n",
       "unknown key `txet` in struct ThemeColours"},
      {"reference_string", "reference = \"yes\"\n", "found a string, expected a boolean"},
      {"options_single_string", "[[world_option]]\nid = \"o\"\nname = \"O\"\noptions = \"a\"\n",
       "found a string, expected an array of strings"},
      {"default_negative", "[[world_option]]\nid = \"o\"\nname = \"O\"\ndefault = -1\n",
       "`default` is -1, expected an unsigned 32-bit integer"},
      {"default_too_big", "[[setting]]\nid = \"o\"\nname = \"O\"\ndefault = 4294967296\n",
       "`default` is 4294967296, expected an unsigned 32-bit integer"},
      {"default_fraction", "[[world_option]]\nid = \"o\"\nname = \"O\"\ndefault = 1.5\n",
       "found a float, expected an unsigned 32-bit integer"},
      {"theme_not_table", "theme = 5\n", "found an integer, expected struct Theme"},
      {"colours_not_table", "[theme]\ncolours = \"red\"\n", "found a string, expected struct ThemeColours"},
      {"world_option_not_tables", "world_option = [\"x\"]\n", "expected struct WorldOption"},
      {"depends_entry_not_string", "depends = [\"a\", 2]\n", "`depends[1]`"},
      {"setting_without_name", "[[setting]]\nid = \"s\"\n", "missing key `name` in struct ManifestSetting"},
      {"syntax", "name2 = \n", "line 4"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    TempDir tmp;
    auto dir = make_mod(tmp.path(), "m", std::string(kMinimal) + c.extra);
    auto got = ModManifest::load(dir);
    ASSERT_FALSE(got.has_value());
    EXPECT_EQ(got.error().kind, ManifestErrorKind::Parse);
    auto lines = error_chain(got.error());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "could not parse `" + (dir / "mod.toml").string() + "`");
    EXPECT_NE(lines[1].find(c.reader_says), std::string::npos) << lines[1];
  }
}

TEST(ManifestLoad, MissingRequiredKeysAndNumericVersionAreParseErrors) {
  const std::pair<const char*, const char*> kCases[] = {
      {"name = \"M\"\nversion = \"0.1.0\"\n", "missing key `id` in struct ModManifest"},
      {"id = \"m\"\nversion = \"0.1.0\"\n", "missing key `name`"},
      {"id = \"m\"\nname = \"M\"\nversion = 1.0\n", "found a float, expected a string"},
  };
  for (const auto& [toml, says] : kCases) {
    SCOPED_TRACE(says);
    TempDir tmp;
    auto got = ModManifest::load(make_mod(tmp.path(), "m", toml));
    ASSERT_FALSE(got.has_value());
    EXPECT_EQ(got.error().kind, ManifestErrorKind::Parse);
    EXPECT_NE(chain(got.error()).find(says), std::string::npos) << chain(got.error());
  }
}

TEST(ManifestLoad, UnreadableManifestsAreReadErrors) {
  TempDir tmp;
  fs::create_directories(tmp / "absent");
  fs::create_directories(tmp / "dir" / "mod.toml");
  make_mod(tmp.path(), "latin1", "id = \"m\"\nname = \"\xe9\"\nversion = \"0.1.0\"\n");
  const std::pair<const char*, const char*> kCases[] = {
      {"absent", "No such file or directory (os error 2)"},
      {"dir", "Is a directory (os error 21)"},
      {"latin1", "stream did not contain valid UTF-8"},
  };
  for (const auto& [name, cause] : kCases) {
    SCOPED_TRACE(name);
    auto got = ModManifest::load(tmp / name);
    ASSERT_FALSE(got.has_value());
    EXPECT_EQ(got.error().kind, ManifestErrorKind::Read);
    EXPECT_EQ(chain(got.error()),
              "could not read `" + (tmp / name / "mod.toml").string() + "`\n  caused by: " + cause);
  }
}

TEST(ManifestLoad, CheckFailuresCarryTheirTexts) {
  TempDir tmp;
  auto version = make_mod(tmp.path(), "v", "id = \"m\"\nname = \"M\"\nversion = \"1.0\"\n");
  auto got = ModManifest::load(version);
  ASSERT_FALSE(got.has_value());
  EXPECT_EQ(got.error().kind, ManifestErrorKind::BadVersion);
  EXPECT_EQ(chain(got.error()), "mod `m` has version `1.0`, which is not valid semver");

  auto no_init = make_mod(tmp.path(), "n", kMinimal, /*with_init=*/false);
  got = ModManifest::load(no_init);
  ASSERT_FALSE(got.has_value());
  EXPECT_EQ(got.error().kind, ManifestErrorKind::MissingEntry);
  EXPECT_EQ(chain(got.error()), "mod `m` at `" + no_init.string() + "` has no init.lua");

  // init.lua must be a file, not a directory of that name.
  auto init_dir = make_mod(tmp.path(), "d", kMinimal, false);
  fs::create_directories(init_dir / "init.lua");
  got = ModManifest::load(init_dir);
  ASSERT_FALSE(got.has_value());
  EXPECT_EQ(got.error().kind, ManifestErrorKind::MissingEntry);
}

TEST(ManifestIds, FollowTheIdRule) {
  const std::pair<const char*, bool> kCases[] = {
      {"a", true},   {"abc_12", true}, {"z9", true},  {"1a", false}, {"_a", false},
      {"A", false},  {"aB", false},    {"a-b", false}, {"a b", false}, {"a.b", false},
      {"", false},   {"é", false},
  };
  for (const auto& [id, ok] : kCases) {
    SCOPED_TRACE(id);
    EXPECT_EQ(is_valid_id(id), ok);
  }
}

TEST(ManifestRequirements, SplitIdAndVersionRequirement) {
  struct Case {
    const char* text;
    const char* id;      // null: refused
    const char* meets;   // a version the requirement accepts
    const char* misses;  // a version it refuses, or null
  };
  const Case kCases[] = {
      {"some_world", "some_world", "0.0.1", nullptr},
      {"  some_world \t", "some_world", "9.0.0", nullptr},
      {"some_world >=0.2, <1", "some_world", "0.2.0", "1.0.0"},
      {"some_world\u00a0 ^1.2", "some_world", "1.9.0", "1.1.0"},  // no-break space separates
      {"some_world>=0.2", nullptr, nullptr, nullptr},
      {"", nullptr, nullptr, nullptr},
      {"   ", nullptr, nullptr, nullptr},
      {"some_world >=banana", nullptr, nullptr, nullptr},
      {"Some_world", nullptr, nullptr, nullptr},
      {"some_world 1.0 2.0", nullptr, nullptr, nullptr},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    auto got = parse_requirement(c.text);
    if (c.id == nullptr) {
      EXPECT_FALSE(got.has_value());
      continue;
    }
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(got->id, c.id);
    EXPECT_TRUE(got->req.matches(*semver::Version::parse(c.meets)));
    if (c.misses) {
      EXPECT_FALSE(got->req.matches(*semver::Version::parse(c.misses)));
    }
  }
}

TEST(ManifestColours, ParseSixOrEightHexDigits) {
  using Rgba = std::array<std::uint8_t, 4>;
  const std::pair<const char*, std::optional<Rgba>> kCases[] = {
      {"#a0b0c0", Rgba{160, 176, 192, 255}},
      {"#a0b0c080", Rgba{160, 176, 192, 128}},
      {"#A0B0C0", Rgba{160, 176, 192, 255}},
      {"#000000ff", Rgba{0, 0, 0, 255}},
      {"a0b0c0", std::nullopt},
      {"#a0b0c0f", std::nullopt},
      {"#a0b0c", std::nullopt},
      {"#a0b0g0", std::nullopt},
      {"#+0b0c0", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [text, want] : kCases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(parse_colour(text), want);
  }
}

TEST(ManifestWorldOption, ResolvesConfiguredTexts) {
  const WorldOption toggle{"t", "T", "", {}, 1};
  const WorldOption off{"t", "T", "", {}, 0};
  const WorldOption choice{"c", "C", "", {"small", "medium", "large"}, 2};
  const WorldOption past_end{"c", "C", "", {"a", "b"}, 7};  // never from load; still safe
  const WorldOption zero{"c", "C", "", {"a", "b"}, 0};
  struct Case {
    const char* name;
    const WorldOption& option;
    std::optional<std::string_view> configured;
    WorldOptionValue want;
  };
  const Case kCases[] = {
      {"toggle_default_on", toggle, std::nullopt, Toggle{true}},
      {"toggle_default_off", off, std::nullopt, Toggle{false}},
      {"toggle_false", toggle, "false", Toggle{false}},
      {"toggle_true", off, "true", Toggle{true}},
      {"toggle_digit", off, "1", Toggle{false}},
      {"toggle_capital", toggle, "FALSE", Toggle{true}},
      {"choice_default", choice, std::nullopt, Choice{"medium"}},
      {"choice_exact", choice, "large", Choice{"large"}},
      {"choice_capitalised", choice, "Large", Choice{"medium"}},
      {"choice_blank_padded", choice, " large", Choice{"medium"}},
      {"choice_past_end", past_end, std::nullopt, Choice{"a"}},
      {"choice_zero", zero, "gone", Choice{"a"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.option.resolve(c.configured), c.want);
  }
}

TEST(ManifestLoad, DeclaredWorldOptionWithoutOptionsIsAToggleOn) {
  TempDir tmp;
  auto got = ModManifest::load(
      make_mod(tmp.path(), "m", std::string(kMinimal) + "[[world_option]]\nid = \"o\"\nname = \"O\"\n"));
  ASSERT_TRUE(got.has_value()) << chain(got.error());
  ASSERT_EQ(got->world_option.size(), 1u);
  EXPECT_EQ(got->world_option[0].resolve(std::nullopt), WorldOptionValue{Toggle{true}});
}

struct CheckCase {
  const char* name;
  std::function<void(ModManifest&)> change;
  const char* want;  // null: passes; "{dir}" stands for the mod directory
};

TEST(ManifestValidate, ReportsTheFirstFailingCheck) {
  auto option = [](const char* id, std::vector<std::string> options, std::uint32_t def) {
    return WorldOption{id, "Name", "", std::move(options), def};
  };
  auto theme_font = [](const char* font) {
    return [font](ModManifest& m) { m.theme = Theme{.font = font}; };
  };
  const CheckCase kCases[] = {
      {"valid", [](ModManifest&) {}, nullptr},
      {"bad_own_id", [](ModManifest& m) { m.id = "Tour"; m.version = "x"; },
       "mod at `{dir}` has id `Tour`: ids must be lowercase, start with a letter, and contain only "
       "letters, digits and underscores"},
      {"bad_requirement", [](ModManifest& m) { m.optional_depends = {"lib>=1"}; },
       "mod `m` declares dependency `lib>=1`, which is not a valid requirement"},
      {"bad_provides", [](ModManifest& m) { m.provides = {"ok", "no-way"}; },
       "mod at `{dir}` has id `no-way`: ids must be lowercase, start with a letter, and contain only "
       "letters, digits and underscores"},
      {"conflicts_itself", [](ModManifest& m) { m.conflicts = {"other", "m"}; },
       "mod `m` lists itself in `conflicts`"},
      {"conflicts_capital", [](ModManifest& m) { m.conflicts = {"Other"}; },
       "mod at `{dir}` has id `Other`: ids must be lowercase, start with a letter, and contain only "
       "letters, digits and underscores"},
      {"option_bad_id", [&](ModManifest& m) { m.world_option = {option("Big", {}, 1)}; },
       "mod `m` declares world option `Big` wrongly: ids must be lowercase, start with a letter, and "
       "contain only letters, digits and underscores"},
      {"option_blank_name", [&](ModManifest& m) { m.world_option = {{"o", " \t", "", {}, 1}}; },
       "mod `m` declares world option `o` wrongly: it needs a `name` for the screen to show"},
      {"option_blank_choice", [&](ModManifest& m) { m.world_option = {option("o", {"a", "  "}, 1)}; },
       "mod `m` declares world option `o` wrongly: an option's text cannot be empty"},
      {"choice_default_0", [&](ModManifest& m) { m.world_option = {option("o", {"a", "b", "c"}, 0)}; },
       "mod `m` declares world option `o` wrongly: `default` is a one-based index into `options`, so "
       "it must be at least 1 and at most their count"},
      {"choice_default_4", [&](ModManifest& m) { m.world_option = {option("o", {"a", "b", "c"}, 4)}; },
       "mod `m` declares world option `o` wrongly: `default` is a one-based index into `options`, so "
       "it must be at least 1 and at most their count"},
      {"toggle_default_2", [&](ModManifest& m) { m.world_option = {option("o", {}, 2)}; },
       "mod `m` declares world option `o` wrongly: a toggle's `default` is 0 or 1"},
      {"option_twice", [&](ModManifest& m) { m.world_option = {option("o", {}, 1), option("o", {}, 0)}; },
       "mod `m` declares world option `o` wrongly: declared twice"},
      {"setting_twice",
       [&](ModManifest& m) { m.setting = {{"s", "S", "", {}, 1}, {"s", "S", "", {}, 1}}; },
       "mod `m` declares setting `s` wrongly: declared twice"},
      {"setting_shares_option_id",
       [&](ModManifest& m) {
         m.world_option = {option("o", {}, 1)};
         m.setting = {{"o", "O", "", {}, 0}};
       },
       nullptr},
      {"font_climbs", theme_font("../x.ttf"),
       "mod `m` declares its theme wrongly: `font = \"../x.ttf\"` must be inside the mod's own directory"},
      {"font_absolute", theme_font("/x.ttf"),
       "mod `m` declares its theme wrongly: `font = \"/x.ttf\"` must be inside the mod's own directory"},
      {"font_drive", theme_font("C:x.ttf"),
       "mod `m` declares its theme wrongly: `font = \"C:x.ttf\"` must be inside the mod's own directory"},
      {"font_backslash_climb", theme_font("a\\..\\b.ttf"),
       "mod `m` declares its theme wrongly: `font = \"a\\..\\b.ttf\"` must be inside the mod's own "
       "directory"},
      {"font_backslash_root", theme_font("\\x.ttf"),
       "mod `m` declares its theme wrongly: `font = \"\\x.ttf\"` must be inside the mod's own directory"},
      {"font_no_extension", theme_font("/x"),
       "mod `m` declares its theme wrongly: `font = \"/x\"` is not a kind of file clients are sent"},
      {"font_ends_in_dotdot", theme_font("fonts/.."),
       "mod `m` declares its theme wrongly: `font = \"fonts/..\"` is not a kind of file clients are sent"},
      {"font_dots_allowed", theme_font("./fonts//a..b.ttf"), nullptr},
      {"button_script", [](ModManifest& m) { m.theme = Theme{.button = "ui/button.lua"}; },
       "mod `m` declares its theme wrongly: `button = \"ui/button.lua\"` is not a kind of file clients "
       "are sent"},
      {"colour_without_hash",
       [](ModManifest& m) { m.theme = Theme{.colours = {.heading = "a0b0c0"}}; },
       "mod `m` declares its theme wrongly: `colours.heading = \"a0b0c0\"` is not `#rrggbb` or "
       "`#rrggbbaa`"},
  };
  TempDir tmp;
  const fs::path dir = make_mod(tmp.path(), "m", kMinimal);
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ModManifest m{.id = "m", .name = "M", .version = "0.1.0"};
    c.change(m);
    auto got = m.validate(dir);
    if (c.want == nullptr) {
      EXPECT_TRUE(got.has_value()) << chain(got.error());
      continue;
    }
    ASSERT_FALSE(got.has_value());
    std::string want = c.want;
    if (auto at = want.find("{dir}"); at != std::string::npos) want.replace(at, 5, dir.string());
    EXPECT_EQ(chain(got.error()), want);
  }
}

TEST(ManifestScan, SortsByIdAndSkipsWhatIsNotAMod) {
  TempDir tmp;
  make_mod(tmp.path(), "a_dir", "id = \"zeta\"\nname = \"Z\"\nversion = \"1.0.0\"\n");
  make_mod(tmp.path(), "b_dir", "id = \"alpha\"\nname = \"A\"\nversion = \"1.0.0\"\n");
  make_mod(tmp.path(), ".hidden", "id = \"hidden\"\nname = \"H\"\nversion = \"1.0.0\"\n");
  write_file(tmp / "notes.txt", "not a mod");
  fs::create_directories(tmp / "empty_dir");
  fs::create_directories(tmp / "toml_is_dir" / "mod.toml");

  auto got = scan_directory(tmp.path());
  ASSERT_TRUE(got.has_value()) << chain(got.error());
  ASSERT_EQ(got->size(), 3u);
  EXPECT_EQ((*got)[0].manifest.id, "alpha");
  EXPECT_EQ((*got)[0].dir, tmp / "b_dir");
  EXPECT_EQ((*got)[1].manifest.id, "hidden");
  EXPECT_EQ((*got)[2].manifest.id, "zeta");
  EXPECT_EQ((*got)[2].dir, tmp / "a_dir");
}

TEST(ManifestScan, EqualIdsKeepDirectoryNameOrder) {
  TempDir tmp;
  // Created in reverse so the listing order is unlikely to be the name order by accident.
  make_mod(tmp.path(), "copy_b", "id = \"same\"\nname = \"B\"\nversion = \"1.0.0\"\n");
  make_mod(tmp.path(), "copy_a", "id = \"same\"\nname = \"A\"\nversion = \"1.0.0\"\n");
  auto got = scan_directory(tmp.path());
  ASSERT_TRUE(got.has_value());
  ASSERT_EQ(got->size(), 2u);
  EXPECT_EQ((*got)[0].manifest.name, "A");
  EXPECT_EQ((*got)[1].manifest.name, "B");
}

TEST(ManifestScan, ReportsProblemsInDirectoryNameOrder) {
  TempDir tmp;
  const char* kNames[] = {"m5", "m2", "m9", "m1", "m7", "m3"};
  for (const char* name : kNames) {
    // Every mod is faulty in its own way: the version names the directory.
    make_mod(tmp.path(), name, fmt::format("id = \"{}\"\nname = \"N\"\nversion = \"{}\"\n", name, name));
  }
  for (int run = 0; run < 3; ++run) {
    auto got = scan_directory(tmp.path());
    ASSERT_FALSE(got.has_value());
    EXPECT_EQ(chain(got.error()), "mod `m1` has version `m1`, which is not valid semver");
  }
}

TEST(ManifestScan, EmptyAndMissingDirectories) {
  TempDir tmp;
  auto empty = scan_directory(tmp.path());
  ASSERT_TRUE(empty.has_value());
  EXPECT_TRUE(empty->empty());

  auto missing = scan_directory(tmp / "nope");
  ASSERT_FALSE(missing.has_value());
  EXPECT_EQ(missing.error().kind, ManifestErrorKind::Scan);
  EXPECT_EQ(chain(missing.error()), "could not scan mod directory `" + (tmp / "nope").string() +
                                        "`\n  caused by: No such file or directory (os error 2)");
}

TEST(ManifestScan, LinksAreNotFollowedOutOfAModDirectory) {
  TempDir tmp;
  const fs::path mods = tmp / "mods";
  const fs::path outside = tmp / "outside";
  write_file(outside / "mod.toml", "id = \"stray\"\nname = \"S\"\nversion = \"1.0.0\"\n");
  write_file(outside / "init.lua", "-- outside\n");

  // mod.toml leading out of the mod: the directory is skipped, and loading it is refused.
  fs::create_directories(mods / "toml_out");
  fs::create_symlink(outside / "mod.toml", mods / "toml_out" / "mod.toml");
  write_file(mods / "toml_out" / "init.lua", "");
  // init.lua leading out of the mod: it has no entry.
  auto init_out = make_mod(mods, "init_out", "id = \"init_out\"\nname = \"I\"\nversion = \"1.0.0\"\n", false);
  fs::create_symlink(outside / "init.lua", init_out / "init.lua");
  // A link that stays inside counts.
  auto inside = make_mod(tmp.path(), "mods/inside", "id = \"inside\"\nname = \"I\"\nversion = \"1.0.0\"\n", false);
  write_file(inside / "src" / "main.lua", "");
  fs::create_symlink("src/main.lua", inside / "init.lua");

  auto loaded = ModManifest::load(mods / "toml_out");
  ASSERT_FALSE(loaded.has_value());
  EXPECT_EQ(loaded.error().kind, ManifestErrorKind::Read);
  EXPECT_TRUE(ModManifest::load(inside).has_value());

  auto got = scan_directory(mods);
  ASSERT_FALSE(got.has_value());
  EXPECT_EQ(got.error().kind, ManifestErrorKind::MissingEntry);
  EXPECT_EQ(got.error().id, "init_out");

  fs::remove_all(init_out);
  got = scan_directory(mods);
  ASSERT_TRUE(got.has_value()) << chain(got.error());
  ASSERT_EQ(got->size(), 1u);
  EXPECT_EQ((*got)[0].manifest.id, "inside");
}

TEST(ManifestScan, FollowsALinkedModDirectory) {
  TempDir tmp;
  auto real = make_mod(tmp.path(), "work/linked", "id = \"linked\"\nname = \"L\"\nversion = \"1.0.0\"\n");
  fs::create_directories(tmp / "mods");
  fs::create_directory_symlink(real, tmp / "mods" / "linked");
  auto got = scan_directory(tmp / "mods");
  ASSERT_TRUE(got.has_value()) << chain(got.error());
  ASSERT_EQ(got->size(), 1u);
  EXPECT_EQ((*got)[0].dir, tmp / "mods" / "linked");
}

}  // namespace
}  // namespace ostrel_core::modload::manifest
