// Skies and the cloud deck: `register_sky`, `register_clouds` and their readers. One value per
// world-wide slot (the sky of one domain, the deck): mods that are not reference mods come
// first, then the lowest mod id in byte order; only that first registration is read.

#include <algorithm>
#include <cmath>
#include <utility>

#include <fmt/format.h>
#include <lua.hpp>

#include "world/domain.hpp"
#include "base/num.hpp"
#include "script/api/media.hpp"
#include "script/api/fields.hpp"
#include "script/api/registration.hpp"

namespace ostrel_core::script::media {

proto::SkyFrame sky_frame(const SkyKeyframe& k) {
  return proto::SkyFrame{k.time,           k.sky,          k.sun,
                         k.intensity,      k.grade.exposure, k.grade.tint,
                         k.grade.offset,   k.grade.contrast, k.grade.saturation,
                         k.grade.gamma,    k.stars};
}

namespace {

constexpr std::string_view kSky = "register_sky";
constexpr std::string_view kGradeRange = "{ctx}: `grade.{field}` must be {lo}..={hi}, got {got}";
constexpr std::size_t kDomainBytes = 128;

std::string f(float v) { return num::format_number(v); }

bool in(float v, float lo, float hi) { return v >= lo && v <= hi; }  // NaN is outside

// ---- Validation (registration side) --------------------------------------------------------

// The field at `t` read as f32 for a required keyframe value; none when absent or unreadable.
std::optional<float> keyframe_f32(lua_State* L, int t, const char* name) {
  lua_getfield(L, t, name);
  auto v = fields::read_number(L, -1);
  lua_pop(L, 1);
  if (!v) return std::nullopt;
  return fields::to_f32(*v);
}

// Copies three raw elements of the colour table on top into a new table set as `name` of `out`.
void copy_colour(lua_State* L, int out, const char* name) {
  lua_createtable(L, 3, 0);
  for (int i = 1; i <= 3; ++i) {
    lua_geti(L, -2, i);
    lua_rawseti(L, -2, i);
  }
  lua_setfield(L, out, name);
}

constexpr fields::Field kGradeScalars[] = {
    fields::f32("exposure").within(0.0, 4.0).refusal(kGradeRange),
    fields::f32("contrast").within(0.0, 4.0).refusal(kGradeRange),
    fields::f32("saturation").within(0.0, 4.0).refusal(kGradeRange),
    fields::f32("gamma").within(0.1, 4.0).refusal(kGradeRange),
};

constexpr fields::Field kStars = fields::f32("stars").within(0.0, 1.0).refusal(
    "{ctx}: keyframe stars must be 0..=1, got {got}");

void validate_grade(lua_State* L, int g, int out) {
  if (auto k = fields::unknown_key(L, g, {"tint", "gamma", "offset", "exposure", "contrast",
                                  "saturation"}, true)) {
    convert::raise(L, fmt::format("register_sky: unknown `grade` field `{}`", *k));
  }
  const auto got = fields::read(L, g, kSky, kGradeScalars);
  for (const auto& s : kGradeScalars) {
    if (!got.given(s.name)) continue;
    lua_vm::push_text(L, s.name);
    lua_pushnumber(L, got.f32(s.name));
    lua_rawset(L, out);
  }
  struct Scalar {
    const char* name;
    float lo;
    float hi;
  };
  const auto range = [&](const char* name, float lo, float hi, float v) {
    convert::raise(L, fmt::format("register_sky: `grade.{}` must be {}..={}, got {}", name, f(lo),
                                  f(hi), f(v)));
  };
  constexpr Scalar kTriples[] = {{"tint", 0.0f, 4.0f}, {"offset", -1.0f, 1.0f}};
  for (const auto& s : kTriples) {
    if (!fields::opt_table(L, g, s.name, kSky)) continue;
    const int c = lua_gettop(L);
    if (luaL_len(L, c) != 3) {
      convert::raise(L, fmt::format("register_sky: `grade.{}` must be three numbers, {{r, g, b}}",
                                    s.name));
    }
    lua_createtable(L, 3, 0);
    for (int i = 1; i <= 3; ++i) {
      lua_geti(L, c, i);
      auto v = convert::to_number(L, -1);
      if (!v) {
        fields::field_error(L, kSky, fmt::format("grade.{}", s.name), v.error());
      }
      lua_pop(L, 1);
      const float x = fields::to_f32(*v);
      if (!in(x, s.lo, s.hi)) range(s.name, s.lo, s.hi, x);
      lua_pushnumber(L, x);
      lua_rawseti(L, -2, i);
    }
    lua_setfield(L, out, s.name);
    lua_settop(L, c - 1);
  }
}

// Checks the keyframe at `k` and pushes its copy: the values as converted, colours as given.
void validate_keyframe(lua_State* L, int k) {
  k = lua_absindex(L, k);
  lua_createtable(L, 0, 6);
  const int out = lua_gettop(L);
  const auto time = keyframe_f32(L, k, "time");
  if (!time) convert::raise(L, "register_sky: every keyframe needs a `time`");
  if (!in(*time, 0.0f, 1.0f)) {
    convert::raise(L, fmt::format("register_sky: keyframe time must be 0..=1, got {}", f(*time)));
  }
  const auto intensity = keyframe_f32(L, k, "intensity");
  if (!intensity) convert::raise(L, "register_sky: every keyframe needs an `intensity`");
  if (!in(*intensity, 0.0f, 1.0f)) {
    convert::raise(L, fmt::format("register_sky: keyframe intensity must be 0..=1, got {}",
                                  f(*intensity)));
  }
  lua_pushnumber(L, *time);
  lua_setfield(L, out, "time");
  lua_pushnumber(L, *intensity);
  lua_setfield(L, out, "intensity");
  for (const char* name : {"sky", "sun"}) {
    if (lua_getfield(L, k, name) != LUA_TTABLE) {
      convert::raise(L, fmt::format("register_sky: every keyframe needs a `{}` colour", name));
    }
    if (luaL_len(L, -1) != 3) {
      convert::raise(L, fmt::format("register_sky: `{}` must be three numbers, {{r, g, b}}", name));
    }
    copy_colour(L, out, name);
    lua_pop(L, 1);
  }
  if (fields::opt_table(L, k, "grade", kSky)) {
    lua_createtable(L, 0, 6);
    validate_grade(L, lua_gettop(L) - 1, lua_gettop(L));
    lua_setfield(L, out, "grade");
    lua_pop(L, 1);
  }
  if (const auto got = fields::read_one(L, k, kSky, kStars); got.given("stars")) {
    lua_pushnumber(L, got.f32("stars"));
    lua_setfield(L, out, "stars");
  }
}

std::optional<Vec3f> cave_fog_of(lua_State* L, int table) {
  const int type = lua_getfield(L, table, "cave_fog");
  if (type == LUA_TNIL) {
    lua_pop(L, 1);
    return std::nullopt;
  }
  if (type != LUA_TTABLE) {
    convert::raise(L, "register_sky: `cave_fog` must be three numbers, {r, g, b}");
  }
  Vec3f out{};
  const char* names[] = {"r", "g", "b"};
  for (int i = 0; i < 3; ++i) {
    lua_getfield(L, -1, names[i]);
    auto v = fields::read_number(L, -1);
    lua_pop(L, 1);
    if (!v) {
      lua_geti(L, -1, i + 1);
      v = fields::read_number(L, -1);
      lua_pop(L, 1);
    }
    const float x = v ? fields::to_f32(*v) : 0.0f;
    if (!v || !std::isfinite(x)) {
      convert::raise(L, fmt::format("register_sky: `cave_fog` must be three numbers, {{r, g, b}}; "
                                    "`{}` is missing or not a number",
                                    names[i]));
    }
    out[static_cast<std::size_t>(i)] = std::clamp(x, 0.0f, 1.0f);
  }
  lua_pop(L, 1);
  return out;
}

// Sets the checked fog as the sequence `cave_fog` of the table at `out`.
void set_cave_fog(lua_State* L, int out, const Vec3f& fog) {
  out = lua_absindex(L, out);
  lua_createtable(L, 3, 0);
  for (int i = 0; i < 3; ++i) {
    lua_pushnumber(L, fog[static_cast<std::size_t>(i)]);
    lua_rawseti(L, -2, i + 1);
  }
  lua_setfield(L, out, "cave_fog");
}

// Unicode white space at the start of `s`: its length in bytes, 0 when none.
std::size_t space_at(std::string_view s) {
  const auto c = static_cast<unsigned char>(s[0]);
  if (c == ' ' || (c >= 0x09 && c <= 0x0D)) return 1;
  constexpr std::string_view kWide[] = {"\xC2\x85", "\xC2\xA0", "\xE1\x9A\x80", "\xE2\x80\xA8",
                                        "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F",
                                        "\xE3\x80\x80"};
  for (auto w : kWide) {
    if (s.starts_with(w)) return w.size();
  }
  // U+2000..U+200A
  if (s.size() >= 3 && c == 0xE2 && static_cast<unsigned char>(s[1]) == 0x80 &&
      static_cast<unsigned char>(s[2]) >= 0x80 && static_cast<unsigned char>(s[2]) <= 0x8A) {
    return 3;
  }
  return 0;
}

bool is_domain_id(std::string_view d) {
  if (d.empty() || d.size() > kDomainBytes) return false;
  for (std::size_t i = 0; i < d.size(); ++i) {
    if (space_at(d.substr(i)) != 0) return false;
  }
  return true;
}

int register_sky(lua_State* L) {
  const auto mod_id = lua_vm::upvalue_text(L, 1);
  lua_vm::arg_table(L, kSky);
  lua_settop(L, 1);
  lua_vm::refuse_if_frozen(L, mod_id);
  if (auto k = fields::unknown_key(L, 1, {"domain", "cave_fog", "keyframes", "start_time",
                                  "day_length_ticks"}, true)) {
    convert::raise(L, fmt::format("register_sky: unknown field `{}`", *k));
  }
  lua_getfield(L, 1, "day_length_ticks");
  const auto day = convert::to_integer<std::uint32_t>(L, -1);
  lua_pop(L, 1);
  if (!day) convert::raise(L, "register_sky: missing required field `day_length_ticks`");
  if (*day == 0) {
    convert::raise(L, "register_sky: day_length_ticks must be at least 1; a day of no ticks "
                      "never advances");
  }
  if (lua_getfield(L, 1, "keyframes") != LUA_TTABLE) {
    convert::raise(L, "register_sky: missing required field `keyframes`");
  }
  const int given = lua_gettop(L);
  // The keyframes are copied: a mod changing its table later changes nothing registered.
  lua_newtable(L);
  const int frames = lua_gettop(L);
  lua_Integer count = 0;
  for (lua_Integer i = 1;; ++i) {
    const int t = lua_geti(L, given, i);
    if (t == LUA_TNIL) break;
    if (t != LUA_TTABLE) {
      fields::field_error(L, kSky, "keyframes", convert::mismatch(L, -1, "table"));
    }
    validate_keyframe(L, -1);
    lua_rawseti(L, frames, ++count);
    lua_pop(L, 1);
  }
  lua_settop(L, frames);
  if (count == 0) {
    convert::raise(L, "register_sky: `keyframes` is empty; a sky with no colours has nothing to "
                      "draw");
  }
  const auto domain = fields::opt_text(L, 1, "domain", kSky);
  if (domain && !is_domain_id(*domain)) {
    convert::raise(L, fmt::format("register_sky: `domain` must be a domain id, got {:?}",
                                  convert::valid_utf8(*domain)));
  }
  const auto start = fields::opt_f32(L, 1, "start_time", kSky);
  if (start && !std::isfinite(*start)) {
    convert::raise(L, "register_sky: start_time must be a number, 0..1");
  }
  const auto fog = cave_fog_of(L, 1);

  lua_vm::push_registry_table(L, "ostrel.skies");
  lua_createtable(L, 0, 6);
  lua_vm::push_text(L, mod_id);
  lua_setfield(L, -2, "mod_id");
  if (domain) {
    lua_vm::push_text(L, *domain);
    lua_setfield(L, -2, "domain");
  }
  lua_pushinteger(L, *day);
  lua_setfield(L, -2, "day_length_ticks");
  lua_pushvalue(L, frames);
  lua_setfield(L, -2, "keyframes");
  if (start) {
    lua_pushnumber(L, *start);
    lua_setfield(L, -2, "start_time");
  }
  if (fog) set_cave_fog(L, -1, *fog);
  lua_vm::push_text(L, fmt::format("{}|{}", mod_id, domain.value_or("")));
  lua_insert(L, -2);
  lua_rawset(L, -3);
  return 0;
}

// ---- register_clouds -----------------------------------------------------------------------

constexpr std::string_view kClouds = "register_clouds";

std::optional<float> element_f32(lua_State* L, int t, lua_Integer i) {
  if (lua_rawgeti(L, t, i) == LUA_TNIL) {
    lua_pop(L, 1);
    return std::nullopt;
  }
  auto v = convert::to_number(L, -1);
  if (!v) convert::raise(L, fmt::format("register_clouds: bad element {} ({})", i, v.error().text));
  lua_pop(L, 1);
  return fields::to_f32(*v);
}

Vec3f cloud_colour(lua_State* L, int table, const char* field, Vec3f dflt) {
  if (!fields::opt_table(L, table, field, kClouds)) return dflt;
  const int c = lua_gettop(L);
  const char* names[] = {"r", "g", "b"};
  for (int i = 0; i < 3; ++i) {
    const auto named = fields::opt_f32(L, c, names[i], kClouds);
    const auto at = element_f32(L, c, i + 1);
    if (named) {
      dflt[static_cast<std::size_t>(i)] = *named;
    } else if (at) {
      dflt[static_cast<std::size_t>(i)] = *at;
    }
  }
  lua_pop(L, 1);
  return dflt;
}

int register_clouds(lua_State* L) {
  const auto mod_id = lua_vm::upvalue_text(L, 1);
  lua_vm::arg_table(L, kClouds);
  lua_settop(L, 1);
  lua_vm::refuse_if_frozen(L, mod_id);
  if (auto k = fields::unknown_key(L, 1, {"base", "cell", "drift", "shade", "detail", "towers", "evolve",
                                  "colour", "octaves", "thickness", "frequency"}, true)) {
    convert::raise(L, fmt::format("register_clouds: unknown field `{}`", *k));
  }
  atmosphere::CloudLayer c;
  c.octaves = 3;
  c.shade = {0.42f, 0.44f, 0.58f};
  if (fields::opt_table(L, 1, "drift", kClouds)) {
    const int d = lua_gettop(L);
    const auto x = fields::opt_f32(L, d, "x", kClouds);
    const auto x1 = element_f32(L, d, 1);
    const auto z = fields::opt_f32(L, d, "z", kClouds);
    const auto z2 = element_f32(L, d, 2);
    c.drift = {x ? *x : x1.value_or(0.0f), z ? *z : z2.value_or(0.0f)};
    lua_pop(L, 1);
  }
  const auto byte = [&](const char* name) -> std::optional<std::uint8_t> {
    lua_getfield(L, 1, name);
    if (lua_isnil(L, -1)) {
      lua_pop(L, 1);
      return std::nullopt;
    }
    auto v = convert::to_integer<std::uint8_t>(L, -1);
    if (!v) {
      fields::field_error(L, kClouds, name, v.error());
    }
    lua_pop(L, 1);
    return *v;
  };
  if (auto v = fields::opt_f32(L, 1, "base", kClouds)) c.base = *v;
  if (auto v = fields::opt_f32(L, 1, "thickness", kClouds)) c.thickness = *v;
  if (auto v = fields::opt_f32(L, 1, "cell", kClouds)) c.cell = *v;
  if (auto v = byte("detail")) c.detail = *v;
  if (auto v = fields::opt_f32(L, 1, "frequency", kClouds)) c.frequency = *v;
  if (auto v = byte("octaves")) c.octaves = *v;
  if (auto v = fields::opt_f32(L, 1, "towers", kClouds)) c.towers = *v;
  if (auto v = fields::opt_f32(L, 1, "evolve", kClouds)) c.evolve = *v;
  c.colour = cloud_colour(L, 1, "colour", c.colour);
  c.shade = cloud_colour(L, 1, "shade", c.shade);
  c = atmosphere::sanitise_clouds(c);

  lua_vm::push_registry_table(L, "ostrel.clouds");
  lua_createtable(L, 0, 16);
  const auto num = [&](const char* key, double v) {
    lua_pushnumber(L, v);
    lua_setfield(L, -2, key);
  };
  num("base", c.base);
  num("thickness", c.thickness);
  num("cell", c.cell);
  lua_pushinteger(L, c.detail);
  lua_setfield(L, -2, "detail");
  num("frequency", c.frequency);
  lua_pushinteger(L, c.octaves);
  lua_setfield(L, -2, "octaves");
  num("towers", c.towers);
  num("drift_x", c.drift[0]);
  num("drift_z", c.drift[1]);
  num("evolve", c.evolve);
  for (std::size_t i = 0; i < 3; ++i) num(fmt::format("colour{}", i).c_str(), c.colour[i]);
  for (std::size_t i = 0; i < 3; ++i) num(fmt::format("shade{}", i).c_str(), c.shade[i]);
  lua_vm::push_text(L, mod_id);
  lua_insert(L, -2);
  lua_rawset(L, -3);
  return 0;
}

// ---- Reading back --------------------------------------------------------------------------

// Elements 1..3 of the table field `name` of `t`, when all three read.
std::optional<Vec3f> raw_triple(lua_State* L, int t, const char* name) {
  lua_pushstring(L, name);
  std::optional<Vec3f> out;
  if (lua_rawget(L, t) == LUA_TTABLE) {
    Vec3f v{};
    bool ok = true;
    for (int i = 0; i < 3 && ok; ++i) {
      lua_rawgeti(L, -1, i + 1);
      auto x = fields::read_number(L, -1);
      lua_pop(L, 1);
      ok = x.has_value();
      if (ok) v[static_cast<std::size_t>(i)] = fields::to_f32(*x);
    }
    if (ok) out = v;
  }
  lua_pop(L, 1);
  return out;
}

std::optional<SkyKeyframe> read_keyframe(lua_State* L, int k) {
  SkyKeyframe out;
  const auto time = fields::get_f32(L, k, "time");
  const auto intensity = fields::get_f32(L, k, "intensity");
  const auto sky = raw_triple(L, k, "sky");
  const auto sun = raw_triple(L, k, "sun");
  if (!time || !intensity || !sky || !sun) return std::nullopt;
  out.time = *time;
  out.intensity = *intensity;
  out.sky = *sky;
  out.sun = *sun;
  lua_pushliteral(L, "grade");
  if (lua_rawget(L, k) == LUA_TTABLE) {
    const int g = lua_gettop(L);
    SkyGrade& gr = out.grade;
    gr.exposure = fields::get_f32(L, g, "exposure").value_or(1.0f);
    gr.contrast = fields::get_f32(L, g, "contrast").value_or(1.0f);
    gr.saturation = fields::get_f32(L, g, "saturation").value_or(1.0f);
    gr.gamma = fields::get_f32(L, g, "gamma").value_or(1.0f);
    gr.tint = raw_triple(L, g, "tint").value_or(Vec3f{1.0f, 1.0f, 1.0f});
    gr.offset = raw_triple(L, g, "offset").value_or(Vec3f{0.0f, 0.0f, 0.0f});
  }
  lua_pop(L, 1);
  const float stars = fields::get_f32(L, k, "stars").value_or(0.0f);
  out.stars = std::isnan(stars) ? 0.0f : std::clamp(stars, 0.0f, 1.0f);
  return out;
}

// IEEE total order on the key, so -0 sorts before +0.
bool time_before(float a, float b) {
  if (std::isnan(a) || std::isnan(b)) return !std::isnan(a) && std::isnan(b);
  if (a == b) return std::signbit(a) && !std::signbit(b);
  return a < b;
}

std::optional<Sky> sky_from_entry(lua_State* L, int e, std::string_view mod_id,
                                  const std::optional<std::string>& domain) {
  Sky sky;
  lua_pushliteral(L, "keyframes");
  if (lua_rawget(L, e) != LUA_TTABLE) {
    lua_pop(L, 1);
    return std::nullopt;
  }
  for (lua_Integer i = 1;; ++i) {
    const int t = lua_rawgeti(L, -1, i);
    if (t == LUA_TNIL) {
      lua_pop(L, 1);
      break;
    }
    if (t == LUA_TTABLE) {
      if (auto k = read_keyframe(L, lua_gettop(L))) sky.keyframes.push_back(*k);
    }
    lua_pop(L, 1);
  }
  lua_pop(L, 1);
  if (sky.keyframes.empty()) return std::nullopt;
  std::stable_sort(sky.keyframes.begin(), sky.keyframes.end(),
                   [](const auto& a, const auto& b) { return time_before(a.time, b.time); });
  lua_pushliteral(L, "day_length_ticks");
  lua_rawget(L, e);
  auto day = convert::to_integer<std::uint32_t>(L, -1);
  lua_pop(L, 1);
  if (!day) return std::nullopt;
  sky.day_length_ticks = *day;
  const float start = fields::get_f32(L, e, "start_time").value_or(0.35f);
  float r = start - std::trunc(start);
  if (r < 0.0f) r += 1.0f;
  sky.start_time = r;
  if (auto fog = raw_triple(L, e, "cave_fog")) sky.cave_fog = *fog;
  sky.mod_id = std::string(mod_id);
  sky.domain = domain;
  return sky;
}

// Orders candidates: mods that are not reference mods first, then by mod id.
template <class T>
void sort_candidates(const lua_vm::LuaVm& vm, std::vector<std::pair<std::string, T>>& c) {
  std::stable_sort(c.begin(), c.end(), [&](const auto& a, const auto& b) {
    const bool ra = vm.is_reference_mod(a.first);
    const bool rb = vm.is_reference_mod(b.first);
    if (ra != rb) return rb;
    return a.first < b.first;
  });
}

}  // namespace

void detail::set_sky_functions(lua_State* L, std::string_view mod_id, int game) {
  lua_vm::set_function(L, game, "register_sky", register_sky, mod_id);
  lua_vm::set_function(L, game, "register_clouds", register_clouds, mod_id);
}

std::optional<Sky> sky_for(const lua_vm::LuaVm& vm, const std::optional<std::string>& domain) {
  std::optional<Sky> out;
  lua_vm::read_registry_table(vm, "ostrel.skies", [&](lua_State* L, int skies) {
    std::vector<std::pair<std::string, lua_Integer>> candidates;  // mod id, index in `refs`
    lua_newtable(L);
    const int refs = lua_gettop(L);
    lua_pushnil(L);
    while (lua_next(L, skies) != 0) {
      if (lua_type(L, -2) == LUA_TSTRING && lua_type(L, -1) == LUA_TTABLE) {
        const int e = lua_gettop(L);
        auto mod = fields::get_string(L, e, "mod_id");
        if (mod && fields::get_string(L, e, "domain") == domain) {
          const auto n = static_cast<lua_Integer>(candidates.size()) + 1;
          lua_pushvalue(L, e);
          lua_rawseti(L, refs, n);
          candidates.emplace_back(std::move(*mod), n);
        }
      }
      lua_pop(L, 1);
    }
    if (candidates.empty()) return;
    sort_candidates(vm, candidates);
    lua_rawgeti(L, refs, candidates.front().second);
    out = sky_from_entry(L, lua_gettop(L), candidates.front().first, domain);
  });
  return out;
}

std::expected<domain::DomainSky, std::string> domain_sky_of(lua_State* L, int table,
                                                           std::string_view what) {
  domain::DomainSky out;
  lua_pushvalue(L, table);
  auto r = lua_vm::protect(L, 1, [&](lua_State* s) {
    lua_pushnil(s);
    while (lua_next(s, 1) != 0) {
      lua_pop(s, 1);
      if (lua_type(s, -1) != LUA_TSTRING) continue;
      const std::string key = convert::valid_utf8(*fields::read_text(s, -1));
      if (key == "domain") {
        convert::raise(s, fmt::format("{}: a sky table here has no `domain`; the domain is the "
                                      "call's own argument",
                                      what));
      }
      if (key != "keyframes" && key != "start_time" && key != "day_length_ticks" &&
          key != "cave_fog") {
        convert::raise(s, fmt::format("{}: unknown field `{}`", what, key));
      }
    }
    if (lua_getfield(s, 1, "keyframes") != LUA_TTABLE) {
      convert::raise(s, fmt::format("{}: missing required field `keyframes`", what));
    }
    const int given = lua_gettop(s);
    lua_createtable(s, 0, 3);  // the temporary entry
    const int entry = lua_gettop(s);
    lua_newtable(s);
    lua_Integer count = 0;
    for (lua_Integer i = 1;; ++i) {
      const int t = lua_geti(s, given, i);
      if (t == LUA_TNIL) break;
      if (t != LUA_TTABLE) {
        convert::raise(s, fmt::format("{}: `keyframes` is a list of keyframe tables", what));
      }
      validate_keyframe(s, -1);
      lua_rawseti(s, entry + 1, ++count);
      lua_pop(s, 1);
    }
    lua_settop(s, entry + 1);
    if (count == 0) {
      convert::raise(s, fmt::format("{}: `keyframes` is empty; a sky with no colours has nothing "
                                    "to draw",
                                    what));
    }
    lua_setfield(s, entry, "keyframes");
    lua_pushinteger(s, 1);
    lua_setfield(s, entry, "day_length_ticks");
    if (auto fog = cave_fog_of(s, 1)) set_cave_fog(s, entry, *fog);
    auto sky = sky_from_entry(s, entry, "", std::nullopt);
    if (!sky) convert::raise(s, fmt::format("{}: the sky could not be read", what));
    for (const auto& k : sky->keyframes) out.keyframes.push_back(sky_frame(k));
    out.cave_fog = sky->cave_fog;
  });
  if (!r) {
    // The shared keyframe checks speak as register_sky; the caller is named instead.
    std::string text = std::move(r.error());
    for (auto at = text.find(kSky); at != std::string::npos; at = text.find(kSky, at + what.size())) {
      text.replace(at, kSky.size(), what);
    }
    return std::unexpected(std::move(text));
  }
  return out;
}

std::vector<Sky> registered_skies(const lua_vm::LuaVm& vm) {
  std::vector<std::optional<std::string>> domains;
  lua_vm::read_registry_table(vm, "ostrel.skies", [&](lua_State* L, int skies) {
    lua_pushnil(L);
    while (lua_next(L, skies) != 0) {
      if (lua_type(L, -2) == LUA_TSTRING && lua_type(L, -1) == LUA_TTABLE) {
        domains.push_back(fields::get_string(L, lua_gettop(L), "domain"));  // unreadable: absent
      }
      lua_pop(L, 1);
    }
  });
  std::sort(domains.begin(), domains.end());  // absent first, then byte order
  domains.erase(std::unique(domains.begin(), domains.end()), domains.end());
  std::vector<Sky> out;
  for (const auto& d : domains) {
    if (auto s = sky_for(vm, d)) out.push_back(std::move(*s));
  }
  return out;
}

std::optional<atmosphere::CloudLayer> registered_clouds(const lua_vm::LuaVm& vm) {
  std::optional<atmosphere::CloudLayer> out;
  lua_vm::read_registry_table(vm, "ostrel.clouds", [&](lua_State* L, int clouds) {
    std::vector<std::pair<std::string, int>> candidates;
    lua_pushnil(L);
    while (lua_next(L, clouds) != 0) {
      if (lua_type(L, -2) == LUA_TSTRING && lua_type(L, -1) == LUA_TTABLE) {
        candidates.emplace_back(*fields::read_text(L, -2), 0);
      }
      lua_pop(L, 1);
    }
    if (candidates.empty()) return;
    sort_candidates(vm, candidates);
    lua_vm::push_text(L, candidates.front().first);
    lua_rawget(L, clouds);
    const int e = lua_gettop(L);
    atmosphere::CloudLayer c;
    const char* floats[] = {"base",   "thickness", "cell",    "frequency", "towers",
                            "drift_x", "drift_z",  "evolve",  "colour0",   "colour1",
                            "colour2", "shade0",   "shade1",  "shade2"};
    float* into[] = {&c.base,      &c.thickness, &c.cell,     &c.frequency, &c.towers,
                     &c.drift[0],  &c.drift[1],  &c.evolve,   &c.colour[0], &c.colour[1],
                     &c.colour[2], &c.shade[0],  &c.shade[1], &c.shade[2]};
    for (std::size_t i = 0; i < std::size(floats); ++i) {
      auto v = fields::get_f32(L, e, floats[i]);
      if (!v) return;
      *into[i] = *v;
    }
    for (auto [name, field] : {std::pair{"detail", &c.detail}, std::pair{"octaves", &c.octaves}}) {
      lua_pushstring(L, name);
      lua_rawget(L, e);
      auto v = convert::to_integer<std::uint8_t>(L, -1);
      lua_pop(L, 1);
      if (!v) return;
      *field = *v;
    }
    out = c;
  });
  return out;
}

}  // namespace ostrel_core::script::media
