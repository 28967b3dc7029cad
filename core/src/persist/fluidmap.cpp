#include "persist/fluidmap.hpp"

#include <fmt/format.h>

#include "fluid/fluid.hpp"
#include "persist/sqlite.hpp"

namespace ostrel_core::persist::fluidmap {

FluidMapError FluidMapError::sql(const sqlite::SqliteError& e) {
  FluidMapError err{FluidMapErrorKind::Sql};
  err.cause = make_source(e);
  return err;
}

std::string FluidMapError::message() const {
  switch (kind) {
    case FluidMapErrorKind::Sql: return "fluid id table";
    case FluidMapErrorKind::IdOutOfRange:
      return fmt::format("the world stores fluid `{}` as id {}, which is outside 1..={}", name, numeric,
                         kMaxFluidId);
    case FluidMapErrorKind::Exhausted:
      return fmt::format(
          "this world has already used all {} fluid ids, so `{}` cannot be given one. Fluid ids are "
          "four bits and a world's history shares them with the current mod set; an id already in "
          "use cannot be reassigned without changing what stored chunks mean.",
          kMaxFluidId, name);
    case FluidMapErrorKind::Placeholder:
      return fmt::format("could not register a placeholder for the world's fluid `{}`", name);
  }
  return "fluid id mapping failed";
}

std::string UnmappedFluid::message() const {
  return fmt::format("{} fluid id {} has no counterpart in this world's fluid table", direction, id);
}

FluidMapping FluidMapping::identity() {
  FluidMapping m;
  for (std::uint8_t i = 0; i < 16; ++i) m.to_world[i] = m.to_runtime[i] = i;
  return m;
}

std::expected<FluidIdTable, FluidMapError> FluidIdTable::load(sqlite::Connection& db) {
  auto stmt = db.prepare("SELECT string_id, numeric_id FROM fluid_ids");
  if (!stmt) return std::unexpected(FluidMapError::sql(stmt.error()));
  FluidIdTable table;
  for (;;) {
    auto row = stmt->step();
    if (!row) return std::unexpected(FluidMapError::sql(row.error()));
    if (!*row) break;
    std::string name(stmt->column_text(0));
    const std::int64_t numeric = stmt->column_i64(1);
    if (numeric < 1 || numeric > kMaxFluidId) {
      FluidMapError e{FluidMapErrorKind::IdOutOfRange, std::move(name), numeric};
      return std::unexpected(std::move(e));
    }
    const auto id = static_cast<std::uint8_t>(numeric);
    table.by_id[id] = name;
    table.by_name[std::move(name)] = id;
  }
  return table;
}

std::expected<FluidMapping, FluidMapError> FluidIdTable::reconcile(sqlite::Connection& db,
                                                                   fluid::Fluids& fluids) {
  for (const auto& fluid : fluids.registered()) {
    if (by_name.contains(fluid.name)) continue;
    std::uint8_t id = 1;
    while (id <= kMaxFluidId && by_id.contains(id)) ++id;
    if (id > kMaxFluidId) return std::unexpected(FluidMapError{FluidMapErrorKind::Exhausted, fluid.name});
    auto stmt = db.prepare("INSERT OR REPLACE INTO fluid_ids (string_id, numeric_id) VALUES (?1, ?2)");
    if (!stmt) return std::unexpected(FluidMapError::sql(stmt.error()));
    sqlite::Result<void> r = stmt->bind_text(1, fluid.name);
    if (r) r = stmt->bind_i64(2, id);
    if (r) r = stmt->run();
    if (!r) return std::unexpected(FluidMapError::sql(r.error()));
    by_name[fluid.name] = id;
    by_id[id] = fluid.name;
  }
  for (const auto& [name, id] : by_name) {  // name order
    if (fluids.id_of(name)) continue;
    auto placeholder = fluids.register_placeholder(name);
    if (!placeholder) {
      FluidMapError e{FluidMapErrorKind::Placeholder, name};
      e.cause = make_source(placeholder.error());
      return std::unexpected(std::move(e));
    }
  }
  FluidMapping mapping;
  const auto registered = fluids.registered();
  for (std::size_t i = 0; i < registered.size() && i < kMaxFluidId; ++i) {
    auto it = by_name.find(registered[i].name);
    if (it == by_name.end()) continue;
    const auto runtime = static_cast<std::uint8_t>(i + 1);
    mapping.to_world[runtime] = it->second;
    mapping.to_runtime[it->second] = runtime;
  }
  return mapping;
}

}  // namespace ostrel_core::persist::fluidmap
