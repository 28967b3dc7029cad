#include "persist/records/playerdata.hpp"

#include "proto/codec.hpp"

namespace ostrel_core::persist::playerdata {

namespace {

using inventory::Stack;
using inventory::slots::Slots;
using inventory::slots::View;
using stored_stack::StoredStack;
using Frame = StoredSlotsOf<StoredStack>;

// One frame of `T`'s layout; spare bytes after it are ignored.
template <class T>
std::expected<T, SourcePtr> read_frame(std::span<const std::uint8_t> bytes) {
  auto frame = proto::decode_leading<T>(bytes);
  if (!frame) return std::unexpected(SourcePtr{});
  return std::move(*frame);
}

std::expected<Frame, SourcePtr> read_v1(std::span<const std::uint8_t> bytes) {
  auto v1 = read_frame<StoredSlotsOf<stored_stack::PlayerStackV1>>(bytes);
  if (!v1) return std::unexpected(v1.error());
  return v1->upgraded().upgraded();
}

std::expected<Frame, SourcePtr> read_v2(std::span<const std::uint8_t> bytes) {
  auto v2 = read_frame<StoredSlotsOf<stored_stack::StoredStackV2>>(bytes);
  if (!v2) return std::unexpected(v2.error());
  return v2->upgraded();
}

constexpr versioned::Rung<Frame> kRungs[] = {{1, read_v1}, {2, read_v2}, {kPlayerVersion, read_frame<Frame>}};
constexpr versioned::Ladder<Frame> kLadder{versioned::Record::Player, kPlayerVersion, kRungs};

std::optional<Stack> thaw_counted(const std::optional<StoredStack>& stored, const idmap::MaterialMap& map,
                                  std::size_t& dropped) {
  if (!stored) return std::nullopt;
  auto stack = stored_stack::thaw(*stored, map);
  if (!stack) ++dropped;
  return stack;
}

// Overwrites `view` with the stored slots, position by position.
void restore_into(View& view, bool grows, std::vector<std::optional<Stack>> stored, std::size_t& dropped) {
  if (grows && view.slots.size() < stored.size()) view.slots.resize(stored.size());
  for (std::size_t i = 0; i < stored.size(); ++i) {
    if (i < view.slots.size()) {
      view.slots[i] = std::move(stored[i]);
    } else if (stored[i]) {
      ++dropped;
    }
  }
}

}  // namespace

Encoded encode(const Slots& slots, const idmap::MaterialMap& map) {
  Encoded out;
  Frame frame;
  frame.views.reserve(slots.views().size());
  for (const auto& [name, view] : slots.views()) {
    frame.views.push_back({name, stored_stack::freeze_slots(view.slots, map, out.dropped)});
  }
  if (slots.held()) {
    frame.held = stored_stack::freeze(*slots.held(), map);
    if (!frame.held) ++out.dropped;
  }
  out.bytes = proto::encode(frame);
  return out;
}

std::expected<Decoded, DecodeError> decode(std::uint8_t version, std::span<const std::uint8_t> bytes,
                                           const Slots& template_slots, const idmap::MaterialMap& map) {
  auto frame = versioned::climb(kLadder, version, bytes);
  if (!frame) return std::unexpected(frame.error());
  Decoded out{template_slots, 0};
  for (auto& stored : frame->views) {
    std::vector<std::optional<Stack>> slots;
    slots.reserve(stored.slots.size());
    for (const auto& s : stored.slots) slots.push_back(thaw_counted(s, map, out.dropped));
    if (View* view = out.slots.find(stored.name)) {
      restore_into(*view, stored.name == inventory::slots::kMainView, std::move(slots), out.dropped);
    } else {
      out.slots.open_view(std::move(stored.name), View{std::move(slots)});
    }
  }
  out.slots.held() = thaw_counted(frame->held, map, out.dropped);
  return out;
}

}  // namespace ostrel_core::persist::playerdata
