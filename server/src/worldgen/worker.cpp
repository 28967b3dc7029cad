#include "worldgen/worker.hpp"

#include <utility>

#include "detgen/float_mode.hpp"
#include "script/host.hpp"
#include "script/read/records.hpp"

namespace ostrel_server::worldgen {

namespace log = ostrel_core::log;
using ostrel_core::script::lua_vm::LuaVm;

namespace {

constexpr std::string_view kTarget = "ostrel_server::worldgen";

using Host = ostrel_core::script::host::ModHost<LuaVm>;

// The start-up after the floating-point check: the engine, or why the worker refuses.
std::expected<Host, std::string> start_engine(const WorkerSpec& spec) {
  auto host = Host::load_selected_with_options(spec.mods_dir, spec.memory_limit, spec.instruction_budget,
                                               spec.enabled_mods, spec.world_options);
  if (!host) return std::unexpected(fmt::format("could not load the mods: {}", host.error().message()));
  if (auto frozen = host->vm.freeze(); !frozen) {
    return std::unexpected(fmt::format("could not freeze the mods: {}", frozen.error().message()));
  }
  const auto blocks = ostrel_core::script::records::registered_blocks(host->vm);
  if (blocks != spec.blocks) {
    return std::unexpected(
        fmt::format("registered {} materials where the tick registered {}, or in another order",
                    blocks.size(), spec.blocks.size()));
  }
  host->vm.set_fluid_ids(spec.fluid_ids);
  if (const auto skipped = host->vm.load_maps(spec.maps); skipped != 0) {
    return std::unexpected(
        fmt::format("could not install {} of the {} saved maps", skipped, spec.maps.size()));
  }
  return std::move(*host);
}

// Waits for the next job; none when the channel closed or its lock is poisoned.
std::optional<Job> take_job(WorkerInputs& in) {
  auto rx = in.jobs->lock();
  if (!rx) return std::nullopt;
  return (*rx)->recv();
}

void refresh_faults(WorkerInputs& in, LuaVm& vm, std::set<std::string, std::less<>>& copy) {
  auto shared = in.disabled->read();
  if (!shared) return;  // poisoned: keep the faults the worker has
  catch_up_faults(vm, **shared, copy);
}

void set_started(WorkerInputs& in, std::optional<Instant> at, Duration add) {
  if (auto slot = in.slot->lock()) {
    (*slot)->started = at;
    (*slot)->total += add;
  }
}

// The level-of-detail chain of a generated chunk; a chunk that cannot be encoded becomes the
// stand-in, whose own chain is empty should it fail too.
void encode(const WorkerSpec& spec, const Job& job, Generation& g, world::Chain& chain) {
  auto got = world::World::encode_chain(g.chunk, g.fluid, spec.fluids, spec.materials);
  if (got) {
    chain = std::move(*got);
    return;
  }
  OSTREL_ERROR(
      kTarget,
      fmt::format("a generated chunk could not be encoded; the chunk is air: {}", got.error().message()),
      log::value("pos", job.pos));
  world::Tint tint = g.tint;
  auto fog = g.fog;
  g = air_generation(job.pos);
  g.tint = tint;
  g.fog = std::move(fog);
  auto air = world::World::encode_chain(g.chunk, g.fluid, spec.fluids, spec.materials);
  chain = air ? std::move(*air) : world::Chain{};
}

Done answer(const Job& job, Generation g, world::Chain chain, std::vector<std::string> faulted,
            Duration elapsed) {
  return Done{job.domain,
              job.pos,
              job.seed,
              job.number,
              std::move(g.chunk),
              std::move(g.fluid),
              std::move(chain),
              g.tint,
              std::move(g.fog),
              std::move(faulted),
              elapsed,
              g.stand_in};
}

}  // namespace

void check_float_mode_or_panic() {
  if (auto ok = ostrel_core::detgen::check_float_mode(); !ok) throw WorkerPanic(ok.error().message());
}

Generation air_generation(ChunkPos pos) {
  auto air = world::air_stand_in(pos);
  return Generation{std::move(air.chunk), std::move(air.fluid), world::kDefaultTint, std::nullopt, true};
}

std::vector<std::string> newly_faulted(const std::vector<std::string>& before,
                                       const std::vector<std::string>& after) {
  std::vector<std::string> out;
  std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(out));
  return out;
}

void run_worker(WorkerInputs& in) {
  check_float_mode_or_panic();
  auto host = start_engine(in.spec);
  // The report, then the report sender goes: start must not wait on a worker that reported.
  {
    channel::Sender<Report> report = std::move(*in.report);
    in.report.reset();
    report.send(Report{in.index, host ? std::nullopt : std::optional<std::string>(host.error())});
  }
  if (!host) return;
  LuaVm& vm = host->vm;
  std::set<std::string, std::less<>> copy;

  for (;;) {
    if (in.before_job) in.before_job(in.index);
    auto job = take_job(in);
    if (!job) return;
    refresh_faults(in, vm, copy);
    const Instant start = in.clock->now();
    set_started(in, start, Duration{});
    std::optional<Done> done;
    try {
      const auto before = vm.faulted_mods();
      vm.set_world_seed(job->seed);
      Generation g = generate(vm, *job);
      world::Chain chain;
      encode(in.spec, *job, g, chain);
      auto faulted = newly_faulted(before, vm.faulted_mods());
      copy.insert(faulted.begin(), faulted.end());
      const Instant end = in.clock->now();
      done.emplace(answer(*job, std::move(g), std::move(chain), std::move(faulted),
                          end > start ? end - start : Duration{}));
    } catch (abi::__forced_unwind&) {
      throw;
    } catch (...) {
      // Answered all the same, so that no job stays in flight.
      OSTREL_ERROR(kTarget, "generation panicked; the chunk is air", log::value("pos", job->pos));
      done.emplace(answer(*job, air_generation(job->pos), {}, {}, Duration{}));
    }
    set_started(in, std::nullopt, done->elapsed);
    if (!in.results.send(std::move(*done))) return;
  }
}

}  // namespace ostrel_server::worldgen
