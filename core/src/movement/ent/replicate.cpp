#include "movement/ent/replicate.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iterator>

#include "base/num.hpp"

namespace ostrel_core::ent::replicate {

namespace {

constexpr float kTurn = 6.2831855f;        // radians in a full turn, f32
constexpr float kRightAngle = 1.5707964f;  // pi / 2, f32

bool in_volume(const coords::ChunkPos& at, const View& view) {
  const std::int64_t dx = static_cast<std::int64_t>(at.x) - view.centre.x;
  const std::int64_t dy = static_cast<std::int64_t>(at.y) - view.centre.y;
  const std::int64_t dz = static_cast<std::int64_t>(at.z) - view.centre.z;
  const std::int64_t r = view.radius;
  return std::abs(dy) <= view.vertical && dx * dx + dz * dz <= r * r;
}

// A coordinate NaN on either side always counts as moved.
bool moved(const std::array<float, 3>& now, const std::array<float, 3>& sent) {
  for (int a = 0; a < 3; ++a) {
    if (!(std::fabs(now[a] - sent[a]) < kMoveStep)) return true;
  }
  return false;
}

}  // namespace

std::uint8_t yaw_byte(float yaw) {
  if (!std::isfinite(yaw)) return 0;
  const float q = yaw / kTurn;
  float f = q - std::trunc(q);
  if (f < 0.0f) f = f + 1.0f;
  return std::min<std::uint8_t>(num::saturate<std::uint8_t>(f * 256.0f), 255);
}

std::int8_t pitch_byte(float pitch) {
  const float p = std::clamp(pitch, -kRightAngle, kRightAngle);
  return num::saturate<std::int8_t>(p / kRightAngle * 127.0f);
}

Rgb shown_colour(const Entity& e) {
  if (!e.flash || e.flash->total < 1) return e.tint;
  const auto mix = [&](std::uint8_t tint, std::uint8_t flash) {
    const std::int32_t v = tint + (flash - tint) * static_cast<std::int32_t>(e.flash->left) / e.flash->total;
    return static_cast<std::uint8_t>(std::clamp(v, 0, 255));
  };
  const Rgb& f = e.flash->colour;
  return {mix(e.tint.r, f.r), mix(e.tint.g, f.g), mix(e.tint.b, f.b)};
}

const Sent* Tracker::sent(EntityId id) const {
  auto it = entries_.find(id);
  return it == entries_.end() ? nullptr : &it->second.sent;
}

Update Tracker::update(const Entities& store, const View& view,
                       const std::function<bool(EntityId)>& in_view) {
  const std::uint64_t pass = ++pass_;
  Update out;
  const auto slots = store.slots();
  for (std::size_t i = 0; i < slots.size(); ++i) {
    if (!slots[i].entity) continue;
    const Entity& e = *slots[i].entity;
    const EntityId id = EntityId::of(static_cast<std::uint32_t>(i), slots[i].generation);
    if (view.own && *view.own == id) continue;
    if (!in_view(id)) continue;
    const component::Transform& t = e.transform;
    if (!in_volume(t.chunk, view)) continue;

    const std::uint8_t yaw = yaw_byte(t.yaw);
    const std::int8_t pitch = pitch_byte(t.pitch);
    const Rgb colour = shown_colour(e);
    auto [it, fresh] = entries_.try_emplace(id);
    it->second.pass = pass;
    Sent& s = it->second.sent;
    if (fresh) {
      out.spawns.push_back(
          Spawn{e.model, e.item, e.hands, e.nametag, id, t, e.collider, e.velocity, e.anim, colour});
      s = Sent{e.hands, t.chunk, t.local, yaw, pitch, e.anim, colour};
      continue;
    }
    if (t.chunk != s.chunk || e.anim != s.anim || colour != s.colour || yaw != s.yaw || pitch != s.pitch ||
        moved(t.local, s.local)) {
      out.moves.push_back(Delta{id, t.chunk, t.local, e.velocity, yaw, pitch, e.anim, colour});
      s.chunk = t.chunk;
      s.local = t.local;
      s.yaw = yaw;
      s.pitch = pitch;
      s.anim = e.anim;
      s.colour = colour;
    }
    if (e.hands != s.hands) {
      out.armed.push_back(Armed{id, e.hands});
      s.hands = e.hands;
    }
  }

  for (auto it = entries_.begin(); it != entries_.end();) {
    if (it->second.pass == pass) {
      ++it;
    } else {
      out.gone.push_back(it->first);
      it = entries_.erase(it);
    }
  }
  if (!unsure_.empty()) {
    std::vector<EntityId> departed;
    for (EntityId id : unsure_) {
      if (!entries_.contains(id)) departed.push_back(id);
    }
    unsure_.clear();
    std::vector<EntityId> merged;
    std::set_union(out.gone.begin(), out.gone.end(), departed.begin(), departed.end(),
                   std::back_inserter(merged));
    out.gone = std::move(merged);
  }
  return out;
}

void Tracker::clear(std::span<const EntityId> missed) {
  std::vector<EntityId> ids(missed.begin(), missed.end());
  for (const auto& [id, entry] : entries_) ids.push_back(id);
  ids.insert(ids.end(), unsure_.begin(), unsure_.end());
  std::sort(ids.begin(), ids.end());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  unsure_ = std::move(ids);
  entries_.clear();
}

}  // namespace ostrel_core::ent::replicate
