#pragma once
// Player identity: the permanent player id derived from a root key, public keys as accepted
// from clients and storage, the login proof and the allowlist. Pure computation over bytes.
//
// Every hash and every signed message begins with an ASCII context, no length, no terminator:
//   "ostrel:player-uuid:v1"     21  player id of a root key
//   "ostrel:key-commitment:v1"  24  commitment to a successor key
//   "ostrel:add-key:v1"         17  signed request to add a key
//   "ostrel:rotate-key:v1"      20  signed request to rotate a key
//   "ostrel:auth-challenge:v1"  24  signed login answer
//
// Login answer (92 bytes with a 32-byte fingerprint):
//   OFFSET  SIZE  DESCRIPTION
//      0     24   "ostrel:auth-challenge:v1"
//     24     32   challenge
//     56     32   server certificate fingerprint
//     88      4   protocol version, little-endian (90 -> 5a 00 00 00)

#include <array>
#include <compare>
#include <cstdint>
#include <expected>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include <fmt/format.h>

#include "base/error.hpp"

namespace ostrel_core::identity {

inline constexpr std::string_view kUuidContext = "ostrel:player-uuid:v1";
inline constexpr std::string_view kCommitmentContext = "ostrel:key-commitment:v1";
inline constexpr std::string_view kAddKeyContext = "ostrel:add-key:v1";
inline constexpr std::string_view kRotateKeyContext = "ostrel:rotate-key:v1";
inline constexpr std::string_view kChallengeContext = "ostrel:auth-challenge:v1";

inline constexpr std::size_t kKeyBytes = 32;
inline constexpr std::size_t kSignatureBytes = 64;
inline constexpr std::size_t kChallengeBytes = 32;

using KeyBytes = std::array<std::uint8_t, kKeyBytes>;
using Digest32 = std::array<std::uint8_t, 32>;
using SignatureBytes = std::array<std::uint8_t, kSignatureBytes>;

enum class IdentityErrorKind : std::uint8_t {
  BadUuid,             // a player id text that is not 64 hexadecimal characters
  MalformedPublicKey,  // not 32 bytes, not a usable curve point
  VerificationFailed,  // a login answer whose signature does not verify
};

class IdentityError {
 public:
  static IdentityError bad_uuid(std::string text) { return {IdentityErrorKind::BadUuid, std::move(text)}; }
  static IdentityError malformed_public_key() { return {IdentityErrorKind::MalformedPublicKey, {}}; }
  static IdentityError verification_failed() { return {IdentityErrorKind::VerificationFailed, {}}; }

  IdentityErrorKind kind() const { return kind_; }
  // The text given to from_hex (BadUuid only).
  const std::string& text() const { return text_; }
  std::string message() const;
  const ErrorSource* source() const { return nullptr; }

 private:
  IdentityError(IdentityErrorKind kind, std::string text) : kind_(kind), text_(std::move(text)) {}
  IdentityErrorKind kind_;
  std::string text_;
};

// The permanent player id: BLAKE3(kUuidContext || root key bytes). Orders by its bytes,
// byte 0 most significant.
struct PlayerUuid {
  std::array<std::uint8_t, 32> bytes{};

  // 64 lowercase hexadecimal characters, byte 0 first; the display form.
  std::string to_hex() const;
  // The first 12 characters of to_hex(): for people reading logs and console output.
  std::string short_form() const;
  // Exactly 64 bytes of hexadecimal digits, either case; anything else is BadUuid with a copy
  // of the text.
  [[nodiscard]] static std::expected<PlayerUuid, IdentityError> from_hex(std::string_view text);

  // Record encoding: the 32 bytes, no count (ab.. -> ab ..; always 32 bytes).
  static constexpr auto fields() { return std::tuple{&PlayerUuid::bytes}; }

