// The widget table readers: a mod's nested tables into a dialog tree, bounded as they are read.

#include "script/api/dialog_widgets.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <unordered_map>
#include <lua.hpp>
#include <span>
#include <utility>
#include <vector>

#include "presentation/ui/limits.hpp"
#include "proto/codec.hpp"
#include "proto/protocol_error.hpp"
#include "script/api/fields.hpp"
#include "script/api/presentation_readers.hpp"
#include "script/lua_vm/convert.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

namespace tree = ui::tree;
using ui::limits::UiError;

constexpr ui::limits::Limits kLimits{};

// Every text key a widget table may hold (the first 31) and a style table (the last six).
constexpr std::string_view kKeys[] = {
    "type",   "name",      "tooltip", "style",    "grow",  "size",        "cross_size", "children",
    "direction", "gap",    "padding", "align",    "permille", "text",     "hash",       "initial",
    "placeholder", "checked", "min",  "max",      "value", "options",     "selected",   "view",
    "index",  "columns",   "first",   "count",    "shape", "material",    "cells",
    "font",   "border",    "text_size", "text_colour", "background", "nine_slice"};
constexpr std::size_t kWidgetKeys = 31;
static_assert(std::size(kKeys) == kWidgetKeys + 6);

consteval std::uint64_t key_bit(std::string_view key) {
  for (std::size_t i = 0; i < std::size(kKeys); ++i) {
    if (kKeys[i] == key) return std::uint64_t{1} << i;
  }
  throw "not a widget or style key";
}

// A field name known at compile time, with its bit in a table's key mask.
struct Key {
  consteval Key(const char* n) : name(n), bit(key_bit(n)) {}
  std::string_view name;
  std::uint64_t bit;
};

// A widget or style table at stack index `t` and the keys it holds: an absent key is never
// looked up.
struct Table {
  lua_State* L;
  int t;
  std::uint64_t present;
  // Pushes t[key] and answers its type; absent keys push nil without a lookup.
  int push(Key key) const {
    if ((present & key.bit) == 0) {
      lua_pushnil(L);
      return LUA_TNIL;
    }
    return fields::raw_field(L, t, key.name);
  }
};

// The keys of the table at `t` among kKeys[first, first + count), memoised by table: the first
// text key outside them (in traversal order) is refused as "{what}: unknown field `{key}`".
std::uint64_t keys_of(lua_State* L, int t, std::size_t first, std::size_t count, std::string_view what,
                      std::unordered_map<const void*, std::uint64_t>& seen) {
  const auto [it, fresh] = seen.try_emplace(lua_topointer(L, t), 0);
  if (!fresh) return it->second;
  std::uint64_t mask = 0;
  lua_pushnil(L);
  while (lua_next(L, t) != 0) {
    if (lua_type(L, -2) == LUA_TSTRING) {
      std::size_t len = 0;
      const char* p = lua_tolstring(L, -2, &len);
      const std::string_view key(p, len);
      std::size_t i = first;
      while (i < first + count && kKeys[i] != key) ++i;
      if (i == first + count) {
        seen.erase(lua_topointer(L, t));
        convert::raise(L, fmt::format("{}: unknown field `{}`", what, convert::valid_utf8(key)));
      }
      mask |= std::uint64_t{1} << i;
    }
    lua_pop(L, 1);
  }
  it->second = mask;
  return mask;
}

constexpr std::uint32_t kWholeBlock = 0x7FFFFFF;

const convert::ConvertError kNotUtf8{"expected UTF-8 text, got bytes that are not"};

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
// copied. `item`, when not 0, names the entry `field[item]` of a list.
std::string take_text(lua_State* L, int i, std::string_view field, WidgetReading& r, std::size_t item = 0) {
  const auto refuse = [&](const convert::ConvertError& why) {
    if (item == 0) fields::field_error(L, r.ctx, field, why);
    fields::field_error(L, r.ctx, fmt::format("{}[{}]", field, item), why);
  };
  const int type = lua_type(L, i);
  if (type == LUA_TNUMBER) {
    auto text = convert::to_text(L, i);
    if (!text) refuse(text.error());
    charge(L, r, text->size());
    return std::move(*text);
  }
  if (type != LUA_TSTRING) refuse(convert::mismatch(L, i, "string"));
  std::size_t len = 0;
  const char* p = lua_tolstring(L, i, &len);
  charge(L, r, len);
  if (!proto::is_valid_utf8({reinterpret_cast<const std::uint8_t*>(p), len})) refuse(kNotUtf8);
  return std::string(p, len);
}

// The optional text field `key`.
std::optional<std::string> opt_text(const Table& w, Key key, WidgetReading& r) {
  std::optional<std::string> out;
  if (w.push(key) != LUA_TNIL) out = take_text(w.L, -1, key.name, r);
  lua_pop(w.L, 1);
  return out;
}

