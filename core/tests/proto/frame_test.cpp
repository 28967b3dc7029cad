#include "proto/frame.hpp"

#include <gtest/gtest.h>

#include "proto/server_message.hpp"
#include "support/hex.hpp"

namespace ostrel_core::proto {
namespace {

using test::to_hex;

TEST(Frame, NamesAndIndexesItsMessage) {
  const Frame chat = encode(server::ChatLine{std::nullopt, "hi"});
  EXPECT_EQ(to_hex(chat.payload()), "09 00 02 68 69");
  EXPECT_EQ(chat.size(), 5u);
  EXPECT_EQ(chat.index(), 9u);
  EXPECT_EQ(chat.name(), "ChatLine");
  EXPECT_TRUE(chat.check().has_value());

  const Frame last = encode(server::SetHover{});
  EXPECT_EQ(last.index(), 57u);
  EXPECT_EQ(last.name(), "SetHover");
  EXPECT_EQ(server_message_name(std::uint32_t{58}), "?");
}

TEST(Broadcast, EveryCopySharesTheOneFrame) {
  const Broadcast b{"mod:moon", ChunkPos{1, -2, 3}, encode(server::ChunkUnload{{1, -2, 3}})};
  const Broadcast copy = b;  // what each receiver of the channel holds
  EXPECT_EQ(copy.frame.get(), b.frame.get());
  EXPECT_EQ(b.frame.use_count(), 2);
  EXPECT_EQ(copy.chunk, (ChunkPos{1, -2, 3}));
  auto back = decode_server(*copy.frame);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(*back, ServerMessage(server::ChunkUnload{{1, -2, 3}}));
}

TEST(Broadcast, ReachesPlayersInItsDomainOrEveryoneWithoutOne) {
  const Broadcast everywhere{std::nullopt, std::nullopt, encode(server::TimeOfDay{0.5f})};
  const Broadcast moon{"mod:moon", std::nullopt, encode(server::TimeOfDay{0.5f})};
  struct Case {
    const char* name;
    const Broadcast& broadcast;
    std::optional<std::string_view> player_domain;
    bool reaches;
  };
  const Case cases[] = {
      {"no domain, player on the moon", everywhere, "mod:moon", true},
      {"no domain, player without a domain", everywhere, std::nullopt, true},
      {"moon, player on the moon", moon, "mod:moon", true},
      {"moon, player in the overworld", moon, "overworld", false},
      {"moon, player without a domain", moon, std::nullopt, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.broadcast.reaches(c.player_domain), c.reaches);
  }
}

}  // namespace
}  // namespace ostrel_core::proto
