// The hub's action queues: what connection tasks push for the tick, and the seeds and merges
// that mods and plan stamping push.

#include <algorithm>
#include <utility>
#include <variant>

#include "base/log.hpp"
#include "hub/hub.hpp"

namespace ostrel_server::transport::endpoint {
namespace {

constexpr std::string_view kTarget = "ostrel_server::transport::endpoint";
constexpr std::uint32_t kFullMask = ostrel_core::proto::kFullMask;

void warn_whole(std::string_view text, MaterialId material) {
  OSTREL_WARN(kTarget, text, ostrel_core::log::value("material", material));
}

constexpr std::string_view kOneCell =
    "a mod asked to write one cell of a whole material; a whole material is written as its own shape, with "
    "`set_block` (Sub-Node Contract §7.5)";
constexpr std::string_view kPart =
    "a mod asked to write part of a whole material; a whole material is written as its own shape, with "
    "`set_block` (Sub-Node Contract §7.5)";
constexpr std::string_view kMerge =
    "a mod asked to merge a whole material into a block; a whole material is written as its own shape, with "
    "`set_block` (Sub-Node Contract §7.5)";

}  // namespace

bool Shared::queue_edit(const PlayerUuid& player, ostrel_core::proto::Edit edit) {
  return edits_.push({player, std::move(edit)});
}

bool Shared::queue_punch(const PlayerUuid& player, std::uint64_t entity) {
  return punches_.push({player, entity});
}

bool Shared::queue_use(const PlayerUuid& player, std::optional<SubNodePos> target) {
  return uses_.push({player, target});
}

bool Shared::queue_action(const PlayerUuid& player, std::string action, bool pressed) {
  const auto& table = tables_.actions;
  if (std::none_of(table.begin(), table.end(), [&](const auto& def) { return def.id == action; }))
    return false;
  return actions_.push({player, std::move(action), pressed});
}

bool Shared::queue_setting_change(const PlayerUuid& player, std::string setting, std::uint32_t value) {
  return setting_changes_.push({player, std::move(setting), value});
}

bool Shared::queue_chat(const PlayerUuid& player, std::string text) {
  return chat_.push({player, std::move(text)});
}

bool Shared::queue_dialog_event(const PlayerUuid& player, std::string form,
                                ostrel_core::proto::DialogEvent event) {
  return dialog_events_.push({player, std::move(form), std::move(event)});
}

bool Shared::queue_placement(PlacementRequest request) { return placements_.push(std::move(request)); }

// --- Seeds and merges.

bool Shared::is_whole(MaterialId material) const { return whole_materials_.contains(material); }

plans::Queued Shared::push_seed(std::string_view domain, Seed seed) {
  return seeds_.offer({std::string(domain), std::move(seed)});
}

plans::Queued Shared::queue_seed(std::string_view domain, const Seed& seed) {
  if (const auto* merge = std::get_if<seed::Merge>(&seed)) {
    return queue_merge(domain, merge->pos, merge->material, merge->mask);
  }
  auto material = std::visit([](const auto& s) { return s.material; }, seed);
  auto shape = whole_materials_.find(material);
  if (shape == whole_materials_.end()) return push_seed(domain, seed);

  if (std::holds_alternative<seed::Cell>(seed)) {
    warn_whole(kOneCell, material);
    return plans::Queued::Refused;
  }
  if (const auto* masked = std::get_if<seed::Masked>(&seed)) {
    if (masked->mask != shape->second) {
      warn_whole(kPart, material);
      return plans::Queued::Refused;
    }
    return push_seed(domain, seed);
  }
  const auto& whole = std::get<seed::Whole>(seed);
  if (shape->second == kFullMask) return push_seed(domain, seed);
  return push_seed(domain, seed::Masked{whole.material, whole.pos, shape->second});
}

plans::Queued Shared::queue_merge(std::string_view domain, BlockPos pos, MaterialId material,
                                  std::uint32_t mask) {
  if (is_whole(material)) {
    warn_whole(kMerge, material);
    return plans::Queued::Refused;
  }
  return push_seed(domain, seed::Merge{material, pos, mask});
}

}  // namespace ostrel_server::transport::endpoint
