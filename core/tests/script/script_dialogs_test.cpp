// The dialog functions over a recording service, and the widget readers under them: defaults,
// refusals, the bounds a read keeps while it goes (widgets, depth, bytes) and hover lines.

#include <gtest/gtest.h>

#include <functional>
#include <lua5.4/lua.hpp>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "presentation/ui/host.hpp"
#include "proto/codec.hpp"
#include "proto/server.hpp"
#include "script/api/dialog_widgets.hpp"
#include "script/lua_vm/slots.hpp"
#include "script/terrain_lua.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

namespace tree = ui::tree;
using test::run;

class FakeScreens final : public ui::host::Access {
 public:
  std::vector<ui::host::ShowRequest> shown;
  std::vector<std::pair<std::string, std::string>> closed;
  std::vector<std::pair<std::string, ui::host::HoverLines>> hovers;
  bool answer = true;

  bool show(const ui::host::ShowRequest& request) override {
    shown.push_back(request);
    return answer;
  }
  bool close(std::string_view player, std::string_view form) override {
    closed.emplace_back(player, form);
    return answer;
  }
  bool set_hover(std::string_view player, ui::host::HoverLines lines) override {
    hovers.emplace_back(player, std::move(lines));
    return answer;
  }
};

constexpr std::string_view kPlayer = "0101010101010101010101010101010101010101010101010101010101010101";

struct Fixture {
  LuaVm vm = test::make_engine();
  std::shared_ptr<FakeScreens> screens = std::make_shared<FakeScreens>();
  Fixture() {
    EXPECT_TRUE(test::load(vm, "m", ""));
    vm.set_dialog_access(screens);
  }
  // show_dialog of `tree_expr` from mod m: "true"/"false", or "error: ...".
  std::string show(std::string_view tree_expr, std::string_view extra = "") {
    return run(vm, "m",
               fmt::format("return game.show_dialog({{ player = '{}', form = 'f', tree = {} {} }})", kPlayer,
                           tree_expr, extra));
  }
  // The tree the service got last.
  const tree::Tree& last() const { return screens->shown.back().tree; }
};

