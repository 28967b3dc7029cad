// Models, sounds, cue bindings, fonts and pictures: their registration functions, the content
// hash of a mod's file and the readers. Every file a registration names is checked when it is
// registered (path rules, then a regular file inside the mod's directory), so an author learns
// of a missing or escaping file at once.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <vector>

#include <fmt/format.h>
#include <lua.hpp>

#include "modload/content.hpp"

#include "base/error.hpp"
#include "base/text.hpp"
#include "script/api/media.hpp"
#include "script/api/fields.hpp"
#include "script/api/registration.hpp"

namespace ostrel_core::script::media {

namespace {

// Sets `key` = `value` on the table on top of the stack.
void set_text(lua_State* L, const char* key, std::string_view value) {
  lua_vm::push_text(L, value);
  lua_setfield(L, -2, key);
}

// The bytes of a regular file, at most `limit` + 1 of them. Opened without blocking, so a FIFO
// that slipped in after the type check cannot hold the caller.
std::expected<std::vector<std::uint8_t>, std::string> read_regular(const std::string& path,
                                                                   std::uint64_t limit,
                                                                   std::uint64_t& size) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return std::unexpected(IoError::from_errno(errno).message());
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    return std::unexpected(IoError::from_errno(err).message());
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return std::unexpected(std::string("not a regular file"));
  }
  size = static_cast<std::uint64_t>(st.st_size);
  std::vector<std::uint8_t> out;
  if (size > limit) {
    ::close(fd);
    return out;
  }
  out.resize(static_cast<std::size_t>(limit) + 1);
  std::size_t used = 0;
  while (used < out.size()) {
    const ssize_t n = ::read(fd, out.data() + used, out.size() - used);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int err = errno;
      ::close(fd);
      return std::unexpected(IoError::from_errno(err).message());
    }
    if (n == 0) break;
    used += static_cast<std::size_t>(n);
  }
  ::close(fd);
  out.resize(used);
  size = std::max<std::uint64_t>(size, used);  // a file that grew since fstat
  return out;
}

// ---- register_model ------------------------------------------------------------------------

constexpr std::string_view kModel = "register_model";

int register_model(lua_State* L) {
  const auto mod_id = lua_vm::upvalue_text(L, 1);
  lua_vm::arg_table(L, kModel);
  lua_settop(L, 1);
  lua_vm::refuse_if_frozen(L, mod_id);
  if (auto k = fields::unknown_key(L, 1, {"id", "file", "scale", "texture"}, true)) {
    convert::raise(L, fmt::format("register_model: unknown field `{}`", *k));
  }
  lua_getfield(L, 1, "id");
  auto id = fields::read_text(L, -1);
  lua_pop(L, 1);
  if (!id) convert::raise(L, "register_model: missing required field `id`");
  // A model may be registered into another mod's namespace: it replaces that model's files.
  const std::string qualified = convert::named_block(mod_id, *id);
  lua_getfield(L, 1, "file");
  auto file = fields::read_text(L, -1);
  lua_pop(L, 1);
  if (!file) convert::raise(L, "register_model: missing required field `file`");
  const auto scale_given = fields::opt_f32(L, 1, "scale", kModel);
  const auto texture = fields::opt_text(L, 1, "texture", kModel);
  lua_vm::require_mod_file(L, kModel, mod_id, *file);
  if (texture) {
    const std::string p = lua_vm::mod_path(L, kModel, *texture);
    if (!ostrel_core::content::is_distributable(p)) {
      convert::raise(L, fmt::format("register_model: `texture` is an image file beside your mod, "
                                    "got `{}`. The client decodes PNG.",
                                    *texture));
    }
    lua_vm::require_mod_file(L, kModel, mod_id, *texture);
  }
  float scale = scale_given.value_or(1.0f);
  scale = std::isfinite(scale) ? std::clamp(scale, 0.01f, 64.0f) : 1.0f;

  lua_vm::push_registry_table(L, "ostrel.models");
  const int models = lua_gettop(L);
  const auto set_files = [&](int e) {
    lua_vm::push_text(L, *file);
    lua_setfield(L, e, "file");
    lua_pushnumber(L, scale);
    lua_setfield(L, e, "scale");
    if (texture) {
      lua_vm::push_text(L, *texture);
    } else {
      lua_pushnil(L);
    }
    lua_setfield(L, e, "texture");
  };
  for (lua_Integer i = 1;; ++i) {
    const int t = lua_rawgeti(L, models, i);
    if (t == LUA_TNIL) break;
    if (t == LUA_TTABLE) {
      lua_getfield(L, -1, "id");
      const bool same = lua_type(L, -1) == LUA_TSTRING && fields::read_text(L, -1) == qualified;
      lua_pop(L, 1);
      if (same) {
        set_files(lua_gettop(L));
        return 0;
      }
    }
    lua_pop(L, 1);
  }
  const auto n = lua_rawlen(L, models);
  if (n >= kMaxModels) {
    convert::raise(L, fmt::format("register_model: a server may push at most {} models",
                                  kMaxModels));
  }
  lua_createtable(L, 0, 5);
  set_text(L, "id", qualified);
  set_text(L, "mod_id", mod_id);
  set_files(lua_gettop(L));
  lua_rawseti(L, models, static_cast<lua_Integer>(n) + 1);
  return 0;
}

