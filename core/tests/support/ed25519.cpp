#include "support/ed25519.hpp"

#include <sodium.h>

#include <cstdlib>

namespace ostrel_core::test {

TestKey TestKey::from_seed(std::uint8_t fill) {
  if (sodium_init() < 0) std::abort();
  std::array<std::uint8_t, 32> seed;
  seed.fill(fill);
  TestKey k;
  crypto_sign_seed_keypair(k.pk.data(), k.sk.data(), seed.data());
  return k;
}

identity::PublicKey TestKey::key() const {
  auto k = identity::public_key_from_bytes(pk);
  if (!k) std::abort();
  return *k;
}

std::array<std::uint8_t, 64> TestKey::sign(std::span<const std::uint8_t> message) const {
  std::array<std::uint8_t, 64> sig;
  crypto_sign_detached(sig.data(), nullptr, message.data(), message.size(), sk.data());
  return sig;
}

}  // namespace ostrel_core::test
