#pragma once
// What a player does in an open dialog, as the client reports it. Each record declares its
// fields once, in wire order.
//
// Worked examples:
//   DialogEvent Closed                 -> 06
//   DialogEvent Dropped{ShiftRight}    -> 08 03

#include <cstdint>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

namespace ostrel_core::proto {

enum class PressClick : std::uint8_t { Left, Right, Double };
constexpr std::uint32_t wire_variants(PressClick) { return 3; }
enum class SlotClick : std::uint8_t { Left, Right, ShiftLeft, ShiftRight };
constexpr std::uint32_t wire_variants(SlotClick) { return 4; }

// What the player did in an open dialog.
namespace dialog_event {
struct Pressed {
  std::string name;
  PressClick click = PressClick::Left;
  static constexpr auto fields() { return std::tuple{&Pressed::name, &Pressed::click}; }
  friend bool operator==(const Pressed&, const Pressed&) = default;
};
struct Submitted {
  std::string name;
  std::string text;
  static constexpr auto fields() { return std::tuple{&Submitted::name, &Submitted::text}; }
  friend bool operator==(const Submitted&, const Submitted&) = default;
};
struct Toggled {
  std::string name;
  bool checked = false;
  static constexpr auto fields() { return std::tuple{&Toggled::name, &Toggled::checked}; }
  friend bool operator==(const Toggled&, const Toggled&) = default;
};
struct Slid {
  std::string name;
  std::int32_t value = 0;
  static constexpr auto fields() { return std::tuple{&Slid::name, &Slid::value}; }
  friend bool operator==(const Slid&, const Slid&) = default;
};
struct Chose {
  std::string name;
  std::uint16_t index = 0;
  static constexpr auto fields() { return std::tuple{&Chose::name, &Chose::index}; }
  friend bool operator==(const Chose&, const Chose&) = default;
};
struct Clicked {
  std::string view;                  // a container view's name
  std::uint16_t index = 0;           // slot, zero-based
  SlotClick click = SlotClick::Left;
  static constexpr auto fields() { return std::tuple{&Clicked::view, &Clicked::index, &Clicked::click}; }
  friend bool operator==(const Clicked&, const Clicked&) = default;
};
struct Closed {
  static constexpr auto fields() { return std::tuple{}; }
  friend bool operator==(const Closed&, const Closed&) = default;
};
struct Chiselled {
  std::string name;
  std::vector<std::uint16_t> cells;  // empty or 27 world ids
  std::uint32_t shape = 0;           // 27-bit occupancy
  static constexpr auto fields() { return std::tuple{&Chiselled::name, &Chiselled::cells, &Chiselled::shape}; }
  friend bool operator==(const Chiselled&, const Chiselled&) = default;
};
struct Dropped {
  SlotClick click = SlotClick::Left;
  static constexpr auto fields() { return std::tuple{&Dropped::click}; }
  friend bool operator==(const Dropped&, const Dropped&) = default;
};
}  // namespace dialog_event
using DialogEvent = std::variant<dialog_event::Pressed, dialog_event::Submitted, dialog_event::Toggled,
                                 dialog_event::Slid, dialog_event::Chose, dialog_event::Clicked,
                                 dialog_event::Closed, dialog_event::Chiselled, dialog_event::Dropped>;

}  // namespace ostrel_core::proto
