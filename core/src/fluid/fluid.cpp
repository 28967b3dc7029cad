#include "fluid/fluid.hpp"

#include <algorithm>
#include <utility>

#include <fmt/format.h>

namespace ostrel_core::fluid {

std::string RegisterError::message() const {
  switch (kind) {
    case RegisterErrorKind::Duplicate:
      return fmt::format("a fluid named {} is already registered", name);
    case RegisterErrorKind::Full:
      return fmt::format("cannot register {}: only {} fluids fit in a block's four id bits", name,
                         kMaxFluids);
  }
  return "unknown fluid registration error";
}

std::string RegisterError::debug() const {
  const char* variant = kind == RegisterErrorKind::Duplicate ? "Duplicate" : "Full";
  return fmt::format("{} {{ name: {:?} }}", variant, name);
}

std::optional<RegisterError> Fluids::refusal(std::string_view name) const {
  for (const auto& r : registered_) {
    if (r.name == name) return RegisterError{RegisterErrorKind::Duplicate, std::string(name)};
  }
  if (registered_.size() >= kMaxFluids) return RegisterError{RegisterErrorKind::Full, std::string(name)};
  return std::nullopt;
}

std::expected<FluidId, RegisterError> Fluids::register_fluid(Registered fluid) {
  if (auto refused = refusal(fluid.name)) return std::unexpected(std::move(*refused));
  registered_.push_back(std::move(fluid));
  return static_cast<FluidId>(registered_.size());
}

std::expected<FluidId, RegisterError> Fluids::register_placeholder(std::string_view name) {
  if (auto refused = refusal(name)) return std::unexpected(std::move(*refused));
  Registered r;
  r.name = std::string(name);
  r.waterlogs_at = 1;
  r.material = 0;  // never drawn
  registered_.push_back(std::move(r));
  const auto id = static_cast<FluidId>(registered_.size());
  placeholders_.push_back(id);  // ids only grow, so the list stays ascending
  return id;
}

std::optional<FluidId> Fluids::id_of(std::string_view name) const {
  for (std::size_t i = 0; i < registered_.size(); ++i) {
    if (registered_[i].name == name) return static_cast<FluidId>(i + 1);
  }
  return std::nullopt;
}

bool Fluids::is_placeholder(FluidId id) const {
  return std::binary_search(placeholders_.begin(), placeholders_.end(), id);
}

const Registered* Fluids::get(FluidId id) const {
  if (id == 0 || id > registered_.size()) return nullptr;
  return &registered_[id - 1];
}

}  // namespace ostrel_core::fluid