TEST(DialogWidgets, EdgeCases) {
  struct Case {
    const char* name;
    const char* tree;
    const char* error;  // empty: read
    std::function<void(const tree::Tree&)> check;
  };
  const Case cases[] = {
      {"a bare label takes every default", "{ type = 'label' }", "",
       [](const tree::Tree& t) {
         ASSERT_EQ(t.nodes.size(), 1u);
         const tree::Node& n = t.nodes[0];
         EXPECT_EQ(n.widget, tree::Widget(tree::Label{}));
         EXPECT_EQ(n.name, "");
         EXPECT_EQ(n.tooltip, std::nullopt);
         EXPECT_EQ(n.style, tree::Style{});
         EXPECT_EQ(n.grow, 0);
         EXPECT_EQ(n.size, std::nullopt);
         EXPECT_EQ(n.cross_size, std::nullopt);
       }},
      {"an empty tooltip is none, the others kept", "{ type = 'label', tooltip = '', name = 'n', grow = 3 }", "",
       [](const tree::Tree& t) {
         EXPECT_EQ(t.nodes[0].tooltip, std::nullopt);
         EXPECT_EQ(t.nodes[0].name, "n");
         EXPECT_EQ(t.nodes[0].grow, 3);
       }},
      {"font is no widget field", "{ type = 'label', font = 'm:serif' }", "dialog widget: unknown field `font`", {}},
      {"font in style", "{ type = 'label', style = { font = 'm:serif', background = { 255, 0, 0 } } }", "",
       [](const tree::Tree& t) {
         EXPECT_EQ(t.nodes[0].style.font, "m:serif");
         EXPECT_EQ(t.nodes[0].style.background, (tree::Colour{255, 0, 0, 255}));
       }},
      {"an unknown style key", "{ type = 'label', style = { colour = 1 } }", "dialog style: unknown field `colour`", {}},
      {"a field of another kind is ignored; numeric keys too", "{ type = 'label', columns = 4, [1] = 'x' }", "",
       [](const tree::Tree& t) { EXPECT_EQ(t.nodes[0].widget, tree::Widget(tree::Label{})); }},
      {"kinds match exactly", "{ type = 'Label' }", "dialog widget: unknown type `Label`", {}},
      {"a missing type", "{ name = 'x' }", "show_dialog: bad field `type` (expected string, got nil)", {}},
      {"a container's defaults", "{ type = 'container' }", "",
       [](const tree::Tree& t) {
         EXPECT_EQ(t.nodes[0].widget, tree::Widget(tree::Container{tree::Direction::Column, 0, 0, tree::Align::Start}));
       }},
      {"a row, centred", "{ type = 'container', direction = 'row', align = 'center', gap = 2, padding = 3 }", "",
       [](const tree::Tree& t) {
         EXPECT_EQ(t.nodes[0].widget, tree::Widget(tree::Container{tree::Direction::Row, 2, 3, tree::Align::Center}));
       }},
      {"direction is case-sensitive", "{ type = 'container', direction = 'Row' }",
       "container direction must be `row` or `column`, not `Row`", {}},
      {"a bad align", "{ type = 'container', align = 'middle' }",
       "container align must be start, center, end or stretch, not `middle`", {}},
      {"a slider's defaults", "{ type = 'slider' }", "",
       [](const tree::Tree& t) { EXPECT_EQ(t.nodes[0].widget, tree::Widget(tree::Slider{0, 100, 0})); }},
      {"selected 1 is option 0", "{ type = 'dropdown', options = { 'a', 'b', 'c' }, selected = 1 }", "",
       [](const tree::Tree& t) { EXPECT_EQ(std::get<tree::Dropdown>(t.nodes[0].widget).selected, 0); }},
      {"selected 0 is option 0", "{ type = 'dropdown', options = { 'a', 'b', 'c' }, selected = 0 }", "",
       [](const tree::Tree& t) { EXPECT_EQ(std::get<tree::Dropdown>(t.nodes[0].widget).selected, 0); }},
      {"selected 3 is option 2", "{ type = 'dropdown', options = { 'a', 'b', 'c' }, selected = 3 }", "",
       [](const tree::Tree& t) {
         EXPECT_EQ(std::get<tree::Dropdown>(t.nodes[0].widget),
                   (tree::Dropdown{{"a", "b", "c"}, 2}));
       }},
      {"selected 4 of 3 is refused by the check", "{ type = 'dropdown', options = { 'a', 'b', 'c' }, selected = 4 }",
       "dropdown selects option 3 of 3", {}},
      {"an option that is a table", "{ type = 'dropdown', options = { 'a', {} } }",
       "show_dialog: bad field `options[2]` (expected string, got table)", {}},
      {"a grid with only a view", "{ type = 'item_grid', view = 'player:main' }", "",
       [](const tree::Tree& t) {
         EXPECT_EQ(t.nodes[0].widget, tree::Widget(tree::ItemGrid{"player:main", 9, 0, 0}));
       }},
      {"a grid without a view", "{ type = 'item_grid' }", "show_dialog: bad field `view` (expected string, got nil)", {}},
      {"a slot without a view", "{ type = 'item_slot', index = 4 }",
       "show_dialog: bad field `view` (expected string, got nil)", {}},
      {"a slot's index is one-based", "{ type = 'item_slot', view = 'v', index = 4 }", "",
       [](const tree::Tree& t) { EXPECT_EQ(t.nodes[0].widget, tree::Widget(tree::ItemSlot{"v", 3})); }},
      {"a shape editor alone is a whole block of material 1", "{ type = 'shape_editor' }", "",
       [](const tree::Tree& t) { EXPECT_EQ(t.nodes[0].widget, tree::Widget(tree::ShapeEditor{0x7FFFFFF, 1, {}})); }},
      {"cells 5 and 9 of 7 and 3",
       "{ type = 'shape_editor', cells = { 0,0,0,0,7,0,0,0,3, 0,0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0,0 } }", "",
       [](const tree::Tree& t) {
         const auto& e = std::get<tree::ShapeEditor>(t.nodes[0].widget);
         EXPECT_EQ(e.shape, 0x110u);
         EXPECT_EQ(e.material, 3);
         EXPECT_EQ(e.cells.size(), 27u);
         EXPECT_EQ(e.cells[4], 7);
         EXPECT_EQ(e.cells[8], 3);
       }},
      {"all cells empty", "{ type = 'shape_editor', cells = { 0,0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0,0 } }",
       "",
       [](const tree::Tree& t) {
         const auto& e = std::get<tree::ShapeEditor>(t.nodes[0].widget);
         EXPECT_EQ(e.shape, 0u);
         EXPECT_EQ(e.material, 1);
       }},
      {"a shape equal to the cells", "{ type = 'shape_editor', shape = 2, material = 9, cells = { 0,4,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0,0 } }",
       "",
       [](const tree::Tree& t) {
         EXPECT_EQ(t.nodes[0].widget, tree::Widget(tree::ShapeEditor{2, 9, {0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                                             0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}));
       }},
      {"26 cells", "{ type = 'shape_editor', cells = { 0,0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0 } }",
       "shape_editor: `cells` has 26 entries; it is one per cell of a block, 27", {}},
      {"cells[4] = -1", "{ type = 'shape_editor', cells = { 0,0,0,-1,0,0,0,0,0, 0,0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0,0 } }",
       "shape_editor: `cells[4]` is a material id, or 0 for an empty cell", {}},
      {"a shape that is not the cells'", "{ type = 'shape_editor', shape = 1, cells = { 0,4,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0,0 } }",
       "shape_editor: `shape` is 0x1 but its cells fill 0x2; with `cells` the shape is theirs and need not be given", {}},
      {"a shape past 27 bits is refused by the check", "{ type = 'shape_editor', shape = 0x8000000 }",
       "shape editor mask 0x8000000 has bits outside a block's 27 sub-nodes", {}},
      {"two colour values", "{ type = 'label', style = { background = { 1, 2 } } }",
       "`background` wants three or four numbers, got 2", {}},
      {"four colour values", "{ type = 'label', style = { border = { 1, 2, 3, 4 }, text_colour = { 9, 8, 7 }, text_size = 12 } }", "",
       [](const tree::Tree& t) {
         EXPECT_EQ(t.nodes[0].style.border, (tree::Colour{1, 2, 3, 4}));
         EXPECT_EQ(t.nodes[0].style.text_colour, (tree::Colour{9, 8, 7, 255}));
         EXPECT_EQ(t.nodes[0].style.text_size, 12);
       }},
      {"a colour value of 300", "{ type = 'label', style = { background = { 300, 0, 0 } } }",
       "show_dialog: bad field `background` (300 is out of range for an unsigned 8-bit integer)", {}},
      {"grow 70000", "{ type = 'label', grow = 70000 }",
       "show_dialog: bad field `grow` (70000 is out of range for an unsigned 16-bit integer)", {}},
      {"a text that is a table", "{ type = 'label', text = {} }", "show_dialog: bad field `text` (expected string, got table)", {}},
      {"a label text that is not UTF-8", "{ type = 'label', text = 'a\\xff' }",
       "show_dialog: bad field `text` (expected UTF-8 text, got bytes that are not)", {}},
      {"a tooltip that is not UTF-8", "{ type = 'label', tooltip = '\\xc3' }",
       "show_dialog: bad field `tooltip` (expected UTF-8 text, got bytes that are not)", {}},
      {"a checkbox's truth", "{ type = 'checkbox', text = 'ok', checked = 0 }", "",
       [](const tree::Tree& t) { EXPECT_EQ(t.nodes[0].widget, tree::Widget(tree::Checkbox{"ok", true})); }},
      {"children in list order, breadth first",
       "{ type = 'container', children = { { type = 'container', children = { { type = 'spacer' } } }, { type = 'scroll' } } }",
       "",
       [](const tree::Tree& t) {
         ASSERT_EQ(t.nodes.size(), 4u);
         EXPECT_EQ(t.nodes[1].widget.index(), 0u);
         EXPECT_EQ(t.nodes[2].widget, tree::Widget(tree::Scroll{}));
         EXPECT_EQ(t.nodes[3].widget, tree::Widget(tree::Spacer{}));
         EXPECT_EQ(std::pair(t.nodes[0].first_child, t.nodes[0].child_count), std::pair(1u, 2u));
         EXPECT_EQ(std::pair(t.nodes[1].first_child, t.nodes[1].child_count), std::pair(3u, 1u));
       }},
      {"a child that is a number", "{ type = 'container', children = { { type = 'spacer' }, 5 } }",
       "show_dialog: bad field `children[2]` (expected table, got integer)", {}},
      {"an image without a hash", "{ type = 'image' }",
       "`hash` must be a content hash: 64 hex characters, as game.content_hash answers", {}},
      {"an image's hash in hex, either case", "{ type = 'image', hash = string.rep('aB', 32) }", "",
       [](const tree::Tree& t) {
         tree::Hash want;
         want.fill(0xAB);
         EXPECT_EQ(t.nodes[0].widget, tree::Widget(tree::Image{want}));
       }},
      {"an image's hash of 63 digits", "{ type = 'image', hash = string.rep('a', 63) }",
       "`hash` must be a content hash: 64 hex characters, as game.content_hash answers", {}},
      {"a nine-slice frame as 32 bytes", "{ type = 'label', style = { nine_slice = { 0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,24,25,26,27,28,29,30,31 } } }",
       "",
       [](const tree::Tree& t) {
         tree::Hash want;
         for (std::size_t i = 0; i < want.size(); ++i) want[i] = static_cast<std::uint8_t>(i);
         EXPECT_EQ(t.nodes[0].style.nine_slice, want);
       }},
      {"a nine-slice frame of 31 bytes", "{ type = 'label', style = { nine_slice = { 0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,24,25,26,27,28,29,30 } } }",
       "`nine_slice` must be 32 bytes of content hash", {}},
      {"a progress past 1000 is refused by the check", "{ type = 'progress', permille = 1001 }",
       "progress of 1001 permille is over 1000", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    const std::string got = f.show(c.tree);
    if (*c.error != '\0') {
      EXPECT_EQ(got, std::string("error: ") + c.error);
      EXPECT_TRUE(f.screens->shown.empty());
    } else {
      ASSERT_EQ(got, "true");
      c.check(f.last());
    }
  }
}

// Nested containers `levels` deep (the root included).
std::string nested(int levels) {
  std::string out = "{ type = 'spacer' }";
  for (int i = 1; i < levels; ++i) out = "{ type = 'container', children = { " + out + " } }";
  return out;
}

TEST(DialogWidgets, DepthIsBoundedAsItIsRead) {
  Fixture f;
  EXPECT_EQ(f.show(nested(32)), "true");
  EXPECT_EQ(f.last().nodes.size(), 32u);
  EXPECT_EQ(f.show(nested(33)), "error: dialog nests deeper than 32 widgets");
  // A table that holds itself is only as deep as the limit.
  EXPECT_EQ(run(f.vm, "m",
                fmt::format("local t = {{ type = 'container' }}; t.children = {{ t }}; "
                            "return game.show_dialog({{ player = '{}', form = 'f', tree = t }})",
                            kPlayer)),
            "error: dialog nests deeper than 32 widgets");
  EXPECT_EQ(f.screens->shown.size(), 1u);
}

// Reads the value `expr` leaves with widget_tree, as show_dialog would for the form "m:f".
struct Read {
  std::string error;  // empty when read
  tree::Tree tree;
  WidgetReading reading;
};
Read read_widgets(LuaVm& vm, std::string_view expr) {
  EXPECT_EQ(run(vm, "m", fmt::format("built = {}; return true", expr)), "true");
  Read out;
  out.reading.ctx = "show_dialog";
  out.reading.room = WidgetReading::room_for("m:f");
  lua_State* L = vm.state();
  const int top = lua_gettop(L);
  lua_pushcfunction(L, [](lua_State* s) -> int {
    auto* r = static_cast<Read*>(lua_touserdata(s, 1));
    r->tree = widget_tree(s, 2, r->reading);
    return 0;
  });
  lua_pushlightuserdata(L, &out);
  vm.push_environment("m");
  lua_getfield(L, -1, "built");
  lua_remove(L, -2);
  if (lua_pcall(L, 2, 0, 0) != LUA_OK) out.error = lua_tostring(L, -1);
  lua_settop(L, top);
  return out;
}

TEST(DialogWidgets, SharedTablesAreNeverExpandedPastTheLimits) {
  Fixture f;
  // Fan-out 2, 30 levels: 2^30 widgets named by 30 tables.
  const Read bomb = read_widgets(f.vm, R"((function()
    local t = { type = 'spacer' }
    for _ = 2, 30 do t = { type = 'container', children = { t, t } } end
    return t
  end)())");
  EXPECT_EQ(bomb.error, "dialog has 4097 widgets, over the limit of 4096");
  EXPECT_EQ(bomb.reading.widgets, 4097u);

  // 4096 widgets read; the check passes them too.
  EXPECT_EQ(f.show("(function() local c = {} for i = 1, 4095 do c[i] = { type = 'spacer' } end "
                   "return { type = 'container', children = c } end)()"),
            "true");
  EXPECT_EQ(f.last().nodes.size(), 4096u);

  // An option list is counted before its entries are read.
  const Read options = read_widgets(f.vm, R"((function()
    local o = {} for i = 1, 1000 do o[i] = 'x' end
    return { type = 'dropdown', options = o }
  end)())");
  EXPECT_EQ(options.error, "dropdown options has 1000 entries, over the limit of 256");

  // 256 options of 1000 bytes, shared by 4096 dropdowns: refused by size at the fifth.
  const Read wide = read_widgets(f.vm, R"((function()
    local o = {} for i = 1, 256 do o[i] = string.rep('x', 1000) end
    local d = { type = 'dropdown', options = o }
    local c = {} for i = 1, 4095 do c[i] = d end
    return { type = 'container', children = c }
  end)())");
  EXPECT_EQ(wide.error, "dialog takes more than 1048576 bytes, the limit of one message");
  EXPECT_EQ(wide.reading.widgets, 6u);
  EXPECT_LE(wide.reading.bytes, wide.reading.room);
}

