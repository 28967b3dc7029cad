// The mod scaffold in-process: names, substitution, refusals, the written files and the check.
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>

#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "mods/scaffold.hpp"
#include "support/mod_files.hpp"
#include "support/temp_dir.hpp"
#include "support/write_file.hpp"

namespace ostrel_server::scaffold {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using ostrel_core::test::file_tree;
using ostrel_core::test::read_file;
using ostrel_core::test::TempDir;
using ostrel_core::test::write_file;
namespace fs = std::filesystem;

TEST(Scaffold, TitleOf) {
  const std::pair<const char*, const char*> cases[] = {
      {"my_first_mod", "My First Mod"}, {"a__b", "A B"}, {"_lead_", "Lead"},
      {"x", "X"},                       {"", ""},        {"lamp2_b9", "Lamp2 B9"},
  };
  for (const auto& [id, title] : cases) EXPECT_EQ(title_of(id), title) << id;
}

TEST(Scaffold, DefaultsFollowTheChosenName) {
  auto plain = NewMod::with_defaults("my_first_mod");
  EXPECT_EQ(plain.id, "my_first_mod");
  EXPECT_EQ(plain.name, "My First Mod");
  EXPECT_EQ(plain.license, "MIT");
  EXPECT_EQ(plain.copyright, "My First Mod authors");

  auto named = NewMod::with_defaults("lamps", "Lamp Works", "Apache-2.0");
  EXPECT_EQ(named.copyright, "Lamp Works authors");
  auto all = NewMod::with_defaults("lamps", std::nullopt, std::nullopt, "Ada");
  EXPECT_EQ(all.name, "Lamps");
  EXPECT_EQ(all.copyright, "Ada");
  // Nothing is checked here.
  EXPECT_EQ(NewMod::with_defaults("Bad-Id").name, "Bad-Id");
}

TEST(Scaffold, Substitution) {
  const auto mod = NewMod::with_defaults("lamps", "Lamps {{LICENSE}}", "GPL-3.0-only", "Ada Lovelace");
  struct Case {
    const char* name;
    std::string in, out;
  };
  const Case cases[] = {
      {"placeholders", "id={{MOD_ID}} name={{MOD_NAME}} l={{LICENSE}} again {{MOD_ID}}",
       "id=lamps name=Lamps GPL-3.0-only l=GPL-3.0-only again lamps"},
      {"spdx_lines", "-- SPDX-FileCopyrightText: Halvercot\n-- SPDX-License-Identifier: MIT\n",
       "-- SPDX-FileCopyrightText: Ada Lovelace\n-- SPDX-License-Identifier: GPL-3.0-only\n"},
      {"crlf_becomes_lf", "a\r\nb\r\n\rc\n", "a\nb\n\rc\n"},
      {"invalid_utf8_replaced", "x\xff y", "x\xEF\xBF\xBD y"},
      {"no_placeholder", "{ \"runtime.version\": \"Lua 5.4\" }", "{ \"runtime.version\": \"Lua 5.4\" }"},
  };
  for (const auto& c : cases) EXPECT_EQ(substitute(c.in, mod), c.out) << c.name;
}

TEST(Scaffold, TemplatesInTheirOrder) {
  std::vector<std::string> paths;
  for (const auto& t : templates()) {
    paths.emplace_back(t.path);
    EXPECT_FALSE(t.bytes.empty()) << t.path;
  }
  EXPECT_THAT(paths, ElementsAre("mod.toml", "init.lua", "README.md", ".luarc.json", "textures/block.png",
                                 "sounds/ping.wav", "stubs/game.lua", "AGENTS.md"));
  const auto t = templates();
  EXPECT_TRUE(t[0].substituted && t[1].substituted && t[2].substituted && t[3].substituted);
  EXPECT_FALSE(t[4].substituted || t[5].substituted || t[6].substituted || t[7].substituted);
  EXPECT_THAT(std::string(t[4].bytes), StartsWith("\x89PNG\r\n\x1a\n"));
  EXPECT_THAT(std::string(t[5].bytes), StartsWith("RIFF"));
}

TEST(Scaffold, RefusalsWriteNothing) {
  TempDir dir;
  struct Case {
    const char* name;
    NewMod mod;
    std::string message;
  };
  const auto with = [](std::string id, std::string name, std::string license, std::string copyright) {
    return NewMod{std::move(id), std::move(name), std::move(license), std::move(copyright)};
  };
  const Case cases[] = {
      // The id is looked at before the name.
      {"upper_case", with("Lamps", "\"", "MIT", "x"),
       "`Lamps` is not a mod id: lowercase letters, digits and underscores, starting with a letter"},
      {"leading_digit", with("1lamps", "L", "MIT", "x"), "`1lamps` is not a mod id: lowercase letters, digits "
                                                         "and underscores, starting with a letter"},
      {"hyphen", with("Bad-Id", "L", "MIT", "x"), "`Bad-Id` is not a mod id: lowercase letters, digits and "
                                                  "underscores, starting with a letter"},
      {"blank_name", with("lamps", "   ", "MIT", "x"), "the name must be one line, not empty, with no double quote in it"},
      {"quoted_name", with("lamps", "Say \"hi\"", "MIT", "x"), "the name must be one line, not empty, with no double quote in it"},
      {"cr_in_name", with("lamps", "Two\rLines", "MIT", "x"), "the name must be one line, not empty, with no double quote in it"},
      {"backslash_in_name", with("lamps", "Lamp\\Works", "MIT", "x"), "the name must be one line, not empty, with no double quote in it"},
      {"licence_line_feed", with("lamps", "Lamps", "MIT\nGPL", "x"), "the licence must be one line, not empty, with no double quote in it"},
      {"empty_licence", with("lamps", "Lamps", "", "x"), "the licence must be one line, not empty, with no double quote in it"},
      {"quoted_holder", with("lamps", "Lamps", "MIT", "\"Ada\""), "the copyright holder must be one line, not empty, with no double quote in it"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto r = create(c.mod, dir / "into");
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().message(), c.message);
    EXPECT_FALSE(fs::exists(dir / "into"));
  }
}

TEST(Scaffold, WritesEveryTemplateFilledIn) {
  TempDir dir;
  const auto into = dir / "not" / "yet";  // made together with the mod's directory
  auto made = create(NewMod::with_defaults("my_first_mod"), into);
  ASSERT_TRUE(made.has_value()) << made.error().message();
  EXPECT_EQ(*made, into / "my_first_mod");

  const auto files = file_tree(*made);
  ASSERT_EQ(files.size(), templates().size());
  for (const auto& t : templates()) {
    SCOPED_TRACE(t.path);
    const auto& written = files.at(std::string(t.path));
    if (t.substituted) {
      EXPECT_EQ(written.find("{{"), std::string::npos);
      EXPECT_EQ(written.find("\r\n"), std::string::npos);
      EXPECT_EQ(written.find("Halvercot"), std::string::npos);
    } else {
      EXPECT_EQ(written, t.bytes);  // byte for byte, "\r\n" bytes kept
    }
  }
  EXPECT_THAT(files.at("textures/block.png"), HasSubstr("\r\n"));
  const auto& manifest = files.at("mod.toml");
  EXPECT_THAT(manifest, HasSubstr("id = \"my_first_mod\""));
  EXPECT_THAT(manifest, HasSubstr("name = \"My First Mod\""));
  EXPECT_THAT(manifest, HasSubstr("license = \"MIT\""));
  for (const char* f : {"init.lua", "README.md"}) {
    EXPECT_THAT(files.at(f), HasSubstr("SPDX-FileCopyrightText: My First Mod authors")) << f;
    EXPECT_THAT(files.at(f), HasSubstr("SPDX-License-Identifier: MIT")) << f;
  }
}

TEST(Scaffold, NeverOverwrites) {
  TempDir dir;
  const auto mod = NewMod::with_defaults("lamps");
  ASSERT_TRUE(create(mod, dir.path()).has_value());
  write_file(dir / "lamps" / "init.lua", "-- mine now\n");
  const auto before = file_tree(dir / "lamps");

  auto again = create(mod, dir.path());
  ASSERT_FALSE(again.has_value());
  EXPECT_EQ(again.error().kind, ScaffoldErrorKind::Exists);
  EXPECT_EQ(again.error().message(),
            fmt::format("`{}` already exists; a template never overwrites", (dir / "lamps").string()));
  EXPECT_EQ(file_tree(dir / "lamps"), before);

  // A file, or a link to nowhere, in the way counts as well.
  write_file(dir / "torches", "x");
  fs::create_symlink(dir / "nowhere", dir / "candles");
  for (const char* id : {"torches", "candles"}) {
    auto r = create(NewMod::with_defaults(id), dir.path());
    ASSERT_FALSE(r.has_value()) << id;
    EXPECT_EQ(r.error().kind, ScaffoldErrorKind::Exists) << id;
  }
  EXPECT_FALSE(fs::exists(dir / "nowhere"));
  EXPECT_EQ(read_file(dir / "torches"), "x");
}

TEST(Scaffold, WriteFailureNamesThePath) {
  TempDir dir;
  write_file(dir / "file", "x");
  auto r = create(NewMod::with_defaults("lamps"), dir / "file" / "sub");
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().kind, ScaffoldErrorKind::Write);
  EXPECT_THAT(r.error().message(), StartsWith(fmt::format("cannot write `{}`: ", (dir / "file" / "sub").string())));
  EXPECT_THAT(r.error().message(), HasSubstr("(os error 20)"));
}

