#include "fluid/codec.hpp"

#include <array>

#include <fmt/format.h>

namespace ostrel_core::fluid::codec {
namespace {

using layer::FluidLayer;
using layer::kBlocks;
using layer_runs::get_u16;

FluidDecodeError wrong_length(std::size_t covered) {
  return {.kind = FluidDecodeErrorKind::WrongLength, .covered = covered, .expected = kBlocks};
}

std::expected<FluidLayer, FluidDecodeError> decode_runs(std::span<const std::uint8_t> runs) {
  std::array<Fluid, kBlocks> states{};
  std::size_t covered = 0;
  std::size_t at = 0;
  while (at < runs.size()) {
    if (runs.size() - at < kRunSize) return std::unexpected(FluidDecodeError{FluidDecodeErrorKind::Truncated});
    const std::uint16_t count = get_u16(&runs[at]);
    const Fluid state{get_u16(&runs[at + 2])};
    at += kRunSize;
    if (count == 0) return std::unexpected(FluidDecodeError{FluidDecodeErrorKind::EmptyRun});
    if (!state.is_state()) {
      return std::unexpected(FluidDecodeError{.kind = FluidDecodeErrorKind::NotAState, .value = state.bits});
    }
    if (covered + count > kBlocks) return std::unexpected(wrong_length(covered + count));
    std::fill_n(states.begin() + static_cast<std::ptrdiff_t>(covered), count, state);
    covered += count;
  }
  if (covered != kBlocks) return std::unexpected(wrong_length(covered));
  return FluidLayer::from_blocks(states);
}

}  // namespace

std::string FluidDecodeError::message() const {
  switch (kind) {
    case FluidDecodeErrorKind::Empty:
      return "a fluid payload needs at least a tag byte";
    case FluidDecodeErrorKind::UnknownTag:
      return fmt::format("unknown fluid encoding {}", tag);
    case FluidDecodeErrorKind::Truncated:
      return "a fluid payload ended in the middle of a run";
    case FluidDecodeErrorKind::EmptyRun:
      return "a fluid run covers no blocks";
    case FluidDecodeErrorKind::WrongLength:
      return fmt::format("fluid runs cover {} blocks; a chunk has {}", covered, expected);
    case FluidDecodeErrorKind::NotAState:
      return fmt::format("fluid word {} is not a state a block can be in", value);
  }
  return "unknown fluid decode error";
}

std::string FluidDecodeError::debug() const {
  switch (kind) {
    case FluidDecodeErrorKind::Empty:
      return "Empty";
    case FluidDecodeErrorKind::UnknownTag:
      return fmt::format("UnknownTag {{ tag: {} }}", tag);
    case FluidDecodeErrorKind::Truncated:
      return "Truncated";
    case FluidDecodeErrorKind::EmptyRun:
      return "EmptyRun";
    case FluidDecodeErrorKind::WrongLength:
      return fmt::format("WrongLength {{ covered: {}, expected: {} }}", covered, expected);
    case FluidDecodeErrorKind::NotAState:
      return fmt::format("NotAState {{ value: {} }}", value);
  }
  return "Unknown";
}

std::vector<std::uint8_t> encode(const FluidLayer& layer) {
  const auto states = layer.states();
  if (states.empty()) return {kTagEmpty};
  return layer_runs::encode(kTagRuns, states, [](Fluid f) { return f.bits; });
}

std::expected<FluidLayer, FluidDecodeError> decode(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return std::unexpected(FluidDecodeError{FluidDecodeErrorKind::Empty});
  switch (bytes[0]) {
    case kTagEmpty:
      if (bytes.size() != 1) return std::unexpected(wrong_length(kBlocks + (bytes.size() - 1)));
      return FluidLayer();
    case kTagRuns:
      return decode_runs(bytes.subspan(1));
    default:
      return std::unexpected(FluidDecodeError{.kind = FluidDecodeErrorKind::UnknownTag, .tag = bytes[0]});
  }
}

}  // namespace ostrel_core::fluid::codec
