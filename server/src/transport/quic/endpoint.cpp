// The UDP side of the QUIC transport: the socket, routing datagrams to connections by
// connection id, and the public handles.

#include "transport/quic/endpoint.hpp"

#include <gnutls/crypto.h>
#include <sys/socket.h>

#include <algorithm>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/experimental/as_tuple.hpp>
#include <asio/post.hpp>
#include <asio/use_awaitable.hpp>
#include <fmt/format.h>

#include "transport/cert.hpp"
#include "transport/quic/core.hpp"
#include "transport/stream.hpp"

namespace ostrel_server::transport::quic {
namespace detail {
namespace {

constexpr std::size_t kReceiveBatch = 256;  // datagrams read before connections write
constexpr int kSocketBuffer = 4 << 20;

asio::awaitable<void> receive_loop(std::shared_ptr<EndpointCore> ep) {
  std::vector<std::uint8_t> buf(65536);
  std::vector<std::shared_ptr<Conn>> dirty;  // swapped with ep->dirty: both keep their capacity
  for (;;) {
    auto [ec] = co_await ep->socket.async_wait(asio::ip::udp::socket::wait_read,
                                               asio::experimental::as_tuple(asio::use_awaitable));
    if (ec || !ep->socket.is_open()) co_return;
    const int fd = ep->socket.native_handle();
    for (std::size_t i = 0; i < kReceiveBatch; ++i) {
      sockaddr_storage from{};
      socklen_t from_len = sizeof from;
      const ssize_t n =
          ::recvfrom(fd, buf.data(), buf.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &from_len);
      if (n < 0) break;
      ep->handle_datagram({buf.data(), static_cast<std::size_t>(n)}, reinterpret_cast<sockaddr*>(&from), from_len);
    }
    dirty.swap(ep->dirty);
    for (auto& c : dirty) {
      c->in_dirty = false;
      c->write_out();
    }
    dirty.clear();
  }
}

}  // namespace

EndpointCore::EndpointCore(const asio::any_io_executor& ex, bool is_server)
    : strand(asio::make_strand(ex)), socket(strand), server(is_server) {}

void EndpointCore::start_receiving() { asio::co_spawn(strand, receive_loop(shared_from_this()), asio::detached); }

void EndpointCore::handle_datagram(std::span<const std::uint8_t> pkt, const sockaddr* from, socklen_t from_len) {
  if (pkt.empty()) return;  // the library asserts on an empty datagram
  ngtcp2_version_cid vc;
  const int rv = ngtcp2_pkt_decode_version_cid(&vc, pkt.data(), pkt.size(), kCidBytes);
  if (rv == NGTCP2_ERR_VERSION_NEGOTIATION) {
    if (!server || closing) return;
    std::array<std::uint8_t, kMaxDatagram> buf;
    std::uint8_t unused = 0;
    gnutls_rnd(GNUTLS_RND_NONCE, &unused, 1);
    const std::uint32_t versions[] = {NGTCP2_PROTO_VER_V1, 0x1a2a3a4au};
    const ngtcp2_ssize n = ngtcp2_pkt_write_version_negotiation(buf.data(), buf.size(), unused, vc.scid, vc.scidlen,
                                                                vc.dcid, vc.dcidlen, versions, 2);
    if (n > 0) {
      ngtcp2_addr to{const_cast<sockaddr*>(from), from_len};
      send({buf.data(), static_cast<std::size_t>(n)}, to);
    }
    return;
  }
  if (rv != 0) return;
  if (auto it = routes.find(cid_view(vc.dcid, vc.dcidlen)); it != routes.end()) {
    auto c = it->second;  // the read may unroute it
    c->on_datagram(pkt.data(), pkt.size(), from, from_len);
    return;
  }
  if (!server || closing || conns.size() >= kMaxConnections) return;
  ngtcp2_pkt_hd hd;
  if (ngtcp2_accept(&hd, pkt.data(), pkt.size()) != 0) return;
  auto c = std::make_shared<Conn>(shared_from_this(), true);
  conns.insert(c.get());
  if (!c->init_server(hd, reinterpret_cast<const sockaddr*>(&local_addr), local_len, from, from_len)) {
    c->destroy(std::nullopt);
    return;
  }
  c->remote_ep.resize(from_len);
  std::memcpy(c->remote_ep.data(), from, from_len);
  c->on_datagram(pkt.data(), pkt.size(), from, from_len);
  // Offered also when its first packet was refused by TLS: the accept loop logs the failure.
  if ((c->first_read_ok && c->alive()) || c->phase == Phase::Closing) {
    incoming.push_back(c);
    accept_waiters.notify();
  }
}

void EndpointCore::send(std::span<const std::uint8_t> pkt, const ngtcp2_addr& to) {
  if (!socket.is_open()) return;
  // A full socket buffer loses the packet; the QUIC loss recovery sends its data again.
  (void)::sendto(socket.native_handle(), pkt.data(), pkt.size(), MSG_DONTWAIT, to.addr, to.addrlen);
}

void EndpointCore::route(const std::string& cid, const std::shared_ptr<Conn>& c) { routes[cid] = c; }

void EndpointCore::unroute(const std::string& cid) { routes.erase(cid); }

std::vector<std::shared_ptr<Conn>> EndpointCore::routed_conns() const {
  std::vector<std::shared_ptr<Conn>> all;
  for (const auto& [key, c] : routes) all.push_back(c);
  std::sort(all.begin(), all.end());
  all.erase(std::unique(all.begin(), all.end()), all.end());
  return all;
}

void EndpointCore::forget(Conn* c) {
  conns.erase(c);
  if (!conns.empty()) return;
  idle_waiters.notify();
  shutdown_socket_if_idle();
}

void EndpointCore::shutdown_socket_if_idle() {
  if (closing && conns.empty() && socket.is_open()) {
    asio::error_code ec;
    socket.close(ec);
  }
}

}  // namespace detail

using detail::Conn;
using detail::EndpointCore;
using detail::Phase;

std::string format_addr(const asio::ip::udp::endpoint& a) {
  if (a.address().is_v6()) return fmt::format("[{}]:{}", a.address().to_string(), a.port());
  return fmt::format("{}:{}", a.address().to_string(), a.port());
}

std::string CloseInfo::describe() const {
  const char* who = by_peer ? "closed by peer" : "closed";
  switch (kind) {
    case Kind::Application:
      return reason.empty() ? fmt::format("{} with code {}", who, code) : fmt::format("{} with code {}: {}", who, code, reason);
    case Kind::Transport:
      return reason.empty() ? fmt::format("{} with transport error {:#x}", who, code)
                            : fmt::format("{} with transport error {:#x}: {}", who, code, reason);
    case Kind::IdleTimeout: return "connection timed out";
    case Kind::Handshake: return "handshake timed out";
  }
  return "connection closed";
}

std::string EndpointError::message() const {
  switch (kind_) {
    case EndpointErrorKind::Bind: return fmt::format("could not bind {}", addr_);
    case EndpointErrorKind::Tls: return "could not configure TLS from the server certificate";
    case EndpointErrorKind::Quic: return "could not configure the QUIC endpoint";
  }
  return "could not configure the QUIC endpoint";
}

// Stream

Stream::Stream(std::shared_ptr<Conn> conn) : conn_(std::move(conn)) {}

asio::awaitable<std::expected<std::size_t, ostrel_core::IoError>> Stream::read_some(std::span<std::uint8_t> buf) {
  auto c = conn_;
  for (;;) {
    if (!c->rx.empty()) {
      const std::size_t n = c->rx.take(buf);
      c->consumed(n);
      co_return n;
    }
    if (c->rx_reset) {
      co_return std::unexpected(ostrel_core::IoError(fmt::format("stream reset by peer with code {}", *c->rx_reset),
                                                     make_error_code(StreamErrc::Reset)));
    }
    if (c->rx_fin) co_return std::size_t{0};
    if (!c->alive()) {
      // A peer that closes the connection with an application code has ended its stream.
      const bool peer_ended = c->close && c->close->by_peer && c->close->kind == CloseInfo::Kind::Application;
      if (peer_ended) co_return std::size_t{0};
      co_return std::unexpected(c->closed_error());
    }
    co_await c->waiters.wait(c->ep->strand);
  }
}

asio::awaitable<std::expected<std::size_t, ostrel_core::IoError>> Stream::write_some(
    std::span<const std::uint8_t> buf) {
  auto c = conn_;
  for (;;) {
    if (!c->alive()) co_return std::unexpected(c->closed_error());
    if (c->tx_stopped || c->fin_wanted) {
      co_return std::unexpected(ostrel_core::IoError("stream stopped", make_error_code(StreamErrc::Reset)));
    }
    const std::uint64_t unacked = c->tx.end() - c->tx_acked;
    if (unacked < detail::kSendLimit) {
      const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(buf.size(), detail::kSendLimit - unacked));
      c->tx.append(buf.first(n));
      c->schedule_write();
      co_return n;
    }
    co_await c->waiters.wait(c->ep->strand);
  }
}

