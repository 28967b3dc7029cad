#pragma once
// ServerMessage: everything the server tells a client, one message per frame. On the wire: the
// variant index as a varint, then the fields in declaration order. Golden bytes:
//   Disconnect VersionMismatch(90, 89)  -> 0A 00 5A 59
//   ViewDistanceLimit(8, 12)            -> 15 08 0C
//   SetTheme none                       -> 30 00
//   ChatLine no sender, "hi"            -> 09 00 02 68 69
//
// encode_server() is the one way to turn a message into frame payload: it refuses a message
// over kMaxMessageBytes, so nothing too large reaches a stream.

#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <variant>
#include <vector>

#include "presentation/atmosphere.hpp"
#include "presentation/hud/state.hpp"
#include "presentation/lightning.hpp"
#include "presentation/particle.hpp"
#include "proto/client.hpp"
#include "proto/codec.hpp"
#include "proto/protocol_error.hpp"
#include "proto/records.hpp"
#include "presentation/ui/tree.hpp"

namespace ostrel_core::proto {

using PlayerId = std::array<std::uint8_t, 32>;  // a PlayerUuid's bytes
using Vec3d = std::array<double, 3>;

#define OSTREL_PROTO_RECORD(T, ...)                                        \
  static constexpr auto fields() { return std::tuple{__VA_ARGS__}; }       \
  friend bool operator==(const T&, const T&) = default

// The reason inside a Disconnect.
namespace disconnect {
struct VersionMismatch {
  std::uint32_t server = kProtocolVersion;
  std::uint32_t client = 0;
  OSTREL_PROTO_RECORD(VersionMismatch, &VersionMismatch::server, &VersionMismatch::client);
};
struct Refused {
  std::string text;
  OSTREL_PROTO_RECORD(Refused, &Refused::text);
};
struct NameTaken {
  std::string name;  // the display name asked for
  OSTREL_PROTO_RECORD(NameTaken, &NameTaken::name);
};
struct NotAllowed {
  OSTREL_PROTO_RECORD(NotAllowed);
};
struct ServerFull {
  std::uint32_t limit = 0;
  OSTREL_PROTO_RECORD(ServerFull, &ServerFull::limit);
};
struct ProtocolViolation {
  std::string text;
  OSTREL_PROTO_RECORD(ProtocolViolation, &ProtocolViolation::text);
};
struct Kicked {
  std::string text;
  OSTREL_PROTO_RECORD(Kicked, &Kicked::text);
};
struct Reserved7 {  // never sent; read so that the index stays taken
  OSTREL_PROTO_RECORD(Reserved7);
};
}  // namespace disconnect
using DisconnectReason =
    std::variant<disconnect::VersionMismatch, disconnect::Refused, disconnect::NameTaken, disconnect::NotAllowed,
                 disconnect::ServerFull, disconnect::ProtocolViolation, disconnect::Kicked, disconnect::Reserved7>;

namespace server {
struct ServerHello {
  std::uint32_t protocol = kProtocolVersion;
  Hash fingerprint{};  // the server certificate's
  OSTREL_PROTO_RECORD(ServerHello, &ServerHello::protocol, &ServerHello::fingerprint);
};
struct AuthChallenge {
  std::array<std::uint8_t, 32> nonce{};
  OSTREL_PROTO_RECORD(AuthChallenge, &AuthChallenge::nonce);
};
struct ModList {
  std::vector<ModEntry> mods;
  std::uint64_t set_hash = 0;  // first 8 bytes, little-endian, of the mod-set hash
  OSTREL_PROTO_RECORD(ModList, &ModList::mods, &ModList::set_hash);
};
struct ContentSlice {
  Hash hash{};
  std::uint64_t offset = 0;  // the slice's start within the file
  std::uint64_t total = 0;   // the file's length in bytes
  std::vector<std::uint8_t> data;  // zstd-compressed slice
  OSTREL_PROTO_RECORD(ContentSlice, &ContentSlice::hash, &ContentSlice::offset, &ContentSlice::total, &ContentSlice::data);
};
struct JoinAccepted {
  PlayerId player{};
  BlockPos spawn;
  std::uint64_t tick = 0;
  bool op = false;  // the player is an operator
  std::uint64_t seed = 0;
  OSTREL_PROTO_RECORD(JoinAccepted, &JoinAccepted::player, &JoinAccepted::spawn, &JoinAccepted::tick, &JoinAccepted::op,
                      &JoinAccepted::seed);
};
struct ChunkData {
  ChunkPos pos;
  std::vector<std::uint8_t> data;  // chunk blob
  Rgb tint{128, 128, 128};
  std::optional<ChunkFog> fog;
  OSTREL_PROTO_RECORD(ChunkData, &ChunkData::pos, &ChunkData::data, &ChunkData::tint, &ChunkData::fog);
};
struct ChunkUnload {
  ChunkPos pos;
  OSTREL_PROTO_RECORD(ChunkUnload, &ChunkUnload::pos);
};
struct BlockEdit {
  Edit edit;
  std::optional<PlayerId> player;
  OSTREL_PROTO_RECORD(BlockEdit, &BlockEdit::edit, &BlockEdit::player);
};
struct Blob {  // never sent by this server; the index keeps this shape
  std::uint64_t tag = 0;
  std::vector<std::uint8_t> data;
  OSTREL_PROTO_RECORD(Blob, &Blob::tag, &Blob::data);
};
struct ChatLine {
  std::optional<PlayerId> sender;
  std::string text;
  OSTREL_PROTO_RECORD(ChatLine, &ChatLine::sender, &ChatLine::text);
};
struct Disconnect {
  DisconnectReason reason;
  OSTREL_PROTO_RECORD(Disconnect, &Disconnect::reason);
};
struct Inventory {
  std::vector<StackDef> slots;
  OSTREL_PROTO_RECORD(Inventory, &Inventory::slots);
};
struct MaterialTable {
  std::vector<MaterialDef> materials;
  OSTREL_PROTO_RECORD(MaterialTable, &MaterialTable::materials);
};
struct PlayerState {
  std::uint64_t sequence = 0;  // the last input the body took
  ChunkPos chunk;
  Vec3f position{};            // cells within the chunk
  Vec3f velocity{};
  std::uint8_t on_ground = 0;  // 0 or 1
  std::uint8_t body_flag = 0;  // the body's second flag, 0 or 1
  std::optional<Riding> riding;
  OSTREL_PROTO_RECORD(PlayerState, &PlayerState::sequence, &PlayerState::chunk, &PlayerState::position,
                      &PlayerState::velocity, &PlayerState::on_ground, &PlayerState::body_flag, &PlayerState::riding);
};
struct DigProgress {
  SubNodePos target;
  float progress = 0.0f;
  OSTREL_PROTO_RECORD(DigProgress, &DigProgress::target, &DigProgress::progress);
};
struct ToolTable {
  std::vector<ToolDef> tools;
  OSTREL_PROTO_RECORD(ToolTable, &ToolTable::tools);
};
struct ChunkLight {
  ChunkPos pos;
  std::vector<std::uint8_t> light;
  OSTREL_PROTO_RECORD(ChunkLight, &ChunkLight::pos, &ChunkLight::light);
};
struct SkyTable {
  std::uint32_t day_length_ticks = 0;
  std::vector<SkyFrame> frames;
  std::array<std::int64_t, 3> position{};  // the domain's position among the stars
  Vec3f fog{};                              // cave fog colour
  OSTREL_PROTO_RECORD(SkyTable, &SkyTable::day_length_ticks, &SkyTable::frames, &SkyTable::position, &SkyTable::fog);
};
struct TimeOfDay {
  float fraction = 0.0f;
  OSTREL_PROTO_RECORD(TimeOfDay, &TimeOfDay::fraction);
};
struct ChunkFluid {
  ChunkPos pos;
  std::vector<std::uint8_t> fluid;
  OSTREL_PROTO_RECORD(ChunkFluid, &ChunkFluid::pos, &ChunkFluid::fluid);
};
struct FluidTable {
  std::vector<FluidDef> fluids;
  OSTREL_PROTO_RECORD(FluidTable, &FluidTable::fluids);
};
struct ViewDistanceLimit {
  std::uint8_t horizontal = 0;
  std::uint8_t vertical = 0;
  OSTREL_PROTO_RECORD(ViewDistanceLimit, &ViewDistanceLimit::horizontal, &ViewDistanceLimit::vertical);
};
struct EntitySpawn {
  std::vector<EntityDef> entities;
  OSTREL_PROTO_RECORD(EntitySpawn, &EntitySpawn::entities);
};
struct EntityDespawn {
  std::vector<std::uint64_t> ids;
  OSTREL_PROTO_RECORD(EntityDespawn, &EntityDespawn::ids);
};
struct EntityMoves {
  std::uint64_t tick = 0;
  std::vector<EntityDelta> moves;
  OSTREL_PROTO_RECORD(EntityMoves, &EntityMoves::tick, &EntityMoves::moves);
};
struct ActionTable {
  std::vector<ActionDef> actions;
  OSTREL_PROTO_RECORD(ActionTable, &ActionTable::actions);
};
struct SoundTable {
  std::vector<SoundDef> sounds;
  OSTREL_PROTO_RECORD(SoundTable, &SoundTable::sounds);
};
struct PlaySound {
  std::string sound;
  Vec3d position{};  // blocks
  float radius = 0.0f;
  float gain = 1.0f;
  std::optional<std::uint64_t> entity;  // followed entity
  OSTREL_PROTO_RECORD(PlaySound, &PlaySound::sound, &PlaySound::position, &PlaySound::radius, &PlaySound::gain,
                      &PlaySound::entity);
};
struct ShowDialog {
  std::string form;
  ui::tree::Tree tree;
  std::uint8_t compact = 0;  // 0 or 1
  OSTREL_PROTO_RECORD(ShowDialog, &ShowDialog::form, &ShowDialog::tree, &ShowDialog::compact);
};
struct UpdateDialog {
  std::string form;
  ui::tree::Tree tree;
  std::uint8_t compact = 0;
  OSTREL_PROTO_RECORD(UpdateDialog, &UpdateDialog::form, &UpdateDialog::tree, &UpdateDialog::compact);
};
struct CloseDialog {
  std::string form;
  OSTREL_PROTO_RECORD(CloseDialog, &CloseDialog::form);
};
struct ContainerView {
  std::string view;
  std::vector<std::optional<StackDef>> slots;  // absent for an empty slot
  std::optional<StackDef> held;                // on the player's cursor
  OSTREL_PROTO_RECORD(ContainerView, &ContainerView::view, &ContainerView::slots, &ContainerView::held);
};
struct HudScriptTable {
  std::vector<HudScriptDef> scripts;
  OSTREL_PROTO_RECORD(HudScriptTable, &HudScriptTable::scripts);
};
struct SoundBindingTable {
  std::vector<SoundBinding> bindings;
  OSTREL_PROTO_RECORD(SoundBindingTable, &SoundBindingTable::bindings);
};
struct StartSoundLoop {
  std::string id;     // the loop's id
  std::string sound;
  Vec3d position{};
  float radius = 0.0f;
  float gain = 1.0f;
  std::uint8_t everywhere = 0;  // 0 or 1
  std::uint32_t fade_ticks = 0;
  OSTREL_PROTO_RECORD(StartSoundLoop, &StartSoundLoop::id, &StartSoundLoop::sound, &StartSoundLoop::position,
                      &StartSoundLoop::radius, &StartSoundLoop::gain, &StartSoundLoop::everywhere,
                      &StartSoundLoop::fade_ticks);
};
struct StopSoundLoop {
  std::string id;
  std::uint32_t fade_ticks = 0;
  OSTREL_PROTO_RECORD(StopSoundLoop, &StopSoundLoop::id, &StopSoundLoop::fade_ticks);
};
struct EntityHandsChanged {
  std::vector<EntityHands> hands;
  OSTREL_PROTO_RECORD(EntityHandsChanged, &EntityHandsChanged::hands);
};
struct HudValues {
  std::string slot;  // the id of the mod that set them
  std::vector<std::pair<std::string, hud::state::Value>> values;
  OSTREL_PROTO_RECORD(HudValues, &HudValues::slot, &HudValues::values);
};
struct EnterDomain {
  std::string domain;
  OSTREL_PROTO_RECORD(EnterDomain, &EnterDomain::domain);
};
struct ChunkSummary {
  ChunkPos pos;
  std::vector<std::uint8_t> summary;
  OSTREL_PROTO_RECORD(ChunkSummary, &ChunkSummary::pos, &ChunkSummary::summary);
};
struct SlotSelected {
  std::uint16_t slot = 0;
  OSTREL_PROTO_RECORD(SlotSelected, &SlotSelected::slot);
};
struct FontTable {
  std::vector<FontDef> fonts;
  OSTREL_PROTO_RECORD(FontTable, &FontTable::fonts);
};
struct SettingTable {
  std::vector<SettingDef> settings;
  OSTREL_PROTO_RECORD(SettingTable, &SettingTable::settings);
};
inline constexpr std::size_t kMaxBurstsPerMessage = 64;
struct Particles {
  std::vector<particle::Burst> bursts;  // at most kMaxBurstsPerMessage
  OSTREL_PROTO_RECORD(Particles, &Particles::bursts);
};
struct SetSkyModifier {
  std::optional<atmosphere::SkyModifier> modifier;
  OSTREL_PROTO_RECORD(SetSkyModifier, &SetSkyModifier::modifier);
};
struct SkyFlash {
  atmosphere::Flash flash;
  OSTREL_PROTO_RECORD(SkyFlash, &SkyFlash::flash);
};
struct SetPrecipitation {
  std::optional<atmosphere::Precipitation> precipitation;
  OSTREL_PROTO_RECORD(SetPrecipitation, &SetPrecipitation::precipitation);
};
struct PictureTable {
  std::vector<PictureDef> pictures;
  OSTREL_PROTO_RECORD(PictureTable, &PictureTable::pictures);
};
struct SetTheme {
  std::optional<ThemeDef> theme;
  OSTREL_PROTO_RECORD(SetTheme, &SetTheme::theme);
};
struct CloudDeck {
  std::optional<atmosphere::CloudLayer> layer;
  OSTREL_PROTO_RECORD(CloudDeck, &CloudDeck::layer);
};
struct SetClouds {
  std::optional<atmosphere::Clouds> clouds;
  OSTREL_PROTO_RECORD(SetClouds, &SetClouds::clouds);
};
struct ModelTable {
  std::vector<ModelDef> models;
  OSTREL_PROTO_RECORD(ModelTable, &ModelTable::models);
};
struct Abilities {
  AbilitiesDef abilities;
  OSTREL_PROTO_RECORD(Abilities, &Abilities::abilities);
};
struct SetCloudMap {
  std::optional<atmosphere::CloudMap> map;
  OSTREL_PROTO_RECORD(SetCloudMap, &SetCloudMap::map);
};
struct ShowBadge {
  particle::Badge badge;
  OSTREL_PROTO_RECORD(ShowBadge, &ShowBadge::badge);
};
struct LightningStrike {
  lightning::Lightning bolt;
  OSTREL_PROTO_RECORD(LightningStrike, &LightningStrike::bolt);
};
struct SetRainbow {
  std::optional<atmosphere::Rainbow> rainbow;
  OSTREL_PROTO_RECORD(SetRainbow, &SetRainbow::rainbow);
};
struct SetHover {
  std::vector<std::pair<std::uint16_t, std::string>> lines;  // world material id, line
  OSTREL_PROTO_RECORD(SetHover, &SetHover::lines);
};
}  // namespace server

#undef OSTREL_PROTO_RECORD

// Variant order is the wire index: ServerHello is 0, SetHover is 57.
using ServerMessage = std::variant<
    server::ServerHello, server::AuthChallenge, server::ModList, server::ContentSlice, server::JoinAccepted,
    server::ChunkData, server::ChunkUnload, server::BlockEdit, server::Blob, server::ChatLine, server::Disconnect,
    server::Inventory, server::MaterialTable, server::PlayerState, server::DigProgress, server::ToolTable,
    server::ChunkLight, server::SkyTable, server::TimeOfDay, server::ChunkFluid, server::FluidTable,
    server::ViewDistanceLimit, server::EntitySpawn, server::EntityDespawn, server::EntityMoves, server::ActionTable,
    server::SoundTable, server::PlaySound, server::ShowDialog, server::UpdateDialog, server::CloseDialog,
    server::ContainerView, server::HudScriptTable, server::SoundBindingTable, server::StartSoundLoop,
    server::StopSoundLoop, server::EntityHandsChanged, server::HudValues, server::EnterDomain, server::ChunkSummary,
    server::SlotSelected, server::FontTable, server::SettingTable, server::Particles, server::SetSkyModifier,
    server::SkyFlash, server::SetPrecipitation, server::PictureTable, server::SetTheme, server::CloudDeck,
    server::SetClouds, server::ModelTable, server::Abilities, server::SetCloudMap, server::ShowBadge,
    server::LightningStrike, server::SetRainbow, server::SetHover>;

inline constexpr std::size_t kServerMessageVariants = std::variant_size_v<ServerMessage>;
static_assert(kServerMessageVariants == 58);

std::string_view server_message_name(const ServerMessage& m);

// The frame payload of `m`, or TooLarge when it encodes to more than kMaxMessageBytes (the
// buffer is dropped; a message of exactly kMaxMessageBytes is accepted).
[[nodiscard]] std::expected<std::vector<std::uint8_t>, ProtocolError> encode_server(const ServerMessage& m);

// A client-side reader of server messages: the same rules as decode_client.
[[nodiscard]] std::expected<ServerMessage, ProtocolError> decode_server(std::span<const std::uint8_t> bytes);

}  // namespace ostrel_core::proto
