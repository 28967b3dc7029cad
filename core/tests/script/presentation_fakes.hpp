#pragma once
// Presentation services for the `game` function tests: each records what it was asked and
// answers what the test sets.

#include <optional>
#include <string>
#include <vector>

#include "presentation/hud/state.hpp"
#include "presentation/particle.hpp"
#include "presentation/sound.hpp"

namespace ostrel_core::test {

class FakeParticles final : public particle::Access {
 public:
  std::vector<particle::ParticleRequest> bursts;
  std::vector<particle::BadgeRequest> badges;
  std::uint32_t answer = 1;
  std::uint32_t emit(const particle::ParticleRequest& r) override {
    bursts.push_back(r);
    return answer;
  }
  std::uint32_t show_over(const particle::BadgeRequest& r) override {
    badges.push_back(r);
    return answer;
  }
};

class FakeSound final : public sound::Access {
 public:
  std::vector<sound::PlayRequest> plays;
  std::vector<sound::LoopRequest> loops;
  std::vector<sound::StopRequest> stops;
  std::vector<float> times;
  float fraction = 0.0f;
  std::uint32_t answer = 1;
  std::uint32_t play(const sound::PlayRequest& r) override {
    plays.push_back(r);
    return answer;
  }
  std::uint32_t start_loop(const sound::LoopRequest& r) override {
    loops.push_back(r);
    return answer;
  }
  float time_of_day() override { return fraction; }
  bool set_time_of_day(float t) override {
    times.push_back(t);
    return true;
  }
  std::uint32_t stop_loop(const sound::StopRequest& r) override {
    stops.push_back(r);
    return answer;
  }
};

class FakeHud final : public hud::state::Access {
 public:
  struct Set {
    std::string mod_id;
    identity::PlayerUuid player;
    hud::state::ValueSet values;
  };
  std::vector<Set> sets;
  std::vector<std::string> lines;
  std::optional<identity::PlayerUuid> operator_id;
  bool online = true;
  bool set_hud(std::string_view mod_id, const identity::PlayerUuid& player, hud::state::ValueSet values) override {
    sets.push_back({std::string(mod_id), player, std::move(values)});
    return online;
  }
  bool is_operator(const identity::PlayerUuid& player) override { return operator_id == player; }
  bool chat_to(const identity::PlayerUuid&, std::string line) override {
    lines.push_back(std::move(line));
    return online;
  }
};

}  // namespace ostrel_core::test