std::string text_or_empty(const Table& w, Key key, WidgetReading& r) {
  return opt_text(w, key, r).value_or(std::string());
}

// A text field that must be there: absent is the conversion error of a nil value.
std::string needed_text(const Table& w, Key key, WidgetReading& r) {
  w.push(key);
  std::string out = take_text(w.L, -1, key.name, r);
  lua_pop(w.L, 1);
  return out;
}

template <std::integral I>
std::optional<I> opt_integer(const Table& w, Key key, std::string_view ctx) {
  std::optional<I> out;
  if (w.push(key) != LUA_TNIL) out = fields::integer_value<I>(w.L, -1, ctx, key.name);
  lua_pop(w.L, 1);
  return out;
}

bool truth(const Table& w, Key key) {
  w.push(key);
  const bool out = lua_toboolean(w.L, -1) != 0;
  lua_pop(w.L, 1);
  return out;
}

// A one-based number stored zero-based; 0 and absent both store 0.
std::uint16_t one_based(const Table& w, Key key, std::string_view ctx) {
  const std::uint16_t n = opt_integer<std::uint16_t>(w, key, ctx).value_or(0);
  return n == 0 ? 0 : static_cast<std::uint16_t>(n - 1);
}

// Pushes the table at `key` and answers true; absent pushes nothing and answers false.
bool table_pushed(lua_State* L, int type, std::string_view key, std::string_view ctx) {
  if (type == LUA_TNIL) {
    lua_pop(L, 1);
    return false;
  }
  if (type != LUA_TTABLE) fields::field_error(L, ctx, key, convert::mismatch(L, -1, "table"));
  return true;
}
bool push_table(const Table& w, Key key, std::string_view ctx) { return table_pushed(w.L, w.push(key), key.name, ctx); }

// A content hash field; none when absent and not `needed`. Until the shared content hash reader
// joins this engine, every hash given is refused with its text.
std::optional<tree::Hash> hash_field(const Table& w, Key key, bool needed, WidgetReading& r) {
  const int type = w.push(key);
  if (type == LUA_TNIL && !needed) {
    lua_pop(w.L, 1);
    return std::nullopt;
  }
  lua_pop(w.L, 1);
  return readers::content_hash(w.L, w.t, key.name, r.ctx);
}

tree::Widget container_of(const Table& w, WidgetReading& r) {
  tree::Container c;
  if (auto d = opt_text(w, "direction", r)) {
    if (*d == "row") {
      c.direction = tree::Direction::Row;
    } else if (*d == "column") {
      c.direction = tree::Direction::Column;
    } else {
      convert::raise(w.L, fmt::format("container direction must be `row` or `column`, not `{}`", *d));
    }
  }
  c.gap = opt_integer<std::uint16_t>(w, "gap", r.ctx).value_or(0);
  c.padding = opt_integer<std::uint16_t>(w, "padding", r.ctx).value_or(0);
  if (auto a = opt_text(w, "align", r)) {
    constexpr std::pair<std::string_view, tree::Align> kAligns[] = {{"start", tree::Align::Start},
                                                                    {"center", tree::Align::Center},
                                                                    {"end", tree::Align::End},
                                                                    {"stretch", tree::Align::Stretch}};
    const auto* it = std::find_if(std::begin(kAligns), std::end(kAligns), [&](const auto& p) { return p.first == *a; });
    if (it == std::end(kAligns)) {
      convert::raise(w.L, fmt::format("container align must be start, center, end or stretch, not `{}`", *a));
    }
    c.align = it->second;
  }
  return c;
}

tree::Widget dropdown_of(const Table& w, WidgetReading& r) {
  lua_State* L = w.L;
  tree::Dropdown d;
  if (push_table(w, "options", r.ctx)) {
    const int list = lua_gettop(L);
    const std::size_t n = lua_rawlen(L, list);
    if (n > kLimits.max_options) {
      convert::raise(L, UiError::too_many_entries("dropdown options", n, kLimits.max_options).message());
    }
    d.options.reserve(n);
    for (std::size_t i = 1; i <= n; ++i) {
      lua_rawgeti(L, list, static_cast<lua_Integer>(i));
      d.options.push_back(take_text(L, -1, "options", r, i));
      lua_pop(L, 1);
    }
    lua_pop(L, 1);
  }
  d.selected = one_based(w, "selected", r.ctx);
  return d;
}

