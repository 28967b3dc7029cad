#pragma once
// Ed25519 key pairs for tests, made from a repeated seed byte so that every run signs alike.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "identity/identity.hpp"

namespace ostrel_core::test {

struct TestKey {
  std::array<std::uint8_t, 32> pk{};
  std::array<std::uint8_t, 64> sk{};  // seed || pk

  // The key pair whose 32-byte seed is `fill` repeated.
  static TestKey from_seed(std::uint8_t fill);
  // REQUIRES: the public key passes acceptance (every seed does).
  identity::PublicKey key() const;
  std::array<std::uint8_t, 64> sign(std::span<const std::uint8_t> message) const;
};

}  // namespace ostrel_core::test
