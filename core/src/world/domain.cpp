#include "world/domain.hpp"

#include <fmt/format.h>

#include <charconv>

#include "proto/codec.hpp"

namespace ostrel_core::domain {
namespace {

bool is_ascii_alnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

DomainError error(DomainErrorKind kind, std::string_view id, std::string reason = {},
                  std::uint64_t count = 0) {
  return DomainError{kind, std::string(id), std::move(reason), count};
}

std::expected<void, DomainError> check_registered_id(std::string_view id) {
  auto bad = [&](const char* reason) { return std::unexpected(error(DomainErrorKind::BadId, id, reason)); };
  if (id.empty()) return bad("a domain needs a name");
  if (id.size() > kMaxIdBytes) return bad("longer than a domain id may be");
  if (id.find('/') != std::string_view::npos)
    return bad("a registered id may not contain `/`, which marks an instance");
  for (char c : id) {
    if (!is_ascii_alnum(c) && c != '_' && c != ':')
      return bad("a domain id is ASCII letters, digits, `_` and `:`");
  }
  return {};
}

std::expected<void, DomainError> check_key(std::string_view key) {
  auto bad = [&](const char* reason) { return std::unexpected(error(DomainErrorKind::BadId, key, reason)); };
  if (key.empty()) return bad("an instance needs a key");
  if (key.size() > kMaxKeyBytes) return bad("longer than an instance key may be");
  for (char c : key) {
    if (!is_ascii_alnum(c) && c != '_') return bad("an instance key is ASCII letters, digits and `_`");
  }
  return {};
}

// Lines end at "\n"; a "\r" before it is dropped. No empty last line after a final "\n".
template <class F>
void for_each_line(std::string_view text, F&& f) {
  while (!text.empty()) {
    const auto nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    f(line);
    if (nl == std::string_view::npos) break;
    text.remove_prefix(nl + 1);
  }
}

// An optional sign and at least one digit, nothing else, within range.
std::optional<std::int64_t> parse_i64(std::string_view s) {
  const bool plus = !s.empty() && s.front() == '+';
  if (plus) s.remove_prefix(1);
  if (s.empty() || s.front() == '+' || (plus && s.front() == '-')) return std::nullopt;
  if (s.front() == '-' && s.size() == 1) return std::nullopt;
  std::int64_t v = 0;
  auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc{} || ptr != s.data() + s.size()) return std::nullopt;
  return v;
}

}  // namespace

std::string DomainError::message() const {
  switch (kind) {
    case DomainErrorKind::Duplicate:
      return fmt::format(
          "domain `{}` is already registered; a second registration would silently replace the first", id);
    case DomainErrorKind::Frozen:
      return fmt::format("domain `{}` was registered after the registries froze (charter rule 9)", id);
    case DomainErrorKind::BadId:
      return fmt::format("`{}` is not a usable domain id: {}", id, reason);
    case DomainErrorKind::NotInstanced:
      return fmt::format("`{}` is not an instanced template, so it has no instances to create", id);
    case DomainErrorKind::IsTemplate:
      return fmt::format("`{}` is a template rather than a domain; create an instance of it instead", id);
    case DomainErrorKind::NoSuchDomain:
      return fmt::format("there is no domain `{}`", id);
    case DomainErrorKind::Occupied:
      return fmt::format(
          "domain `{}` still holds {} thing(s); taking a room out from under somebody is the same defect as "
          "breaking a container they have open",
          id, count);
    case DomainErrorKind::NotCreated:
      return fmt::format("`{}` was registered rather than created, so it cannot be destroyed", id);
  }
  return {};
}

Registry::Registry() { specs_.emplace(std::string(kOverworld), Spec{}); }

std::expected<void, DomainError> Registry::register_domain(std::string_view id, Spec spec) {
  if (frozen_) return std::unexpected(error(DomainErrorKind::Frozen, id));
  if (auto ok = check_registered_id(id); !ok) return ok;
  if (specs_.contains(id)) return std::unexpected(error(DomainErrorKind::Duplicate, id));
  specs_.emplace(std::string(id), spec);
  if (auto it = orphans_.find(id); it != orphans_.end()) orphans_.erase(it);
  return {};
}

