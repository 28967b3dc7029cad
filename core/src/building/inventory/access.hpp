#pragma once
// What scripts reach of the items in the world: the players' carried items (`Access`) and the
// world's named containers (`Containers`). Slot indices start at 0 here; the script side
// converts the one-based numbers mods use. Refusals are answers: 0 units, all units left, an
// empty list or nothing.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "building/inventory/stack.hpp"
#include "identity/identity.hpp"

namespace ostrel_core::inventory {

using identity::PlayerUuid;

class Access {
 public:
  virtual ~Access() = default;
  // The view's stacks, consolidated (one entry per kind).
  virtual std::vector<Stack> contents(const PlayerUuid& player, std::string_view view) = 0;
  // Units left over: all of them for a player not connected.
  virtual std::uint32_t give(const PlayerUuid& player, std::string_view view, std::optional<std::size_t> slot,
                             Stack stack) = 0;
  // The stack in the selected hotbar slot of "player:main".
  virtual std::optional<Stack> held(const PlayerUuid& player) = 0;
  virtual std::optional<Stack> slot(const PlayerUuid& player, std::string_view view, std::size_t index) = 0;
  // Units taken, exactly like `like`.
  virtual std::uint32_t take(const PlayerUuid& player, std::string_view view, std::optional<std::size_t> slot,
                             const Stack& like, std::uint32_t units) = 0;
};

class Containers {
 public:
  virtual ~Containers() = default;
  // True when a new container of `slots` empty slots was made.
  virtual bool ensure(std::string_view name, std::size_t slots) = 0;
  virtual bool open(std::string_view name, const PlayerUuid& player) = 0;
  virtual bool close(std::string_view name, const PlayerUuid& player) = 0;
  virtual std::optional<std::vector<std::optional<Stack>>> slots(std::string_view name) = 0;
  // Units taken.
  virtual std::uint32_t give(std::string_view name, std::optional<std::size_t> slot, Stack stack) = 0;
  virtual std::uint32_t take(std::string_view name, std::optional<std::size_t> slot, const Stack& like,
                             std::uint32_t units) = 0;
  // The stacks it held; empty for a missing or held container.
  virtual std::vector<Stack> remove(std::string_view name) = 0;
  virtual std::optional<PlayerUuid> holder(std::string_view name) = 0;
  // Names beginning with `prefix`, in byte order.
  virtual std::vector<std::string> names(std::string_view prefix) = 0;
};

}  // namespace ostrel_core::inventory
