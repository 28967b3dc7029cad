#include "modload/resolve.hpp"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <algorithm>
#include <map>
#include <set>

namespace ostrel_core::modload::resolve {

namespace {

using manifest::DiscoveredMod;
using Mods = std::span<const DiscoveredMod>;

bool lists(const std::vector<std::string>& list, const std::string& id) {
  return std::find(list.begin(), list.end(), id) != list.end();
}

// Reference id -> the smallest non-reference id that provides or conflicts with one of its names.
std::map<std::string, std::string> stand_aside(Mods mods) {
  std::map<std::string, std::string> aside;
  for (const auto& r : mods) {
    if (!r.manifest.reference) continue;
    std::vector<std::string> names{r.manifest.id};
    names.insert(names.end(), r.manifest.provides.begin(), r.manifest.provides.end());
    const std::string* by = nullptr;
    for (const auto& n : mods) {
      if (n.manifest.reference) continue;
      bool names_one = std::any_of(names.begin(), names.end(), [&](const std::string& name) {
        return lists(n.manifest.conflicts, name) || lists(n.manifest.provides, name);
      });
      if (names_one && (by == nullptr || n.manifest.id < *by)) by = &n.manifest.id;
    }
    if (by != nullptr) aside[r.manifest.id] = *by;
  }
  return aside;
}

// The kept mods by id, and the ids they provide that no kept mod has.
class Installed {
 public:
  std::map<std::string, const DiscoveredMod*> by_id;
  std::map<std::string, std::string> provided;

  const DiscoveredMod* find(const std::string& id) const {
    if (auto it = by_id.find(id); it != by_id.end()) return it->second;
    if (auto it = provided.find(id); it != provided.end()) return by_id.at(it->second);
    return nullptr;
  }