std::expected<std::string, DomainError> Registry::create_at(std::string_view template_id,
                                                            std::string_view key,
                                                            std::optional<UniversalPos> position) {
  auto spec = specs_.find(template_id);
  if (spec == specs_.end()) return std::unexpected(error(DomainErrorKind::NoSuchDomain, template_id));
  if (!spec->second.instanced) return std::unexpected(error(DomainErrorKind::NotInstanced, template_id));
  if (auto ok = check_key(key); !ok) return std::unexpected(ok.error());
  std::string id = fmt::format("{}/{}", template_id, key);
  if (!instances_.contains(id)) {
    instances_.emplace(id, std::string(template_id));
    if (position) positions_.insert_or_assign(id, *position);
  }
  if (auto it = orphans_.find(id); it != orphans_.end()) orphans_.erase(it);
  return id;
}

std::expected<void, DomainError> Registry::check_destroy(std::string_view id, std::uint64_t occupants) const {
  if (instances_.contains(id)) {
    if (occupants > 0) return std::unexpected(error(DomainErrorKind::Occupied, id, {}, occupants));
    return {};
  }
  if (specs_.contains(id)) return std::unexpected(error(DomainErrorKind::NotCreated, id));
  return std::unexpected(error(DomainErrorKind::NoSuchDomain, id));
}

std::expected<void, DomainError> Registry::destroy(std::string_view id, std::uint64_t occupants) {
  if (auto ok = check_destroy(id, occupants); !ok) return ok;
  instances_.erase(instances_.find(id));
  if (auto it = positions_.find(id); it != positions_.end()) positions_.erase(it);
  if (auto it = skies_.find(id); it != skies_.end()) {
    skies_.erase(it);
    ++sky_revision_;
  }
  return {};
}

void Registry::restore(const std::vector<std::pair<std::string, std::string>>& instances) {
  for (const auto& [id, tmpl] : instances) {
    auto spec = specs_.find(tmpl);
    if (spec != specs_.end() && spec->second.instanced) {
      instances_.insert_or_assign(id, tmpl);
    } else {
      orphans_.insert(id);
    }
  }
}

void Registry::restore_positions(const std::vector<std::pair<std::string, UniversalPos>>& positions) {
  for (const auto& [id, pos] : positions) {
    if (instances_.contains(id)) positions_.insert_or_assign(id, pos);
  }
}

void Registry::restore_skies(const std::vector<std::pair<std::string, DomainSky>>& skies) {
  for (const auto& [id, sky] : skies) {
    auto spec = specs_.find(id);
    const bool domain = spec != specs_.end() && !spec->second.instanced;
    if (instances_.contains(id) || domain) skies_.insert_or_assign(id, sky);
  }
  ++sky_revision_;
}

std::vector<std::pair<std::string, std::string>> Registry::instances() const {
  return {instances_.begin(), instances_.end()};
}

std::vector<std::pair<std::string, UniversalPos>> Registry::instance_positions() const {
  return {positions_.begin(), positions_.end()};
}

std::vector<std::pair<std::string, DomainSky>> Registry::sky_overrides() const {
  return {skies_.begin(), skies_.end()};
}

const DomainSky* Registry::sky_of(std::string_view id) const {
  auto it = skies_.find(id);
  return it == skies_.end() ? nullptr : &it->second;
}

bool Registry::set_sky(std::string_view id, std::optional<DomainSky> sky) {
  if (!is_live(id)) return false;
  auto it = skies_.find(id);
  if (!sky) {
    if (it != skies_.end()) {
      skies_.erase(it);
      ++sky_revision_;
    }
    return true;
  }
  if (it == skies_.end()) {
    skies_.emplace(std::string(id), std::move(*sky));
    ++sky_revision_;
  } else if (it->second != *sky) {  // float by float: a NaN anywhere counts as a change
    it->second = std::move(*sky);
    ++sky_revision_;
  }
  return true;
}

