// Models, sounds, cue bindings, fonts, pictures and content hashes: refusal texts, what is
// stored, the limits, and that a file's hash is BLAKE3 of the context text and its bytes.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "script/lua_vm/lua_vm.hpp"
#include "script/api/media.hpp"
#include "support/mod_env.hpp"
#include "support/script_engine.hpp"
#include "support/temp_dir.hpp"
#include "support/write_file.hpp"

namespace ostrel_core::script {
namespace {

namespace fs = std::filesystem;
using test::load_empty;
using test::make_engine;
using test::run_in;

// Mods m and n with a few files each.
class Assets : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* f : {"m/cow.glb", "m/skin.png", "m/notes.txt", "m/boom.ogg", "m/font.ttf",
                          "m/textures/a.png", "m/UP.PNG", "n/cow.glb", "n/font.ttf", "o/font.ttf"}) {
      test::write_file(dir_ / f, std::string("bytes of ") + f);
    }
    test::write_file(dir_ / "secret.png", "outside every mod");
    for (const char* mod : {"m", "n", "o"}) load_empty(vm_, dir_.path(), mod);
  }
  lua_vm::LuaVm fresh() {
    auto vm = make_engine();
    for (const char* mod : {"m", "n", "o"}) load_empty(vm, dir_.path(), mod);
    return vm;
  }
  // The text content_hash gives for `file` in mod m ("<error: ...>" when it fails).
  std::string hash_of(lua_vm::LuaVm& vm, const std::string& file) {
    const auto err = run_in(vm, "m", "H = game.content_hash('" + file + "')");
    if (!err.empty()) return "<error: " + err + ">";
    return run_in(vm, "m", "error(H, 0)");  // the answer comes back as the "error"
  }
  test::TempDir dir_;
  lua_vm::LuaVm vm_ = make_engine();
};

struct Case {
  const char* name;
  const char* code;  // run in mod `m`
  const char* text;
};

const Case kRefusals[] = {
    {"model_unknown_field", "game.register_model({id = 'cow', file = 'cow.glb', skin = 'x'})",
     "register_model: unknown field `skin`"},
    {"model_without_file", "game.register_model({id = 'cow'})",
     "register_model: missing required field `file`"},
    {"model_without_id", "game.register_model({file = 'cow.glb'})",
     "register_model: missing required field `id`"},
    {"model_file_missing", "game.register_model({id = 'cow', file = 'pig.glb'})",
     "register_model: `pig.glb` is not a file in mod `m`'s directory: No such file or directory "
     "(os error 2)"},
    {"model_file_escaping", "game.register_model({id = 'cow', file = '../n/cow.glb'})",
     "register_model: path `../n/cow.glb` escapes the mod directory. Paths are relative to your "
     "mod's own directory."},
    {"texture_absolute", "game.register_model({id = 'cow', file = 'cow.glb', texture = '/s.png'})",
     "register_model: path `/s.png` is absolute. Paths are relative to your mod's own directory."},
    {"texture_escaping",
     "game.register_model({id = 'cow', file = 'cow.glb', texture = 'a/../../s.png'})",
     "register_model: path `a/../../s.png` escapes the mod directory. Paths are relative to your "
     "mod's own directory."},
    {"texture_text_file",
     "game.register_model({id = 'cow', file = 'cow.glb', texture = 'notes.txt'})",
     "register_model: `texture` is an image file beside your mod, got `notes.txt`. The client "
     "decodes PNG."},
    {"sound_foreign", "game.register_sound({id = 'other:boom', file = 'boom.ogg'})",
     "mod `m` may not register into namespace `other`: a mod owns only its own id as a namespace"},
    {"sound_file_missing", "game.register_sound({id = 'boom', file = 'bang.ogg'})",
     "register_sound: `bang.ogg` is not a file in mod `m`'s directory: No such file or directory "
     "(os error 2)"},
    {"sound_without_id", "game.register_sound({file = 'boom.ogg'})",
     "register_sound: bad field `id` (expected string, got nil)"},
    {"sound_gain_text", "game.register_sound({id = 'b', file = 'boom.ogg', gain = 'loud'})",
     "register_sound: bad field `gain` (expected number, got string)"},
    {"font_file_missing", "game.register_font({id = 'f', file = 'gone.ttf'})",
     "register_font: `gone.ttf` is not a file in mod `m`'s directory: No such file or directory "
     "(os error 2)"},
    {"font_without_id", "game.register_font({file = 'font.ttf'})",
     "register_font: bad field `id` (expected string, got nil)"},
    {"picture_foreign_id", "game.register_picture({file = 'skin.png', id = 'x:skin'})",
     "mod `m` may not register into namespace `x`: a mod owns only its own id as a namespace"},
    {"picture_text_file", "game.register_picture({file = 'notes.txt'})",
     "register_picture: `notes.txt` is not a file clients are sent — a picture is a .png or .jpg"},
    {"bind_sound_number", "game.bind_sound('hit', {})",
     "bad argument #2 to 'bind_sound' (expected string, got table)"},
};

