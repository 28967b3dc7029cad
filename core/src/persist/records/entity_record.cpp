#include "persist/records/entity_record.hpp"

#include <fmt/format.h>

#include <optional>

#include "persist/records/stored_stack.hpp"
#include "proto/codec.hpp"

namespace ostrel_core::persist::entity_record {

namespace {

namespace component = ent::component;
using component::Health;
using component::Nametag;
using component::Owner;
using component::Transform;

// The item of a version-4 record.
struct ItemV4 {
  std::uint16_t material = 0;
  std::uint32_t count = 0;
  std::optional<std::uint32_t> occupancy;
  std::optional<std::array<std::uint16_t, 27>> cells;
  std::optional<std::string> text;
  static constexpr auto fields() {
    return std::tuple{&ItemV4::material, &ItemV4::count, &ItemV4::occupancy, &ItemV4::cells, &ItemV4::text};
  }
};

// The item of a version-2 or -3 record has the layout of the player record's version-2 stack.
using ItemV2 = stored_stack::StoredStackV2;

template <class Item>
struct RecordOf {
  Transform transform;
  std::array<float, 3> velocity{};
  float speed = 1.0f;
  std::optional<phys::Shape> collider;
  std::optional<std::string> model;
  std::optional<Item> item;
  std::optional<Health> health;
  std::optional<Nametag> nametag;
  std::optional<Owner> owner;
  std::string source;
  std::optional<std::vector<std::uint8_t>> opaque;
  static constexpr auto fields() {
    return std::tuple{&RecordOf::transform, &RecordOf::velocity, &RecordOf::speed,  &RecordOf::collider,
                      &RecordOf::model,     &RecordOf::item,     &RecordOf::health, &RecordOf::nametag,
                      &RecordOf::owner,     &RecordOf::source,   &RecordOf::opaque};
  }
};
using RecordV4 = RecordOf<ItemV4>;
using RecordV2 = RecordOf<ItemV2>;

struct RecordV1 {
  Transform transform;
  std::array<float, 3> velocity{};
  std::optional<phys::Shape> collider;
  std::optional<std::string> model;
  std::optional<Health> health;
  std::optional<Nametag> nametag;
  std::optional<Owner> owner;
  std::string source;
  std::optional<std::vector<std::uint8_t>> opaque;
  static constexpr auto fields() {
    return std::tuple{&RecordV1::transform, &RecordV1::velocity, &RecordV1::collider,
                      &RecordV1::model,     &RecordV1::health,   &RecordV1::nametag,
                      &RecordV1::owner,     &RecordV1::source,   &RecordV1::opaque};
  }
};

inventory::Stack stack_of(const ItemV4& item) {
  inventory::Stack s;
  s.material = item.material;
  s.units = item.count;
  s.shape = item.occupancy;
  s.detail = item.text;
  if (item.cells) {
    s.cells.emplace();
    std::copy(item.cells->begin(), item.cells->end(), s.cells->begin());
  }
  return s;
}

ItemV4 item_of(const inventory::Stack& s) {
  ItemV4 item{s.material, s.units, s.shape, std::nullopt, s.detail};
  if (s.cells) {
    item.cells.emplace();
    std::copy(s.cells->begin(), s.cells->end(), item.cells->begin());
  }
  return item;
}

template <class Record>
ent::Entity entity_of(Record&& r) {
  ent::Entity e;
  e.transform = r.transform;
  e.velocity = r.velocity;
  e.collider = r.collider;
  e.model = std::move(r.model);
  e.health = r.health;
  e.nametag = std::move(r.nametag);
  e.owner = r.owner;
  e.source = std::move(r.source);
  e.opaque = std::move(r.opaque);
  return e;
}

template <class Record>
std::expected<Record, proto::ProtocolError> read(std::span<const std::uint8_t> bytes) {
  return proto::decode_leading<Record>(bytes);
}

SourcePtr reason(const proto::ProtocolError& e) { return make_source(TextError(describe(e))); }

std::expected<ent::Entity, SourcePtr> read_v1(std::span<const std::uint8_t> bytes) {
  auto r = read<RecordV1>(bytes);
  if (!r) return std::unexpected(reason(r.error()));
  ent::Entity e = entity_of(*r);
  e.speed = 1.0f;
  return e;
}

// Versions 2 and 3 share a layout.
std::expected<ent::Entity, SourcePtr> read_v2(std::span<const std::uint8_t> bytes) {
  auto r = read<RecordV2>(bytes);
  if (!r) return std::unexpected(reason(r.error()));
  ent::Entity e = entity_of(*r);
  e.speed = r->speed;
  if (r->item) {
    const ItemV2& i = *r->item;
    e.item = stack_of(ItemV4{i.material, i.count, i.occupancy, std::nullopt, i.text});
  }
  return e;
}

constexpr versioned::Rung<ent::Entity> kRungs[] = {{1, read_v1}, {2, read_v2}, {3, read_v2}};
constexpr versioned::Ladder<ent::Entity> kLadder{versioned::Record::Entity, kEntityVersion, kRungs};

}  // namespace

std::vector<std::uint8_t> encode(const ent::Entity& e) {
  RecordV4 r{e.transform, e.velocity, e.speed, e.collider, e.model, std::nullopt,
             e.health,    e.nametag,  e.owner, e.source,   e.opaque};
  if (e.item) r.item = item_of(*e.item);
  return proto::encode(r);
}

std::expected<ent::Entity, proto::ProtocolError> decode(std::span<const std::uint8_t> bytes) {
  auto r = read<RecordV4>(bytes);
  if (!r) return std::unexpected(r.error());
  ent::Entity e = entity_of(*r);
  e.speed = r->speed;
  if (r->item) e.item = stack_of(*r->item);
  return e;
}

std::expected<ent::Entity, MigrationError> migrate_entity(std::uint8_t version,
                                                          std::span<const std::uint8_t> bytes) {
  return versioned::climb(kLadder, version, bytes);
}

std::string describe(const proto::ProtocolError& e) {
  if (e.kind() != proto::ProtocolErrorKind::Malformed) return e.message();
  switch (e.decode_code()) {
    case proto::DecodeCode::Truncated:
      return "the record ends inside a field";
    case proto::DecodeCode::VarintOverflow:
      return "a number is out of range for its field";
    case proto::DecodeCode::BadBool:
      return "a flag byte is not 0 or 1";
    case proto::DecodeCode::BadOption:
      return "an option byte is not 0 or 1";
    case proto::DecodeCode::BadVariant:
      return "a name tag variant is not 0 or 1";
    case proto::DecodeCode::BadUtf8:
      return "a text is not UTF-8";
    case proto::DecodeCode::BadSignatureLength:
      return "a signature is not 64 bytes";
    case proto::DecodeCode::CountTooLarge:
      return "a count is larger than the bytes that follow";
  }
  return "the record does not decode";
}

}  // namespace ostrel_core::persist::entity_record