std::vector<std::string> Registry::live() const {
  std::set<std::string, std::less<>> all(orphans_.begin(), orphans_.end());
  for (const auto& [id, spec] : specs_) {
    if (!spec.instanced) all.insert(id);
  }
  for (const auto& [id, tmpl] : instances_) all.insert(id);
  return {all.begin(), all.end()};
}

bool Registry::is_live(std::string_view id) const {
  if (instances_.contains(id) || orphans_.contains(id)) return true;
  auto spec = specs_.find(id);
  return spec != specs_.end() && !spec->second.instanced;
}

std::optional<Spec> Registry::spec(std::string_view id) const {
  if (auto inst = instances_.find(id); inst != instances_.end()) {
    auto spec = specs_.find(inst->second);
    if (spec == specs_.end()) return std::nullopt;
    return spec->second;
  }
  auto spec = specs_.find(id);
  if (spec == specs_.end() || spec->second.instanced) return std::nullopt;
  return spec->second;
}

std::optional<UniversalPos> Registry::position_of(std::string_view id) const {
  if (auto it = positions_.find(id); it != positions_.end()) return it->second;
  if (auto inst = instances_.find(id); inst != instances_.end()) {
    auto spec = specs_.find(inst->second);
    if (spec != specs_.end() && spec->second.position) return spec->second.position;
  }
  if (auto spec = specs_.find(id); spec != specs_.end()) return spec->second.position;
  return std::nullopt;
}

std::string format_instances(const std::vector<std::pair<std::string, std::string>>& instances) {
  std::string out;
  for (const auto& [id, tmpl] : instances) {
    if (!out.empty()) out += '\n';
    out += fmt::format("{}\t{}", id, tmpl);
  }
  return out;
}

std::vector<std::pair<std::string, std::string>> parse_instances(std::string_view text) {
  std::vector<std::pair<std::string, std::string>> out;
  for_each_line(text, [&](std::string_view line) {
    const auto tab = line.find('\t');
    if (tab == std::string_view::npos || tab == 0 || tab + 1 == line.size()) return;
    out.emplace_back(std::string(line.substr(0, tab)), std::string(line.substr(tab + 1)));
  });
  return out;
}

std::string format_positions(const std::vector<std::pair<std::string, UniversalPos>>& positions) {
  std::string out;
  for (const auto& [id, p] : positions) {
    if (!out.empty()) out += '\n';
    out += fmt::format("{}\t{}\t{}\t{}", id, p.x, p.y, p.z);
  }
  return out;
}

std::vector<std::pair<std::string, UniversalPos>> parse_positions(std::string_view text) {
  std::vector<std::pair<std::string, UniversalPos>> out;
  for_each_line(text, [&](std::string_view line) {
    std::vector<std::string_view> fields;
    while (true) {
      const auto tab = line.find('\t');
      fields.push_back(line.substr(0, tab));
      if (tab == std::string_view::npos) break;
      line.remove_prefix(tab + 1);
    }
    if (fields.size() < 4 || fields[0].empty()) return;
    auto x = parse_i64(fields[1]);
    auto y = parse_i64(fields[2]);
    auto z = parse_i64(fields[3]);
    if (!x || !y || !z) return;
    out.emplace_back(std::string(fields[0]), UniversalPos{*x, *y, *z});
  });
  return out;
}

std::vector<std::uint8_t> encode_skies(const std::vector<std::pair<std::string, DomainSky>>& skies) {
  return proto::encode(skies);
}

std::vector<std::pair<std::string, DomainSky>> decode_skies(std::span<const std::uint8_t> bytes) {
  auto got = proto::decode_exact<std::vector<std::pair<std::string, DomainSky>>>(bytes);
  if (!got) return {};
  return std::move(*got);
}

}  // namespace ostrel_core::domain
