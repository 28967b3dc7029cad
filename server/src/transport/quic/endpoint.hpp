#pragma once
// The QUIC transport: one UDP socket serving many connections, each with at most one
// bidirectional stream opened by the client. The surface is kept narrow (endpoint, connection,
// stream) so that the QUIC library behind it can change without touching its users.
//
// Threads: every object here belongs to the endpoint's executor (a strand). Coroutines that use
// a Connection or Stream run on Endpoint::executor().

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <asio/ip/udp.hpp>

#include "base/clock.hpp"
#include "base/error.hpp"
#include "transport/limits.hpp"

namespace ostrel_server::cert {
struct ServerCert;
}

namespace ostrel_server::transport::quic {

namespace detail {
struct Conn;
struct EndpointCore;
}  // namespace detail

inline constexpr std::string_view kAlpn = "ostrel/1";

// "127.0.0.1:4433", "[::1]:4433".
std::string format_addr(const asio::ip::udp::endpoint& addr);

// What one endpoint lets clients hold; the defaults are those of limits.hpp.
struct Limits {
  std::size_t connections = transport::limits::kMaxConnections;
  std::size_t per_address = transport::limits::kMaxPerAddress;
  std::size_t unproven_per_address = transport::limits::kMaxUnprovenPerAddress;
  std::size_t retry_above = transport::limits::kRetryAbove;
  std::chrono::milliseconds retry_token_lifetime = transport::limits::kRetryTokenLifetime;
};

struct Settings {
  std::chrono::milliseconds idle_timeout = transport::limits::kIdleTimeout;
  std::chrono::milliseconds keep_alive = transport::limits::kKeepAlive;
  std::chrono::milliseconds handshake_timeout = transport::limits::kHandshakeTimeout;
  Limits limits{};  // a server's admission of new connections
  // A server endpoint's time: timestamps, timers and deadlines. Outlives the endpoint. (A client
  // endpoint takes its clock in Endpoint::client.)
  const ostrel_core::clock::Clock* clock = &ostrel_core::clock::steady();
};

// What a server endpoint holds and has turned away, for tests and benchmarks.
struct Stats {
  std::size_t connections = 0;   // not yet gone
  std::size_t half_open = 0;     // of those, still handshaking
  std::size_t retries = 0;       // Retry packets sent
  std::size_t refused = 0;       // Initials answered with a refusal
};

// How a connection was closed, as reported by the peer or decided here.
struct CloseInfo {
  enum class Kind : std::uint8_t {
    Application,  // an application code and reason (ours: 0 "server shutting down", ...)
    Transport,    // a QUIC transport error code, e.g. 0x178 for a refused ALPN
    IdleTimeout,  // nothing heard for the idle timeout
    Handshake,    // the handshake never completed in time
    Deadline,     // closed here because it missed a deadline; reason says which
  };
  Kind kind = Kind::Application;
  std::uint64_t code = 0;
  std::string reason;
  bool by_peer = false;

  std::string describe() const;  // "closed by peer with code 0: server shutting down"
};

enum class EndpointErrorKind : std::uint8_t {
  Bind,  // the UDP socket could not be opened or bound; source: the OS error
  Tls,   // the TLS library refused the certificate, key or settings; source: its error
  Quic,  // the QUIC library could not be set up; source: its error
};

class EndpointError {
 public:
  EndpointError(EndpointErrorKind kind, std::string addr, ostrel_core::SourcePtr source)
      : kind_(kind), addr_(std::move(addr)), source_(std::move(source)) {}
  EndpointErrorKind kind() const { return kind_; }
  std::string message() const;
  const ostrel_core::ErrorSource* source() const { return source_.get(); }

 private:
  EndpointErrorKind kind_;
  std::string addr_;  // the address of Bind
  ostrel_core::SourcePtr source_;
};

// Why a connection did not get as far as asked (handshake, stream).
class ConnectionError {
 public:
  explicit ConnectionError(CloseInfo info) : info_(std::move(info)) {}
  const CloseInfo& info() const { return info_; }
  std::string message() const { return info_.describe(); }
  const ostrel_core::ErrorSource* source() const { return nullptr; }

 private:
  CloseInfo info_;
};

// The one bidirectional stream of a connection. A handle: copies share the stream. Reading
// returns flow-control credit to the peer as bytes are taken; writing waits while too much
// sent data is still unacknowledged.
class Stream {
 public:
  explicit Stream(std::shared_ptr<detail::Conn> conn);

