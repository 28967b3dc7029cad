#include "transport/streamer.hpp"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <limits>

#include "movement/interest.hpp"

namespace ostrel_server::transport::stream {
namespace {

using ostrel_core::lod::Detail;

struct Offset {
  std::int64_t dx, dy, dz;
};

Offset offset(ChunkPos pos, ChunkPos centre) {
  return {std::int64_t{pos.x} - centre.x, std::int64_t{pos.y} - centre.y, std::int64_t{pos.z} - centre.z};
}

// dx^2 + dz^2 <= r^2 without overflow for any two 32-bit coordinates.
bool within_circle(const Offset& o, std::uint8_t r) {
  const std::uint64_t ax = static_cast<std::uint64_t>(std::abs(o.dx));
  const std::uint64_t az = static_cast<std::uint64_t>(std::abs(o.dz));
  if (ax > r || az > r) return false;
  return ax * ax + az * az <= std::uint64_t{r} * r;
}

std::int32_t step_saturating(std::int32_t v, int by) {
  if (by > 0 && v == std::numeric_limits<std::int32_t>::max()) return v;
  if (by < 0 && v == std::numeric_limits<std::int32_t>::min()) return v;
  return v + by;
}

std::array<ChunkPos, 6> face_neighbours(ChunkPos p) {
  return {ChunkPos{step_saturating(p.x, 1), p.y, p.z}, ChunkPos{step_saturating(p.x, -1), p.y, p.z},
          ChunkPos{p.x, step_saturating(p.y, 1), p.z}, ChunkPos{p.x, step_saturating(p.y, -1), p.z},
          ChunkPos{p.x, p.y, step_saturating(p.z, 1)}, ChunkPos{p.x, p.y, step_saturating(p.z, -1)}};
}

// One unit from `v` towards `target`.
std::int32_t toward(std::int32_t v, std::int32_t target) { return v < target ? v + 1 : v - 1; }

bool between(std::int32_t v, std::int32_t a, std::int32_t b) {
  return v >= std::min(a, b) && v <= std::max(a, b);
}

}  // namespace

std::uint32_t ceil_sqrt(std::uint64_t n) {
  if (n == 0) return 0;
  // Newton's method on integers, from a start at or above the root, ends on floor(sqrt(n)).
  std::uint64_t x = std::min<std::uint64_t>(n, std::uint64_t{1} << 32);
  for (;;) {
    const std::uint64_t next = (x + n / x) / 2;
    if (next >= x) break;
    x = next;
  }
  const std::uint64_t floor_root = x;  // <= 2^32 - 1
  const bool exact = floor_root * floor_root == n;
  const std::uint64_t root = exact ? floor_root : floor_root + 1;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(root, std::numeric_limits<std::uint32_t>::max()));
}

std::uint8_t horizon_h_for(std::uint8_t view_h) {
  if (view_h == 0) return 1;
  if (view_h < 8) return static_cast<std::uint8_t>(4 * view_h);
  return 32;
}

std::uint8_t horizon_v_for(std::uint8_t view_v) { return std::clamp<std::uint8_t>(view_v, 1, 16); }

Streamer::Streamer(std::string domain, ChunkPos centre, std::uint8_t view_h, std::uint8_t view_v)
    : domain_(std::move(domain)), centre_(centre) {
  set_radii(view_h, view_v);
  reorder_horizon();
}

void Streamer::set_radii(std::uint8_t view_h, std::uint8_t view_v) {
  view_h_ = view_h;
  view_v_ = view_v;
  horizon_h_ = horizon_h_for(view_h);
  horizon_v_ = horizon_v_for(view_v);
  rings_ = ostrel_core::lod::Rings{std::max<std::uint32_t>(view_h, 1), 1};
}

std::uint64_t Streamer::dist2(ChunkPos pos) const {
  const Offset o = offset(pos, centre_);
  const std::uint64_t ax = static_cast<std::uint64_t>(std::abs(o.dx));
  const std::uint64_t az = static_cast<std::uint64_t>(std::abs(o.dz));
  const std::uint64_t lift = 4 * (static_cast<std::uint64_t>(std::max<std::int64_t>(std::abs(o.dy), 2)) - 2);
  // Saturates rather than wrapping for chunks near opposite 32-bit ends.
  const auto add = [](std::uint64_t a, std::uint64_t b) {
    return a > std::numeric_limits<std::uint64_t>::max() - b ? std::numeric_limits<std::uint64_t>::max()
                                                             : a + b;
  };
  const auto square = [](std::uint64_t a) {
    return a > 0xffff'ffffULL ? std::numeric_limits<std::uint64_t>::max() : a * a;
  };
  return add(add(square(ax), square(az)), square(lift));
}

