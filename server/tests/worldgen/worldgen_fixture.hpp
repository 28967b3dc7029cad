#pragma once
// What the pool tests share: a mods directory written from texts, the simulation engine loaded
// from it, the WorkerSpec a start-up would build from that engine, and a bounded wait for
// results.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "persist/idmap.hpp"
#include "script/host.hpp"
#include "script/read/records.hpp"
#include "support/flush_subnormals.hpp"
#include "support/mod_files.hpp"
#include "support/temp_dir.hpp"
#include "worldgen/pool.hpp"

namespace ostrel_server::worldgen::test {

using Host = ostrel_core::script::host::ModHost<ostrel_core::script::lua_vm::LuaVm>;

inline constexpr std::uint64_t kMemory = 64ull << 20;
inline constexpr std::uint32_t kBudget = 2'000'000;

// Mods written into a temporary directory, or a fixture directory of the tests, loaded into
// the simulation's engine.
struct Mods {
  std::optional<ostrel_core::test::TempDir> temp;
  std::filesystem::path root;

  explicit Mods(std::initializer_list<std::pair<const char*, std::string>> mods)
      : temp(std::in_place), root(temp->path()) {
    for (const auto& [id, init] : mods) ostrel_core::test::write_mod(root, id, init);
  }
  // The fixture mods directory server/tests/fixtures/mods as it stands in the source tree.
  struct Fixture {};
  explicit Mods(Fixture) : root(std::filesystem::path(OSTREL_SOURCE_DIR) / "server/tests/fixtures/mods") {}

  Host load() const {
    auto host = Host::load_selected_with_options(root, kMemory, kBudget, std::nullopt, {});
    EXPECT_TRUE(host) << (host ? "" : host.error().message());
    EXPECT_TRUE(host->vm.freeze());
    return std::move(*host);
  }

  // The spec of a start-up whose engine registered what `sim` did.
  WorkerSpec spec(const Host& sim) const {
    WorkerSpec s;
    s.mods_dir = root;
    s.memory_limit = kMemory;
    s.instruction_budget = kBudget;
    s.materials = ostrel_core::persist::idmap::MaterialMap::identity_map();
    s.blocks = ostrel_core::script::records::registered_blocks(sim.vm);
    return s;
  }
  WorkerSpec spec() const { return spec(load()); }
};

// Collects results until `n` arrived; fails the test after 60 seconds rather than hanging.
inline std::vector<Done> collect(Pool& pool, std::size_t n) {
  std::vector<Done> out;
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (out.size() < n) {
    for (auto& d : pool.finished()) out.push_back(std::move(d));
    if (std::chrono::steady_clock::now() > give_up) {
      ADD_FAILURE() << "only " << out.size() << " of " << n << " results arrived";
      break;
    }
    std::this_thread::yield();
  }
  return out;
}

using ostrel_core::test::flush_subnormals;

// Waits until every worker ended; false after 60 seconds.
inline bool wait_all_stopped(const Pool& pool) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!pool.all_stopped()) {
    if (std::chrono::steady_clock::now() > give_up) return false;
    std::this_thread::yield();
  }
  return true;
}

}  // namespace ostrel_server::worldgen::test
