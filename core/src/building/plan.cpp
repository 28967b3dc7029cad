#include "building/plan.hpp"

#include <fmt/format.h>

#include <bit>

#include "world/block.hpp"

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

std::expected<void, PlanError> Plan::set(std::uint16_t x, std::uint16_t y, std::uint16_t z,
                                         std::string_view name, std::uint32_t mask) {
  if (x >= w || y >= h || z >= d) {
    return std::unexpected(
        PlanError{.kind = PlanErrorKind::OutOfBounds, .x = x, .y = y, .z = z, .w = w, .h = h, .d = d});
  }
  mask &= block::kOccupancyFull;
  if (mask == 0) return {};
  if (cells.size() >= kMaxCells) return std::unexpected(PlanError{.kind = PlanErrorKind::TooManyBlocks});
  std::size_t entry = 0;
  while (entry < palette.size() && palette[entry] != name) ++entry;
  if (entry == palette.size()) {
    if (palette.size() >= kMaxPalette) return std::unexpected(PlanError{.kind = PlanErrorKind::PaletteFull});
    palette.emplace_back(name);
  }
  const std::uint32_t index = x + std::uint32_t{w} * (y + std::uint32_t{h} * z);
  cells.push_back({index, static_cast<std::uint16_t>(entry), mask});
  return {};
}

std::map<std::string, std::uint32_t> Plan::tally() const {
  std::map<std::string, std::uint32_t> out;
  for (const auto& c : cells) {
    if (c.palette >= palette.size()) continue;
    auto& total = out[palette[c.palette]];
    const std::uint64_t sum = std::uint64_t{total} + block::mask_cells(c.mask);
    total = sum > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(sum);
  }
  return out;
}

PlanCell Plan::unpacked(std::size_t i) const {
  const PlanEntry& e = cells[i];
  const std::uint32_t wh = std::uint32_t{w} * h;
  return {static_cast<std::uint16_t>(e.index % w), static_cast<std::uint16_t>(e.index / w % h),
          static_cast<std::uint16_t>(e.index / wh), e.palette, e.mask};
}

std::optional<std::string> Plan::damage() const {
  if (w > kMaxExtent || h > kMaxExtent || d > kMaxExtent) {
    return fmt::format("extents {} x {} x {} pass {}", w, h, d, kMaxExtent);
  }
  if (cells.size() > kMaxCells) return fmt::format("{} cell entries pass {}", cells.size(), kMaxCells);
  if (palette.size() > kMaxPalette) return fmt::format("{} names pass {}", palette.size(), kMaxPalette);
  const std::uint32_t volume = std::uint32_t{w} * h * d;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    if (cells[i].index >= volume) {
      return fmt::format("entry {} lies at index {}, outside a box of {} blocks", i, cells[i].index, volume);
    }
    if (cells[i].palette >= palette.size()) {
      return fmt::format("entry {} names palette entry {} of {}", i, cells[i].palette, palette.size());
    }
  }
  return std::nullopt;
}

}  // namespace ostrel_core::plan
