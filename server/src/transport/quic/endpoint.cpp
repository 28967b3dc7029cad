// The UDP side of the QUIC transport: the socket, routing datagrams to connections by
// connection id, and the public handles.

#include "transport/quic/endpoint.hpp"

#include <gnutls/crypto.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

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

EndpointCore::EndpointCore(const asio::any_io_executor& ex, bool is_server, const Clock& c)
    : strand(asio::make_strand(ex)), socket(strand), server(is_server), clock(c) {}

void EndpointCore::start_receiving() { asio::co_spawn(strand, receive_loop(shared_from_this()), asio::detached); }

void EndpointCore::watch_clock() {
  step_watch = clock.on_step([w = weak_from_this()] {
    auto ep = w.lock();
    if (!ep) return;
    asio::post(ep->strand, [w] {
      auto ep = w.lock();
      if (!ep) return;
      std::vector<std::shared_ptr<Conn>> all;
      all.reserve(ep->conns.size());
      for (Conn* c : ep->conns) all.push_back(c->shared_from_this());
      for (auto& c : all) c->on_clock_step();
    });
  });
}

AddressKey address_key(const sockaddr* addr) {
  AddressKey key{};
  if (addr->sa_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(addr);
    key[10] = 0xff;
    key[11] = 0xff;
    std::memcpy(key.data() + 12, &in->sin_addr, 4);
  } else if (addr->sa_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(addr);
    std::memcpy(key.data(), &in6->sin6_addr, 16);
    // An IPv4 client of a dual-stack socket keeps its whole address; IPv6 counts by /64.
    if (!IN6_IS_ADDR_V4MAPPED(&in6->sin6_addr)) std::fill(key.begin() + 8, key.end(), 0);
  }
  return key;
}

void EndpointCore::count_in(Conn& c) {
  auto& load = loads[c.address];
  ++load.connections;
  if (!c.proven) ++load.unproven;
  ++half_open;
}

void EndpointCore::count_opened(Conn& c) {
  if (!c.half_open) return;
  c.half_open = false;
  --half_open;
  if (!c.proven) --loads[c.address].unproven;
}

void EndpointCore::count_out(Conn& c) {
  count_opened(c);
  auto it = loads.find(c.address);
  if (it != loads.end() && --it->second.connections == 0) loads.erase(it);
}

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
  if (!server || closing) return;
  admit(pkt, from, from_len);
}