// ---- register_sound, bind_sound ------------------------------------------------------------

constexpr std::string_view kSound = "register_sound";

int register_sound(lua_State* L) {
  const auto mod_id = lua_vm::upvalue_text(L, 1);
  lua_vm::arg_table(L, kSound);
  lua_settop(L, 1);
  lua_vm::refuse_if_frozen(L, mod_id);
  const std::string id = lua_vm::qualify(L, mod_id, fields::required_text(L, 1, "id", kSound));
  const std::string file = fields::required_text(L, 1, "file", kSound);
  const float gain = fields::opt_f32(L, 1, "gain", kSound).value_or(1.0f);
  const float variance = fields::opt_f32(L, 1, "pitch_variance", kSound).value_or(0.0f);
  lua_vm::require_mod_file(L, kSound, mod_id, file);

  lua_vm::push_registry_table(L, "ostrel.sounds");
  lua_createtable(L, 0, 5);
  set_text(L, "id", id);
  set_text(L, "mod_id", mod_id);
  set_text(L, "file", file);
  lua_pushnumber(L, gain);
  lua_setfield(L, -2, "gain");
  lua_pushnumber(L, variance);
  lua_setfield(L, -2, "pitch_variance");
  lua_rawseti(L, -2, static_cast<lua_Integer>(lua_rawlen(L, -2)) + 1);
  return 0;
}

int bind_sound(lua_State* L) {
  const auto mod_id = lua_vm::upvalue_text(L, 1);
  // Both reach clients in the binding table, which a client refuses when a text is not UTF-8.
  std::string texts[2];
  for (int arg = 1; arg <= 2; ++arg) {
    auto v = convert::to_utf8(L, arg);
    if (!v) convert::arg_error(L, arg, "bind_sound", v.error().text);
    texts[arg - 1] = std::move(*v);
  }
  const std::string& cue = texts[0];
  const std::string& sound = texts[1];
  lua_vm::refuse_if_frozen(L, mod_id);
  lua_vm::push_registry_table(L, "ostrel.bindings");
  lua_createtable(L, 0, 3);
  set_text(L, "cue", convert::named_block(mod_id, cue));
  set_text(L, "sound", convert::named_block(mod_id, sound));
  set_text(L, "mod_id", mod_id);
  lua_rawseti(L, -2, static_cast<lua_Integer>(lua_rawlen(L, -2)) + 1);
  return 0;
}

// ---- register_font, register_picture, content_hash -----------------------------------------

