// The generation worker pool: the worker count, start and its refusals, submitting, results,
// faults carried to every worker, busy time and the pool after its workers ended.

#include "worldgen/pool.hpp"

#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <string>

#include "detgen/buffer/chunk_buffer.hpp"
#include "support/log_capture.hpp"
#include "support/test_world.hpp"
#include "worldgen_fixture.hpp"

namespace ostrel_server::worldgen {
namespace {

using ostrel_core::chunk::Chunk;
using ostrel_core::material::kAir;
using test::collect;
using test::Mods;

constexpr std::uint16_t kStone = 2;
const std::string kStoneMod =
    "local stone = game.register_block({id = 'stone'})\n"
    "game.register_on_generate(function(buf) buf:fill_all(stone) end)\n";

TEST(WorkerCount, FromTheVariableOrTheProcessors) {
  struct Case {
    std::optional<std::string_view> env;
    std::optional<long> processors;
    std::size_t want;
  };
  const Case cases[] = {
      {"8", 8, 8},
      {" 12 ", 8, 12},
      {"+3", 8, 3},
      {"40", 8, 16},
      {"0", 8, 0},
      {"\u3000"
       "5\t",
       8, 5},
      // Not a count: the processor rule.
      {"-2", 1, 1},
      {"+", 6, 3},
      {"", 16, 4},
      {"two", 1, 1},
      {"18446744073709551616", 6, 3},
      {"3x", 16, 4},
      {std::nullopt, 4, 2},
      {std::nullopt, 5, 2},
      {std::nullopt, 7, 3},
      {std::nullopt, 64, 4},
      {std::nullopt, std::nullopt, 1},
      {"++3", 6, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.env ? std::string(*c.env) : "unset");
    EXPECT_EQ(worker_count_from(c.env, c.processors), c.want);
  }
  EXPECT_EQ(worker_count_from("18446744073709551615", 1), 16u);
}

TEST(PoolStart, ZeroRunsOneWorkerAndThreadsAreNamed) {
  Mods mods({{"terrain", kStoneMod}});
  std::mutex mu;
  std::set<std::string> names;
  StartOptions options;
  options.thread_setup = [&](std::size_t) {
    char name[16] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    std::lock_guard lock(mu);
    names.insert(name);
  };
  ostrel_server::test::LogLines logs;
  auto pool = Pool::start(mods.spec(), 0, options);
  ASSERT_TRUE(pool) << pool.error().message();
  EXPECT_EQ(pool->workers(), 1u);
  EXPECT_EQ(pool->cap(), 2u);
  EXPECT_EQ(logs.count("terrain generates off the tick"), 1);
  {
    std::lock_guard lock(mu);
    EXPECT_EQ(names, std::set<std::string>{"worldgen-0"});
    names.clear();
  }
  auto three = Pool::start(mods.spec(), 3, options);
  ASSERT_TRUE(three);
  EXPECT_EQ(three->cap(), 6u);
  std::lock_guard lock(mu);
  EXPECT_EQ(names, (std::set<std::string>{"worldgen-0", "worldgen-1", "worldgen-2"}));
}

TEST(PoolStart, AWorkerWithAnotherBlockOrderRefuses) {
  std::string blocks;
  for (int i = 0; i < 12; ++i) blocks += "game.register_block({id = 'b" + std::to_string(i) + "'})\n";
  Mods mods({{"many", blocks}});
  auto spec = mods.spec();
  ASSERT_EQ(spec.blocks.size(), 12u);
  std::reverse(spec.blocks.begin(), spec.blocks.end());
  auto pool = Pool::start(spec, 2);
  ASSERT_FALSE(pool);
  EXPECT_EQ(pool.error().kind, PoolErrorKind::Refused);
  EXPECT_LT(pool.error().worker, 2u);
  EXPECT_EQ(pool.error().reason, "registered 12 materials where the tick registered 12, or in another order");
  EXPECT_EQ(pool.error().message(),
            fmt::format("generation worker {} refused to start: registered 12 materials where the tick "
                        "registered 12, or in another order",
                        pool.error().worker));

  spec.blocks.pop_back();
  auto fewer = Pool::start(spec, 1);
  ASSERT_FALSE(fewer);
  EXPECT_EQ(fewer.error().reason,
            "registered 12 materials where the tick registered 11, or in another order");
}

TEST(PoolStart, AMissingModsDirectoryRefusesWithTheHostsText) {
  Mods mods({});
  auto spec = mods.spec();
  spec.mods_dir /= "gone";
  auto pool = Pool::start(spec, 1);
  ASSERT_FALSE(pool);
  EXPECT_EQ(pool.error().worker, 0u);
  EXPECT_TRUE(pool.error().reason.starts_with("could not load the mods: could not read mods from"))
      << pool.error().reason;
}

TEST(PoolStart, ASavedMapThatCannotBeInstalledRefusesTheStart) {
  Mods mods({{"terrain", kStoneMod}});
  auto spec = mods.spec();
  spec.memory_limit = 8u << 20;
  auto small = ostrel_core::detgen::map::Map::create(4, 16, 0, 0);
  auto huge = ostrel_core::detgen::map::Map::create(1024, 16, 0, 0);  // 8 MiB with its snapshot room
  ASSERT_TRUE(small && huge);
  spec.maps.push_back({"terrain", "small", std::move(*small)});
  auto fits = Pool::start(spec, 1);
  ASSERT_TRUE(fits) << fits.error().message();
  spec.maps.push_back({"terrain", "huge", std::move(*huge)});
  auto pool = Pool::start(spec, 1);
  ASSERT_FALSE(pool);
  EXPECT_EQ(pool.error().message(),
            "generation worker 0 refused to start: could not install 1 of the 2 saved maps");
}

TEST(PoolStart, AWorkerThatDiesBeforeReportingRefusesTheStartAmongHealthyOnes) {
  Mods mods({{"terrain", kStoneMod}});
  const auto spec = mods.spec();
  for (const std::size_t sick : {0, 1, 2}) {
    SCOPED_TRACE(sick);
    StartOptions options;
    options.thread_setup = [sick](std::size_t i) {
      if (i == sick) test::flush_subnormals();
    };
    ostrel_server::test::LogLines logs;
    auto pool = Pool::start(spec, 3, options);
    ASSERT_FALSE(pool);
    EXPECT_EQ(pool.error().worker, PoolError::kNoWorker);
    EXPECT_EQ(pool.error().message(),
              "generation worker 18446744073709551615 refused to start: a worker exited before reporting");
    EXPECT_EQ(logs.count("flush-to-zero"), 1);
  }
}

TEST(PoolSubmit, DuplicatesAndAFullPoolAreRefusedWithoutUsingANumber) {
  Mods mods({{"terrain", kStoneMod}});
  auto pool = Pool::start(mods.spec(), 1);
  ASSERT_TRUE(pool);
  EXPECT_TRUE(pool->submit("overworld", {0, 0, 0}, 7));
  EXPECT_FALSE(pool->submit("overworld", {0, 0, 0}, 7));
  EXPECT_EQ(pool->next_job(), 1u);
  EXPECT_TRUE(pool->is_generating("overworld", {0, 0, 0}));
  EXPECT_FALSE(pool->is_generating("my_mod:attic", {0, 0, 0}));
  EXPECT_TRUE(pool->submit("my_mod:attic", {0, 0, 0}, 7));  // another domain, same position
  EXPECT_FALSE(pool->submit("overworld", {5, 0, 0}, 7));    // cap 2 reached
  EXPECT_EQ(pool->next_job(), 2u);
  EXPECT_EQ(pool->in_flight(), 2u);

  auto done = collect(*pool, 2);
  ASSERT_EQ(done.size(), 2u);
  std::sort(done.begin(), done.end(), [](const Done& a, const Done& b) { return a.number < b.number; });
  EXPECT_EQ(done[0].domain, "overworld");
  EXPECT_EQ(done[0].chunk, Chunk::filled({0, 0, 0}, kStone));
  EXPECT_FALSE(done[0].stand_in);
  EXPECT_FALSE(done[0].chain.empty());
  EXPECT_EQ(done[0].tint, world::kDefaultTint);
  EXPECT_EQ(done[1].domain, "my_mod:attic");
  EXPECT_EQ(done[1].chunk, Chunk::filled({0, 0, 0}, kAir));
  EXPECT_EQ(pool->in_flight(), 0u);
  EXPECT_FALSE(pool->is_generating("overworld", {0, 0, 0}));
  EXPECT_TRUE(pool->finished().empty());
  EXPECT_EQ(pool->times().size(), 2u);
}

TEST(PoolFinished, TheWindowKeepsTheLast64Times) {
  Mods mods({{"terrain", kStoneMod}});
  auto pool = Pool::start(mods.spec(), 2);
  ASSERT_TRUE(pool);
  std::size_t got = 0;
  for (int i = 0; i < 65; ++i) {
    while (!pool->submit("overworld", {i, 0, 0}, 7)) got += collect(*pool, 1).size();
  }
  got += collect(*pool, 65 - got).size();
  EXPECT_EQ(got, 65u);
  EXPECT_EQ(pool->times().size(), Pool::kTimesWindow);
}

TEST(PoolFault, FaultsReachEveryWorkerAndNewOnesAreLogged) {
  Mods mods({{"terrain", kStoneMod}});
  auto pool = Pool::start(mods.spec(), 2);
  ASSERT_TRUE(pool);
  ostrel_server::test::LogLines logs;
  const std::vector<std::string> ids{"terrain", "ghost"};
  pool->fault(ids);
  pool->fault(ids);
  EXPECT_EQ(logs.count("mod disabled in every generation worker"), 2);
  for (int i = 0; i < 2; ++i) ASSERT_TRUE(pool->submit("overworld", {i, 0, 0}, 7));
  for (const Done& d : collect(*pool, 2)) {
    EXPECT_EQ(d.chunk, Chunk::filled(d.pos, kAir));
    EXPECT_TRUE(d.newly_faulted.empty());  // faulted by the pool, not during the job
  }
}

TEST(PoolResults, AFailedGenerationIsAStandInAndNamesTheNewlyFaultedMod) {
  Mods mods({{"terrain", kStoneMod + "game.register_chunk_tint(function() return 0.5, 0.5, 0.5 end)"},
             {"shaky",
              "game.register_on_generate(function(buf, pos) if pos.x == 0 then error('cracked') end end)"}});
  auto pool = Pool::start(mods.spec(), 1);
  ASSERT_TRUE(pool);
  ostrel_core::test::LogCapture logs;
  ASSERT_TRUE(pool->submit("overworld", {0, 0, 0}, 7));
  auto first = collect(*pool, 1);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_TRUE(first[0].stand_in);
  EXPECT_EQ(first[0].chunk, Chunk::filled({0, 0, 0}, kAir));
  EXPECT_TRUE(first[0].fluid.empty());
  EXPECT_EQ(first[0].newly_faulted, std::vector<std::string>{"shaky"});
  EXPECT_EQ(first[0].tint, (world::Tint{64, 64, 64}));  // the mods' looks all the same
  const auto failed =
      logs.containing("chunk generation failed, falling back to air: mod `shaky` errored in on_generate");
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_NE(failed[0].find(" ERROR "), std::string::npos) << failed[0];
  EXPECT_NE(failed[0].find("pos=ChunkPos { x: 0, y: 0, z: 0 }"), std::string::npos) << failed[0];

  // The owner carries the fault; the next chunk is the other mod's alone.
  pool->fault(first[0].newly_faulted);
  ASSERT_TRUE(pool->submit("overworld", {0, 0, 0}, 7));
  auto second = collect(*pool, 1);
  ASSERT_EQ(second.size(), 1u);
  EXPECT_FALSE(second[0].stand_in);
  EXPECT_EQ(second[0].chunk, Chunk::filled({0, 0, 0}, kStone));
  EXPECT_TRUE(second[0].newly_faulted.empty());
}

// A clock that moves 5 ms on every reading, so that every job takes 5 ms.
class StridingClock final : public ostrel_core::clock::Clock {
 public:
  ostrel_core::clock::Instant now() const override {
    return ostrel_core::clock::Instant(std::chrono::milliseconds(5 * ++readings_));
  }
  void sleep_until(ostrel_core::clock::Instant) const override {}
  std::optional<std::chrono::steady_clock::time_point> on_steady(ostrel_core::clock::Instant) const override {
    return std::nullopt;
  }
  ostrel_core::clock::StepWatch on_step(std::function<void()>) const override { return {}; }

