#include <gtest/gtest.h>

#include "proto/codec.hpp"
#include "proto/records/dialog.hpp"
#include "proto/records/edit.hpp"
#include "proto/records/entity.hpp"
#include "proto/records/sky.hpp"

#include "support/hex.hpp"

namespace ostrel_core::proto {
namespace {

using test::from_hex;
using test::to_hex;

// The error of decoding `bytes` as a T. REQUIRES: the bytes do not decode.
template <class T>
ProtocolError error_of(std::span<const std::uint8_t> bytes) {
  return decode_exact<T>(bytes).error();
}

TEST(WireRecords, GoldenBytes) {
  EXPECT_EQ(to_hex(encode(StackDef{12, 5, 0, std::nullopt, {}})), "0c 05 00 00 00");
  EXPECT_EQ(to_hex(encode(Edit{edit::Partial{{1, 0, -1}, 3, 0x1FF}})), "02 02 00 01 03 ff 03");
  EXPECT_EQ(to_hex(encode(Edit{edit::Set{{0, -1, 0}, 7}})), "00 00 01 00 07");
  EXPECT_EQ(to_hex(encode(DialogEvent{dialog_event::Closed{}})), "06");
  EXPECT_EQ(to_hex(encode(DialogEvent{dialog_event::Dropped{SlotClick::ShiftRight}})), "08 03");
  EXPECT_EQ(to_hex(encode(StackDef{1, 2, 0x7FFFFFF, "a", {}})), "01 02 ff ff ff 3f 01 01 61 00");
}

TEST(WireRecords, DecodeGoldenAndRefuseBadIndices) {
  auto edit = decode_exact<Edit>(from_hex("02 02 00 01 03 ff 03"));
  ASSERT_TRUE(edit.has_value());
  EXPECT_EQ(*edit, (Edit{edit::Partial{{1, 0, -1}, 3, 0x1FF}}));

  struct Bad {
    const char* name;
    const char* hex;
    ProtocolError (*decode)(std::span<const std::uint8_t>);
  };
  constexpr Bad kBad[] = {
      {"dialog event index 9", "09", error_of<DialogEvent>},
      {"edit index 3", "03 00 00 00 00", error_of<Edit>},
      {"press click 3", "00 01 61 03", error_of<DialogEvent>},
      {"slot click 4", "08 04", error_of<DialogEvent>},
      {"stack cut short", "0c 05 00 00", error_of<StackDef>},
  };
  for (const auto& c : kBad) {
    SCOPED_TRACE(c.name);
    auto got = c.decode(from_hex(c.hex));
    EXPECT_EQ(got.kind(), ProtocolErrorKind::Malformed);
    EXPECT_EQ(got.message(), "malformed message");
  }
}

TEST(WireRecords, EntityRecordsKeepTheirFieldOrder) {
  EntityDelta d{7, {1, -1, 0}, {1.0f, 2.0f, 3.0f}, {0.0f, 0.0f, 0.0f}, 64, -127, 2, {10, 20, 30}};
  // id, chunk, 24 bytes of floats, yaw, pitch (raw signed byte), anim, colour.
  std::string hex = to_hex(encode(d));
  EXPECT_EQ(hex.substr(0, 11), "07 02 01 00");
  EXPECT_EQ(hex.substr(hex.size() - 6 * 3 + 1), "40 81 02 0a 14 1e");
  EXPECT_EQ(encode(d).size(), 1u + 3 + 24 + 3 + 3);
  EXPECT_EQ(decode_exact<EntityDelta>(encode(d)).value(), d);

  // Nineteen f32 per keyframe.
  EXPECT_EQ(encode(SkyFrame{}).size(), 76u);
  ChunkFog fog{{1, 2, 3}, 300, -5, std::nullopt};
  EXPECT_EQ(to_hex(encode(fog)), "01 02 03 ac 02 01 09 00");
}

}  // namespace
}  // namespace ostrel_core::proto
