#pragma once
// Material names by id and ids by name, as plans use them: built once when the world opens and
// shared read-only afterwards.

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "world/material.hpp"

namespace ostrel_server::plans {

using ostrel_core::material::MaterialId;

class Names {
 public:
  // Takes over the registry's name-to-id map. When several names carry one id, the last of them
  // in name order names it.
  explicit Names(std::map<std::string, MaterialId, std::less<>> by_name);

  std::optional<MaterialId> id_of(std::string_view name) const;
  // Null when no name carries the id.
  const std::string* name_of(MaterialId id) const;

 private:
  std::map<std::string, MaterialId, std::less<>> by_name_;
  std::map<MaterialId, std::string> by_id_;
};

}  // namespace ostrel_server::plans
