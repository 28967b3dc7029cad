#include "persist/idmap.hpp"

#include <fmt/format.h>

#include "persist/sqlite.hpp"

namespace ostrel_core::persist::idmap {

namespace {

constexpr const char* kKindNames[] = {
    "Sql", "IdOutOfRange", "Exhausted", "Alias", "UnmappedRuntimeId", "UnmappedWorldId", "Reserved"};

IdMapError error_of(IdMapErrorKind kind) { return IdMapError{kind}; }

}  // namespace

IdMapError IdMapError::sql(const sqlite::SqliteError& e) {
  IdMapError err{IdMapErrorKind::Sql};
  err.cause = make_source(e);
  return err;
}

std::string IdMapError::message() const {
  switch (kind) {
    case IdMapErrorKind::Sql: return "world database error while mapping material ids";
    case IdMapErrorKind::IdOutOfRange:
      return fmt::format("material `{}` has stored numeric id {}, which is out of range", name, numeric);
    case IdMapErrorKind::Exhausted: return "world material id space is exhausted";
    case IdMapErrorKind::Alias: return fmt::format("could not alias absent material `{}`", name);
    case IdMapErrorKind::UnmappedRuntimeId:
      return fmt::format("runtime material id {} was never reconciled against this world", id);
    case IdMapErrorKind::UnmappedWorldId:
      return fmt::format("world material id {} is not in this world's id table", id);
    case IdMapErrorKind::Reserved:
      return fmt::format("material `{}` has stored numeric id {}, which belongs to `{}`", name, numeric,
                         numeric == 0 ? material::kAirName : material::kUnknownName);
  }
  return "material id mapping failed";
}

std::string IdMapError::debug() const {
  std::string out = fmt::format("IdMapError::{}", kKindNames[static_cast<int>(kind)]);
  switch (kind) {
    case IdMapErrorKind::IdOutOfRange:
    case IdMapErrorKind::Reserved:
      return out + fmt::format(" {{ name: {:?}, numeric: {} }}", name, numeric);
    case IdMapErrorKind::Alias: return out + fmt::format(" {{ name: {:?} }}", name);
    case IdMapErrorKind::UnmappedRuntimeId:
    case IdMapErrorKind::UnmappedWorldId: return out + fmt::format(" {{ id: {} }}", id);
    default: return out;
  }
}

MaterialMap MaterialMap::identity_map() {
  MaterialMap m;
  m.identity = true;
  return m;
}

std::expected<WorldId, IdMapError> MaterialMap::to_world(MaterialId runtime) const {
  if (identity) return runtime;
  if (runtime >= forward.size() || forward[runtime] == kUnmapped) {
    auto e = error_of(IdMapErrorKind::UnmappedRuntimeId);
    e.id = runtime;
    return std::unexpected(std::move(e));
  }
  return forward[runtime];
}

void MaterialMap::build_lookup() {
  reverse_table.assign(reverse.empty() ? 0 : std::size_t{reverse.rbegin()->first} + 1, kNoRuntime);
  for (const auto& [world, runtime] : reverse) reverse_table[world] = runtime;
}

std::expected<MaterialId, IdMapError> MaterialMap::to_runtime(WorldId world) const {
  if (identity) return world;
  if (!reverse_table.empty()) {
    if (world < reverse_table.size() && reverse_table[world] != kNoRuntime) {
      return static_cast<MaterialId>(reverse_table[world]);
    }
  } else if (auto it = reverse.find(world); it != reverse.end()) {
    return it->second;
  }
  auto e = error_of(IdMapErrorKind::UnmappedWorldId);
  e.id = world;
  return std::unexpected(std::move(e));
}

std::expected<IdTable, IdMapError> IdTable::load(sqlite::Connection& db) {
  auto stmt = db.prepare("SELECT string_id, numeric_id FROM id_map");
  if (!stmt) return std::unexpected(IdMapError::sql(stmt.error()));
  IdTable table;
  for (;;) {
    auto row = stmt->step();
    if (!row) return std::unexpected(IdMapError::sql(row.error()));
    if (!*row) break;
    std::string name(stmt->column_text(0));
    const std::int64_t numeric = stmt->column_i64(1);
    // 65,535 is the forward table's unmapped marker: a name stored there could never be encoded.
    // Ids 0 and 1 mean air and unknown in every chunk; another name there would turn them into it.
    const bool reserved =
        (numeric == 0 && name != material::kAirName) || (numeric == 1 && name != material::kUnknownName);
    if (numeric < 0 || numeric > kMaxWorldId || reserved) {
      auto e = error_of(reserved ? IdMapErrorKind::Reserved : IdMapErrorKind::IdOutOfRange);
      e.name = std::move(name);
      e.numeric = numeric;
      return std::unexpected(std::move(e));
    }
    const auto id = static_cast<WorldId>(numeric);
    table.by_id[id] = name;
    table.by_name[std::move(name)] = id;
  }
  return table;
}

std::expected<void, IdMapError> IdTable::insert(sqlite::Connection& db, const std::string& name, WorldId id) {
  auto stmt = db.prepare("INSERT OR REPLACE INTO id_map (string_id, numeric_id) VALUES (?1, ?2)");
  if (!stmt) return std::unexpected(IdMapError::sql(stmt.error()));
  sqlite::Result<void> r = stmt->bind_text(1, name);
  if (r) r = stmt->bind_i64(2, id);
  if (r) r = stmt->run();
  if (!r) return std::unexpected(IdMapError::sql(r.error()));
  if (auto old = by_name.find(name); old != by_name.end()) by_id.erase(old->second);
  by_name[name] = id;
  by_id[id] = name;
  return {};
}

std::expected<MaterialMap, IdMapError> IdTable::reconcile(sqlite::Connection& db,
                                                          material::Registry& registry) {
  const std::string air(material::kAirName), unknown(material::kUnknownName);
  if (!by_name.contains(air)) {
    if (auto r = insert(db, air, 0); !r) return std::unexpected(r.error());
  }
  if (!by_name.contains(unknown)) {
    if (auto r = insert(db, unknown, 1); !r) return std::unexpected(r.error());
  }
  // New names take the lowest free id. 0xFFFF is the forward table's "unmapped" marker, so
  // the space ends at 0xFFFE.
  WorldId next = 2;
  for (const std::string& name : registry.names()) {
    if (by_name.contains(name)) continue;
    while (next <= kMaxWorldId && by_id.contains(next)) ++next;
    if (next > kMaxWorldId) return std::unexpected(error_of(IdMapErrorKind::Exhausted));
    if (auto r = insert(db, name, next); !r) return std::unexpected(r.error());
  }

  MaterialMap map;
  for (const auto& [name, id] : by_name) {  // name order
    if (registry.id_of(name)) continue;
    auto placeholder = registry.register_material(name);
    if (!placeholder) {
      auto e = error_of(IdMapErrorKind::Alias);
      e.name = name;
      e.cause = make_source(placeholder.error());
      return std::unexpected(std::move(e));
    }
    map.placeholders.insert(*placeholder);
  }

  const auto names = registry.names();
  map.forward.assign(names.size(), kUnmapped);
  for (std::size_t runtime = 0; runtime < names.size(); ++runtime) {
    auto it = by_name.find(names[runtime]);
    if (it == by_name.end()) continue;
    map.forward[runtime] = it->second;
    map.reverse[it->second] = static_cast<MaterialId>(runtime);
  }
  map.build_lookup();
  return map;
}

}  // namespace ostrel_core::persist::idmap
