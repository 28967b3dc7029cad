#pragma once
// Session: one connection's way from its first message to a player in the world. No I/O, no
// locks; the only call outside the process is for the 32 random bytes of a challenge. The
// connection task locks the identity registry for each whole handle() call.
//
// AwaitingHello -> AwaitingAuth   [Hello accepted]           key_, challenge_ set
// AwaitingAuth  -> Authenticated  [AuthResponse verified]    challenge_ used up, uuid_ and name_ bound
// Authenticated -> InWorld        [JoinWorld]                asked_name_ cleared
// any           -> Closed         [close_with, Disconnect]   every later message answers nothing
// AddKey and RotateKey refusals in the world leave the phase as it is.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "identity/identity.hpp"
#include "proto/client.hpp"
#include "proto/frame.hpp"
#include "proto/records/common.hpp"
#include "proto/records/content.hpp"
#include "proto/server.hpp"

namespace ostrel_core::session {

namespace registry {
class IdentityRegistry;
}

inline constexpr std::uint32_t kNameLimit = 99;  // numbered names run from 2 to this

enum class Phase : std::uint8_t {
  AwaitingHello = 0,
  AwaitingAuth = 1,
  Authenticated = 2,
  InWorld = 3,
  Closed = 4
};

std::string_view phase_name(Phase p);

namespace action {
struct None {
  friend bool operator==(const None&, const None&) = default;
};
struct Dig {  // StartDig's target; none for CancelDig
  std::optional<proto::SubNodePos> target;
  friend bool operator==(const Dig&, const Dig&) = default;
};
}  // namespace action

// What the connection task must do for an in-world message, carrying that message's fields.
// Index order: None, Edit, Chat, Dig, SelectTool, Place, Use, Punch, Perform, Dialog, SwapOffhand,
// SelectSlot, SetSetting, Input.
using Action =
    std::variant<action::None, proto::Edit, proto::client::Chat, action::Dig, proto::client::SelectTool,
                 proto::client::Place, proto::client::Use, proto::client::Punch, proto::client::Action,
                 proto::client::DialogEvent, proto::client::SwapOffhand, proto::client::SelectSlot,
                 proto::client::SetSetting, proto::client::PlayerInput>;

struct Response {
  std::vector<proto::Frame> messages;  // encoded, to send in order
  Action action = action::None{};
  bool close = false;  // close after sending `messages`
};

// The tables a client receives after login, built once at start.
struct ContentTables {
  std::vector<proto::ModEntry> mods;
  std::vector<proto::MaterialDef> materials;  // by material id
  std::vector<proto::ToolDef> tools;
  std::vector<proto::FluidDef> fluids;
  std::vector<proto::ActionDef> actions;
  std::vector<proto::SettingDef> settings;
  std::vector<proto::SoundDef> sounds;
  std::vector<proto::FontDef> fonts;
  std::vector<proto::PictureDef> pictures;
  std::vector<proto::ModelDef> models;
  std::optional<proto::ThemeDef> theme;
  std::vector<proto::HudScriptDef> hud_scripts;
  std::vector<proto::SoundBinding> sound_bindings;
  std::optional<atmosphere::CloudLayer> cloud_deck;
};

// Built by the connection task before every call; the session only reads it. The tables and
// the allowlist are borrowed from the hub, never copied per message.
struct SessionContext {
  const ContentTables* tables = nullptr;           // REQUIRES: set
  proto::Hash fingerprint{};                       // the server certificate's
  proto::server::SkyTable sky;                     // the overworld's
  const identity::Allowlist* allowlist = nullptr;  // REQUIRES: set; read under the hub's lock
  std::uint64_t mod_set = 0;                       // first 8 bytes of the mod-set hash, little-endian
  std::optional<proto::ThemeDef> theme;
  std::uint64_t tick = 0;
  std::uint64_t world_seed = 0;
  proto::BlockPos spawn;
  bool op = false;        // the session's identity is an operator
  std::uint64_t now = 0;  // seconds since the epoch, 0 before it
  std::uint32_t max_players = 0;
  std::uint32_t online = 0;  // players in the world, this one not yet counted before JoinWorld
};

class Session {
 public:
  // `registry` is locked by the caller for the whole call; it is the provider's key lookup too.
  Response handle(const proto::ClientMessage& message, const SessionContext& ctx,
                  const identity::AuthProvider& provider, registry::IdentityRegistry& registry);

  Phase phase() const { return phase_; }
  bool authenticated() const { return authenticated_; }
  const identity::PlayerUuid& uuid() const { return uuid_; }
  const std::optional<std::string>& name() const { return name_; }
  const std::optional<identity::PublicKey>& key() const { return key_; }

 private:
  Response handle_hello(const proto::client::Hello& m, const SessionContext& ctx);
  Response handle_auth(const proto::client::AuthResponse& m, const SessionContext& ctx,
                       const identity::AuthProvider& provider, registry::IdentityRegistry& registry);
  Response handle_join(const SessionContext& ctx);
  Response handle_add_key(const proto::client::AddKey& m, const SessionContext& ctx,
                          registry::IdentityRegistry& registry);
  Response handle_rotate_key(const proto::client::RotateKey& m, const SessionContext& ctx,
                             registry::IdentityRegistry& registry);
  Response in_world(const proto::ClientMessage& message);
  Response refuse_out_of_phase(const proto::ClientMessage& message);
  Response close_with(proto::DisconnectReason reason);

  std::optional<identity::PublicKey> key_;  // announced in Hello
  std::optional<std::string> name_;         // asked in Hello, then the name bound
  std::optional<std::string> asked_name_;   // set when the bound name differs from the asked one
  std::optional<std::array<std::uint8_t, identity::kChallengeBytes>> challenge_;  // single use
  bool authenticated_ = false;
  identity::PlayerUuid uuid_;  // meaningful once authenticated_
  Phase phase_ = Phase::AwaitingHello;
};

// The content tables a verified login receives, 15 messages in their fixed order.
std::vector<proto::Frame> content_tables(const SessionContext& ctx);

}  // namespace ostrel_core::session
