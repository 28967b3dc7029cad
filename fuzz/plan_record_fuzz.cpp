// Feeds arbitrary bytes to the plan record as the world's plan reader takes it after the zstd
// frame: a plan that decodes and passes the damage check must unpack every entry inside its
// extents, tally, and encode and decode again to the same value.

#include <cstdint>
#include <cstdlib>

#include "building/plan.hpp"
#include "proto/codec.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using ostrel_core::plan::Plan;
  ostrel_core::proto::Reader reader(std::span<const std::uint8_t>(data, size));
  Plan plan;
  ostrel_core::proto::read_value(reader, plan);
  if (!reader.ok() || plan.damage()) return 0;
  for (std::size_t i = 0; i < plan.cells.size(); ++i) {
    const auto c = plan.unpacked(i);
    if (c.x >= plan.w || c.y >= plan.h || c.z >= plan.d) std::abort();
  }
  (void)plan.tally();
  const auto bytes = ostrel_core::proto::encode(plan);
  ostrel_core::proto::Reader again(bytes);
  Plan back;
  ostrel_core::proto::read_value(again, back);
  if (!again.ok() || !(back == plan)) std::abort();
  return 0;
}
