#include "plans/names.hpp"

namespace ostrel_server::plans {

Names::Names(std::map<std::string, MaterialId, std::less<>> by_name) : by_name_(std::move(by_name)) {
  for (const auto& [name, id] : by_name_) by_id_.insert_or_assign(id, name);
}

std::optional<MaterialId> Names::id_of(std::string_view name) const {
  auto it = by_name_.find(name);
  if (it == by_name_.end()) return std::nullopt;
  return it->second;
}

const std::string* Names::name_of(MaterialId id) const {
  auto it = by_id_.find(id);
  return it == by_id_.end() ? nullptr : &it->second;
}

}  // namespace ostrel_server::plans
