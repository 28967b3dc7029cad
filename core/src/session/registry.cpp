#include "session/registry.hpp"

#include <vector>

#include <fmt/format.h>

#include "base/assert.hpp"

namespace ostrel_core::session::registry {

namespace {

// `held` is `asked`, or `asked`, one space and one or more ASCII digits.
bool is_form_of(std::string_view held, std::string_view asked) {
  if (held == asked) return true;
  if (held.size() < asked.size() + 2 || !held.starts_with(asked) || held[asked.size()] != ' ') return false;
  for (char c : held.substr(asked.size() + 1)) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

std::string RegistryError::message() const {
  switch (kind_) {
    case RegistryErrorKind::NameTaken:
      return fmt::format("the name `{}` is held by another player", name_);
    case RegistryErrorKind::UnknownIdentity:
      return "unknown identity";
    case RegistryErrorKind::KeySet:
      return identity::keyset::message(key_set_);
  }
  return "unknown identity";
}

void IdentityRegistry::insert(KeySet set) {
  auto& rows = dirty_[set.uuid()];
  for (const auto& [bytes, k] : set.keys()) rows.insert(bytes);
  insert_clean(std::move(set));
}

void IdentityRegistry::insert_clean(KeySet set) {
  const PlayerUuid uuid = set.uuid();
  // Only the replaced set's active keys can point at `uuid`: drop those, not a scan of the index.
  if (auto old = identities_.find(uuid); old != identities_.end()) {
    for (const auto& [bytes, k] : old->second.keys()) {
      if (auto it = key_index_.find(bytes); it != key_index_.end() && it->second == uuid) key_index_.erase(it);
    }
  }
  for (const auto& [bytes, k] : set.keys()) {
    if (!k.revoked_at) key_index_.insert_or_assign(bytes, uuid);
  }
  identities_.insert_or_assign(uuid, std::move(set));
}

std::expected<KeySet*, RegistryError> IdentityRegistry::registered(const PlayerUuid& uuid) {
  auto it = identities_.find(uuid);
  if (it == identities_.end()) return std::unexpected(RegistryError::unknown_identity());
  return &it->second;
}

void IdentityRegistry::touched(const PlayerUuid& uuid, const KeySet& set, const identity::KeyBytes& bytes) {
  const auto& key = set.keys().at(bytes);
  if (!key.revoked_at) {
    key_index_.insert_or_assign(bytes, uuid);
  } else if (auto it = key_index_.find(bytes); it != key_index_.end() && it->second == uuid) {
    key_index_.erase(it);
  }
  dirty_[uuid].insert(bytes);
}

std::expected<void, RegistryError> IdentityRegistry::add_key(
    const PlayerUuid& uuid, const PublicKey& signer, const PublicKey& key, std::optional<Commitment> next_key_hash,
    std::span<const std::uint8_t, identity::kSignatureBytes> signature, std::uint64_t now) {
  auto set = registered(uuid);
  if (!set) return std::unexpected(set.error());
  if (auto r = (*set)->add_key(signer, key, next_key_hash, signature, now); !r) {
    return std::unexpected(RegistryError::key_set(r.error()));
  }
  touched(uuid, **set, key.bytes());
  return {};
}

std::expected<void, RegistryError> IdentityRegistry::rotate_key(
    const PlayerUuid& uuid, const PublicKey& current, const PublicKey& key, std::optional<Commitment> next_key_hash,
    std::span<const std::uint8_t, identity::kSignatureBytes> signature, std::uint64_t now) {
  auto set = registered(uuid);
  if (!set) return std::unexpected(set.error());
  if (auto r = (*set)->rotate_key(current, key, next_key_hash, signature, now); !r) {
    return std::unexpected(RegistryError::key_set(r.error()));
  }
  touched(uuid, **set, current.bytes());
  touched(uuid, **set, key.bytes());
  return {};
}

std::expected<void, RegistryError> IdentityRegistry::admin_rebind(const PlayerUuid& uuid, const PublicKey& key,
                                                                  std::uint64_t now) {
  auto set = registered(uuid);
  if (!set) return std::unexpected(set.error());
  std::vector<identity::KeyBytes> was_active;
  for (const auto& [bytes, k] : (*set)->keys()) {
    if (!k.revoked_at) was_active.push_back(bytes);
  }
  (*set)->admin_rebind(key, now);
  for (const auto& bytes : was_active) touched(uuid, **set, bytes);
  touched(uuid, **set, key.bytes());
  return {};
}

std::expected<void, RegistryError> IdentityRegistry::bind_name(std::string_view name, const PlayerUuid& uuid) {
  if (auto it = names_.find(name); it != names_.end()) {
    if (it->second == uuid) return {};
    return std::unexpected(RegistryError::name_taken(std::string(name)));
  }
  if (auto held = name_of(uuid)) {
    std::string old(*held);
    unplace_name(names_.find(old));
    dirty_names_.insert(std::move(old));
  }
  place_name(std::string(name), uuid);
  dirty_names_.insert(std::string(name));
  return {};
}

void IdentityRegistry::put_name_clean(std::string name, const PlayerUuid& uuid) {
  if (auto it = names_.find(name); it != names_.end()) unplace_name(it);
  place_name(std::move(name), uuid);
}

void IdentityRegistry::place_name(std::string name, const PlayerUuid& uuid) {
  OSTREL_ASSERT(!names_.contains(name));
  names_held_[uuid].insert(name);
  names_.emplace(std::move(name), uuid);
}

void IdentityRegistry::unplace_name(std::map<std::string, PlayerUuid, std::less<>>::iterator it) {
  auto held = names_held_.find(it->second);
  held->second.erase(it->first);
  if (held->second.empty()) names_held_.erase(held);
  names_.erase(it);
}

std::expected<std::string, RegistryError> IdentityRegistry::bind_name_or_next(std::string_view name,
                                                                              const PlayerUuid& uuid,
                                                                              std::uint32_t limit) {
  if (auto held = name_of(uuid); held && is_form_of(*held, name)) return std::string(*held);
  auto first = bind_name(name, uuid);
  if (first) return std::string(name);
  if (first.error().kind() != RegistryErrorKind::NameTaken) return std::unexpected(first.error());
  for (std::uint32_t i = 2; i <= limit; ++i) {
    std::string candidate = fmt::format("{} {}", name, i);
    if (candidate.size() > kMaxNameBytes) break;
    auto r = bind_name(candidate, uuid);
    if (r) return candidate;
    if (r.error().kind() != RegistryErrorKind::NameTaken) return std::unexpected(r.error());
  }
  return std::unexpected(RegistryError::name_taken(std::string(name)));
}

std::optional<std::string_view> IdentityRegistry::name_of(const PlayerUuid& uuid) const {
  auto it = names_held_.find(uuid);
  if (it == names_held_.end()) return std::nullopt;
  return std::string_view(*it->second.begin());
}

std::optional<PlayerUuid> IdentityRegistry::identity_of(const PublicKey& key) const {
  auto it = key_index_.find(key.bytes());
  if (it == key_index_.end()) return std::nullopt;
  return it->second;
}

const KeySet* IdentityRegistry::find(const PlayerUuid& uuid) const {
  auto it = identities_.find(uuid);
  return it == identities_.end() ? nullptr : &it->second;
}

void IdentityRegistry::clear_dirty() {
  dirty_.clear();
  dirty_names_.clear();
}

}  // namespace ostrel_core::session::registry