void EndpointCore::admit(std::span<const std::uint8_t> pkt, const sockaddr* from, socklen_t from_len) {
  ngtcp2_pkt_hd hd;
  // Only a client's Initial opens a connection (no 0-RTT without one).
  if (ngtcp2_accept(&hd, pkt.data(), pkt.size()) != 0 || hd.type != NGTCP2_PKT_INITIAL) return;
  const Limits& limits = settings.limits;
  if (conns.size() >= limits.connections) {
    send_refusal(hd, NGTCP2_CONNECTION_REFUSED, from, from_len);
    return;
  }
  std::optional<ngtcp2_cid> odcid;
  if (hd.token.len > 0 && hd.token.base[0] == NGTCP2_CRYPTO_TOKEN_MAGIC_RETRY) {
    ngtcp2_cid original;
    const auto lifetime = static_cast<ngtcp2_duration>(limits.retry_token_lifetime.count()) * NGTCP2_MILLISECONDS;
    if (ngtcp2_crypto_verify_retry_token(&original, hd.token.base, hd.token.len, token_secret.data(),
                                         token_secret.size(), hd.version, from, from_len, &hd.dcid, lifetime,
                                         now_ns()) != 0) {
      send_refusal(hd, NGTCP2_INVALID_TOKEN, from, from_len);
      return;
    }
    odcid = original;
  }
  const AddressKey key = address_key(from);
  const auto load = loads.find(key);
  const AddressLoad here = load == loads.end() ? AddressLoad{} : load->second;
  // Any other token (one this server never issues) proves nothing.
  if (!odcid && (half_open >= limits.retry_above || here.unproven >= limits.unproven_per_address)) {
    send_retry(hd, from, from_len);
    return;
  }
  if (here.connections >= limits.per_address) {
    send_refusal(hd, NGTCP2_CONNECTION_REFUSED, from, from_len);
    return;
  }
  auto c = std::make_shared<Conn>(shared_from_this(), true);
  c->address = key;
  c->proven = odcid.has_value();
  conns.insert(c.get());
  count_in(*c);
  if (!c->init_server(hd, odcid, reinterpret_cast<const sockaddr*>(&local_addr), local_len, from, from_len)) {
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

void EndpointCore::send_retry(const ngtcp2_pkt_hd& hd, const sockaddr* from, socklen_t from_len) {
  ngtcp2_cid scid;
  scid.datalen = kCidBytes;
  if (gnutls_rnd(GNUTLS_RND_NONCE, scid.data, scid.datalen) != 0) return;
  std::array<std::uint8_t, NGTCP2_CRYPTO_MAX_RETRY_TOKENLEN> token;
  const ngtcp2_ssize token_len =
      ngtcp2_crypto_generate_retry_token(token.data(), token_secret.data(), token_secret.size(), hd.version, from,
                                         from_len, &scid, &hd.dcid, now_ns());
  if (token_len < 0) return;
  std::array<std::uint8_t, kMaxDatagram> buf;
  const ngtcp2_ssize n = ngtcp2_crypto_write_retry(buf.data(), buf.size(), hd.version, &hd.scid, &scid, &hd.dcid,
                                                   token.data(), static_cast<std::size_t>(token_len));
  if (n <= 0) return;
  ++stats.retries;
  send({buf.data(), static_cast<std::size_t>(n)}, ngtcp2_addr{const_cast<sockaddr*>(from), from_len});
}

void EndpointCore::send_refusal(const ngtcp2_pkt_hd& hd, std::uint64_t error_code, const sockaddr* from,
                                socklen_t from_len) {
  std::array<std::uint8_t, kMaxDatagram> buf;
  const ngtcp2_ssize n = ngtcp2_crypto_write_connection_close(buf.data(), buf.size(), hd.version, &hd.scid,
                                                              &hd.dcid, error_code, nullptr, 0);
  if (n <= 0) return;
  ++stats.refused;
  send({buf.data(), static_cast<std::size_t>(n)}, ngtcp2_addr{const_cast<sockaddr*>(from), from_len});
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
  if (conns.erase(c) == 0) return;
  if (server) count_out(*c);
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
using ostrel_core::clock::Clock;
using ostrel_core::clock::Instant;

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
    case Kind::Deadline: return reason;
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
      // A peer that closes the connection, with an application code or at the transport level,
      // has ended its stream.
      const bool peer_ended = c->close && c->close->by_peer &&
                              (c->close->kind == CloseInfo::Kind::Application ||
                               c->close->kind == CloseInfo::Kind::Transport);
      if (peer_ended) co_return std::size_t{0};
      co_return std::unexpected(c->closed_error());
    }
    co_await c->waiters.wait(c->ep->strand, c->ep->clock);
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
    co_await c->waiters.wait(c->ep->strand, c->ep->clock);
  }
}

void Stream::finish() {
  conn_->fin_wanted = true;
  conn_->schedule_write();
}

asio::awaitable<bool> Stream::delivered(std::chrono::milliseconds limit) {
  auto c = conn_;
  const Clock& clock = c->ep->clock;
  const Instant deadline = clock.now() + limit;
  for (;;) {
    if (clock.now() >= deadline) co_return false;
    const bool all_acked = c->tx_acked >= c->tx.end() && (!c->fin_wanted || c->fin_sent);
    if (all_acked) co_return true;
    if (c->tx_stopped || c->stream_closed || !c->alive()) co_return false;
    co_await c->waiters.wait(c->ep->strand, clock, deadline);
  }
}

// Connection

Connection::Connection(std::shared_ptr<Conn> conn) : conn_(std::move(conn)) {}

