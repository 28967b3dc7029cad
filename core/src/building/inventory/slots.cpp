#include "building/inventory/slots.hpp"

#include <algorithm>
#include <limits>

#include "base/assert.hpp"

namespace ostrel_core::inventory::slots {

namespace {

constexpr std::uint32_t kMaxUnits = std::numeric_limits<std::uint32_t>::max();

// Asserts the invariants of `slots` when an operation that changes them returns.
class CheckedOnReturn {
 public:
  explicit CheckedOnReturn(const Slots& slots) : slots_(slots) {}
  CheckedOnReturn(const CheckedOnReturn&) = delete;
  CheckedOnReturn& operator=(const CheckedOnReturn&) = delete;
  ~CheckedOnReturn() { OSTREL_ASSERT(slots_.check_invariants()); }

 private:
  const Slots& slots_;
};

// `n` cut down to a multiple of `g` (g >= 1).
std::uint32_t whole(std::uint32_t n, std::uint32_t g) { return n / g * g; }

// A like stack of `units` units.
Stack with_units(const Stack& like, std::uint32_t units) {
  Stack s = like;
  s.units = units;
  return s;
}

// The candidate slots: `slot` alone (none when past the end) or all of them.
std::pair<std::size_t, std::size_t> candidates(const View& v, std::optional<std::size_t> slot) {
  if (!slot) return {0, v.slots.size()};
  if (*slot >= v.slots.size()) return {0, 0};
  return {*slot, *slot + 1};
}

// Merging step of insertion: like stacks up to capacity, in whole grains. Lowers stack.units.
void merge_into(std::span<std::optional<Stack>> slots, const Items& items, Stack& stack) {
  const std::uint32_t cap = capacity_of(stack);
  const std::uint32_t g = whole_item_grain(stack, items);
  for (auto& s : slots) {
    if (stack.units == 0) return;
    if (!s || !s->is_like(stack)) continue;
    const std::uint32_t room = s->units < cap ? cap - s->units : 0;
    const std::uint32_t move = whole(std::min(room, stack.units), g);
    s->units += move;
    stack.units -= move;
  }
}

std::optional<Stack> rest_of(Stack stack) {
  if (stack.units == 0) return std::nullopt;
  return stack;
}

}  // namespace

std::uint32_t whole_item_grain(const Stack& stack, const Items& items) {
  if (stack.cells || items.contains(stack.material)) return std::max<std::uint32_t>(stack.item_size(), 1);
  return 1;
}

std::uint32_t capacity_of(const Stack& stack) { return ITEMS_PER_STACK * stack.item_size(); }

// --- View ---------------------------------------------------------------------------------

std::uint32_t View::draw_by(const Items& items, std::optional<std::size_t> slot, const Stack& like,
                            std::uint32_t units) {
  const auto [begin, end] = candidates(*this, slot);
  std::uint32_t taken = 0;
  for (std::size_t i = begin; i < end && taken < units; ++i) {
    auto& s = slots[i];
    if (!s || !s->is_like(like)) continue;
    const std::uint32_t n = whole(std::min(units - taken, s->units), whole_item_grain(*s, items));
    s->units -= n;
    taken += n;
    if (s->units == 0) s.reset();
  }
  return taken;
}

std::uint32_t View::draw(std::optional<std::size_t> slot, const Stack& like, std::uint32_t units) {
  return draw_by(Items{}, slot, like, units);
}

std::optional<Stack> View::fill_by(const Items& items, std::optional<std::size_t> slot, Stack stack) {
  if (stack.units == 0) return std::nullopt;
  const auto [begin, end] = candidates(*this, slot);
  if (begin == end) return stack;
  std::span<std::optional<Stack>> run(slots.data() + begin, end - begin);
  merge_into(run, items, stack);
  const std::uint32_t cap = capacity_of(stack);
  for (auto& s : run) {
    if (stack.units == 0) break;
    if (s) continue;
    const std::uint32_t n = std::min(cap, stack.units);
    s = with_units(stack, n);
    stack.units -= n;
  }
  return rest_of(std::move(stack));
}

std::optional<Stack> View::fill(std::optional<std::size_t> slot, Stack stack) {
  return fill_by(Items{}, slot, std::move(stack));
}

std::uint64_t View::total_units() const {
  std::uint64_t total = 0;
  for (const auto& s : slots) total += s ? s->units : 0;
  return total;
}

// --- Slots: lookups -------------------------------------------------------------------------

Slots Slots::for_player_sized(std::optional<std::size_t> main, std::span<const ViewDef> defs) {
  Slots s;
  s.views_.emplace_back(std::string(kMainView),
                        View{std::vector<std::optional<Stack>>(main.value_or(kMainSlots))});
  for (const ViewDef& def : defs) {
    if (def.id == kMainView) continue;
    s.views_.emplace_back(def.id, View{std::vector<std::optional<Stack>>(def.slots)});
  }
  s.main_fixed_ = main.has_value();
  return s;
}

View* Slots::find(std::string_view name) {
  return const_cast<View*>(static_cast<const Slots&>(*this).find(name));
}

const View* Slots::find(std::string_view name) const {
  for (const auto& [n, v] : views_) {
    if (n == name) return &v;
  }
  return nullptr;
}

void Slots::open_view(std::string name, View view) { views_.emplace_back(std::move(name), std::move(view)); }

std::optional<View> Slots::close_view(std::string_view name) {
  for (auto it = views_.begin(); it != views_.end(); ++it) {
    if (it->first != name) continue;
    View v = std::move(it->second);
    views_.erase(it);
    return v;
  }
  return std::nullopt;
}

void Slots::set_grain(std::uint32_t grain) { grain_ = std::clamp<std::uint32_t>(grain, 1, UNITS_PER_BLOCK); }

std::optional<Stack>* Slots::slot_at(std::string_view view, std::size_t slot) {
  View* v = find(view);
  if (!v || slot >= v->slots.size()) return nullptr;
  return &v->slots[slot];
}

std::uint32_t Slots::move_grain(const Stack& stack) const {
  const std::uint32_t g = whole_item_grain(stack, items_);
  if (g != 1) return g;
  // At least 1: a stored shape may hold no cell, and the grain divides.
  return std::max<std::uint32_t>(std::min(std::max<std::uint32_t>(grain_, 1), stack.item_size()), 1);
}

std::uint64_t Slots::total_units() const {
  std::uint64_t total = held_ ? held_->units : 0;
  for (const auto& [name, v] : views_) total += v.total_units();
  return total;
}

bool Slots::check_invariants() const {
  if (held_ && held_->units == 0) return false;
  for (const auto& [name, v] : views_) {
    for (const auto& s : v.slots) {
      if (s && s->units == 0) return false;
    }
  }
  return true;
}

// --- Slots: clicks ----------------------------------------------------------------------------

bool Slots::left_click(std::string_view view, std::size_t slot) {
  const CheckedOnReturn checked(*this);
  std::optional<Stack>* s = slot_at(view, slot);
  if (!s || (!*s && !held_)) return false;
  if (*s && held_ && (*s)->is_like(*held_)) {
    // Merges past the slot capacity; refused when the sum would not fit in 32 bits.
    if (held_->units <= kMaxUnits - (*s)->units) {
      (*s)->units += held_->units;
      held_.reset();
    }
    return true;
  }
  std::swap(*s, held_);
  return true;
}

bool Slots::split_or_place(std::string_view view, std::size_t slot, bool unit_gesture) {
  const CheckedOnReturn checked(*this);
  std::optional<Stack>* s = slot_at(view, slot);
  if (!s || (!*s && !held_)) return false;
  const Stack& subject = held_ ? *held_ : **s;
  const std::uint32_t m = unit_gesture ? whole_item_grain(subject, items_) : move_grain(subject);

  if (!held_) {
    const std::uint32_t t = (*s)->units;
    std::uint32_t take = t;
    if (t >= m) {
      const std::uint32_t n = t / m;
      take = m * (n - n / 2);
    }
    held_ = with_units(**s, take);
    (*s)->units -= take;
    if ((*s)->units == 0) s->reset();
    return true;
  }

  const std::uint32_t put = std::min(held_->units, m);
  if (!*s) {
    *s = with_units(*held_, put);
  } else if ((*s)->is_like(*held_) && put <= kMaxUnits - (*s)->units) {
    (*s)->units += put;
  } else {
    return true;  // an unlike stack, or a sum past 32 bits: nothing moves
  }
  held_->units -= put;
  if (held_->units == 0) held_.reset();
  return true;
}

bool Slots::stow(std::string_view view, std::size_t slot, std::size_t boundary) {
  const CheckedOnReturn checked(*this);
  View* v = find(view);
  if (!v || slot >= v->slots.size() || !v->slots[slot]) return false;
  Stack stack = std::move(*v->slots[slot]);
  v->slots[slot].reset();

  const std::size_t len = v->slots.size();
  std::size_t begin = 0, end = 0;
  if (slot >= boundary) {
    end = std::min(boundary, len);
  } else if (boundary < len) {
    begin = boundary;
    end = len;
  }
  const std::uint32_t g = whole_item_grain(stack, items_);
  for (std::size_t i = begin; i < end && stack.units > 0; ++i) {
    auto& t = v->slots[i];
    if (!t || !t->is_like(stack)) continue;
    const std::uint32_t move = whole(std::min(kMaxUnits - t->units, stack.units), g);
    t->units += move;
    stack.units -= move;
  }
  for (std::size_t i = begin; i < end && stack.units > 0; ++i) {
    if (v->slots[i]) continue;
    v->slots[i] = std::move(stack);
    stack.units = 0;
  }
  if (stack.units > 0) v->slots[slot] = std::move(stack);
  return true;
}

bool Slots::transfer(std::string_view from, std::size_t slot, std::string_view to) {
  const CheckedOnReturn checked(*this);
  if (from == to) return false;
  View* target = find(to);
  std::optional<Stack>* s = slot_at(from, slot);
  if (!target || !s || !*s) return false;
  const std::uint32_t before = (*s)->units;
  Stack stack = std::move(**s);
  s->reset();
  std::optional<Stack> rest = target->fill_by(items_, std::nullopt, std::move(stack));
  *s = std::move(rest);
  return !*s || (*s)->units < before;
}

bool Slots::swap_offhand(std::string_view view, std::size_t slot) {
  const CheckedOnReturn checked(*this);
  View* v = find(view);
  if (!v || slot == kOffHandSlot || slot >= v->slots.size() || v->slots.size() <= kOffHandSlot) return false;
  auto& a = v->slots[slot];
  auto& b = v->slots[kOffHandSlot];
  if (!a && !b) return false;
  std::swap(a, b);
  return true;
}

// --- Slots: gives and takes -----------------------------------------------------------------

std::optional<Stack> Slots::insert_within(std::string_view view, Stack stack) {
  const CheckedOnReturn checked(*this);
  if (stack.units == 0) return std::nullopt;
  View* v = find(view);
  if (!v) return stack;
  merge_into(v->slots, items_, stack);
  const std::uint32_t cap = capacity_of(stack);
  const std::uint32_t g = whole_item_grain(stack, items_);
  const bool fixed = main_fixed_ && view == kMainView;
  std::size_t next_empty = 0;
  while (stack.units > 0) {
    const std::uint32_t n = whole(std::min(cap, stack.units), g);
    if (n == 0) break;
    while (next_empty < v->slots.size() && v->slots[next_empty]) ++next_empty;
    if (next_empty == v->slots.size()) {
      if (fixed || v->slots.size() >= kMaxGrownSlots) break;
      v->slots.emplace_back();
    }
    v->slots[next_empty] = with_units(stack, n);
    stack.units -= n;
  }
  return rest_of(std::move(stack));
}

bool Slots::give_into(std::string_view view, std::size_t slot, Stack stack) {
  const CheckedOnReturn checked(*this);
  if (stack.units == 0 || stack.units > capacity_of(stack)) return false;
  if (stack.units % whole_item_grain(stack, items_) != 0) return false;
  std::optional<Stack>* s = slot_at(view, slot);
  if (!s) return false;
  if (!*s) {
    *s = std::move(stack);
    return true;
  }
  if (!(*s)->is_like(stack)) return false;
  const std::uint32_t cap = capacity_of(stack);
  const std::uint32_t room = (*s)->units < cap ? cap - (*s)->units : 0;
  if (room < stack.units) return false;
  (*s)->units += stack.units;
  return true;
}

std::uint32_t Slots::take(std::string_view view, const Stack& like, std::uint32_t units) {
  const CheckedOnReturn checked(*this);
  View* v = find(view);
  return v ? v->draw_by(items_, std::nullopt, like, units) : 0;
}

std::uint32_t Slots::take_from(std::string_view view, std::size_t slot, const Stack& like,
                               std::uint32_t units) {
  const CheckedOnReturn checked(*this);
  View* v = find(view);
  return v ? v->draw_by(items_, slot, like, units) : 0;
}

bool Slots::fits(std::string_view view, std::span<const Stack> stacks) const {
  const View* v = find(view);
  if (!v) return true;
  Slots copy;
  copy.views_.emplace_back(std::string(view), *v);
  copy.items_ = items_;
  copy.main_fixed_ = main_fixed_;
  for (const Stack& s : stacks) {
    if (copy.insert_within(view, s)) return false;
  }
  return true;
}

std::vector<Stack> Slots::consolidated(std::string_view view) const {
  const View* v = find(view);
  if (!v) return {};
  std::vector<Stack> occupied;
  for (const auto& s : v->slots) {
    if (s) occupied.push_back(*s);
  }
  return consolidate(occupied);
}

// --- Slots: the cursor ------------------------------------------------------------------------

std::optional<Stack> Slots::take_held(std::uint32_t mode) {
  const CheckedOnReturn checked(*this);
  if (!held_) return std::nullopt;
  std::uint32_t amount = held_->units;
  if (mode == 1) amount = move_grain(*held_);
  if (mode >= 2) amount = whole_item_grain(*held_, items_);
  const std::uint32_t n = std::min(amount, held_->units);
  Stack taken = with_units(*held_, n);
  held_->units -= n;
  if (held_->units == 0) held_.reset();
  return taken;
}

std::optional<Stack> Slots::untake_held(std::string_view view, Stack stack) {
  const CheckedOnReturn checked(*this);
  if (stack.units == 0) return std::nullopt;
  if (!held_) {
    held_ = std::move(stack);
    return std::nullopt;
  }
  if (held_->is_like(stack) && stack.units <= kMaxUnits - held_->units) {
    held_->units += stack.units;
    return std::nullopt;
  }
  return insert_within(view, std::move(stack));
}

bool Slots::return_held(std::string_view view) {
  const CheckedOnReturn checked(*this);
  if (!held_) return false;
  const std::uint32_t before = held_->units;
  std::optional<Stack> rest = insert_within(view, *held_);
  if (rest && rest->units == before) return false;
  held_ = std::move(rest);
  return true;
}

}  // namespace ostrel_core::inventory::slots
