#pragma once
// Frame: one server message, encoded once where it is made, ready for any number of streams.
// Broadcast: a frame for every connection in a domain (or in all of them), shared rather than
// copied by each connection task that forwards it.
//
// A frame holds the payload of a transport frame: the message's wire index as a varint (one
// byte, every index is below 128), then its fields. The transport adds the 4-byte length.
//   ChatLine{no sender, "hi"}  -> payload 09 00 02 68 69, index 9, name "ChatLine"
//
// Encoders never refuse: a payload over kMaxMessageBytes is held as it is, and check() (which
// the frame writer applies) refuses it, so nothing too large reaches a stream.

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "proto/protocol_error.hpp"
#include "world/coords.hpp"

namespace ostrel_core::proto {

class Frame {
 public:
  // REQUIRES: `payload` is one encoded server message (proto/server.hpp makes them).
  explicit Frame(std::vector<std::uint8_t> payload) : payload_(std::move(payload)) {
    assert(!payload_.empty() && payload_.front() < 0x80);
  }

  std::span<const std::uint8_t> payload() const { return payload_; }
  std::size_t size() const { return payload_.size(); }
  std::uint32_t index() const { return payload_.front(); }
  std::string_view name() const;  // "ChatLine"; "?" for an index past the message list

  // TooLarge when the payload is over kMaxMessageBytes; exactly kMaxMessageBytes is accepted.
  [[nodiscard]] std::expected<void, ProtocolError> check() const;

  friend bool operator==(const Frame&, const Frame&) = default;

 private:
  std::vector<std::uint8_t> payload_;
};

// One message for many connection tasks. The frame is encoded once and shared by every task
// that receives the broadcast; none of them changes it.
struct Broadcast {
  std::optional<std::string> domain;      // absent: every domain
  std::optional<coords::ChunkPos> chunk;  // the chunk the message is about, when it is about one
  std::shared_ptr<const Frame> frame;     // never null

  Broadcast(std::optional<std::string> domain, std::optional<coords::ChunkPos> chunk, Frame frame)
      : domain(std::move(domain)), chunk(chunk), frame(std::make_shared<const Frame>(std::move(frame))) {}

  // Whether a player in `player_domain` (none while the player has no domain yet) receives it.
  bool reaches(std::optional<std::string_view> player_domain) const {
    return !domain || (player_domain && *player_domain == *domain);
  }
};

}  // namespace ostrel_core::proto