asio::awaitable<std::expected<void, ConnectionError>> Connection::handshake() {
  auto c = conn_;
  for (;;) {
    if (c->phase == Phase::Open) co_return std::expected<void, ConnectionError>{};
    if (!c->alive()) co_return std::unexpected(ConnectionError(c->close.value_or(CloseInfo{})));
    co_await c->waiters.wait(c->ep->strand, c->ep->clock);
  }
}

asio::awaitable<std::expected<Stream, ConnectionError>> Connection::accept_stream() {
  auto c = conn_;
  for (;;) {
    if (c->sid >= 0 && c->alive()) co_return Stream(c);
    if (!c->alive()) co_return std::unexpected(ConnectionError(c->close.value_or(CloseInfo{})));
    co_await c->waiters.wait(c->ep->strand, c->ep->clock);
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

void Connection::close_transport(std::uint64_t code) {
  auto& c = *conn_;
  if (!c.alive()) return;
  ngtcp2_connection_close_error ccerr;
  ngtcp2_connection_close_error_set_transport_error(&ccerr, code, nullptr, 0);
  c.start_closing(ccerr, CloseInfo{CloseInfo::Kind::Transport, code, {}, false});
}

asio::awaitable<CloseInfo> Connection::closed() {
  auto c = conn_;
  while (c->phase != Phase::Gone) co_await c->waiters.wait(c->ep->strand, c->ep->clock);
  co_return c->close.value_or(CloseInfo{});
}

std::optional<CloseInfo> Connection::close_info() const {
  if (conn_->phase == Phase::Handshaking || conn_->phase == Phase::Open) return std::nullopt;
  return conn_->close;
}

void Connection::set_deadline(std::chrono::milliseconds after, std::string reason) {
  auto& c = *conn_;
  if (!c.alive()) return;
  c.deadline = c.opened_at + after;
  c.deadline_reason = std::move(reason);
  c.arm_timer();
}

void Connection::clear_deadline() {
  auto& c = *conn_;
  if (!c.deadline) return;
  c.deadline.reset();
  c.arm_timer();
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
                                                                        const asio::ip::udp::endpoint& addr,
                                                                        const ostrel_core::clock::Clock& clock) {
  auto core = std::make_shared<EndpointCore>(ex, server, clock);
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
  if (gnutls_rnd(GNUTLS_RND_KEY, core->reset_secret.data(), core->reset_secret.size()) != 0 ||
      gnutls_rnd(GNUTLS_RND_KEY, core->token_secret.data(), core->token_secret.size()) != 0) {
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
  auto core = open_socket(ex, true, addr, *settings.clock);
  if (!core) return std::unexpected(std::move(core.error()));
  (*core)->tls = std::move(tls);
  (*core)->settings = settings;
  (*core)->watch_clock();
  (*core)->start_receiving();
  return Endpoint(std::move(*core));
}

std::expected<Endpoint, EndpointError> Endpoint::client(const asio::any_io_executor& ex,
                                                        const asio::ip::udp::endpoint& server_family,
                                                        const ostrel_core::clock::Clock& clock,
                                                        std::optional<asio::ip::address> local) {
  std::string tls_error;
  auto tls = detail::make_client_tls(&tls_error);
  if (!tls) {
    return std::unexpected(
        EndpointError(EndpointErrorKind::Tls, {}, ostrel_core::make_source(ostrel_core::TextError(tls_error))));
  }
  asio::ip::udp::endpoint here(server_family.protocol(), 0);
  if (local) here.address(*local);
  auto core = open_socket(ex, false, here, clock);
  if (!core) return std::unexpected(std::move(core.error()));
  (*core)->tls = std::move(tls);
  (*core)->settings.clock = &clock;
  (*core)->watch_clock();
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
    co_await core->accept_waiters.wait(core->strand, core->clock);
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
  while (!core->conns.empty()) co_await core->idle_waiters.wait(core->strand, core->clock);
}

std::size_t Endpoint::connection_count() const { return core_->conns.size(); }

Stats Endpoint::stats() const {
  Stats s = core_->stats;
  s.connections = core_->conns.size();
  s.half_open = core_->half_open;
  return s;
}
std::size_t Endpoint::routed_id_count() const { return core_->routes.size(); }

}  // namespace ostrel_server::transport::quic
