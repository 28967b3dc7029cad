#pragma once
// Golden bytes in tests are written as hex strings: "0c 05 00" or "0c0500".
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel_core::test {

std::vector<std::uint8_t> from_hex(std::string_view hex);
// Lowercase, bytes separated by one space.
std::string to_hex(std::span<const std::uint8_t> bytes);

}  // namespace ostrel_core::test