bool Streamer::in_view(ChunkPos pos) const {
  const Offset o = offset(pos, centre_);
  return std::abs(o.dy) <= view_v_ && within_circle(o, view_h_);
}

bool Streamer::in_summary_region(ChunkPos pos) const {
  const Offset o = offset(pos, centre_);
  return std::abs(o.dy) <= horizon_v_ && within_circle(o, horizon_h_);
}

void Streamer::reorder_horizon() {
  horizon_.clear();
  for (const ChunkPos& p : ostrel_core::interest::chunks_around(centre_, horizon_h_, horizon_v_)) {
    if (!in_view(p) && std::abs(offset(p, centre_).dy) <= kHorizonLayers) horizon_.push_back(p);
  }
  horizon_cursor_ = 0;
  resume_at_.reset();
  view_order_ = ostrel_core::interest::chunks_around(centre_, view_h_, view_v_);
}

bool Streamer::visible(ChunkPos p) {
  if (p == centre_) return true;
  if (!sent.empty()) {
    for (const ChunkPos& n : face_neighbours(p)) {
      if (sent.contains(n) && !sealed.contains(n)) return true;
    }
  }
  ChunkPos q = p;
  for (;;) {
    const Offset o = offset(q, centre_);
    const std::int64_t ax = std::abs(o.dx), ay = std::abs(o.dy), az = std::abs(o.dz);
    if (ay >= ax && ay >= az) {
      q.y = toward(q.y, centre_.y);
    } else if (ax < az) {
      q.z = toward(q.z, centre_.z);
    } else {
      q.x = toward(q.x, centre_.x);
    }
    if (q == centre_) return true;
    if (sealed.contains(q)) {
      shadowed_.insert(p);
      return false;
    }
    if (sent.contains(q)) return true;
  }
}

std::vector<ChunkPos> Streamer::next_needed(std::size_t limit) {
  const std::size_t want = std::max<std::size_t>(limit, 1);
  std::vector<ChunkPos> out;
  for (const ChunkPos& p : view_order_) {
    if (out.size() >= want) break;
    if (sent.contains(p) || in_flight.contains(p) || shadowed_.contains(p)) continue;
    // Positions repeat in the order only at the 32-bit ends; one request each.
    if (!visible(p) || std::find(out.begin(), out.end(), p) != out.end()) continue;
    out.push_back(p);
  }
  nearest_needed_ = out.empty() ? std::nullopt : std::optional(dist2(out.front()));
  if (limit == 0) out.clear();
  return out;
}

Streamer::Look Streamer::look(ChunkPos p, std::uint8_t& level) const {
  if (in_flight.contains(p)) return Look::Skip;
  std::optional<Detail> state;
  std::optional<std::uint8_t> held_level;
  if (sent.contains(p)) {
    state = Detail::full();
  } else if (auto it = summarised_at.find(p); it != summarised_at.end()) {
    state = Detail::summary(it->second);
    held_level = it->second;
  }
  if (!state && nearest_needed_ && *nearest_needed_ < dist2(p)) return Look::NotReady;
  const Offset o = offset(p, centre_);
  const auto ax = static_cast<std::uint64_t>(std::abs(o.dx));
  const auto az = static_cast<std::uint64_t>(std::abs(o.dz));
  const std::uint32_t d = (ax > 0xffff'ffffULL || az > 0xffff'ffffULL)
                              ? std::numeric_limits<std::uint32_t>::max()
                              : ceil_sqrt(ax * ax + az * az);
  const Detail want = rings_.stable_level(state, d);
  if (want.is_full() || held_level == want.level) return Look::Skip;
  level = want.level;
  return Look::Needed;
}