void append_entry(lua_State* L, const char* table, std::size_t cap, const char* what,
                  std::string_view mod_id, std::string_view id, std::string_view file) {
  lua_vm::push_registry_table(L, table);
  const auto n = lua_rawlen(L, -1);
  if (n >= cap) {
    convert::raise(L, fmt::format("mod `{}`: a server may push at most {} {}", mod_id, cap, what));
  }
  lua_createtable(L, 0, 3);
  set_text(L, "id", id);
  set_text(L, "mod_id", mod_id);
  set_text(L, "file", file);
  lua_rawseti(L, -2, static_cast<lua_Integer>(n) + 1);
  lua_pop(L, 1);
}

int register_font(lua_State* L) {
  constexpr std::string_view kFn = "register_font";
  const auto mod_id = lua_vm::upvalue_text(L, 1);
  lua_vm::arg_table(L, kFn);
  lua_settop(L, 1);
  lua_vm::refuse_if_frozen(L, mod_id);
  const std::string id = lua_vm::qualify(L, mod_id, fields::required_text(L, 1, "id", kFn));
  const std::string file = fields::required_text(L, 1, "file", kFn);
  lua_vm::require_mod_file(L, kFn, mod_id, file);
  append_entry(L, "ostrel.fonts", kMaxFonts, "fonts", mod_id, id, file);
  return 0;
}

ostrel_core::content::ContentHash hash_or_raise(lua_State* L, std::string_view mod_id, std::string_view what,
                                   std::string_view file) {
  auto h = hash_mod_file(L, mod_id, what, file);
  if (!h) convert::raise(L, h.error());
  return *h;
}

int register_picture(lua_State* L) {
  constexpr std::string_view kFn = "register_picture";
  const auto mod_id = lua_vm::upvalue_text(L, 1);
  lua_vm::arg_table(L, kFn);
  lua_settop(L, 1);
  lua_vm::refuse_if_frozen(L, mod_id);
  const std::string file = fields::required_text(L, 1, "file", kFn);
  const auto hash = hash_or_raise(L, mod_id, kFn, file);
  const std::string id = lua_vm::qualify(L, mod_id, fields::opt_text(L, 1, "id", kFn).value_or(file));
  append_entry(L, "ostrel.pictures", kMaxPictures, "pictures", mod_id, id, file);
  lua_vm::push_text(L, text::hex_bytes(hash));
  return 1;
}

int content_hash(lua_State* L) {
  const auto mod_id = lua_vm::upvalue_text(L, 1);
  const std::string file = convert::arg_text(L, 1, "content_hash");
  lua_vm::push_text(L, text::hex_bytes(hash_or_raise(L, mod_id, "content_hash", file)));
  return 1;
}

}  // namespace

std::expected<blake3::Digest, std::string> hash_mod_file(lua_State* L,
                                                               std::string_view mod_id,
                                                               std::string_view what,
                                                               std::string_view path) {
  auto normalised = lua_vm::validate_mod_path(path, what);
  if (!normalised) return std::unexpected(normalised.error());
  const auto dir = lua_vm::find_mod_dir(L, what, mod_id);
  if (!dir) return std::unexpected(dir.error());
  if (!ostrel_core::content::is_distributable(*normalised)) {
    return std::unexpected(fmt::format(
        "{}: `{}` is not a file clients are sent — a picture is a .png or .jpg", what, path));
  }
  auto found = lua_vm::locate_mod_file(what, mod_id, *dir, path, *normalised);
  if (!found) return std::unexpected(found.error());
  std::uint64_t size = 0;
  auto bytes = read_regular(*found, ostrel_core::content::kMaxFileBytes, size);
  if (!bytes) {
    return std::unexpected(lua_vm::not_a_mod_file(what, path, mod_id, bytes.error()));
  }
  if (size > ostrel_core::content::kMaxFileBytes) {
    return std::unexpected(fmt::format("{}: `{}` is {} bytes, and a client takes at most {}", what,
                                       path, size, ostrel_core::content::kMaxFileBytes));
  }
  return ostrel_core::content::hash_bytes(*bytes);
}

