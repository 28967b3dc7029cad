// The checks a parsed manifest must pass, and the small parsers they share.
#include <fmt/format.h>

#include <set>

#include "base/text.hpp"
#include "modload/content.hpp"
#include "modload/manifest.hpp"
#include "modload/files.hpp"

namespace ostrel_core::modload::manifest {

namespace fs = std::filesystem;

namespace {

using text::code_point_at;
using text::is_blank;
using text::is_space;
using text::trim;

constexpr const char* kIdRule =
    "ids must be lowercase, start with a letter, and contain only letters, digits and underscores";

// Checks a to e of one world option or setting; the reason of the first failure.
template <class Entry>
std::optional<std::string> entry_problem(const Entry& e, const std::set<std::string>& earlier) {
  if (!is_valid_id(e.id)) return kIdRule;
  if (is_blank(e.name)) return "it needs a `name` for the screen to show";
  for (const auto& o : e.options)
    if (is_blank(o)) return "an option's text cannot be empty";
  if (!e.options.empty() && (e.default_value < 1 || e.default_value > e.options.size())) {
    return "`default` is a one-based index into `options`, so it must be at least 1 and at most "
           "their count";
  }
  if (e.options.empty() && e.default_value > 1) return "a toggle's `default` is 0 or 1";
  if (earlier.contains(e.id)) return "declared twice";
  return std::nullopt;
}

template <class Entry, class MakeError>
std::expected<void, ManifestError> check_entries(const std::vector<Entry>& entries,
                                                 MakeError make_error) {
  std::set<std::string> seen;
  for (const auto& e : entries) {
    if (auto reason = entry_problem(e, seen)) return std::unexpected(make_error(e.id, *reason));
    seen.insert(e.id);
  }
  return {};
}

// Text only: a leading "/" or "\", a drive prefix, or a ".." component between separators.
bool escapes(std::string_view p) {
  if (!p.empty() && (p[0] == '/' || p[0] == '\\')) return true;
  if (p.size() >= 2 && p[1] == ':' &&
      ((p[0] >= 'a' && p[0] <= 'z') || (p[0] >= 'A' && p[0] <= 'Z')))
    return true;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= p.size(); ++i) {
    if (i == p.size() || p[i] == '/' || p[i] == '\\') {
      if (p.substr(start, i - start) == "..") return true;
      start = i + 1;
    }
  }
  return false;
}

}  // namespace

bool is_valid_id(std::string_view id) {
  if (id.empty() || id[0] < 'a' || id[0] > 'z') return false;
  for (char c : id) {
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) return false;
  }
  return true;
}

std::optional<Requirement> parse_requirement(std::string_view text) {
  text = trim(text);
  std::size_t i = 0;
  while (i < text.size()) {
    auto [cp, len] = code_point_at(text, i);
    if (is_space(cp)) break;
    i += len;
  }
  std::string_view id = text.substr(0, i);
  std::string_view rest = i < text.size() ? trim(text.substr(i)) : std::string_view("*");
  if (!is_valid_id(id)) return std::nullopt;
  auto req = semver::VersionReq::parse(rest);
  if (!req) return std::nullopt;
  return Requirement{std::string(id), std::move(*req)};
}

std::optional<std::array<std::uint8_t, 4>> parse_colour(std::string_view text) {
  if ((text.size() != 7 && text.size() != 9) || text[0] != '#') return std::nullopt;
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::array<std::uint8_t, 4> out{0, 0, 0, 255};
  for (std::size_t k = 0; 1 + 2 * k < text.size(); ++k) {
    int hi = digit(text[1 + 2 * k]);
    int lo = digit(text[2 + 2 * k]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out[k] = static_cast<std::uint8_t>(hi * 16 + lo);
  }
  return out;
}

std::expected<void, ManifestError> Theme::validate(std::string_view mod_id) const {
  auto fail = [&](std::string reason) {
    return std::unexpected(ManifestError::bad_theme(std::string(mod_id), std::move(reason)));
  };
  const std::pair<const char*, const std::optional<std::string>*> files[] = {
      {"font", &font}, {"text_font", &text_font}, {"sheet", &sheet}, {"button", &button}};
  for (const auto& [key, value] : files) {
    if (!*value) continue;
    const std::string& v = **value;
    if (!content::is_distributable(fs::path(v)))
      return fail(fmt::format("`{} = \"{}\"` is not a kind of file clients are sent", key, v));
    if (escapes(v))
      return fail(fmt::format("`{} = \"{}\"` must be inside the mod's own directory", key, v));
  }
  const std::pair<const char*, const std::optional<std::string>*> cols[] = {
      {"text", &colours.text},
      {"heading", &colours.heading},
      {"background", &colours.background},
      {"button", &colours.button},
      {"accent", &colours.accent}};
  for (const auto& [key, value] : cols) {
    if (*value && !parse_colour(**value)) {
      return fail(
          fmt::format("`colours.{} = \"{}\"` is not `#rrggbb` or `#rrggbbaa`", key, **value));
    }
  }
  return {};
}

std::expected<void, ManifestError> ModManifest::validate(const fs::path& mod_dir) const {
  if (!is_valid_id(id)) return std::unexpected(ManifestError::bad_id(mod_dir, id));
  if (!semver::Version::parse(version)) return std::unexpected(ManifestError::bad_version(id, version));
  for (const auto* list : {&depends, &optional_depends}) {
    for (const auto& r : *list)
      if (!parse_requirement(r)) return std::unexpected(ManifestError::bad_requirement(id, r));
  }
  for (const auto& p : provides)
    if (!is_valid_id(p)) return std::unexpected(ManifestError::bad_id(mod_dir, p));
  for (const auto& c : conflicts) {
    if (!is_valid_id(c)) return std::unexpected(ManifestError::bad_id(mod_dir, c));
    if (c == id) return std::unexpected(ManifestError::conflicts_with_itself(id));
  }
  auto world = check_entries(world_option, [&](const std::string& option, std::string reason) {
    return ManifestError::bad_world_option(id, option, std::move(reason));
  });
  if (!world) return world;
  auto settings = check_entries(setting, [&](const std::string& s, std::string reason) {
    return ManifestError::bad_setting(id, s, std::move(reason));
  });
  if (!settings) return settings;
  if (theme) {
    if (auto ok = theme->validate(id); !ok) return ok;
  }
  // A link counts when it leads to a regular file inside the mod's own directory.
  if (!files::is_regular_file_within(mod_dir, "init.lua"))
    return std::unexpected(ManifestError::missing_entry(id, mod_dir));
  return {};
}

}  // namespace ostrel_core::modload::manifest
