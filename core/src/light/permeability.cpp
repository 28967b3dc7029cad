#include "light/permeability.hpp"

namespace ostrel_core::light {

namespace {

// Face bits of a block whose filled cells are `filled_mask`.
std::uint8_t open_faces(std::uint32_t filled_mask) {
  std::uint8_t bits = 0;
  for (std::size_t f = 0; f < kFaceMasks.size(); ++f) {
    if ((filled_mask & kFaceMasks[f]) != kFaceMasks[f]) bits |= static_cast<std::uint8_t>(1u << f);
  }
  return bits;
}

}  // namespace

std::uint8_t permeability(const block::BlockView& view) {
  switch (view.kind()) {
    case block::Kind::Whole:
      return view.material() == material::kAir ? kOpen : kClosed;
    case block::Kind::Partial:
      return view.material() == material::kAir ? kOpen : open_faces(view.mask());
    case block::Kind::Mixed: {
      std::uint32_t filled = 0;
      const auto& cells = view.mixed_cells();
      for (std::size_t i = 0; i < cells.size(); ++i) {
        if (cells[i] != material::kAir) filled |= 1u << i;
      }
      return open_faces(filled);
    }
  }
  return kOpen;
}

}  // namespace ostrel_core::light
