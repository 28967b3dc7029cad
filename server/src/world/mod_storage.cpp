#include "world/mod_storage.hpp"

#include <fmt/format.h>

#include "base/log.hpp"
#include "world/records.hpp"

namespace ostrel_server::storage {

void ModStorage::load(std::string_view mod_id, std::map<std::string, Value> values) {
  values_.insert_or_assign(std::string(mod_id),
                           std::map<std::string, Value, std::less<>>(values.begin(), values.end()));
}

std::optional<Value> ModStorage::get(std::string_view mod_id, std::string_view key) const {
  auto mod = values_.find(mod_id);
  if (mod == values_.end()) return std::nullopt;
  auto it = mod->second.find(key);
  if (it == mod->second.end()) return std::nullopt;
  return it->second;
}

void ModStorage::set(std::string_view mod_id, std::string_view key, std::optional<Value> value) {
  auto mod = values_.find(mod_id);
  if (mod == values_.end())
    mod = values_.emplace(std::string(mod_id), std::map<std::string, Value, std::less<>>{}).first;
  auto& store = mod->second;
  auto it = store.find(key);
  if (value) {
    // Values compare as their variant and contents; a NaN never equals, so it always marks.
    if (it == store.end()) {
      store.emplace(std::string(key), std::move(*value));
    } else if (it->second == *value) {
      return;
    } else {
      it->second = std::move(*value);
    }
  } else {
    if (it == store.end()) return;
    store.erase(it);
  }
  mark_dirty(mod_id, key);
}

std::vector<std::string> ModStorage::keys(std::string_view mod_id, std::string_view prefix) const {
  std::vector<std::string> out;
  auto mod = values_.find(mod_id);
  if (mod == values_.end()) return out;
  for (auto it = mod->second.lower_bound(prefix); it != mod->second.end(); ++it) {
    if (!std::string_view(it->first).starts_with(prefix)) break;
    out.push_back(it->first);
  }
  return out;
}

void ModStorage::mark_dirty(std::string_view mod_id, std::string_view key) {
  auto mod = changed_.find(mod_id);
  if (mod == changed_.end())
    mod = changed_.emplace(std::string(mod_id), std::set<std::string, std::less<>>{}).first;
  // A key marked already costs no new node.
  if (!mod->second.contains(key)) mod->second.emplace(key);
}

std::vector<std::pair<std::string, std::vector<StorageChange>>> ModStorage::take_dirty() {
  std::vector<std::pair<std::string, std::vector<StorageChange>>> out;
  for (auto& [mod_id, keys] : std::exchange(changed_, {})) {
    std::vector<StorageChange> changes;
    for (const auto& key : keys) changes.push_back(StorageChange{key, get(mod_id, key)});
    out.emplace_back(mod_id, std::move(changes));
  }
  return out;
}

std::optional<Value> Shared::get(std::string_view mod_id, std::string_view key) {
  auto g = inner_->lock();
  if (!g) return std::nullopt;
  return (*g)->get(mod_id, key);
}

void Shared::set(std::string_view mod_id, std::string_view key, std::optional<Value> value) {
  if (auto g = inner_->lock()) (*g)->set(mod_id, key, std::move(value));
}

std::vector<std::string> Shared::keys(std::string_view mod_id, std::string_view prefix) {
  auto g = inner_->lock();
  if (!g) return {};
  return (*g)->keys(mod_id, prefix);
}

void Shared::load(std::string_view mod_id, std::map<std::string, Value> values) {
  if (auto g = inner_->lock()) (*g)->load(mod_id, std::move(values));
}

void Shared::flush(world::World& world) {
  auto g = inner_->lock();
  if (!g) return;
  for (const auto& [mod_id, changes] : (*g)->take_dirty()) {
    auto saved = world::save_mod_storage_changes(world, mod_id, changes);
    if (saved) continue;
    OSTREL_ERROR("ostrel_server::storage", fmt::format("could not save storage for mod `{}`: {}", mod_id,
                                                       ostrel_core::report(saved.error())));
    for (const auto& c : changes) (*g)->mark_dirty(mod_id, c.key);
  }
}

}  // namespace ostrel_server::storage
