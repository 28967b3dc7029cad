#pragma once
// Slot views: what one player carries, as named views of item slots plus the stack held on the
// cursor, and the click operations that move units between them. Every operation conserves
// units: what leaves a slot lands in another slot, the hand, or the caller's answer.
//
// Two rules size every move:
//   whole-item grain  item size (popcount of shape, or 27) when the material is in `items` or
//                     the stack has cells; 1 unit otherwise
//   slot capacity     90 items of the stack: 90 x popcount(shape) units for a partial cut,
//                     2,430 otherwise (insertion only; left clicks and stow merge past it)
// Example: 100 units of loose stone, slot grain 27, right click with an empty hand: the move
// grain is 27, n = 3 grains, the hand takes 27 x (3 - 1) = 54 and the slot keeps 46.
//
// A view or slot that does not exist makes an operation a no-op with its empty answer (false,
// 0, no stack, an empty list, or the stack handed back). Slot indices start at 0.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "building/inventory/stack.hpp"

namespace ostrel_core::inventory::slots {

inline constexpr std::string_view kMainView = "player:main";
inline constexpr std::size_t kMainSlots = 28;  // slots 0..8 the hotbar, 27 the off hand
inline constexpr std::size_t kOffHandSlot = 27;
inline constexpr std::size_t kHotbarBoundary = 9;
// insert_within appends slots to a view only while it holds fewer: one give of a huge stack
// cannot grow a view (and the player record that stores it) without bound.
inline constexpr std::size_t kMaxGrownSlots = 256;

// Materials registered as items: they move in whole items only.
using Items = std::set<MaterialId>;

// Units in one whole-item grain of `stack` (see above); at least 1.
std::uint32_t whole_item_grain(const Stack& stack, const Items& items);
// Units one slot takes of `stack` when inserting.
std::uint32_t capacity_of(const Stack& stack);

// An ordered, growable run of slots, each empty or one stack.
struct View {
  std::vector<std::optional<Stack>> slots;

  // Takes up to `units` units like `like` from `slot` (or every slot in order), each slot in
  // whole multiples of its grain; empties slots left at 0. Returns the units taken, which the
  // caller accounts for.
  std::uint32_t draw_by(const Items& items, std::optional<std::size_t> slot, const Stack& like,
                        std::uint32_t units);
  std::uint32_t draw(std::optional<std::size_t> slot, const Stack& like, std::uint32_t units);
  // Merges into like stacks up to capacity (in whole grains), then fills empty slots; never
  // grows. Returns what did not fit; a 0-unit stack is dropped.
  std::optional<Stack> fill_by(const Items& items, std::optional<std::size_t> slot, Stack stack);
  std::optional<Stack> fill(std::optional<std::size_t> slot, Stack stack);

  // Sum of units in all slots, saturating.
  std::uint64_t total_units() const;
  friend bool operator==(const View&, const View&) = default;
};

// A view a mod registered: its id and slot count (1..=256).
struct ViewDef {
  std::string id;
  std::size_t slots = 0;
};

// What the cursor holds.
using Grab = std::optional<Stack>;

// A player's views and cursor. Not locked: the player hub serialises every call.
class Slots {
 public:
  // "player:main" with `main` slots (28 without), then each def except one named
  // "player:main" as an empty view. `main_fixed` exactly when a count was given.
  static Slots for_player_sized(std::optional<std::size_t> main, std::span<const ViewDef> defs);

  // Clicks.
  bool left_click(std::string_view view, std::size_t slot);
  bool split_or_place(std::string_view view, std::size_t slot, bool unit_gesture);
  bool stow(std::string_view view, std::size_t slot, std::size_t boundary);
  bool transfer(std::string_view from, std::size_t slot, std::string_view to);
  bool swap_offhand(std::string_view view, std::size_t slot);

  // Gives and takes.
  // Merges, then fills empty slots, appending slots up to kMaxGrownSlots (never to a fixed
  // "player:main"); answers what did not fit.
  std::optional<Stack> insert_within(std::string_view view, Stack stack);
  bool give_into(std::string_view view, std::size_t slot, Stack stack);
  std::uint32_t take(std::string_view view, const Stack& like, std::uint32_t units);
  std::uint32_t take_from(std::string_view view, std::size_t slot, const Stack& like, std::uint32_t units);
  // Whether insert_within would take every stack, tried on a copy of the view; a missing view
  // answers true.
  bool fits(std::string_view view, std::span<const Stack> stacks) const;
  std::vector<Stack> consolidated(std::string_view view) const;

  // The cursor.
  // Mode 0 takes everything, 1 one move grain, 2 and above one whole-item grain.
  std::optional<Stack> take_held(std::uint32_t mode);
  std::optional<Stack> untake_held(std::string_view view, Stack stack);
  bool return_held(std::string_view view);

  // The first view with this exact name.
  View* find(std::string_view name);
  const View* find(std::string_view name) const;
  // Appends a view (a container opened); removes the first view of that name (closed).
  void open_view(std::string name, View view);
  std::optional<View> close_view(std::string_view name);

  std::vector<std::pair<std::string, View>>& views() { return views_; }
  const std::vector<std::pair<std::string, View>>& views() const { return views_; }
  Grab& held() { return held_; }
  const Grab& held() const { return held_; }
  const Items& items() const { return items_; }
  void set_items(Items items) { items_ = std::move(items); }
  std::uint32_t grain() const { return grain_; }
  // Clamped to 1..=27.
  void set_grain(std::uint32_t grain);
  bool main_fixed() const { return main_fixed_; }

  // Units in every view and the hand.
  std::uint64_t total_units() const;
  // No slot and no hand holds a stack of 0 units.
  bool check_invariants() const;

  friend bool operator==(const Slots&, const Slots&) = default;

 private:
  // The slot, or null when the view or slot does not exist.
  std::optional<Stack>* slot_at(std::string_view view, std::size_t slot);
  // Move grain of split_or_place without the unit gesture (also take_held mode 1).
  std::uint32_t move_grain(const Stack& stack) const;

  std::vector<std::pair<std::string, View>> views_;  // "player:main" first
  Grab held_;
  Items items_;
  std::uint32_t grain_ = 1;  // units a right click moves of loose material, 1..=27
  bool main_fixed_ = false;  // "player:main" does not grow
};

}  // namespace ostrel_core::inventory::slots
