#pragma once
// Internals of the QUIC transport, shared by endpoint.cpp, conn.cpp and tls.cpp only.
// Not for use outside server/src/transport/quic.
//
// Connection phases:
//   Handshaking -> Open      [on_handshake_completed]  ALPN checked
//   Handshaking/Open -> Closing  [start_closing]      CONNECTION_CLOSE sent and kept for resends
//   Handshaking/Open -> Draining [read: ERR_DRAINING]  peer closed; we stay silent
//   Closing/Draining -> Gone     [timer: 3 x PTO]
//   any -> Gone                  [destroy]            idle timeout, handshake timeout, dropped
// In Gone the connection ids are unrouted and the endpoint forgets the connection.

#include <ngtcp2/ngtcp2.h>
#include <ngtcp2/ngtcp2_crypto.h>
#include <gnutls/gnutls.h>
#include <sys/socket.h>

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <asio/ip/udp.hpp>
#include <asio/steady_timer.hpp>
#include <asio/strand.hpp>

#include "transport/quic/endpoint.hpp"

namespace ostrel_server::transport::quic::detail {

inline constexpr std::size_t kCidBytes = 18;           // every connection id we issue
inline constexpr std::size_t kMaxDatagram = 1452;      // our largest UDP payload
inline constexpr std::size_t kSendChunk = 32 * 1024;   // send buffer pieces, stable until acked
inline constexpr std::uint64_t kSendLimit = 4 << 20;   // unacknowledged bytes before writes wait
inline constexpr std::size_t kRecvKeep = 256 * 1024;   // receive room kept once everything is read

using ostrel_core::clock::Clock;
using ostrel_core::clock::Instant;

// A set of coroutines waiting for "something changed"; notify wakes them all.
class Waiters {
 public:
  // Until notified, or until `until` on `clock` when given. A manual clock's step notifies
  // every waiter of the endpoint, so a deadline on it is seen at the next step.
  asio::awaitable<void> wait(const asio::any_io_executor& ex, const Clock& clock,
                             std::optional<Instant> until = std::nullopt);
  void notify();

 private:
  std::vector<asio::steady_timer*> timers_;
};

// Stream bytes given to the QUIC library stay at one address until acknowledged. Held in
// pieces of kSendChunk; a piece is freed once every byte in it is acknowledged, the last one
// too, so a connection whose data is all acknowledged holds nothing.
class SendBuffer {
 public:
  std::size_t append(std::span<const std::uint8_t> data);  // all of it
  // Vectors over bytes [from, end); at most `max` of them. REQUIRES: from >= released().
  std::size_t gather(std::uint64_t from, ngtcp2_vec* out, std::size_t max) const;
  void release_before(std::uint64_t offset);  // frees the pieces wholly below offset
  std::uint64_t end() const { return end_; }
  std::size_t pieces() const { return chunks_.size(); }

 private:
  std::deque<std::unique_ptr<std::array<std::uint8_t, kSendChunk>>> chunks_;
  std::uint64_t base_ = 0;  // stream offset of chunks_.front()->data()
  std::uint64_t end_ = 0;   // stream offset one past the last byte appended
};

// Received stream bytes not yet read, in one buffer whose room is reused: appending a packet's
// data allocates only while the backlog grows past what is held. Room over kRecvKeep is given
// back once everything has been read.
class RecvBuffer {
 public:
  void append(std::span<const std::uint8_t> data);
  std::size_t take(std::span<std::uint8_t> out);  // copies and drops up to out.size() bytes
  bool empty() const { return read_ == bytes_.size(); }

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t read_ = 0;  // bytes_[0, read_) were taken
};

struct TlsContext;  // credentials, defined in tls.cpp
std::shared_ptr<TlsContext> make_server_tls(const cert::ServerCert& cert, std::string* error);
std::shared_ptr<TlsContext> make_client_tls(std::string* error);
// Sets up `session` for `conn`; false on failure.
bool configure_tls(const TlsContext& ctx, bool server, const std::vector<std::string>& alpn,
                   gnutls_session_t* session, ngtcp2_crypto_conn_ref* ref);

enum class Phase : std::uint8_t { Handshaking, Open, Closing, Draining, Gone };

// The address a client is counted under: an IPv4 address as its IPv6-mapped form, an IPv6
// address cut to its /64 prefix.
using AddressKey = std::array<std::uint8_t, 16>;
AddressKey address_key(const sockaddr* addr);
struct AddressKeyHash {
  std::size_t operator()(const AddressKey& k) const {
    return std::hash<std::string_view>{}({reinterpret_cast<const char*>(k.data()), k.size()});
  }
};
// Connections of one address, as counted by the endpoint.
struct AddressLoad {
  std::size_t connections = 0;
  std::size_t unproven = 0;  // half-open, admitted without a Retry token
};

struct Conn : std::enable_shared_from_this<Conn> {
  Conn(std::shared_ptr<EndpointCore> ep, bool server);
  ~Conn();
  Conn(const Conn&) = delete;
  Conn& operator=(const Conn&) = delete;

  // Constant after set-up.
  std::shared_ptr<EndpointCore> ep;  // the endpoint forgets us in destroy(); no cycle after that
  const bool server;
  ngtcp2_conn* conn = nullptr;
  gnutls_session_t tls = nullptr;
  ngtcp2_crypto_conn_ref ref{};
  ngtcp2_path_storage ps{};
  asio::ip::udp::endpoint remote_ep;
  Settings settings;
  AddressKey address{};     // server: the address it is counted under
  bool proven = false;      // server: its Initial carried a valid Retry token