void Stream::finish() {
  conn_->fin_wanted = true;
  conn_->schedule_write();
}

asio::awaitable<bool> Stream::delivered(std::chrono::milliseconds limit) {
  auto c = conn_;
  const auto deadline = asio::steady_timer::clock_type::now() + limit;
  for (;;) {
    if (asio::steady_timer::clock_type::now() >= deadline) co_return false;
    const bool all_acked = c->tx_acked >= c->tx.end() && (!c->fin_wanted || c->fin_sent);
    if (all_acked) co_return true;
    if (c->tx_stopped || c->stream_closed || !c->alive()) co_return false;
    co_await c->waiters.wait(c->ep->strand, deadline);
  }
}

// Connection

Connection::Connection(std::shared_ptr<Conn> conn) : conn_(std::move(conn)) {}

asio::awaitable<std::expected<void, ConnectionError>> Connection::handshake() {
  auto c = conn_;
  for (;;) {
    if (c->phase == Phase::Open) co_return std::expected<void, ConnectionError>{};
    if (!c->alive()) co_return std::unexpected(ConnectionError(c->close.value_or(CloseInfo{})));
    co_await c->waiters.wait(c->ep->strand);
  }
}

asio::awaitable<std::expected<Stream, ConnectionError>> Connection::accept_stream() {
  auto c = conn_;
  for (;;) {
    if (c->sid >= 0 && c->alive()) co_return Stream(c);
    if (!c->alive()) co_return std::unexpected(ConnectionError(c->close.value_or(CloseInfo{})));
    co_await c->waiters.wait(c->ep->strand);
  }
}

