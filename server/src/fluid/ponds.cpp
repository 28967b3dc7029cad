#include "fluid/ponds.hpp"

#include <algorithm>
#include <utility>

namespace ostrel_server::fluid {
namespace {

std::shared_ptr<const Materials> sorted(std::vector<MaterialId> list) {
  std::sort(list.begin(), list.end());
  return std::make_shared<const Materials>(std::move(list));
}

}  // namespace

Ponds::Ponds(Fluids fluids, AbsorbTable absorbs)
    : fluids_(std::move(fluids)),
      absorbs_(std::make_shared<const AbsorbTable>(std::move(absorbs))),
      passable_(std::make_shared<const Materials>()),
      washes_away_(std::make_shared<const Materials>()) {}

Fluidics& Ponds::of(std::string_view domain) {
  auto it = domains_.find(domain);
  if (it != domains_.end()) return it->second;
  Fluidics state(fluids_);
  state.set_absorbs(absorbs_);
  state.set_passable(passable_);
  state.set_washes_away(washes_away_);
  return domains_.emplace(std::string(domain), std::move(state)).first->second;
}

Fluidics* Ponds::find(std::string_view domain) {
  auto it = domains_.find(domain);
  return it == domains_.end() ? nullptr : &it->second;
}

const Fluidics* Ponds::find(std::string_view domain) const {
  auto it = domains_.find(domain);
  return it == domains_.end() ? nullptr : &it->second;
}

std::vector<std::string> Ponds::wet_domains() const {
  std::vector<std::string> out;
  out.reserve(domains_.size());
  for (const auto& [name, unused] : domains_) out.push_back(name);
  return out;
}

std::vector<DirtyLayer> Ponds::take_dirty() {
  std::vector<DirtyLayer> out;
  for (auto& [name, state] : domains_) {
    for (auto& [pos, layer] : state.take_dirty()) out.push_back({name, pos, std::move(layer)});
  }
  return out;
}

void Ponds::set_passable(std::vector<MaterialId> list) {
  passable_ = sorted(std::move(list));
  for (auto& [name, state] : domains_) state.set_passable(passable_);
}

void Ponds::set_washes_away(std::vector<MaterialId> list) {
  washes_away_ = sorted(std::move(list));
  for (auto& [name, state] : domains_) state.set_washes_away(washes_away_);
}

bool Ponds::forget_domain(std::string_view domain) {
  auto it = domains_.find(domain);
  if (it == domains_.end()) return false;
  domains_.erase(it);
  return true;
}

Fluid Shared::fluid_at(std::string_view domain, BlockPos pos) {
  auto ponds = ponds_->read();
  if (!ponds) return Fluid{};
  const Fluidics* state = (*ponds)->find(domain);
  return state ? state->at(pos) : Fluid{};
}

bool Shared::set_fluid_at(std::string_view domain, BlockPos pos, Fluid state) {
  auto ponds = ponds_->write();
  if (!ponds) return false;
  return (*ponds)->of(domain).set(pos, state);
}

std::optional<FluidId> Shared::fluid_id(std::string_view name) {
  auto ponds = ponds_->read();
  if (!ponds) return std::nullopt;
  return (*ponds)->fluids().id_of(name);
}

}  // namespace ostrel_server::fluid
