#pragma once
// Pool: the generation worker pool. The simulation thread owns it and is its only caller; each
// worker is a thread named "worldgen-{i}" with a script engine of its own (worker.hpp), loaded
// with the same mods, so a slow generator never stalls a tick.
//
// Once a tick the owner calls, in order: all_stopped (true: generate on the tick from now on),
// fault with its own engine's faults, finished, fault with each result's newly_faulted, then
// is_generating and submit for each chunk still missing. Results come in the order workers
// finish them; the owner adopts them by job number.
//
// Dropping the pool closes the job and result channels and detaches the threads: an idle worker
// ends at once, a busy one after its job. Nothing waits for them.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/clock.hpp"
#include "base/error.hpp"
#include "base/sync.hpp"
#include "fluid/fluid.hpp"
#include "fluid/layer.hpp"
#include "persist/idmap.hpp"
#include "proto/records/sky.hpp"
#include "script/lua_vm/lua_vm.hpp"
#include "world/chunk.hpp"
#include "world/coords.hpp"
#include "world/world.hpp"
#include "worldgen/channel.hpp"

namespace ostrel_server::worldgen {

using ostrel_core::clock::Duration;
using ostrel_core::clock::Instant;
using ostrel_core::coords::ChunkPos;

// One chunk to generate. Jobs are numbered 0, 1, 2, ... in submission order.
struct Job {
  std::string domain;
  ChunkPos pos;
  std::uint64_t seed = 0;
  std::uint64_t number = 0;
};

// One finished job.
struct Done {
  std::string domain;
  ChunkPos pos;
  std::uint64_t seed = 0;
  std::uint64_t number = 0;
  ostrel_core::chunk::Chunk chunk;
  ostrel_core::fluid::layer::FluidLayer fluid;  // empty when the generators poured none
  world::Chain chain;                           // level-of-detail summaries, world material ids
  world::Tint tint = world::kDefaultTint;
  std::optional<ostrel_core::proto::ChunkFog> fog;
  std::vector<std::string> newly_faulted;  // mods first faulted in this job, sorted
  Duration elapsed{};                      // from taking the job to the result being complete
  // The all-air chunk given for a failed generation: kept resident and clean, never stored,
  // generated again on its next load.
  bool stand_in = false;
};

// What every worker starts from; each gets its own copy.
struct WorkerSpec {
  std::filesystem::path mods_dir;
  std::uint64_t memory_limit = 0;
  std::uint32_t instruction_budget = 0;
  std::optional<std::vector<std::string>> enabled_mods;
  std::vector<std::pair<std::string, std::string>> world_options;
  std::vector<std::pair<std::string, std::uint8_t>> fluid_ids;
  ostrel_core::fluid::Fluids fluids;
  ostrel_core::persist::idmap::MaterialMap materials;
  // The simulation engine's registered blocks in its order; a worker whose own differ refuses.
  std::vector<std::pair<std::string, ostrel_core::material::MaterialId>> blocks;
  std::vector<ostrel_core::script::lua_vm::SavedMap> maps;
};

// One worker's busy time.
struct Busy {
  std::optional<Instant> started;  // the current job's start; none while idle
  Duration total{};                // the worker's finished jobs
};

enum class PoolErrorKind : std::uint8_t {
  Spawn,    // a worker thread could not be created: io
  Refused,  // a worker reported a failure at start-up, or ended before reporting: worker, reason
};

class PoolError {
 public:
  PoolErrorKind kind = PoolErrorKind::Refused;
  ostrel_core::IoError io;   // Spawn
  std::uint64_t worker = 0;  // Refused: the worker's index; kNoWorker when none in particular
  std::string reason;        // Refused

  static constexpr std::uint64_t kNoWorker = 0xFFFF'FFFF'FFFF'FFFF;

