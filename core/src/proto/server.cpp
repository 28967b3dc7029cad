#include "proto/server.hpp"

namespace ostrel_core::proto {
namespace {

constexpr std::string_view kServerNames[] = {
    "ServerHello",    "AuthChallenge",     "ModList",        "ContentSlice",      "JoinAccepted",
    "ChunkData",      "ChunkUnload",       "BlockEdit",      "Blob",              "ChatLine",
    "Disconnect",     "Inventory",         "MaterialTable",  "PlayerState",       "DigProgress",
    "ToolTable",      "ChunkLight",        "SkyTable",       "TimeOfDay",         "ChunkFluid",
    "FluidTable",     "ViewDistanceLimit", "EntitySpawn",    "EntityDespawn",     "EntityMoves",
    "ActionTable",    "SoundTable",        "PlaySound",      "ShowDialog",        "UpdateDialog",
    "CloseDialog",    "ContainerView",     "HudScriptTable", "SoundBindingTable", "StartSoundLoop",
    "StopSoundLoop",  "EntityHandsChanged", "HudValues",     "EnterDomain",       "ChunkSummary",
    "SlotSelected",   "FontTable",         "SettingTable",   "Particles",         "SetSkyModifier",
    "SkyFlash",       "SetPrecipitation",  "PictureTable",   "SetTheme",          "CloudDeck",
    "SetClouds",      "ModelTable",        "Abilities",      "SetCloudMap",       "ShowBadge",
    "LightningStrike", "SetRainbow",       "SetHover"};
static_assert(std::size(kServerNames) == kServerMessageVariants);

}  // namespace

std::string_view server_message_name(const ServerMessage& m) { return kServerNames[m.index()]; }

std::expected<std::vector<std::uint8_t>, ProtocolError> encode_server(const ServerMessage& m) {
  std::vector<std::uint8_t> out = encode(m);
  if (out.size() > kMaxMessageBytes) return std::unexpected(ProtocolError::too_large(out.size()));
  return out;
}

std::expected<ServerMessage, ProtocolError> decode_server(std::span<const std::uint8_t> bytes) {
  return decode_message<ServerMessage>(bytes);
}

}  // namespace ostrel_core::proto
