#pragma once
// The messages the server tells a client, one per frame. On the wire: the message's index as a
// varint, then its fields in declaration order (proto/codec.hpp). Golden bytes:
//   Disconnect VersionMismatch(90, 89)  -> 0A 00 5A 59
//   ViewDistanceLimit(8, 12)            -> 15 08 0C
//   SetTheme none                       -> 30 00
//   ChatLine no sender, "hi"            -> 09 00 02 68 69
//
// A message is encoded where it is made, by its own encode() overload, into a Frame
// (proto/frame.hpp); nothing carries the messages around as one variant. ServerMessage, the
// variant of all 58, is for reading them back (proto/server_message.hpp).

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
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
#include "presentation/ui/tree.hpp"
#include "proto/frame.hpp"
#include "proto/message_list.hpp"
#include "proto/records/common.hpp"
#include "proto/records/content.hpp"
#include "proto/records/edit.hpp"
#include "proto/records/entity.hpp"
#include "proto/records/sky.hpp"

namespace ostrel_core::proto {

using PlayerId = std::array<std::uint8_t, 32>;  // a PlayerUuid's bytes
using Vec3d = std::array<double, 3>;

// The reason inside a Disconnect.
namespace disconnect {
struct VersionMismatch {
  std::uint32_t server = kProtocolVersion;
  std::uint32_t client = 0;
  static constexpr auto fields() { return std::tuple{&VersionMismatch::server, &VersionMismatch::client}; }
  friend bool operator==(const VersionMismatch&, const VersionMismatch&) = default;
};
struct Refused {
  std::string text;
  static constexpr auto fields() { return std::tuple{&Refused::text}; }
  friend bool operator==(const Refused&, const Refused&) = default;
};
struct NameTaken {
  std::string name;  // the display name asked for
  static constexpr auto fields() { return std::tuple{&NameTaken::name}; }
  friend bool operator==(const NameTaken&, const NameTaken&) = default;
};
struct NotAllowed {
  static constexpr auto fields() { return std::tuple{}; }
  friend bool operator==(const NotAllowed&, const NotAllowed&) = default;
};
struct ServerFull {
  std::uint32_t limit = 0;
  static constexpr auto fields() { return std::tuple{&ServerFull::limit}; }
  friend bool operator==(const ServerFull&, const ServerFull&) = default;
};
struct ProtocolViolation {
  std::string text;
  static constexpr auto fields() { return std::tuple{&ProtocolViolation::text}; }
  friend bool operator==(const ProtocolViolation&, const ProtocolViolation&) = default;
};
struct Kicked {
  std::string text;
  static constexpr auto fields() { return std::tuple{&Kicked::text}; }
  friend bool operator==(const Kicked&, const Kicked&) = default;
};
struct Reserved7 {  // never sent; read so that the index stays taken
  static constexpr auto fields() { return std::tuple{}; }
  friend bool operator==(const Reserved7&, const Reserved7&) = default;
};
}  // namespace disconnect
using DisconnectReason =
    std::variant<disconnect::VersionMismatch, disconnect::Refused, disconnect::NameTaken, disconnect::NotAllowed,
                 disconnect::ServerFull, disconnect::ProtocolViolation, disconnect::Kicked, disconnect::Reserved7>;

namespace server {
struct ServerHello {
  std::uint32_t protocol = kProtocolVersion;
  Hash fingerprint{};  // the server certificate's
  static constexpr auto fields() { return std::tuple{&ServerHello::protocol, &ServerHello::fingerprint}; }
  friend bool operator==(const ServerHello&, const ServerHello&) = default;
};
struct AuthChallenge {
  std::array<std::uint8_t, 32> nonce{};
  static constexpr auto fields() { return std::tuple{&AuthChallenge::nonce}; }
  friend bool operator==(const AuthChallenge&, const AuthChallenge&) = default;
};
struct ModList {
  std::vector<ModEntry> mods;
  std::uint64_t set_hash = 0;  // first 8 bytes, little-endian, of the mod-set hash
  static constexpr auto fields() { return std::tuple{&ModList::mods, &ModList::set_hash}; }
  friend bool operator==(const ModList&, const ModList&) = default;
};
struct ContentSlice {
  Hash hash{};
  std::uint64_t offset = 0;  // the slice's start within the file
  std::uint64_t total = 0;   // the file's length in bytes
  std::vector<std::uint8_t> data;  // zstd-compressed slice
  static constexpr auto fields() {
    return std::tuple{&ContentSlice::hash, &ContentSlice::offset, &ContentSlice::total, &ContentSlice::data};
  }
  friend bool operator==(const ContentSlice&, const ContentSlice&) = default;
};
struct JoinAccepted {
  PlayerId player{};
  BlockPos spawn;
  std::uint64_t tick = 0;
  bool op = false;  // the player is an operator
  std::uint64_t seed = 0;
  static constexpr auto fields() {
    return std::tuple{&JoinAccepted::player, &JoinAccepted::spawn, &JoinAccepted::tick, &JoinAccepted::op,
                      &JoinAccepted::seed};
  }
  friend bool operator==(const JoinAccepted&, const JoinAccepted&) = default;
};
struct ChunkData {
  ChunkPos pos;
  std::vector<std::uint8_t> data;  // chunk blob
  Rgb tint{128, 128, 128};
  std::optional<ChunkFog> fog;
  static constexpr auto fields() {
    return std::tuple{&ChunkData::pos, &ChunkData::data, &ChunkData::tint, &ChunkData::fog};
  }
  friend bool operator==(const ChunkData&, const ChunkData&) = default;
};
struct ChunkUnload {
  ChunkPos pos;
  static constexpr auto fields() { return std::tuple{&ChunkUnload::pos}; }
  friend bool operator==(const ChunkUnload&, const ChunkUnload&) = default;
};
struct BlockEdit {
  Edit edit;
  std::optional<PlayerId> player;
  static constexpr auto fields() { return std::tuple{&BlockEdit::edit, &BlockEdit::player}; }
  friend bool operator==(const BlockEdit&, const BlockEdit&) = default;
};
struct Blob {  // never sent by this server; the index keeps this shape
  std::uint64_t tag = 0;
  std::vector<std::uint8_t> data;
  static constexpr auto fields() { return std::tuple{&Blob::tag, &Blob::data}; }
  friend bool operator==(const Blob&, const Blob&) = default;
};
struct ChatLine {
  std::optional<PlayerId> sender;
  std::string text;
  static constexpr auto fields() { return std::tuple{&ChatLine::sender, &ChatLine::text}; }
  friend bool operator==(const ChatLine&, const ChatLine&) = default;
};
struct Disconnect {
  DisconnectReason reason;
  static constexpr auto fields() { return std::tuple{&Disconnect::reason}; }
  friend bool operator==(const Disconnect&, const Disconnect&) = default;
};
struct Inventory {
  std::vector<StackDef> slots;
  static constexpr auto fields() { return std::tuple{&Inventory::slots}; }
  friend bool operator==(const Inventory&, const Inventory&) = default;
};
struct MaterialTable {
  std::vector<MaterialDef> materials;
  static constexpr auto fields() { return std::tuple{&MaterialTable::materials}; }
  friend bool operator==(const MaterialTable&, const MaterialTable&) = default;
};
struct PlayerState {
  std::uint64_t sequence = 0;  // the last input the body took
  ChunkPos chunk;
  Vec3f position{};            // cells within the chunk
  Vec3f velocity{};
  std::uint8_t on_ground = 0;  // 0 or 1
  std::uint8_t body_flag = 0;  // the body's second flag, 0 or 1
  std::optional<Riding> riding;
  static constexpr auto fields() {
    return std::tuple{&PlayerState::sequence, &PlayerState::chunk, &PlayerState::position,
                      &PlayerState::velocity, &PlayerState::on_ground, &PlayerState::body_flag,
                      &PlayerState::riding};
  }
  friend bool operator==(const PlayerState&, const PlayerState&) = default;
};
struct DigProgress {
  SubNodePos target;
  float progress = 0.0f;
  static constexpr auto fields() { return std::tuple{&DigProgress::target, &DigProgress::progress}; }
  friend bool operator==(const DigProgress&, const DigProgress&) = default;
};
struct ToolTable {
  std::vector<ToolDef> tools;
  static constexpr auto fields() { return std::tuple{&ToolTable::tools}; }
  friend bool operator==(const ToolTable&, const ToolTable&) = default;
};
struct ChunkLight {
  ChunkPos pos;
  std::vector<std::uint8_t> light;
  static constexpr auto fields() { return std::tuple{&ChunkLight::pos, &ChunkLight::light}; }
  friend bool operator==(const ChunkLight&, const ChunkLight&) = default;
};
struct SkyTable {
  std::uint32_t day_length_ticks = 0;
  std::vector<SkyFrame> frames;
  std::array<std::int64_t, 3> position{};  // the domain's position among the stars
  Vec3f fog{};                              // cave fog colour
  static constexpr auto fields() {
    return std::tuple{&SkyTable::day_length_ticks, &SkyTable::frames, &SkyTable::position, &SkyTable::fog};
  }
  friend bool operator==(const SkyTable&, const SkyTable&) = default;
};
struct TimeOfDay {
  float fraction = 0.0f;
  static constexpr auto fields() { return std::tuple{&TimeOfDay::fraction}; }
  friend bool operator==(const TimeOfDay&, const TimeOfDay&) = default;
};
struct ChunkFluid {
  ChunkPos pos;
  std::vector<std::uint8_t> fluid;
  static constexpr auto fields() { return std::tuple{&ChunkFluid::pos, &ChunkFluid::fluid}; }
  friend bool operator==(const ChunkFluid&, const ChunkFluid&) = default;
};
struct FluidTable {
  std::vector<FluidDef> fluids;
  static constexpr auto fields() { return std::tuple{&FluidTable::fluids}; }
  friend bool operator==(const FluidTable&, const FluidTable&) = default;
};
struct ViewDistanceLimit {
  std::uint8_t horizontal = 0;
  std::uint8_t vertical = 0;
  static constexpr auto fields() {
    return std::tuple{&ViewDistanceLimit::horizontal, &ViewDistanceLimit::vertical};
  }
  friend bool operator==(const ViewDistanceLimit&, const ViewDistanceLimit&) = default;
};
struct EntitySpawn {
  std::vector<EntityDef> entities;
  static constexpr auto fields() { return std::tuple{&EntitySpawn::entities}; }
  friend bool operator==(const EntitySpawn&, const EntitySpawn&) = default;
};
struct EntityDespawn {
  std::vector<std::uint64_t> ids;
  static constexpr auto fields() { return std::tuple{&EntityDespawn::ids}; }
  friend bool operator==(const EntityDespawn&, const EntityDespawn&) = default;
};
struct EntityMoves {
  std::uint64_t tick = 0;
  std::vector<EntityDelta> moves;
  static constexpr auto fields() { return std::tuple{&EntityMoves::tick, &EntityMoves::moves}; }
  friend bool operator==(const EntityMoves&, const EntityMoves&) = default;
};
struct ActionTable {
  std::vector<ActionDef> actions;
  static constexpr auto fields() { return std::tuple{&ActionTable::actions}; }
  friend bool operator==(const ActionTable&, const ActionTable&) = default;
};
struct SoundTable {
  std::vector<SoundDef> sounds;
  static constexpr auto fields() { return std::tuple{&SoundTable::sounds}; }
  friend bool operator==(const SoundTable&, const SoundTable&) = default;
};
struct PlaySound {
  std::string sound;
  Vec3d position{};  // blocks
  float radius = 0.0f;
  float gain = 1.0f;
  std::optional<std::uint64_t> entity;  // followed entity
  static constexpr auto fields() {
    return std::tuple{&PlaySound::sound, &PlaySound::position, &PlaySound::radius, &PlaySound::gain,
                      &PlaySound::entity};
  }
  friend bool operator==(const PlaySound&, const PlaySound&) = default;
};
struct ShowDialog {
  std::string form;
  ui::tree::Tree tree;
  std::uint8_t compact = 0;  // 0 or 1
  static constexpr auto fields() {
    return std::tuple{&ShowDialog::form, &ShowDialog::tree, &ShowDialog::compact};
  }
  friend bool operator==(const ShowDialog&, const ShowDialog&) = default;
};
struct UpdateDialog {
  std::string form;
  ui::tree::Tree tree;
  std::uint8_t compact = 0;
  static constexpr auto fields() {
    return std::tuple{&UpdateDialog::form, &UpdateDialog::tree, &UpdateDialog::compact};
  }
  friend bool operator==(const UpdateDialog&, const UpdateDialog&) = default;
};
struct CloseDialog {
  std::string form;
  static constexpr auto fields() { return std::tuple{&CloseDialog::form}; }
  friend bool operator==(const CloseDialog&, const CloseDialog&) = default;
};
struct ContainerView {
  std::string view;
  std::vector<std::optional<StackDef>> slots;  // absent for an empty slot
  std::optional<StackDef> held;                // on the player's cursor
  static constexpr auto fields() {
    return std::tuple{&ContainerView::view, &ContainerView::slots, &ContainerView::held};
  }
  friend bool operator==(const ContainerView&, const ContainerView&) = default;
};
struct HudScriptTable {
  std::vector<HudScriptDef> scripts;
  static constexpr auto fields() { return std::tuple{&HudScriptTable::scripts}; }
  friend bool operator==(const HudScriptTable&, const HudScriptTable&) = default;
};
struct SoundBindingTable {
  std::vector<SoundBinding> bindings;
  static constexpr auto fields() { return std::tuple{&SoundBindingTable::bindings}; }
  friend bool operator==(const SoundBindingTable&, const SoundBindingTable&) = default;
};
struct StartSoundLoop {
  std::string id;     // the loop's id
  std::string sound;
  Vec3d position{};
  float radius = 0.0f;
  float gain = 1.0f;
  std::uint8_t everywhere = 0;  // 0 or 1
  std::uint32_t fade_ticks = 0;
  static constexpr auto fields() {
    return std::tuple{&StartSoundLoop::id, &StartSoundLoop::sound, &StartSoundLoop::position,
                      &StartSoundLoop::radius, &StartSoundLoop::gain, &StartSoundLoop::everywhere,
                      &StartSoundLoop::fade_ticks};
  }
  friend bool operator==(const StartSoundLoop&, const StartSoundLoop&) = default;
};
struct StopSoundLoop {
  std::string id;
  std::uint32_t fade_ticks = 0;
  static constexpr auto fields() { return std::tuple{&StopSoundLoop::id, &StopSoundLoop::fade_ticks}; }
  friend bool operator==(const StopSoundLoop&, const StopSoundLoop&) = default;
};
struct EntityHandsChanged {
  std::vector<EntityHands> hands;
  static constexpr auto fields() { return std::tuple{&EntityHandsChanged::hands}; }
  friend bool operator==(const EntityHandsChanged&, const EntityHandsChanged&) = default;
};
struct HudValues {
  std::string slot;  // the id of the mod that set them
  std::vector<std::pair<std::string, hud::state::Value>> values;
  static constexpr auto fields() { return std::tuple{&HudValues::slot, &HudValues::values}; }
  friend bool operator==(const HudValues&, const HudValues&) = default;
};
struct EnterDomain {
  std::string domain;
  static constexpr auto fields() { return std::tuple{&EnterDomain::domain}; }
  friend bool operator==(const EnterDomain&, const EnterDomain&) = default;
};
struct ChunkSummary {
  ChunkPos pos;
  std::vector<std::uint8_t> summary;
  static constexpr auto fields() { return std::tuple{&ChunkSummary::pos, &ChunkSummary::summary}; }
  friend bool operator==(const ChunkSummary&, const ChunkSummary&) = default;
};
struct SlotSelected {
  std::uint16_t slot = 0;
  static constexpr auto fields() { return std::tuple{&SlotSelected::slot}; }
  friend bool operator==(const SlotSelected&, const SlotSelected&) = default;
};
struct FontTable {
  std::vector<FontDef> fonts;
  static constexpr auto fields() { return std::tuple{&FontTable::fonts}; }
  friend bool operator==(const FontTable&, const FontTable&) = default;
};
struct SettingTable {
  std::vector<SettingDef> settings;
  static constexpr auto fields() { return std::tuple{&SettingTable::settings}; }
  friend bool operator==(const SettingTable&, const SettingTable&) = default;
};
inline constexpr std::size_t kMaxBurstsPerMessage = 64;
struct Particles {
  std::vector<particle::Burst> bursts;  // at most kMaxBurstsPerMessage
  static constexpr auto fields() { return std::tuple{&Particles::bursts}; }
  friend bool operator==(const Particles&, const Particles&) = default;
};
struct SetSkyModifier {
  std::optional<atmosphere::SkyModifier> modifier;
  static constexpr auto fields() { return std::tuple{&SetSkyModifier::modifier}; }
  friend bool operator==(const SetSkyModifier&, const SetSkyModifier&) = default;
};
struct SkyFlash {
  atmosphere::Flash flash;
  static constexpr auto fields() { return std::tuple{&SkyFlash::flash}; }
  friend bool operator==(const SkyFlash&, const SkyFlash&) = default;
};
struct SetPrecipitation {
  std::optional<atmosphere::Precipitation> precipitation;
  static constexpr auto fields() { return std::tuple{&SetPrecipitation::precipitation}; }
  friend bool operator==(const SetPrecipitation&, const SetPrecipitation&) = default;
};
struct PictureTable {
  std::vector<PictureDef> pictures;
  static constexpr auto fields() { return std::tuple{&PictureTable::pictures}; }
  friend bool operator==(const PictureTable&, const PictureTable&) = default;
};
struct SetTheme {
  std::optional<ThemeDef> theme;
  static constexpr auto fields() { return std::tuple{&SetTheme::theme}; }
  friend bool operator==(const SetTheme&, const SetTheme&) = default;
};
struct CloudDeck {
  std::optional<atmosphere::CloudLayer> layer;
  static constexpr auto fields() { return std::tuple{&CloudDeck::layer}; }
  friend bool operator==(const CloudDeck&, const CloudDeck&) = default;
};
struct SetClouds {
  std::optional<atmosphere::Clouds> clouds;
  static constexpr auto fields() { return std::tuple{&SetClouds::clouds}; }
  friend bool operator==(const SetClouds&, const SetClouds&) = default;
};
struct ModelTable {
  std::vector<ModelDef> models;
  static constexpr auto fields() { return std::tuple{&ModelTable::models}; }
  friend bool operator==(const ModelTable&, const ModelTable&) = default;
};
struct Abilities {
  AbilitiesDef abilities;
  static constexpr auto fields() { return std::tuple{&Abilities::abilities}; }
  friend bool operator==(const Abilities&, const Abilities&) = default;
};
struct SetCloudMap {
  std::optional<atmosphere::CloudMap> map;
  static constexpr auto fields() { return std::tuple{&SetCloudMap::map}; }
  friend bool operator==(const SetCloudMap&, const SetCloudMap&) = default;
};
struct ShowBadge {
  particle::Badge badge;
  static constexpr auto fields() { return std::tuple{&ShowBadge::badge}; }
  friend bool operator==(const ShowBadge&, const ShowBadge&) = default;
};
struct LightningStrike {
  lightning::Lightning bolt;
  static constexpr auto fields() { return std::tuple{&LightningStrike::bolt}; }
  friend bool operator==(const LightningStrike&, const LightningStrike&) = default;
};
struct SetRainbow {
  std::optional<atmosphere::Rainbow> rainbow;
  static constexpr auto fields() { return std::tuple{&SetRainbow::rainbow}; }
  friend bool operator==(const SetRainbow&, const SetRainbow&) = default;
};
struct SetHover {
  std::vector<std::pair<std::uint16_t, std::string>> lines;  // world material id, line
  static constexpr auto fields() { return std::tuple{&SetHover::lines}; }
  friend bool operator==(const SetHover&, const SetHover&) = default;
};
}  // namespace server

// The server messages, one X(index, name) each, in wire-index order: the one list that the
// encoders, the names and the decoding variant are made from.
#define OSTREL_SERVER_MESSAGES(X) \
  X(0, ServerHello) X(1, AuthChallenge) X(2, ModList) X(3, ContentSlice)                    \
  X(4, JoinAccepted) X(5, ChunkData) X(6, ChunkUnload) X(7, BlockEdit)                      \
  X(8, Blob) X(9, ChatLine) X(10, Disconnect) X(11, Inventory)                              \
  X(12, MaterialTable) X(13, PlayerState) X(14, DigProgress) X(15, ToolTable)               \
  X(16, ChunkLight) X(17, SkyTable) X(18, TimeOfDay) X(19, ChunkFluid)                      \
  X(20, FluidTable) X(21, ViewDistanceLimit) X(22, EntitySpawn) X(23, EntityDespawn)        \
  X(24, EntityMoves) X(25, ActionTable) X(26, SoundTable) X(27, PlaySound)                  \
  X(28, ShowDialog) X(29, UpdateDialog) X(30, CloseDialog) X(31, ContainerView)             \
  X(32, HudScriptTable) X(33, SoundBindingTable) X(34, StartSoundLoop) X(35, StopSoundLoop) \
  X(36, EntityHandsChanged) X(37, HudValues) X(38, EnterDomain) X(39, ChunkSummary)         \
  X(40, SlotSelected) X(41, FontTable) X(42, SettingTable) X(43, Particles)                 \
  X(44, SetSkyModifier) X(45, SkyFlash) X(46, SetPrecipitation) X(47, PictureTable)         \
  X(48, SetTheme) X(49, CloudDeck) X(50, SetClouds) X(51, ModelTable)                       \
  X(52, Abilities) X(53, SetCloudMap) X(54, ShowBadge) X(55, LightningStrike)               \
  X(56, SetRainbow) X(57, SetHover)

inline constexpr std::size_t kServerMessages = 0 OSTREL_SERVER_MESSAGES(OSTREL_PROTO_COUNT);
static_assert(kServerMessages == 58);

// The name of the message of wire index `index` ("ChatLine"); "?" past the list.
std::string_view server_message_name(std::uint32_t index);

// One encoder per message, each defined once in server.cpp: the frame payload of `m`.
#define OSTREL_PROTO_ENCODER(N, T) [[nodiscard]] Frame encode(const server::T& m);
OSTREL_SERVER_MESSAGES(OSTREL_PROTO_ENCODER)
#undef OSTREL_PROTO_ENCODER

}  // namespace ostrel_core::proto
