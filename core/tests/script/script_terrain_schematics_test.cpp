// game.schematic, game.schematic_shapes and game.stamp_schematic over a fake plan stamper.

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>
#include <vector>

#include "building/plan.hpp"
#include "script/lua_vm/slots.hpp"
#include "script/runtime_fakes.hpp"
#include "script/terrain_lua.hpp"
#include "world/domain.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

using detgen::buffer::StampBlock;
using test::run;

constexpr const char* kEntry =
    "error: schematic: every block is `{dx, dy, dz, material, mask}`; entry {} ({}) is missing or not an "
    "integer";

std::string entry(int k, const char* name) {
  std::string t = kEntry;
  t.replace(t.find("{}"), 2, std::to_string(k));
  t.replace(t.find("{}"), 2, name);
  return t;
}

const std::vector<StampBlock>& blocks_of(LuaVm& vm, const char* name) {
  static const std::vector<StampBlock> kNone;
  const auto* h = test::handle<SchematicHandle>(vm, "m", name);
  return h == nullptr ? kNone : h->schematic->blocks;
}

TEST(SchematicScript, Blocks) {
  struct Case {
    const char* name;
    const char* code;
    std::string want;
  };
  const Case cases[] = {
      {"one whole block", "return game.schematic({{0, 0, 0, 5, 0x7FFFFFF}}):len()", "1"},
      {"mask 0", "return game.schematic({{0, 0, 0, 5, 0}})",
       "error: schematic: a block's mask is a 27-bit cell mask, at least one cell"},
      {"mask beyond the cells", "return game.schematic({{0, 0, 0, 5, 0x8000000}})",
       "error: schematic: a block's mask is a 27-bit cell mask, at least one cell"},
      {"mask missing before dx", "return game.schematic({{nil, 0, 0, 5}})", entry(5, "mask")},
      {"dx a text", "return game.schematic({{'a', 0, 0, 5, 1}})", entry(1, "dx")},
      {"dz missing", "return game.schematic({{0, 0, nil, 5, 1}})", entry(3, "dz")},
      {"offset beyond 32 bits", "return game.schematic({{0, 2^31, 0, 5, 1}})", entry(2, "dy")},
      {"material above 65535", "return game.schematic({{0, 0, 0, 65536, 1}})", entry(4, "material")},
      {"negative material", "return game.schematic({{0, 0, 0, -1, 1}})", entry(4, "material")},
      {"beyond the reach", "return game.schematic({{0, 0, 0, 1, 1}, {0, 0, -257, 1, 1}})",
       "error: schematic: block 2 lies more than 256 blocks from the root"},
      {"no blocks", "return game.schematic({})", "error: schematic: no blocks"},
      {"first entry nil", "return game.schematic({nil, {0, 0, 0, 1, 1}})", "error: schematic: no blocks"},
      {"entry not a table", "return game.schematic({5})",
       "error: schematic: bad block 1 (expected table, got integer)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto vm = test::make_engine();
    EXPECT_EQ(run(vm, "m", c.code), c.want);
  }
  auto vm = test::make_engine();
  ASSERT_EQ(run(vm, "m", "s = game.schematic({{-3, 2, 1, 4, 1}, {2, 5, -7, 4, 3}}) return s:len()"), "2");
  const auto* s = test::handle<SchematicHandle>(vm, "m", "s");
  EXPECT_EQ(s->schematic->reach_x, 3);
  EXPECT_EQ(s->schematic->reach_z, 7);
  EXPECT_EQ(s->schematic->low_dy, 0);
  EXPECT_EQ(s->schematic->high_dy, 5);
  EXPECT_EQ(s->schematic->blocks[1], (StampBlock{2, 5, -7, 4, 3}));
}

TEST(SchematicScript, Shapes) {
  struct Case {
    const char* name;
    const char* code;
    const char* want;
  };
  const Case cases[] = {
      {"19 cells",
       "return game.schematic_shapes({{kind = 'ellipsoid', material = 3, centre = {0.5, 0.5, 0.5}, "
       "radii = {0.5, 0.5, 0.5}}}):len()",
       "1"},
      {"cover no cell",
       "return game.schematic_shapes({{kind = 'ellipsoid', material = 3, centre = {0, 0, 0}, "
       "radii = {0.1, 0.1, 0.1}}})",
       "error: schematic_shapes: the shapes cover no cell"},
      {"one-point path",
       "return game.schematic_shapes({{kind = 'path', material = 1, points = {{0, 0, 0, 1}}}})",
       "error: schematic_shapes: shape 1: a path needs two points at least"},
      {"cone",
       "return game.schematic_shapes({{kind = 'cells', material = 1, at = {0, 0, 0}, mask = 1}, "
       "{kind = 'cone', material = 1}})",
       "error: schematic_shapes: shape 2: no shape called `cone`"},
      {"no kind", "return game.schematic_shapes({{material = 1}})",
       "error: schematic_shapes: shape 1: `kind` is \"path\", \"ellipsoid\" or \"cells\""},
      {"no material", "return game.schematic_shapes({{kind = 'cells', at = {0, 0, 0}, mask = 1}})",
       "error: schematic_shapes: shape 1: `material` is a block id"},
      {"points not a list", "return game.schematic_shapes({{kind = 'path', material = 1, points = 4}})",
       "error: schematic_shapes: shape 1: `points` is a list"},
      {"three-number point",
       "return game.schematic_shapes({{kind = 'path', material = 1, points = {{0, 0, 0}, "
       "{1, 1, 1, 1}}}})",
       "error: schematic_shapes: shape 1: every point is `{x, y, z, r}`"},
      {"point element a text",
       "return game.schematic_shapes({{kind = 'path', material = 1, points = {{0, 0, 0, 'r'}, "
       "{1, 1, 1, 1}}}})",
       "error: schematic_shapes: bad field `points` (expected number, got string)"},
      {"radii of two",
       "return game.schematic_shapes({{kind = 'ellipsoid', material = 1, centre = {0, 0, 0}, "
       "radii = {1, 1}}})",
       "error: schematic_shapes: shape 1: `radii` is three numbers"},
      {"zero radius",
       "return game.schematic_shapes({{kind = 'ellipsoid', material = 1, centre = {0, 0, 0}, "
       "radii = {1, 0, 1}}})",
       "error: schematic_shapes: shape 1: every radius is above zero"},
      {"mask a text",
       "return game.schematic_shapes({{kind = 'cells', material = 1, at = {0, 0, 0}, mask = 'all'}})",
       "error: schematic_shapes: shape 1: `mask` is a 27-bit cell mask"},
      {"priority a text",
       "return game.schematic_shapes({{kind = 'cells', material = 1, priority = 'high', "
       "at = {0, 0, 0}, mask = 1}})",
       "error: schematic_shapes: bad field `priority` (expected integer, got string)"},
      {"rough infinite",
       "return game.schematic_shapes({{kind = 'ellipsoid', material = 1, rough = 1/0, "
       "centre = {0, 0, 0}, radii = {1, 1, 1}}})",
       "error: schematic_shapes: shape 1: every number of a shape is finite, not inf"},
      {"centre NaN",
       "return game.schematic_shapes({{kind = 'ellipsoid', material = 1, centre = {0, 0/0, 0}, "
       "radii = {1, 1, 1}}})",
       "error: schematic_shapes: shape 1: every number of a shape is finite, not NaN"},
      {"cells far away",
       "return game.schematic_shapes({{kind = 'cells', material = 1, at = {0, 300, 0}, mask = 1}})",
       "error: schematic_shapes: shape 1: a shape may reach at most 256 blocks from the root"},
      {"long path",
       "return game.schematic_shapes({{kind = 'path', material = 1, points = {{0, 0, 0, 1}, "
       "{250, 0, 0, 1}}}, {kind = 'path', material = 1, points = {{-250, 0, 0, 1}, {0, 200, 0, 1}}}})",
       nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto vm = test::make_engine();
    if (c.want == nullptr) {
      EXPECT_EQ(run(vm, "m", c.code).substr(0, 5), "Ostre");  // a handle
    } else {
      EXPECT_EQ(run(vm, "m", c.code), c.want);
    }
  }
}

TEST(SchematicScript, ShapesCutToTheCell) {
  auto vm = test::make_engine();
  ASSERT_EQ(
      run(vm, "m",
          "centre = game.schematic_shapes({{kind = 'ellipsoid', material = 3, centre = {0.5, 0.5, 0.5}, "
          "radii = {0.1, 0.1, 0.1}}}) "
          "two = game.schematic_shapes({{kind = 'cells', material = 4, at = {0, 0, 0}, mask = 0x7FFFFFE}, "
          "{kind = 'cells', material = 9, at = {0, 0, 0}, mask = 0xF8000001}}) "
          "win = game.schematic_shapes({{kind = 'cells', material = 6, priority = 1, at = {1.9, -2.7, 0}, "
          "mask = 0x1FF}, {kind = 'cells', material = 7, at = {1, -2, 0}, mask = 0x1FF}}) return 1"),
      "1");
  EXPECT_EQ(blocks_of(vm, "centre"), (std::vector<StampBlock>{{0, 0, 0, 3, 1u << 13}}));
  // Material 9 holds cell 0 (the mask's bits above the cells are dropped): it comes first.
  EXPECT_EQ(blocks_of(vm, "two"), (std::vector<StampBlock>{{0, 0, 0, 9, 1}, {0, 0, 0, 4, 0x7FFFFFE}}));
  // `at` is cut toward zero; priority 1 wins over the later shape.
  EXPECT_EQ(blocks_of(vm, "win"), (std::vector<StampBlock>{{1, -2, 0, 6, 0x1FF}}));
}

TEST(SchematicScript, HugeShapesAreRefusedAtOnce) {
  struct Case {
    const char* radius;
    const char* want;
  };
  const Case cases[] = {
      {"1e9", "error: schematic_shapes: shape 1: a shape may visit at most 16777216 cells, not "},
      {"1e300", "error: schematic_shapes: shape 1: a shape may visit at most 16777216 cells, not "},
      {"1/0", "error: schematic_shapes: shape 1: every number of a shape is finite, not inf"},
      {"0/0", "error: schematic_shapes: shape 1: every radius is above zero"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.radius);
    auto vm = test::make_engine();
    for (const char* kind : {"ellipsoid", "path"}) {
      const std::string shape =
          std::string(kind) == "path"
              ? fmt::format(
                    "{{kind = 'path', material = 1, points = {{{{0, 0, 0, {0}}}, {{1, 0, 0, {0}}}}}}}",
                    c.radius)
              : fmt::format(
                    "{{kind = 'ellipsoid', material = 1, centre = {{0, 0, 0}}, radii = {{{0}, 1, 1}}}}",
                    c.radius);
      const auto start = std::chrono::steady_clock::now();
      const std::string got = run(vm, "m", "return game.schematic_shapes({" + shape + "})");
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
      if (std::string(kind) == "path" && std::string(c.radius) == "0/0") {
        // A path's radius is not tested for sign; its NaN is not finite.
        EXPECT_EQ(got, "error: schematic_shapes: shape 1: every number of a shape is finite, not NaN");
      } else {
        EXPECT_EQ(got.substr(0, std::string(c.want).size()), c.want) << kind;
      }
    }
  }
  // Many shapes together may not pass the per-call limit either.
  auto vm = test::make_engine();
  EXPECT_EQ(
      run(vm, "m",
          "local t = {} for i = 1, 8 do t[i] = {kind = 'ellipsoid', material = 1, centre = {0, 0, 0}, "
          "radii = {40, 40, 40}} end return game.schematic_shapes(t)"),
      "error: schematic_shapes: the shapes visit more than 16777216 cells in all; cut the structure into "
      "smaller ones");
}

// A stamper that records what it was handed and refuses once eight stamps wait.
class FakeStamper : public plan::Access {
 public:
  struct Stamp {
    std::string domain;
    std::array<std::int32_t, 3> root;
    std::vector<StampBlock> entries;
  };
  bool stamp_schematic(std::string_view domain, std::array<std::int32_t, 3> root,
                       std::vector<StampBlock> entries) override {
    if (waiting.size() >= 8) return false;
    waiting.push_back({std::string(domain), root, std::move(entries)});
    return true;
  }
  std::vector<Stamp> waiting;

  // The plan store is not reached by these tests.
  std::expected<plan::Plan, plan::PlanError> capture(std::string_view, coords::BlockPos,
                                                     coords::BlockPos) override {
    return std::unexpected(plan::PlanError{.kind = plan::PlanErrorKind::NoWorld});
  }
  bool save(std::string_view, std::string_view, const plan::Plan&) override { return false; }
  std::optional<plan::Plan> load(std::string_view, std::string_view) override { return std::nullopt; }
  std::vector<std::string> names(std::string_view) override { return {}; }
  bool forget(std::string_view, std::string_view) override { return false; }
  bool stamp(std::string_view, coords::BlockPos, plan::Plan) override { return false; }
};

// The domains the stamp tests may name.
std::shared_ptr<test::FakeDomains> two_domains() {
  auto d = std::make_shared<test::FakeDomains>();
  d->live = {"overworld", "caves"};
  return d;
}

TEST(StampScript, RefusalsWithTheirTexts) {
  auto vm = test::make_engine();
  vm.set_plan_access(std::make_shared<FakeStamper>());
  vm.set_domain_access(two_domains());
  ASSERT_EQ(run(vm, "m", "s = game.schematic({{5, 0, 0, 1, 1}}) p = {x = 0, y = 0, z = 0} return 1"), "1");
  struct Case {
    const char* call;
    const char* want;
  };
  const Case cases[] = {
      {"5, p", "`schematic` is one built by game.schematic or game.schematic_shapes"},
      {"game.density({op = 'x'}), p", "`schematic` is one built by game.schematic or game.schematic_shapes"},
      {"s, 5", "`pos` is a table of whole blocks, { x, y, z }"},
      {"s, {x = 1.5, y = 0, z = 0}", "`pos.x` is a whole block coordinate"},
      {"s, {x = 1, y = 2}", "`pos.z` is a whole block coordinate"},
      {"s, {x = 2^31, y = 0, z = 0}", "`pos.x` is a whole block coordinate"},
      {"s, p, {turn = 4}", "`turn` is 0 to 3 quarter turns about the vertical, not 4"},
      {"s, p, {turn = -1}", "`turn` is 0 to 3 quarter turns about the vertical, not -1"},
      {"s, p, {turn = 1.5}", "`turn` is a whole number of quarter turns, 0 to 3"},
      {"s, p, {domain = 'overworld', tilt = 1, spin = 2}",
       "no option called `spin`; the options are `domain` and `turn`"},
      {"s, p, {[1] = true}", "no option called `a integer key`; the options are `domain` and `turn`"},
      {"s, p, {domain = ''}", "`domain` is a domain's id, not an empty string"},
      {"s, p, {domain = {}}", "`domain` is a domain's id, as a string"},
      {"s, p, {domain = 'moon'}", "`domain` names no domain: \"moon\""},
      {"s, {x = 2^31 - 3, y = 0, z = 0}", "block 1 lands past the edge of the coordinates from `pos`"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.call);
    EXPECT_EQ(run(vm, "m", std::string("return game.stamp_schematic(") + c.call + ")"),
              std::string("error: stamp_schematic: ") + c.want);
  }
  EXPECT_EQ(run(vm, "m", "return game.stamp_schematic(s, p, 5)"),
            "error: bad argument #3 to 'stamp_schematic' (expected table, got integer)");
  EXPECT_EQ(run(vm, "m", "return game.stamp_schematic(s, {x = 0, y = 0, z = 0, domain = {}})"),
            "error: expected string, got table");
}

TEST(StampScript, AcceptedStampsReachTheStamper) {
  auto vm = test::make_engine();
  auto stamper = std::make_shared<FakeStamper>();
  vm.set_plan_access(stamper);
  vm.set_domain_access(two_domains());
  ASSERT_EQ(
      run(vm, "m", "s = game.schematic({{1, 0, 0, 7, 1}}) far = game.schematic({{5, 0, 0, 1, 1}}) return 1"),
      "1");
  EXPECT_EQ(run(vm, "m", "return game.stamp_schematic(s, {x = 10, y = 20, z = 30}, {turn = 1})"), "true");
  EXPECT_EQ(
      run(vm, "m", "return game.stamp_schematic(s, {x = 0, y = 0, z = 0, domain = 'caves'}, {turn = 2.0})"),
      "true");
  EXPECT_EQ(
      run(vm, "m",
          "return game.stamp_schematic(s, {x = 0, y = 0, z = 0, domain = 'caves'}, {domain = 'overworld'})"),
      "true");
  EXPECT_EQ(run(vm, "m", "return game.stamp_schematic(s, {x = 0, y = 0, z = 0, domain = ''}, {})"), "true");
  // Turned half a turn, dx 5 becomes -5 and lands inside the coordinates.
  EXPECT_EQ(run(vm, "m", "return game.stamp_schematic(far, {x = 2^31 - 3, y = 0, z = 0}, {turn = 2})"),
            "true");
  ASSERT_EQ(stamper->waiting.size(), 5u);
  EXPECT_EQ(stamper->waiting[0].domain, "overworld");
  EXPECT_EQ(stamper->waiting[0].root, (std::array<std::int32_t, 3>{10, 20, 30}));
  EXPECT_EQ(stamper->waiting[0].entries, (std::vector<StampBlock>{{0, 0, -1, 7, 0x40000}}));
  EXPECT_EQ(stamper->waiting[1].domain, "caves");
  EXPECT_EQ(stamper->waiting[1].entries,
            (std::vector<StampBlock>{{-1, 0, 0, 7, 1u << 20}}));  // cell (2, 0, 2)
  EXPECT_EQ(stamper->waiting[2].domain, "overworld");
  EXPECT_EQ(stamper->waiting[3].domain, "overworld");
  EXPECT_EQ(stamper->waiting[4].entries[0].dx, -5);
  // Eight waiting: false, nothing queued.
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(run(vm, "m", "return game.stamp_schematic(s, {x = 0, y = 0, z = 0})"), "true");
  EXPECT_EQ(run(vm, "m", "return game.stamp_schematic(s, {x = 0, y = 0, z = 0})"), "false");
  EXPECT_EQ(stamper->waiting.size(), 8u);
}

TEST(StampScript, WithoutAWorldTheAnswerIsFalse) {
  auto vm = test::make_engine();
  ASSERT_EQ(run(vm, "m", "s = game.schematic({{0, 0, 0, 1, 1}}) return 1"), "1");
  // No world: any domain passes unchecked, and the answer is false; bad arguments still fail.
  EXPECT_EQ(run(vm, "m", "return game.stamp_schematic(s, {x = 0, y = 0, z = 0}, {domain = 'moon'})"),
            "false");
  EXPECT_EQ(run(vm, "m", "return game.stamp_schematic(s, {x = 0, y = 0, z = 0}, {turn = 9})"),
            "error: stamp_schematic: `turn` is 0 to 3 quarter turns about the vertical, not 9");
  // A poisoned plan store fails without the prefix.
  vm.slots().plans->poison();
  EXPECT_EQ(run(vm, "m", "return game.stamp_schematic(s, {x = 0, y = 0, z = 0})"),
            "error: the plan store is poisoned; the simulation panicked");
}

}  // namespace
}  // namespace ostrel_core::script::lua_vm
