#pragma once
// Dialog trees: the flat, breadth-first form in which a dialog is checked, stored and sent, and
// the nested form (Build) in which it is read.
//
// Wire form (record encoding): node count, then per node: widget index and its fields, name,
// tooltip (optional text), style (six optional fields), grow, size, cross_size, first child,
// child count. The one-node tree of a label "hi":
//   01  01 02 68 69  00  00  00 00 00 00 00 00  00  00  00  01 00

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

namespace ostrel_core::ui::tree {

using Colour = std::array<std::uint8_t, 4>;  // r, g, b, a
using Hash = std::array<std::uint8_t, 32>;   // content hash of a picture

enum class Direction : std::uint8_t { Row, Column };
constexpr std::uint32_t wire_variants(Direction) { return 2; }
enum class Align : std::uint8_t { Start, Center, End, Stretch };
constexpr std::uint32_t wire_variants(Align) { return 4; }

#define OSTREL_UI_EQ(T) friend bool operator==(const T&, const T&) = default

struct Container {
  Direction direction = Direction::Column;
  std::uint16_t gap = 0;
  std::uint16_t padding = 0;
  Align align = Align::Start;
  static constexpr auto fields() { return std::tuple{&Container::direction, &Container::gap, &Container::padding, &Container::align}; }
  OSTREL_UI_EQ(Container);
};
struct Label {
  std::string text;
  static constexpr auto fields() { return std::tuple{&Label::text}; }
  OSTREL_UI_EQ(Label);
};
struct Button {
  std::string text;
  static constexpr auto fields() { return std::tuple{&Button::text}; }
  OSTREL_UI_EQ(Button);
};
struct Image {
  Hash hash{};
  static constexpr auto fields() { return std::tuple{&Image::hash}; }
  OSTREL_UI_EQ(Image);
};
struct TextInput {
  std::string initial;
  std::string placeholder;
  static constexpr auto fields() { return std::tuple{&TextInput::initial, &TextInput::placeholder}; }
  OSTREL_UI_EQ(TextInput);
};
struct Checkbox {
  std::string text;
  bool checked = false;
  static constexpr auto fields() { return std::tuple{&Checkbox::text, &Checkbox::checked}; }
  OSTREL_UI_EQ(Checkbox);
};
struct Slider {
  std::int32_t min = 0;
  std::int32_t max = 0;
  std::int32_t value = 0;
  static constexpr auto fields() { return std::tuple{&Slider::min, &Slider::max, &Slider::value}; }
  OSTREL_UI_EQ(Slider);
};
struct Dropdown {
  std::vector<std::string> options;
  std::uint16_t selected = 0;  // zero-based into options
  static constexpr auto fields() { return std::tuple{&Dropdown::options, &Dropdown::selected}; }
  OSTREL_UI_EQ(Dropdown);
};
struct ItemSlot {
  std::string view;
  std::uint16_t index = 0;
  static constexpr auto fields() { return std::tuple{&ItemSlot::view, &ItemSlot::index}; }
  OSTREL_UI_EQ(ItemSlot);
};
struct ItemGrid {
  std::string view;
  std::uint16_t columns = 0;  // slots per row
  std::uint16_t first = 0;    // first slot shown, zero-based
  std::uint16_t count = 0;    // slots shown
  static constexpr auto fields() { return std::tuple{&ItemGrid::view, &ItemGrid::columns, &ItemGrid::first, &ItemGrid::count}; }
  OSTREL_UI_EQ(ItemGrid);
};
struct Scroll {
  static constexpr auto fields() { return std::tuple{}; }
  OSTREL_UI_EQ(Scroll);
};
struct Spacer {
  static constexpr auto fields() { return std::tuple{}; }
  OSTREL_UI_EQ(Spacer);
};
struct Progress {
  std::uint16_t permille = 0;  // 0..1000
  static constexpr auto fields() { return std::tuple{&Progress::permille}; }
  OSTREL_UI_EQ(Progress);
};
struct ShapeEditor {
  std::uint32_t shape = 0;           // bit i = cell i, cell index x + 3y + 9z
  std::uint16_t material = 0;        // the brush
  std::vector<std::uint16_t> cells;  // empty, or 27 material ids (0 for an empty cell)
  static constexpr auto fields() { return std::tuple{&ShapeEditor::shape, &ShapeEditor::material, &ShapeEditor::cells}; }
  OSTREL_UI_EQ(ShapeEditor);
};

// The index is the wire index; the names a mod gives as `type` are kWidgetNames.
using Widget = std::variant<Container, Label, Button, Image, TextInput, Checkbox, Slider, Dropdown,
                            ItemSlot, ItemGrid, Scroll, Spacer, Progress, ShapeEditor>;
inline constexpr const char* kWidgetNames[] = {
    "container", "label",     "button", "image",  "text_input", "checkbox", "slider",
    "dropdown",  "item_slot", "item_grid", "scroll", "spacer",  "progress", "shape_editor"};
static_assert(std::size(kWidgetNames) == std::variant_size_v<Widget>);

struct Style {
  std::optional<Colour> background;
  std::optional<Colour> border;
  std::optional<Hash> nine_slice;
  std::optional<Colour> text_colour;
  std::optional<std::uint16_t> text_size;
  std::optional<std::string> font;  // a registered font id, mod-qualified
  static constexpr auto fields() {
    return std::tuple{&Style::background, &Style::border, &Style::nine_slice, &Style::text_colour,
                      &Style::text_size, &Style::font};
  }
  OSTREL_UI_EQ(Style);
};

struct Node {
  Widget widget;
  std::string name;                       // empty when the mod gave none
  std::optional<std::string> tooltip;
  Style style;
  std::uint16_t grow = 0;                 // share of the parent's leftover space
  std::optional<std::uint16_t> size;      // along the parent's direction, virtual pixels
  std::optional<std::uint16_t> cross_size;
  std::uint32_t first_child = 0;          // index of the first child in the tree
  std::uint32_t child_count = 0;
  static constexpr auto fields() {
    return std::tuple{&Node::widget, &Node::name, &Node::tooltip, &Node::style, &Node::grow,
                      &Node::size, &Node::cross_size, &Node::first_child, &Node::child_count};
  }
  OSTREL_UI_EQ(Node);
};

// Nodes in breadth-first order; node 0 is the root, each node's children a contiguous run after it.
struct Tree {
  std::vector<Node> nodes;
  static constexpr auto fields() { return std::tuple{&Tree::nodes}; }
  OSTREL_UI_EQ(Tree);
};

#undef OSTREL_UI_EQ

// A dialog as a mod nests it: a node whose child fields are still zero, and its children.
struct Build {
  Node node;
  std::vector<Build> children;

  // Breadth first: siblings keep their order, each level follows the one above it.
  [[nodiscard]] Tree flatten() &&;
};

}  // namespace ostrel_core::ui::tree