tree::Widget shape_editor_of(const Table& w, WidgetReading& r) {
  lua_State* L = w.L;
  const auto material = opt_integer<std::uint16_t>(w, "material", r.ctx);
  const auto shape = opt_integer<std::uint32_t>(w, "shape", r.ctx);
  tree::ShapeEditor e;
  if (!push_table(w, "cells", r.ctx)) {
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

// The kind's own fields.
tree::Widget kind_of(const Table& w, std::string_view type, WidgetReading& r) {
  if (type == "container") return container_of(w, r);
  if (type == "label") return tree::Label{text_or_empty(w, "text", r)};
  if (type == "button") return tree::Button{text_or_empty(w, "text", r)};
  if (type == "image") return tree::Image{*hash_field(w, "hash", true, r)};
  if (type == "text_input") {
    tree::TextInput in;
    in.initial = text_or_empty(w, "initial", r);
    in.placeholder = text_or_empty(w, "placeholder", r);
    return in;
  }
  if (type == "checkbox") {
    tree::Checkbox c;
    c.text = text_or_empty(w, "text", r);
    c.checked = truth(w, "checked");
    return c;
  }
  if (type == "slider") {
    tree::Slider s;
    s.min = opt_integer<std::int32_t>(w, "min", r.ctx).value_or(0);
    s.max = opt_integer<std::int32_t>(w, "max", r.ctx).value_or(100);
    s.value = opt_integer<std::int32_t>(w, "value", r.ctx).value_or(0);
    return s;
  }
  if (type == "dropdown") return dropdown_of(w, r);
  if (type == "item_slot") {
    tree::ItemSlot s;
    s.view = needed_text(w, "view", r);
    s.index = one_based(w, "index", r.ctx);
    return s;
  }
  if (type == "item_grid") {
    tree::ItemGrid g;
    g.view = needed_text(w, "view", r);
    g.columns = opt_integer<std::uint16_t>(w, "columns", r.ctx).value_or(9);
    g.first = one_based(w, "first", r.ctx);
    g.count = opt_integer<std::uint16_t>(w, "count", r.ctx).value_or(0);
    return g;
  }
  if (type == "scroll") return tree::Scroll{};
  if (type == "spacer") return tree::Spacer{};
  if (type == "progress") return tree::Progress{opt_integer<std::uint16_t>(w, "permille", r.ctx).value_or(0)};
  if (type == "shape_editor") return shape_editor_of(w, r);
  convert::raise(w.L, fmt::format("dialog widget: unknown type `{}`", type));
}

// The keys of the widget table at `t`, checked once per table.
Table widget_table(lua_State* L, int t, WidgetReading& r) {
  return Table{L, t, keys_of(L, t, 0, kWidgetKeys, "dialog widget", r.widget_keys)};
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
    fields::field_error(L, ctx, field, kNotUtf8);
  }
}

std::optional<tree::Colour> colour(lua_State* L, int idx, std::string_view key, std::string_view ctx) {
  if (!table_pushed(L, fields::raw_field(L, idx, key), key, ctx)) return std::nullopt;
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
  const Table w = widget_table(L, lua_absindex(L, idx), r);
  if (!push_table(w, "style", r.ctx)) return s;
  const int t = lua_gettop(L);
  const Table style{L, t, keys_of(L, t, kWidgetKeys, 6, "dialog style", r.style_keys)};
  if (style.present & Key("background").bit) s.background = colour(L, t, "background", r.ctx);
  if (style.present & Key("border").bit) s.border = colour(L, t, "border", r.ctx);
  s.nine_slice = hash_field(style, "nine_slice", false, r);
  if (style.present & Key("text_colour").bit) s.text_colour = colour(L, t, "text_colour", r.ctx);
  s.text_size = opt_integer<std::uint16_t>(style, "text_size", r.ctx);
  s.font = opt_text(style, "font", r);
  lua_pop(L, 1);
  return s;
}

tree::Widget widget_of(lua_State* L, std::string_view type, int idx, WidgetReading& r) {
  return kind_of(widget_table(L, lua_absindex(L, idx), r), type, r);
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
  const Table w = widget_table(L, t, r);
  tree::Build b;
  const std::string type = needed_text(w, "type", r);
  b.node.widget = kind_of(w, type, r);
  b.node.name = text_or_empty(w, "name", r);
  if (auto tip = opt_text(w, "tooltip", r); tip && !tip->empty()) b.node.tooltip = std::move(tip);
  b.node.style = widget_style(L, t, r);
  b.node.grow = opt_integer<std::uint16_t>(w, "grow", r.ctx).value_or(0);
  b.node.size = opt_integer<std::uint16_t>(w, "size", r.ctx);
  b.node.cross_size = opt_integer<std::uint16_t>(w, "cross_size", r.ctx);
  // The node's own bytes, its child fields still one byte each.
  r.scratch.clear();
  proto::encode_into(r.scratch, b.node);
  const std::size_t own = r.scratch.size();
  r.pending = 0;
  if (own > r.room || r.bytes > r.room - own) too_large(L);
  r.bytes += own;

  if (push_table(w, "children", r.ctx)) {
    const int list = lua_gettop(L);
    b.children.reserve(std::min<std::size_t>(lua_rawlen(L, list), kLimits.max_widgets));
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
