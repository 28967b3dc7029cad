#pragma once
// Runtime material ids. Every block material a mod registers gets the next small id for this run;
// ids can change between runs, so stored data goes through the world's own ids instead.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.hpp"

namespace ostrel_core::material {

using MaterialId = std::uint16_t;

inline constexpr MaterialId kAir = 0;      // the empty cell
inline constexpr MaterialId kUnknown = 1;  // stands in for a material nobody registers
inline constexpr std::string_view kAirName = "engine:air";
inline constexpr std::string_view kUnknownName = "engine:unknown";
// Ids 0..=65535.
inline constexpr std::size_t kMaxMaterials = 65536;

enum class RegistryErrorKind : std::uint8_t {
  Reserved,   // the name is one of the two engine names, which hold ids 0 and 1
  Exhausted,  // a new name while every id is taken; known names still resolve
};

struct RegistryError {
  RegistryErrorKind kind;
  std::string name;      // Reserved: the refused name
  std::size_t max = 0;   // Exhausted: the number of ids, 65536

  std::string message() const;
  const ErrorSource* source() const { return nullptr; }
  // `Reserved { name: "engine:air" }`, `Exhausted { max: 65536 }`.
  std::string debug() const;
  friend bool operator==(const RegistryError&, const RegistryError&) = default;
};

// The lookup other modules take: a name to its runtime id.
class MaterialRegistry {
 public:
  virtual ~MaterialRegistry() = default;
  // Absent for a name that is not registered.
  virtual std::optional<MaterialId> id_of(std::string_view name) const = 0;
};

// Names in id order plus a name index; ids are 0..size()-1 without gaps.
class Registry final : public MaterialRegistry {
 public:
  // Holds exactly "engine:air" (0) and "engine:unknown" (1).
  Registry();

  // The id of `name`, appending it when new. Registering a name twice gives the same id.
  std::expected<MaterialId, RegistryError> register_material(std::string_view name);

  std::optional<MaterialId> id_of(std::string_view name) const override;
  // Null for an id past the registry.
  const std::string* name_of(MaterialId id) const;
  std::size_t size() const { return names_.size(); }
  std::span<const std::string> names() const { return names_; }

 private:
  std::vector<std::string> names_;                          // name i has id i
  std::map<std::string, MaterialId, std::less<>> by_name_;  // same names as names_
};

}  // namespace ostrel_core::material