  friend auto operator<=>(const PlayerUuid&, const PlayerUuid&) = default;
  friend bool operator==(const PlayerUuid&, const PlayerUuid&) = default;
};

// The player id of a root key.
PlayerUuid uuid_of_root(std::span<const std::uint8_t, kKeyBytes> root);

// BLAKE3(kCommitmentContext || key bytes): the commitment to a successor key.
Digest32 commitment_of(std::span<const std::uint8_t, kKeyBytes> key);

// An Ed25519 public key that passed acceptance: 32 canonical bytes of a point in the prime-order
// subgroup, not the identity. Only public_key_from_bytes makes one. The bytes are its identity
// everywhere (maps, hashed and signed messages, stored rows).
class PublicKey {
 public:
  const KeyBytes& bytes() const { return bytes_; }
  friend auto operator<=>(const PublicKey&, const PublicKey&) = default;
  friend bool operator==(const PublicKey&, const PublicKey&) = default;

 private:
  friend std::expected<PublicKey, IdentityError> public_key_from_bytes(std::span<const std::uint8_t>);
  explicit PublicKey(const KeyBytes& b) : bytes_(b) {}
  KeyBytes bytes_;
};

// Refuses with MalformedPublicKey a length other than 32 and every encoding that is not a
// canonical point of the prime-order subgroup: non-canonical coordinates, points off the curve,
// points of small order (the identity included) and points with a torsion component.
[[nodiscard]] std::expected<PublicKey, IdentityError> public_key_from_bytes(std::span<const std::uint8_t> bytes);

// Strict Ed25519 verification, cofactorless: S must be reduced, R and the key must not be of
// small order and must be canonical. `key` need not have passed acceptance.
bool verify_strict(std::span<const std::uint8_t, kKeyBytes> key, std::span<const std::uint8_t> message,
                   std::span<const std::uint8_t, kSignatureBytes> signature);

// The bytes a client signs to answer a login challenge (92 with a 32-byte fingerprint).
std::vector<std::uint8_t> challenge_message(std::span<const std::uint8_t, kChallengeBytes> challenge,
                                            std::span<const std::uint8_t> fingerprint, std::uint32_t version);

[[nodiscard]] std::expected<void, IdentityError> verify_challenge(
    const PublicKey& key, std::span<const std::uint8_t, kChallengeBytes> challenge,
    std::span<const std::uint8_t> fingerprint, std::uint32_t version,
    std::span<const std::uint8_t, kSignatureBytes> signature);

// 32 bytes from the operating system's secure random source, or nothing when it is unavailable.
std::optional<std::array<std::uint8_t, kChallengeBytes>> random_challenge();

// Which identity a key is an active key of.
class KeyLookup {
 public:
  virtual ~KeyLookup() = default;
  virtual std::optional<PlayerUuid> identity_of(const PublicKey& key) const = 0;
};

struct Verified {
  bool is_new = false;  // the key is unknown: the id is that of an identity rooted at it
  PlayerUuid uuid;
};

// Turns a verified login answer into a player id.
class AuthProvider {
 public:
  virtual ~AuthProvider() = default;
  [[nodiscard]] virtual std::expected<Verified, IdentityError> verify(
      const KeyLookup& lookup, const PublicKey& key, std::span<const std::uint8_t, kChallengeBytes> challenge,
      std::span<const std::uint8_t> fingerprint, std::uint32_t version,
      std::span<const std::uint8_t, kSignatureBytes> signature) const = 0;
};

// A player is whoever holds the key: a known active key gives its identity, any other key is
// taken as the root of an identity that may not exist yet.
class SelfSovereign final : public AuthProvider {
 public:
  std::expected<Verified, IdentityError> verify(const KeyLookup& lookup, const PublicKey& key,
                                                std::span<const std::uint8_t, kChallengeBytes> challenge,
                                                std::span<const std::uint8_t> fingerprint, std::uint32_t version,
                                                std::span<const std::uint8_t, kSignatureBytes> signature)
      const override;
};

struct Allowlist {
  std::set<PlayerUuid> permitted;
  bool enforced = false;  // false: everybody may log in

  bool allows(const PlayerUuid& uuid) const { return !enforced || permitted.contains(uuid); }
  void revoke(const PlayerUuid& uuid) { permitted.erase(uuid); }
};

}  // namespace ostrel_core::identity

// The display form of a player id is its 64-character text.
template <>
struct fmt::formatter<ostrel_core::identity::PlayerUuid> : fmt::formatter<std::string_view> {
  template <class Ctx>
  auto format(const ostrel_core::identity::PlayerUuid& id, Ctx& ctx) const {
    return fmt::formatter<std::string_view>::format(id.to_hex(), ctx);
  }
};
