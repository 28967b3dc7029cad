#pragma once
// Pieces of the console commands that need no hub: the help line and key parsing.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace ostrel_server::rcon {

inline constexpr std::string_view kHelp =
    "status | save | stop | kick <name> [reason] | mods | rename <name> <new> | rebind <uuid> <pubkey-hex> | "
    "allowlist [list|on|off|add <uuid>|remove <uuid>] | quit";

// Exactly 64 hexadecimal digits (either case) as 32 bytes, byte i from characters 2i and 2i+1.
std::optional<std::array<std::uint8_t, 32>> hex_to_32(std::string_view text);

}  // namespace ostrel_server::rcon
