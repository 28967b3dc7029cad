#include "identity/identity.hpp"

#include <sodium.h>

#include <algorithm>

#include <fmt/format.h>

#include "base/blake3.hpp"
#include "base/text.hpp"

namespace ostrel_core::identity {

namespace {

// libsodium must be initialised once before its random source is used; the answer is kept.
bool sodium_ready() {
  static const bool ready = sodium_init() >= 0;
  return ready;
}

Digest32 context_hash(std::string_view context, std::span<const std::uint8_t, kKeyBytes> key) {
  blake3::Hasher h;
  h.update(context);
  h.update(key);
  return h.finalize();
}

}  // namespace

std::string IdentityError::message() const {
  switch (kind_) {
    case IdentityErrorKind::BadUuid:
      return fmt::format("`{}` is not a valid player UUID (expected 64 hex characters)", text_);
    case IdentityErrorKind::MalformedPublicKey:
      return "malformed public key";
    case IdentityErrorKind::VerificationFailed:
      return "signature verification failed";
  }
  return "signature verification failed";
}

std::string PlayerUuid::to_hex() const { return text::hex_bytes(bytes); }

std::string PlayerUuid::short_form() const { return to_hex().substr(0, 12); }

std::expected<PlayerUuid, IdentityError> PlayerUuid::from_hex(std::string_view text) {
  const auto bytes = text::bytes_from_hex(text);
  if (!bytes) return std::unexpected(IdentityError::bad_uuid(std::string(text)));
  return PlayerUuid{*bytes};
}

PlayerUuid uuid_of_root(std::span<const std::uint8_t, kKeyBytes> root) {
  return PlayerUuid{context_hash(kUuidContext, root)};
}

Digest32 commitment_of(std::span<const std::uint8_t, kKeyBytes> key) {
  return context_hash(kCommitmentContext, key);
}

std::expected<PublicKey, IdentityError> public_key_from_bytes(std::span<const std::uint8_t> bytes) {
  if (bytes.size() != kKeyBytes || !sodium_ready()) return std::unexpected(IdentityError::malformed_public_key());
  // Canonical, on the curve, not of small order and in the prime-order subgroup.
  if (crypto_core_ed25519_is_valid_point(bytes.data()) != 1) {
    return std::unexpected(IdentityError::malformed_public_key());
  }
  KeyBytes b;
  std::copy(bytes.begin(), bytes.end(), b.begin());
  return PublicKey(b);
}

bool verify_strict(std::span<const std::uint8_t, kKeyBytes> key, std::span<const std::uint8_t> message,
                   std::span<const std::uint8_t, kSignatureBytes> signature) {
  // libsodium's verification refuses a non-reduced S, a small-order or non-canonical R or key,
  // and checks [S]B = R + [k]A without the cofactor.
  if (!sodium_ready()) return false;
  return crypto_sign_ed25519_verify_detached(signature.data(), message.data(), message.size(), key.data()) == 0;
}

std::vector<std::uint8_t> challenge_message(std::span<const std::uint8_t, kChallengeBytes> challenge,
                                            std::span<const std::uint8_t> fingerprint, std::uint32_t version) {
  std::vector<std::uint8_t> m(kChallengeContext.size() + challenge.size() + fingerprint.size() + 4);
  auto out = std::copy(kChallengeContext.begin(), kChallengeContext.end(), m.begin());
  out = std::copy(challenge.begin(), challenge.end(), out);
  out = std::copy(fingerprint.begin(), fingerprint.end(), out);
  for (int i = 0; i < 4; ++i) *out++ = static_cast<std::uint8_t>(version >> (8 * i));
  return m;
}

std::expected<void, IdentityError> verify_challenge(const PublicKey& key,
                                                    std::span<const std::uint8_t, kChallengeBytes> challenge,
                                                    std::span<const std::uint8_t> fingerprint, std::uint32_t version,
                                                    std::span<const std::uint8_t, kSignatureBytes> signature) {
  const auto m = challenge_message(challenge, fingerprint, version);
  if (!verify_strict(key.bytes(), m, signature)) return std::unexpected(IdentityError::verification_failed());
  return {};
}

std::optional<std::array<std::uint8_t, kChallengeBytes>> random_challenge() {
  if (!sodium_ready()) return std::nullopt;
  std::array<std::uint8_t, kChallengeBytes> out;
  randombytes_buf(out.data(), out.size());
  return out;
}

std::expected<Verified, IdentityError> SelfSovereign::verify(
    const KeyLookup& lookup, const PublicKey& key, std::span<const std::uint8_t, kChallengeBytes> challenge,
    std::span<const std::uint8_t> fingerprint, std::uint32_t version,
    std::span<const std::uint8_t, kSignatureBytes> signature) const {
  if (auto ok = verify_challenge(key, challenge, fingerprint, version, signature); !ok) {
    return std::unexpected(ok.error());
  }
  if (auto known = lookup.identity_of(key)) return Verified{false, *known};
  return Verified{true, uuid_of_root(key.bytes())};
}

}  // namespace ostrel_core::identity
