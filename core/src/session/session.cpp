#include "session/session.hpp"

#include <fmt/format.h>

#include "base/assert.hpp"
#include "session/registry.hpp"

namespace ostrel_core::session {

namespace cm = proto::client;
namespace dr = proto::disconnect;
namespace sm = proto::server;

namespace {

// One Disconnect that leaves the connection open: refusals of key changes in the world.
Response refuse_in_place(std::string text) {
  Response r;
  r.messages.push_back(proto::encode(sm::Disconnect{dr::Refused{std::move(text)}}));
  return r;
}

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;  // clang before 17 does not deduce aggregates

}  // namespace

std::string_view phase_name(Phase p) {
  switch (p) {
    case Phase::AwaitingHello:
      return "AwaitingHello";
    case Phase::AwaitingAuth:
      return "AwaitingAuth";
    case Phase::Authenticated:
      return "Authenticated";
    case Phase::InWorld:
      return "InWorld";
    case Phase::Closed:
      return "Closed";
  }
  return "Closed";
}

std::vector<proto::Frame> content_tables(const SessionContext& ctx) {
  using proto::encode;
  const ContentTables& t = *ctx.tables;
  std::vector<proto::Frame> out;
  out.reserve(15);
  out.push_back(encode(sm::ModList{t.mods, ctx.mod_set}));
  out.push_back(encode(sm::MaterialTable{t.materials}));
  out.push_back(encode(sm::ToolTable{t.tools}));
  out.push_back(encode(sm::FluidTable{t.fluids}));
  out.push_back(encode(ctx.sky));
  out.push_back(encode(sm::ActionTable{t.actions}));
  out.push_back(encode(sm::SoundTable{t.sounds}));
  out.push_back(encode(sm::HudScriptTable{t.hud_scripts}));
  out.push_back(encode(sm::SoundBindingTable{t.sound_bindings}));
  out.push_back(encode(sm::FontTable{t.fonts}));
  out.push_back(encode(sm::SettingTable{t.settings}));
  out.push_back(encode(sm::PictureTable{t.pictures}));
  out.push_back(encode(sm::SetTheme{t.theme}));
  out.push_back(encode(sm::CloudDeck{t.cloud_deck}));
  out.push_back(encode(sm::ModelTable{t.models}));
  return out;
}

Response Session::close_with(proto::DisconnectReason reason) {
  phase_ = Phase::Closed;
  Response r;
  r.messages.push_back(proto::encode(sm::Disconnect{std::move(reason)}));
  r.close = true;
  return r;
}

Response Session::refuse_out_of_phase(const proto::ClientMessage& message) {
  return close_with(dr::ProtocolViolation{
      fmt::format("{} is not valid in phase {}", proto::client_message_name(message), phase_name(phase_))});
}

Response Session::handle(const proto::ClientMessage& message, const SessionContext& ctx,
                         const identity::AuthProvider& provider, registry::IdentityRegistry& registry) {
  if (phase_ == Phase::Closed) return {};
  if (auto valid = proto::validate_client_message(message); !valid) {
    return close_with(dr::ProtocolViolation{valid.error().message()});
  }
  if (std::holds_alternative<cm::BlockDelta>(message)) {
    return close_with(dr::ProtocolViolation{"BlockDelta was retired in Task 09; use StartDig or Place"});
  }
  if (std::holds_alternative<cm::Disconnect>(message)) {
    phase_ = Phase::Closed;
    return Response{{}, action::None{}, true};
  }
  switch (phase_) {
    case Phase::AwaitingHello:
      if (auto* m = std::get_if<cm::Hello>(&message)) return handle_hello(*m, ctx);
      return refuse_out_of_phase(message);
    case Phase::AwaitingAuth:
      if (auto* m = std::get_if<cm::AuthResponse>(&message)) return handle_auth(*m, ctx, provider, registry);
      return refuse_out_of_phase(message);
    case Phase::Authenticated:
      if (std::holds_alternative<cm::ContentRequest>(message)) return {};
      if (std::holds_alternative<cm::JoinWorld>(message)) return handle_join(ctx);
      return refuse_out_of_phase(message);
    case Phase::InWorld:
      if (std::holds_alternative<cm::ContentRequest>(message) ||
          std::holds_alternative<cm::ViewDistance>(message)) {
        return {};
      }
      if (auto* m = std::get_if<cm::AddKey>(&message)) return handle_add_key(*m, ctx, registry);
      if (auto* m = std::get_if<cm::RotateKey>(&message)) return handle_rotate_key(*m, ctx, registry);
      return in_world(message);
    case Phase::Closed:
      break;
  }
  return {};
}

Response Session::handle_hello(const cm::Hello& m, const SessionContext& ctx) {
  if (m.protocol != proto::kProtocolVersion)
    return close_with(dr::VersionMismatch{proto::kProtocolVersion, m.protocol});
  if (ctx.online >= ctx.max_players) return close_with(dr::ServerFull{ctx.max_players});
  auto key = identity::public_key_from_bytes(m.public_key);
  if (!key) return close_with(dr::Refused{"malformed public key"});
  auto challenge = identity::random_challenge();
  if (!challenge) return close_with(dr::Refused{"server could not generate a challenge"});
  key_ = *key;
  challenge_ = *challenge;
  name_ = m.display_name;
  phase_ = Phase::AwaitingAuth;
  Response r;
  r.messages.push_back(proto::encode(sm::ServerHello{proto::kProtocolVersion, ctx.fingerprint}));
  r.messages.push_back(proto::encode(sm::AuthChallenge{*challenge}));
  return r;
}

Response Session::handle_auth(const cm::AuthResponse& m, const SessionContext& ctx,
                              const identity::AuthProvider& provider, registry::IdentityRegistry& registry) {
  if (!challenge_ || !key_) return close_with(dr::Refused{"no challenge outstanding"});
  const auto challenge = *challenge_;
  challenge_.reset();
  auto verified = provider.verify(registry, *key_, challenge, ctx.fingerprint, proto::kProtocolVersion,
                                  m.signature.bytes);
  if (!verified) return close_with(dr::Refused{"authentication failed"});
  const identity::PlayerUuid uuid = verified->uuid;
  OSTREL_ASSERT(ctx.allowlist != nullptr);
  if (!ctx.allowlist->allows(uuid)) return close_with(dr::NotAllowed{});
  // The key's own identity exists but the key is no longer active in it (rotated or rebound).
  if (verified->is_new && registry.contains(uuid)) return close_with(dr::Refused{"authentication failed"});
  const std::string asked = name_.value_or("");
  // A new identity is registered only once its name is bound (binding needs no registration), so
  // a refused login stores nothing.
  auto bound = registry.bind_name_or_next(asked, uuid, kNameLimit);
  if (!bound) {
    if (bound.error().kind() == registry::RegistryErrorKind::NameTaken)
      return close_with(dr::NameTaken{asked});
    return close_with(dr::Refused{bound.error().message()});
  }
  if (verified->is_new) registry.insert(identity::keyset::KeySet::create(*key_, std::nullopt, ctx.now));
  if (*bound != asked) asked_name_ = asked;
  name_ = *bound;
  authenticated_ = true;
  uuid_ = uuid;
  phase_ = Phase::Authenticated;
  return Response{content_tables(ctx), action::None{}, false};
}

Response Session::handle_join(const SessionContext& ctx) {
  if (!authenticated_) return close_with(dr::Refused{"not authenticated"});
  // The server may have filled up since Hello: the limit holds when the player takes a place.
  if (ctx.online >= ctx.max_players) return close_with(dr::ServerFull{ctx.max_players});
  phase_ = Phase::InWorld;
  Response r;
  r.messages.push_back(
      proto::encode(sm::JoinAccepted{uuid_.bytes, ctx.spawn, ctx.tick, ctx.op, ctx.world_seed}));
  if (asked_name_ && name_) {
    r.messages.push_back(proto::encode(sm::ChatLine{
        std::nullopt, fmt::format("`{}` is already somebody else's name on this server; you are `{}` here",
                                  *asked_name_, *name_)}));
  }
  asked_name_.reset();
  return r;
}

Response Session::handle_add_key(const cm::AddKey& m, const SessionContext& ctx,
                                 registry::IdentityRegistry& registry) {
  if (!authenticated_) return close_with(dr::Refused{"not authenticated"});
  auto key = identity::public_key_from_bytes(m.key);
  auto signer = identity::public_key_from_bytes(m.signer);
  if (!key || !signer) return refuse_in_place("malformed key or signature");
  auto r = registry.add_key(uuid_, *signer, *key, m.next, m.signature.bytes, ctx.now);
  if (!r) return refuse_in_place(fmt::format("key addition refused: {}", r.error().message()));
  return {};
}

Response Session::handle_rotate_key(const cm::RotateKey& m, const SessionContext& ctx,
                                    registry::IdentityRegistry& registry) {
  if (!authenticated_ || !key_) return close_with(dr::Refused{"not authenticated"});
  auto key = identity::public_key_from_bytes(m.key);
  if (!key) return refuse_in_place("malformed key or signature");
  // The session keeps the key it logged in with: after a rotation it is revoked, so a second
  // rotation in this session fails.
  auto r = registry.rotate_key(uuid_, *key_, *key, m.next, m.signature.bytes, ctx.now);
  if (!r) return refuse_in_place(fmt::format("rotation refused: {}", r.error().message()));
  return {};
}

Response Session::in_world(const proto::ClientMessage& message) {
  auto act = [](Action a) { return Response{{}, std::move(a), false}; };
  return std::visit(Overloaded{
                        [&](const cm::Chat& m) { return act(m); },
                        [&](const cm::StartDig& m) { return act(action::Dig{m.target}); },
                        [&](const cm::CancelDig&) { return act(action::Dig{std::nullopt}); },
                        [&](const cm::SelectTool& m) { return act(m); },
                        [&](const cm::Place& m) { return act(m); },
                        [&](const cm::Use& m) { return act(m); },
                        [&](const cm::Punch& m) { return act(m); },
                        [&](const cm::Action& m) { return act(m); },
                        [&](const cm::DialogEvent& m) { return act(m); },
                        [&](const cm::SwapOffhand& m) { return act(m); },
                        [&](const cm::SelectSlot& m) { return act(m); },
                        [&](const cm::SetSetting& m) { return act(m); },
                        [&](const cm::PlayerInput& m) { return act(m); },
                        [&](const auto&) { return refuse_out_of_phase(message); },
                    },
                    message);
}

}  // namespace ostrel_core::session
