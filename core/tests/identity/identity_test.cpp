#include "identity/identity.hpp"

#include <sodium.h>

#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "base/blake3.hpp"
#include "proto/codec.hpp"
#include "support/b3sum.hpp"
#include "support/ed25519.hpp"
#include "support/hex.hpp"
#include "support/temp_dir.hpp"

namespace ostrel_core::identity {
namespace {

using test::from_hex;
using test::TestKey;

TEST(PlayerUuid, RootKeyIdMatchesAnIndependentHash) {
  const auto k = TestKey::from_seed(7);
  test::TempDir dir;
  {
    std::ofstream f(dir / "uuid-input", std::ios::binary);
    f << kUuidContext;
    f.write(reinterpret_cast<const char*>(k.pk.data()), k.pk.size());
  }
  const std::string want = test::b3sum(dir / "uuid-input");
  ASSERT_EQ(want.size(), 64u) << "b3sum gave: " << want;
  const PlayerUuid id = uuid_of_root(k.pk);
  EXPECT_EQ(id.to_hex(), want);
  EXPECT_EQ(id.short_form(), want.substr(0, 12));
}

TEST(PlayerUuid, TextFormsRoundTrip) {
  const PlayerUuid zero{};
  EXPECT_EQ(zero.to_hex(), std::string(64, '0'));
  EXPECT_EQ(zero.short_form(), std::string(12, '0'));

  PlayerUuid id;
  for (std::size_t i = 0; i < id.bytes.size(); ++i) id.bytes[i] = static_cast<std::uint8_t>(i * 9 + 1);
  const std::string hex = id.to_hex();
  EXPECT_EQ(hex.substr(0, 8), "010a131c");
  std::string upper = hex;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  ASSERT_NE(upper, hex);
  for (const auto& text : {hex, upper}) {
    auto parsed = PlayerUuid::from_hex(text);
    ASSERT_TRUE(parsed) << text;
    EXPECT_EQ(*parsed, id);
  }
}

TEST(PlayerUuid, RecordFormIsThirtyTwoBytesWithoutCount) {
  PlayerUuid id;
  for (std::size_t i = 0; i < id.bytes.size(); ++i) id.bytes[i] = static_cast<std::uint8_t>(0xA0 + i);
  const auto bytes = proto::encode(id);
  ASSERT_EQ(bytes.size(), 32u);
  EXPECT_EQ(bytes[0], 0xA0);
  auto back = proto::decode_exact<PlayerUuid>(bytes);
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, id);
  EXPECT_FALSE(proto::decode_exact<PlayerUuid>(std::span(bytes).first(31)));
  EXPECT_EQ(fmt::format("{}", id), id.to_hex());
}

TEST(PlayerUuid, OrdersByBytesWithByteZeroFirst) {
  PlayerUuid a, b;
  a.bytes[0] = 1;
  b.bytes[31] = 0xFF;
  EXPECT_LT(b, a);
  b.bytes[0] = 1;
  EXPECT_LT(a, b);
}

TEST(PlayerUuid, FromHexRefusesAnythingButSixtyFourHexDigits) {
  const std::string good(64, 'a');
  auto with = [&](std::size_t pos, std::string_view s) {
    std::string t = good;
    t.replace(pos, s.size(), s);
    return t;
  };
  const std::string cases[] = {
      std::string(63, 'a'),
      std::string(65, 'a'),
      std::string(),
      with(0, "g"),
      with(33, "g"),
      with(63, "g"),
      with(0, " "),
      with(40, " "),
      with(63, " "),
      with(10, "+"),
      std::string(62, 'a') + "\xc3\xa9",  // 64 bytes ending in a two-byte character
      with(20, "\xc3\xa9"),
  };
  for (const auto& text : cases) {
    SCOPED_TRACE(text);
    auto r = PlayerUuid::from_hex(text);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().kind(), IdentityErrorKind::BadUuid);
    EXPECT_EQ(r.error().text(), text);
    EXPECT_EQ(r.error().message(), "`" + text + "` is not a valid player UUID (expected 64 hex characters)");
  }
}

struct KeyCase {
  const char* name;
  const char* hex;
  bool accepted;
};

