#include "world/storage.hpp"

#include <fmt/format.h>

#include "proto/codec.hpp"

namespace ostrel_core::storage {

bool is_storable_text(std::string_view text) {
  return proto::is_valid_utf8({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

std::vector<std::uint8_t> encode_value(const Value& v) { return proto::encode(v); }

std::expected<Value, std::string> decode_value(std::span<const std::uint8_t> bytes) {
  proto::Reader r(bytes);
  // Peek at the tag first so that the description can name what went wrong.
  proto::Reader tag_reader(bytes);
  const std::uint32_t tag = tag_reader.u32();
  if (!tag_reader.ok()) return std::unexpected("value is empty or its tag is malformed");
  if (tag > 2) return std::unexpected(fmt::format("unknown value tag {}, expected 0, 1 or 2", tag));
  if (tag == 2 && tag_reader.remaining() > 0) {
    const std::uint8_t b = tag_reader.byte();
    if (b > 1) return std::unexpected(fmt::format("boolean byte is {}, not 0 or 1", b));
  }
  Value v;
  proto::read_value(r, v);
  if (r.ok()) return v;
  switch (r.code()) {
    case proto::DecodeCode::BadUtf8:
      return std::unexpected("text value is not valid UTF-8");
    case proto::DecodeCode::CountTooLarge:
      return std::unexpected("text value is longer than the bytes stored");
    default:
      return std::unexpected(tag == 1 ? "number value needs 8 bytes" : "value is truncated");
  }
}

}  // namespace ostrel_core::storage
