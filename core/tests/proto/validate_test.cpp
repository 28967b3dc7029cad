#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "proto/client.hpp"
#include "proto/codec.hpp"
#include "support/hex.hpp"

namespace ostrel_core::proto {
namespace {

std::string bytes(std::size_t n) { return std::string(n, 'a'); }
std::vector<std::uint16_t> cells(std::size_t n, std::uint16_t m = 1) { return std::vector<std::uint16_t>(n, m); }

client::DialogEvent dialog(dialog_event::Chiselled e) { return {"f", std::move(e)}; }

struct Case {
  const char* name;
  ClientMessage msg;
  const char* want;  // nullptr: valid
};

TEST(ValidateClientMessage, LimitsAndTexts) {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
  // Cell 1 set where the mask says cell 0.
  std::vector<std::uint16_t> only_cell_1(27, 0);
  only_cell_1[1] = 5;
  const Case kCases[] = {
      {"name 32 bytes", client::Hello{90, {}, bytes(32)}, nullptr},
      {"name empty", client::Hello{90, {}, ""}, "display_name is 0 bytes, over the 32-byte limit"},
      {"name 33 bytes", client::Hello{90, {}, bytes(33)}, "display_name is 33 bytes, over the 32-byte limit"},
      {"1024 hashes", client::ContentRequest{std::vector<Hash>(1024)}, nullptr},
      {"1025 hashes", client::ContentRequest{std::vector<Hash>(1025)},
       "content_request is 1025 bytes, over the 1024-byte limit"},
      {"input yaw +inf", client::PlayerInput{1, {}, kInf, 0, 0}, "player_input is 0 bytes, over the 0-byte limit"},
      {"input walk y NaN", client::PlayerInput{1, {0, kNaN, 0}, 0, 0, 0},
       "player_input is 0 bytes, over the 0-byte limit"},
      {"input pitch -inf", client::PlayerInput{1, {}, 0, -kInf, 0}, "player_input is 0 bytes, over the 0-byte limit"},
      {"input finite", client::PlayerInput{1, {1e30f, -1e30f, 0}, 3, -3, 0xFF}, nullptr},
      {"delta full mask", client::BlockDelta{edit::Partial{{}, 1, 0x7FFFFFF}}, nullptr},
      {"delta mask bit 27", client::BlockDelta{edit::Partial{{}, 1, 0x8000001}},
       "occupancy is 2 bytes, over the 27-byte limit"},
      {"chat 512", client::Chat{bytes(512)}, nullptr},
      {"chat 513", client::Chat{bytes(513)}, "chat is 513 bytes, over the 512-byte limit"},
      {"chat counts bytes", client::Chat{std::string(257, 'a') + std::string(128, '\0') + "\xC3\xA9\xC3\xA9" +
                                         std::string(124, 'b')},
       "chat is 513 bytes, over the 512-byte limit"},
      {"tool none", client::SelectTool{std::nullopt}, nullptr},
      {"tool 33", client::SelectTool{bytes(33)}, "tool is 33 bytes, over the 32-byte limit"},
      {"place detail over wins over cells", client::Place{{}, 1, 0, {}, bytes(300), cells(5)},
       "place_detail is 300 bytes, over the 256-byte limit"},
      {"place 5 cells", client::Place{{}, 1, 0, {}, bytes(256), cells(5)},
       "place_cells is 5 bytes, over the 27-byte limit"},
      {"place 27 cells", client::Place{{}, 1, 0x7FFFFFF, {}, std::nullopt, cells(27)}, nullptr},
      {"action 129", client::Action{bytes(129), true}, "action_id is 129 bytes, over the 128-byte limit"},
      {"setting 129", client::SetSetting{bytes(129), 1}, "setting_id is 129 bytes, over the 128-byte limit"},
      {"setting 128", client::SetSetting{bytes(128), 1}, nullptr},
      {"dialog form 129", client::DialogEvent{bytes(129), dialog_event::Closed{}},
       "dialog_form is 129 bytes, over the 128-byte limit"},
      {"pressed name 129", client::DialogEvent{"f", dialog_event::Pressed{bytes(129), PressClick::Double}},
       "widget_name is 129 bytes, over the 128-byte limit"},
      {"slid name 129", client::DialogEvent{"f", dialog_event::Slid{bytes(129), -4}},
       "widget_name is 129 bytes, over the 128-byte limit"},
      {"submitted text 513", client::DialogEvent{"f", dialog_event::Submitted{"w", bytes(513)}},
       "dialog_text is 513 bytes, over the 512-byte limit"},
      {"submitted name first", client::DialogEvent{"f", dialog_event::Submitted{bytes(129), bytes(513)}},
       "widget_name is 129 bytes, over the 128-byte limit"},
      {"clicked view 129", client::DialogEvent{"f", dialog_event::Clicked{bytes(129), 0, SlotClick::Left}},
       "view is 129 bytes, over the 128-byte limit"},
      {"chiselled shape over", dialog(dialog_event::Chiselled{"ed", {}, 0x8000000}),
       "chiselled_shape is 134217728 bytes, over the 134217727-byte limit"},
      {"chiselled 5 cells", dialog(dialog_event::Chiselled{"ed", cells(5), 0}),
       "chiselled_cells is 5 bytes, over the 27-byte limit"},
      {"chiselled mismatch", dialog(dialog_event::Chiselled{"ed", only_cell_1, 0x1}),
       "chiselled `ed`: shape editor mask 0x1 is not its cells' occupancy 0x2"},
      {"chiselled match", dialog(dialog_event::Chiselled{"ed", only_cell_1, 0x2}), nullptr},
      {"chiselled no cells", dialog(dialog_event::Chiselled{"ed", {}, 0x7FFFFFF}), nullptr},
      {"dropped", client::DialogEvent{"f", dialog_event::Dropped{SlotClick::Right}}, nullptr},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    auto r = validate_client_message(c.msg);
    if (c.want == nullptr) {
      EXPECT_TRUE(r.has_value()) << r.error().message();
    } else {
      ASSERT_FALSE(r.has_value());
      EXPECT_EQ(r.error().message(), c.want);
    }
  }
}

TEST(ValidateClientMessage, FieldTooLongCarriesItsParts) {
  auto r = validate_client_message(client::Chat{bytes(600)});
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().kind(), ProtocolErrorKind::FieldTooLong);
  EXPECT_EQ(r.error().count(), 600u);
  auto inv = validate_client_message(dialog(dialog_event::Chiselled{"ed", cells(27), 0}));
  ASSERT_FALSE(inv.has_value());
  EXPECT_EQ(inv.error().kind(), ProtocolErrorKind::Invalid);
}

TEST(ValidateClientMessage, DecodeAndValidateTogether) {
  // An over-long chat line decodes fine; only validation refuses it.
  auto bytes_of_chat = encode(ClientMessage{client::Chat{bytes(513)}});
  EXPECT_TRUE(decode_client(bytes_of_chat).has_value());
  auto both = decode_and_validate_client(bytes_of_chat);
  ASSERT_FALSE(both.has_value());
  EXPECT_EQ(both.error().message(), "chat is 513 bytes, over the 512-byte limit");
  // Decoding errors come first.
  EXPECT_EQ(decode_and_validate_client({}).error().message(), "message is empty");
  auto join = decode_and_validate_client(test::from_hex("03"));
  ASSERT_TRUE(join.has_value());
  EXPECT_EQ(client_message_name(*join), "JoinWorld");
}

}  // namespace
}  // namespace ostrel_core::proto