// Order 8 and the small-order list are libsodium's blocklist; the torsion cases are points that
// a decoder which only refuses small order would take.
constexpr KeyCase kKeys[] = {
    {"ordinary key", "ea4a6c63e29c520abef5507b132ec5f9954776aebebe7b92421eea691446d22c", true},
    {"its negation", "ea4a6c63e29c520abef5507b132ec5f9954776aebebe7b92421eea691446d2ac", true},
    {"base point", "5866666666666666666666666666666666666666666666666666666666666666", true},
    {"identity", "0100000000000000000000000000000000000000000000000000000000000000", false},
    {"order 2", "ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f", false},
    {"order 4", "0000000000000000000000000000000000000000000000000000000000000000", false},
    {"order 4 negative", "0000000000000000000000000000000000000000000000000000000000000080", false},
    {"order 8 a", "26e8958fc2b227b045c3f489f2ef98f0d5dfac05d3c63339b13802886d53fc05", false},
    {"order 8 b", "26e8958fc2b227b045c3f489f2ef98f0d5dfac05d3c63339b13802886d53fc85", false},
    {"order 8 c", "c7176a703d4dd84fba3c0b760d10670f2a2053fa2c39ccc64ec7fd7792ac037a", false},
    {"order 8 d", "c7176a703d4dd84fba3c0b760d10670f2a2053fa2c39ccc64ec7fd7792ac03fa", false},
    {"identity as y = p + 1", "eeffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f", false},
    {"order 4 as y = p", "edffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f", false},
    {"identity with the sign bit", "0100000000000000000000000000000000000000000000000000000000000080", false},
    {"y = 3 as y = p + 3", "f0ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f", false},
    {"not on the curve (y = 2)", "0200000000000000000000000000000000000000000000000000000000000000", false},
    {"torsion: y = 3", "0300000000000000000000000000000000000000000000000000000000000000", false},
    {"torsion: key plus order 8", "1f4f580e73ac208f06760190e9edc6f5916775dabd9c1cdca393175c2d6d1083", false},
};

TEST(PublicKey, AcceptsOnlyCanonicalPrimeOrderPoints) {
  for (const auto& c : kKeys) {
    SCOPED_TRACE(c.name);
    const auto bytes = from_hex(c.hex);
    auto k = public_key_from_bytes(bytes);
    ASSERT_EQ(k.has_value(), c.accepted);
    if (k) {
      EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), k->bytes().begin()));
    } else {
      EXPECT_EQ(k.error().kind(), IdentityErrorKind::MalformedPublicKey);
      EXPECT_EQ(k.error().message(), "malformed public key");
    }
  }
}

TEST(PublicKey, TorsionKeysAreRefusedThoughNotOfSmallOrder) {
  // [8]P is not the identity for these: only the subgroup check refuses them.
  for (const char* hex : {"0300000000000000000000000000000000000000000000000000000000000000",
                          "1f4f580e73ac208f06760190e9edc6f5916775dabd9c1cdca393175c2d6d1083"}) {
    SCOPED_TRACE(hex);
    const auto p = from_hex(hex);
    std::array<std::uint8_t, 32> q;
    std::copy(p.begin(), p.end(), q.begin());
    for (int i = 0; i < 3; ++i) ASSERT_EQ(crypto_core_ed25519_add(q.data(), q.data(), q.data()), 0);
    EXPECT_NE(test::to_hex({q.begin(), q.end()}), test::to_hex(from_hex(kKeys[3].hex)));
    EXPECT_FALSE(public_key_from_bytes(p));
  }
}

TEST(PublicKey, RefusesWrongLengths) {
  const auto k = TestKey::from_seed(7);
  for (std::size_t n : {0u, 31u, 33u}) {
    std::vector<std::uint8_t> b(k.pk.begin(), k.pk.end());
    b.resize(n, 0);
    EXPECT_FALSE(public_key_from_bytes(b)) << n;
  }
}

// ---- signatures -------------------------------------------------------------------------------

using Sig = std::array<std::uint8_t, 64>;

