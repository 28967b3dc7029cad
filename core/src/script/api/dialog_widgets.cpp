// The widget table readers: a mod's nested tables into a dialog tree, bounded as they are read.

#include "script/api/dialog_widgets.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <lua.hpp>
#include <span>
#include <utility>
#include <vector>

#include "presentation/ui/limits.hpp"
#include "proto/codec.hpp"
#include "proto/protocol_error.hpp"
#include "script/api/fields.hpp"
#include "script/lua_vm/convert.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

namespace tree = ui::tree;
using ui::limits::UiError;

constexpr ui::limits::Limits kLimits{};

constexpr std::string_view kWidgetFields[] = {
    "type",   "name",      "tooltip", "style",    "grow",  "size",        "cross_size", "children",
    "direction", "gap",    "padding", "align",    "permille", "text",     "hash",       "initial",
    "placeholder", "checked", "min",  "max",      "value", "options",     "selected",   "view",
    "index",  "columns",   "first",   "count",    "shape", "material",    "cells"};
static_assert(std::size(kWidgetFields) == 31);

constexpr std::string_view kStyleFields[] = {"font", "border", "text_size", "text_colour", "background",
                                             "nine_slice"};

constexpr std::uint32_t kWholeBlock = 0x7FFFFFF;

[[noreturn]] void too_large(lua_State* L) {
  convert::raise(L, fmt::format("dialog takes more than {} bytes, the limit of one message",
                                proto::kMaxMessageBytes));
}

std::size_t varint_size(std::uint64_t v) {
  std::size_t n = 1;
  for (; v >= 0x80; v >>= 7) ++n;
  return n;
}

// Charges `bytes` of the widget being read; refuses once the tree cannot fit its message.
void charge(lua_State* L, WidgetReading& r, std::size_t bytes) {
  r.pending += bytes;
  if (r.pending > r.room || r.bytes > r.room - r.pending) too_large(L);
}

// The text at stack index `i` (a string, or a number in its text form), charged before it is
// copied.
std::string take_text(lua_State* L, int i, std::string_view field, WidgetReading& r) {
  if (lua_type(L, i) != LUA_TSTRING && lua_type(L, i) != LUA_TNUMBER) {
    fields::field_error(L, r.ctx, field, convert::mismatch(L, i, "string"));
  }
  if (lua_type(L, i) == LUA_TNUMBER) {
    auto text = convert::to_text(L, i);
    if (!text) fields::field_error(L, r.ctx, field, text.error());
    charge(L, r, text->size());
    return std::move(*text);
  }
  std::size_t len = 0;
  const char* p = lua_tolstring(L, i, &len);
  charge(L, r, len);
  const std::string_view view(p, len);
  require_utf8(L, view, r.ctx, field);
  return std::string(view);
}

// The optional text field `key` of the table at `t`.
std::optional<std::string> opt_text(lua_State* L, int t, std::string_view key, WidgetReading& r) {
  std::optional<std::string> out;
  if (fields::raw_field(L, t, key) != LUA_TNIL) out = take_text(L, -1, key, r);
  lua_pop(L, 1);
  return out;
}

std::string text_or_empty(lua_State* L, int t, std::string_view key, WidgetReading& r) {
  return opt_text(L, t, key, r).value_or(std::string());
}

// A text field that must be there: absent is the conversion error of a nil value.
std::string needed_text(lua_State* L, int t, std::string_view key, WidgetReading& r) {
  fields::raw_field(L, t, key);
  std::string out = take_text(L, -1, key, r);
  lua_pop(L, 1);
  return out;
}

template <std::integral I>
std::optional<I> opt_integer(lua_State* L, int t, std::string_view key, std::string_view ctx) {
  std::optional<I> out;
  if (fields::raw_field(L, t, key) != LUA_TNIL) out = fields::integer_value<I>(L, -1, ctx, key);
  lua_pop(L, 1);
  return out;
}

bool truth(lua_State* L, int t, std::string_view key) {
  fields::raw_field(L, t, key);
  const bool out = lua_toboolean(L, -1) != 0;
  lua_pop(L, 1);
  return out;
}