  // At least one byte, or 0 at the end of the peer's data. Errors carry a StreamErrc code.
  asio::awaitable<std::expected<std::size_t, ostrel_core::IoError>> read_some(std::span<std::uint8_t> buf);
  asio::awaitable<std::expected<std::size_t, ostrel_core::IoError>> write_some(std::span<const std::uint8_t> buf);
  // No more data will be written; what was written is still delivered.
  void finish();
  // Until the peer has acknowledged every byte written (and the end, after finish), or stopped
  // the stream, or the connection ended, or `limit` passed. True when everything was
  // acknowledged.
  asio::awaitable<bool> delivered(std::chrono::milliseconds limit);

 private:
  std::shared_ptr<detail::Conn> conn_;
};

class Connection {
 public:
  explicit Connection(std::shared_ptr<detail::Conn> conn);

  // Until the handshake has completed (ALPN checked) or failed.
  asio::awaitable<std::expected<void, ConnectionError>> handshake();
  // Server: until the client opens its stream, or the connection ends.
  asio::awaitable<std::expected<Stream, ConnectionError>> accept_stream();
  // Client: opens the one bidirectional stream. REQUIRES: the handshake has completed.
  std::expected<Stream, ConnectionError> open_stream();
  // Closes with an application code and reason; idempotent, the first close wins. Before the
  // handshake completes the peer sees a transport-level application error without reason.
  void close(std::uint64_t code, std::string_view reason);
  // Closes at the transport level with `code` (0 is NO_ERROR), with no application code.
  // Idempotent like close().
  void close_transport(std::uint64_t code);
  // Until the connection is gone (its closing period over). Returns how it ended.
  asio::awaitable<CloseInfo> closed();
  // How it ended or is ending; nothing while it is open.
  std::optional<CloseInfo> close_info() const;
  // Closes the connection with application code 0 and `reason` once `after` has passed on the
  // endpoint's clock since the handshake completed, unless another deadline replaces it or
  // clear_deadline() removes it first. REQUIRES: the handshake has completed.
  void set_deadline(std::chrono::milliseconds after, std::string reason);
  void clear_deadline();

  asio::ip::udp::endpoint remote() const;
  // The peer's first certificate (DER); empty when it sent none.
  std::vector<std::uint8_t> peer_certificate() const;
  std::string alpn() const;  // the negotiated protocol, empty when none

 private:
  std::shared_ptr<detail::Conn> conn_;
};

struct ClientOptions {
  std::vector<std::string> alpn{std::string(kAlpn)};  // offered protocols; empty offers none
  Settings settings{};  // the timeouts; a client uses its endpoint's clock and admits nothing
};

class Endpoint {
 public:
  Endpoint(Endpoint&&) noexcept;
  Endpoint& operator=(Endpoint&&) noexcept;
  // Closes the socket; connections still open are dropped without a word.
  // REQUIRES: called on executor(), or once the runtime no longer runs.
  ~Endpoint();

  // A server endpoint at `addr` presenting `cert`, on a strand of `ex`.
  [[nodiscard]] static std::expected<Endpoint, EndpointError> bind(const asio::any_io_executor& ex,
                                                                   const asio::ip::udp::endpoint& addr,
                                                                   const cert::ServerCert& cert,
                                                                   const Settings& settings = {});
  // A client endpoint on an ephemeral port of the same address family as `server_family`,
  // bound to `local` when given (a loopback address of its own, in tests). `clock` outlives it.
  [[nodiscard]] static std::expected<Endpoint, EndpointError> client(
      const asio::any_io_executor& ex, const asio::ip::udp::endpoint& server_family,
      const ostrel_core::clock::Clock& clock = ostrel_core::clock::steady(),
      std::optional<asio::ip::address> local = std::nullopt);

  const asio::any_io_executor& executor() const;
  std::optional<asio::ip::udp::endpoint> local_address() const;

  // Server: the next connection whose first packet was good, or nothing once closed.
  asio::awaitable<std::optional<Connection>> accept();
  // Client: starts a handshake with `server`; wait with Connection::handshake().
  std::expected<Connection, ConnectionError> connect(const asio::ip::udp::endpoint& server,
                                                     const ClientOptions& options = {});
  // Stops accepting and closes every connection with `code` and `reason`.
  void close(std::uint64_t code, std::string_view reason);
  // Until every connection has finished closing.
  asio::awaitable<void> wait_idle();
  // Connections not yet gone, and the connection ids routed to them.
  std::size_t connection_count() const;
  std::size_t routed_id_count() const;
  Stats stats() const;

 private:
  explicit Endpoint(std::shared_ptr<detail::EndpointCore> core);
  std::shared_ptr<detail::EndpointCore> core_;
};

}  // namespace ostrel_server::transport::quic
