#include "start/serving.hpp"

#include "base/log.hpp"

namespace ostrel_server::handle {

bool wait_and_stop(ServerHandle handle, shutdown::Signal& signal) {
  namespace log = ostrel_core::log;
  signal.wait();
  const std::uint64_t ticks = handle.control ? handle.control->ticks() : 0;
  const std::uint64_t dropped = handle.control ? handle.control->dropped() : 0;
  OSTREL_INFO(kMainTarget, "shutting down", log::value("ticks", ticks), log::value("dropped", dropped));
  if (!std::move(handle).stop()) return false;
  OSTREL_INFO(kMainTarget, "world flushed and closed");
  return true;
}

}  // namespace ostrel_server::handle