// A one-based number stored zero-based; 0 and absent both store 0.
std::uint16_t one_based(lua_State* L, int t, std::string_view key, std::string_view ctx) {
  const std::uint16_t n = opt_integer<std::uint16_t>(L, t, key, ctx).value_or(0);
  return n == 0 ? 0 : static_cast<std::uint16_t>(n - 1);
}

// Pushes the table at `key` and answers true; absent pushes nothing and answers false.
bool push_table(lua_State* L, int t, std::string_view key, std::string_view ctx) {
  const int type = fields::raw_field(L, t, key);
  if (type == LUA_TNIL) {
    lua_pop(L, 1);
    return false;
  }
  if (type != LUA_TTABLE) fields::field_error(L, ctx, key, convert::mismatch(L, -1, "table"));
  return true;
}

// A content hash field; none when absent and not `needed`.
std::optional<tree::Hash> hash_field(lua_State* L, int t, std::string_view key, bool needed, WidgetReading& r) {
  const int type = fields::raw_field(L, t, key);
  if (type == LUA_TNIL && !needed) {
    lua_pop(L, 1);
    return std::nullopt;
  }
  (void)r;
  convert::raise(L, fmt::format("`{}` must be a content hash: 64 hex characters, as game.content_hash answers",
                                key));
}

tree::Widget container_of(lua_State* L, int t, WidgetReading& r) {
  tree::Container c;
  if (auto d = opt_text(L, t, "direction", r)) {
    if (*d == "row") {
      c.direction = tree::Direction::Row;
    } else if (*d == "column") {
      c.direction = tree::Direction::Column;
    } else {
      convert::raise(L, fmt::format("container direction must be `row` or `column`, not `{}`", *d));
    }
  }
  c.gap = opt_integer<std::uint16_t>(L, t, "gap", r.ctx).value_or(0);
  c.padding = opt_integer<std::uint16_t>(L, t, "padding", r.ctx).value_or(0);
  if (auto a = opt_text(L, t, "align", r)) {
    constexpr std::pair<std::string_view, tree::Align> kAligns[] = {{"start", tree::Align::Start},
                                                                    {"center", tree::Align::Center},
                                                                    {"end", tree::Align::End},
                                                                    {"stretch", tree::Align::Stretch}};
    const auto* it = std::find_if(std::begin(kAligns), std::end(kAligns), [&](const auto& p) { return p.first == *a; });
    if (it == std::end(kAligns)) {
      convert::raise(L, fmt::format("container align must be start, center, end or stretch, not `{}`", *a));
    }
    c.align = it->second;
  }
  return c;
}

tree::Widget dropdown_of(lua_State* L, int t, WidgetReading& r) {
  tree::Dropdown d;
  if (push_table(L, t, "options", r.ctx)) {
    const int list = lua_gettop(L);
    const std::size_t n = lua_rawlen(L, list);
    if (n > kLimits.max_options) {
      convert::raise(L, UiError::too_many_entries("dropdown options", n, kLimits.max_options).message());
    }
    d.options.reserve(n);
    for (std::size_t i = 1; i <= n; ++i) {
      lua_rawgeti(L, list, static_cast<lua_Integer>(i));
      d.options.push_back(take_text(L, -1, fmt::format("options[{}]", i), r));
      lua_pop(L, 1);
    }
    lua_pop(L, 1);
  }
  d.selected = one_based(L, t, "selected", r.ctx);
  return d;
}