std::expected<Stream, ConnectionError> Connection::open_stream() {
  auto& c = *conn_;
  if (!c.alive()) return std::unexpected(ConnectionError(c.close.value_or(CloseInfo{})));
  std::int64_t id = -1;
  const int rv = ngtcp2_conn_open_bidi_stream(c.conn, &id, nullptr);
  if (rv != 0) {
    return std::unexpected(ConnectionError(
        CloseInfo{CloseInfo::Kind::Transport, 0, fmt::format("stream refused: {}", ngtcp2_strerror(rv)), false}));
  }
  if (c.sid < 0) c.sid = id;
  return Stream(conn_);
}

void Connection::close(std::uint64_t code, std::string_view reason) { conn_->close_app(code, reason); }

asio::awaitable<CloseInfo> Connection::closed() {
  auto c = conn_;
  while (c->phase != Phase::Gone) co_await c->waiters.wait(c->ep->strand);
  co_return c->close.value_or(CloseInfo{});
}

asio::ip::udp::endpoint Connection::remote() const { return conn_->remote_ep; }

std::vector<std::uint8_t> Connection::peer_certificate() const {
  unsigned n = 0;
  const gnutls_datum_t* certs = gnutls_certificate_get_peers(conn_->tls, &n);
  if (certs == nullptr || n == 0) return {};
  return {certs[0].data, certs[0].data + certs[0].size};
}

std::string Connection::alpn() const {
  gnutls_datum_t proto{};
  if (gnutls_alpn_get_selected_protocol(conn_->tls, &proto) != 0) return {};
  return {reinterpret_cast<const char*>(proto.data), proto.size};
}

// Endpoint

Endpoint::Endpoint(std::shared_ptr<EndpointCore> core) : core_(std::move(core)) {}
Endpoint::Endpoint(Endpoint&&) noexcept = default;
Endpoint& Endpoint::operator=(Endpoint&&) noexcept = default;

Endpoint::~Endpoint() {
  if (!core_) return;
  core_->closing = true;
  for (auto& c : core_->routed_conns()) c->destroy(std::nullopt);
  core_->incoming.clear();
  core_->accept_waiters.notify();
  asio::error_code ec;
  core_->socket.close(ec);
}

