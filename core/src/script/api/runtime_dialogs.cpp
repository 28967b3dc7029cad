// game.show_dialog, game.update_dialog, game.close_dialog and game.set_hover.

#include <fmt/format.h>

#include <lua.hpp>
#include <map>
#include <string>
#include <utility>

#include "presentation/ui/host.hpp"
#include "presentation/ui/limits.hpp"
#include "script/api/dialog_widgets.hpp"
#include "script/api/dialogs.hpp"
#include "script/api/fields.hpp"
#include "script/api/registration.hpp"
#include "script/api/runtime_call.hpp"
#include "script/lua_vm/exports.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

constexpr std::size_t kMaxHoverLines = 256;
constexpr std::size_t kMaxHoverBytes = 256;

// The request table's text field `key`, valid UTF-8.
std::string spec_text(lua_State* L, std::string_view key, std::string_view fn) {
  std::string text = fields::required_text(L, 1, key, fn);
  require_utf8(L, text, fn, key);
  return text;
}

// The form qualified with the calling mod's id (upvalue 2).
std::string qualified_form(lua_State* L, std::string_view fn) {
  const std::string form = spec_text(L, "form", fn);
  auto qualified = convert::qualify_id(upvalue_text(L, 2), form);
  if (!qualified) convert::raise(L, qualified.error());
  return std::move(*qualified);
}

// Calls the dialog service; an empty or poisoned slot answers false.
template <class F>
bool to_service(lua_State* L, F&& fn) {
  return slots_of(L).dialogs->with([&](ui::host::Access* s) { return s != nullptr && fn(*s); });
}

// show_dialog (upvalue 3 false) and update_dialog (true).
int show(lua_State* L) {
  const bool update = lua_toboolean(L, lua_upvalueindex(3)) != 0;
  const std::string_view fn = update ? "update_dialog" : "show_dialog";
  convert::arg_table(L, 1, fn);
  ui::host::ShowRequest request;
  request.player = fields::required_text(L, 1, "player", fn);
  request.form = qualified_form(L, fn);
  if (fields::raw_field(L, 1, "tree") != LUA_TTABLE) {
    fields::field_error(L, fn, "tree", convert::mismatch(L, -1, "table"));
  }
  if (holds_proxy(L, -1, kViewSearchDepth)) {
    push_opened_value(L, -1, kViewSearchDepth);
    if (lua_type(L, -1) != LUA_TTABLE) {
      convert::raise(L, fmt::format("an export stood for a {}, not a table", luaL_typename(L, -1)));
    }
  }
  WidgetReading reading{.ctx = fn, .room = WidgetReading::room_for(request.form)};
  request.tree = widget_tree(L, -1, reading);
  if (auto ok = ui::limits::check(request.tree, ui::limits::Limits{}); !ok) convert::raise(L, ok.error().message());
  request.compact = fields::get_truth(L, 1, "compact", false);
  request.update = update;
  request.mod = upvalue_text(L, 2);
  lua_pushboolean(L, to_service(L, [&](ui::host::Access& s) { return s.show(request); }) ? 1 : 0);
  return 1;
}

int close(lua_State* L) {
  convert::arg_table(L, 1, "close_dialog");
  const std::string player = fields::required_text(L, 1, "player", "close_dialog");
  const std::string form = qualified_form(L, "close_dialog");
  lua_pushboolean(L, to_service(L, [&](ui::host::Access& s) { return s.close(player, form); }) ? 1 : 0);
  return 1;
}

int set_hover(lua_State* L) {
  const std::string player = convert::arg_text(L, 1, "set_hover");
  std::map<std::uint16_t, std::string> lines;
  if (convert::arg_optional_table(L, 2, "set_hover")) {
    lua_pushnil(L);
    while (lua_next(L, 2) != 0) {
      std::string line = fields::text_value(L, -1, "set_hover", "lines");
      lua_pushvalue(L, -2);  // a copy of the key: converting it must not disturb the traversal
      const std::uint16_t material = convert::material_of(L, -1);
      lua_pop(L, 2);
      if (line.size() > kMaxHoverBytes) {
        convert::raise(L, fmt::format("set_hover: the line for material {} is {} bytes, over the cap of {}",
                                      material, line.size(), kMaxHoverBytes));
      }
      require_utf8(L, line, "set_hover", "lines");
      lines.insert_or_assign(material, std::move(line));
      if (lines.size() > kMaxHoverLines) {
        convert::raise(L, fmt::format("set_hover: {} lines, over the cap of {}", lines.size(), kMaxHoverLines));
      }
    }
  }
  ui::host::HoverLines sorted(std::make_move_iterator(lines.begin()), std::make_move_iterator(lines.end()));
  lua_pushboolean(L,
                  to_service(L, [&](ui::host::Access& s) { return s.set_hover(player, std::move(sorted)); }) ? 1 : 0);
  return 1;
}

}  // namespace

void install_dialogs(lua_State* L, std::string_view mod_id, int game_idx, const Slots& slots) {
  game_idx = lua_absindex(L, game_idx);
  push_slots(L, slots);
  for (const bool update : {false, true}) {
    lua_pushvalue(L, -1);
    push_text(L, mod_id);
    lua_pushboolean(L, update ? 1 : 0);
    lua_pushcclosure(L, show, 3);
    lua_setfield(L, game_idx, update ? "update_dialog" : "show_dialog");
  }
  lua_pushvalue(L, -1);
  push_text(L, mod_id);
  lua_pushcclosure(L, close, 2);
  lua_setfield(L, game_idx, "close_dialog");
  lua_pushcclosure(L, set_hover, 1);
  lua_setfield(L, game_idx, "set_hover");
}

}  // namespace ostrel_core::script::lua_vm
