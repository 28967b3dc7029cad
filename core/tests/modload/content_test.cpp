#include "modload/content.hpp"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/b3sum.hpp"
#include "support/temp_dir.hpp"
#include "support/write_file.hpp"

namespace ostrel_core::content {
namespace {

namespace fs = std::filesystem;
using test::b3sum;
using test::TempDir;
using test::write_file;

// A file of `size` zero bytes, without writing them.
void sized(const fs::path& p, std::uint64_t size) {
  write_file(p, "");
  fs::resize_file(p, size);
}

std::string hex(const ContentHash& h) {
  std::string out;
  for (auto b : h) out += fmt::format("{:02x}", b);
  return out;
}

std::span<const std::uint8_t> bytes_of(std::string_view s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

std::string pattern(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i % 251);
  return s;
}

TEST(ContentHash, FileHashIsBlake3OfContextAndBytes) {
  TempDir tmp;
  for (std::size_t n : {0u, 1u, 1000u, 3073u}) {
    SCOPED_TRACE(n);
    const std::string body = pattern(n);
    write_file(tmp / "input", "ostrel:content:v1" + body);
    EXPECT_EQ(hex(hash_bytes(bytes_of(body))), b3sum(tmp / "input"));
  }
}

TEST(ContentHash, ModSetHashJoinsEntriesWithoutSeparators) {
  TempDir tmp;
  ContentHash h1{}, h2{};
  h1.fill(0x11);
  h2.fill(0x22);
  const OfferedMod offered[] = {{"base", "1.2.0", h1}, {"tour", "0.1.0-rc.1", h2}};
  std::string joined = "ostrel:mod-set:v1base1.2.0" + std::string(32, '\x11') + "tour0.1.0-rc.1" +
                       std::string(32, '\x22');
  write_file(tmp / "input", joined);
  EXPECT_EQ(hex(mod_set_hash(offered)), b3sum(tmp / "input"));
}

TEST(ContentDistributable, JudgesByExtension) {
  const std::pair<const char*, bool> kCases[] = {
      {"Tex.PNG", true},        {"textures/stone.png", true}, {"a.tar.json", true},
      {"mod.toml", true},       {".luarc.json", true},        {"x.JPEG", true},
      {"s.ogg", true},          {"s.wav", true},              {"m.glb", true},
      {"m.gltf", true},         {"f.ttf", true},              {"f.otf", true},
      {"f.ttc", true},          {"p.jpg", true},              {"notes.txt", false},
      {"init.lua", false},      {"png", false},               {".png", false},
      {"a.", false},            {"dir/..", false},            {"png.", false},
      {"fonts/", false},        {"a.png.lua", false},         {"", false},
  };
  for (const auto& [path, want] : kCases) {
    SCOPED_TRACE(path);
    EXPECT_EQ(is_distributable(path), want);
  }
}

// The mod hash fed by hand: context, id, then (path text, file hash) in the given order.
ContentHash expected_mod_hash(std::string_view id,
                              std::vector<std::pair<std::string, std::string>> files) {
  blake3::Hasher h;
  h.update("ostrel:mod-content:v1").update(id);
  for (const auto& [path, bytes] : files) h.update(path).update(hash_bytes(bytes_of(bytes)));
  return h.finalize();
}

TEST(ContentIndex, ModHashFollowsComponentOrderNotCreationOrder) {
  TempDir tmp;
  // Same files, created in opposite orders.
  const std::pair<const char*, const char*> kFiles[] = {
      {"a/z.png", "zz"}, {"a.b/c.png", "cc"}, {"b.ogg", "bb"}, {"a/y/x.json", "{}"}, {"a0.png", "00"}};
  for (const auto& [path, bytes] : kFiles) write_file(tmp / "one" / path, bytes);
  for (auto it = std::rbegin(kFiles); it != std::rend(kFiles); ++it) write_file(tmp / "two" / it->first, it->second);
  write_file(tmp / "one" / "init.lua", "not indexed");

  ContentIndex index;
  auto one = index.add_mod_with("m", tmp / "one", {});
  auto two = index.add_mod_with("m", tmp / "two", {});
  ASSERT_TRUE(one.has_value()) << report(one.error());
  ASSERT_TRUE(two.has_value()) << report(two.error());
  EXPECT_EQ(*one, *two);
  // "a" is a shorter first component than "a.b" and "a0", so everything under a/ comes first.
  EXPECT_EQ(*one, expected_mod_hash("m", {{"a/y/x.json", "{}"},
                                          {"a/z.png", "zz"},
                                          {"a.b/c.png", "cc"},
                                          {"a0.png", "00"},
                                          {"b.ogg", "bb"}}));
  EXPECT_EQ(index.mods().size(), 2u);
}

TEST(ContentIndex, ModWithoutFilesHashesContextAndId) {
  TempDir tmp;
  write_file(tmp / "m" / "init.lua", "");
  ContentIndex index;
  auto got = index.add_mod_with("m", tmp / "m", {});
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(*got, blake3::hash("ostrel:mod-content:v1m"));
  EXPECT_FALSE(index.has_files());
}

TEST(ContentIndex, IdenticalFilesAreStoredOnce) {
  TempDir tmp;
  write_file(tmp / "a" / "t" / "stone.png", "same bytes");
  write_file(tmp / "b" / "rock.png", "same bytes");
  write_file(tmp / "b" / "other.png", "other");
  ContentIndex index;
  ASSERT_TRUE(index.add_mod_with("a", tmp / "a", {}).has_value());
  ASSERT_TRUE(index.add_mod_with("b", tmp / "b", {}).has_value());

  const ContentHash same = hash_bytes(bytes_of("same bytes"));
  EXPECT_EQ(index.hash_of("a", "t/stone.png"), same);
  EXPECT_EQ(index.hash_of("b", "rock.png"), same);
  EXPECT_EQ(index.hash_of("a", "t\\stone.png"), same);
  EXPECT_EQ(index.hash_of("a", "t/Stone.png"), std::nullopt);
  EXPECT_EQ(index.hash_of("b", "t/stone.png"), std::nullopt);
  EXPECT_EQ(index.files().size(), 2u);
  const ContentItem* item = index.find(same);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->mod_id, "a");
  EXPECT_EQ(item->path, "t/stone.png");
  EXPECT_EQ(std::string(item->bytes.begin(), item->bytes.end()), "same bytes");
  EXPECT_EQ(index.total_bytes(), 10u + 5u);
}

TEST(ContentIndex, ExtraFilesStayInsideTheMod) {
  TempDir tmp;
  const fs::path dir = tmp / "m";
  write_file(dir / "scripts" / "hud.lua", "hud");
  write_file(dir / "textures" / "a.png", "png");
  write_file(tmp / "outside.lua", "secret");
  fs::create_symlink(tmp / "outside.lua", dir / "leak.lua");
  fs::create_directories(dir / "scripts" / "dir.lua");
  const std::vector<std::string> extra = {"scripts\\hud.lua", "../outside.lua", "leak.lua",
                                          "missing.lua",     "scripts/dir.lua", "textures/a.png",
                                          "/etc/hostname",   "scripts/./hud.lua"};
  ContentIndex index;
  auto got = index.add_mod_with("m", dir, extra);
  ASSERT_TRUE(got.has_value()) << report(got.error());
  EXPECT_EQ(*got, expected_mod_hash("m", {{"scripts/hud.lua", "hud"}, {"textures/a.png", "png"}}));
  EXPECT_EQ(index.hash_of("m", "scripts/hud.lua"), hash_bytes(bytes_of("hud")));
  EXPECT_EQ(index.hash_of("m", "leak.lua"), std::nullopt);
  EXPECT_EQ(index.find(hash_bytes(bytes_of("secret"))), nullptr);
}

TEST(ContentIndex, LinksMetWhileListingAreNotFollowed) {
  TempDir tmp;
  const fs::path dir = tmp / "m";
  write_file(dir / "real.png", "real");
  write_file(tmp / "elsewhere" / "far.png", "far");
  fs::create_symlink(dir / "real.png", dir / "alias.png");
  fs::create_directory_symlink(tmp / "elsewhere", dir / "linked_dir");
  ContentIndex index;
  auto got = index.add_mod_with("m", dir, {});
  ASSERT_TRUE(got.has_value()) << report(got.error());
  EXPECT_EQ(*got, expected_mod_hash("m", {{"real.png", "real"}}));
}

TEST(ContentIndex, PathTextReplacesInvalidUtf8) {
  TempDir tmp;
  write_file(tmp / "m" / "\xff\xc3.png", "x");
  ContentIndex index;
  ASSERT_TRUE(index.add_mod_with("m", tmp / "m", {}).has_value());
  EXPECT_EQ(index.hash_of("m", "\xEF\xBF\xBD\xEF\xBF\xBD.png"), hash_bytes(bytes_of("x")));
}

TEST(ContentIndex, PerFileLimit) {
  TempDir tmp;
  sized(tmp / "ok" / "big.png", kMaxFileBytes);
  sized(tmp / "over" / "big.png", kMaxFileBytes + 1);
  ContentIndex index;
  auto ok = index.add_mod_with("ok", tmp / "ok", {});
  ASSERT_TRUE(ok.has_value()) << report(ok.error());
  EXPECT_EQ(index.total_bytes(), 16'777'216u);

  auto over = index.add_mod_with("over", tmp / "over", {});
  ASSERT_FALSE(over.has_value());
  EXPECT_EQ(over.error().kind, ContentErrorKind::FileTooLarge);
  EXPECT_EQ(over.error().message(),
            "`" + (tmp / "over" / "big.png").string() +
                "` is 16777217 bytes, over the 16777216-byte per-file limit. Shipping it would make "
                "every joining player download it before they could play.");
  EXPECT_EQ(index.mods().size(), 1u);
}

TEST(ContentIndex, PerModLimitAndWhatAFailureLeaves) {
  TempDir tmp;
  // Eight files of the per-file limit make exactly the per-mod limit.
  for (int i = 0; i < 8; ++i) sized(tmp / "full" / fmt::format("f{}.png", i), kMaxFileBytes);
  ContentIndex index;
  auto full = index.add_mod_with("full", tmp / "full", {});
  ASSERT_TRUE(full.has_value()) << report(full.error());

  for (int i = 0; i < 8; ++i) sized(tmp / "over" / fmt::format("f{}.png", i), kMaxFileBytes);
  write_file(tmp / "over" / "a_first.png", "small, indexed before the failure");
  auto over = index.add_mod_with("over", tmp / "over", {});
  ASSERT_FALSE(over.has_value());
  EXPECT_EQ(over.error().kind, ContentErrorKind::ModTooLarge);
  EXPECT_EQ(over.error().message(),
            "mod `over` has 134217761 bytes of content, over the 134217728-byte limit");
  EXPECT_EQ(index.mods().size(), 1u);  // no entry for the failed mod
  EXPECT_TRUE(index.hash_of("over", "a_first.png").has_value());
}

TEST(ContentIndex, UnlistableDirectoryIsAReadError) {
  ContentIndex index;
  TempDir tmp;
  auto got = index.add_mod_with("m", tmp / "absent", {});
  ASSERT_FALSE(got.has_value());
  EXPECT_EQ(got.error().kind, ContentErrorKind::Read);
  EXPECT_EQ(report(got.error()), "could not read `" + (tmp / "absent").string() +
                                     "`\n  caused by: No such file or directory (os error 2)");
}

}  // namespace
}  // namespace ostrel_core::content
