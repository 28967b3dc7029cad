#pragma once
// The domain registry: which domains exist ("overworld" from the start, the domains and
// instanced templates mods register while they load, and the instances made from templates while
// the world runs, each named "{template}/{key}"), each instance's place in the universe and each
// domain's run-time sky. Ids are byte strings compared bytewise; every listing is ascending.
//
// Building: Registry() -> register(...) -> restore*(...) -> freeze(); after that register
// refuses, while instances are still created and destroyed.
//
// An instance id moves between absent, instance and orphan:
//   absent   -> instance  [create_at, restore with a known template]
//   absent   -> orphan    [restore with a template nobody registers this run]
//   orphan   -> instance  [create_at, or register of its template then create_at]
//   instance -> absent    [destroy with no occupants]

#include <array>
#include <cstdint>
#include <expected>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "base/error.hpp"
#include "proto/records/sky.hpp"

namespace ostrel_core::domain {

inline constexpr std::string_view kOverworld = "overworld";
inline constexpr std::size_t kMaxIdBytes = 64;
inline constexpr std::size_t kMaxKeyBytes = 64;

// A block position in the universe frame.
struct UniversalPos {
  std::int64_t x = 0;
  std::int64_t y = 0;
  std::int64_t z = 0;
  friend bool operator==(const UniversalPos&, const UniversalPos&) = default;
};

enum class Kind : std::uint8_t {
  Voxel = 0,   // chunks, entities, fluids, light
  Sparse = 1,  // entities only; the world refuses its chunks
};

struct Spec {
  std::optional<UniversalPos> position;  // where the domain, or each instance of a template, sits
  double scale = 1.0;
  Kind kind = Kind::Voxel;
  bool instanced = false;  // a template for instances rather than a domain of its own
  friend bool operator==(const Spec&, const Spec&) = default;
};

// A sky set for one domain at run time.
struct DomainSky {
  std::vector<proto::SkyFrame> keyframes;
  std::array<float, 3> cave_fog{};  // colour
  static constexpr auto fields() { return std::tuple{&DomainSky::keyframes, &DomainSky::cave_fog}; }
  friend bool operator==(const DomainSky&, const DomainSky&) = default;
};

enum class DomainErrorKind : std::uint8_t {
  Duplicate,     // register of an id already registered, "overworld" included
  Frozen,        // register after the freeze
  BadId,         // a malformed registered id or instance key; `reason` says how
  NotInstanced,  // create_at of a registered domain that is not a template
  IsTemplate,    // a template named where a domain was needed
  NoSuchDomain,  // an id that names nothing (or an orphan, for destroy)
  Occupied,      // destroy of an instance that still holds things
  NotCreated,    // destroy of a registered domain
};

struct DomainError {
  DomainErrorKind kind = DomainErrorKind::NoSuchDomain;
  std::string id;           // the id, template id or (BadId of a key) the key
  std::string reason;       // BadId
  std::uint64_t count = 0;  // Occupied

  std::string message() const;
  const ErrorSource* source() const { return nullptr; }
  friend bool operator==(const DomainError&, const DomainError&) = default;
};

class Registry {
 public:
  // Holds "overworld" only (no position, scale 1, voxel), not frozen.
  Registry();

  std::expected<void, DomainError> register_domain(std::string_view id, Spec spec);
  // Answers "{template}/{key}". An existing instance keeps its first position.
  std::expected<std::string, DomainError> create_at(std::string_view template_id, std::string_view key,
                                                    std::optional<UniversalPos> position);
  // `occupants`: entities and players the caller counted in the domain.
  std::expected<void, DomainError> destroy(std::string_view id, std::uint64_t occupants);
  // The refusal destroy would give, changing nothing.
  std::expected<void, DomainError> check_destroy(std::string_view id, std::uint64_t occupants) const;

  void restore(const std::vector<std::pair<std::string, std::string>>& instances);
  void restore_positions(const std::vector<std::pair<std::string, UniversalPos>>& positions);
  void restore_skies(const std::vector<std::pair<std::string, DomainSky>>& skies);
  void freeze() { frozen_ = true; }
  bool frozen() const { return frozen_; }

  std::vector<std::pair<std::string, std::string>> instances() const;
  std::vector<std::pair<std::string, UniversalPos>> instance_positions() const;
  std::vector<std::pair<std::string, DomainSky>> sky_overrides() const;
  const DomainSky* sky_of(std::string_view id) const;
  std::uint64_t sky_revision() const { return sky_revision_; }

  // Sets or clears a sky override; false (changing nothing) when the id is not live.
  bool set_sky(std::string_view id, std::optional<DomainSky> sky);
  // Registered non-template ids, instances and orphans.
  std::vector<std::string> live() const;
  bool is_live(std::string_view id) const;
  bool is_instance(std::string_view id) const { return instances_.contains(id); }
  bool is_orphan(std::string_view id) const { return orphans_.contains(id); }
  // A registered non-template's own spec or an instance's template spec; else none.
  std::optional<Spec> spec(std::string_view id) const;
  std::optional<UniversalPos> position_of(std::string_view id) const;

 private:
  std::map<std::string, Spec, std::less<>> specs_;
  std::map<std::string, std::string, std::less<>> instances_;   // instance id -> template id
  std::map<std::string, UniversalPos, std::less<>> positions_;  // instances only
  std::map<std::string, DomainSky, std::less<>> skies_;
  std::set<std::string, std::less<>> orphans_;
  std::uint64_t sky_revision_ = 0;  // raised on every change of skies_
  bool frozen_ = false;
};

// Stored forms of the registry's run-time state.
//
// meta "domain_instances": "{instance}\t{template}" lines joined by "\n".
//   "t/a\tt\nt/b\tt"
// meta "domain_positions": "{instance}\t{x}\t{y}\t{z}" lines, signed decimal coordinates.
//   "t/a\t-5\t0\t7"
// meta "domain_skies": the record encoding of the list of (id, DomainSky): a varint count, then
// per entry the id (varint length, UTF-8), a varint keyframe count and 76 bytes a keyframe, then
// the three fog floats (4 little-endian bytes each).
std::string format_instances(const std::vector<std::pair<std::string, std::string>>& instances);
std::vector<std::pair<std::string, std::string>> parse_instances(std::string_view text);
std::string format_positions(const std::vector<std::pair<std::string, UniversalPos>>& positions);
std::vector<std::pair<std::string, UniversalPos>> parse_positions(std::string_view text);
std::vector<std::uint8_t> encode_skies(const std::vector<std::pair<std::string, DomainSky>>& skies);
// Empty unless the bytes decode completely.
std::vector<std::pair<std::string, DomainSky>> decode_skies(std::span<const std::uint8_t> bytes);

// The script side's way to the registry (installed into the script engine).
class Access {
 public:
  virtual ~Access() = default;
  virtual std::optional<std::string> create(std::string_view template_id, std::string_view key) = 0;
  virtual std::optional<std::string> create_at(std::string_view template_id, std::string_view key,
                                               std::optional<UniversalPos> position) = 0;
  virtual std::optional<UniversalPos> position_of(std::string_view id) = 0;
  virtual bool set_sky(std::string_view id, std::optional<DomainSky> sky) = 0;
  virtual bool destroy(std::string_view id) = 0;
  virtual bool exists(std::string_view id) = 0;
};

}  // namespace ostrel_core::domain