TEST_F(Assets, RefusalsHaveExactTextsAndWriteNothing) {
  for (const auto& c : kRefusals) {
    SCOPED_TRACE(c.name);
    auto vm = fresh();
    EXPECT_EQ(run_in(vm, "m", c.code), c.text);
    EXPECT_TRUE(media::registered_models(vm).empty());
    EXPECT_TRUE(media::registered_sounds(vm).empty());
    EXPECT_TRUE(media::registered_fonts(vm).empty());
    EXPECT_TRUE(media::registered_pictures(vm).empty());
    EXPECT_TRUE(media::registered_bindings(vm).empty());
  }
}

TEST_F(Assets, ModelIdsAndReplacement) {
  ASSERT_EQ(run_in(vm_, "m", "game.register_model({id = 'cow', file = 'cow.glb', texture = "
                             "'skin.png', scale = 2})"),
            "");
  ASSERT_EQ(run_in(vm_, "m", "game.register_model({id = 'other:pig', file = 'cow.glb'})"), "");
  // Same id again: the files are replaced in place, the texture dropped.
  ASSERT_EQ(run_in(vm_, "m", "game.register_model({id = 'm:cow', file = 'cow.glb', scale = 3})"),
            "");
  // Another mod's registration keeps the id and first owner, and takes its files.
  ASSERT_EQ(run_in(vm_, "n", "game.register_model({id = 'other:pig', file = 'cow.glb'})"), "");
  const std::vector<media::ModelFile> want = {{"m:cow", "cow.glb", 3.0f, std::nullopt, "m"},
                                              {"other:pig", "cow.glb", 1.0f, std::nullopt, "m"}};
  EXPECT_EQ(media::registered_models(vm_), want);
}

TEST_F(Assets, ModelScaleIsClamped) {
  struct Scale {
    const char* given;
    float want;
  };
  const Scale kScales[] = {{"0", 0.01f}, {"100", 64.0f}, {"0/0", 1.0f}, {"nil", 1.0f},
                           {"-1/0", 1.0f}, {"0.5", 0.5f}};
  for (const auto& s : kScales) {
    SCOPED_TRACE(s.given);
    auto vm = fresh();
    ASSERT_EQ(run_in(vm, "m", std::string("game.register_model({id = 'c', file = 'cow.glb', "
                                          "scale = ") + s.given + "})"),
              "");
    auto models = media::registered_models(vm);
    ASSERT_EQ(models.size(), 1u);
    EXPECT_EQ(models[0].scale, s.want);
  }
}

TEST_F(Assets, The65thModelIsRefusedButReRegisteringStillWorks) {
  ASSERT_EQ(run_in(vm_, "m", "for i = 1, 64 do game.register_model({id = 'c' .. i, file = "
                             "'cow.glb'}) end"),
            "");
  EXPECT_EQ(run_in(vm_, "m", "game.register_model({id = 'c65', file = 'cow.glb'})"),
            "register_model: a server may push at most 64 models");
  EXPECT_EQ(run_in(vm_, "m", "game.register_model({id = 'c7', file = 'cow.glb', scale = 4})"), "");
  const auto models = media::registered_models(vm_);
  ASSERT_EQ(models.size(), 64u);
  EXPECT_EQ(models[6].id, "m:c7");
  EXPECT_EQ(models[6].scale, 4.0f);
}

TEST_F(Assets, SoundsAreAppendedAsGiven) {
  ASSERT_EQ(run_in(vm_, "m", "game.register_sound({id = 'boom', file = 'boom.ogg', gian = 3, "
                             "gain = 5, pitch_variance = -1})"),
            "");
  ASSERT_EQ(run_in(vm_, "m", "game.register_sound({id = 'm:boom', file = 'boom.ogg'})"), "");
  const std::vector<media::Sound> want = {{"m:boom", "boom.ogg", 5.0f, -1.0f, "m"},
                                          {"m:boom", "boom.ogg", 1.0f, 0.0f, "m"}};
  EXPECT_EQ(media::registered_sounds(vm_), want);
}

