#include "session/session.hpp"

#include <gtest/gtest.h>

#include "proto/server_message.hpp"
#include "session/registry.hpp"
#include "support/ed25519.hpp"

namespace ostrel_core::session {
namespace {

namespace cm = proto::client;
namespace dr = proto::disconnect;
namespace sm = proto::server;
using identity::PlayerUuid;
using identity::keyset::KeySet;
using test::TestKey;

// The T a frame carries, read back as a client reads it.
template <class T>
T decoded(const proto::Frame& frame) {
  auto m = proto::decode_server_as<T>(frame);
  EXPECT_TRUE(m.has_value()) << m.error().message();
  return m ? std::move(*m) : T{};
}

// One connection's session with its own registry, allowlist and hub view.
class Script {
 public:
  Script() {
    ctx.allowlist = &allow;
    ctx.tables = &tables;
    ctx.fingerprint.fill(0xF7);
    ctx.max_players = 4;
    ctx.online = 1;
    ctx.now = 1000;
    ctx.tick = 77;
    ctx.world_seed = 0x5EED;
    ctx.spawn = {1, 2, 3};
    ctx.mod_set = 0x1122334455667788;
    tables.mods = {{"core", "1.0.0", {}}};
    tables.fonts = {{"mono", "core", std::nullopt}};
    tables.pictures = {{"logo", "core", std::nullopt}, {"icon", "core", std::nullopt}};
    ctx.sky.day_length_ticks = 24000;
  }

  Response send(const proto::ClientMessage& m) { return session.handle(m, ctx, provider, registry); }

  Response hello(const TestKey& key, std::string name, std::uint32_t version = proto::kProtocolVersion) {
    return send(cm::Hello{version, key.pk, std::move(name)});
  }

  // Hello, then the answer signed over the challenge, fingerprint and version 90.
  Response login(const TestKey& key, std::string name) {
    auto r = hello(key, std::move(name));
    if (r.messages.size() != 2) return r;
    const auto challenge = decoded<sm::AuthChallenge>(r.messages[1]).nonce;
    return send(cm::AuthResponse{{key.sign(identity::challenge_message(challenge, ctx.fingerprint, 90))}});
  }

