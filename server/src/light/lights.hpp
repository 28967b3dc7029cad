#pragma once
// Lights: the per-material light tables and one Lighting per domain name. One lock, the
// "lighting lock", guards it; the simulation thread relights under it and the script engine's
// light access reads through it. Shared is that access: a poisoned lock, an unknown domain and
// an unlit place all answer darkness.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "base/sync.hpp"
#include "light/lighting.hpp"
#include "light/source.hpp"

namespace ostrel_server::fluid {
class Ponds;
}

namespace ostrel_server::light {

class Lights {
 public:
  explicit Lights(Tables tables) : tables_(std::make_shared<const Tables>(std::move(tables))) {}

  // The domain's lighting, made on first use.
  Lighting& of(std::string_view domain);
  // The domain's lighting, or null; never makes one.
  Lighting* find(std::string_view domain);
  const Lighting* find(std::string_view domain) const;
  // Drops a destroyed domain's lighting; a later domain of that name starts dark. False when it
  // had none.
  bool forget_domain(std::string_view domain);

  const Tables& tables() const { return *tables_; }

 private:
  std::shared_ptr<const Tables> tables_;  // shared read-only with every domain's Lighting
  std::map<std::string, Lighting, std::less<>> domains_;
};

// A block written this tick, with the domain it was written in.
struct Edited {
  std::string domain;
  BlockPos pos;
};

// Relights each edited block in its own domain, with that domain's fluid (`ponds`, or no fluid
// when it has no state there); `solid_of` gives a domain's resident chunks. Answers the changed
// chunks of each domain, each chunk once. REQUIRES: the lighting and fluid locks are held.
std::map<std::string, Touched, std::less<>> relight(
    Lights& lights, const fluid::Ponds& ponds, std::span<const Edited> edits,
    const std::function<const Resident&(std::string_view domain)>& solid_of);
std::map<std::string, Touched, std::less<>> relight(Lights& lights, const fluid::Ponds& ponds,
                                                    std::span<const Edited> edits, const world::World& world);

// The lighting lock: light reads share it, relights hold it alone.
using LightsLock = ostrel_core::sync::RwLock<Lights>;

class Shared final : public ostrel_core::light::LightSource {
 public:
  explicit Shared(std::shared_ptr<LightsLock> lights) : lights_(std::move(lights)) {}
  std::uint16_t light_at(std::string_view domain, BlockPos pos) override;

 private:
  std::shared_ptr<LightsLock> lights_;  // shared with the simulation thread
};

}  // namespace ostrel_server::light
