// The generation worker: the guarded step over an engine that fails or panics, the fault
// bookkeeping, the floating-point check, and when a worker ends.

#include "worldgen/worker.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <thread>

#include "support/test_world.hpp"
#include "worldgen_fixture.hpp"

namespace ostrel_server::worldgen {
namespace {

using ostrel_core::chunk::Chunk;
using ostrel_core::script::lua_vm::GeneratedChunk;
using ostrel_core::script::vm::ScriptError;

// An engine whose each operation answers, fails or throws as told.
struct FakeEngine {
  enum class Do { Answer, Fail, Throw };
  Do generate = Do::Answer, tint = Do::Answer, fog = Do::Answer;
  std::vector<std::string> faulted;

  template <class T>
  std::expected<T, ScriptError> act(Do what, T value) {
    if (what == Do::Throw) throw std::runtime_error("host fault");
    if (what == Do::Fail) return std::unexpected(ScriptError::runtime("m", "on_generate", "boom"));
    return value;
  }
  std::expected<GeneratedChunk, ScriptError> generate_chunk(std::string_view, std::uint64_t, ChunkPos pos,
                                                            ostrel_core::material::MaterialId) {
    return act(generate, GeneratedChunk{Chunk::filled(pos, 2), {}});
  }
  std::expected<world::Tint, ScriptError> chunk_tint(std::string_view, std::uint64_t, ChunkPos) {
    return act(tint, world::Tint{1, 2, 3});
  }
  std::expected<std::optional<ostrel_core::proto::ChunkFog>, ScriptError> chunk_fog(std::string_view,
                                                                                    std::uint64_t, ChunkPos) {
    return act(fog, std::optional(ostrel_core::proto::ChunkFog{{4, 5, 6}, 7, 8, 9}));
  }
  void fault(std::string_view id) { faulted.emplace_back(id); }
};

TEST(WorkerGenerate, FailuresAndPanicsGiveTheirFallbacks) {
  using Do = FakeEngine::Do;
  const ostrel_core::proto::ChunkFog fog{{4, 5, 6}, 7, 8, 9};
  struct Case {
    const char* name;
    Do generate, tint, fog;
    bool stand_in;
    world::Tint want_tint;
    bool want_fog;
    const char* log;
  };
  const Case cases[] = {
      {"all answer", Do::Answer, Do::Answer, Do::Answer, false, {1, 2, 3}, true, nullptr},
      {"generation fails",
       Do::Fail,
       Do::Answer,
       Do::Answer,
       true,
       {1, 2, 3},
       true,
       "chunk generation failed, falling back to air: mod `m` errored in on_generate"},
      {"tint fails", Do::Answer, Do::Fail, Do::Answer, false, world::kDefaultTint, true, nullptr},
      {"fog fails", Do::Answer, Do::Answer, Do::Fail, false, {1, 2, 3}, false, nullptr},
      {"tint panics", Do::Answer, Do::Throw, Do::Answer, true, world::kDefaultTint, false,
       "generation panicked; the chunk is air"},
      {"fog panics", Do::Answer, Do::Answer, Do::Throw, true, world::kDefaultTint, false,
       "generation panicked; the chunk is air"},
      {"generation panics", Do::Throw, Do::Answer, Do::Answer, true, world::kDefaultTint, false,
       "generation panicked; the chunk is air"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeEngine vm{c.generate, c.tint, c.fog, {}};
    ostrel_server::test::LogLines logs;
    const Job job{"overworld", {1, 2, 3}, 7, 0};
    Generation g = generate(vm, job);
    EXPECT_EQ(g.stand_in, c.stand_in);
    EXPECT_EQ(g.chunk, Chunk::filled(job.pos, c.stand_in ? 0 : 2));
    EXPECT_TRUE(g.fluid.empty());
    EXPECT_EQ(g.tint, c.want_tint);
    EXPECT_EQ(g.fog, c.want_fog ? std::optional(fog) : std::nullopt);
    if (c.log != nullptr) {
      EXPECT_EQ(logs.count(c.log), 1);
      EXPECT_EQ(logs.count("ERROR"), 1);
    } else {
      EXPECT_TRUE(logs.lines().empty());
    }
  }
}

TEST(WorkerFaults, CatchingUpComparesSetsNotCounts) {
  FakeEngine vm;
  std::set<std::string, std::less<>> copy;
  catch_up_faults(vm, {}, copy);
  EXPECT_TRUE(vm.faulted.empty());
  catch_up_faults(vm, {"a"}, copy);
  EXPECT_EQ(vm.faulted, std::vector<std::string>{"a"});
  // The worker faulted "b" on its own; the pool then disabled "c": as many ids on each side.
  copy = {"a", "b"};
  catch_up_faults(vm, {"a", "c"}, copy);
  EXPECT_EQ(vm.faulted, (std::vector<std::string>{"a", "c"}));
  EXPECT_EQ(copy, (std::set<std::string, std::less<>>{"a", "b", "c"}));
  catch_up_faults(vm, {"a", "c"}, copy);
  EXPECT_EQ(vm.faulted.size(), 2u);
}

TEST(WorkerFaults, NewlyFaultedHoldsOnlyNewFaults) {
  EXPECT_EQ(newly_faulted({"a", "c"}, {"a", "b", "c", "d"}), (std::vector<std::string>{"b", "d"}));
  EXPECT_TRUE(newly_faulted({"a"}, {"a"}).empty());
  EXPECT_TRUE(newly_faulted({}, {}).empty());
}

// Runs `body` on a thread that flushes subnormals.
template <class F>
void on_flushing_thread(F body) {
  std::thread t([&] {
    test::flush_subnormals();
    body();
  });
  t.join();
}

// A worker's inputs over fresh channels; the test keeps the other ends.
struct Rig {
  channel::Receiver<Done> results;
  channel::Receiver<Report> reports;
  channel::Sender<Job> jobs;
  WorkerInputs in;

  static Rig make(WorkerSpec spec) {
    auto [job_tx, job_rx] = channel::make<Job>();
    auto [done_tx, done_rx] = channel::make<Done>();
    auto [report_tx, report_rx] = channel::make<Report>();
    WorkerInputs in{0,
                    std::move(spec),
                    std::make_shared<ostrel_core::sync::Mutex<channel::Receiver<Job>>>(std::move(job_rx)),
                    std::move(done_tx),
                    std::make_shared<ostrel_core::sync::RwLock<std::set<std::string, std::less<>>>>(),
                    std::move(report_tx),
                    std::make_shared<ostrel_core::sync::Mutex<Busy>>(),
                    std::make_shared<ostrel_core::clock::ManualClock>(),
                    {}};
    return Rig{std::move(done_rx), std::move(report_rx), std::move(job_tx), std::move(in)};
  }
};

TEST(WorkerStart, AFlushingThreadPanicsWithoutAReport) {
  test::Mods mods({});
  Rig rig = Rig::make(mods.spec());
  std::optional<std::string> panic;
  on_flushing_thread([&] {
    try {
      run_worker(rig.in);
    } catch (const WorkerPanic& e) {
      panic = e.what();
    }
  });
  ASSERT_TRUE(panic);
  EXPECT_TRUE(
      panic->starts_with("this thread's FPU is in flush-to-zero or denormals-are-zero mode: halving the "
                         "smallest normal f32 gave 0x00000000, expected 0x00400000."))
      << *panic;
  rig.in = WorkerInputs{};
  EXPECT_FALSE(rig.reports.recv().has_value());  // closed without a report
}

TEST(WorkerLoop, ReportsThenAnswersEachJobAndEndsWhenTheJobsStop) {
  test::Mods mods({{"terrain",
                    "local s = game.register_block({id = 'stone'})\n"
                    "game.register_on_generate(function(buf) buf:fill_all(s) end)"}});
  Rig rig = Rig::make(mods.spec());
  for (int i = 0; i < 3; ++i)
    ASSERT_TRUE(rig.jobs.send(Job{"overworld", {i, 0, 0}, 7, static_cast<std::uint64_t>(i)}));
  rig.jobs.reset();  // closed once the three are taken
  run_worker(rig.in);
  auto report = rig.reports.try_recv();
  ASSERT_TRUE(report);
  EXPECT_EQ(report->failure, std::nullopt);
  for (std::uint64_t i = 0; i < 3; ++i) {
    auto done = rig.results.try_recv();
    ASSERT_TRUE(done);
    EXPECT_EQ(done->number, i);
    EXPECT_EQ(done->chunk, Chunk::filled(done->pos, 2));
    EXPECT_EQ(done->elapsed, ostrel_core::clock::Duration{});  // the manual clock stood still
  }
  auto slot = rig.in.slot->lock();
  ASSERT_TRUE(slot);
  EXPECT_EQ((*slot)->started, std::nullopt);
}

TEST(WorkerLoop, EndsWhenNobodyTakesResultsOrTheJobLockIsPoisoned) {
  test::Mods mods({});
  {
    Rig rig = Rig::make(mods.spec());
    ASSERT_TRUE(rig.jobs.send(Job{"overworld", {0, 0, 0}, 7, 0}));
    ASSERT_TRUE(rig.jobs.send(Job{"overworld", {1, 0, 0}, 7, 1}));
    rig.results = channel::make<Done>().second;  // the pool's receiver is gone
    run_worker(rig.in);                          // returns after the first job; the jobs stay open
    auto rx = rig.in.jobs->lock();
    ASSERT_TRUE(rx);
    EXPECT_TRUE((*rx)->try_recv());  // the second job was never taken
  }
  {
    Rig rig = Rig::make(mods.spec());
    rig.in.jobs->poison();
    run_worker(rig.in);  // returns at once although the job channel is open
    EXPECT_TRUE(rig.reports.try_recv());
  }
}

}  // namespace
}  // namespace ostrel_server::worldgen