namespace {

std::expected<std::shared_ptr<EndpointCore>, EndpointError> open_socket(const asio::any_io_executor& ex, bool server,
                                                                        const asio::ip::udp::endpoint& addr) {
  auto core = std::make_shared<EndpointCore>(ex, server);
  auto bind_error = [&](const asio::error_code& ec) {
    return std::unexpected(EndpointError(EndpointErrorKind::Bind, format_addr(addr),
                                         ostrel_core::make_source(ostrel_core::IoError::from_errno(ec.value()))));
  };
  asio::error_code ec;
  core->socket.open(addr.protocol(), ec);
  if (ec) return bind_error(ec);
  core->socket.bind(addr, ec);
  if (ec) return bind_error(ec);
  core->socket.non_blocking(true, ec);
  core->socket.set_option(asio::socket_base::receive_buffer_size(detail::kSocketBuffer), ec);
  core->socket.set_option(asio::socket_base::send_buffer_size(detail::kSocketBuffer), ec);
  core->local_len = sizeof core->local_addr;
  if (::getsockname(core->socket.native_handle(), reinterpret_cast<sockaddr*>(&core->local_addr), &core->local_len) !=
      0) {
    return bind_error(asio::error_code(errno, asio::system_category()));
  }
  if (gnutls_rnd(GNUTLS_RND_KEY, core->reset_secret.data(), core->reset_secret.size()) != 0) {
    return std::unexpected(EndpointError(EndpointErrorKind::Quic, {},
                                         ostrel_core::make_source(ostrel_core::TextError("no random bytes"))));
  }
  return core;
}

}  // namespace

std::expected<Endpoint, EndpointError> Endpoint::bind(const asio::any_io_executor& ex,
                                                      const asio::ip::udp::endpoint& addr,
                                                      const cert::ServerCert& cert, const Settings& settings) {
  std::string tls_error;
  auto tls = detail::make_server_tls(cert, &tls_error);
  if (!tls) {
    return std::unexpected(
        EndpointError(EndpointErrorKind::Tls, {}, ostrel_core::make_source(ostrel_core::TextError(tls_error))));
  }
  auto core = open_socket(ex, true, addr);
  if (!core) return std::unexpected(std::move(core.error()));
  (*core)->tls = std::move(tls);
  (*core)->settings = settings;
  (*core)->start_receiving();
  return Endpoint(std::move(*core));
}

std::expected<Endpoint, EndpointError> Endpoint::client(const asio::any_io_executor& ex,
                                                        const asio::ip::udp::endpoint& server_family) {
  std::string tls_error;
  auto tls = detail::make_client_tls(&tls_error);
  if (!tls) {
    return std::unexpected(
        EndpointError(EndpointErrorKind::Tls, {}, ostrel_core::make_source(ostrel_core::TextError(tls_error))));
  }
  const asio::ip::udp::endpoint any(server_family.protocol(), 0);
  auto core = open_socket(ex, false, any);
  if (!core) return std::unexpected(std::move(core.error()));
  (*core)->tls = std::move(tls);
  (*core)->start_receiving();
  return Endpoint(std::move(*core));
}

const asio::any_io_executor& Endpoint::executor() const { return core_->strand; }

std::optional<asio::ip::udp::endpoint> Endpoint::local_address() const {
  asio::error_code ec;
  auto ep = core_->socket.local_endpoint(ec);
  if (ec) return std::nullopt;
  return ep;
}

asio::awaitable<std::optional<Connection>> Endpoint::accept() {
  auto core = core_;
  for (;;) {
    if (core->closing) co_return std::nullopt;
    if (!core->incoming.empty()) {
      auto c = std::move(core->incoming.front());
      core->incoming.pop_front();
      co_return Connection(std::move(c));
    }
    co_await core->accept_waiters.wait(core->strand);
  }
}

std::expected<Connection, ConnectionError> Endpoint::connect(const asio::ip::udp::endpoint& server,
                                                             const ClientOptions& options) {
  auto c = std::make_shared<Conn>(core_, false);
  core_->conns.insert(c.get());
  c->remote_ep = server;
  if (!c->init_client(reinterpret_cast<const sockaddr*>(&core_->local_addr), core_->local_len, server.data(),
                      static_cast<socklen_t>(server.size()), options)) {
    c->destroy(CloseInfo{CloseInfo::Kind::Transport, 0, "could not start the handshake", false});
    return std::unexpected(ConnectionError(*c->close));
  }
  c->write_out();
  return Connection(std::move(c));
}

void Endpoint::close(std::uint64_t code, std::string_view reason) {
  auto& core = *core_;
  core.closing = true;
  for (auto& c : core.routed_conns()) c->close_app(code, reason);
  core.incoming.clear();
  core.accept_waiters.notify();
  core.shutdown_socket_if_idle();
}

asio::awaitable<void> Endpoint::wait_idle() {
  auto core = core_;
  while (!core->conns.empty()) co_await core->idle_waiters.wait(core->strand);
}

std::size_t Endpoint::connection_count() const { return core_->conns.size(); }
std::size_t Endpoint::routed_id_count() const { return core_->routes.size(); }

}  // namespace ostrel_server::transport::quic