  registry::IdentityRegistry registry;
  identity::Allowlist allow;
  ContentTables tables;
  SessionContext ctx;
  identity::SelfSovereign provider;
  Session session;
};

std::vector<std::string_view> names_of(const Response& r) {
  std::vector<std::string_view> out;
  for (const auto& m : r.messages) out.push_back(m.name());
  return out;
}

// The response is one Disconnect with `reason`, closing the connection.
void expect_closed_with(const Response& r, const proto::DisconnectReason& reason, const Session& s) {
  ASSERT_EQ(r.messages.size(), 1u);
  ASSERT_EQ(r.messages[0].name(), "Disconnect");
  EXPECT_EQ(decoded<sm::Disconnect>(r.messages[0]).reason, reason);
  EXPECT_TRUE(r.close);
  EXPECT_EQ(s.phase(), Phase::Closed);
}

// One Disconnect with a refusal text, the connection left open.
void expect_refused_in_place(const Response& r, const std::string& text) {
  ASSERT_EQ(r.messages.size(), 1u);
  ASSERT_EQ(r.messages[0].name(), "Disconnect");
  EXPECT_EQ(decoded<sm::Disconnect>(r.messages[0]).reason, proto::DisconnectReason(dr::Refused{text}));
  EXPECT_FALSE(r.close);
}

TEST(Login, HelloRefusals) {
  const auto key = TestKey::from_seed(1);
  struct Case {
    const char* name;
    std::uint32_t version;
    std::uint32_t online;
    std::array<std::uint8_t, 32> pk;
    proto::DisconnectReason want;
  };
  std::array<std::uint8_t, 32> identity_point{1};
  const Case cases[] = {
      {"version 89", 89, 1, key.pk, dr::VersionMismatch{90, 89}},
      {"full server", 90, 4, key.pk, dr::ServerFull{4}},
      {"small-order key", 90, 1, identity_point, dr::Refused{"malformed public key"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Script s;
    s.ctx.online = c.online;
    auto r = s.send(cm::Hello{c.version, c.pk, "sam"});
    expect_closed_with(r, c.want, s.session);
    EXPECT_EQ(s.send(cm::Chat{"hi"}).messages.size(), 0u);
  }
}

TEST(Login, ValidLoginSendsTheTablesThenJoins) {
  const auto key = TestKey::from_seed(1);
  Script s;
  auto hello = s.hello(key, "sam");
  ASSERT_EQ(names_of(hello), (std::vector<std::string_view>{"ServerHello", "AuthChallenge"}));
  EXPECT_EQ(decoded<sm::ServerHello>(hello.messages[0]), (sm::ServerHello{90, s.ctx.fingerprint}));
  EXPECT_FALSE(hello.close);
  EXPECT_EQ(s.session.phase(), Phase::AwaitingAuth);

  const auto challenge = decoded<sm::AuthChallenge>(hello.messages[1]).nonce;
  auto auth = s.send(cm::AuthResponse{{key.sign(identity::challenge_message(challenge, s.ctx.fingerprint, 90))}});
  const std::vector<std::string_view> tables = {
      "ModList",      "MaterialTable",     "ToolTable", "FluidTable",   "SkyTable",
      "ActionTable",  "SoundTable",        "HudScriptTable", "SoundBindingTable", "FontTable",
      "SettingTable", "PictureTable",      "SetTheme",  "CloudDeck",    "ModelTable"};
  ASSERT_EQ(names_of(auth), tables);
  EXPECT_FALSE(auth.close);
  EXPECT_EQ(decoded<sm::ModList>(auth.messages[0]), (sm::ModList{s.tables.mods, 0x1122334455667788}));
  EXPECT_EQ(decoded<sm::SkyTable>(auth.messages[4]), s.ctx.sky);
  EXPECT_EQ(decoded<sm::FontTable>(auth.messages[9]).fonts, s.tables.fonts);
  EXPECT_EQ(decoded<sm::PictureTable>(auth.messages[11]).pictures, s.tables.pictures);
  EXPECT_FALSE(decoded<sm::SetTheme>(auth.messages[12]).theme);

  const PlayerUuid id = identity::uuid_of_root(key.pk);
  EXPECT_EQ(s.session.phase(), Phase::Authenticated);
  EXPECT_EQ(s.session.uuid(), id);
  EXPECT_EQ(s.session.name(), "sam");
  ASSERT_NE(s.registry.find(id), nullptr);
  EXPECT_EQ(s.registry.find(id)->keys().at(key.pk).added_at, 1000u);
  EXPECT_TRUE(s.registry.dirty().contains(id));
  EXPECT_EQ(s.registry.name_of(id), "sam");

  // The connection task serves content requests itself.
  EXPECT_TRUE(s.send(cm::ContentRequest{}).messages.empty());
  auto join = s.send(cm::JoinWorld{});
  ASSERT_EQ(names_of(join), (std::vector<std::string_view>{"JoinAccepted"}));
  EXPECT_EQ(decoded<sm::JoinAccepted>(join.messages[0]),
            (sm::JoinAccepted{id.bytes, {1, 2, 3}, 77, false, 0x5EED}));
  EXPECT_EQ(s.session.phase(), Phase::InWorld);
}

TEST(Login, AnswersThatDoNotProveTheKeyAreRefused) {
  const auto key = TestKey::from_seed(1);
  struct Case {
    const char* name;
    bool with_fingerprint;
    std::uint32_t version;
    const TestKey* signer;
  };
  const auto other = TestKey::from_seed(2);
  const Case cases[] = {
      {"no fingerprint", false, 90, &key},
      {"version 89", true, 89, &key},
      {"another key", true, 90, &other},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Script s;
    auto hello = s.hello(key, "sam");
    const auto challenge = decoded<sm::AuthChallenge>(hello.messages[1]).nonce;
    const std::span<const std::uint8_t> fp = c.with_fingerprint ? std::span<const std::uint8_t>(s.ctx.fingerprint)
                                                                : std::span<const std::uint8_t>();
    auto r = s.send(cm::AuthResponse{{c.signer->sign(identity::challenge_message(challenge, fp, c.version))}});
    expect_closed_with(r, dr::Refused{"authentication failed"}, s.session);
    EXPECT_TRUE(s.registry.identities().empty());
  }
}

TEST(Login, MessagesOutOfPhaseCloseTheConnection) {
  const auto key = TestKey::from_seed(1);
  struct Case {
    const char* name;
    int logins;  // 0: nothing, 1: after Hello, 2: authenticated, 3: in the world
    proto::ClientMessage message;
    std::string text;
  };
  const Case cases[] = {
      {"auth before hello", 0, cm::AuthResponse{}, "AuthResponse is not valid in phase AwaitingHello"},
      {"second hello", 1, cm::Hello{90, key.pk, "sam"}, "Hello is not valid in phase AwaitingAuth"},
      {"join before auth", 1, cm::JoinWorld{}, "JoinWorld is not valid in phase AwaitingAuth"},
      {"chat before join", 2, cm::Chat{"hi"}, "Chat is not valid in phase Authenticated"},
      {"input before join", 2, cm::PlayerInput{}, "PlayerInput is not valid in phase Authenticated"},
      {"view distance before join", 2, cm::ViewDistance{4, 4}, "ViewDistance is not valid in phase Authenticated"},
      {"second join", 3, cm::JoinWorld{}, "JoinWorld is not valid in phase InWorld"},
      {"hello in the world", 3, cm::Hello{90, key.pk, "sam"}, "Hello is not valid in phase InWorld"},
      {"block delta", 3, cm::BlockDelta{}, "BlockDelta was retired in Task 09; use StartDig or Place"},
      {"block delta first", 0, cm::BlockDelta{}, "BlockDelta was retired in Task 09; use StartDig or Place"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Script s;
    if (c.logins == 1) s.hello(key, "sam");
    if (c.logins >= 2) {
      ASSERT_EQ(s.login(key, "sam").messages.size(), 15u);
    }
    if (c.logins >= 3) {
      ASSERT_FALSE(s.send(cm::JoinWorld{}).close);
    }
    expect_closed_with(s.send(c.message), dr::ProtocolViolation{c.text}, s.session);
    // A closed session answers nothing.
    auto after = s.send(cm::Chat{"hi"});
    EXPECT_TRUE(after.messages.empty());
    EXPECT_FALSE(after.close);
  }
}

TEST(Login, InvalidMessagesAndDisconnect) {
  Script s;
  expect_closed_with(s.send(cm::Hello{90, TestKey::from_seed(1).pk, ""}),
                     dr::ProtocolViolation{proto::validate_client_message(cm::Hello{90, {}, ""}).error().message()},
                     s.session);

  Script t;
  t.hello(TestKey::from_seed(1), "sam");
  auto bye = t.send(cm::Disconnect{});
  EXPECT_TRUE(bye.messages.empty());
  EXPECT_TRUE(bye.close);
  EXPECT_EQ(t.session.phase(), Phase::Closed);
}

TEST(Login, TakenNameGivesANumberedNameAndOneNotice) {
  const auto first = TestKey::from_seed(1), second = TestKey::from_seed(2);
  Script s;
  ASSERT_TRUE(s.registry.bind_name("sam", identity::uuid_of_root(first.pk)));
  ASSERT_EQ(s.login(second, "sam").messages.size(), 15u);
  EXPECT_EQ(s.session.name(), "sam 2");
  auto join = s.send(cm::JoinWorld{});
  ASSERT_EQ(names_of(join), (std::vector<std::string_view>{"JoinAccepted", "ChatLine"}));
  EXPECT_EQ(decoded<sm::ChatLine>(join.messages[1]),
            (sm::ChatLine{std::nullopt, "`sam` is already somebody else's name on this server; you are `sam 2` here"}));
}

// A refused login stores nothing: the identity is registered only once its name is bound.
TEST(Login, NewIdentityWithNoFreeNameIsRefusedAndNotKept) {
  const auto key = TestKey::from_seed(1);
  Script s;
  const std::string asked(30, 'n');
  PlayerUuid holder;
  ASSERT_TRUE(s.registry.bind_name(asked, holder));
  for (int i = 2; i <= 9; ++i) {
    holder.bytes[0] = static_cast<std::uint8_t>(i);
    ASSERT_TRUE(s.registry.bind_name(asked + " " + std::to_string(i), holder));
  }
  const auto names_before = s.registry.dirty_names();
  expect_closed_with(s.login(key, asked), dr::NameTaken{asked}, s.session);
  EXPECT_FALSE(s.registry.contains(identity::uuid_of_root(key.pk)));
  EXPECT_FALSE(s.registry.dirty().contains(identity::uuid_of_root(key.pk)));
  EXPECT_FALSE(s.registry.identity_of(key.key()));
  EXPECT_EQ(s.registry.dirty_names(), names_before);
}

TEST(Login, AllowlistIsCheckedAtAuthentication) {
  const auto key = TestKey::from_seed(1);
  Script refused;
  refused.allow.enforced = true;
  expect_closed_with(refused.login(key, "sam"), dr::NotAllowed{}, refused.session);
  EXPECT_TRUE(refused.registry.identities().empty());
  EXPECT_FALSE(refused.registry.has_changes());

  Script admitted;
  admitted.allow.enforced = true;
  admitted.allow.permitted.insert(identity::uuid_of_root(key.pk));
  EXPECT_EQ(admitted.login(key, "sam").messages.size(), 15u);
}

TEST(Login, RootKeyRotatedAwayCannotLogIn) {
  const auto root = TestKey::from_seed(1), rebound = TestKey::from_seed(2);
  Script s;
  auto set = KeySet::create(root.key(), std::nullopt, 1);
  set.admin_rebind(rebound.key(), 2);
  s.registry.insert_clean(set);
  expect_closed_with(s.login(root, "sam"), dr::Refused{"authentication failed"}, s.session);

  Script t;
  t.registry.insert_clean(set);
  ASSERT_EQ(t.login(rebound, "sam").messages.size(), 15u);
  EXPECT_EQ(t.session.uuid(), set.uuid());
}

TEST(Login, PlayerLimitHoldsAgainAtJoin) {
  Script s;
  ASSERT_EQ(s.login(TestKey::from_seed(1), "sam").messages.size(), 15u);
  s.ctx.online = s.ctx.max_players;
  expect_closed_with(s.send(cm::JoinWorld{}), dr::ServerFull{4}, s.session);
}

TEST(InWorld, MessagesBecomeActions) {
  Script s;
  ASSERT_EQ(s.login(TestKey::from_seed(1), "sam").messages.size(), 15u);
  ASSERT_FALSE(s.send(cm::JoinWorld{}).close);
  struct Case {
    proto::ClientMessage message;
    Action want;
  };
  const proto::SubNodePos target{};
  const Case cases[] = {
      {cm::Chat{"hello"}, cm::Chat{"hello"}},
      {cm::StartDig{target}, action::Dig{target}},
      {cm::CancelDig{}, action::Dig{std::nullopt}},
      {cm::Punch{12}, cm::Punch{12}},
      {cm::SelectSlot{3}, cm::SelectSlot{3}},
      {cm::Action{"jump", true}, cm::Action{"jump", true}},
      {cm::PlayerInput{5, {1, 0, 0}, 0.5f, 0.25f, 1}, cm::PlayerInput{5, {1, 0, 0}, 0.5f, 0.25f, 1}},
      {cm::ViewDistance{4, 4}, action::None{}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(proto::client_message_name(c.message));
    auto r = s.send(c.message);
    EXPECT_TRUE(r.messages.empty());
    EXPECT_FALSE(r.close);
    EXPECT_EQ(r.action, c.want);
  }
  EXPECT_EQ(s.session.phase(), Phase::InWorld);
}

TEST(InWorld, KeyChangesAreRefusedInPlace) {
  const auto root = TestKey::from_seed(1), added = TestKey::from_seed(2), later = TestKey::from_seed(3);
  Script s;
  ASSERT_EQ(s.login(root, "sam").messages.size(), 15u);
  ASSERT_FALSE(s.send(cm::JoinWorld{}).close);
  const PlayerUuid id = s.session.uuid();
  const auto add_msg = identity::keyset::add_key_message(id, added.key(), std::nullopt);

  expect_refused_in_place(s.send(cm::AddKey{added.pk, std::nullopt, {later.sign(add_msg)}, root.pk}),
                          "key addition refused: signature verification failed");
  expect_refused_in_place(s.send(cm::AddKey{added.pk, std::nullopt, {root.sign(add_msg)}, later.pk}),
                          "key addition refused: the request is not signed by an authorised key for this identity");
  expect_refused_in_place(s.send(cm::AddKey{{1}, std::nullopt, {root.sign(add_msg)}, root.pk}),
                          "malformed key or signature");
  expect_refused_in_place(
      s.send(cm::RotateKey{added.pk, std::nullopt, {root.sign(identity::keyset::rotate_key_message(id, added.key(), std::nullopt))}}),
      "rotation refused: this key has no pre-committed successor and therefore cannot be rotated. Add a new key "
      "signed by an existing one, or ask an admin for a rebind.");
  EXPECT_EQ(s.session.phase(), Phase::InWorld);
  EXPECT_FALSE(s.registry.identity_of(added.key()));
  EXPECT_EQ(s.send(cm::Chat{"still here"}).action, Action(cm::Chat{"still here"}));

  auto ok = s.send(cm::AddKey{added.pk, std::nullopt, {root.sign(add_msg)}, root.pk});
  EXPECT_TRUE(ok.messages.empty());
  EXPECT_FALSE(ok.close);
  EXPECT_EQ(s.registry.identity_of(added.key()), id);
}

TEST(InWorld, SecondRotationInOneSessionUsesTheRevokedKey) {
  const auto root = TestKey::from_seed(1), mid = TestKey::from_seed(2), next = TestKey::from_seed(3),
             last = TestKey::from_seed(4);
  Script s;
  // The identity's root added `mid` with a commitment to `next`; the player logs in with `mid`.
  auto set = KeySet::create(root.key(), std::nullopt, 1);
  const auto c = identity::commitment_of(next.pk);
  ASSERT_TRUE(set.add_key(root.key(), mid.key(), c, root.sign(identity::keyset::add_key_message(set.uuid(), mid.key(), c)), 2));
  s.registry.insert_clean(set);
  ASSERT_EQ(s.login(mid, "sam").messages.size(), 15u);
  ASSERT_FALSE(s.send(cm::JoinWorld{}).close);

  const auto c2 = identity::commitment_of(last.pk);
  auto rotated = s.send(cm::RotateKey{next.pk, c2, {mid.sign(identity::keyset::rotate_key_message(set.uuid(), next.key(), c2))}});
  EXPECT_TRUE(rotated.messages.empty());
  EXPECT_EQ(s.registry.identity_of(next.key()), set.uuid());
  EXPECT_FALSE(s.registry.identity_of(mid.key()));

  expect_refused_in_place(
      s.send(cm::RotateKey{last.pk, std::nullopt, {mid.sign(identity::keyset::rotate_key_message(set.uuid(), last.key(), std::nullopt))}}),
      "rotation refused: the signing key has been revoked");
  EXPECT_EQ(s.session.phase(), Phase::InWorld);
}

}  // namespace
}  // namespace ostrel_core::session
