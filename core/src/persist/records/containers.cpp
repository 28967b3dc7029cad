#include "persist/records/containers.hpp"

#include "proto/codec.hpp"

namespace ostrel_core::persist::containers {

namespace {

using stored_stack::StoredStack;

using Slots = std::vector<std::optional<StoredStack>>;

std::expected<Slots, SourcePtr> read_v1(std::span<const std::uint8_t> bytes) {
  auto v1 = proto::decode_leading<StoredContainerOf<stored_stack::ContainerStackV1>>(bytes);
  if (!v1) return std::unexpected(SourcePtr{});
  return stored_stack::upgraded_slots(v1->slots);
}

std::expected<Slots, SourcePtr> read_v2(std::span<const std::uint8_t> bytes) {
  auto v2 = proto::decode_leading<StoredContainerOf<StoredStack>>(bytes);
  if (!v2) return std::unexpected(SourcePtr{});
  return std::move(v2->slots);
}

constexpr versioned::Rung<Slots> kRungs[] = {{1, read_v1}, {kContainerVersion, read_v2}};
constexpr versioned::Ladder<Slots> kLadder{versioned::Record::Container, kContainerVersion, kRungs};

}  // namespace

Encoded encode(const inventory::slots::View& view, const idmap::MaterialMap& map) {
  Encoded out;
  StoredContainerOf<StoredStack> record{stored_stack::freeze_slots(view.slots, map, out.dropped)};
  out.bytes = proto::encode(record);
  return out;
}

std::expected<Decoded, ContainerError> decode(std::uint8_t version, std::span<const std::uint8_t> bytes,
                                              std::string_view name, std::size_t slot_count,
                                              const idmap::MaterialMap& map) {
  auto slots = versioned::climb(kLadder, version, bytes);
  if (!slots) return std::unexpected(slots.error());
  Decoded out{std::string(name),
              inventory::slots::View{std::vector<std::optional<inventory::Stack>>(slot_count)}, 0,
              slots->size()};
  for (std::size_t k = 0; k < slots->size(); ++k) {
    const auto& stored = (*slots)[k];
    if (!stored) continue;
    auto stack = stored_stack::thaw(*stored, map);
    if (!stack || k >= slot_count) {
      ++out.dropped;
      continue;
    }
    out.view.slots[k] = std::move(stack);
  }
  return out;
}

}  // namespace ostrel_core::persist::containers
