#include "worldgen/pool.hpp"

#include <cxxabi.h>
#include <fmt/format.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <limits>
#include <system_error>
#include <thread>

#include "base/log.hpp"
#include "base/text.hpp"
#include "script/lua_vm/convert.hpp"
#include "worldgen/worker.hpp"

namespace ostrel_server::worldgen {

namespace log = ostrel_core::log;
namespace sync = ostrel_core::sync;

namespace {

constexpr std::string_view kTarget = "ostrel_server::worldgen";
constexpr std::size_t kMostWorkers = 16;
constexpr std::size_t kMostDefaultWorkers = 4;

// An optional "+" then one or more digits and nothing else, fitting in 64 bits.
std::optional<std::uint64_t> parse_count(std::string_view s) {
  if (s.starts_with('+')) s.remove_prefix(1);
  if (s.empty()) return std::nullopt;
  std::uint64_t v = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return v;
}

}  // namespace

std::size_t worker_count_from(std::optional<std::string_view> env, std::optional<long> processors) {
  if (env) {
    if (const auto v = parse_count(ostrel_core::text::trim(*env))) {
      return static_cast<std::size_t>(std::min<std::uint64_t>(*v, kMostWorkers));
    }
  }
  if (!processors || *processors <= 0) return 1;
  const auto half = static_cast<std::size_t>(*processors) / 2;
  return std::clamp<std::size_t>(half, 1, kMostDefaultWorkers);
}

std::size_t worker_count() {
  std::optional<std::string_view> env;
  if (const char* raw = std::getenv("OSTREL_GEN_THREADS")) {
    const std::string_view text(raw);
    if (ostrel_core::script::convert::valid_utf8(text) == text) env = text;
  }
  const long p = sysconf(_SC_NPROCESSORS_ONLN);
  return worker_count_from(env, p > 0 ? std::optional<long>(p) : std::nullopt);
}

std::string PoolError::message() const {
  if (kind == PoolErrorKind::Spawn)
    return fmt::format("could not spawn a generation worker: {}", io.message());
  return fmt::format("generation worker {} refused to start: {}", worker, reason);
}

std::expected<Pool, PoolError> Pool::start(const WorkerSpec& spec, std::size_t requested,
                                           StartOptions options) {
  const std::size_t n = std::max<std::size_t>(requested, 1);
  std::shared_ptr<const ostrel_core::clock::Clock> clock = options.clock;
  if (!clock)
    clock = std::shared_ptr<const ostrel_core::clock::Clock>(&ostrel_core::clock::steady(), [](auto*) {});

  Pool pool;
  auto [job_tx, job_rx] = channel::make<Job>();
  auto jobs = std::make_shared<sync::Mutex<channel::Receiver<Job>>>(std::move(job_rx));
  auto [done_tx, done_rx] = channel::make<Done>();
  auto [report_tx, report_rx] = channel::make<Report>();
  pool.disabled_ = std::make_shared<Disabled>();
  pool.clock_ = clock;
  pool.cap_ = 2 * n;

  for (std::size_t i = 0; i < n; ++i) {
    auto slot = std::make_shared<sync::Mutex<Busy>>();
    auto ended = std::make_shared<std::atomic<bool>>(false);
    WorkerInputs in{i, spec, jobs, done_tx, pool.disabled_, report_tx, slot, clock, options.before_job};
    try {
      std::thread t([in = std::move(in), ended, setup = options.thread_setup]() mutable {
        const std::size_t index = in.index;
        const std::string name = fmt::format("worldgen-{}", index);
        pthread_setname_np(pthread_self(), name.c_str());
        try {
          if (setup) setup(index);
          run_worker(in);
        } catch (abi::__forced_unwind&) {
          ended->store(true, std::memory_order_release);
          throw;  // a cancelled thread must finish unwinding
        } catch (const std::exception& e) {
          OSTREL_ERROR(kTarget, fmt::format("generation worker panicked: {}", e.what()),
                       log::value("worker", index));
        } catch (...) {
          OSTREL_ERROR(kTarget, "generation worker panicked", log::value("worker", index));
        }
        in = WorkerInputs{};  // its report sender, job receiver and result sender go here
        ended->store(true, std::memory_order_release);
      });
      t.detach();
    } catch (const std::system_error& e) {
      return std::unexpected(
          PoolError{PoolErrorKind::Spawn, ostrel_core::IoError::from_code(e.code()), 0, {}});
    }
    pool.slots_.push_back(std::move(slot));
    pool.ended_.push_back(std::move(ended));
  }
  // Only the workers hold the job receiver and the report senders from here on.
  jobs.reset();
  report_tx.reset();

  for (std::size_t got = 0; got < n; ++got) {
    auto report = report_rx.recv();
    if (!report) {
      return std::unexpected(
          PoolError{PoolErrorKind::Refused, {}, PoolError::kNoWorker, "a worker exited before reporting"});
    }
    if (report->failure) {
      return std::unexpected(
          PoolError{PoolErrorKind::Refused, {}, report->worker, std::move(*report->failure)});
    }
  }
  OSTREL_INFO(kTarget, "terrain generates off the tick", log::value("workers", n));
  pool.jobs_.emplace(std::move(job_tx));
  pool.results_.emplace(std::move(done_rx));
  return pool;
}

bool Pool::submit(std::string_view domain, ChunkPos pos, std::uint64_t seed) {
  if (in_flight_.size() >= cap_) return false;
  if (is_generating(domain, pos)) return false;
  const std::uint64_t number = next_job_++;
  if (!jobs_ || !jobs_->send(Job{std::string(domain), pos, seed, number})) {
    OSTREL_ERROR(kTarget, "every generation worker has stopped; generating on the tick");
    return false;
  }
  in_flight_.emplace(std::string(domain), pos);
  return true;
}

std::vector<Done> Pool::finished() {
  std::vector<Done> out;
  if (!results_) return out;
  while (auto done = results_->try_recv()) {
    in_flight_.erase(std::pair(done->domain, done->pos));
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(done->elapsed).count();
    if (times_.size() >= kTimesWindow) times_.pop_front();
    times_.push_back(micros < 0 ? 0 : static_cast<std::uint64_t>(micros));
    out.push_back(std::move(*done));
  }
  return out;
}

bool Pool::is_generating(std::string_view domain, ChunkPos pos) const {
  return in_flight_.contains(std::pair(std::string(domain), pos));
}

void Pool::fault(std::span<const std::string> mod_ids) {
  auto set = disabled_->write();
  if (!set) return;  // poisoned: the workers skip their copy step too
  for (const std::string& id : mod_ids) {
    if ((*set)->insert(id).second) {
      OSTREL_WARN(kTarget, "mod disabled in every generation worker", log::text("mod_id", id));
    }
  }
}

Duration Pool::busy(Instant now) const {
  Duration sum{};
  for (const auto& slot : slots_) {
    auto busy = slot->lock();
    if (!busy) continue;
    sum += (*busy)->total;
    if ((*busy)->started && now > *(*busy)->started) sum += now - *(*busy)->started;
  }
  return sum;
}

bool Pool::all_stopped() const {
  return std::all_of(ended_.begin(), ended_.end(),
                     [](const auto& e) { return e->load(std::memory_order_acquire); });
}

}  // namespace ostrel_server::worldgen