// Temporary mods directories of this process for the mod `name`.
std::vector<fs::path> leftovers(const std::string& name) {
  std::vector<fs::path> out;
  const auto prefix = fmt::format("ostrel-create-mod-{}-{}-", name, getpid());
  for (const auto& e : fs::directory_iterator(fs::temp_directory_path())) {
    if (e.path().filename().string().starts_with(prefix)) out.push_back(e.path());
  }
  return out;
}

TEST(Scaffold, CheckAloneLeavesTheOtherModsOut) {
  TempDir dir;
  // A broken neighbour in the same parent directory does not take part.
  write_file(dir / "broken" / "mod.toml", "id = \"broken\"\nname = \"B\"\nversion = \"1.0.0\"\n");
  write_file(dir / "broken" / "init.lua", "error('boom')\n");
  auto made = create(NewMod::with_defaults("my_first_mod"), dir.path());
  ASSERT_TRUE(made.has_value());

  for (const fs::path& p : {*made, fs::path(made->string() + "/")}) {
    auto report = check_alone(p);
    ASSERT_TRUE(report.has_value()) << report.error();
    EXPECT_THAT(report->loaded, ElementsAre("my_first_mod 0.1.0"));
    EXPECT_THAT(report->blocks, ElementsAre("my_first_mod:beacon"));
    EXPECT_TRUE(report->failed.empty()) << ::testing::PrintToString(report->failed);
  }
  EXPECT_TRUE(leftovers("my_first_mod").empty());

  // A directory someone prepared under the name a check would once have used is neither used
  // nor removed: the check makes its own with an unpredictable name.
  const auto planted = fs::temp_directory_path() / fmt::format("ostrel-create-mod-my_first_mod-{}", getpid());
  write_file(planted / "my_first_mod" / "init.lua", "error('planted')\n");
  auto report = check_alone(*made);
  ASSERT_TRUE(report.has_value()) << report.error();
  EXPECT_TRUE(report->failed.empty());
  EXPECT_TRUE(fs::exists(planted / "my_first_mod" / "init.lua"));
  fs::remove_all(planted);

  for (const char* bad : {"/", ".", ".."}) {
    auto r = check_alone(bad);
    ASSERT_FALSE(r.has_value()) << bad;
    EXPECT_EQ(r.error(), fmt::format("`{}` has no name to check under", bad));
  }
  auto missing = check_alone(dir / "absent");
  ASSERT_FALSE(missing.has_value());
  EXPECT_THAT(missing.error(), StartsWith("cannot copy the mod out to check it: No such file or directory"));
  EXPECT_TRUE(leftovers("absent").empty());
}

