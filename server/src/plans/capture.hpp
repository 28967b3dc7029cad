#pragma once
// Capturing a box of a domain's resident chunks as a plan. Nothing is loaded or generated: a
// block whose chunk is not resident fails the capture, which answers the whole box or nothing.
// Blocks are visited z outermost, then y, then x; a mixed block records one entry per material
// in the order the materials first appear in its cells.

#include <expected>
#include <string_view>

#include "building/plan.hpp"
#include "plans/names.hpp"
#include "world/coords.hpp"

namespace ostrel_server::world {
class World;
}

namespace ostrel_server::plans {

// The name recorded for a material no name carries.
inline constexpr std::string_view kUnknownMaterial = "engine:unknown";

std::expected<ostrel_core::plan::Plan, ostrel_core::plan::PlanError> capture(
    const world::World& world, const Names& names, std::string_view domain,
    ostrel_core::coords::BlockPos from, ostrel_core::coords::BlockPos to);

}  // namespace ostrel_server::plans
