#include "plans/stamps.hpp"

#include <fmt/format.h>

#include <type_traits>

#include "base/log.hpp"
#include "world/block.hpp"

namespace ostrel_server::plans {

namespace log = ostrel_core::log;
namespace seed = transport::endpoint::seed;
using ostrel_core::coords::CellPos;
using transport::endpoint::Seed;

namespace {

constexpr std::string_view kTarget = "ostrel_server::plans";
constexpr std::uint32_t kFull = ostrel_core::block::kOccupancyFull;

// One write of an entry: a seed (cost 1) or a merge (cost: its cells).
struct Write {
  Seed seed;
  std::uint32_t cost = 1;
};

struct Entry {
  std::vector<Write> writes;
  MaterialId material = 0;
  BlockPos block;
};

std::int32_t wrap(std::int64_t v) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(v)); }

// One seed per cell of the mask, in cell order.
void cell_seeds(std::vector<Write>& out, BlockPos b, MaterialId material, std::uint32_t mask) {
  for (std::uint32_t i = 0; i < 27; ++i) {
    if ((mask >> i & 1) == 0) continue;
    out.push_back({seed::Cell{material, b.sub_node(CellPos::from_index(static_cast<std::uint8_t>(i)))}});
  }
}

Entry plan_entry(PlanSource& src, std::uint64_t i, BlockPos at, const Names& names) {
  Entry e;
  const auto& plan = src.plan;
  const auto& raw = plan.cells[i];
  if (raw.palette >= plan.palette.size()) return e;
  if (raw.index >= std::uint32_t{plan.w} * plan.h * plan.d) return e;  // outside the box: nowhere to go
  const std::string& name = plan.palette[raw.palette];
  auto id = names.id_of(name);
  if (!id) {
    OSTREL_DEBUG(kTarget, "a stamped plan names a material nothing registered", log::text("material", name));
    return e;
  }
  const auto c = plan.unpacked(i);
  e.material = *id;
  e.block = {wrap(std::int64_t{at.x} + c.x), wrap(std::int64_t{at.y} + c.y), wrap(std::int64_t{at.z} + c.z)};
  const std::uint32_t mask = c.mask & kFull;
  if (src.written.contains({c.x, c.y, c.z})) {
    cell_seeds(e.writes, e.block, *id, mask);
  } else if (mask == kFull) {
    e.writes.push_back({seed::Whole{*id, e.block}});
  } else if (mask != 0) {
    e.writes.push_back({seed::Masked{*id, e.block, mask}});
  }
  return e;
}

Entry schematic_entry(const StampBlock& b, BlockPos at, const Names& names, const EditQueue& queue) {
  Entry e;
  const std::uint32_t mask = b.mask & kFull;
  if (mask == 0) return e;
  if (b.material != 0 && names.name_of(b.material) == nullptr) {
    OSTREL_DEBUG(kTarget, "a stamped schematic names a material nothing registered",
                 log::value("material", b.material));
    return e;
  }
  const std::int64_t x = std::int64_t{at.x} + b.dx, y = std::int64_t{at.y} + b.dy,
                     z = std::int64_t{at.z} + b.dz;
  auto fits = [](std::int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; };
  if (!fits(x) || !fits(y) || !fits(z)) return e;
  e.material = b.material;
  e.block = {static_cast<std::int32_t>(x), static_cast<std::int32_t>(y), static_cast<std::int32_t>(z)};
  if (mask == kFull) {
    e.writes.push_back({seed::Whole{b.material, e.block}});
  } else if (b.material == 0) {
    cell_seeds(e.writes, e.block, 0, mask);
  } else if (queue.is_whole(b.material)) {
    OSTREL_WARN(
        kTarget,
        "a stamped schematic names part of a whole material; a whole material is written as its own shape, "
        "with a full mask (Sub-Node Contract §7.5)",
        log::value("material", b.material), log::value("x", e.block.x), log::value("y", e.block.y),
        log::value("z", e.block.z));
  } else {
    e.writes.push_back({seed::Merge{b.material, e.block, mask}, ostrel_core::block::mask_cells(mask)});
  }
  return e;
}

std::uint64_t entries_of(const Stamping& s) {
  if (const auto* p = std::get_if<PlanSource>(&s.source)) return p->plan.cells.size();
  return std::get<std::vector<StampBlock>>(s.source).size();
}

transport::endpoint::BlockPos block_of(const Seed& s) {
  return std::visit(
      [](const auto& v) -> BlockPos {
        if constexpr (std::is_same_v<std::decay_t<decltype(v)>, seed::Cell>) {
          return v.pos.block();
        } else {
          return v.pos;
        }
      },
      s);
}

}  // namespace

bool Stamps::enqueue(std::string_view domain, BlockPos at, Source source) {
  auto g = queue_.lock();
  if (!g || (*g)->size() >= kMaxStamps) return false;
  (*g)->push_back(Stamping{std::string(domain), std::move(source), 0, at});
  return true;
}

std::size_t Stamps::waiting() {
  auto g = queue_.lock();
  return g ? (*g)->size() : 0;
}

std::uint64_t Stamps::pump(EditQueue& queue) {
  auto g = queue_.lock();
  if (!g) return 0;
  auto& stamps = **g;
  std::uint64_t budget = kUnitsPerPump;
  std::uint64_t written = 0;
  while (budget > 0 && !stamps.empty()) {
    Stamping& st = stamps.front();
    const std::uint64_t total = entries_of(st);
    const std::uint64_t done_before = st.done;
    std::uint64_t turn = 0;
    while (st.done < total && budget > 0) {
      auto* plan = std::get_if<PlanSource>(&st.source);
      Entry e = plan != nullptr ? plan_entry(*plan, st.done, st.at, *names_)
                                : schematic_entry(std::get<std::vector<StampBlock>>(st.source)[st.done],
                                                  st.at, *names_, queue);
      std::uint64_t cost = 0;
      for (const auto& w : e.writes) cost += w.cost;
      if (budget < kUnitsPerPump && budget < cost) break;
      bool full = false, refused = false, any = false;
      for (const auto& w : e.writes) {
        const auto* m = std::get_if<seed::Merge>(&w.seed);
        const Queued q = m != nullptr ? queue.queue_merge(st.domain, m->pos, m->material, m->mask)
                                      : queue.queue_seed(st.domain, w.seed);
        if (q == Queued::Full) {
          full = true;
          break;
        }
        if (q == Queued::Refused) {
          refused = true;
          break;
        }
        any = true;
        budget -= std::min<std::uint64_t>(budget, w.cost);
        written += w.cost;
        turn += w.cost;
      }
      if (full) break;
      if (refused) {
        // Never accepted, whatever the wait: the entry is skipped. Its cost is spent, so a
        // stamp the queue refuses throughout still takes bounded work per call.
        const BlockPos b = e.writes.empty() ? e.block : block_of(e.writes.front().seed);
        OSTREL_WARN(kTarget, "a stamped entry was refused by the edit queue for good and is skipped",
                    log::value("material", e.material), log::value("x", b.x), log::value("y", b.y),
                    log::value("z", b.z));
        budget -= std::min(budget, cost);
      }
      if (plan != nullptr && any) {
        const auto c = plan->plan.unpacked(st.done);
        plan->written.insert({c.x, c.y, c.z});
      }
      ++st.done;
    }
    if (st.done >= total) {
      OSTREL_DEBUG(kTarget, "a stamp is fully queued", log::text("domain", st.domain),
                   log::value("blocks", total));
      stamps.pop_front();
      continue;
    }
    if (turn == 0 && st.done == done_before) break;
  }
  return written;
}

}  // namespace ostrel_server::plans