TEST(DialogWidgets, TheMessageLimitIsExact) {
  Fixture f;
  // 1084 labels of 950 bytes, and one last label whose text fills the message to `last` bytes.
  const auto show = [&](std::size_t last) {
    return f.show(fmt::format("(function() local c = {{}} for i = 1, 1084 do c[i] = {{ type = 'label', text = "
                              "string.rep('x', 950) }} end c[1085] = {{ type = 'label', text = string.rep('y', {}) }} "
                              "return {{ type = 'container', children = c }} end)()",
                              last));
  };
  const auto wire = [&] {
    const auto& r = f.screens->shown.back();
    return proto::encode(proto::server::ShowDialog{r.form, r.tree, 0}).size();
  };
  ASSERT_EQ(show(200), "true");
  const std::size_t fill = 200 + (proto::kMaxMessageBytes - wire());
  ASSERT_EQ(show(fill), "true");
  EXPECT_EQ(wire(), proto::kMaxMessageBytes);
  EXPECT_EQ(show(fill + 1), "error: dialog takes more than 1048576 bytes, the limit of one message");
  // The reader's own count matches the encoder's.
  const Read exact = read_widgets(f.vm, "(function() local c = {} for i = 1, 3 do c[i] = { type = 'label', text = 'hi' } "
                                        "end return { type = 'container', children = c, name = 'x' } end)()");
  ASSERT_EQ(exact.error, "");
  EXPECT_EQ(exact.reading.bytes, proto::encode(exact.tree).size());
}