  // "could not spawn a generation worker: {}" or "generation worker {} refused to start: {}".
  std::string message() const;
  const ostrel_core::ErrorSource* source() const { return nullptr; }
};

// How the threads of a pool start; tests give their own clock and setup.
struct StartOptions {
  std::shared_ptr<const ostrel_core::clock::Clock> clock;  // none: the steady clock
  // Runs first on each worker thread with its index (before the floating-point check).
  std::function<void(std::size_t)> thread_setup;
  // Runs on a worker thread before it waits for each job; what it throws ends the worker as a
  // panic outside the guarded step would.
  std::function<void(std::size_t)> before_job;
};

// The workers to run, from OSTREL_GEN_THREADS or the processors online; 0 means no pool.
std::size_t worker_count();
// The same from the variable's value (none when unset or not UTF-8) and the processor count
// (none when it cannot be read).
std::size_t worker_count_from(std::optional<std::string_view> env, std::optional<long> processors);

// A start-up report: a worker's index and, for a refusal, why.
struct Report {
  std::size_t worker = 0;
  std::optional<std::string> failure;
};

// What one worker thread is given. Shared parts are reached through shared handles.
struct WorkerInputs {
  std::size_t index = 0;
  WorkerSpec spec;
  std::shared_ptr<ostrel_core::sync::Mutex<channel::Receiver<Job>>> jobs;
  channel::Sender<Done> results;
  std::shared_ptr<ostrel_core::sync::RwLock<std::set<std::string, std::less<>>>> disabled;
  std::optional<channel::Sender<Report>> report;  // dropped once the worker reported
  std::shared_ptr<ostrel_core::sync::Mutex<Busy>> slot;
  std::shared_ptr<const ostrel_core::clock::Clock> clock;
  std::function<void(std::size_t)> before_job;  // see StartOptions
};

class Pool {
 public:
  Pool(Pool&&) noexcept = default;
  Pool& operator=(Pool&&) noexcept = default;
  Pool(const Pool&) = delete;
  Pool& operator=(const Pool&) = delete;
  ~Pool() = default;

  // Starts max(requested, 1) workers and returns once each has reported, or once every worker
  // that had not reported has ended.
  [[nodiscard]] static std::expected<Pool, PoolError> start(const WorkerSpec& spec, std::size_t requested,
                                                            StartOptions options = {});

  // Queues a job; false when `cap` jobs are in flight, the chunk already is, or every worker
  // has ended (logged each time). A refusal for the last reason still uses up a job number.
  bool submit(std::string_view domain, ChunkPos pos, std::uint64_t seed);
  // The results that arrived since the last call, without waiting.
  std::vector<Done> finished();
  bool is_generating(std::string_view domain, ChunkPos pos) const;
  // Disables the mods in every worker before its next job; each new one is logged.
  void fault(std::span<const std::string> mod_ids);
  // The workers' generating time up to `now`, running jobs included.
  Duration busy(Instant now) const;
  // Whether every worker thread has ended.
  bool all_stopped() const;

  std::size_t workers() const { return ended_.size(); }
  std::size_t in_flight() const { return in_flight_.size(); }
  std::size_t cap() const { return cap_; }
  std::uint64_t next_job() const { return next_job_; }
  // The last 64 generation times in microseconds, oldest first.
  const std::deque<std::uint64_t>& times() const { return times_; }

  static constexpr std::size_t kTimesWindow = 64;

 private:
  using Disabled = ostrel_core::sync::RwLock<std::set<std::string, std::less<>>>;
  Pool() = default;

  // Constant after start.
  std::size_t cap_ = 0;
  std::vector<std::shared_ptr<std::atomic<bool>>> ended_;  // one per worker, set as its thread ends
  std::vector<std::shared_ptr<ostrel_core::sync::Mutex<Busy>>> slots_;
  std::shared_ptr<Disabled> disabled_;
  std::shared_ptr<const ostrel_core::clock::Clock> clock_;

  // The simulation thread's own.
  std::optional<channel::Sender<Job>> jobs_;
  std::optional<channel::Receiver<Done>> results_;
  std::deque<std::uint64_t> times_;
  std::set<std::pair<std::string, ChunkPos>> in_flight_;  // by domain (bytewise), then x, y, z
  std::uint64_t next_job_ = 0;
};

}  // namespace ostrel_server::worldgen
