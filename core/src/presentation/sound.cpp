#include "presentation/sound.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "presentation/particle.hpp"

namespace ostrel_core::sound {
namespace {

template <class R>
R clamp_reach(R r) {
  for (double& c : r.pos) {
    if (!std::isfinite(c)) c = 0.0;
  }
  r.radius = particle::clamp_field(r.radius, 0.0f, kMaxRadius, 16.0f);
  r.gain = particle::clamp_field(r.gain, 0.0f, kMaxGain, 1.0f);
  return r;
}

}  // namespace

PlayRequest sanitise(PlayRequest r) { return clamp_reach(std::move(r)); }

LoopRequest sanitise_loop(LoopRequest r) {
  r = clamp_reach(std::move(r));
  r.fade_ticks = std::min(r.fade_ticks, kMaxFadeTicks);
  return r;
}

}  // namespace ostrel_core::sound
