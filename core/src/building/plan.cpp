#include "building/plan.hpp"

namespace ostrel_core::plan {

std::string PlanError::message() const {
  switch (kind) {
    case PlanErrorKind::TooBig: return "too big";
    case PlanErrorKind::TooManyBlocks: return "too many blocks";
    case PlanErrorKind::OutOfBounds: return "refused";
    case PlanErrorKind::PaletteFull: return "refused";
    case PlanErrorKind::NoWorld: return "no world";
    case PlanErrorKind::NotLoaded: return "not loaded";
  }
  return "refused";
}

}  // namespace ostrel_core::plan
