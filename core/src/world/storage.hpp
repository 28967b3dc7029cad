#pragma once
// One value of a mod's key-value storage: a string, a 64-bit float or a boolean.
//
// Stored form (the record encoding of the variant): the tag as a varint, then the value.
//   TAG  VARIANT  FOLLOWED BY
//    0   text     varint byte count, UTF-8 bytes      "hi"  -> 00 02 68 69
//    1   number   8 bytes, little-endian IEEE double  1.0   -> 01 00 00 00 00 00 00 f0 3f
//    2   boolean  one byte, 0 or 1                    true  -> 02 01

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <variant>
#include <vector>

namespace ostrel_core::storage {

struct Value {
  std::variant<std::string, double, bool> data;

  static Value text(std::string s) { return Value{std::move(s)}; }
  static Value number(double v) { return Value{v}; }
  static Value boolean(bool v) { return Value{v}; }

  const std::string* as_text() const { return std::get_if<std::string>(&data); }
  const double* as_number() const { return std::get_if<double>(&data); }
  const bool* as_bool() const { return std::get_if<bool>(&data); }

  static constexpr auto fields() { return std::tuple{&Value::data}; }
  friend bool operator==(const Value&, const Value&) = default;
};

// Whether a text can be a stored value: exactly the texts decode_value reads back (UTF-8).
bool is_storable_text(std::string_view text);

std::vector<std::uint8_t> encode_value(const Value& v);
// Reads one value from the front of `bytes`; bytes after it are ignored. The error is a short
// description of what is wrong ("boolean byte is 2, not 0 or 1").
std::expected<Value, std::string> decode_value(std::span<const std::uint8_t> bytes);

}  // namespace ostrel_core::storage