TEST_F(Assets, CueBindingsQualifyBareIdsAndKeepRepeats) {
  ASSERT_EQ(run_in(vm_, "m", "game.bind_sound('hit', 'boom') game.bind_sound('core:step', "
                             "'n:thud') game.bind_sound('hit', 'x:y')"),
            "");
  const std::vector<proto::SoundBinding> want = {
      {"m:hit", "m:boom", "m"}, {"core:step", "n:thud", "m"}, {"m:hit", "x:y", "m"}};
  EXPECT_EQ(media::registered_bindings(vm_), want);
}

TEST_F(Assets, FontLimitCountsEveryMod) {
  ASSERT_EQ(run_in(vm_, "m", "for i = 1, 5 do game.register_font({id = 'f' .. i, file = "
                             "'font.ttf'}) end"),
            "");
  ASSERT_EQ(run_in(vm_, "n", "for i = 1, 3 do game.register_font({id = 'f', file = "
                             "'font.ttf'}) end"),
            "");
  EXPECT_EQ(run_in(vm_, "o", "game.register_font({id = 'f', file = 'font.ttf'})"),
            "mod `o`: a server may push at most 8 fonts");
  const auto fonts = media::registered_fonts(vm_);
  ASSERT_EQ(fonts.size(), 8u);
  EXPECT_EQ(fonts[0], (media::Font{"m:f1", "m", "font.ttf"}));
  EXPECT_EQ(fonts[7], (media::Font{"n:f", "n", "font.ttf"}));
}

