#pragma once
// The console commands' help line.

#include <string_view>

namespace ostrel_server::rcon {

inline constexpr std::string_view kHelp =
    "status | save | stop | kick <name> [reason] | mods | rename <name> <new> | rebind <uuid> <pubkey-hex> | "
    "allowlist [list|on|off|add <uuid>|remove <uuid>] | quit";

}  // namespace ostrel_server::rcon
