#include "modload/resolve.hpp"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace ostrel_core::modload::resolve {
namespace {

using manifest::DiscoveredMod;
using manifest::ModManifest;

// A mod in /mods/<id> with the given declarations; version 1.0.0 unless set.
DiscoveredMod mod(ModManifest m) {
  if (m.name.empty()) m.name = m.id;
  if (m.version.empty()) m.version = "1.0.0";
  std::filesystem::path dir = std::filesystem::path("/mods") / m.id;
  return DiscoveredMod{std::move(m), std::move(dir)};
}

std::vector<std::string> ids(const ResolvedSet& set) {
  std::vector<std::string> out;
  for (const auto& m : set.mods) out.push_back(m.id);
  return out;
}

const ResolvedMod& find(const ResolvedSet& set, const std::string& id) {
  auto it = std::find_if(set.mods.begin(), set.mods.end(), [&](const auto& m) { return m.id == id; });
  EXPECT_NE(it, set.mods.end()) << id;
  return *it;
}

using Ids = std::vector<std::string>;

TEST(Resolve, EmptyInputGivesAnEmptySet) {
  auto got = resolve({});
  ASSERT_TRUE(got.has_value());
  EXPECT_TRUE(got->mods.empty());
  EXPECT_TRUE(got->aside.empty());
}

struct OrderCase {
  const char* name;
  std::vector<DiscoveredMod> mods;
  Ids order;
};

TEST(Resolve, LoadOrderPlacesDependenciesThenReferenceModsThenSmallestId) {
  const OrderCase kCases[] = {
      {"independent",
       {mod({.id = "alpha"}), mod({.id = "base", .reference = true}), mod({.id = "zeta"})},
       {"base", "alpha", "zeta"}},
      {"reference_depends_on_plain",
       {mod({.id = "base", .depends = {"zlib"}, .reference = true}), mod({.id = "extra"}),
        mod({.id = "zlib"})},
       {"extra", "zlib", "base"}},
      {"chain_against_id_order",
       {mod({.id = "a", .depends = {"b"}}), mod({.id = "b", .depends = {"c"}}), mod({.id = "c"})},
       {"c", "b", "a"}},
      {"diamond",
       {mod({.id = "app", .depends = {"left", "right"}}), mod({.id = "core"}),
        mod({.id = "left", .depends = {"core"}}), mod({.id = "right", .depends = {"core"}})},
       {"core", "left", "right", "app"}},
      {"ready_reference_jumps_ahead",
       {mod({.id = "a"}), mod({.id = "b", .depends = {"a"}}),
        mod({.id = "r", .depends = {"a"}, .reference = true})},
       {"a", "r", "b"}},
      {"optional_present_orders",
       {mod({.id = "a", .optional_depends = {"b"}}), mod({.id = "b"})},
       {"b", "a"}},
      {"optional_absent_ignored", {mod({.id = "a", .optional_depends = {"nothing ^3"}})}, {"a"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    auto got = resolve(c.mods);
    ASSERT_TRUE(got.has_value()) << got.error().message();
    EXPECT_EQ(ids(*got), c.order);
  }
}

TEST(Resolve, ResolvedModsCarryTheirDeclarations) {
  manifest::Theme theme{.font = "f.ttf"};
  std::vector<DiscoveredMod> mods = {
      mod({.id = "app", .version = "2.1.0-rc.1", .depends = {"lib >=1", "lib", "app"},
           .optional_depends = {"zed", "gone"}, .theme = theme}),
      mod({.id = "lib"}), mod({.id = "zed", .reference = true})};
  auto got = resolve(mods);
  ASSERT_TRUE(got.has_value()) << got.error().message();
  const auto& app = find(*got, "app");
  EXPECT_EQ(app.dir, std::filesystem::path("/mods/app"));
  EXPECT_EQ(app.dependencies, (Ids{"lib", "zed"}));  // ascending, once, never itself
  EXPECT_EQ(app.version.to_string(), "2.1.0-rc.1");
  EXPECT_EQ(app.theme, theme);
  EXPECT_FALSE(app.reference);
  EXPECT_TRUE(find(*got, "zed").reference);
  // The result owns its copies.
  mods.clear();
  EXPECT_EQ(got->mods.front().id, "zed");
}

TEST(Resolve, ReferenceModStandsAsideForAProvider) {
  auto got = resolve(std::vector<DiscoveredMod>{
      mod({.id = "base", .version = "9.0.0", .reference = true}),
      mod({.id = "game", .depends = {"base ^2"}}),
      mod({.id = "newbase", .version = "2.3.0", .provides = {"base"}})});
  ASSERT_TRUE(got.has_value()) << got.error().message();
  EXPECT_EQ(got->aside, (std::vector<Aside>{{"base", "newbase"}}));
  EXPECT_EQ(ids(*got), (Ids{"newbase", "game"}));
  EXPECT_EQ(find(*got, "game").dependencies, Ids{"newbase"});

  // The requirement is checked against the provider's version.
  auto clash = resolve(std::vector<DiscoveredMod>{
      mod({.id = "base", .version = "9.0.0", .reference = true}),
      mod({.id = "game", .depends = {"base ^9"}}),
      mod({.id = "newbase", .version = "2.3.0", .provides = {"base"}})});
  ASSERT_FALSE(clash.has_value());
  EXPECT_EQ(clash.error().message(),
            "mod `game` requires `base ^9`, but `newbase` is installed at version 2.3.0");
}

TEST(Resolve, StandAsideRules) {
  // Conflicting alone also makes a reference mod stand aside; its id is then not installed.
  auto conflicted = resolve(std::vector<DiscoveredMod>{
      mod({.id = "base", .reference = true}), mod({.id = "game", .depends = {"base"}}),
      mod({.id = "rival", .conflicts = {"base"}})});
  ASSERT_FALSE(conflicted.has_value());
  EXPECT_EQ(conflicted.error().kind, ResolveErrorKind::MissingDependency);
  EXPECT_EQ(conflicted.error().message(),
            "mod `game` requires `base`, but no mod provides `base` (installed: game, rival)");

  // Two providers: the smaller id is named.
  auto two = resolve(std::vector<DiscoveredMod>{mod({.id = "base", .reference = true}),
                                                mod({.id = "m_two", .provides = {"base"}}),
                                                mod({.id = "m_one", .provides = {"base"}})});
  ASSERT_TRUE(two.has_value()) << two.error().message();
  EXPECT_EQ(two->aside, (std::vector<Aside>{{"base", "m_one"}}));

  // A name the reference mod provides counts.
  auto by_provided = resolve(std::vector<DiscoveredMod>{
      mod({.id = "fixture", .provides = {"terrain"}, .reference = true}),
      mod({.id = "real", .provides = {"terrain"}})});
  ASSERT_TRUE(by_provided.has_value()) << by_provided.error().message();
  EXPECT_EQ(by_provided->aside, (std::vector<Aside>{{"fixture", "real"}}));
  EXPECT_EQ(ids(*by_provided), Ids{"real"});

  // Another reference mod does not make a reference mod stand aside: both stay and clash.
  auto refs = resolve(std::vector<DiscoveredMod>{
      mod({.id = "fix_a", .conflicts = {"fix_b"}, .reference = true}),
      mod({.id = "fix_b", .reference = true})});
  ASSERT_FALSE(refs.has_value());
  EXPECT_EQ(refs.error().kind, ResolveErrorKind::Conflict);
  EXPECT_EQ(refs.error().declarer, "fix_a");
  EXPECT_EQ(refs.error().found, "fix_b");
}

TEST(Resolve, ProvidedIdsAndSelfReferences) {
  // Two kept mods provide x: the greater id answers for it.
  auto got = resolve(std::vector<DiscoveredMod>{
      mod({.id = "p_a", .version = "1.0.0", .provides = {"x"}}),
      mod({.id = "p_b", .version = "2.0.0", .provides = {"x"}}),
      mod({.id = "user", .depends = {"x >=2"}})});
  ASSERT_TRUE(got.has_value()) << got.error().message();
  EXPECT_EQ(find(*got, "user").dependencies, Ids{"p_b"});

  // Providing and conflicting with the same id is fine; requiring itself adds no dependency.
  auto self = resolve(std::vector<DiscoveredMod>{
      mod({.id = "solo", .depends = {"solo ^1", "alias"}, .provides = {"alias"}, .conflicts = {"alias"}})});
  ASSERT_TRUE(self.has_value()) << self.error().message();
  EXPECT_TRUE(self->mods[0].dependencies.empty());

  auto self_version = resolve(std::vector<DiscoveredMod>{mod({.id = "solo", .depends = {"solo >=2"}})});
  ASSERT_FALSE(self_version.has_value());
  EXPECT_EQ(self_version.error().message(),
            "mod `solo` requires `solo >=2`, but `solo` is installed at version 1.0.0");
}

struct ErrorCase {
  const char* name;
  std::vector<DiscoveredMod> mods;
  ResolveErrorKind kind;
  const char* message;
};

TEST(Resolve, ReportsEachProblemWithItsText) {
  const ErrorCase kCases[] = {
      {"duplicate_before_anything_else",
       {mod({.id = "a", .depends = {"missing"}, .conflicts = {"b"}}), mod({.id = "b"}),
        DiscoveredMod{{.id = "b", .name = "B", .version = "1.0.0"}, "/elsewhere/b"}},
       ResolveErrorKind::DuplicateId,
       "mod id `b` is claimed by both `/mods/b` and `/elsewhere/b`"},
      {"conflict",
       {mod({.id = "a", .conflicts = {"zz", "b"}}), mod({.id = "b"})},
       ResolveErrorKind::Conflict,
       "mod `a` cannot load beside `b`, and `b` is here as well; enable one or the other "
       "(`enabled_mods` in the server's config, or the mod list when a world is made)"},
      {"conflict_through_provides",
       {mod({.id = "a", .conflicts = {"engine"}}), mod({.id = "b", .provides = {"engine"}})},
       ResolveErrorKind::Conflict,
       "mod `a` cannot load beside `engine`, and `b` is here as well; enable one or the other "
       "(`enabled_mods` in the server's config, or the mod list when a world is made)"},
      {"conflicts_before_dependencies",
       {mod({.id = "a", .depends = {"nothing"}}), mod({.id = "b", .conflicts = {"c"}}), mod({.id = "c"})},
       ResolveErrorKind::Conflict, nullptr},
      {"missing",
       {mod({.id = "app", .depends = {"lib >=1, <2"}}), mod({.id = "base", .reference = true}),
        mod({.id = "rival", .provides = {"base"}})},
       ResolveErrorKind::MissingDependency,
       "mod `app` requires `lib >=1, <2`, but no mod provides `lib` (installed: app, rival)"},
      {"version_conflict",
       {mod({.id = "app", .depends = {"lib ^1.2"}}), mod({.id = "lib", .version = "1.1.9"})},
       ResolveErrorKind::VersionConflict,
       "mod `app` requires `lib ^1.2`, but `lib` is installed at version 1.1.9"},
      {"optional_version_conflict",
       {mod({.id = "app", .optional_depends = {"lib <1"}}), mod({.id = "lib", .version = "1.0.0+b7"})},
       ResolveErrorKind::VersionConflict,
       "mod `app` requires `lib <1`, but `lib` is installed at version 1.0.0+b7"},
      {"depends_before_optional",
       {mod({.id = "app", .depends = {"gone"}, .optional_depends = {"lib <1"}}), mod({.id = "lib"})},
       ResolveErrorKind::MissingDependency, nullptr},
      {"two_cycle",
       {mod({.id = "a", .depends = {"b"}}), mod({.id = "b", .depends = {"a"}})},
       ResolveErrorKind::Cycle, "dependency cycle: a -> b -> a"},
      {"cycle_entered_from_outside",
       {mod({.id = "a", .depends = {"b"}}), mod({.id = "b", .depends = {"c"}}),
        mod({.id = "c", .depends = {"b"}}), mod({.id = "d"})},
       ResolveErrorKind::Cycle, "dependency cycle: b -> c -> b"},
      {"unparseable_requirement",
       {mod({.id = "app", .depends = {"lib>=1"}})},
       ResolveErrorKind::BadRequirement, "mod `app` declares an unparseable requirement `lib>=1`"},
      {"unparseable_found_version",
       {mod({.id = "app", .depends = {"lib"}}), mod({.id = "lib", .version = "1.0"})},
       ResolveErrorKind::BadRequirement, "mod `lib` declares an unparseable requirement `1.0`"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    auto got = resolve(c.mods);
    ASSERT_FALSE(got.has_value());
    EXPECT_EQ(got.error().kind, c.kind);
    if (c.message) {
      EXPECT_EQ(got.error().message(), c.message);
    }
  }
}

TEST(Resolve, InstalledSuffix) {
  EXPECT_EQ(installed_suffix({}), " (no mods are installed)");
  const std::string two[] = {"a", "b"};
  EXPECT_EQ(installed_suffix(two), " (installed: a, b)");
}

// A set of 40 mods with every kind of declaration, acyclic, without errors.
std::vector<DiscoveredMod> busy_set() {
  std::mt19937 rng(7);
  std::vector<DiscoveredMod> mods;
  for (int i = 0; i < 40; ++i) {
    ModManifest m{.id = fmt::format("m{:02}", i)};
    for (int j = 0; j < i; ++j) {
      if (rng() % 6 == 0) m.depends.push_back(fmt::format("m{:02}", j));
      else if (rng() % 9 == 0) m.optional_depends.push_back(fmt::format("m{:02} >=1", j));
    }
    if (i % 7 == 3) m.reference = true;
    if (i % 10 == 0) m.provides.push_back(fmt::format("api{}", i % 3));
    if (i > 30 && rng() % 2 == 0) m.depends.push_back(fmt::format("api{}", i % 3));
    m.optional_depends.push_back("absent_mod");
    mods.push_back(mod(std::move(m)));
  }
  // A fixture that stands aside for m05.
  mods.push_back(mod({.id = "fixture", .reference = true}));
  mods[5].manifest.conflicts.push_back("fixture");
  return mods;
}

TEST(Resolve, ShuffledInputsGiveOneOrder) {
  auto mods = busy_set();
  auto first = resolve(mods);
  ASSERT_TRUE(first.has_value()) << first.error().message();
  ASSERT_EQ(first->mods.size(), 40u);
  ASSERT_EQ(first->aside, (std::vector<Aside>{{"fixture", "m05"}}));
  // Every mod comes after its dependencies.
  const auto order = ids(*first);
  for (std::size_t i = 0; i < first->mods.size(); ++i) {
    for (const auto& d : first->mods[i].dependencies) {
      EXPECT_LT(std::find(order.begin(), order.end(), d) - order.begin(), static_cast<long>(i))
          << first->mods[i].id << " before " << d;
    }
  }
  std::mt19937 rng(11);
  for (int run = 0; run < 1000; ++run) {
    std::shuffle(mods.begin(), mods.end(), rng);
    auto again = resolve(mods);
    ASSERT_TRUE(again.has_value()) << again.error().message();
    ASSERT_EQ(ids(*again), ids(*first)) << "run " << run;
    ASSERT_EQ(again->aside, first->aside);
    for (std::size_t i = 0; i < again->mods.size(); ++i)
      ASSERT_EQ(again->mods[i].dependencies, first->mods[i].dependencies);
  }
}

}  // namespace
}  // namespace ostrel_core::modload::resolve