 private:
  mutable std::atomic<std::int64_t> readings_{0};
};

TEST(PoolBusy, SumsTheFinishedJobs) {
  Mods mods({{"terrain", kStoneMod}});
  StartOptions options;
  options.clock = std::make_shared<StridingClock>();
  auto pool = Pool::start(mods.spec(), 1, options);  // one worker: its two readings are a job's own
  ASSERT_TRUE(pool);
  const auto at = ostrel_core::clock::Instant(std::chrono::hours(1));
  EXPECT_EQ(pool->busy(at), ostrel_core::clock::Duration{});
  std::vector<Done> done;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(pool->submit("overworld", {i, 0, 0}, 7));
    for (Done& d : collect(*pool, 1)) done.push_back(std::move(d));
  }
  ASSERT_EQ(done.size(), 3u);
  for (const Done& d : done) EXPECT_EQ(d.elapsed, std::chrono::milliseconds(5));
  EXPECT_EQ(pool->busy(at), std::chrono::milliseconds(15));
  EXPECT_EQ(pool->times(), (std::deque<std::uint64_t>{5000, 5000, 5000}));
}

TEST(PoolStopped, EverySubmitAfterTheWorkersEndedIsRefusedAndLogged) {
  Mods mods({{"terrain", kStoneMod}});
  StartOptions options;
  options.before_job = [](std::size_t) { throw std::runtime_error("worker lost"); };
  ostrel_server::test::LogLines logs;
  auto pool = Pool::start(mods.spec(), 2, options);
  ASSERT_TRUE(pool);
  ASSERT_TRUE(test::wait_all_stopped(*pool));
  EXPECT_EQ(logs.count("generation worker panicked: worker lost"), 2);
  for (int i = 0; i < 2; ++i) {
    EXPECT_FALSE(pool->submit("overworld", {0, 0, 0}, 7));
    EXPECT_EQ(pool->next_job(), static_cast<std::uint64_t>(i + 1));
  }
  EXPECT_EQ(logs.count("every generation worker has stopped; generating on the tick"), 2);
  EXPECT_EQ(pool->in_flight(), 0u);
}

}  // namespace
}  // namespace ostrel_server::worldgen
