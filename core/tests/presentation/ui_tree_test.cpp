#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "proto/codec.hpp"
#include "support/hex.hpp"
#include "presentation/ui/limits.hpp"
#include "presentation/ui/tree.hpp"

namespace ostrel_core::ui {
namespace {

using limits::check;
using limits::Limits;
using limits::UiErrorKind;
using tree::Build;
using tree::Node;
using tree::Tree;

Node node(tree::Widget w) { return Node{std::move(w)}; }
Node label(std::string name = {}) {
  Node n = node(tree::Label{"x"});
  n.name = std::move(name);
  return n;
}

// A root with `n - 1` leaf children.
Tree flat(std::size_t n) {
  Tree t;
  t.nodes.assign(n, label());
  t.nodes[0].first_child = 1;
  t.nodes[0].child_count = static_cast<std::uint32_t>(n - 1);
  for (std::size_t i = 1; i < n; ++i) t.nodes[i].first_child = static_cast<std::uint32_t>(n);
  return t;
}

// Each node the only child of the one before: the last is at depth n.
Tree chain(std::size_t n) {
  Tree t;
  t.nodes.assign(n, label());
  for (std::size_t i = 0; i + 1 < n; ++i) {
    t.nodes[i].first_child = static_cast<std::uint32_t>(i + 1);
    t.nodes[i].child_count = 1;
  }
  t.nodes[n - 1].first_child = static_cast<std::uint32_t>(n);
  return t;
}

Tree one(Node n) {
  n.first_child = 1;
  return Tree{{std::move(n)}};
}

Tree with_tooltip(std::size_t len) {
  Node n = label();
  n.tooltip = std::string(len, 't');
  return one(n);
}

Tree claims(std::vector<std::pair<std::uint32_t, std::uint32_t>> children) {
  Tree t;
  for (auto [first, count] : children) {
    Node n = label();
    n.first_child = first;
    n.child_count = count;
    t.nodes.push_back(n);
  }
  return t;
}

std::vector<std::uint16_t> only(std::size_t cell) {
  std::vector<std::uint16_t> c(27, 0);
  c[cell] = 4;
  return c;
}

struct Case {
  const char* name;
  Tree tree;
  const char* want;  // nullptr: passes
  UiErrorKind kind = UiErrorKind::Malformed;
};

TEST(DialogLimits, CheckTable) {
  const Case kCases[] = {
      {"empty", Tree{}, "a dialog has no widgets at all"},
      {"4096 nodes", flat(4096), nullptr},
      {"4097 nodes", flat(4097), "dialog has 4097 widgets, over the limit of 4096", UiErrorKind::TooManyNodes},
      {"depth 32", chain(32), nullptr},
      {"depth 33", chain(33), "dialog nests 33 deep, over the limit of 32", UiErrorKind::TooDeep},
      {"name 1024", one(label(std::string(1024, 'n'))), nullptr},
      {"name 1025", one(label(std::string(1025, 'n'))), "a name of 1025 bytes is over the limit of 1024",
       UiErrorKind::TextTooLong},
      {"tooltip 256", with_tooltip(256), nullptr},
      {"tooltip 257", with_tooltip(257), "a tooltip of 257 bytes is over the limit of 256", UiErrorKind::TextTooLong},
      {"text input initial", one(node(tree::TextInput{std::string(1025, 'i'), ""})),
       "a text_input of 1025 bytes is over the limit of 1024", UiErrorKind::TextTooLong},
      {"text input placeholder", one(node(tree::TextInput{"", std::string(1025, 'p')})),
       "a placeholder of 1025 bytes is over the limit of 1024", UiErrorKind::TextTooLong},
      {"checkbox text", one(node(tree::Checkbox{std::string(1025, 'c'), true})),
       "a checkbox of 1025 bytes is over the limit of 1024", UiErrorKind::TextTooLong},
      {"dropdown 257 options", one(node(tree::Dropdown{std::vector<std::string>(257, "o"), 0})),
       "dropdown options has 257 entries, over the limit of 256", UiErrorKind::TooManyEntries},
      {"dropdown long option", one(node(tree::Dropdown{{"a", std::string(1025, 'o')}, 0})),
       "a dropdown option of 1025 bytes is over the limit of 1024", UiErrorKind::TextTooLong},
      {"dropdown selects 3 of 3", one(node(tree::Dropdown{{"a", "b", "c"}, 3})), "dropdown selects option 3 of 3"},
      {"dropdown selects 2 of 3", one(node(tree::Dropdown{{"a", "b", "c"}, 2})), nullptr},
      {"dropdown no options", one(node(tree::Dropdown{{}, 9})), nullptr},
      {"slider value over", one(node(tree::Slider{0, 100, 101})), "slider value 101 is outside 0..=100"},
      {"slider min above max", one(node(tree::Slider{5, 4, 100})), "slider has min 5 above max 4"},
      {"slider negative", one(node(tree::Slider{-10, -5, -11})), "slider value -11 is outside -10..=-5"},
      {"slider at min", one(node(tree::Slider{-3, 3, -3})), nullptr},
      {"slider at max", one(node(tree::Slider{-3, 3, 3})), nullptr},
      {"grid empty no columns", one(node(tree::ItemGrid{"v", 0, 0, 0})), nullptr},
      {"grid slots no columns", one(node(tree::ItemGrid{"v", 0, 0, 1})),
       "an item grid with slots must have at least one column"},
      {"grid 1025 slots", one(node(tree::ItemGrid{"v", 9, 0, 1025})),
       "grid slots has 1025 entries, over the limit of 1024", UiErrorKind::TooManyEntries},
      {"grid long view", one(node(tree::ItemGrid{std::string(1025, 'v'), 9, 0, 1})),
       "a view of 1025 bytes is over the limit of 1024", UiErrorKind::TextTooLong},
      {"slot long view", one(node(tree::ItemSlot{std::string(1025, 'v'), 0})),
       "a view of 1025 bytes is over the limit of 1024", UiErrorKind::TextTooLong},
      {"progress 1000", one(node(tree::Progress{1000})), nullptr},
      {"progress 1001", one(node(tree::Progress{1001})), "progress of 1001 permille is over 1000"},
      {"editor mask bit 27", one(node(tree::ShapeEditor{0x8000000, 1, {}})),
       "shape editor mask 0x8000000 has bits outside a block's 27 sub-nodes"},
      {"editor all empty mask 0", one(node(tree::ShapeEditor{0, 1, std::vector<std::uint16_t>(27, 0)})), nullptr},
      {"editor occupancy differs", one(node(tree::ShapeEditor{1, 1, only(1)})),
       "shape editor mask 0x1 is not its cells' occupancy 0x2"},
      {"editor 5 cells", one(node(tree::ShapeEditor{0, 1, std::vector<std::uint16_t>(5, 1)})),
       "shape editor cells has 5 entries; it is empty or one per cell, 27"},
      {"editor no cells", one(node(tree::ShapeEditor{0x5555555, 1, {}})), nullptr},
      {"child not after", claims({{1, 1}, {1, 1}}), "widget 1 claims child 1, which is not after it"},
      {"range past end", claims({{1, 2}, {2, 0}}), "widget 0 claims children 1..3 of 2 widgets"},
      {"claimed twice", claims({{1, 3}, {3, 1}, {4, 0}, {4, 0}}), "widget 3 is claimed as a child twice"},
      {"unclaimed node", claims({{1, 0}, {2, 0}}), nullptr},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    auto r = check(c.tree, Limits{});
    if (c.want == nullptr) {
      EXPECT_TRUE(r.has_value()) << r.error().debug();
    } else {
      ASSERT_FALSE(r.has_value());
      EXPECT_EQ(r.error().message(), c.want);
      EXPECT_EQ(r.error().kind(), c.kind);
    }
  }
}

TEST(DialogLimits, ErrorCarriesFields) {
  auto r = check(with_tooltip(300), Limits{});
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().field(), "tooltip");
  EXPECT_EQ(r.error().found(), 300u);
  EXPECT_EQ(r.error().limit(), 256u);
  EXPECT_EQ(r.error().debug(), "TextTooLong { field: \"tooltip\", found: 300, limit: 256 }");
}

TEST(DialogTree, FlattenBreadthFirst) {
  Build c{label("C"), {}};
  Build a{label("A"), {c}};
  Build b{label("B"), {}};
  Build root{node(tree::Container{}), {a, b}};
  Tree t = std::move(root).flatten();
  ASSERT_EQ(t.nodes.size(), 4u);
  const char* names[] = {"", "A", "B", "C"};
  std::pair<std::uint32_t, std::uint32_t> kids[] = {{1, 2}, {3, 1}, {4, 0}, {4, 0}};
  for (std::size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(t.nodes[i].name, names[i]);
    EXPECT_EQ(t.nodes[i].first_child, kids[i].first);
    EXPECT_EQ(t.nodes[i].child_count, kids[i].second);
  }
  EXPECT_TRUE(check(t, Limits{}).has_value());
}

TEST(DialogTree, WireForm) {
  Tree hi = std::move(Build{node(tree::Label{"hi"}), {}}).flatten();
  EXPECT_EQ(test::to_hex(proto::encode(hi)), "01 01 02 68 69 00 00 00 00 00 00 00 00 00 00 00 01 00");
  EXPECT_EQ(proto::decode_exact<Tree>(proto::encode(hi)).value(), hi);
  // A widget index past the fourteen kinds is malformed.
  EXPECT_FALSE(proto::decode_exact<Tree>(test::from_hex("01 0e 00 00 00 00 00 00 00 00 00 00 00 01 00")).has_value());
}

}  // namespace
}  // namespace ostrel_core::ui
