#pragma once
// The body of one generation worker thread. Start-up: the floating-point check (a thread that
// flushes subnormals panics without reporting), the mods loaded and frozen in an engine of its
// own, the block list compared with the simulation's, fluid ids and saved maps installed; then
// one report. Then jobs one at a time until the job channel closes or nobody takes results.
//
// A job once taken is always answered: a generator that fails gives the all-air stand-in, and so
// does a panic anywhere after the job was taken.

#include <cxxabi.h>
#include <fmt/format.h>

#include <algorithm>
#include <exception>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/log.hpp"
#include "world/material.hpp"
#include "worldgen/pool.hpp"

namespace ostrel_server::worldgen {

// A worker's thread failing outside the guarded step: its owner sees it as panicked.
class WorkerPanic : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Panics (WorkerPanic with NotIeeeMode's text) unless the calling thread keeps subnormals.
void check_float_mode_or_panic();

// Runs the worker until it ends. May throw WorkerPanic. The caller drops `in` afterwards, once it
// logged a panic, so that a start waiting on the report sees the line first.
void run_worker(WorkerInputs& in);

// What the guarded step gives for one job.
struct Generation {
  ostrel_core::chunk::Chunk chunk;
  ostrel_core::fluid::layer::FluidLayer fluid;
  world::Tint tint = world::kDefaultTint;
  std::optional<ostrel_core::proto::ChunkFog> fog;
  bool stand_in = false;
};

// The all-air stand-in with the neutral looks.
Generation air_generation(ChunkPos pos);

// Generates the job's chunk and asks its tint and fog with `vm`. A failed generation gives the
// all-air stand-in, logged at ERROR, and still the mods' tint and fog; a failed tint or fog gives
// the defaults; a panic anywhere gives the stand-in with the defaults. The engine stays usable.
template <class Engine>
Generation generate(Engine& vm, const Job& job) {
  namespace log = ostrel_core::log;
  try {
    auto made = vm.generate_chunk(job.domain, job.seed, job.pos, ostrel_core::material::kAir);
    if (!made) {
      OSTREL_ERROR("ostrel_server::worldgen",
                   fmt::format("chunk generation failed, falling back to air: {}", made.error().message()),
                   log::value("pos", job.pos));
    }
    Generation out =
        made ? Generation{std::move(made->chunk), std::move(made->fluid)} : air_generation(job.pos);
    auto tint = vm.chunk_tint(job.domain, job.seed, job.pos);
    out.tint = tint ? *tint : world::kDefaultTint;
    auto fog = vm.chunk_fog(job.domain, job.seed, job.pos);
    out.fog = fog ? *fog : std::nullopt;
    return out;
  } catch (abi::__forced_unwind&) {
    throw;  // a cancelled thread must finish unwinding
  } catch (...) {
    // The engine catches every script error itself; what reaches here is a fault of the host.
    OSTREL_ERROR("ostrel_server::worldgen", "generation panicked; the chunk is air",
                 log::value("pos", job.pos));
    return air_generation(job.pos);
  }
}

// Brings the worker's engine up to the shared disabled set: faults every mod in `shared` that is
// not in `copy`, then makes `copy` equal to `shared` plus the mods the worker faulted itself.
template <class Engine>
void catch_up_faults(Engine& vm, const std::set<std::string, std::less<>>& shared,
                     std::set<std::string, std::less<>>& copy) {
  if (std::includes(copy.begin(), copy.end(), shared.begin(), shared.end())) return;
  for (const std::string& id : shared) {
    if (!copy.contains(id)) {
      vm.fault(id);
      copy.insert(id);
    }
  }
}

// The ids of `after` that are not in `before`, sorted. Both sorted.
std::vector<std::string> newly_faulted(const std::vector<std::string>& before,
                                       const std::vector<std::string>& after);

}  // namespace ostrel_server::worldgen
