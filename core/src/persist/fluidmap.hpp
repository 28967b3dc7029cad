#pragma once
// World fluid ids: like material ids, but four bits inside a fluid state, so a world has 15 of
// them (1..=15, 0 meaning no fluid), shared between its history and the fluids registered now.

#include <array>
#include <cstdint>
#include <expected>
#include <map>
#include <string>

#include "base/error.hpp"

namespace ostrel_core::fluid {
class Fluids;
}
namespace ostrel_core::persist::sqlite {
class Connection;
class SqliteError;
}  // namespace ostrel_core::persist::sqlite

namespace ostrel_core::persist::fluidmap {

inline constexpr std::uint8_t kMaxFluidId = 15;

enum class FluidMapErrorKind : std::uint8_t {
  Sql,           // the database failed; source: the SqliteError
  IdOutOfRange,  // a stored numeric_id outside 1..=15: name, numeric
  Exhausted,     // all 15 ids are taken and `name` needs one
  Placeholder,   // the fluid registry refused a placeholder for `name`; source: its refusal
};

struct FluidMapError {
  FluidMapErrorKind kind;
  std::string name;
  std::int64_t numeric = 0;
  SourcePtr cause;

  static FluidMapError sql(const sqlite::SqliteError& e);
  std::string message() const;
  const ErrorSource* source() const { return cause.get(); }
};

// A fluid id with no counterpart on the other side. Direction "session": a fluid of this run
// has no world id (writing); "world": a stored world id has no id in this run (reading).
struct UnmappedFluid {
  std::uint8_t id = 0;
  std::string direction;

  std::string message() const;
  const ErrorSource* source() const { return nullptr; }
};

// Runtime fluid id <-> world fluid id; 0 means none, and entry 0 is always 0.
struct FluidMapping {
  std::array<std::uint8_t, 16> to_world{};
  std::array<std::uint8_t, 16> to_runtime{};

  // Entry i is i both ways: how ids translate before reconciliation.
  static FluidMapping identity();
};

// The rows of fluid_ids.
struct FluidIdTable {
  std::map<std::string, std::uint8_t, std::less<>> by_name;
  std::map<std::uint8_t, std::string> by_id;

  static std::expected<FluidIdTable, FluidMapError> load(sqlite::Connection& db);
  // Gives each registered fluid without a row the lowest free id, registers every stored name
  // no mod registers as a placeholder, and builds the mapping.
  std::expected<FluidMapping, FluidMapError> reconcile(sqlite::Connection& db, fluid::Fluids& fluids);
};

}  // namespace ostrel_core::persist::fluidmap
