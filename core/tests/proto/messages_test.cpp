#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "proto/client.hpp"
#include "proto/codec.hpp"
#include "proto/server_message.hpp"
#include "support/hex.hpp"

namespace ostrel_core::proto {
namespace {

using test::from_hex;
using test::to_hex;

Hash hash_of(std::uint8_t b) {
  Hash h;
  h.fill(b);
  return h;
}

std::vector<std::uint16_t> cells27(std::uint16_t m) { return std::vector<std::uint16_t>(27, m); }

StackDef stack(std::uint16_t material) { return StackDef{material, 3, 0x1FF, "engraved", cells27(material)}; }

// One value per variant with every field set away from its default, in index order.
std::vector<ClientMessage> client_samples() {
  Signature sig;
  sig.bytes.fill(0xAB);
  return {
      client::Hello{90, hash_of(1), "Ada"},
      client::AuthResponse{sig},
      client::ContentRequest{{hash_of(2), hash_of(3)}},
      client::JoinWorld{},
      client::PlayerInput{1ull << 40, {0.5f, -1.0f, 1.0f}, 0.25f, -0.125f, client::kButtonJump | client::kButtonFly},
      client::BlockDelta{edit::Cell{{-1, 47, -48}, 9}},
      client::Chat{"hello \xC3\xA9"},
      client::AddKey{hash_of(4), hash_of(5), sig, hash_of(6)},
      client::RotateKey{hash_of(7), std::nullopt, sig},
      client::Disconnect{},
      client::StartDig{{3, -4, 5}},
      client::CancelDig{},
      client::SelectTool{"pick"},
      client::Place{{1, 2, 3}, 12, 0x7FFFFFF, {1, 0, 255}, "carved", cells27(12)},
      client::ViewDistance{8, 4},
      client::Punch{UINT64_MAX},
      client::Action{"jump", true},
      client::DialogEvent{"form", dialog_event::Chiselled{"ed", cells27(3), 0x7FFFFFF}},
      client::SwapOffhand{65535},
      client::SelectSlot{8},
      client::SetSetting{"volume", 70000},
      client::Use{SubNodePos{-7, 0, 7}},
  };
}

ui::tree::Tree sample_tree() {
  ui::tree::Node root{ui::tree::Container{ui::tree::Direction::Row, 4, 2, ui::tree::Align::Stretch}, "root",
                      "tip", {}, 1, 200, std::nullopt, 1, 1};
  root.style.background = ui::tree::Colour{1, 2, 3, 4};
  root.style.font = "mod:font";
  ui::tree::Node child{ui::tree::Slider{-5, 5, -1}, "s", std::nullopt, {}, 0, std::nullopt, 9, 2, 0};
  return ui::tree::Tree{{root, child}};
}

std::vector<ServerMessage> server_samples() {
  namespace s = server;
  EntityDef ent{9, {1, 2, 3}, {1, 2, 3}, {0.5f, 0, 0}, 200, -100, 1, "mod:pig", Collider{0.9f, 0.9f}, stack(4),
                Hands{stack(5), std::nullopt}, "Pig", {1, 2, 3}};
  atmosphere::CloudMap map{{-10.5f, 20.0f}, 16.0f, 2, {1, 2, 3, 4}, {5, 6, 7, 8}, {}, {9, 9, 9, 9}, {}};
  return {
      s::ServerHello{90, hash_of(1)},
      s::AuthChallenge{hash_of(2)},
      s::ModList{{ModEntry{"base", "1.2.0", hash_of(3)}}, 0x0102030405060708ull},
      s::ContentSlice{hash_of(4), 65536, 1 << 20, {1, 2, 3}},
      s::JoinAccepted{hash_of(5), {0, 64, 0}, 12345, true, 42},
      s::ChunkData{{-1, 0, 1}, {0xDE, 0xAD}, {1, 2, 3}, ChunkFog{{4, 5, 6}, 48, 100, -20}},
      s::ChunkUnload{{5, -5, 5}},
      s::BlockEdit{edit::Set{{1, 1, 1}, 0}, hash_of(6)},
      s::Blob{77, {1}},
      s::ChatLine{std::nullopt, "server notice"},
      s::Disconnect{disconnect::ProtocolViolation{"malformed message"}},
      s::Inventory{{stack(1), StackDef{}}},
      s::MaterialTable{{MaterialDef{"step", 12, "mod:stone", true, hash_of(7), true, false, true, false, true,
                                    true, 0.6f, MaterialTint{1, 300, {1, 2, 3}, {4, 5, 6}}, true, "mod:m",
                                    MaterialFlicker{2, 3}}}},
      s::PlayerState{99, {0, 1, 0}, {1.5f, 2.5f, 3.5f}, {0, -0.5f, 0}, 1, 0,
                     Riding{9, {0, 1, 0}, {1, 2, 3}, {0, 0, 0}, true, 4, {0, 3, 0}, 2.7f, 2.7f, 1.2f}},
      s::DigProgress{{1, 2, 3}, 0.75f},
      s::ToolTable{{ToolDef{"pick", "Pick", "subnode", true}}},
      s::ChunkLight{{1, 1, 1}, {0, 15}},
      s::SkyTable{24000, {SkyFrame{0.25f, {1, 1, 1}, {1, 0.9f, 0.8f}, 1, 1, {1, 1, 1}, {0, 0, 0}, 1, 1, 2.2f, 0}},
                  {-(1ll << 50), 0, 1ll << 50}, {0.1f, 0.1f, 0.2f}},
      s::TimeOfDay{0.5f},
      s::ChunkFluid{{2, 2, 2}, {7, 7}},
      s::FluidTable{{FluidDef{1, "mod:water", 40, {0, 0, 255}, 0.6f}}},
      s::ViewDistanceLimit{8, 12},
      s::EntitySpawn{{ent}},
      s::EntityDespawn{{1, 2, UINT64_MAX}},
      s::EntityMoves{1000, {EntityDelta{9, {1, 2, 3}, {1, 2, 3}, {0, 0, 0}, 1, -1, 0, {9, 9, 9}}}},
      s::ActionTable{{ActionDef{"mod:jump", "Jump", "mod", "Space"}}},
      s::SoundTable{{SoundDef{"mod:boom", "mod", hash_of(8), 0.8f, 0.1f}}},
      s::PlaySound{"mod:boom", {1.5, -2.5, 1e9}, 32.0f, 1.0f, 77},
      s::ShowDialog{"menu", sample_tree(), 1},
      s::UpdateDialog{"menu", sample_tree(), 0},
      s::CloseDialog{"menu"},
      s::ContainerView{"chest", {stack(1), std::nullopt, stack(2)}, stack(3)},
      s::HudScriptTable{{HudScriptDef{"mod", hash_of(9), 64}}},
      s::SoundBindingTable{{SoundBinding{"dig", "mod:dig", "mod"}}},
      s::StartSoundLoop{"rain", "mod:rain", {0, 64, 0}, 48.0f, 0.5f, 1, 40},
      s::StopSoundLoop{"rain", 20},
      s::EntityHandsChanged{{EntityHands{9, Hands{std::nullopt, stack(6)}}}},
      s::HudValues{"mod", {{"hp", hud::state::Number{17.5}}, {"name", hud::state::Text{"x"}},
                           {"on", hud::state::Bool{true}}}},
      s::EnterDomain{"mod:moon"},
      s::ChunkSummary{{8, 0, 8}, {1, 3, 0}},
      s::SlotSelected{7},
      s::FontTable{{FontDef{"mod:font", "mod", std::nullopt}}},
      s::SettingTable{{SettingDef{"mod", "vol", "Volume", "How loud", true, {"low", "high"}, 2}}},
      s::Particles{{particle::Burst{{1, 2, 3}, 16, {1, 2, 3, 4}, 0.2f, 2, {0, 1, 0}, 0.5f, {1, 1, 1}, 9.8f, false,
                                    hash_of(10)}}},
      s::SetSkyModifier{atmosphere::SkyModifier{0.5f, {1, 0, 0}, 1, 2, 0.5f, 0.25f, std::nullopt, 100}},
      s::SkyFlash{atmosphere::Flash{2, {1, 1, 0.5f}, 3, 30}},
      s::SetPrecipitation{atmosphere::Precipitation{atmosphere::Precipitation::default_shape(), 500, 20, 40}},
      s::PictureTable{{PictureDef{"mod:pic", "mod", hash_of(11)}}},
      s::SetTheme{ThemeDef{"mod", "mod:f", std::nullopt, hash_of(12), std::nullopt, Colour{1, 2, 3, 4},
                           std::nullopt, Colour{5, 6, 7, 8}, std::nullopt, Colour{9, 9, 9, 9}}},
      s::CloudDeck{atmosphere::CloudLayer{}},
      s::SetClouds{atmosphere::Clouds{0.5f, 0.25f, 300.0f, 60, 0.1f, 0.2f, 0.3f}},
      s::ModelTable{{ModelDef{"mod:pig", "mod", hash_of(13), 1.5f, std::nullopt}}},
      s::Abilities{AbilitiesDef{true, 2.0f, false, true, 0.5f}},
      s::SetCloudMap{map},
      s::ShowBadge{particle::Badge{5, hash_of(14), 3, 4.0f, 0.5f, {1, 2, 3, 4}}},
      s::LightningStrike{lightning::Lightning{{0, 200, 0}, {0, -3896, 0}, UINT64_MAX, {1, 1, 1}, 0.5f, 8, 200}},
      s::SetRainbow{atmosphere::Rainbow{0.75f, 2400}},
      s::SetHover{{{12, "Stone"}, {1, "Unknown"}}},
  };
}

// Each sample decodes back to itself and encodes to the same bytes, led by its index.
template <class Message, class Name, class Encode, class Decode>
void expect_round_trips(const std::vector<Message>& samples, Name name, Encode bytes_of, Decode decode) {
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const Message& m = samples[i];
    SCOPED_TRACE(name(m));
    ASSERT_EQ(m.index(), i) << "samples must be in index order";
    const std::vector<std::uint8_t> bytes = bytes_of(m);
    EXPECT_EQ(bytes.front(), i) << "the index is the first byte";
    auto back = decode(bytes);
    ASSERT_TRUE(back.has_value()) << back.error().message();
    EXPECT_EQ(*back, m);
    EXPECT_EQ(bytes_of(*back), bytes);
  }
  EXPECT_EQ(samples.size(), std::variant_size_v<Message>) << "one sample per variant";
}

TEST(Messages, EveryClientVariantRoundTrips) {
  expect_round_trips(
      client_samples(), client_message_name, [](const ClientMessage& m) { return encode(m); }, decode_client);
}

TEST(Messages, EveryServerVariantRoundTrips) {
  // The frame of the message's own encoder, which names the message it holds.
  auto bytes_of = [](const ServerMessage& m) {
    const Frame frame = std::visit([](const auto& message) { return encode(message); }, m);
    EXPECT_EQ(frame.index(), m.index());
    EXPECT_EQ(frame.name(), server_message_name(m));
    return std::vector<std::uint8_t>(frame.payload().begin(), frame.payload().end());
  };
  auto name = [](const ServerMessage& m) { return server_message_name(m); };
  auto decode = [](std::span<const std::uint8_t> bytes) { return decode_server(bytes); };
  expect_round_trips(server_samples(), name, bytes_of, decode);
}

TEST(Messages, ReadingBackOneServerMessageNamesWhatTheFrameHolds) {
  const Frame chat = encode(server::ChatLine{std::nullopt, "hi"});
  auto same = decode_server_as<server::ChatLine>(chat);
  ASSERT_TRUE(same.has_value());
  EXPECT_EQ(*same, (server::ChatLine{std::nullopt, "hi"}));
  auto other = decode_server_as<server::TimeOfDay>(chat);
  ASSERT_FALSE(other.has_value());
  EXPECT_EQ(other.error().message(), "the frame holds ChatLine, not TimeOfDay");
}

TEST(Messages, ServerGoldenBytes) {
  struct Golden {
    const char* name;
    ServerMessage msg;
    const char* hex;
  };
  const Golden kGolden[] = {
      {"version mismatch", server::Disconnect{disconnect::VersionMismatch{90, 89}}, "0a 00 5a 59"},
      {"view distance limit", server::ViewDistanceLimit{8, 12}, "15 08 0c"},
      {"no theme", server::SetTheme{}, "30 00"},
      {"chat line", server::ChatLine{std::nullopt, "hi"}, "09 00 02 68 69"},
      {"not allowed", server::Disconnect{disconnect::NotAllowed{}}, "0a 03"},
      {"container view",
       server::ContainerView{"c", {StackDef{1, 1}, std::nullopt, StackDef{2, 1}}, std::nullopt},
       "1f 01 63 03 01 01 01 00 00 00 00 01 02 01 00 00 00 00"},
  };
  for (const auto& c : kGolden) {
    SCOPED_TRACE(c.name);
    const Frame frame = encode(c.msg);
    ASSERT_TRUE(frame.check().has_value());
    EXPECT_EQ(to_hex(frame.payload()), c.hex);
  }
}

TEST(Messages, ClientGoldenBytes) {
  EXPECT_EQ(to_hex(encode(ClientMessage{client::JoinWorld{}})), "03");
  EXPECT_EQ(to_hex(encode(ClientMessage{client::Disconnect{}})), "09");
  EXPECT_EQ(to_hex(encode(ClientMessage{client::CancelDig{}})), "0b");
  EXPECT_EQ(to_hex(encode(ClientMessage{client::DialogEvent{"f", dialog_event::Closed{}}})), "11 01 66 06");
}

TEST(Messages, DecodeRefusesInOrder) {
  struct Bad {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::string want;
  };
  std::vector<std::uint8_t> over(kMaxMessageBytes + 1, 0x03);
  const Bad kBad[] = {
      {"over the limit", over, "message is 1048577 bytes, over the 1048576-byte limit"},
      {"empty", {}, "message is empty"},
      {"unknown client variant 22", from_hex("16"), "malformed message"},
      {"huge variant index", from_hex("ff ff ff ff 0f"), "malformed message"},
      {"dialog event index 9", from_hex("11 01 66 09"), "malformed message"},
      {"list count past the end", from_hex("02 ff ff ff 7f"), "malformed message"},
      {"bad bool", from_hex("10 01 61 02"), "malformed message"},
      {"hello cut short", from_hex("00 5a 01 02"), "malformed message"},
      {"three spare bytes", from_hex("03 00 00 00"), "message decoded with 3 trailing bytes"},
  };
  for (const auto& c : kBad) {
    SCOPED_TRACE(c.name);
    auto got = decode_client(c.bytes);
    ASSERT_FALSE(got.has_value());
    EXPECT_EQ(got.error().message(), c.want);
  }
  EXPECT_EQ(decode_server(from_hex("3a")).error().message(), "malformed message");
  // Index 7 of the reason and 8 of the message are read, though never sent.
  EXPECT_TRUE(decode_server(from_hex("0a 07")).has_value());
  EXPECT_TRUE(decode_server(from_hex("08 01 00")).has_value());
}

TEST(Messages, EncodeServerRefusesOverTheLimit) {
  // ChunkData: index, pos (3 bytes), count varint (3 bytes), data, tint (3), fog (1).
  constexpr std::size_t kOverhead = 1 + 3 + 3 + 3 + 1;
  server::ChunkData at_limit{{0, 0, 0}, std::vector<std::uint8_t>(kMaxMessageBytes - kOverhead), {}, {}};
  const Frame ok = encode(at_limit);
  ASSERT_TRUE(ok.check().has_value());
  EXPECT_EQ(ok.size(), kMaxMessageBytes);

  server::ChunkData over = at_limit;
  over.data.push_back(0);
  auto refused = encode(over).check();
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error().kind(), ProtocolErrorKind::TooLarge);
  EXPECT_EQ(refused.error().message(), "message is 1048577 bytes, over the 1048576-byte limit");
}

}  // namespace
}  // namespace ostrel_core::proto
