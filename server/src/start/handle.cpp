#include "start/handle.hpp"

#include <cxxabi.h>
#include <pthread.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <system_error>

#include "base/log.hpp"
#include "start/endpoint_link.hpp"

namespace ostrel_server::handle {

std::uint8_t clamp_view_distance(std::uint8_t chunks) {
  return std::clamp<std::uint8_t>(chunks, 1, kMaxViewDistance);
}

std::uint8_t clamp_vertical_view_distance(std::uint8_t chunks) {
  return std::clamp<std::uint8_t>(chunks, 1, kMaxVerticalViewDistance);
}

Settings Settings::from_config(const config::Config& config) {
  Settings s;
  s.bind_addr = config.bind_addr;
  s.world_path = config.world_path;
  s.max_players = config.max_players;
  s.seed = config.seed;
  s.world_options.assign(config.world_options.begin(), config.world_options.end());  // map order: ascending
  s.operators = config.operators;
  s.mods_path = config.mods_path;
  s.enabled_mods = config.enabled_mods;
  s.view_distance = clamp_view_distance(config.view_distance);
  s.vertical_view_distance = clamp_vertical_view_distance(config.vertical_view_distance);
  s.rcon = config.rcon;
  return s;
}

// ---- ServerThread -----------------------------------------------------------------------------

ServerThread& ServerThread::operator=(ServerThread&& other) noexcept {
  if (this != &other) {
    if (thread_.joinable()) thread_.join();
    thread_ = std::move(other.thread_);
    panicked_ = std::move(other.panicked_);
  }
  return *this;
}

ServerThread::~ServerThread() {
  if (thread_.joinable()) thread_.join();
}

std::expected<ServerThread, ostrel_core::IoError> ServerThread::spawn(std::string name,
                                                                      std::function<void()> body) {
  ServerThread t;
  t.panicked_ = std::make_shared<std::atomic<bool>>(false);
  name.resize(std::min<std::size_t>(name.size(), 15));  // the kernel keeps 15 bytes and a NUL
  try {
    t.thread_ = std::thread([panicked = t.panicked_, name = std::move(name), body = std::move(body)] {
      pthread_setname_np(pthread_self(), name.c_str());
      try {
        body();
      } catch (abi::__forced_unwind&) {
        throw;  // a cancelled thread must finish unwinding
      } catch (...) {
        // The thread's owner sees it as panicked; the payload is not its business.
        panicked->store(true, std::memory_order_release);
      }
    });
  } catch (const std::system_error& e) {
    return std::unexpected(ostrel_core::IoError::from_code(e.code()));
  }
  return t;
}

bool ServerThread::join() {
  if (!thread_.joinable()) return true;
  thread_.join();
  return !panicked_->load(std::memory_order_acquire);
}

// ---- ServerHandle -----------------------------------------------------------------------------

ServerHandle::ServerHandle(config::SocketAddr local_addr, sim::Control control,
                           std::shared_ptr<EndpointLink> endpoint,
                           std::shared_ptr<transport::endpoint::Shared> hub, ServerThread network,
                           ServerThread simulation)
    : local_addr(local_addr),
      control(std::move(control)),
      endpoint(std::move(endpoint)),
      hub(std::move(hub)),
      network_(std::move(network)),
      simulation_(std::move(simulation)) {}

ServerHandle::~ServerHandle() {
  if (!network_.holds_thread() && !simulation_.holds_thread()) return;
  // Dropped while running (an early return, an unwinding failure in main): the same orderly
  // stop. It logs a thread that panicked itself; nobody is left to read its answer.
  try {
    [[maybe_unused]] const bool clean = shutdown();
  } catch (const std::exception& e) {
    // Only running out of memory gets here; the threads are still joined as the members go.
    std::fprintf(stderr, "the server stop failed: %s\n", e.what());
  }
}

bool ServerHandle::stop() && {
  ServerHandle dropped = std::move(*this);
  return dropped.shutdown();
}

bool ServerHandle::shutdown() {
  if (control) control->request_stop();
  if (endpoint) endpoint->close();
  const bool network_clean = std::exchange(network_, ServerThread()).join();
  const bool simulation_clean = std::exchange(simulation_, ServerThread()).join();
  if (!network_clean) OSTREL_ERROR(kTarget, "the network thread panicked");
  if (!simulation_clean)
    OSTREL_ERROR(kTarget, "the simulation thread panicked; the world may be inconsistent");
  return network_clean && simulation_clean;
}

}  // namespace ostrel_server::handle
