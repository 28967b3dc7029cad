#pragma once
// ClientMessage: everything a client may send, one message per frame. On the wire: the variant
// index as a varint, then the fields in declaration order. Variants without fields are their
// index byte alone (JoinWorld 03, Disconnect 09, CancelDig 0B).
//
// decode_client() is the one entry point for bytes from a client: size, emptiness, decoding and
// trailing bytes, in that order. validate_client_message() is the separate check of field limits
// that the session applies to every decoded message before acting on it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <variant>
#include <vector>

#include "proto/message_list.hpp"
#include "proto/protocol_error.hpp"
#include "proto/records/common.hpp"
#include "proto/records/dialog.hpp"
#include "proto/records/edit.hpp"

namespace ostrel_core::proto {

using PublicKey = std::array<std::uint8_t, 32>;  // Ed25519, compressed

namespace client {
struct Hello {
  std::uint32_t protocol = kProtocolVersion;
  PublicKey public_key{};
  std::string display_name;
  static constexpr auto fields() { return std::tuple{&Hello::protocol, &Hello::public_key, &Hello::display_name}; }
  friend bool operator==(const Hello&, const Hello&) = default;
};
struct AuthResponse {
  Signature signature;
  static constexpr auto fields() { return std::tuple{&AuthResponse::signature}; }
  friend bool operator==(const AuthResponse&, const AuthResponse&) = default;
};
struct ContentRequest {
  std::vector<Hash> hashes;
  static constexpr auto fields() { return std::tuple{&ContentRequest::hashes}; }
  friend bool operator==(const ContentRequest&, const ContentRequest&) = default;
};
struct JoinWorld {
  static constexpr auto fields() { return std::tuple{}; }
  friend bool operator==(const JoinWorld&, const JoinWorld&) = default;
};
// Button bits of PlayerInput.
inline constexpr std::uint32_t kButtonJump = 1u << 0;
inline constexpr std::uint32_t kButtonSprint = 1u << 1;
inline constexpr std::uint32_t kButtonSneak = 1u << 2;
inline constexpr std::uint32_t kButtonFly = 1u << 3;
struct PlayerInput {
  std::uint64_t sequence = 0;
  Vec3f walk{};                // x and z drive the body; y is unused
  float yaw = 0.0f;
  float pitch = 0.0f;
  std::uint32_t buttons = 0;   // kButton* bits
  static constexpr auto fields() {
    return std::tuple{&PlayerInput::sequence, &PlayerInput::walk, &PlayerInput::yaw, &PlayerInput::pitch,
                      &PlayerInput::buttons};
  }
  friend bool operator==(const PlayerInput&, const PlayerInput&) = default;
};
struct BlockDelta {  // retired: the session refuses it in the world
  Edit edit;
  static constexpr auto fields() { return std::tuple{&BlockDelta::edit}; }
  friend bool operator==(const BlockDelta&, const BlockDelta&) = default;
};
struct Chat {
  std::string text;
  static constexpr auto fields() { return std::tuple{&Chat::text}; }
  friend bool operator==(const Chat&, const Chat&) = default;
};
struct AddKey {
  PublicKey key{};
  std::optional<Hash> next;    // commitment to the key's successor
  Signature signature;
  PublicKey signer{};          // an already authorised key
  static constexpr auto fields() { return std::tuple{&AddKey::key, &AddKey::next, &AddKey::signature, &AddKey::signer}; }
  friend bool operator==(const AddKey&, const AddKey&) = default;
};
struct RotateKey {
  PublicKey key{};
  std::optional<Hash> next;
  Signature signature;
  static constexpr auto fields() { return std::tuple{&RotateKey::key, &RotateKey::next, &RotateKey::signature}; }
  friend bool operator==(const RotateKey&, const RotateKey&) = default;
};
struct Disconnect {
  static constexpr auto fields() { return std::tuple{}; }
  friend bool operator==(const Disconnect&, const Disconnect&) = default;
};
struct StartDig {
  SubNodePos target;
  static constexpr auto fields() { return std::tuple{&StartDig::target}; }
  friend bool operator==(const StartDig&, const StartDig&) = default;
};
struct CancelDig {
  static constexpr auto fields() { return std::tuple{}; }
  friend bool operator==(const CancelDig&, const CancelDig&) = default;
};
struct SelectTool {
  std::optional<std::string> tool;  // absent selects none
  static constexpr auto fields() { return std::tuple{&SelectTool::tool}; }
  friend bool operator==(const SelectTool&, const SelectTool&) = default;
};
struct Place {
  SubNodePos target;
  std::uint16_t material = 0;           // world id
  std::uint32_t occupancy = 0;          // 27-bit cell mask
  std::array<std::uint8_t, 3> orient{}; // orientation flags
  std::optional<std::string> detail;
  std::vector<std::uint16_t> cells;     // empty or 27 world ids
  static constexpr auto fields() {
    return std::tuple{&Place::target, &Place::material, &Place::occupancy, &Place::orient, &Place::detail,
                      &Place::cells};
  }
  friend bool operator==(const Place&, const Place&) = default;
};
struct ViewDistance {
  std::uint8_t horizontal = 0;
  std::uint8_t vertical = 0;
  static constexpr auto fields() { return std::tuple{&ViewDistance::horizontal, &ViewDistance::vertical}; }
  friend bool operator==(const ViewDistance&, const ViewDistance&) = default;
};
struct Punch {
  std::uint64_t entity = 0;
  static constexpr auto fields() { return std::tuple{&Punch::entity}; }
  friend bool operator==(const Punch&, const Punch&) = default;
};
struct Action {
  std::string id;
  bool pressed = false;
  static constexpr auto fields() { return std::tuple{&Action::id, &Action::pressed}; }
  friend bool operator==(const Action&, const Action&) = default;
};
struct DialogEvent {
  std::string form;
  proto::DialogEvent event;
  static constexpr auto fields() { return std::tuple{&DialogEvent::form, &DialogEvent::event}; }
  friend bool operator==(const DialogEvent&, const DialogEvent&) = default;
};
struct SwapOffhand {
  std::uint16_t slot = 0;
  static constexpr auto fields() { return std::tuple{&SwapOffhand::slot}; }
  friend bool operator==(const SwapOffhand&, const SwapOffhand&) = default;
};
struct SelectSlot {
  std::uint16_t slot = 0;
  static constexpr auto fields() { return std::tuple{&SelectSlot::slot}; }
  friend bool operator==(const SelectSlot&, const SelectSlot&) = default;
};
struct SetSetting {
  std::string id;
  std::uint32_t value = 0;
  static constexpr auto fields() { return std::tuple{&SetSetting::id, &SetSetting::value}; }
  friend bool operator==(const SetSetting&, const SetSetting&) = default;
};
struct Use {
  std::optional<SubNodePos> target;
  static constexpr auto fields() { return std::tuple{&Use::target}; }
  friend bool operator==(const Use&, const Use&) = default;
};
}  // namespace client

// The client messages, one X(index, name) each, in wire-index order: the one list that the
// variant and the names are made from.
#define OSTREL_CLIENT_MESSAGES(X) \
  X(0, Hello) X(1, AuthResponse) X(2, ContentRequest) X(3, JoinWorld)   \
  X(4, PlayerInput) X(5, BlockDelta) X(6, Chat) X(7, AddKey)            \
  X(8, RotateKey) X(9, Disconnect) X(10, StartDig) X(11, CancelDig)     \
  X(12, SelectTool) X(13, Place) X(14, ViewDistance) X(15, Punch)       \
  X(16, Action) X(17, DialogEvent) X(18, SwapOffhand) X(19, SelectSlot) \
  X(20, SetSetting) X(21, Use)

inline constexpr std::size_t kClientMessages = 0 OSTREL_CLIENT_MESSAGES(OSTREL_PROTO_COUNT);
static_assert(kClientMessages == 22);

struct ClientList;  // names the client message list
#define OSTREL_PROTO_AT(N, T) OSTREL_PROTO_MESSAGE_AT(ClientList, client, N, T)
OSTREL_CLIENT_MESSAGES(OSTREL_PROTO_AT)
#undef OSTREL_PROTO_AT

// Variant order is the wire index: Hello is 0, Use is 21.
using ClientMessage = MessageVariant<ClientList, kClientMessages>;

// The variant's name as the program shows it ("Hello", "JoinWorld", ...).
std::string_view client_message_name(const ClientMessage& m);

// Decodes one client message: over kMaxMessageBytes is TooLarge, an empty slice Empty, a decoding
// failure Malformed, spare bytes TrailingBytes (the message is dropped).
[[nodiscard]] std::expected<ClientMessage, ProtocolError> decode_client(std::span<const std::uint8_t> bytes);

// The field limits; success, or the first failing check. Changes nothing.
[[nodiscard]] std::expected<void, ProtocolError> validate_client_message(const ClientMessage& m);

// The dialog part of validate_client_message: form, then the event's own fields.
[[nodiscard]] std::expected<void, ProtocolError> check_dialog_event(const client::DialogEvent& e);

// decode_client, then validate_client_message.
[[nodiscard]] std::expected<ClientMessage, ProtocolError> decode_and_validate_client(
    std::span<const std::uint8_t> bytes);

// The one instance of the variant's decoder, in client.cpp: a frame reader that decodes client
// messages links to it instead of making its own.
extern template std::expected<ClientMessage, ProtocolError> decode_message<ClientMessage>(
    std::span<const std::uint8_t> bytes);

}  // namespace ostrel_core::proto
