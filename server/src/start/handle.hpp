#pragma once
// The running server as the process holds it: the start-up settings made from the
// configuration file, and ServerHandle with its orderly stop.
//
// ServerHandle states:
//   Running  -> Stopped  [shutdown]  stop flag set, endpoint closed, network then simulation
//                                    thread joined; both thread handles gone
//   Stopped  -> Stopped  [shutdown]  the flag and the close again, without effect; answers true
// Dropping a handle that still holds a thread runs shutdown (for example while unwinding).

#include <atomic>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "base/error.hpp"
#include "sim/control.hpp"
#include "start/config.hpp"

namespace ostrel_server::transport::endpoint {
class Shared;
}

namespace ostrel_server::handle {

// The module path of every event of the start and the stop.
inline constexpr std::string_view kTarget = "ostrel_server::handle";

// View distances granted to players, in chunks; 0 counts as 1.
inline constexpr std::uint8_t kMaxViewDistance = 32;
inline constexpr std::uint8_t kMaxVerticalViewDistance = 16;

// Clamps to 1..=kMaxViewDistance.
std::uint8_t clamp_view_distance(std::uint8_t chunks);
// Clamps to 1..=kMaxVerticalViewDistance.
std::uint8_t clamp_vertical_view_distance(std::uint8_t chunks);

// Everything the server needs to start, made from the loaded configuration. Plain value: the
// starter copies what it keeps.
struct Settings {
  config::SocketAddr bind_addr;                  // UDP address of the QUIC endpoint
  std::filesystem::path world_path;              // holds world.sqlite and, by default, the certificate
  std::uint32_t max_players = 0;                 // at least 1 after validation
  std::optional<std::uint64_t> seed;             // absent: 8 bytes from the system's entropy source
  std::vector<std::pair<std::string, std::string>> world_options;  // (option id, value), ascending ids
  std::vector<std::string> operators;            // player ids, still unparsed
  std::optional<std::filesystem::path> mods_path;  // absent: no mods are loaded
  std::optional<std::vector<std::string>> enabled_mods;
  std::uint8_t view_distance = 1;                // chunks, 1..=kMaxViewDistance
  std::uint8_t vertical_view_distance = 1;       // chunks, 1..=kMaxVerticalViewDistance
  std::optional<config::RconConfig> rcon;        // present: the remote console is started
  std::vector<std::string> extra_materials;      // registered after the mods' blocks
  std::optional<std::filesystem::path> cert_dir;   // absent: world_path

  static Settings from_config(const config::Config& config);

  bool operator==(const Settings&) const = default;
};

class EndpointLink;

// A named operating-system thread that the stop joins. The body "panics" when an exception
// escapes it: the exception is caught at the top of the thread, its payload dropped unread, and
// the thread ends not clean. Nothing here calls std::terminate.
class ServerThread {
 public:
  ServerThread() = default;  // holds no thread; joins as clean
  ServerThread(ServerThread&&) noexcept = default;
  ServerThread& operator=(ServerThread&&) noexcept;
  ServerThread(const ServerThread&) = delete;
  ServerThread& operator=(const ServerThread&) = delete;
  // Joins a thread still held, ignoring how it ended.
  ~ServerThread();

  // Starts `body` on a thread named `name` (at most 15 bytes are kept). Fails with the operating
  // system's refusal.
  [[nodiscard]] static std::expected<ServerThread, ostrel_core::IoError> spawn(std::string name,
                                                                               std::function<void()> body);

  bool holds_thread() const { return thread_.joinable(); }
  // Waits for the thread to end and lets it go. True when its body returned, or when no thread
  // was held; false when it panicked.
  bool join();

 private:
  std::thread thread_;
  std::shared_ptr<std::atomic<bool>> panicked_;  // written by the thread, read after join
};

class ServerHandle {
 public:
  // What ServerHandle::start assembles; a test gives its own threads.
  ServerHandle(config::SocketAddr local_addr, sim::Control control, std::shared_ptr<EndpointLink> endpoint,
               std::shared_ptr<transport::endpoint::Shared> hub, ServerThread network,
               ServerThread simulation);
  ServerHandle(ServerHandle&&) noexcept = default;
  ServerHandle& operator=(ServerHandle&&) = delete;
  ServerHandle(const ServerHandle&) = delete;
  ServerHandle& operator=(const ServerHandle&) = delete;
  // Runs shutdown when a thread is still held; never throws.
  ~ServerHandle();

  // Stops the server and drops the handle: shutdown's answer.
  [[nodiscard]] bool stop() &&;

  // Sets the stop flag, closes the endpoint with 0 "server shutting down" on its own executor,
  // joins the network thread and then the simulation thread (no timeout), and only then logs
  // each that panicked, network first. True when both ended cleanly; a thread already taken
  // counts as clean.
  [[nodiscard]] bool shutdown();

  config::SocketAddr local_addr;                     // where the endpoint is bound
  sim::Control control;                              // the stop flag and the tick counters
  std::shared_ptr<EndpointLink> endpoint;            // null: nothing to close
  std::shared_ptr<transport::endpoint::Shared> hub;  // the player hub

 private:
  ServerThread network_;
  ServerThread simulation_;
};

}  // namespace ostrel_server::handle