TEST(DialogFunctions, FormsPlayersAndTheService) {
  Fixture f;
  const std::string p(kPlayer);
  EXPECT_EQ(f.show("{ type = 'label', text = 'hi' }", ", compact = 1"), "true");
  ASSERT_EQ(f.screens->shown.size(), 1u);
  const auto& r = f.screens->shown[0];
  EXPECT_EQ(r.player, p);
  EXPECT_EQ(r.form, "m:f");
  EXPECT_TRUE(r.compact);
  EXPECT_FALSE(r.update);
  EXPECT_EQ(r.mod, "m");

  struct Case {
    const char* name;
    const char* code;
    const char* want;
  };
  const Case cases[] = {
      {"a form already in the mod's namespace",
       "return game.update_dialog({ player = P, form = 'm:chest', tree = { type = 'spacer' }, compact = false })",
       "true"},
      {"another mod's namespace", "return game.show_dialog({ player = P, form = 'other:chest', tree = { type = 'spacer' } })",
       "error: mod `m` may not register into namespace `other`: a mod owns only its own id as a namespace"},
      {"closing in another namespace", "return game.close_dialog({ player = P, form = 'other:chest' })",
       "error: mod `m` may not register into namespace `other`: a mod owns only its own id as a namespace"},
      {"no tree", "return game.show_dialog({ player = P, form = 'f' })",
       "error: show_dialog: bad field `tree` (expected table, got nil)"},
      {"no player", "return game.update_dialog({ form = 'f', tree = { type = 'spacer' } })",
       "error: update_dialog: bad field `player` (expected string, got nil)"},
      {"a form that is not UTF-8", "return game.show_dialog({ player = P, form = '\\xff', tree = { type = 'spacer' } })",
       "error: show_dialog: bad field `form` (expected UTF-8 text, got bytes that are not)"},
      {"close", "return game.close_dialog({ player = P, form = 'chest' })", "true"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(run(f.vm, "m", "local P = '" + p + "' " + c.code), c.want);
  }
  ASSERT_EQ(f.screens->shown.size(), 2u);
  EXPECT_EQ(f.screens->shown[1].form, "m:chest");
  EXPECT_TRUE(f.screens->shown[1].update);
  EXPECT_FALSE(f.screens->shown[1].compact);
  EXPECT_EQ(f.screens->closed, (std::vector<std::pair<std::string, std::string>>{{p, "m:chest"}}));

  // The service's answer is the function's.
  f.screens->answer = false;
  EXPECT_EQ(f.show("{ type = 'spacer' }"), "false");
}

TEST(DialogFunctions, WithoutAServiceTheTreeIsStillReadInFull) {
  auto vm = test::make_engine();
  test::share_seen(vm);
  ASSERT_TRUE(test::load(vm, "m", R"(
    note(game.show_dialog({ player = 'x', form = 'f', tree = { type = 'label' } }))
    note(pcall(game.show_dialog, { player = 'x', form = 'f', tree = { type = 'label', font = 1 } }))
    note(select(2, pcall(game.show_dialog, { player = 'x', form = 'f', tree = { type = 'label', font = 1 } })))
    note(game.close_dialog({ player = 'x', form = 'f' }))
    note(game.set_hover('x', nil))
  )"));
  EXPECT_EQ(test::inspect(vm, "return table.concat({ tostring(R.seen[1]), tostring(R.seen[2]), R.seen[3], "
                              "tostring(R.seen[4]), tostring(R.seen[5]) }, '|')"),
            "false|false|dialog widget: unknown field `font`|false|false");
  // A poisoned slot answers as an empty one.
  vm.slots().dialogs->poison();
  EXPECT_EQ(run(vm, "m", "return game.show_dialog({ player = 'x', form = 'f', tree = { type = 'label' } })"), "false");
}

TEST(DialogFunctions, AnExportViewIsOpenedBeforeItIsRead) {
  Fixture f;
  f.vm.note_dependencies("a", {});
  ASSERT_TRUE(test::load(f.vm, "a", "game.export({ dialog = { type = 'label', text = 'from a' } })"));
  const std::vector<std::string> deps = {"a"};
  f.vm.note_dependencies("b", deps);
  ASSERT_TRUE(test::load(f.vm, "b", ""));
  EXPECT_EQ(run(f.vm, "b",
                fmt::format("return game.show_dialog({{ player = '{}', form = 'f', tree = game.exports('a').dialog }})",
                            kPlayer)),
            "true");
  ASSERT_EQ(f.screens->shown.size(), 1u);
  EXPECT_EQ(f.last().nodes[0].widget, tree::Widget(tree::Label{"from a"}));
  EXPECT_EQ(f.screens->shown[0].form, "b:f");

  // Views nested in the mod's own table are opened too.
  EXPECT_EQ(run(f.vm, "b",
                fmt::format("return game.show_dialog({{ player = '{}', form = 'g', tree = {{ type = 'container', "
                            "children = {{ game.exports('a').dialog }} }} }})",
                            kPlayer)),
            "true");
  ASSERT_EQ(f.screens->shown.size(), 2u);
  EXPECT_EQ(f.last().nodes.at(1).widget, tree::Widget(tree::Label{"from a"}));
}

TEST(DialogFunctions, HoverLines) {
  Fixture f;
  ASSERT_EQ(test::inspect(f.vm, "R['ostrel.blocks']['m:stone'] = 5 return 1"), "1");
  struct Case {
    const char* name;
    const char* code;
    const char* want;
    ui::host::HoverLines lines;
  };
  const std::string long_line = "string.rep('x', 257)";
  const Case cases[] = {
      {"nil clears", "return game.set_hover(P, nil)", "true", {}},
      {"in material order", "return game.set_hover(P, { [9] = 'nine', [2] = 'two' })", "true",
       {{2, "two"}, {9, "nine"}}},
      {"a line of 256 bytes", "return game.set_hover(P, { [2] = string.rep('x', 256) })", "true",
       {{2, std::string(256, 'x')}}},
      {"a line of 257 bytes", "return game.set_hover(P, { [2] = string.rep('x', 257) })",
       "error: set_hover: the line for material 2 is 257 bytes, over the cap of 256", {}},
      {"257 materials",
       "local t = {} for i = 1, 257 do t[i] = 'l' end return game.set_hover(P, t)",
       "error: set_hover: 257 lines, over the cap of 256", {}},
      {"a number line is its text", "return game.set_hover(P, { [3] = 1.5 })", "true", {{3, "1.5"}}},
      {"a table line", "return game.set_hover(P, { [3] = {} })",
       "error: set_hover: bad field `lines` (expected string, got table)", {}},
      {"a line that is not UTF-8", "return game.set_hover(P, { [3] = '\\xff' })",
       "error: set_hover: bad field `lines` (expected UTF-8 text, got bytes that are not)", {}},
      {"a material out of range", "return game.set_hover(P, { [70000] = 'x' })",
       "error: material id 70000 is out of range", {}},
      {"an unknown block", "return game.set_hover(P, { ['m:nothing'] = 'x' })",
       "error: no block registered with id `m:nothing`", {}},
      {"lines that are no table", "return game.set_hover(P, 5)",
       "error: bad argument #2 to 'set_hover' (expected table, got integer)", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    f.screens->hovers.clear();
    EXPECT_EQ(run(f.vm, "m", "local P = '" + std::string(kPlayer) + "' " + c.code), c.want);
    if (std::string_view(c.want) == "true") {
      ASSERT_EQ(f.screens->hovers.size(), 1u);
      EXPECT_EQ(f.screens->hovers[0].first, kPlayer);
      EXPECT_EQ(f.screens->hovers[0].second, c.lines);
    } else {
      EXPECT_TRUE(f.screens->hovers.empty());
    }
  }
  // A block's id and its number name one material: the line met later in traversal stays.
  f.screens->hovers.clear();
  const std::string later = run(f.vm, "m",
                                "local t = { ['m:stone'] = 'by id', [5] = 'by number' } local last "
                                "for _, v in next, t do last = v end "
                                "return game.set_hover('" + std::string(kPlayer) + "', t) and last");
  ASSERT_TRUE(later == "by id" || later == "by number") << later;
  ASSERT_EQ(f.screens->hovers.size(), 1u);
  EXPECT_EQ(f.screens->hovers[0].second, (ui::host::HoverLines{{5, later}}));
}

}  // namespace
}  // namespace ostrel_core::script::lua_vm
