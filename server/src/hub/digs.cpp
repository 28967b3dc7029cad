// The hub's tools and digs: each player's selected tool, dig in progress and yield live in the
// player's record and change under the players lock only.

#include <utility>

#include "base/log.hpp"
#include "hub/hub.hpp"

namespace ostrel_server::transport::endpoint {

namespace proto = ostrel_core::proto;
namespace dig = ostrel_core::dig;

namespace {

constexpr std::string_view kTarget = "ostrel_server::transport::endpoint";

std::uint8_t brush_of(const Tool& tool) {
  return tool.brush == ostrel_core::script::records::Brush::Subnode ? dig::kBrushSubnode : dig::kBrushBlock;
}

// Ends a dig: the dig goes, and the hook's drops with it; the carry stays.
void end_dig(PlayerSim& p) {
  p.dig.reset();
  p.yield.drops.reset();
}

}  // namespace

std::optional<Tool> Shared::resolve_tool(const std::optional<std::string>& id) const {
  if (id) {
    if (auto it = tools_.find(*id); it != tools_.end()) return it->second;
  }
  if (default_tool_) {
    if (auto it = tools_.find(*default_tool_); it != tools_.end()) return it->second;
  }
  return std::nullopt;
}

float Shared::speed_of(const Tool& tool, MaterialId material) const {
  if (auto per_tool = tool_speeds_.find(tool.id); per_tool != tool_speeds_.end()) {
    if (auto it = per_tool->second.find(material); it != per_tool->second.end()) return it->second;
  }
  return tool.speed;
}

bool Shared::select_tool(const PlayerUuid& player, std::optional<std::string> id) {
  if (id && !tools_.contains(*id)) id.reset();
  auto g = players_->lock();
  if (!g) return false;
  auto it = (*g)->find(player);
  if (it == (*g)->end()) return false;
  end_dig(it->second);
  it->second.tool = std::move(id);
  return true;
}

std::uint8_t Shared::place_brush(const PlayerUuid& player) {
  std::optional<std::string> selected;
  {
    auto g = players_->lock();
    if (!g) return 0;
    auto it = (*g)->find(player);
    if (it == (*g)->end()) return 0;
    selected = it->second.tool;
  }
  auto tool = resolve_tool(selected);
  return tool ? brush_of(*tool) : 0;
}

void Shared::set_dig(const PlayerUuid& player, std::optional<SubNodePos> target) {
  auto g = players_->lock();
  if (!g) return;
  auto it = (*g)->find(player);
  if (it == (*g)->end()) return;
  PlayerSim& p = it->second;
  auto tool = target ? resolve_tool(p.tool) : std::nullopt;
  if (!tool) {
    end_dig(p);
    return;
  }
  if (!p.dig) {
    p.dig = dig::Dig::start(*target, brush_of(*tool));
    return;
  }
  if (p.dig->retarget(*target, brush_of(*tool))) p.yield.drops.reset();
}

void Shared::make_dig_whole(const PlayerUuid& player) {
  auto g = players_->lock();
  if (!g) return;
  auto it = (*g)->find(player);
  if (it != (*g)->end() && it->second.dig) it->second.dig->brush = dig::kBrushWhole;
}

DigAdvance Shared::advance_dig(const PlayerUuid& player, std::uint32_t cells, MaterialId material,
                               float hardness) {
  auto g = players_->lock();
  if (!g) return {};
  auto it = (*g)->find(player);
  if (it == (*g)->end() || !it->second.dig) return {};
  auto tool = resolve_tool(it->second.tool);
  if (!tool) return {};
  dig::Dig& d = *it->second.dig;
  const std::uint32_t before = d.removed;
  const std::uint32_t now = d.advance(cells, hardness, speed_of(*tool, material));
  return {now, cells != 0 && d.removed >= d.cells, now > 0 && before == 0};
}

std::optional<proto::server::DigProgress> Shared::dig_progress(const PlayerUuid& player) {
  auto g = players_->lock();
  if (!g) return std::nullopt;
  auto it = (*g)->find(player);
  if (it == (*g)->end() || !it->second.dig) return std::nullopt;
  const dig::Dig& d = *it->second.dig;
  return proto::server::DigProgress{d.target, d.progress()};
}

std::vector<DigEntry> Shared::digs_in_progress() {
  std::vector<DigEntry> out;
  auto g = players_->lock();
  if (!g) return out;
  for (const auto& [id, p] : **g) {
    if (p.dig) out.push_back({id, p.dig->target, p.dig->brush, p.dig->untouched()});
  }
  return out;
}

void Shared::set_dig_drops(const PlayerUuid& player,
                           const std::optional<std::vector<std::pair<std::string, std::uint32_t>>>& drops) {
  std::optional<dig::drops::DropList> list;
  if (drops) {
    list.emplace();
    for (const auto& [name, units] : *drops) {
      auto known = block_ids_.find(name);
      if (known == block_ids_.end()) {
        OSTREL_WARN(kTarget, "a dig hook's `drops` names a block nobody registered; left out",
                    ostrel_core::log::text("block", name));
        continue;
      }
      list->emplace_back(known->second, units);
    }
  }
  auto g = players_->lock();
  if (!g) return;
  auto it = (*g)->find(player);
  if (it != (*g)->end()) it->second.yield.drops = std::move(list);
}

std::vector<Stack> Shared::earn(dig::drops::Yield& yield, const std::vector<Stack>& removed) const {
  std::vector<Stack> earned;
  for (const Stack& s : removed) {
    auto registered = drops_.find(s.material);
    auto got = yield.earn(s.material, s.units, registered == drops_.end() ? nullptr : &registered->second);
    earned.insert(earned.end(), std::make_move_iterator(got.begin()), std::make_move_iterator(got.end()));
  }
  return ostrel_core::inventory::consolidate(earned);
}

std::vector<Stack> Shared::would_yield(const PlayerUuid& player, const std::vector<Stack>& removed) {
  dig::drops::Yield copy;
  {
    auto g = players_->lock();
    if (!g) return removed;
    auto it = (*g)->find(player);
    if (it == (*g)->end()) return removed;
    copy = it->second.yield;
  }
  return earn(copy, removed);
}

std::vector<Stack> Shared::yield_of(const PlayerUuid& player, const std::vector<Stack>& removed) {
  auto g = players_->lock();
  if (!g) return removed;
  auto it = (*g)->find(player);
  if (it == (*g)->end()) return removed;
  return earn(it->second.yield, removed);
}

float Shared::block_hardness_of(MaterialId material) const {
  return dig::hardness::of_material(resistances_, material);
}

float Shared::block_hardness_of(const ostrel_core::block::Cells& cells) const {
  return dig::hardness::of_cells(resistances_, cells);
}

}  // namespace ostrel_server::transport::endpoint
