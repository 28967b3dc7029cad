#include "movement/ent.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <compare>

#include "base/assert.hpp"

namespace ostrel_core::ent {

std::string EntityId::debug() const { return fmt::format("EntityId({})", value); }

EntityId Entities::spawn(Entity entity) {
  ++live_;
  if (!free_.empty()) {
    const std::uint32_t index = free_.front();
    free_.erase(free_.begin());
    Slot& slot = slots_[index];
    slot.entity = std::move(entity);
    OSTREL_ASSERT(check_invariants());
    return EntityId::of(index, slot.generation);
  }
  // A store of 2^32 slots cannot address another; nothing spawns that many entities.
  const auto index = static_cast<std::uint32_t>(slots_.size());
  slots_.push_back(Slot{std::move(entity), 0});
  OSTREL_ASSERT(check_invariants());
  return EntityId::of(index, 0);
}

std::vector<EntityId> Entities::spawn_all(std::vector<Entity> entities) {
  std::vector<EntityId> ids;
  ids.reserve(entities.size());
  for (auto& e : entities) ids.push_back(spawn(std::move(e)));
  return ids;
}

std::optional<Entity> Entities::despawn(EntityId id) {
  const std::uint32_t index = id.index();
  if (index >= slots_.size()) return std::nullopt;
  Slot& slot = slots_[index];
  if (slot.generation != id.generation() || !slot.entity) return std::nullopt;
  std::optional<Entity> out = std::move(slot.entity);
  slot.entity.reset();
  --live_;
  if (slot.generation != kLastGeneration) {
    ++slot.generation;
    free_.insert(std::lower_bound(free_.begin(), free_.end(), index), index);
  }
  OSTREL_ASSERT(check_invariants());
  return out;
}

const Entity* Entities::get(EntityId id) const {
  const std::uint32_t index = id.index();
  if (index >= slots_.size()) return nullptr;
  const Slot& slot = slots_[index];
  if (slot.generation != id.generation() || !slot.entity) return nullptr;
  return &*slot.entity;
}

Entity* Entities::get_mut(EntityId id) {
  return const_cast<Entity*>(static_cast<const Entities&>(*this).get(id));
}

std::vector<EntityId> Entities::ids() const {
  std::vector<EntityId> out;
  out.reserve(live_);
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    if (slots_[i].entity) out.push_back(EntityId::of(static_cast<std::uint32_t>(i), slots_[i].generation));
  }
  return out;
}

namespace {

// Offset along one axis in f32. The chunk difference is taken in 64 bits so that chunks far
// apart never wrap around to look near.
float axis_offset(float local, std::int32_t chunk, float centre_local, std::int32_t centre_chunk) {
  const auto chunks = static_cast<float>(static_cast<std::int64_t>(chunk) - centre_chunk);
  return local + chunks * 48.0f - centre_local;
}

}  // namespace

std::vector<std::pair<EntityId, float>> Entities::within(const component::Transform& centre,
                                                         float radius) const {
  const float limit = radius * radius;
  std::vector<std::pair<EntityId, float>> out;
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    const Slot& slot = slots_[i];
    if (!slot.entity) continue;
    const component::Transform& t = slot.entity->transform;
    const float dx = axis_offset(t.local[0], t.chunk.x, centre.local[0], centre.chunk.x);
    const float dy = axis_offset(t.local[1], t.chunk.y, centre.local[1], centre.chunk.y);
    const float dz = axis_offset(t.local[2], t.chunk.z, centre.local[2], centre.chunk.z);
    const float s = dx * dx + dy * dy + dz * dz;
    if (limit >= s) out.emplace_back(EntityId::of(static_cast<std::uint32_t>(i), slot.generation), s);
  }
  std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) {
    const auto order = std::strong_order(a.second, b.second);
    if (order != 0) return order < 0;
    return a.first < b.first;
  });
  return out;
}

std::map<coords::ChunkPos, std::vector<EntityId>> Entities::by_chunk() const {
  std::map<coords::ChunkPos, std::vector<EntityId>> out;
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    const Slot& slot = slots_[i];
    if (slot.entity) {
      out[slot.entity->transform.chunk].push_back(
          EntityId::of(static_cast<std::uint32_t>(i), slot.generation));
    }
  }
  return out;
}

bool Entities::check_invariants() const {
  if (!std::is_sorted(free_.begin(), free_.end()) ||
      std::adjacent_find(free_.begin(), free_.end()) != free_.end()) {
    return false;
  }
  std::size_t occupied = 0, reusable = 0;
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    const Slot& slot = slots_[i];
    const bool should_be_free = !slot.entity && slot.generation != kLastGeneration;
    const bool is_free = std::binary_search(free_.begin(), free_.end(), static_cast<std::uint32_t>(i));
    if (should_be_free != is_free) return false;
    occupied += slot.entity ? 1 : 0;
    reusable += is_free ? 1 : 0;
  }
  return occupied == live_ && reusable == free_.size();
}

void Entities::set_generation_for_test(std::uint32_t index, std::uint32_t generation) {
  Slot& slot = slots_.at(index);
  if (!slot.entity) {
    auto it = std::lower_bound(free_.begin(), free_.end(), index);
    if (it != free_.end() && *it == index) free_.erase(it);
    if (generation != kLastGeneration)
      free_.insert(std::lower_bound(free_.begin(), free_.end(), index), index);
  }
  slot.generation = generation;
  OSTREL_ASSERT(check_invariants());
}

}  // namespace ostrel_core::ent
