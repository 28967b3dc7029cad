#include "proto/codec.hpp"

#include <gtest/gtest.h>

#include "proto/records/common.hpp"
#include "support/hex.hpp"

namespace ostrel_core::proto {
namespace {

using test::from_hex;
using test::to_hex;

TEST(RecordEncoding, GoldenIntegers) {
  EXPECT_EQ(to_hex(encode(std::int32_t{-1})), "01");
  EXPECT_EQ(to_hex(encode(std::int32_t{1})), "02");
  EXPECT_EQ(to_hex(encode(std::int32_t{-2})), "03");
  EXPECT_EQ(to_hex(encode(std::int32_t{INT32_MIN})), "ff ff ff ff 0f");
  EXPECT_EQ(decode_exact<std::int32_t>(encode(std::int32_t{INT32_MIN})).value(), INT32_MIN);
  EXPECT_EQ(to_hex(encode(std::uint16_t{49152})), "80 80 03");
  EXPECT_EQ(to_hex(encode(std::uint8_t{200})), "c8");
}

struct BadInput {
  const char* name;
  const char* hex;
};

TEST(RecordEncoding, VarintLimits) {
  EXPECT_EQ(decode_exact<std::uint16_t>(from_hex("80 80 03")).value(), 49152);
  EXPECT_EQ(decode_exact<std::uint32_t>(from_hex("ff ff ff ff 0f")).value(), 4294967295u);
  EXPECT_EQ(decode_exact<std::uint64_t>(from_hex("ff ff ff ff ff ff ff ff ff 01")).value(), UINT64_MAX);
  // Non-minimal forms are read.
  EXPECT_EQ(decode_exact<std::uint32_t>(from_hex("80 00")).value(), 0u);
  EXPECT_EQ(decode_exact<std::uint16_t>(from_hex("81 80 00")).value(), 1);
  constexpr BadInput kBad[] = {
      {"u16 third byte 4", "80 80 04"},
      {"u16 four bytes", "80 80 80 00"},
  };
  for (const auto& c : kBad) {
    SCOPED_TRACE(c.name);
    auto got = decode_exact<std::uint16_t>(from_hex(c.hex));
    ASSERT_FALSE(got);
    EXPECT_EQ(got.error().message(), "malformed message");
  }
  EXPECT_FALSE(decode_exact<std::uint32_t>(from_hex("ff ff ff ff 10")));
  EXPECT_FALSE(decode_exact<std::uint64_t>(from_hex("ff ff ff ff ff ff ff ff ff 02")));
}

TEST(RecordEncoding, OptionBoolAndTrailing) {
  EXPECT_FALSE(decode_exact<std::optional<std::uint8_t>>(from_hex("02")));
  EXPECT_EQ(decode_exact<std::optional<std::uint8_t>>(from_hex("01 07")).value(), std::uint8_t{7});
  EXPECT_FALSE(decode_exact<bool>(from_hex("02")));
  auto trailing = decode_exact<std::uint8_t>(from_hex("01 02 03 04"));
  ASSERT_FALSE(trailing);
  EXPECT_EQ(trailing.error().message(), "message decoded with 3 trailing bytes");
}

TEST(RecordEncoding, CountsAreBoundedByRemainingBytes) {
  // A count of 2^40 with three bytes left is refused before anything is allocated.
  auto got = decode_exact<std::vector<std::uint32_t>>(from_hex("80 80 80 80 80 20 01 02 03"));
  ASSERT_FALSE(got);
  EXPECT_EQ(got.error().decode_code(), DecodeCode::CountTooLarge);
  EXPECT_FALSE(decode_exact<std::string>(from_hex("02 c3 28")));  // invalid UTF-8
  EXPECT_EQ(decode_exact<std::string>(from_hex("02 68 69")).value(), "hi");
}

TEST(RecordEncoding, SignatureNeedsExactly64Bytes) {
  Signature s;
  s.bytes[0] = 0xAB;
  auto bytes = encode(s);
  ASSERT_EQ(bytes.size(), 65u);
  EXPECT_EQ(bytes[0], 64);
  EXPECT_EQ(decode_exact<Signature>(bytes).value(), s);
  bytes[0] = 63;
  EXPECT_FALSE(decode_exact<Signature>(bytes));
}

TEST(RecordEncoding, VariantIndexPastTheEndIsMalformed) {
  using V = std::variant<std::monostate, std::uint8_t>;
  EXPECT_EQ(decode_exact<V>(from_hex("01 05")).value(), V(std::uint8_t{5}));
  EXPECT_FALSE(decode_exact<V>(from_hex("02")));
}

TEST(RecordEncoding, MessageDecodeOrderOfChecks) {
  EXPECT_EQ(decode_message<std::uint8_t>({}).error().message(), "message is empty");
  std::vector<std::uint8_t> big(kMaxMessageBytes + 1);
  EXPECT_EQ(decode_message<std::uint8_t>(big).error().message(),
            "message is 1048577 bytes, over the 1048576-byte limit");
}

}  // namespace
}  // namespace ostrel_core::proto