// Adds the group order L to the scalar S of `sig` (little-endian): [S + L]B = [S]B.
Sig with_unreduced_s(Sig sig) {
  static constexpr std::uint8_t kL[32] = {0xed, 0xd3, 0xf5, 0x5c, 0x1a, 0x63, 0x12, 0x58, 0xd6, 0x9c, 0xf7,
                                          0xa2, 0xde, 0xf9, 0xde, 0x14, 0,    0,    0,    0,    0,    0,
                                          0,    0,    0,    0,    0,    0,    0,    0,    0,    0x10};
  unsigned carry = 0;
  for (int i = 0; i < 32; ++i) {
    const unsigned v = sig[32 + i] + kL[i] + carry;
    sig[32 + i] = static_cast<std::uint8_t>(v);
    carry = v >> 8;
  }
  return sig;
}

// k = SHA-512(R || A || M) mod L.
std::array<std::uint8_t, 32> challenge_scalar(std::span<const std::uint8_t> r, std::span<const std::uint8_t> a,
                                              std::span<const std::uint8_t> m) {
  crypto_hash_sha512_state st;
  crypto_hash_sha512_init(&st);
  crypto_hash_sha512_update(&st, r.data(), 32);
  crypto_hash_sha512_update(&st, a.data(), 32);
  crypto_hash_sha512_update(&st, m.data(), m.size());
  std::uint8_t h[64];
  crypto_hash_sha512_final(&st, h);
  std::array<std::uint8_t, 32> k;
  crypto_core_ed25519_scalar_reduce(k.data(), h);
  return k;
}

TEST(Signatures, StrictVerificationRefusesUnreducedS) {
  const auto k = TestKey::from_seed(3);
  const std::vector<std::uint8_t> m = {1, 2, 3};
  const Sig sig = k.sign(m);
  ASSERT_TRUE(verify_strict(k.pk, m, sig));
  EXPECT_FALSE(verify_strict(k.pk, m, with_unreduced_s(sig)));
}

TEST(Signatures, StrictVerificationRefusesSmallOrderR) {
  // R = identity and S = k * a: the equation [S]B = R + [k]A holds exactly.
  const auto key = TestKey::from_seed(5);
  std::uint8_t h[64];
  crypto_hash_sha512(h, key.sk.data(), 32);
  h[0] &= 248;
  h[31] &= 127;
  h[31] |= 64;
  std::uint8_t a[32];
  std::uint8_t wide[64] = {};
  std::copy(h, h + 32, wide);
  crypto_core_ed25519_scalar_reduce(a, wide);

  const std::vector<std::uint8_t> m = {'h', 'i'};
  Sig sig{};
  sig[0] = 1;  // R = identity
  const auto k = challenge_scalar(std::span(sig).first(32), key.pk, m);
  crypto_core_ed25519_scalar_mul(sig.data() + 32, k.data(), a);

  std::uint8_t sb[32], ka[32];
  ASSERT_EQ(crypto_scalarmult_ed25519_base_noclamp(sb, sig.data() + 32), 0);
  ASSERT_EQ(crypto_scalarmult_ed25519_noclamp(ka, k.data(), key.pk.data()), 0);
  ASSERT_TRUE(std::equal(sb, sb + 32, ka)) << "crafted signature does not satisfy the equation";
  EXPECT_FALSE(verify_strict(key.pk, m, sig));
}

TEST(Signatures, StrictVerificationRefusesSmallOrderKeys) {
  // With [k]A the identity (k a multiple of 8), R = [r]B and S = r satisfy the equation.
  std::uint8_t r[32];
  std::uint8_t wide[64] = {};
  wide[0] = 77;
  wide[5] = 3;
  crypto_core_ed25519_scalar_reduce(r, wide);
  Sig sig{};
  ASSERT_EQ(crypto_scalarmult_ed25519_base_noclamp(sig.data(), r), 0);
  std::copy(r, r + 32, sig.data() + 32);
  for (const auto& c : kKeys) {
    if (c.accepted || std::string_view(c.name).starts_with("torsion") ||
        std::string_view(c.name).starts_with("not on")) {
      continue;
    }
    SCOPED_TRACE(c.name);
    const auto a = from_hex(c.hex);
    std::vector<std::uint8_t> m = {0, 0};
    for (int i = 0;; ++i) {
      ASSERT_LT(i, 10000);
      m[0] = static_cast<std::uint8_t>(i);
      m[1] = static_cast<std::uint8_t>(i >> 8);
      if (challenge_scalar(std::span(sig).first(32), a, m)[0] % 8 == 0) break;
    }
    std::array<std::uint8_t, 32> ab;
    std::copy(a.begin(), a.end(), ab.begin());
    EXPECT_FALSE(verify_strict(ab, m, sig));
  }
}

