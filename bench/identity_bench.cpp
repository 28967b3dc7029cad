// Cost of the identity checks a login pays: key acceptance, the strict signature check of the
// login answer, and a whole Hello + AuthResponse through the session for a returning player.
#include <sodium.h>

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstdlib>

#include <fmt/format.h>

#include "identity/identity.hpp"
#include "identity/keyset.hpp"
#include "proto/server_message.hpp"
#include "session/registry.hpp"
#include "session/session.hpp"

namespace {

using namespace ostrel_core;

struct Pair {
  std::array<std::uint8_t, 32> pk{};
  std::array<std::uint8_t, 64> sk{};
};

Pair make_pair(std::uint8_t fill) {
  if (sodium_init() < 0) std::abort();
  std::array<std::uint8_t, 32> seed;
  seed.fill(fill);
  Pair p;
  crypto_sign_seed_keypair(p.pk.data(), p.sk.data(), seed.data());
  return p;
}

std::array<std::uint8_t, 64> sign(const Pair& p, const std::vector<std::uint8_t>& m) {
  std::array<std::uint8_t, 64> sig;
  crypto_sign_detached(sig.data(), nullptr, m.data(), m.size(), p.sk.data());
  return sig;
}

void BM_PublicKeyAcceptance(benchmark::State& state) {
  const auto p = make_pair(1);
  for (auto _ : state) {
    auto k = identity::public_key_from_bytes(p.pk);
    benchmark::DoNotOptimize(k);
  }
}
BENCHMARK(BM_PublicKeyAcceptance);

void BM_VerifyLoginAnswer(benchmark::State& state) {
  const auto p = make_pair(1);
  const auto key = *identity::public_key_from_bytes(p.pk);
  std::array<std::uint8_t, 32> challenge{}, fp{};
  challenge.fill(3);
  fp.fill(4);
  const auto sig = sign(p, identity::challenge_message(challenge, fp, 90));
  for (auto _ : state) {
    auto ok = identity::verify_challenge(key, challenge, fp, 90, sig);
    if (!ok) state.SkipWithError("verification failed");
  }
}
BENCHMARK(BM_VerifyLoginAnswer);

// Argument: how many other players hold a name on the server.
void BM_ReturningPlayerLogin(benchmark::State& state) {
  const auto p = make_pair(1);
  session::registry::IdentityRegistry registry;
  for (std::int64_t i = 0; i < state.range(0); ++i) {
    identity::PlayerUuid other;
    for (int b = 0; b < 8; ++b) other.bytes[b] = static_cast<std::uint8_t>(i >> (8 * b));
    other.bytes[31] = 0xFF;  // never the player's own id
    if (!registry.bind_name(fmt::format("player{}", i), other)) std::abort();
  }
  const auto set = identity::keyset::KeySet::create(*identity::public_key_from_bytes(p.pk), std::nullopt, 1);
  if (!registry.bind_name("sam", set.uuid())) std::abort();
  registry.insert_clean(set);
  identity::Allowlist allow;
  const session::ContentTables tables;
  session::SessionContext ctx;
  ctx.allowlist = &allow;
  ctx.tables = &tables;
  ctx.max_players = 16;
  const identity::SelfSovereign provider;
  for (auto _ : state) {
    session::Session s;
    auto hello = s.handle(proto::client::Hello{90, p.pk, "sam"}, ctx, provider, registry);
    const auto nonce = proto::decode_server_as<proto::server::AuthChallenge>(hello.messages[1]).value().nonce;
    const auto sig = sign(p, identity::challenge_message(nonce, ctx.fingerprint, 90));
    auto auth = s.handle(proto::client::AuthResponse{{sig}}, ctx, provider, registry);
    if (auth.messages.size() != 15) state.SkipWithError("login refused");
  }
}
BENCHMARK(BM_ReturningPlayerLogin)->Arg(0)->Arg(100000);

}  // namespace
