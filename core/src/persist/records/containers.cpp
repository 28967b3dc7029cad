#include "persist/records/containers.hpp"

#include <fmt/format.h>

#include "proto/codec.hpp"

namespace ostrel_core::persist::containers {

namespace {

using stored_stack::StoredStack;

template <class T>
std::expected<T, ContainerError> read(std::uint8_t version, std::span<const std::uint8_t> bytes) {
  auto record = stored_stack::read_leading<T>(bytes);
  if (!record) return std::unexpected(ContainerError{ContainerErrorKind::Decode, version});
  return std::move(*record);
}

std::expected<std::vector<std::optional<StoredStack>>, ContainerError> read_slots(
    std::uint8_t version, std::span<const std::uint8_t> bytes) {
  switch (version) {
    case 1: {
      auto v1 = read<StoredContainerOf<stored_stack::ContainerStackV1>>(version, bytes);
      if (!v1) return std::unexpected(v1.error());
      return stored_stack::upgraded_slots(v1->slots);
    }
    case kContainerVersion: {
      auto v2 = read<StoredContainerOf<StoredStack>>(version, bytes);
      if (!v2) return std::unexpected(v2.error());
      return std::move(v2->slots);
    }
    default:
      return std::unexpected(ContainerError{ContainerErrorKind::Version, version});
  }
}

}  // namespace

std::string ContainerError::message() const {
  if (kind == ContainerErrorKind::Version) {
    return fmt::format("container data is version {}; this build writes {}", version, kContainerVersion);
  }
  return fmt::format("container data version {} did not decode", version);
}

Encoded encode(const inventory::slots::View& view, const idmap::MaterialMap& map) {
  Encoded out;
  StoredContainerOf<StoredStack> record{stored_stack::freeze_slots(view.slots, map, out.dropped)};
  out.bytes = proto::encode(record);
  return out;
}

std::expected<Decoded, ContainerError> decode(std::uint8_t version, std::span<const std::uint8_t> bytes,
                                              std::string_view name, std::size_t slot_count,
                                              const idmap::MaterialMap& map) {
  auto slots = read_slots(version, bytes);
  if (!slots) return std::unexpected(slots.error());
  Decoded out{std::string(name),
              inventory::slots::View{std::vector<std::optional<inventory::Stack>>(slot_count)}, 0};
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