tree::Widget shape_editor_of(lua_State* L, int t, WidgetReading& r) {
  const auto material = opt_integer<std::uint16_t>(L, t, "material", r.ctx);
  const auto shape = opt_integer<std::uint32_t>(L, t, "shape", r.ctx);
  tree::ShapeEditor e;
  if (!push_table(L, t, "cells", r.ctx)) {
    e.shape = shape.value_or(kWholeBlock);
    e.material = material.value_or(1);
    return e;
  }
  const int list = lua_gettop(L);
  const std::size_t n = lua_rawlen(L, list);
  if (n != 27) {
    convert::raise(L, fmt::format("shape_editor: `cells` has {} entries; it is one per cell of a block, 27", n));
  }
  e.cells.reserve(27);
  std::uint32_t occupancy = 0;
  std::uint16_t lowest = 0;
  for (int i = 1; i <= 27; ++i) {
    lua_rawgeti(L, list, i);
    const auto id = lua_isnil(L, -1) ? std::nullopt : fields::read_integer<std::uint16_t>(L, -1);
    if (!id) convert::raise(L, fmt::format("shape_editor: `cells[{}]` is a material id, or 0 for an empty cell", i));
    lua_pop(L, 1);
    e.cells.push_back(*id);
    if (*id != 0) {
      occupancy |= 1u << (i - 1);
      if (lowest == 0 || *id < lowest) lowest = *id;
    }
  }
  lua_pop(L, 1);
  if (shape && *shape != occupancy) {
    convert::raise(L, fmt::format("shape_editor: `shape` is {:#x} but its cells fill {:#x}; with `cells` the shape is "
                                  "theirs and need not be given",
                                  *shape, occupancy));
  }
  e.shape = occupancy;
  e.material = material.value_or(lowest == 0 ? 1 : lowest);
  return e;
}

}  // namespace

std::size_t WidgetReading::room_for(std::string_view form) {
  // Message index, the form, the tree, the compact byte.
  const std::size_t fixed = 1 + varint_size(form.size()) + form.size() + 1;
  return fixed >= proto::kMaxMessageBytes ? 0 : proto::kMaxMessageBytes - fixed;
}

void require_utf8(lua_State* L, std::string_view text, std::string_view ctx, std::string_view field) {
  const std::span bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  if (!proto::is_valid_utf8(bytes)) {
    fields::field_error(L, ctx, field, convert::ConvertError{"expected UTF-8 text, got bytes that are not"});
  }
}

std::optional<tree::Colour> colour(lua_State* L, int idx, std::string_view key, std::string_view ctx) {
  if (!push_table(L, idx, key, ctx)) return std::nullopt;
  const int list = lua_gettop(L);
  const std::size_t n = lua_rawlen(L, list);
  if (n != 3 && n != 4) convert::raise(L, fmt::format("`{}` wants three or four numbers, got {}", key, n));
  tree::Colour c{0, 0, 0, 255};
  for (std::size_t i = 0; i < n; ++i) {
    lua_rawgeti(L, list, static_cast<lua_Integer>(i + 1));
    c[i] = fields::integer_value<std::uint8_t>(L, -1, ctx, key);
    lua_pop(L, 1);
  }
  lua_pop(L, 1);
  return c;
}

tree::Style widget_style(lua_State* L, int idx, WidgetReading& r) {
  tree::Style s;
  if (!push_table(L, idx, "style", r.ctx)) return s;
  const int t = lua_gettop(L);
  if (auto bad = fields::unknown_key(L, t, kStyleFields, true)) {
    convert::raise(L, fmt::format("dialog style: unknown field `{}`", *bad));
  }
  s.background = colour(L, t, "background", r.ctx);
  s.border = colour(L, t, "border", r.ctx);
  s.nine_slice = hash_field(L, t, "nine_slice", false, r);
  s.text_colour = colour(L, t, "text_colour", r.ctx);
  s.text_size = opt_integer<std::uint16_t>(L, t, "text_size", r.ctx);
  s.font = opt_text(L, t, "font", r);
  lua_pop(L, 1);
  return s;
}