TEST(Scaffold, NoAcceptedNameBreaksTheNewScript) {
  // Texts that close a Lua long string, open a comment or look like code: each mod still loads
  // and registers its block.
  const char* names[] = {"Closer ]=] here", "Open [=[ here", "]] and [[", "-- not a comment",
                         "end) error('x') (", "' single quotes '"};
  int n = 0;
  for (const char* name : names) {
    SCOPED_TRACE(name);
    TempDir dir;
    const std::string id = fmt::format("named_{}", n++);
    auto made = create(NewMod::with_defaults(id, std::string(name)), dir.path());
    ASSERT_TRUE(made.has_value()) << made.error().message();
    auto report = check_alone(*made);
    ASSERT_TRUE(report.has_value()) << report.error();
    EXPECT_TRUE(report->failed.empty()) << ::testing::PrintToString(report->failed);
    EXPECT_THAT(report->blocks, ElementsAre(id + ":beacon"));
  }
}

TEST(Scaffold, CopyTree) {
  TempDir dir;
  write_file(dir / "src" / "a.txt", "a");
  write_file(dir / "src" / "deep" / "er" / "b.bin", std::string("b\0\r\n", 4));
  write_file(dir / "outside.txt", "outside");
  fs::create_symlink(dir / "outside.txt", dir / "src" / "link.txt");
  ASSERT_TRUE(copy_tree(dir / "src", dir / "dst" / "x").has_value());
  EXPECT_EQ(file_tree(dir / "dst" / "x"),
            (std::map<std::string, std::string>{
                {"a.txt", "a"}, {"deep/er/b.bin", std::string("b\0\r\n", 4)}, {"link.txt", "outside"}}));
  EXPECT_FALSE(fs::is_symlink(dir / "dst" / "x" / "link.txt"));

  auto missing = copy_tree(dir / "none", dir / "dst2");
  ASSERT_FALSE(missing.has_value());
  EXPECT_EQ(missing.error().message(), "No such file or directory (os error 2)");
}

}  // namespace
}  // namespace ostrel_server::scaffold
