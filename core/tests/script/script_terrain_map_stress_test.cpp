// A map handle read and written from several threads: every snapshot is one whole state of the
// map, with the range of its own samples.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "script/api/terrain.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

TEST(MapHandleStress, SnapshotsAreWholeStates) {
  auto shared = std::make_shared<MapShared>(*detgen::map::Map::create(8, 1, 0, 0));
  const MapHandle handle{shared};
  // Start from a whole state too, so a reader that runs before every writer sees one.
  {
    auto map = handle.locked();
    ASSERT_TRUE(map);
    for (std::size_t k = 0; k < (*map)->samples.size(); ++k) (*map)->samples[k] = static_cast<float>(k);
  }
  constexpr int kRounds = 2000;
  std::atomic<int> bad{0};
  std::vector<std::thread> threads;
  // Writers set sample k to v + k under the lock and raise the revision.
  for (int w = 0; w < 2; ++w) {
    threads.emplace_back([&, w] {
      for (int i = 0; i < kRounds; ++i) {
        auto map = handle.locked();
        if (!map) {
          ++bad;
          return;
        }
        const float v = static_cast<float>(w * kRounds + i);
        for (std::size_t k = 0; k < (*map)->samples.size(); ++k)
          (*map)->samples[k] = v + static_cast<float>(k);
        ++(*map)->revision;
      }
    });
  }
  for (int r = 0; r < 2; ++r) {
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        const auto s = handle.snapshot();
        if (!s) {
          ++bad;
          return;
        }
        const auto& samples = s->map->samples;
        const auto [lo, hi] = std::minmax_element(samples.begin(), samples.end());
        const bool whole = samples.back() - samples.front() == static_cast<float>(samples.size() - 1);
        if (s->revision != s->map->revision || s->low != *lo || s->high != *hi || !whole) ++bad;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(bad.load(), 0);
  const auto last = handle.snapshot();
  ASSERT_TRUE(last);
  EXPECT_EQ(last->revision, 2u * kRounds);
}

}  // namespace
}  // namespace ostrel_core::script::lua_vm