std::vector<std::pair<ChunkPos, std::uint8_t>> Streamer::next_summaries(std::size_t count) {
  std::vector<std::pair<ChunkPos, std::uint8_t>> out;
  if (count == 0 || horizon_.empty()) return out;
  const std::size_t n = horizon_.size();
  std::size_t budget = std::min(n, kSummaryScanBudget);
  // One request per position even when both scans reach the same entry.
  const auto take = [&](std::size_t i, std::uint8_t level) {
    const ChunkPos p = horizon_[i];
    if (std::none_of(out.begin(), out.end(), [&](const auto& e) { return e.first == p; }))
      out.emplace_back(p, level);
  };

  const std::optional<std::size_t> resume = std::exchange(resume_at_, std::nullopt);
  if (resume) {
    for (std::size_t i = *resume; i < n; ++i) {
      if (budget == 0) {
        resume_at_ = i;
        return out;
      }
      --budget;
      std::uint8_t level = 0;
      const Look r = look(horizon_[i], level);
      if (r == Look::NotReady) {
        resume_at_ = i;
        break;
      }
      if (r == Look::Needed) {
        take(i, level);
        if (out.size() >= count) {
          resume_at_ = i + 1;
          return out;
        }
      }
    }
  }

  std::size_t examined = 0;
  while (budget > 0) {
    const std::size_t i = (horizon_cursor_ + examined) % n;
    --budget;
    ++examined;
    std::uint8_t level = 0;
    const Look r = look(horizon_[i], level);
    if (r == Look::NotReady && !resume_at_) resume_at_ = i;
    if (r == Look::Needed) {
      take(i, level);
      if (out.size() >= count) {
        horizon_cursor_ = (i + 1) % n;
        return out;
      }
    }
  }
  horizon_cursor_ = (horizon_cursor_ + examined) % n;
  return out;
}

void Streamer::summarised(ChunkPos pos, std::uint8_t level) {
  in_flight.erase(pos);
  sent.erase(pos);
  summarised_at[pos] = level;
}

std::optional<std::uint8_t> Streamer::summary_level(ChunkPos pos) const {
  if (auto it = summarised_at.find(pos); it != summarised_at.end()) return it->second;
  return std::nullopt;
}

void Streamer::unseal(ChunkPos pos) {
  if (sealed.erase(pos) != 0) lift_shadows(pos);
}

void Streamer::lift_shadows(ChunkPos pos) {
  std::erase_if(shadowed_, [&](const ChunkPos& s) {
    const Offset o = offset(s, pos);
    const bool neighbour = std::abs(o.dx) + std::abs(o.dy) + std::abs(o.dz) == 1;
    const bool on_line =
        between(pos.x, s.x, centre_.x) && between(pos.y, s.y, centre_.y) && between(pos.z, s.z, centre_.z);
    return neighbour || on_line;
  });
}

void Streamer::hold_edit(ChunkPos pos, HeldMessage message) {
  Held& entry = held[pos];
  if (std::holds_alternative<held::Overflowed>(entry)) return;
  if (std::holds_alternative<held::Nothing>(entry)) {
    entry = held::Edits{{std::move(message)}};
    return;
  }
  auto& edits = std::get<held::Edits>(entry).messages;
  if (edits.size() < kMaxHeldEdits) {
    edits.push_back(std::move(message));
  } else {
    entry = held::Overflowed{};
  }
}

std::vector<ChunkPos> Streamer::departed() {
  std::vector<ChunkPos> gone;
  for (const ChunkPos& p : sent) {
    if (!in_summary_region(p)) gone.push_back(p);
  }
  for (const auto& [p, level] : summarised_at) {
    if (!in_summary_region(p)) gone.push_back(p);
  }
  for (const ChunkPos& p : gone) {
    sent.erase(p);
    summarised_at.erase(p);
    sealed.erase(p);
  }
  if (!gone.empty()) shadowed_.clear();
  std::sort(gone.begin(), gone.end());
  gone.erase(std::unique(gone.begin(), gone.end()), gone.end());
  return gone;
}

std::vector<ChunkPos> Streamer::resize(std::uint8_t view_h, std::uint8_t view_v) {
  if (view_h == view_h_ && view_v == view_v_) return {};
  set_radii(view_h, view_v);
  shadowed_.clear();
  reorder_horizon();
  std::erase_if(in_flight, [&](const ChunkPos& p) { return !in_summary_region(p); });
  return departed();
}

std::vector<ChunkPos> Streamer::recentre(ChunkPos centre) {
  if (centre == centre_) return {};
  centre_ = centre;
  shadowed_.clear();
  reorder_horizon();
  std::erase_if(in_flight, [&](const ChunkPos& p) { return !in_summary_region(p); });
  std::erase_if(held, [&](const auto& e) { return !in_flight.contains(e.first); });
  return departed();
}

std::vector<ChunkPos> Streamer::switch_to(std::string domain, ChunkPos centre) {
  if (domain == domain_) return {};
  domain_ = std::move(domain);
  centre_ = centre;
  shadowed_.clear();
  reorder_horizon();
  in_flight.clear();
  held.clear();
  sealed.clear();
  std::vector<ChunkPos> out(sent.begin(), sent.end());
  for (const auto& [p, level] : summarised_at) out.push_back(p);
  sent.clear();
  summarised_at.clear();
  return out;
}

}  // namespace ostrel_server::transport::stream
