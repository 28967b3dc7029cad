#pragma once
// Fluidics: one domain's fluid while the server runs: the layers of its chunks, the solver's
// schedule, the per-fluid tunings and which chunks changed since they were saved. It has no
// lock of its own; the fluid stores' lock guards it.
//
// A chunk position is, for the fluid state:
//   unknown  -> loaded            [chunk_loaded]          its layer (if any) taken in
//   unknown  -> poured            [set, or a flow]        the written blocks kept apart, dirty
//   poured   -> loaded, dirty     [chunk_loaded]          the written blocks laid over the stored layer
//   loaded   -> loaded, dirty     [set, or a flow]
//   dirty    -> clean             [take_dirty]            a poured chunk is held back until loaded
//   loaded, clean -> unknown      [forget]                a dirty chunk is refused and kept
// A poured chunk's layer holds only what was written into it, so neither the writes nor the
// stored fluid is lost when the chunk is taken in later.

#include <bitset>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "fluid/fluid.hpp"
#include "fluid/layer.hpp"
#include "fluid/solver.hpp"
#include "fluid/wet.hpp"
#include "light/glowing.hpp"
#include "movement/phys/voxels.hpp"

namespace ostrel_server::world { class World; }

namespace ostrel_server::fluid {

using ostrel_core::fluid::Fluids;
using ostrel_core::fluid::solver::Flow;
using ostrel_core::fluid::solver::Solver;
using ostrel_core::fluid::solver::Tunings;

class Fluidics final : public ostrel_core::phys::voxels::FluidSource, public light::Glowing {
 public:
  // The empty fluid view: no registry, every slot enabled at the default tuning, no layers.
  Fluidics();
  // A state for `fluids`: each registered fluid that is not a placeholder enables its slot with
  // its own tuning; every other slot keeps the default tuning, disabled.
  explicit Fluidics(Fluids fluids);

  // Shared by every domain of the stores, replaced as a whole.
  void set_absorbs(std::shared_ptr<const AbsorbTable> absorbs) { absorbs_ = std::move(absorbs); }
  void set_passable(std::shared_ptr<const Materials> list) { passable_ = std::move(list); }
  void set_washes_away(std::shared_ptr<const Materials> list) { washes_away_ = std::move(list); }

  // The block's state: the layer of its chunk at its local index; 0 without a layer.
  Fluid at(BlockPos pos) const override;
  // A script's write: replaces the block's state, marks the chunk dirty, records a Flow for the
  // next step and wakes the block and its neighbours (also when nothing changed).
  bool set(BlockPos pos, Fluid state);

  // Takes a chunk's stored or generated fluid in; `solid` is the domain's resident chunks. Fluid
  // that is not settled wakes for the next step. A full layer replaces what a clean chunk held;
  // a chunk with unsaved changes keeps its own.
  void chunk_loaded(ChunkPos pos, FluidLayer layer, const Resident& solid);
  void chunk_loaded(ChunkPos pos, FluidLayer layer, std::string_view domain, const world::World& world);

  // One fluid step: the flows `set` recorded since the last step, then this step's in the order
  // they happened. Every chunk a flow touched is marked dirty. Blocked, washed and absorbed
  // records accumulate on the solver for the caller to take.
  std::vector<Flow> tick(const Resident& solid, std::uint64_t step, std::uint64_t seed);
  std::vector<Flow> tick(std::string_view domain, const world::World& world, std::uint64_t step,
                         std::uint64_t seed);
  // The chunks of the flows' positions, ascending.
  static std::set<ChunkPos> touched_chunks(std::span<const Flow> flows);

  // Each dirty chunk that was taken in, ascending, with a copy of its layer (Empty when it has
  // none any more); they become clean. Poured chunks stay dirty until they are taken in.
  std::vector<std::pair<ChunkPos, FluidLayer>> take_dirty();
  // Chunks written into that were never taken in, ascending: the tick loads them.
  std::vector<ChunkPos> poured_into_unloaded() const;
  // Drops a clean chunk's layer and its loaded mark; a dirty chunk is kept and answers false.
  bool forget(ChunkPos pos);

  bool is_loaded(ChunkPos pos) const { return loaded_.contains(pos); }
  bool is_dirty(ChunkPos pos) const { return dirty_.contains(pos); }
  const FluidLayer* layer(ChunkPos pos) const override;
  const Layers& layers() const { return layers_; }
  Solver& solver() { return solver_; }
  const Solver& solver() const { return solver_; }
  const Tunings& tunings() const { return tunings_; }
  const Fluids& fluids() const { return fluids_; }
  const Materials& passable() const { return *passable_; }
  const Materials& washes_away() const { return *washes_away_; }

  // --- Glowing ---
  std::optional<MaterialId> material(FluidId id) const override;
  std::uint8_t falloff(FluidId id) const override;
  bool any_falloff() const override { return any_falloff_; }

 private:
  Wet wet(const Resident& solid);
  // Lays the blocks poured into `pos` over `stored` and forgets the pour.
  FluidLayer lay_pour_over(ChunkPos pos, FluidLayer stored);
  void note_written(BlockPos pos);
  void schedule_unsettled(ChunkPos pos, const Resident& solid);

  Fluids fluids_;                          // the domain's copy of the registry
  Tunings tunings_;
  std::shared_ptr<const AbsorbTable> absorbs_;  // shared with the stores and every domain
  std::shared_ptr<const Materials> passable_;   // the same
  std::shared_ptr<const Materials> washes_away_;
  bool any_falloff_ = false;               // a registered fluid takes light out
  Solver solver_;
  std::vector<Flow> pending_;              // set() since the last step, in order
  Layers layers_;
  std::set<ChunkPos> dirty_;               // changed since the last save
  std::set<ChunkPos> loaded_;              // taken in and not forgotten
  std::map<ChunkPos, std::bitset<ostrel_core::fluid::layer::kBlocks>> poured_;  // blocks written
                                           // into chunks not taken in, by local index
};

}  // namespace ostrel_server::fluid