  std::string suffix() const {
    std::vector<std::string> ids;
    for (const auto& [id, mod] : by_id) ids.push_back(id);
    return installed_suffix(ids);
  }
};

std::expected<Installed, ResolveError> enter(const std::vector<const DiscoveredMod*>& kept) {
  Installed in;
  for (const auto* m : kept) {
    auto [it, fresh] = in.by_id.emplace(m->manifest.id, m);
    if (!fresh) {
      return std::unexpected(ResolveError{.kind = ResolveErrorKind::DuplicateId,
                                          .id = m->manifest.id,
                                          .first = it->second->dir,
                                          .second = m->dir});
    }
  }
  // Ascending id, so the greater id keeps a provided id whatever order the input came in.
  for (const auto& [id, m] : in.by_id) {
    for (const auto& p : m->manifest.provides)
      if (!in.by_id.contains(p)) in.provided[p] = id;
  }
  return in;
}

std::expected<void, ResolveError> check_conflicts(const Installed& in) {
  for (const auto& [id, m] : in.by_id) {
    for (const auto& c : m->manifest.conflicts) {
      const DiscoveredMod* f = in.find(c);
      if (f != nullptr && f != m) {
        return std::unexpected(ResolveError{.kind = ResolveErrorKind::Conflict,
                                            .declarer = m->manifest.id,
                                            .conflict = c,
                                            .found = f->manifest.id});
      }
    }
  }
  return {};
}

using Graph = std::map<std::string, std::set<std::string>>;  // id -> the ids it depends on

std::expected<Graph, ResolveError> dependencies(const Installed& in) {
  Graph graph;
  for (const auto& [id, m] : in.by_id) {
    auto& deps = graph[m->manifest.id];
    const std::vector<std::string>* lists_in_order[] = {&m->manifest.depends,
                                                        &m->manifest.optional_depends};
    for (const auto* list : lists_in_order) {
      const bool required = list == &m->manifest.depends;
      for (const auto& text : *list) {
        auto req = manifest::parse_requirement(text);
        if (!req) {
          return std::unexpected(ResolveError{.kind = ResolveErrorKind::BadRequirement,
                                              .requirer = m->manifest.id,
                                              .requirement = text});
        }
        const DiscoveredMod* f = in.find(req->id);
        if (f == nullptr) {
          if (!required) continue;
          return std::unexpected(ResolveError{.kind = ResolveErrorKind::MissingDependency,
                                              .requirer = m->manifest.id,
                                              .requirement = text,
                                              .missing = req->id,
                                              .available = in.suffix()});
        }
        auto version = semver::Version::parse(f->manifest.version);
        if (!version) {
          return std::unexpected(ResolveError{.kind = ResolveErrorKind::BadRequirement,
                                              .requirer = f->manifest.id,
                                              .requirement = f->manifest.version});
        }
        if (!req->req.matches(*version)) {
          return std::unexpected(ResolveError{.kind = ResolveErrorKind::VersionConflict,
                                              .requirer = m->manifest.id,
                                              .requirement = text,
                                              .found_id = f->manifest.id,
                                              .found_version = *version});
        }
        if (f != m) deps.insert(f->manifest.id);
      }
    }
  }
  return graph;
}

// Kahn's algorithm; among ready mods, reference mods first, then the smallest id.
std::vector<std::string> topological_order(const Graph& graph, const Installed& in) {
  std::map<std::string, std::size_t> unplaced;
  std::map<std::string, std::vector<std::string>> dependants;
  for (const auto& [id, deps] : graph) {
    unplaced[id] = deps.size();
    for (const auto& d : deps) dependants[d].push_back(id);
  }
  std::set<std::string> ready_ref, ready_other;
  auto make_ready = [&](const std::string& id) {
    (in.by_id.at(id)->manifest.reference ? ready_ref : ready_other).insert(id);
  };
  for (const auto& [id, n] : unplaced)
    if (n == 0) make_ready(id);
  std::vector<std::string> order;
  while (!ready_ref.empty() || !ready_other.empty()) {
    auto& from = ready_ref.empty() ? ready_other : ready_ref;
    std::string id = *from.begin();
    from.erase(from.begin());
    for (const auto& d : dependants[id])
      if (--unplaced[d] == 0) make_ready(d);
    order.push_back(std::move(id));
  }
  return order;
}

// Walks from the smallest stuck id along the smallest stuck dependency until an id repeats.
std::vector<std::string> find_cycle(const Graph& graph, const std::vector<std::string>& order) {
  std::set<std::string> stuck;
  for (const auto& [id, deps] : graph) stuck.insert(id);
  for (const auto& id : order) stuck.erase(id);
  std::vector<std::string> path;
  std::string current = *stuck.begin();
  for (;;) {
    if (auto at = std::find(path.begin(), path.end(), current); at != path.end()) {
      std::vector<std::string> cycle(at, path.end());
      cycle.push_back(current);
      return cycle;
    }
    path.push_back(current);
    const auto& deps = graph.at(current);
    auto next = std::find_if(deps.begin(), deps.end(),
                             [&](const std::string& d) { return stuck.contains(d); });
    if (next == deps.end()) return path;
    current = *next;
  }
}

}  // namespace

std::string installed_suffix(std::span<const std::string> ids) {
  if (ids.empty()) return " (no mods are installed)";
  return fmt::format(" (installed: {})", fmt::join(ids, ", "));
}

std::expected<ResolvedSet, ResolveError> resolve(std::span<const DiscoveredMod> mods) {
  const auto aside = stand_aside(mods);
  std::vector<const DiscoveredMod*> kept;
  for (const auto& m : mods)
    if (!aside.contains(m.manifest.id)) kept.push_back(&m);

  auto in = enter(kept);
  if (!in) return std::unexpected(std::move(in.error()));
  if (auto ok = check_conflicts(*in); !ok) return std::unexpected(std::move(ok.error()));
  auto graph = dependencies(*in);
  if (!graph) return std::unexpected(std::move(graph.error()));

  auto order = topological_order(*graph, *in);
  if (order.size() != graph->size()) {
    return std::unexpected(
        ResolveError{.kind = ResolveErrorKind::Cycle, .cycle = find_cycle(*graph, order)});
  }

  ResolvedSet set;
  for (const auto& id : order) {
    const auto& m = in->by_id.at(id)->manifest;
    const auto& deps = graph->at(id);
    // Versions were parsed while checking requirements, or by the manifest checks.
    auto version = semver::Version::parse(m.version);
    if (!version) {
      return std::unexpected(ResolveError{
          .kind = ResolveErrorKind::BadRequirement, .requirer = m.id, .requirement = m.version});
    }
    set.mods.push_back(ResolvedMod{.id = m.id,
                                   .dir = in->by_id.at(id)->dir,
                                   .dependencies = {deps.begin(), deps.end()},
                                   .theme = m.theme,
                                   .version = std::move(*version),
                                   .reference = m.reference});
  }
  for (const auto& [reference, by] : aside) set.aside.push_back(Aside{reference, by});
  return set;
}

std::string ResolveError::message() const {
  switch (kind) {
    case ResolveErrorKind::Conflict:
      return fmt::format(
          "mod `{}` cannot load beside `{}`, and `{}` is here as well; enable one or the other "
          "(`enabled_mods` in the server's config, or the mod list when a world is made)",
          declarer, conflict, found);
    case ResolveErrorKind::DuplicateId:
      return fmt::format("mod id `{}` is claimed by both `{}` and `{}`", id, first.string(),
                         second.string());
    case ResolveErrorKind::MissingDependency:
      return fmt::format("mod `{}` requires `{}`, but no mod provides `{}`{}", requirer,
                         requirement, missing, available);
    case ResolveErrorKind::VersionConflict:
      return fmt::format("mod `{}` requires `{}`, but `{}` is installed at version {}", requirer,
                         requirement, found_id, found_version.to_string());
    case ResolveErrorKind::Cycle: {
      std::string joined;
      for (const auto& id : cycle) joined += (joined.empty() ? "" : " -> ") + id;
      return fmt::format("dependency cycle: {}", joined);
    }
    case ResolveErrorKind::BadRequirement:
      return fmt::format("mod `{}` declares an unparseable requirement `{}`", requirer, requirement);
  }
  return "unknown resolution error";
}

}  // namespace ostrel_core::modload::resolve
