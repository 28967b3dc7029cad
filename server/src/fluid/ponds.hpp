#pragma once
// Ponds: the fluid stores, every domain's Fluidics by domain name with what they all share (the
// registry, the absorb table and the passable and washes-away lists). One lock, the "fluid
// lock", guards the whole of it; the simulation thread, the world lease and the script
// engine's fluid access reach it through that lock.
//
// Shared is the script engine's fluid access over the locked stores. A poisoned lock makes it
// answer 0, false and none.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/sync.hpp"
#include "fluid/access.hpp"
#include "fluid/fluidics.hpp"

namespace ostrel_server::fluid {

// A changed chunk's fluid for the save; an Empty layer deletes the stored row.
struct DirtyLayer {
  std::string domain;
  ChunkPos pos;
  FluidLayer layer;
  friend bool operator==(const DirtyLayer&, const DirtyLayer&) = default;
};

class Ponds {
 public:
  Ponds(Fluids fluids, AbsorbTable absorbs);

  // The domain's state, made on first use from a copy of the registry and the shared tables.
  Fluidics& of(std::string_view domain);
  // The domain's state, or null; never makes one.
  Fluidics* find(std::string_view domain);
  const Fluidics* find(std::string_view domain) const;
  // Domains that have a state, ascending by name bytes.
  std::vector<std::string> wet_domains() const;
  // Every domain's take_dirty, domains in name order.
  std::vector<DirtyLayer> take_dirty();
  // Sorts the list (duplicates kept) and gives it to the stores and every domain state.
  void set_passable(std::vector<MaterialId> list);
  void set_washes_away(std::vector<MaterialId> list);
  // Drops a destroyed domain's state whole, its unsaved fluid included: the world deletes the
  // domain's stored rows, and a later domain of that name starts dry. False when it had none.
  bool forget_domain(std::string_view domain);

  const Fluids& fluids() const { return fluids_; }
  const Materials& passable() const { return *passable_; }
  const Materials& washes_away() const { return *washes_away_; }

 private:
  Fluids fluids_;
  std::shared_ptr<const AbsorbTable> absorbs_;    // shared read-only with every domain state
  std::shared_ptr<const Materials> passable_;     // the same
  std::shared_ptr<const Materials> washes_away_;  // the same
  std::map<std::string, Fluidics, std::less<>> domains_;
};

// The fluid lock: reads share it, steps and writes hold it alone.
using PondsLock = ostrel_core::sync::RwLock<Ponds>;

class Shared final : public ostrel_core::fluid::Access {
 public:
  explicit Shared(std::shared_ptr<PondsLock> ponds) : ponds_(std::move(ponds)) {}

  // 0 for a domain without a state (none is made).
  Fluid fluid_at(std::string_view domain, BlockPos pos) override;
  // Makes the domain's state when it has none.
  bool set_fluid_at(std::string_view domain, BlockPos pos, Fluid state) override;
  // Placeholders included.
  std::optional<FluidId> fluid_id(std::string_view name) override;

 private:
  std::shared_ptr<PondsLock> ponds_;  // shared with the simulation thread and the world lease
};

}  // namespace ostrel_server::fluid