  // Owned by the endpoint's strand.
  Phase phase = Phase::Handshaking;
  bool first_read_ok = false;   // a good packet arrived: the endpoint may offer the connection
  bool alpn_refused = false;    // set in the handshake callback, acted on after the read
  bool half_open = true;          // counted as handshaking at the endpoint
  std::vector<std::string> cids;  // routing keys at the endpoint
  asio::steady_timer timer;       // an OS wait for `due`, when the clock's time passes by itself
  std::optional<Instant> due;     // the library's next expiry or the deadline, or the closing period's end
  Instant opened_at{};            // when the handshake completed
  std::optional<Instant> deadline;  // set_deadline(), from opened_at
  std::string deadline_reason;
  Waiters waiters;
  std::optional<CloseInfo> close;  // how it ended (or is ending)
  std::vector<std::uint8_t> close_pkt;
  int close_resends = 0;
  bool write_scheduled = false;
  bool in_dirty = false;  // listed in the endpoint's dirty list, written after the batch

  // The stream.
  std::int64_t sid = -1;
  RecvBuffer rx;
  bool rx_fin = false;
  std::optional<std::uint64_t> rx_reset;  // the peer reset its side with this code
  bool tx_stopped = false;                // the peer asked us to stop sending
  bool stream_closed = false;
  SendBuffer tx;
  std::uint64_t tx_sent = 0;   // bytes handed to the library
  std::uint64_t tx_acked = 0;  // bytes acknowledged, from 0
  bool fin_wanted = false;
  bool fin_sent = false;
  bool tx_blocked = false;

  // Set-up: false on failure (then destroy without sending).
  // `odcid`: the client's first destination id when its Initial carried a Retry token.
  bool init_server(const ngtcp2_pkt_hd& hd, const std::optional<ngtcp2_cid>& odcid, const sockaddr* local,
                   socklen_t local_len, const sockaddr* remote, socklen_t remote_len);
  bool init_client(const sockaddr* local, socklen_t local_len, const sockaddr* remote, socklen_t remote_len,
                   const ClientOptions& options);

  void on_datagram(const std::uint8_t* data, std::size_t n, const sockaddr* remote, socklen_t remote_len);
  void write_out();
  void schedule_write();
  void arm_timer();
  void on_timer();
  void on_clock_step();  // a manual clock moved: run what is due, wake waiters
  void handshake_done();
  void start_closing(const ngtcp2_connection_close_error& ccerr, CloseInfo info);
  void close_app(std::uint64_t code, std::string_view reason);
  void destroy(std::optional<CloseInfo> info);
  void consumed(std::size_t n);  // flow-control credit for bytes the application took
  bool alive() const { return phase == Phase::Handshaking || phase == Phase::Open; }
  ostrel_core::IoError closed_error() const;
};

// Hashes connection ids held as strings and viewed in datagrams alike, so a lookup copies nothing.
struct CidHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view cid) const { return std::hash<std::string_view>{}(cid); }
};

struct EndpointCore : std::enable_shared_from_this<EndpointCore> {
  EndpointCore(const asio::any_io_executor& ex, bool server, const Clock& clock);

  asio::any_io_executor strand;
  asio::ip::udp::socket socket;
  const bool server;
  const Clock& clock;
  Settings settings;
  std::shared_ptr<TlsContext> tls;
  std::array<std::uint8_t, 32> reset_secret{};  // for stateless reset tokens
  std::array<std::uint8_t, 32> token_secret{};  // for Retry tokens
  ostrel_core::clock::StepWatch step_watch;     // a manual clock's steps reach the connections
  std::unordered_map<AddressKey, AddressLoad, AddressKeyHash> loads;  // server: per address, no zero entries
  std::size_t half_open = 0;                                          // server: connections handshaking
  Stats stats;                                                        // server: retries and refusals
  // connection id -> connection
  std::unordered_map<std::string, std::shared_ptr<Conn>, CidHash, std::equal_to<>> routes;
  std::unordered_set<Conn*> conns;                                // not yet gone
  std::deque<std::shared_ptr<Conn>> incoming;                     // offered, not yet accepted
  std::vector<std::shared_ptr<Conn>> dirty;                       // to write after a batch, once each
  Waiters accept_waiters;
  Waiters idle_waiters;
  bool closing = false;

  std::uint64_t now_ns() const { return ostrel_core::clock::nanos(clock.now()); }
  void start_receiving();
  void watch_clock();
  void handle_datagram(std::span<const std::uint8_t> pkt, const sockaddr* from, socklen_t from_len);
  // A first packet of no known connection: admitted as a new connection, answered with a Retry
  // or a refusal, or dropped.
  void admit(std::span<const std::uint8_t> pkt, const sockaddr* from, socklen_t from_len);
  void send_retry(const ngtcp2_pkt_hd& hd, const sockaddr* from, socklen_t from_len);
  void send_refusal(const ngtcp2_pkt_hd& hd, std::uint64_t error_code, const sockaddr* from, socklen_t from_len);
  // Accounting of a server connection at its address.
  void count_in(Conn& c);
  void count_opened(Conn& c);  // its handshake completed
  void count_out(Conn& c);
  void send(std::span<const std::uint8_t> pkt, const ngtcp2_addr& to);
  void route(const std::string& cid, const std::shared_ptr<Conn>& c);
  void unroute(const std::string& cid);
  void forget(Conn* c);
  std::vector<std::shared_ptr<Conn>> routed_conns() const;  // each routed connection once
  void shutdown_socket_if_idle();
  sockaddr_storage local_addr{};
  socklen_t local_len = 0;
};

inline std::string_view cid_view(const std::uint8_t* data, std::size_t len) {
  return {reinterpret_cast<const char*>(data), len};
}
inline std::string cid_key(const std::uint8_t* data, std::size_t len) {
  return std::string(cid_view(data, len));
}

}  // namespace ostrel_server::transport::quic::detail
