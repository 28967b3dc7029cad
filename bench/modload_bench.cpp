// Mod packages: loading one manifest, resolving a large mod set, indexing a mod's content and
// cutting download slices.
#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include <filesystem>
#include <string>
#include <vector>

#include "modload/content.hpp"
#include "modload/manifest.hpp"
#include "modload/resolve.hpp"
#include "mods/content.hpp"
#include "scratch.hpp"

namespace {

namespace fs = std::filesystem;
using namespace ostrel_core;

using ostrel_bench::Scratch;
using ostrel_bench::write;

// Image-like bytes: runs and noise, so zstd has some but not all work to skip.
std::string asset(std::size_t n, std::uint32_t seed) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) {
    seed = seed * 1103515245u + 12345u;
    s[i] = static_cast<char>((i / 64) % 3 == 0 ? (seed >> 16) : (i / 64));
  }
  return s;
}

constexpr const char* kManifest = R"(
id = "tour"
name = "Tour"
version = "1.4.2"
depends = ["base >=0.2, <1", "lib ^1.2"]
optional_depends = ["extras"]
provides = ["old_tour"]
description = "a typical mod"
license = "MIT"

[[world_option]]
id = "size"
name = "World size"
options = ["small", "medium", "large"]
default = 2

[[setting]]
id = "hud"
name = "Show HUD"

[theme]
font = "fonts/title.ttf"
sheet = "ui/sheet.png"
[theme.colours]
text = "#e0e0e0"
accent = "#a0b0c080"
)";

void BM_ManifestLoad(benchmark::State& state) {
  Scratch dir;
  write(dir.path() / "mod.toml", kManifest);
  write(dir.path() / "init.lua", "");
  for (auto _ : state) {
    auto m = modload::manifest::ModManifest::load(dir.path());
    if (!m) state.SkipWithError("load failed");
    benchmark::DoNotOptimize(m);
  }
}
BENCHMARK(BM_ManifestLoad);

// `n` mods, each depending on up to three earlier ones, a tenth of them reference mods.
std::vector<modload::manifest::DiscoveredMod> mod_set(int n) {
  std::vector<modload::manifest::DiscoveredMod> mods;
  for (int i = 0; i < n; ++i) {
    modload::manifest::ModManifest m{.id = fmt::format("mod{:04}", i), .name = "M", .version = "1.0.0"};
    for (int k = 1; k <= 3 && i - k * 7 >= 0; ++k) m.depends.push_back(fmt::format("mod{:04} >=1", i - k * 7));
    m.reference = i % 10 == 0;
    mods.push_back({std::move(m), fs::path("/mods") / fmt::format("mod{:04}", i)});
  }
  return mods;
}

void BM_Resolve(benchmark::State& state) {
  const auto mods = mod_set(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    auto set = modload::resolve::resolve(mods);
    if (!set) state.SkipWithError("resolve failed");
    benchmark::DoNotOptimize(set);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Resolve)->Arg(20)->Arg(200);

// One mod of 64 files of 64 KiB.
void BM_IndexMod(benchmark::State& state) {
  Scratch dir;
  for (int i = 0; i < 64; ++i)
    write(dir.path() / fmt::format("textures/t{}.png", i), asset(65'536, static_cast<std::uint32_t>(i)));
  for (auto _ : state) {
    content::ContentIndex index;
    auto h = index.add_mod_with("m", dir.path(), {});
    if (!h) state.SkipWithError("index failed");
    benchmark::DoNotOptimize(h);
  }
  state.SetBytesProcessed(state.iterations() * 64 * 65'536);
}
BENCHMARK(BM_IndexMod)->Unit(benchmark::kMillisecond);

// One connection downloading a 4 MiB file: every call to next_slices until it is sent.
void BM_Slices(benchmark::State& state) {
  Scratch dir;
  const std::string file = asset(4 << 20, 9);
  write(dir.path() / "m" / "big.png", file);
  content::ContentIndex index;
  auto r = index.add_mod_with("m", dir.path() / "m", {});
  if (!r) return state.SkipWithError("index failed");
  const auto hash = content::hash_bytes(
      {reinterpret_cast<const std::uint8_t*>(file.data()), file.size()});
  std::size_t compressed = 0;
  for (auto _ : state) {
    ostrel_server::content::Transfers t;
    t.request(std::span(&hash, 1), index);
    for (auto slices = t.next_slices(index); !slices.empty(); slices = t.next_slices(index))
      for (const auto& s : slices) compressed += s.data.size();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(file.size()));
  state.counters["ratio"] = static_cast<double>(compressed) /
                            static_cast<double>(state.iterations() * file.size());
}
BENCHMARK(BM_Slices)->Unit(benchmark::kMillisecond);

}  // namespace