TEST(Signatures, LoginAnswerCoversChallengeFingerprintAndVersion) {
  const auto k = TestKey::from_seed(9);
  std::array<std::uint8_t, 32> challenge, fingerprint, other_fp;
  challenge.fill(0xC1);
  fingerprint.fill(0xF1);
  other_fp.fill(0xF2);

  const auto m = challenge_message(challenge, fingerprint, 90);
  ASSERT_EQ(m.size(), 92u);
  EXPECT_EQ(std::string(m.begin(), m.begin() + 24), "ostrel:auth-challenge:v1");
  EXPECT_EQ(m[24], 0xC1);
  EXPECT_EQ(m[87], 0xF1);
  EXPECT_EQ(test::to_hex({m.end() - 4, m.end()}), "5a 00 00 00");
  EXPECT_NE(challenge_message(challenge, other_fp, 90), m);

  const Sig sig = k.sign(m);
  EXPECT_TRUE(verify_challenge(k.key(), challenge, fingerprint, 90, sig));

  struct Wrong {
    const char* name;
    std::vector<std::uint8_t> signed_bytes;
  };
  std::vector<std::uint8_t> no_fp = challenge_message(challenge, {}, 90);
  const Wrong wrongs[] = {
      {"without the fingerprint", no_fp},
      {"another fingerprint", challenge_message(challenge, other_fp, 90)},
      {"version 89", challenge_message(challenge, fingerprint, 89)},
      {"challenge alone", std::vector<std::uint8_t>(challenge.begin(), challenge.end())},
  };
  for (const auto& w : wrongs) {
    SCOPED_TRACE(w.name);
    auto r = verify_challenge(k.key(), challenge, fingerprint, 90, k.sign(w.signed_bytes));
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().message(), "signature verification failed");
  }
  // Another key's signature over the right bytes.
  EXPECT_FALSE(verify_challenge(k.key(), challenge, fingerprint, 90, TestKey::from_seed(10).sign(m)));
}

class OneKeyLookup final : public KeyLookup {
 public:
  OneKeyLookup(PublicKey key, PlayerUuid id) : key_(key), id_(id) {}
  std::optional<PlayerUuid> identity_of(const PublicKey& key) const override {
    if (key == key_) return id_;
    return std::nullopt;
  }

 private:
  PublicKey key_;
  PlayerUuid id_;
};

TEST(SelfSovereign, KnownKeysGiveTheirIdentityOthersTheirOwnRoot) {
  const auto known = TestKey::from_seed(1);
  const auto stranger = TestKey::from_seed(2);
  PlayerUuid registered;
  registered.bytes.fill(0x42);
  const OneKeyLookup lookup(known.key(), registered);
  std::array<std::uint8_t, 32> challenge{}, fp{};
  challenge[0] = 1;
  const auto m = challenge_message(challenge, fp, 90);
  const SelfSovereign provider;

  auto a = provider.verify(lookup, known.key(), challenge, fp, 90, known.sign(m));
  ASSERT_TRUE(a);
  EXPECT_FALSE(a->is_new);
  EXPECT_EQ(a->uuid, registered);

  auto b = provider.verify(lookup, stranger.key(), challenge, fp, 90, stranger.sign(m));
  ASSERT_TRUE(b);
  EXPECT_TRUE(b->is_new);
  EXPECT_EQ(b->uuid, uuid_of_root(stranger.pk));

  auto c = provider.verify(lookup, known.key(), challenge, fp, 90, stranger.sign(m));
  ASSERT_FALSE(c);
  EXPECT_EQ(c.error().kind(), IdentityErrorKind::VerificationFailed);
}

TEST(Allowlist, EnforcedOnlyAdmitsPermittedIds) {
  PlayerUuid a, b;
  a.bytes[0] = 1;
  b.bytes[0] = 2;
  Allowlist list{{a}, false};
  EXPECT_TRUE(list.allows(b));
  list.enforced = true;
  EXPECT_TRUE(list.allows(a));
  EXPECT_FALSE(list.allows(b));
  list.revoke(a);
  list.revoke(b);
  EXPECT_FALSE(list.allows(a));
  EXPECT_TRUE(list.enforced);
}

}  // namespace
}  // namespace ostrel_core::identity
