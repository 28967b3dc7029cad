// Feeds arbitrary bytes to the decoders of the stored player, container and entity records.
// The first byte picks the decoder (low two bits) and the version (the rest); the remaining
// bytes are the record. A record that decodes must encode and decode again to the same value,
// and every failure must have a message.

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>

#include "movement/ent.hpp"
#include "building/inventory/slots.hpp"
#include "persist/records/containers.hpp"
#include "persist/records/entity_record.hpp"
#include "persist/records/playerdata.hpp"

namespace {

using namespace ostrel_core;

void player(std::uint8_t version, std::span<const std::uint8_t> bytes) {
  const auto map = persist::idmap::MaterialMap::identity_map();
  const auto tmpl = inventory::slots::Slots::for_player_sized(std::nullopt, {});
  auto got = persist::playerdata::decode(version, bytes, tmpl, map);
  if (!got) {
    (void)got.error().message();
    return;
  }
  if (!got->slots.check_invariants()) std::abort();
  auto again = persist::playerdata::decode(3, persist::playerdata::encode(got->slots, map).bytes, tmpl, map);
  if (!again || !(again->slots == got->slots)) std::abort();
}

void container(std::uint8_t version, std::span<const std::uint8_t> bytes) {
  const auto map = persist::idmap::MaterialMap::identity_map();
  auto got = persist::containers::decode(version, bytes, "c", 16, map);
  if (!got) {
    (void)got.error().message();
    return;
  }
  auto again =
      persist::containers::decode(2, persist::containers::encode(got->view, map).bytes, "c", 16, map);
  if (!again || !(again->view == got->view)) std::abort();
}

std::optional<ent::Entity> entity_of(std::uint8_t version, std::span<const std::uint8_t> bytes) {
  if (version == persist::entity_record::kEntityVersion) {
    auto e = persist::entity_record::decode(bytes);
    if (e) return std::move(*e);
    (void)persist::entity_record::describe(e.error());
    return std::nullopt;
  }
  auto e = persist::entity_record::migrate_entity(version, bytes);
  if (e) return std::move(*e);
  (void)e.error().message();
  return std::nullopt;
}

void entity(std::uint8_t version, std::span<const std::uint8_t> bytes) {
  auto got = entity_of(version, bytes);
  if (!got) return;
  const auto bytes_out = persist::entity_record::encode(*got);
  auto again = persist::entity_record::decode(bytes_out);
  // Floats may be NaN, so compare the encodings rather than the values.
  if (!again || persist::entity_record::encode(*again) != bytes_out) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t version = data[0] >> 2;
  const std::span<const std::uint8_t> rest(data + 1, size - 1);
  switch (data[0] & 3) {
    case 0:
      player(version, rest);
      break;
    case 1:
      container(version, rest);
      break;
    default:
      entity(version, rest);
      break;
  }
  return 0;
}