tree::Widget widget_of(lua_State* L, std::string_view type, int idx, WidgetReading& r) {
  const int t = lua_absindex(L, idx);
  if (type == "container") return container_of(L, t, r);
  if (type == "label") return tree::Label{text_or_empty(L, t, "text", r)};
  if (type == "button") return tree::Button{text_or_empty(L, t, "text", r)};
  if (type == "image") return tree::Image{*hash_field(L, t, "hash", true, r)};
  if (type == "text_input") {
    tree::TextInput in;
    in.initial = text_or_empty(L, t, "initial", r);
    in.placeholder = text_or_empty(L, t, "placeholder", r);
    return in;
  }
  if (type == "checkbox") {
    tree::Checkbox c;
    c.text = text_or_empty(L, t, "text", r);
    c.checked = truth(L, t, "checked");
    return c;
  }
  if (type == "slider") {
    tree::Slider s;
    s.min = opt_integer<std::int32_t>(L, t, "min", r.ctx).value_or(0);
    s.max = opt_integer<std::int32_t>(L, t, "max", r.ctx).value_or(100);
    s.value = opt_integer<std::int32_t>(L, t, "value", r.ctx).value_or(0);
    return s;
  }
  if (type == "dropdown") return dropdown_of(L, t, r);
  if (type == "item_slot") {
    tree::ItemSlot s;
    s.view = needed_text(L, t, "view", r);
    s.index = one_based(L, t, "index", r.ctx);
    return s;
  }
  if (type == "item_grid") {
    tree::ItemGrid g;
    g.view = needed_text(L, t, "view", r);
    g.columns = opt_integer<std::uint16_t>(L, t, "columns", r.ctx).value_or(9);
    g.first = one_based(L, t, "first", r.ctx);
    g.count = opt_integer<std::uint16_t>(L, t, "count", r.ctx).value_or(0);
    return g;
  }
  if (type == "scroll") return tree::Scroll{};
  if (type == "spacer") return tree::Spacer{};
  if (type == "progress") return tree::Progress{opt_integer<std::uint16_t>(L, t, "permille", r.ctx).value_or(0)};
  if (type == "shape_editor") return shape_editor_of(L, t, r);
  convert::raise(L, fmt::format("dialog widget: unknown type `{}`", type));
}

tree::Build widget_build(lua_State* L, int idx, std::size_t depth, WidgetReading& r) {
  const int t = lua_absindex(L, idx);
  if (depth >= kLimits.max_depth) {
    convert::raise(L, fmt::format("dialog nests deeper than {} widgets", kLimits.max_depth));
  }
  ++r.widgets;
  if (r.widgets > kLimits.max_widgets) {
    convert::raise(L, UiError::too_many_nodes(r.widgets, kLimits.max_widgets).message());
  }
  luaL_checkstack(L, 8, "dialog nesting");
  if (auto bad = fields::unknown_key(L, t, kWidgetFields, true)) {
    convert::raise(L, fmt::format("dialog widget: unknown field `{}`", *bad));
  }
  tree::Build b;
  const std::string type = needed_text(L, t, "type", r);
  b.node.widget = widget_of(L, type, t, r);
  b.node.name = text_or_empty(L, t, "name", r);
  if (auto tip = opt_text(L, t, "tooltip", r); tip && !tip->empty()) b.node.tooltip = std::move(tip);
  b.node.style = widget_style(L, t, r);
  b.node.grow = opt_integer<std::uint16_t>(L, t, "grow", r.ctx).value_or(0);
  b.node.size = opt_integer<std::uint16_t>(L, t, "size", r.ctx);
  b.node.cross_size = opt_integer<std::uint16_t>(L, t, "cross_size", r.ctx);

  // The node's own bytes, its child fields still one byte each.
  std::vector<std::uint8_t> wire;
  proto::encode_into(wire, b.node);
  r.pending = 0;
  if (wire.size() > r.room || r.bytes > r.room - wire.size()) too_large(L);
  r.bytes += wire.size();

  if (push_table(L, t, "children", r.ctx)) {
    const int list = lua_gettop(L);
    for (lua_Integer i = 1;; ++i) {
      const int type_at = lua_rawgeti(L, list, i);
      if (type_at == LUA_TNIL) {
        lua_pop(L, 1);
        break;
      }
      if (type_at != LUA_TTABLE) {
        fields::field_error(L, r.ctx, fmt::format("children[{}]", i), convert::mismatch(L, -1, "table"));
      }
      b.children.push_back(widget_build(L, -1, depth + 1, r));
      lua_pop(L, 1);
    }
    lua_pop(L, 1);
  }
  return b;
}

tree::Tree widget_tree(lua_State* L, int idx, WidgetReading& r) {
  tree::Tree out = widget_build(L, idx, 0, r).flatten();
  // The child fields were counted as one byte each, the node count as one.
  std::size_t bytes = r.bytes - 1 + varint_size(out.nodes.size());
  for (const auto& n : out.nodes) bytes += varint_size(n.first_child) + varint_size(n.child_count) - 2;
  if (bytes > r.room) too_large(L);
  r.bytes = bytes;
  return out;
}

}  // namespace ostrel_core::script::lua_vm
