#pragma once
// Turning the mods chosen for one script engine into a load order.
//
// A pure function of the manifests: every engine that resolves the same selection gets the same
// order. Reference mods (fixtures) stand aside for a non-reference mod that provides or conflicts
// with one of their names; among mods whose dependencies are placed, reference mods load first,
// then the smallest id.

#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/error.hpp"
#include "modload/manifest.hpp"
#include "modload/semver.hpp"

namespace ostrel_core::modload::resolve {

// One mod of the load order: what the loader needs, not the whole manifest.
struct ResolvedMod {
  std::string id;
  std::filesystem::path dir;
  // Ids of the loaded mods this one depends on (through `provides` too), ascending, no repeats,
  // never its own id; present optional dependencies included.
  std::vector<std::string> dependencies;
  std::optional<manifest::Theme> theme;
  semver::Version version;
  bool reference = false;
};

// A reference mod that stood aside, and the mod it stood aside for.
struct Aside {
  std::string reference;
  std::string replaced_by;
  friend bool operator==(const Aside&, const Aside&) = default;
};

struct ResolvedSet {
  std::vector<ResolvedMod> mods;  // load order
  std::vector<Aside> aside;       // ascending by `reference`
};

enum class ResolveErrorKind : std::uint8_t {
  Conflict,           // a kept mod lists in `conflicts` a mod (or provided id) that is here
  DuplicateId,        // two kept mods share an id
  MissingDependency,  // nothing kept has or provides a required id
  VersionConflict,    // the mod found for a requirement has a version it does not accept
  Cycle,              // dependencies that never get placed
  BadRequirement,     // a requirement, or a found mod's version, does not parse
};

class ResolveError {
 public:
  ResolveErrorKind kind;
  std::string declarer;       // Conflict
  std::string conflict;       // Conflict: the entry as written
  std::string found;          // Conflict: the mod that answered the entry
  std::string id;             // DuplicateId
  std::filesystem::path first;   // DuplicateId: the directory entered first
  std::filesystem::path second;  // DuplicateId: the later one
  std::string requirer;       // MissingDependency, VersionConflict, BadRequirement
  std::string requirement;    // as written in the manifest (or the unparseable version text)
  std::string missing;        // MissingDependency: the id part of the requirement
  std::string available;      // MissingDependency: " (installed: a, b)" or " (no mods are installed)"
  std::string found_id;       // VersionConflict
  semver::Version found_version;  // VersionConflict
  std::vector<std::string> cycle;  // Cycle: first id repeated at the end

  std::string message() const;
  const ErrorSource* source() const { return nullptr; }
};

// What a missing dependency's message adds after the missing id: " (installed: a, b)" with the
// ids of the kept mods, ascending, or " (no mods are installed)".
std::string installed_suffix(std::span<const std::string> ids);

// The load order of `mods` (as the scan returns them: ascending id), or the first problem.
// Only which of two mods with the same id is named first depends on the input's order.
// The result owns copies of everything it holds.
[[nodiscard]] std::expected<ResolvedSet, ResolveError> resolve(
    std::span<const manifest::DiscoveredMod> mods);

}  // namespace ostrel_core::modload::resolve
