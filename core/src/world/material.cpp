#include "world/material.hpp"

#include <fmt/format.h>

namespace ostrel_core::material {

std::string RegistryError::message() const {
  switch (kind) {
    case RegistryErrorKind::Reserved:
      return fmt::format("`{}` is reserved by the engine and cannot be registered", name);
    case RegistryErrorKind::Exhausted:
      return fmt::format("material id space exhausted at {} entries", max);
  }
  return {};
}

std::string RegistryError::debug() const {
  switch (kind) {
    case RegistryErrorKind::Reserved:
      return fmt::format("Reserved {{ name: {:?} }}", name);
    case RegistryErrorKind::Exhausted:
      return fmt::format("Exhausted {{ max: {} }}", max);
  }
  return {};
}

Registry::Registry() {
  names_ = {std::string(kAirName), std::string(kUnknownName)};
  by_name_.emplace(kAirName, kAir);
  by_name_.emplace(kUnknownName, kUnknown);
}

std::expected<MaterialId, RegistryError> Registry::register_material(std::string_view name) {
  if (auto it = by_name_.find(name); it != by_name_.end()) {
    if (it->second == kAir || it->second == kUnknown) {
      return std::unexpected(RegistryError{RegistryErrorKind::Reserved, std::string(name)});
    }
    return it->second;
  }
  if (names_.size() >= kMaxMaterials) {
    return std::unexpected(RegistryError{RegistryErrorKind::Exhausted, {}, kMaxMaterials});
  }
  auto id = static_cast<MaterialId>(names_.size());
  names_.emplace_back(name);
  by_name_.emplace(std::string(name), id);
  return id;
}

std::optional<MaterialId> Registry::id_of(std::string_view name) const {
  if (auto it = by_name_.find(name); it != by_name_.end()) return it->second;
  return std::nullopt;
}

const std::string* Registry::name_of(MaterialId id) const {
  return id < names_.size() ? &names_[id] : nullptr;
}

}  // namespace ostrel_core::material