TEST_F(Assets, ReadersSkipIncompleteEntriesWithoutCountingThem) {
  ASSERT_EQ(test::inspect(vm_, R"(
      local f = R['ostrel.fonts']
      f[1] = 'not a table'
      f[2] = {id = 'm:a', mod_id = 'm'}
      for i = 3, 10 do f[i] = {id = 'm:f' .. i, mod_id = 'm', file = 'font.ttf'} end
      f[11] = {id = 'm:last', mod_id = 'm', file = 'font.ttf'}
      local m = R['ostrel.models']
      m[1] = {id = 'm:c', mod_id = 'm', file = 'c.glb', texture = 5, scale = 'big'}
      return #f)"),
            "11");
  const auto fonts = media::registered_fonts(vm_);
  ASSERT_EQ(fonts.size(), 8u);
  EXPECT_EQ(fonts.front().id, "m:f3");
  EXPECT_EQ(fonts.back().id, "m:f10");
  const std::vector<media::ModelFile> models = {{"m:c", "c.glb", 1.0f, std::nullopt, "m"}};
  EXPECT_EQ(media::registered_models(vm_), models);
}

TEST_F(Assets, PicturesAnswerTheirHashAndKeepThePathAsWritten) {
  ASSERT_EQ(run_in(vm_, "m", R"(
      P1 = game.register_picture({file = 'textures/a.png'})
      P2 = game.register_picture({file = 'textures\\a.png', id = 'a2'})
      P3 = game.register_picture({file = 'boom.ogg', id = 'sound_too'})
      P4 = game.register_picture({file = 'UP.PNG'})
      assert(P1 == P2, 'backslash path hashed differently')
      assert(P1 == game.content_hash('textures/a.png'), 'content_hash differs')
      assert(#P3 == 64 and P3:match('^[0-9a-f]+$'), 'not 64 lowercase hex digits'))"),
            "");
  const std::vector<media::Picture> want = {{"m:textures/a.png", "m", "textures/a.png"},
                                            {"m:a2", "m", "textures\\a.png"},
                                            {"m:sound_too", "m", "boom.ogg"},
                                            {"m:UP.PNG", "m", "UP.PNG"}};
  EXPECT_EQ(media::registered_pictures(vm_), want);
}

TEST_F(Assets, ContentHashRefusesWhatClientsCannotBeSent) {
  ASSERT_EQ(::mkfifo((dir_ / "m/pipe.png").c_str(), 0600), 0);
  fs::create_symlink("pipe.png", dir_ / "m/pipe_link.png");
  fs::create_symlink("/dev/zero", dir_ / "m/zero.png");
  fs::create_symlink(dir_ / "secret.png", dir_ / "m/out.png");
  fs::create_directories(dir_ / "m/dir.png");
  const Case kCases[] = {
      {"text_file", "notes.txt",
       "content_hash: `notes.txt` is not a file clients are sent — a picture is a .png or .jpg"},
      {"parent", "../x.png",
       "content_hash: path `../x.png` escapes the mod directory. Paths are relative to your mod's "
       "own directory."},
      {"drive", "C:/x.png",
       "content_hash: path `C:/x.png` is absolute. Paths are relative to your mod's own "
       "directory."},
      {"root", "/x.png",
       "content_hash: path `/x.png` is absolute. Paths are relative to your mod's own directory."},
      {"empty", " ",
       "content_hash: path ` ` is empty. Paths are relative to your mod's own directory."},
      {"missing", "gone.png",
       "content_hash: `gone.png` is not a file in mod `m`'s directory: No such file or directory "
       "(os error 2)"},
      {"fifo", "pipe.png",
       "content_hash: `pipe.png` is not a file in mod `m`'s directory: not a regular file"},
      {"fifo_behind_link", "pipe_link.png",
       "content_hash: `pipe_link.png` is not a file in mod `m`'s directory: not a regular file"},
      {"device_behind_link", "zero.png",
       "content_hash: path `zero.png` escapes the mod directory. Paths are relative to your mod's "
       "own directory."},
      {"link_out", "out.png",
       "content_hash: path `out.png` escapes the mod directory. Paths are relative to your mod's "
       "own directory."},
      {"directory", "dir.png",
       "content_hash: `dir.png` is not a file in mod `m`'s directory: not a regular file"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(hash_of(vm_, c.code), std::string("<error: ") + c.text + ">");
  }
}

TEST_F(Assets, ContentHashTakesAtMostSixteenMebibytes) {
  const std::string exact(16'777'216, 'x');
  test::write_file(dir_ / "m/exact.png", exact);
  test::write_file(dir_ / "m/over.png", exact + "x");
  EXPECT_EQ(hash_of(vm_, "exact.png").size(), 64u);
  EXPECT_EQ(hash_of(vm_, "over.png"),
            "<error: content_hash: `over.png` is 16777217 bytes, and a client takes at most "
            "16777216>");
}

// b3sum over the context text followed by the file's bytes.
std::string b3sum_of(const fs::path& file, const fs::path& scratch) {
  {
    std::ifstream in(file, std::ios::binary);
    std::ofstream out(scratch, std::ios::binary);
    out << "ostrel:content:v1" << in.rdbuf();
  }
  const std::string cmd = "b3sum --no-names '" + scratch.string() + "'";
  FILE* p = ::popen(cmd.c_str(), "r");
  if (p == nullptr) return "<popen failed>";
  char buf[128] = {};
  const std::size_t n = std::fread(buf, 1, sizeof buf - 1, p);
  ::pclose(p);
  std::string out(buf, n);
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

TEST_F(Assets, ContentHashEqualsB3sumOfContextAndBytes) {
  std::string bytes;
  for (int i = 0; i < 5000; ++i) bytes.push_back(static_cast<char>(i * 7 % 256));
  test::write_file(dir_ / "m/mixed.png", bytes);
  test::write_file(dir_ / "m/empty.png", "");
  for (const char* f : {"mixed.png", "empty.png", "skin.png"}) {
    SCOPED_TRACE(f);
    const auto want = b3sum_of(dir_ / "m" / f, dir_ / "scratch");
    ASSERT_EQ(want.size(), 64u) << want;
    EXPECT_EQ(hash_of(vm_, f), want);
  }
}

TEST_F(Assets, RegistrationClosesButContentHashWorksAfterTheFreeze) {
  ASSERT_TRUE(vm_.freeze().has_value());
  const char* kCalls[] = {
      "game.register_model({id = 'c', file = 'cow.glb'})",
      "game.register_sound({id = 'b', file = 'boom.ogg'})", "game.bind_sound('a', 'b')",
      "game.register_font({id = 'f', file = 'font.ttf'})",
      "game.register_picture({file = 'skin.png'})"};
  for (const char* call : kCalls) {
    SCOPED_TRACE(call);
    EXPECT_EQ(run_in(vm_, "m", call), "mod `m`: registration is closed");
  }
  EXPECT_EQ(hash_of(vm_, "skin.png").size(), 64u);
}

}  // namespace
}  // namespace ostrel_core::script
