#pragma once
// Reading a dialog from a mod's widget tables into a tree. Every widget field and kind is
// checked; defaults fill what the mod left out; one-based numbers become zero-based. The reader
// counts widgets and the message's bytes as it goes, so a table shared many times (a child or
// an option list) is never expanded past the limits of one dialog message. The engine's own
// header: not for use outside core/src/script.
//
// Every function raises its refusal as a Lua error (a conversion error is
// "{ctx}: bad field `{field}` ({why})"); call them where a Lua error may be raised.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "presentation/ui/tree.hpp"

struct lua_State;

namespace ostrel_core::script::lua_vm {

// The bounds a dialog read keeps, and what it has used of them.
struct WidgetReading {
  std::string_view ctx;      // the calling function, for conversion errors
  std::size_t room = 0;      // bytes the tree may take in its message
  std::size_t widgets = 0;   // widget tables begun
  std::size_t bytes = 1;     // the tree's bytes so far (child fields counted as one byte each)
  std::size_t pending = 0;   // text bytes of the widget being read
  // The keys of each widget and style table read: a table used many times is scanned once.
  std::unordered_map<const void*, std::uint64_t> widget_keys;
  std::unordered_map<const void*, std::uint64_t> style_keys;
  std::vector<std::uint8_t> scratch;  // one widget's encoding, to count its bytes

  // Bytes a ShowDialog with `form` leaves to its tree.
  static std::size_t room_for(std::string_view form);
};

// The dialog under the table at `idx`, flattened. Limits other than widgets, depth and bytes
// are left to ui::limits::check.
ui::tree::Tree widget_tree(lua_State* L, int idx, WidgetReading& reading);
// One widget at `depth` (the root 0) with everything under it.
ui::tree::Build widget_build(lua_State* L, int idx, std::size_t depth, WidgetReading& reading);
// The kind named `type` with its own fields, from the widget table at `idx`.
ui::tree::Widget widget_of(lua_State* L, std::string_view type, int idx, WidgetReading& reading);
// The widget's `style`; every field absent without one.
ui::tree::Style widget_style(lua_State* L, int idx, WidgetReading& reading);
// The colour at `key` of the table at `idx`: three or four bytes, alpha 255 when three.
std::optional<ui::tree::Colour> colour(lua_State* L, int idx, std::string_view key, std::string_view ctx);

// Raises "{ctx}: bad field `{field}` (...)" unless `text` is valid UTF-8.
void require_utf8(lua_State* L, std::string_view text, std::string_view ctx, std::string_view field);

}  // namespace ostrel_core::script::lua_vm
