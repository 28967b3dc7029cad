#pragma once
// The world's named containers: inventories that belong to the world (chests, furnaces). While
// a player has one open, its view is lent into that player's slots in the player hub, so there
// is only ever one copy: every read or change goes to the lent view.
//
// A container's states:
//   at rest  -> open      [open]     view moved to the end of the holder's views, holder set
//   open     -> at rest   [close]    the holder's view of that name comes back, marked dirty
//   open     -> released  [release]  the lent view was lost: holder cleared, the stored row read
//                                    again; when that fails the container keeps no view and is
//                                    never written, opened, removed or changed until a restart
//
// Lock order: the containers lock, then the hub's inventories lock (then the inventory dirty
// set), then whatever the reload takes (the world slot).

#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/sync.hpp"
#include "building/inventory/access.hpp"
#include "building/inventory/slots.hpp"
#include "persist/world_error.hpp"

namespace ostrel_server::transport::endpoint {
class Shared;
}
namespace ostrel_server::world {
class World;
}

namespace ostrel_server::containers {

using ostrel_core::identity::PlayerUuid;
using ostrel_core::inventory::Stack;
using ostrel_core::inventory::slots::View;
using NamedView = std::pair<std::string, View>;
using Views = std::vector<NamedView>;

// Slots a container is made with: mods pass 1 to 256; other counts are brought into that range.
inline constexpr std::size_t kMinSlots = 1;
inline constexpr std::size_t kMaxSlots = 256;

struct Container {
  std::optional<NamedView> view;  // absent while lent to the holder, or after a failed reload
  std::optional<PlayerUuid> holder;
};

enum class Closed : std::uint8_t {
  Refused,      // no such container, or the player is not its holder
  Returned,     // the view came back
  ViewMissing,  // the holder's views held no view of that name; only the holder was cleared
};

struct Pending {
  std::vector<std::string> dirty;    // in name order
  std::vector<std::string> deleted;  // in name order
};

// Not locked: Shared holds its mutex around every call.
class Containers {
 public:
  bool ensure(std::string_view name, std::size_t slots);
  bool open(std::string_view name, const PlayerUuid& player, Views& views);
  Closed close(std::string_view name, const PlayerUuid& player, Views& views);
  std::vector<std::string> names(std::string_view prefix) const;
  // The occupied slots' stacks in slot order; empty (and nothing removed) for a missing, held
  // or view-less container.
  std::vector<Stack> remove(std::string_view name);
  std::vector<std::string> held_by(const PlayerUuid& player) const;
  void restore(std::string_view name, NamedView view);
  // Clears the holder and puts `stored` back as the view (none: the container keeps no view).
  void release(std::string_view name, std::optional<View> stored);
  // Marks every container that has a view dirty.
  void mark_all();
  Pending take_pending();
  // The view for changing, marked dirty; null for a missing, lent or view-less container.
  View* contents_mut(std::string_view name);
  // The same view, not marked: a read, or a change whose caller marks it once it moved units.
  View* view_of(std::string_view name);
  const Container* find(std::string_view name) const;
  bool has_view(std::string_view name) const;
  // A deletion to try again at the next save; ignored while a container has the name.
  void mark_deleted(std::string_view name);

 private:
  std::map<std::string, Container, std::less<>> containers_;
  std::set<std::string, std::less<>> dirty_;
  std::set<std::string, std::less<>> deleted_;
};

using Hub = transport::endpoint::Shared;
// Containers under a name that the script interface Shared derives from does not hide.
using Store = Containers;
// Reads a container's stored view again; none when it cannot be read.
using Reload = std::function<std::optional<View>(std::string_view name)>;

class Shared final : public ostrel_core::inventory::Containers {
 public:
  Shared(std::shared_ptr<Hub> hub, Reload reload);

  bool ensure(std::string_view name, std::size_t slots) override;
  bool open(std::string_view name, const PlayerUuid& player) override;
  bool close(std::string_view name, const PlayerUuid& player) override;
  std::optional<std::vector<std::optional<Stack>>> slots(std::string_view name) override;
  std::uint32_t give(std::string_view name, std::optional<std::size_t> slot, Stack stack) override;
  std::uint32_t take(std::string_view name, std::optional<std::size_t> slot, const Stack& like,
                     std::uint32_t units) override;
  std::vector<Stack> remove(std::string_view name) override;
  std::optional<PlayerUuid> holder(std::string_view name) override;
  std::vector<std::string> names(std::string_view prefix) override;

  // When a player's screen closes or the player leaves: closes every container the player
  // holds, before the player's inventory is written.
  void close_all_held_by(const PlayerUuid& player);
  ostrel_core::sync::Mutex<Store>& state() { return *state_; }

 private:
  template <class F>
  std::uint32_t on_view(std::string_view name, F&& fn);
  // With the containers lock held: clears the holder and reloads the stored view, logging why.
  void release(Store& c, std::string_view name, const PlayerUuid& player, std::string_view why);

  std::shared_ptr<ostrel_core::sync::Mutex<Store>> state_;
  std::shared_ptr<Hub> hub_;
  Reload reload_;
};

// Start: every stored container restored, none dirty, none held. Unreadable rows are skipped
// with a warning by the reader.
std::expected<void, ostrel_core::persist::WorldError> restore_all(Shared& shared, world::World& world);
// A save: writes each dirty container that has a view and deletes the deleted ones; a name whose
// write fails is marked dirty again, so the next save tries it again. Keeps the first error.
std::expected<void, ostrel_core::persist::WorldError> flush(Shared& shared, world::World& world);
// The reload of a released container: its stored row read again through the world.
std::optional<View> stored_view(world::World& world, std::string_view name);

}  // namespace ostrel_server::containers
