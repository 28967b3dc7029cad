#pragma once
// Services for the runtime `game` function tests: each records what it was asked and answers
// from a map the test fills.

#include <fmt/format.h>

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fluid/access.hpp"
#include "light/source.hpp"
#include "movement/sight.hpp"
#include "script/vm.hpp"
#include "world/coords.hpp"
#include "world/domain.hpp"

namespace ostrel_core::test {

using Place = std::pair<std::string, coords::BlockPos>;

class FakeFluids final : public fluid::Access {
 public:
  std::map<Place, fluid::Fluid> states;
  std::map<std::string, fluid::FluidId, std::less<>> ids;
  int writes = 0;

  fluid::Fluid fluid_at(std::string_view domain, coords::BlockPos pos) override {
    auto it = states.find({std::string(domain), pos});
    return it == states.end() ? fluid::Fluid{} : it->second;
  }
  bool set_fluid_at(std::string_view domain, coords::BlockPos pos, fluid::Fluid state) override {
    ++writes;
    fluid::Fluid& held = states[{std::string(domain), pos}];
    if (held == state) return false;
    held = state;
    return true;
  }
  std::optional<fluid::FluidId> fluid_id(std::string_view name) override {
    auto it = ids.find(name);
    if (it == ids.end()) return std::nullopt;
    return it->second;
  }
};

class FakeLight final : public light::LightSource {
 public:
  std::map<Place, std::uint16_t> values;
  std::uint16_t light_at(std::string_view domain, coords::BlockPos pos) override {
    auto it = values.find({std::string(domain), pos});
    return it == values.end() ? 0 : it->second;
  }
};

// Records each call as "set_block overworld 1,2,3 m:stone" (and the mask in hex for the others).
class FakeEdits final : public script::vm::WorldEdit {
 public:
  std::vector<std::string> calls;
  bool answer = true;

  bool set_block(std::string_view domain, coords::BlockPos p, std::string_view block) override {
    calls.push_back(fmt::format("set_block {} {},{},{} {}", domain, p.x, p.y, p.z, block));
    return answer;
  }
  bool set_partial(std::string_view domain, coords::BlockPos p, std::string_view block,
                   std::uint32_t mask) override {
    calls.push_back(fmt::format("set_partial {} {},{},{} {} {:#x}", domain, p.x, p.y, p.z, block, mask));
    return answer;
  }
  bool merge_partial(std::string_view domain, coords::BlockPos p, std::string_view block,
                     std::uint32_t mask) override {
    calls.push_back(fmt::format("merge_partial {} {},{},{} {} {:#x}", domain, p.x, p.y, p.z, block, mask));
    return answer;
  }
};

// Only `exists` and `position_of` answer: the domains listed are live, the positions placed.
class FakeDomains final : public domain::Access {
 public:
  std::set<std::string, std::less<>> live;
  std::map<std::string, domain::UniversalPos, std::less<>> positions;
  std::optional<std::string> create(std::string_view, std::string_view) override { return std::nullopt; }
  std::optional<std::string> create_at(std::string_view, std::string_view,
                                       std::optional<domain::UniversalPos>) override {
    return std::nullopt;
  }
  std::optional<domain::UniversalPos> position_of(std::string_view id) override {
    auto it = positions.find(id);
    if (it == positions.end()) return std::nullopt;
    return it->second;
  }
  bool set_sky(std::string_view, std::optional<domain::DomainSky>) override { return false; }
  bool destroy(std::string_view) override { return false; }
  bool exists(std::string_view id) override { return live.contains(id); }
};

// Answers block_at from a map (NotLoaded elsewhere, NoWorld when `lent` is false) and gaze from
// another; nothing else.
class FakeSight final : public sight::Access {
 public:
  std::map<Place, sight::Reading> blocks;
  std::map<identity::PlayerUuid, sight::Gaze> gazes;
  bool lent = true;

  std::optional<bool> line_of_sight(std::string_view, const sight::Vec3d&, const sight::Vec3d&) override {
    return std::nullopt;
  }
  sight::Reading block_at(std::string_view domain, coords::BlockPos pos) override {
    if (!lent) return sight::NoWorld{};
    auto it = blocks.find({std::string(domain), pos});
    return it == blocks.end() ? sight::Reading(sight::NotLoaded{}) : it->second;
  }
  std::optional<sight::Surface> surface_at(std::string_view, const sight::SurfaceQuery&) override {
    return std::nullopt;
  }
  std::optional<sight::Looked> looking_at(const identity::PlayerUuid&) override { return std::nullopt; }
  std::optional<sight::Gaze> gaze(const identity::PlayerUuid& player) override {
    auto it = gazes.find(player);
    if (it == gazes.end()) return std::nullopt;
    return it->second;
  }
};

}  // namespace ostrel_core::test
