#include "containers/containers.hpp"

#include <algorithm>

#include "base/log.hpp"
#include "hub/hub.hpp"
#include "world/records.hpp"
#include "world/world.hpp"

namespace ostrel_server::containers {

namespace log = ostrel_core::log;
using ostrel_core::inventory::slots::Slots;

namespace {
constexpr std::string_view kTarget = "ostrel_server::containers";
}  // namespace

// --- Containers ------------------------------------------------------------------------------

bool Containers::ensure(std::string_view name, std::size_t slots) {
  if (containers_.contains(name)) return false;
  slots = std::clamp(slots, kMinSlots, kMaxSlots);
  Container c;
  c.view = NamedView{std::string(name), View{std::vector<std::optional<Stack>>(slots)}};
  containers_.emplace(std::string(name), std::move(c));
  dirty_.emplace(name);
  if (auto it = deleted_.find(name); it != deleted_.end()) deleted_.erase(it);
  return true;
}

bool Containers::open(std::string_view name, const PlayerUuid& player, Views& views) {
  auto it = containers_.find(name);
  if (it == containers_.end()) return false;
  Container& c = it->second;
  if (c.holder) return *c.holder == player;
  if (!c.view) return false;
  views.push_back(std::move(*c.view));
  c.view.reset();
  c.holder = player;
  return true;
}

Closed Containers::close(std::string_view name, const PlayerUuid& player, Views& views) {
  auto it = containers_.find(name);
  if (it == containers_.end() || !it->second.holder || *it->second.holder != player) return Closed::Refused;
  Container& c = it->second;
  c.holder.reset();
  auto v = std::find_if(views.begin(), views.end(), [&](const NamedView& nv) { return nv.first == name; });
  if (v == views.end()) return Closed::ViewMissing;
  c.view = std::move(*v);
  views.erase(v);
  dirty_.emplace(name);
  return Closed::Returned;
}

std::vector<std::string> Containers::names(std::string_view prefix) const {
  std::vector<std::string> out;
  for (auto it = containers_.lower_bound(prefix); it != containers_.end() && it->first.starts_with(prefix);
       ++it) {
    out.push_back(it->first);
  }
  return out;
}

std::vector<Stack> Containers::remove(std::string_view name) {
  auto it = containers_.find(name);
  if (it == containers_.end() || it->second.holder || !it->second.view) return {};
  std::vector<Stack> out;
  for (auto& slot : it->second.view->second.slots) {
    if (slot) out.push_back(std::move(*slot));
  }
  containers_.erase(it);
  if (auto d = dirty_.find(name); d != dirty_.end()) dirty_.erase(d);
  deleted_.emplace(name);
  return out;
}

std::vector<std::string> Containers::held_by(const PlayerUuid& player) const {
  std::vector<std::string> out;
  for (const auto& [name, c] : containers_) {
    if (c.holder && *c.holder == player) out.push_back(name);
  }
  return out;
}

void Containers::restore(std::string_view name, NamedView view) {
  containers_.insert_or_assign(std::string(name), Container{std::move(view), std::nullopt});
}

void Containers::release(std::string_view name, std::optional<View> stored) {
  auto it = containers_.find(name);
  if (it == containers_.end()) return;
  it->second.holder.reset();
  if (stored) {
    it->second.view = NamedView{std::string(name), std::move(*stored)};
  } else {
    it->second.view.reset();
  }
}

void Containers::mark_all() {
  for (const auto& [name, c] : containers_) {
    if (c.view) dirty_.insert(name);
  }
}

Pending Containers::take_pending() {
  Pending p{{dirty_.begin(), dirty_.end()}, {deleted_.begin(), deleted_.end()}};
  dirty_.clear();
  deleted_.clear();
  return p;
}

View* Containers::contents_mut(std::string_view name) {
  View* v = view_of(name);
  if (v != nullptr) dirty_.emplace(name);
  return v;
}

View* Containers::view_of(std::string_view name) {
  auto it = containers_.find(name);
  if (it == containers_.end() || !it->second.view) return nullptr;
  return &it->second.view->second;
}

const Container* Containers::find(std::string_view name) const {
  auto it = containers_.find(name);
  return it == containers_.end() ? nullptr : &it->second;
}

bool Containers::has_view(std::string_view name) const {
  const Container* c = find(name);
  return c != nullptr && c->view.has_value();
}

void Containers::mark_deleted(std::string_view name) {
  if (!containers_.contains(name)) deleted_.emplace(name);
}

// --- Shared ----------------------------------------------------------------------------------

Shared::Shared(std::shared_ptr<Hub> hub, Reload reload)
    : state_(std::make_shared<ostrel_core::sync::Mutex<Store>>()),
      hub_(std::move(hub)),
      reload_(std::move(reload)) {}

void Shared::release(Store& c, std::string_view name, const PlayerUuid& player, std::string_view why) {
  std::optional<View> stored = reload_ ? reload_(name) : std::nullopt;
  const bool reloaded = stored.has_value();
  c.release(name, std::move(stored));
  if (reloaded) {
    OSTREL_ERROR(kTarget, fmt::format("{}; the container is back as its stored row held it", why),
                 log::text("container", name), log::text("player", player.to_hex()));
  } else {
    OSTREL_ERROR(
        kTarget,
        fmt::format("{}; its stored row could not be read, so it is kept out of every change and save "
                    "until the server restarts",
                    why),
        log::text("container", name), log::text("player", player.to_hex()));
  }
}

bool Shared::ensure(std::string_view name, std::size_t slots) {
  auto g = state_->lock();
  return g && (*g)->ensure(name, slots);
}

bool Shared::open(std::string_view name, const PlayerUuid& player) {
  auto g = state_->lock();
  if (!g) return false;
  auto opened = hub_->with_slots(player, [&](Slots& s) {
    const bool ok = (*g)->open(name, player, s.views());
    if (ok) hub_->mark_inventory_dirty(player);
    return ok;
  });
  return opened.value_or(false);
}

bool Shared::close(std::string_view name, const PlayerUuid& player) {
  auto g = state_->lock();
  if (!g) return false;
  Store& c = **g;
  auto closed = hub_->with_slots(player, [&](Slots& s) {
    const Closed r = c.close(name, player, s.views());
    if (r == Closed::Returned) hub_->mark_inventory_dirty(player);
    return r;
  });
  if (!closed) {
    // The holder has no slots any more (it left, or the hub's lock broke): the lent view is gone.
    const Container* held = c.find(name);
    if (held != nullptr && held->holder && *held->holder == player) {
      release(c, name, player, "a container was closed for a player who has no slots");
    }
    return false;
  }
  if (*closed == Closed::ViewMissing) {
    release(c, name, player, "a container's lent view was missing when it closed");
  }
  return *closed == Closed::Returned;
}

std::optional<std::vector<std::optional<Stack>>> Shared::slots(std::string_view name) {
  auto g = state_->lock();
  if (!g) return std::nullopt;
  const Container* c = (*g)->find(name);
  if (c == nullptr) return std::nullopt;
  if (c->holder) {
    auto copy =
        hub_->with_slots(*c->holder, [&](Slots& s) -> std::optional<std::vector<std::optional<Stack>>> {
          const View* v = s.find(name);
          if (v == nullptr) return std::nullopt;
          return v->slots;
        });
    return copy.value_or(std::nullopt);
  }
  // A read leaves the container clean: an unchanged row is not written again.
  const View* v = (*g)->view_of(name);
  if (v == nullptr) return std::nullopt;
  return v->slots;
}

// fn(View&) on the container's view, answering units moved: the view lent to its holder (whose
// inventory is then marked changed) or its own (then marked dirty), each marked only when units
// moved. 0 when neither is reached. No item set: items move by the unit like plain material.
template <class F>
std::uint32_t Shared::on_view(std::string_view name, F&& fn) {
  auto g = state_->lock();
  if (!g) return 0;
  const Container* c = (*g)->find(name);
  if (c == nullptr) return 0;
  if (c->holder) {
    const PlayerUuid holder = *c->holder;
    auto moved = hub_->with_slots(holder, [&](Slots& s) -> std::uint32_t {
      View* v = s.find(name);
      const std::uint32_t n = v == nullptr ? 0 : fn(*v);
      if (n > 0) hub_->mark_inventory_dirty(holder);
      return n;
    });
    return moved.value_or(0);
  }
  View* v = (*g)->view_of(name);
  const std::uint32_t n = v == nullptr ? 0 : fn(*v);
  if (n > 0) (*g)->contents_mut(name);
  return n;
}

std::uint32_t Shared::give(std::string_view name, std::optional<std::size_t> slot, Stack stack) {
  const std::uint32_t all = stack.units;
  return on_view(name, [&](View& v) {
    auto rest = v.fill(slot, std::move(stack));
    return all - (rest ? rest->units : 0);
  });
}

std::uint32_t Shared::take(std::string_view name, std::optional<std::size_t> slot, const Stack& like,
                           std::uint32_t units) {
  return on_view(name, [&](View& v) { return v.draw(slot, like, units); });
}

std::vector<Stack> Shared::remove(std::string_view name) {
  auto g = state_->lock();
  return g ? (*g)->remove(name) : std::vector<Stack>{};
}

std::optional<PlayerUuid> Shared::holder(std::string_view name) {
  auto g = state_->lock();
  if (!g) return std::nullopt;
  const Container* c = (*g)->find(name);
  return c == nullptr ? std::nullopt : c->holder;
}

std::vector<std::string> Shared::names(std::string_view prefix) {
  auto g = state_->lock();
  return g ? (*g)->names(prefix) : std::vector<std::string>{};
}

void Shared::close_all_held_by(const PlayerUuid& player) {
  std::vector<std::string> held;
  if (auto g = state_->lock()) held = (*g)->held_by(player);
  for (const auto& name : held) close(name, player);
}

// --- Through the world -----------------------------------------------------------------------

namespace {

// Every stored container, each view resized to its stored slot count within the limits.
std::expected<world::Containers, ostrel_core::persist::WorldError> load_all(world::World& world) {
  auto loaded =
      world::load_containers(world, [](std::string_view) { return std::optional<std::size_t>(kMaxSlots); });
  if (!loaded) return loaded;
  for (auto& d : loaded->containers) d.view.slots.resize(std::clamp(d.stored_slots, kMinSlots, kMaxSlots));
  return loaded;
}

}  // namespace

std::expected<void, ostrel_core::persist::WorldError> restore_all(Shared& shared, world::World& world) {
  auto loaded = load_all(world);
  if (!loaded) return std::unexpected(loaded.error());
  auto g = shared.state().lock();
  if (!g) return {};
  for (auto& d : loaded->containers) (*g)->restore(d.name, NamedView{d.name, std::move(d.view)});
  return {};
}

std::expected<void, ostrel_core::persist::WorldError> flush(Shared& shared, world::World& world) {
  auto g = shared.state().lock();
  if (!g) return {};
  Store& c = **g;
  Pending p = c.take_pending();
  std::optional<ostrel_core::persist::WorldError> first;
  for (const auto& name : p.dirty) {
    const Container* held = c.find(name);
    if (held == nullptr || !held->view) continue;  // open (written after it closes) or view-less
    if (auto r = world::save_container(world, name, held->view->second); !r) {
      if (!first) first = r.error();
      c.contents_mut(name);  // dirty again: the next save tries once more
    }
  }
  for (const auto& name : p.deleted) {
    if (auto r = world::delete_container(world, name); !r) {
      if (!first) first = r.error();
      c.mark_deleted(name);
    }
  }
  if (first) return std::unexpected(std::move(*first));
  return {};
}

std::optional<View> stored_view(world::World& world, std::string_view name) {
  auto loaded = load_all(world);
  if (!loaded) return std::nullopt;
  for (auto& d : loaded->containers) {
    if (d.name == name) return std::move(d.view);
  }
  return std::nullopt;
}

}  // namespace ostrel_server::containers
