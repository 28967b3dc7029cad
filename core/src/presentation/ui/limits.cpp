#include "presentation/ui/limits.hpp"

#include <utility>
#include <vector>

#include <fmt/format.h>

#include "world/block.hpp"
#include "presentation/ui/tree.hpp"

namespace ostrel_core::ui::limits {
namespace {

using block::kCells;
constexpr std::uint16_t kMaxPermille = 1000;

using Check = std::expected<void, UiError>;

Check text(std::string_view field, const std::string& s, std::size_t limit) {
  if (s.size() > limit) return std::unexpected(UiError::text_too_long(field, s.size(), limit));
  return {};
}

struct WidgetCheck {
  const Limits& l;

  Check operator()(const tree::Label& w) const { return text("label", w.text, l.max_text_bytes); }
  Check operator()(const tree::Button& w) const { return text("button", w.text, l.max_text_bytes); }
  Check operator()(const tree::Checkbox& w) const { return text("checkbox", w.text, l.max_text_bytes); }
  Check operator()(const tree::TextInput& w) const {
    if (auto r = text("text_input", w.initial, l.max_text_bytes); !r) return r;
    return text("placeholder", w.placeholder, l.max_text_bytes);
  }
  Check operator()(const tree::Slider& w) const {
    if (w.min > w.max) return std::unexpected(UiError::malformed(fmt::format("slider has min {} above max {}", w.min, w.max)));
    if (w.value < w.min || w.value > w.max) {
      return std::unexpected(
          UiError::malformed(fmt::format("slider value {} is outside {}..={}", w.value, w.min, w.max)));
    }
    return {};
  }
  Check operator()(const tree::Dropdown& w) const {
    if (w.options.size() > l.max_options) {
      return std::unexpected(UiError::too_many_entries("dropdown options", w.options.size(), l.max_options));
    }
    for (const auto& o : w.options) {
      if (auto r = text("dropdown option", o, l.max_text_bytes); !r) return r;
    }
    if (!w.options.empty() && w.selected >= w.options.size()) {
      return std::unexpected(
          UiError::malformed(fmt::format("dropdown selects option {} of {}", w.selected, w.options.size())));
    }
    return {};
  }
  Check operator()(const tree::ItemSlot& w) const { return text("view", w.view, l.max_text_bytes); }
  Check operator()(const tree::ItemGrid& w) const {
    if (auto r = text("view", w.view, l.max_text_bytes); !r) return r;
    if (w.count > l.max_grid_slots) return std::unexpected(UiError::too_many_entries("grid slots", w.count, l.max_grid_slots));
    if (w.count > 0 && w.columns == 0) {
      return std::unexpected(UiError::malformed("an item grid with slots must have at least one column"));
    }
    return {};
  }
  Check operator()(const tree::Progress& w) const {
    if (w.permille > kMaxPermille) {
      return std::unexpected(UiError::malformed(fmt::format("progress of {} permille is over 1000", w.permille)));
    }
    return {};
  }
  Check operator()(const tree::ShapeEditor& w) const {
    if ((w.shape & ~block::kOccupancyFull) != 0) {
      return std::unexpected(
          UiError::malformed(fmt::format("shape editor mask {:#x} has bits outside a block's 27 sub-nodes", w.shape)));
    }
    return check_editor_cells(w.shape, w.cells);
  }
  Check operator()(const tree::Container&) const { return {}; }
  Check operator()(const tree::Image&) const { return {}; }
  Check operator()(const tree::Scroll&) const { return {}; }
  Check operator()(const tree::Spacer&) const { return {}; }
};

Check check_node(const tree::Node& n, std::size_t index, std::size_t count, const Limits& l) {
  if (auto r = text("name", n.name, l.max_text_bytes); !r) return r;
  if (n.tooltip) {
    if (auto r = text("tooltip", *n.tooltip, l.max_tooltip_bytes); !r) return r;
  }
  if (auto r = std::visit(WidgetCheck{l}, n.widget); !r) return r;
  if (n.child_count != 0) {
    std::uint64_t end = std::uint64_t{n.first_child} + n.child_count;
    if (end > count) {
      return std::unexpected(UiError::malformed(
          fmt::format("widget {} claims children {}..{} of {} widgets", index, n.first_child, end, count)));
    }
    if (n.first_child <= index) {
      return std::unexpected(
          UiError::malformed(fmt::format("widget {} claims child {}, which is not after it", index, n.first_child)));
    }
  }
  return {};
}

// Depth first from the root; every child range was checked to lie after its parent.
Check check_depth(const tree::Tree& t, const Limits& l) {
  std::vector<bool> marked(t.nodes.size(), false);
  std::vector<std::pair<std::size_t, std::size_t>> stack{{0, 1}};
  marked[0] = true;
  while (!stack.empty()) {
    auto [index, depth] = stack.back();
    stack.pop_back();
    if (depth > l.max_depth) return std::unexpected(UiError::too_deep(depth, l.max_depth));
    const tree::Node& n = t.nodes[index];
    for (std::size_t c = n.first_child; c < std::size_t{n.first_child} + n.child_count; ++c) {
      if (marked[c]) return std::unexpected(UiError::malformed(fmt::format("widget {} is claimed as a child twice", c)));
      marked[c] = true;
      stack.emplace_back(c, depth + 1);
    }
  }
  return {};
}

}  // namespace

std::string UiError::message() const {
  switch (kind_) {
    case UiErrorKind::TooDeep: return fmt::format("dialog nests {} deep, over the limit of {}", found_, limit_);
    case UiErrorKind::TooManyNodes: return fmt::format("dialog has {} widgets, over the limit of {}", found_, limit_);
    case UiErrorKind::TextTooLong: return fmt::format("a {} of {} bytes is over the limit of {}", field_, found_, limit_);
    case UiErrorKind::TooManyEntries: return fmt::format("{} has {} entries, over the limit of {}", field_, found_, limit_);
    case UiErrorKind::Malformed: return what_;
  }
  return what_;
}

std::string UiError::debug() const {
  switch (kind_) {
    case UiErrorKind::TooDeep: return fmt::format("TooDeep {{ found: {}, limit: {} }}", found_, limit_);
    case UiErrorKind::TooManyNodes: return fmt::format("TooManyNodes {{ found: {}, limit: {} }}", found_, limit_);
    case UiErrorKind::TextTooLong:
      return fmt::format("TextTooLong {{ field: {:?}, found: {}, limit: {} }}", field_, found_, limit_);
    case UiErrorKind::TooManyEntries:
      return fmt::format("TooManyEntries {{ field: {:?}, found: {}, limit: {} }}", field_, found_, limit_);
    case UiErrorKind::Malformed: return fmt::format("Malformed {{ what: {:?} }}", what_);
  }
  return {};
}

std::expected<void, UiError> check(const tree::Tree& t, const Limits& l) {
  if (t.nodes.empty()) return std::unexpected(UiError::malformed("a dialog has no widgets at all"));
  if (t.nodes.size() > l.max_widgets) return std::unexpected(UiError::too_many_nodes(t.nodes.size(), l.max_widgets));
  for (std::size_t i = 0; i < t.nodes.size(); ++i) {
    if (auto r = check_node(t.nodes[i], i, t.nodes.size(), l); !r) return r;
  }
  return check_depth(t, l);
}

std::expected<void, UiError> check_editor_cells(std::uint32_t shape, std::span<const std::uint16_t> cells) {
  if (cells.empty()) return {};
  if (cells.size() != kCells) {
    return std::unexpected(UiError::malformed(
        fmt::format("shape editor cells has {} entries; it is empty or one per cell, 27", cells.size())));
  }
  std::uint32_t occupancy = 0;
  for (std::size_t i = 0; i < kCells; ++i) {
    if (cells[i] != 0) occupancy |= 1u << i;
  }
  if (occupancy != shape) {
    return std::unexpected(UiError::malformed(
        fmt::format("shape editor mask {:#x} is not its cells' occupancy {:#x}", shape, occupancy)));
  }
  return {};
}

}  // namespace ostrel_core::ui::limits