void detail::set_asset_functions(lua_State* L, std::string_view mod_id, int game) {
  lua_vm::set_function(L, game, "register_model", register_model, mod_id);
  lua_vm::set_function(L, game, "register_sound", register_sound, mod_id);
  lua_vm::set_function(L, game, "bind_sound", bind_sound, mod_id);
  lua_vm::set_function(L, game, "register_font", register_font, mod_id);
  lua_vm::set_function(L, game, "register_picture", register_picture, mod_id);
  lua_vm::set_function(L, game, "content_hash", content_hash, mod_id);
}

std::expected<void, vm::ScriptError> install_media(lua_State* L, std::string_view mod_id,
                                                   int game_idx) {
  lua_pushvalue(L, game_idx);
  auto r = lua_vm::protect(L, 1, [&](lua_State* s) {
    detail::set_view_functions(s, mod_id, 1);
    detail::set_sky_functions(s, mod_id, 1);
    detail::set_asset_functions(s, mod_id, 1);
  });
  if (!r) return std::unexpected(lua_vm::engine_error(r.error()));
  return {};
}

// ---- Readers -------------------------------------------------------------------------------

namespace {

std::vector<Font> read_named_files(const lua_vm::LuaVm& vm, const char* name, std::size_t cap) {
  std::vector<Font> out;
  lua_vm::each_entry(vm, name, [&](lua_State* L, int e) {
    auto id = fields::get_string(L, e, "id");
    auto mod = fields::get_string(L, e, "mod_id");
    auto file = fields::get_string(L, e, "file");
    if (id && mod && file) out.push_back({std::move(*id), std::move(*mod), std::move(*file)});
    return out.size() < cap;
  });
  return out;
}

}  // namespace

std::vector<ModelFile> registered_models(const lua_vm::LuaVm& vm) {
  std::vector<ModelFile> out;
  lua_vm::each_entry(vm, "ostrel.models", [&](lua_State* L, int e) {
    auto id = fields::get_string(L, e, "id");
    auto mod = fields::get_string(L, e, "mod_id");
    auto file = fields::get_string(L, e, "file");
    if (id && mod && file) {
      out.push_back({std::move(*id), std::move(*file), fields::get_f32(L, e, "scale").value_or(1.0f),
                     fields::get_string(L, e, "texture"), std::move(*mod)});
    }
    return true;
  });
  return out;
}

std::vector<Sound> registered_sounds(const lua_vm::LuaVm& vm) {
  std::vector<Sound> out;
  lua_vm::each_entry(vm, "ostrel.sounds", [&](lua_State* L, int e) {
    auto id = fields::get_string(L, e, "id");
    auto mod = fields::get_string(L, e, "mod_id");
    auto file = fields::get_string(L, e, "file");
    if (id && mod && file) {
      out.push_back({std::move(*id), std::move(*file), fields::get_f32(L, e, "gain").value_or(1.0f),
                     fields::get_f32(L, e, "pitch_variance").value_or(0.0f), std::move(*mod)});
    }
    return true;
  });
  return out;
}

std::vector<proto::SoundBinding> registered_bindings(const lua_vm::LuaVm& vm) {
  std::vector<proto::SoundBinding> out;
  lua_vm::each_entry(vm, "ostrel.bindings", [&](lua_State* L, int e) {
    auto cue = fields::get_string(L, e, "cue");
    auto sound = fields::get_string(L, e, "sound");
    auto mod = fields::get_string(L, e, "mod_id");
    if (cue && sound && mod) out.push_back({std::move(*cue), std::move(*sound), std::move(*mod)});
    return true;
  });
  return out;
}

std::vector<Font> registered_fonts(const lua_vm::LuaVm& vm) {
  return read_named_files(vm, "ostrel.fonts", kMaxFonts);
}

std::vector<Picture> registered_pictures(const lua_vm::LuaVm& vm) {
  return read_named_files(vm, "ostrel.pictures", kMaxPictures);
}

}  // namespace ostrel_core::script::media
