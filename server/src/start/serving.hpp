#pragma once
// The end of serving as main runs it: wait for an interrupt, terminate or hang-up signal, or for
// the console's stop (which wakes the same wait), then stop the server in order.

#include "start/handle.hpp"
#include "start/shutdown.hpp"

namespace ostrel_server::handle {

// The module path of main's own events.
inline constexpr std::string_view kMainTarget = "server";

// Blocks in `signal`'s wait, logs (as main) "shutting down" with the tick counters read then, stops the
// server and, when both threads ended cleanly, logs "world flushed and closed". Answers whether
// they did.
[[nodiscard]] bool wait_and_stop(ServerHandle handle, shutdown::Signal& signal);

}  // namespace ostrel_server::handle
