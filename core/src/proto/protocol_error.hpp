#pragma once
// ProtocolError: the error of encoding, decoding or checking one message. Its text is what a
// refused client is told.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>

#include "base/error.hpp"

namespace ostrel_core::proto {

// The limit shared by encoders, decoders and the frame code.
inline constexpr std::size_t kMaxMessageBytes = 1'048'576;

enum class ProtocolErrorKind : std::uint8_t {
  TooLarge,       // an encoded message, or a slice to decode, is over kMaxMessageBytes
  Empty,          // a slice to decode holds no byte
  Malformed,      // the bytes are not a value of the expected type
  TrailingBytes,  // a message decoded with bytes left over
  Invalid,        // decoded, but a check refused it; the text says why
  FieldTooLong,   // a text or list field is over its own limit
  Encode,         // the encoder could not write the value
};

// Why a decode failed; never shown to the peer.
enum class DecodeCode : std::uint8_t {
  Truncated = 1,
  VarintOverflow,
  BadBool,
  BadOption,
  BadVariant,
  BadUtf8,
  BadSignatureLength,
  CountTooLarge,
};

class ProtocolError {
 public:
  static ProtocolError too_large(std::size_t bytes) { return {ProtocolErrorKind::TooLarge, bytes}; }
  static ProtocolError empty() { return {ProtocolErrorKind::Empty, 0}; }
  static ProtocolError malformed(DecodeCode code) {
    return {ProtocolErrorKind::Malformed, static_cast<std::size_t>(code)};
  }
  static ProtocolError trailing_bytes(std::size_t n) { return {ProtocolErrorKind::TrailingBytes, n}; }
  static ProtocolError invalid(std::string text) {
    ProtocolError e{ProtocolErrorKind::Invalid, 0};
    e.text_ = std::move(text);
    return e;
  }
  static ProtocolError field_too_long(std::string_view field, std::size_t found, std::size_t limit) {
    ProtocolError e{ProtocolErrorKind::FieldTooLong, found};
    e.text_ = std::string(field);
    e.limit_ = limit;
    return e;
  }
  static ProtocolError encode(std::uint8_t code = 0) { return {ProtocolErrorKind::Encode, code}; }

  ProtocolErrorKind kind() const { return kind_; }
  // The byte count of TooLarge, the spare bytes of TrailingBytes, the found size of FieldTooLong.
  std::size_t count() const { return count_; }
  DecodeCode decode_code() const { return static_cast<DecodeCode>(count_); }
  std::string message() const;
  const ErrorSource* source() const { return nullptr; }

  friend bool operator==(const ProtocolError&, const ProtocolError&) = default;

 private:
  ProtocolError(ProtocolErrorKind kind, std::size_t count) : kind_(kind), count_(count) {}
  ProtocolErrorKind kind_;
  std::size_t count_;
  std::size_t limit_ = 0;
  std::string text_;  // the Invalid text, or the FieldTooLong field name
};

// The one size check of encoded messages, for encoders, decoders and the frame writer alike:
// TooLarge over kMaxMessageBytes; exactly kMaxMessageBytes is accepted.
[[nodiscard]] inline std::expected<void, ProtocolError> check_message_size(std::size_t bytes) {
  if (bytes > kMaxMessageBytes) return std::unexpected(ProtocolError::too_large(bytes));
  return {};
}

// Decodes one whole message: over kMaxMessageBytes is TooLarge, no byte Empty, then Malformed or
// TrailingBytes. Defined in proto/codec.hpp; each message set's variant has its one instance
// beside its list (client.cpp, server_message.cpp), so a frame reader of those needs no codec.
template <class T>
std::expected<T, ProtocolError> decode_message(std::span<const std::uint8_t> bytes);

}  // namespace ostrel_core::proto
