#include "fluid/edits.hpp"

#include "base/log.hpp"

namespace ostrel_server::fluid {
namespace {

constexpr std::string_view kTarget = "ostrel_server::fluid";
namespace seed = transport::endpoint::seed;

bool queued(plans::Queued answer) { return answer == plans::Queued::Queued; }

}  // namespace

std::optional<ostrel_core::material::MaterialId> Edits::material_of(std::string_view block) const {
  // Air is the engine's, not a mod's: no registration lists it, yet writing it clears a block.
  if (block == ostrel_core::material::kAirName) return ostrel_core::material::kAir;
  auto it = blocks_.find(block);
  if (it != blocks_.end()) return it->second;
  OSTREL_DEBUG(kTarget, "a mod asked to place a block nothing registered", ostrel_core::log::text("block", block));
  return std::nullopt;
}

bool Edits::set_block(std::string_view domain, ostrel_core::coords::BlockPos pos, std::string_view block) {
  const auto m = material_of(block);
  return m && queued(hub_->queue_seed(domain, seed::Whole{*m, pos}));
}

bool Edits::set_partial(std::string_view domain, ostrel_core::coords::BlockPos pos, std::string_view block,
                        std::uint32_t mask) {
  const auto m = material_of(block);
  return m && queued(hub_->queue_seed(domain, seed::Masked{*m, pos, mask}));
}

bool Edits::merge_partial(std::string_view domain, ostrel_core::coords::BlockPos pos, std::string_view block,
                          std::uint32_t mask) {
  const auto m = material_of(block);
  return m && queued(hub_->queue_merge(domain, pos, *m, mask));
}

}  // namespace ostrel_server::fluid
