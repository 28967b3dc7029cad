// One QUIC connection over ngtcp2: callbacks, reading, writing, timers and closing.

#include <gnutls/crypto.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include <asio/experimental/as_tuple.hpp>
#include <asio/use_awaitable.hpp>
#include <fmt/format.h>

#include "transport/quic/core.hpp"
#include "transport/stream.hpp"

namespace ostrel_server::transport::quic::detail {
namespace {

Conn& self(void* user_data) { return *static_cast<Conn*>(user_data); }

ngtcp2_conn* get_conn(ngtcp2_crypto_conn_ref* ref) { return static_cast<Conn*>(ref->user_data)->conn; }

void rand_cb(std::uint8_t* dest, std::size_t len, const ngtcp2_rand_ctx*) { gnutls_rnd(GNUTLS_RND_RANDOM, dest, len); }

int get_new_cid_cb(ngtcp2_conn*, ngtcp2_cid* cid, std::uint8_t* token, std::size_t cidlen, void* ud) {
  Conn& c = self(ud);
  if (gnutls_rnd(GNUTLS_RND_RANDOM, cid->data, cidlen) != 0) return NGTCP2_ERR_CALLBACK_FAILURE;
  cid->datalen = cidlen;
  if (ngtcp2_crypto_generate_stateless_reset_token(token, c.ep->reset_secret.data(), c.ep->reset_secret.size(), cid) !=
      0) {
    return NGTCP2_ERR_CALLBACK_FAILURE;
  }
  auto key = cid_key(cid->data, cid->datalen);
  c.cids.push_back(key);
  c.ep->route(key, c.shared_from_this());
  return 0;
}

int remove_cid_cb(ngtcp2_conn*, const ngtcp2_cid* cid, void* ud) {
  Conn& c = self(ud);
  auto key = cid_key(cid->data, cid->datalen);
  std::erase(c.cids, key);
  c.ep->unroute(key);
  return 0;
}

int handshake_completed_cb(ngtcp2_conn*, void* ud) {
  Conn& c = self(ud);
  if (c.server) {
    gnutls_datum_t proto{};
    const bool ok = gnutls_alpn_get_selected_protocol(c.tls, &proto) == 0 &&
                    std::string_view(reinterpret_cast<const char*>(proto.data), proto.size) == kAlpn;
    if (!ok) {
      c.alpn_refused = true;  // GnuTLS lets a client that offers no ALPN through
      return NGTCP2_ERR_CALLBACK_FAILURE;
    }
  }
  c.handshake_done();
  return 0;
}

int stream_open_cb(ngtcp2_conn* conn, std::int64_t sid, void* ud) {
  Conn& c = self(ud);
  // Exactly one stream, bidirectional and opened by the client; any other is refused.
  if (!c.server || c.sid >= 0 || !ngtcp2_is_bidi_stream(sid)) {
    ngtcp2_conn_shutdown_stream(conn, sid, 0);
    return 0;
  }
  c.sid = sid;
  c.waiters.notify();
  return 0;
}

int recv_stream_data_cb(ngtcp2_conn*, std::uint32_t flags, std::int64_t sid, std::uint64_t, const std::uint8_t* data,
                        std::size_t len, void* ud, void*) {
  Conn& c = self(ud);
  if (sid != c.sid) return 0;
  c.rx.append({data, len});
  if (flags & NGTCP2_STREAM_DATA_FLAG_FIN) c.rx_fin = true;
  c.waiters.notify();
  return 0;
}

int acked_cb(ngtcp2_conn*, std::int64_t sid, std::uint64_t offset, std::uint64_t len, void* ud, void*) {
  Conn& c = self(ud);
  if (sid != c.sid) return 0;
  c.tx_acked = std::max(c.tx_acked, offset + len);
  c.tx.release_before(c.tx_acked);
  c.waiters.notify();
  return 0;
}

int stream_close_cb(ngtcp2_conn*, std::uint32_t, std::int64_t sid, std::uint64_t, void* ud, void*) {
  Conn& c = self(ud);
  if (sid == c.sid) {
    c.stream_closed = true;
    c.waiters.notify();
  }
  return 0;
}

int stream_reset_cb(ngtcp2_conn*, std::int64_t sid, std::uint64_t, std::uint64_t code, void* ud, void*) {
  Conn& c = self(ud);
  if (sid == c.sid) {
    c.rx_reset = code;
    c.waiters.notify();
  }
  return 0;
}

int stop_sending_cb(ngtcp2_conn*, std::int64_t sid, std::uint64_t, void* ud, void*) {
  Conn& c = self(ud);
  if (sid == c.sid) {
    c.tx_stopped = true;
    c.waiters.notify();
  }
  return 0;
}

int extend_max_stream_data_cb(ngtcp2_conn*, std::int64_t, std::uint64_t, void* ud, void*) {
  self(ud).tx_blocked = false;
  return 0;
}

ngtcp2_callbacks make_callbacks(bool server) {
  ngtcp2_callbacks cb{};
  if (server) {
    cb.recv_client_initial = ngtcp2_crypto_recv_client_initial_cb;
  } else {
    cb.client_initial = ngtcp2_crypto_client_initial_cb;
    cb.recv_retry = ngtcp2_crypto_recv_retry_cb;
  }
  cb.recv_crypto_data = ngtcp2_crypto_recv_crypto_data_cb;
  cb.encrypt = ngtcp2_crypto_encrypt_cb;
  cb.decrypt = ngtcp2_crypto_decrypt_cb;
  cb.hp_mask = ngtcp2_crypto_hp_mask_cb;
  cb.update_key = ngtcp2_crypto_update_key_cb;
  cb.delete_crypto_aead_ctx = ngtcp2_crypto_delete_crypto_aead_ctx_cb;
  cb.delete_crypto_cipher_ctx = ngtcp2_crypto_delete_crypto_cipher_ctx_cb;
  cb.get_path_challenge_data = ngtcp2_crypto_get_path_challenge_data_cb;
  cb.version_negotiation = ngtcp2_crypto_version_negotiation_cb;
  cb.rand = rand_cb;
  cb.get_new_connection_id = get_new_cid_cb;
  cb.remove_connection_id = remove_cid_cb;
  cb.handshake_completed = handshake_completed_cb;
  cb.stream_open = stream_open_cb;
  cb.recv_stream_data = recv_stream_data_cb;
  cb.acked_stream_data_offset = acked_cb;
  cb.stream_close = stream_close_cb;
  cb.stream_reset = stream_reset_cb;
  cb.stream_stop_sending = stop_sending_cb;
  cb.extend_max_stream_data = extend_max_stream_data_cb;
  return cb;
}

ngtcp2_settings make_settings(const Settings& s, std::uint64_t now) {
  ngtcp2_settings st;
  ngtcp2_settings_default(&st);
  st.initial_ts = now;
  st.max_tx_udp_payload_size = kMaxDatagram;
  st.max_window = 24 << 20;
  st.max_stream_window = 16 << 20;
  st.handshake_timeout = static_cast<ngtcp2_duration>(s.handshake_timeout.count()) * NGTCP2_MILLISECONDS;
  return st;
}

ngtcp2_transport_params make_params(const Settings& s, bool server) {
  ngtcp2_transport_params p;
  ngtcp2_transport_params_default(&p);
  p.initial_max_streams_bidi = server ? 1 : 0;
  p.initial_max_streams_uni = 0;
  p.initial_max_stream_data_bidi_local = 4 << 20;
  p.initial_max_stream_data_bidi_remote = 1 << 20;
  p.initial_max_data = server ? (2 << 20) : (8 << 20);
  p.max_idle_timeout = static_cast<ngtcp2_duration>(s.idle_timeout.count()) * NGTCP2_MILLISECONDS;
  return p;
}

CloseInfo info_of(const ngtcp2_connection_close_error& e, bool by_peer) {
  CloseInfo info;
  info.by_peer = by_peer;
  info.code = e.error_code;
  info.kind = e.type == NGTCP2_CONNECTION_CLOSE_ERROR_CODE_TYPE_APPLICATION ? CloseInfo::Kind::Application
                                                                            : CloseInfo::Kind::Transport;
  if (e.reason != nullptr) info.reason.assign(reinterpret_cast<const char*>(e.reason), e.reasonlen);
  return info;
}

}  // namespace

asio::awaitable<void> Waiters::wait(const asio::any_io_executor& ex, const Clock& clock,
                                    std::optional<Instant> until) {
  std::optional<asio::steady_timer::time_point> at;
  if (until) at = clock.on_steady(*until);
  asio::steady_timer t(ex, at.value_or(asio::steady_timer::time_point::max()));
  timers_.push_back(&t);
  struct Unlist {
    std::vector<asio::steady_timer*>& v;
    asio::steady_timer* t;
    ~Unlist() { std::erase(v, t); }
  } unlist{timers_, &t};
  co_await t.async_wait(asio::experimental::as_tuple(asio::use_awaitable));
}

void Waiters::notify() {
  for (auto* t : timers_) t->cancel();
}

std::size_t SendBuffer::append(std::span<const std::uint8_t> data) {
  std::size_t done = 0;
  while (done < data.size()) {
    if (end_ == base_ + chunks_.size() * kSendChunk) {
      chunks_.push_back(std::make_unique<std::array<std::uint8_t, kSendChunk>>());
    }
    const std::size_t at = static_cast<std::size_t>((end_ - base_) % kSendChunk);
    const std::size_t n = std::min(kSendChunk - at, data.size() - done);
    std::memcpy(chunks_.back()->data() + at, data.data() + done, n);
    end_ += n;
    done += n;
  }
  return done;
}

std::size_t SendBuffer::gather(std::uint64_t from, ngtcp2_vec* out, std::size_t max) const {
  std::size_t count = 0;
  while (count < max && from < end()) {
    const std::size_t index = static_cast<std::size_t>((from - base_) / kSendChunk);
    const std::size_t at = static_cast<std::size_t>((from - base_) % kSendChunk);
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kSendChunk - at, end() - from));
    out[count++] = {const_cast<std::uint8_t*>(chunks_[index]->data() + at), n};
    from += n;
  }
  return count;
}

void SendBuffer::release_before(std::uint64_t offset) {
  while (!chunks_.empty() && offset >= std::min(base_ + kSendChunk, end_)) {
    // A piece is full, or it is the last one and everything in it is acknowledged; appends
    // after that start a fresh piece at the end.
    base_ = std::min(base_ + kSendChunk, end_);
    chunks_.pop_front();
  }
}

void RecvBuffer::append(std::span<const std::uint8_t> data) {
  // Moving the unread bytes down once at least as many were taken costs at most one copy per
  // byte taken.
  if (read_ > 0 && read_ >= bytes_.size() - read_) {
    bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(read_));
    read_ = 0;
  }
  bytes_.insert(bytes_.end(), data.begin(), data.end());
}

std::size_t RecvBuffer::take(std::span<std::uint8_t> out) {
  const std::size_t n = std::min(out.size(), bytes_.size() - read_);
  std::copy_n(bytes_.data() + read_, n, out.data());
  read_ += n;
  if (read_ == bytes_.size() && bytes_.capacity() > kRecvKeep) {
    bytes_ = {};
    read_ = 0;
  }
  return n;
}

Conn::Conn(std::shared_ptr<EndpointCore> e, bool is_server)
    : ep(std::move(e)), server(is_server), settings(ep->settings), timer(ep->strand) {
  ref.get_conn = get_conn;
  ref.user_data = this;
}

Conn::~Conn() {
  if (conn != nullptr) ngtcp2_conn_del(conn);
  if (tls != nullptr) gnutls_deinit(tls);
}

bool Conn::init_server(const ngtcp2_pkt_hd& hd, const std::optional<ngtcp2_cid>& odcid, const sockaddr* local,
                       socklen_t local_len, const sockaddr* remote, socklen_t remote_len) {
  ngtcp2_path_storage_init(&ps, local, local_len, remote, remote_len, nullptr);
  const auto cb = make_callbacks(true);
  auto st = make_settings(settings, ep->now_ns());
  st.token = hd.token;
  auto params = make_params(settings, true);
  params.original_dcid = hd.dcid;
  if (odcid) {
    // After a Retry the client's first id is the original; the id it uses now is ours from the Retry.
    params.original_dcid = *odcid;
    params.retry_scid = hd.dcid;
    params.retry_scid_present = 1;
  }
  ngtcp2_cid scid;
  scid.datalen = kCidBytes;
  if (gnutls_rnd(GNUTLS_RND_RANDOM, scid.data, kCidBytes) != 0) return false;
  params.stateless_reset_token_present = 1;
  if (ngtcp2_crypto_generate_stateless_reset_token(params.stateless_reset_token, ep->reset_secret.data(),
                                                   ep->reset_secret.size(), &scid) != 0) {
    return false;
  }
  if (ngtcp2_conn_server_new(&conn, &hd.scid, &scid, &ps.path, hd.version, &cb, &st, &params, nullptr, this) != 0) {
    conn = nullptr;
    return false;
  }
  if (!configure_tls(*ep->tls, true, {std::string(kAlpn)}, &tls, &ref)) return false;
  ngtcp2_conn_set_tls_native_handle(conn, tls);
  ngtcp2_conn_set_keep_alive_timeout(conn,
                                     static_cast<ngtcp2_duration>(settings.keep_alive.count()) * NGTCP2_MILLISECONDS);
  for (const auto& key : {cid_key(hd.dcid.data, hd.dcid.datalen), cid_key(scid.data, scid.datalen)}) {
    cids.push_back(key);
    ep->route(key, shared_from_this());
  }
  return true;
}

bool Conn::init_client(const sockaddr* local, socklen_t local_len, const sockaddr* remote, socklen_t remote_len,
                       const ClientOptions& options) {
  settings = options.settings;
  ngtcp2_path_storage_init(&ps, local, local_len, remote, remote_len, nullptr);
  const auto cb = make_callbacks(false);
  const auto st = make_settings(settings, ep->now_ns());
  const auto params = make_params(settings, false);
  ngtcp2_cid dcid, scid;
  dcid.datalen = kCidBytes;
  scid.datalen = kCidBytes;
  if (gnutls_rnd(GNUTLS_RND_RANDOM, dcid.data, kCidBytes) != 0 ||
      gnutls_rnd(GNUTLS_RND_RANDOM, scid.data, kCidBytes) != 0) {
    return false;
  }
  if (ngtcp2_conn_client_new(&conn, &dcid, &scid, &ps.path, NGTCP2_PROTO_VER_V1, &cb, &st, &params, nullptr, this) !=
      0) {
    conn = nullptr;
    return false;
  }
  if (!configure_tls(*ep->tls, false, options.alpn, &tls, &ref)) return false;
  ngtcp2_conn_set_tls_native_handle(conn, tls);
  ngtcp2_conn_set_keep_alive_timeout(conn,
                                     static_cast<ngtcp2_duration>(settings.keep_alive.count()) * NGTCP2_MILLISECONDS);
  auto key = cid_key(scid.data, scid.datalen);
  cids.push_back(key);
  ep->route(key, shared_from_this());
  return true;
}

void Conn::on_datagram(const std::uint8_t* data, std::size_t n, const sockaddr* remote, socklen_t remote_len) {
  if (phase == Phase::Closing) {
    // The peer did not get our close yet: say it again, a bounded number of times.
    if (!close_pkt.empty() && close_resends++ < 16) ep->send(close_pkt, ps.path.remote);
    return;
  }
  if (!alive()) return;
  ngtcp2_path path = ps.path;
  path.remote.addr = const_cast<sockaddr*>(remote);
  path.remote.addrlen = remote_len;
  ngtcp2_pkt_info pi{};
  const int rv = ngtcp2_conn_read_pkt(conn, &path, &pi, data, n, ep->now_ns());
  if (rv == 0) {
    first_read_ok = true;
    tx_blocked = false;  // MAX_DATA has no callback of its own
    if (!in_dirty) {
      in_dirty = true;
      ep->dirty.push_back(shared_from_this());
    }
    return;
  }
  if (server && !first_read_ok && rv != NGTCP2_ERR_CRYPTO) {
    destroy(std::nullopt);  // a first packet that does not parse: nothing was ever established
    return;
  }
  ngtcp2_connection_close_error ccerr;
  switch (rv) {
    case NGTCP2_ERR_DRAINING: {
      ngtcp2_connection_close_error peer;
      ngtcp2_conn_get_connection_close_error(conn, &peer);
      close = info_of(peer, true);
      phase = Phase::Draining;
      waiters.notify();
      arm_timer();
      return;
    }
    case NGTCP2_ERR_RETRY:
    case NGTCP2_ERR_DROP_CONN:
      destroy(CloseInfo{CloseInfo::Kind::Transport, 0, "connection dropped", false});
      return;
    case NGTCP2_ERR_CRYPTO:
      ngtcp2_connection_close_error_set_transport_error_tls_alert(&ccerr, ngtcp2_conn_get_tls_alert(conn), nullptr, 0);
      break;
    default:
      if (alpn_refused) {
        // 0x178: the TLS alert "no_application_protocol".
        ngtcp2_connection_close_error_set_transport_error_tls_alert(&ccerr, 120, nullptr, 0);
      } else {
        ngtcp2_connection_close_error_set_transport_error_liberr(&ccerr, rv, nullptr, 0);
      }
  }
  start_closing(ccerr, info_of(ccerr, false));
}

void Conn::schedule_write() {
  if (write_scheduled || !alive()) return;
  write_scheduled = true;
  asio::post(ep->strand, [c = shared_from_this()] {
    c->write_scheduled = false;
    c->write_out();
  });
}

void Conn::write_out() {
  if (!alive()) return;
  std::array<std::uint8_t, kMaxDatagram> buf;
  const std::uint64_t ts = ep->now_ns();
  const std::size_t max_payload = std::min(kMaxDatagram, ngtcp2_conn_get_max_tx_udp_payload_size(conn));
  const std::size_t max_pkts = std::max<std::size_t>(1, ngtcp2_conn_get_send_quantum(conn) / max_payload);
  std::size_t pkts = 0;
  std::array<ngtcp2_vec, 16> vecs;
  while (pkts < max_pkts) {
    std::int64_t stream = -1;
    std::size_t nvecs = 0;
    std::uint32_t flags = NGTCP2_WRITE_STREAM_FLAG_MORE;
    const bool can_send = sid >= 0 && !tx_blocked && !tx_stopped && !stream_closed;
    if (can_send && (tx_sent < tx.end() || (fin_wanted && !fin_sent))) {
      stream = sid;
      nvecs = tx.gather(tx_sent, vecs.data(), vecs.size());
      std::uint64_t covered = tx_sent;
      for (std::size_t i = 0; i < nvecs; ++i) covered += vecs[i].len;
      if (fin_wanted && covered == tx.end()) flags |= NGTCP2_WRITE_STREAM_FLAG_FIN;
    }
    ngtcp2_ssize ndatalen = -1;
    ngtcp2_pkt_info pi{};
    const ngtcp2_ssize nwrite = ngtcp2_conn_writev_stream(conn, &ps.path, &pi, buf.data(), max_payload, &ndatalen,
                                                          flags, stream, vecs.data(), nvecs, ts);
    if (stream >= 0 && ndatalen >= 0) {
      tx_sent += static_cast<std::uint64_t>(ndatalen);
      if ((flags & NGTCP2_WRITE_STREAM_FLAG_FIN) && tx_sent == tx.end()) fin_sent = true;
    }
    if (nwrite < 0) {
      switch (nwrite) {
        case NGTCP2_ERR_WRITE_MORE: continue;
        case NGTCP2_ERR_STREAM_DATA_BLOCKED: tx_blocked = true; continue;
        case NGTCP2_ERR_STREAM_SHUT_WR:
        case NGTCP2_ERR_STREAM_NOT_FOUND: tx_stopped = true; continue;
        default: {
          ngtcp2_connection_close_error ccerr;
          ngtcp2_connection_close_error_set_transport_error_liberr(&ccerr, static_cast<int>(nwrite), nullptr, 0);
          start_closing(ccerr, info_of(ccerr, false));
          return;
        }
      }
    }
    if (nwrite == 0) break;
    ep->send({buf.data(), static_cast<std::size_t>(nwrite)}, ps.path.remote);
    ++pkts;
  }
  // Pacing from the initial RTT stalls the handshake on fast paths: only pace once an RTT is known.
  ngtcp2_conn_stat stat;
  ngtcp2_conn_get_conn_stat(conn, &stat);
  if (stat.first_rtt_sample_ts != UINT64_MAX) ngtcp2_conn_update_pkt_tx_time(conn, ts);
  if (pkts == max_pkts) schedule_write();
  arm_timer();
  waiters.notify();
}

void Conn::arm_timer() {
  const Instant now = ep->clock.now();
  due.reset();
  if (phase == Phase::Closing || phase == Phase::Draining) {
    due = now + std::chrono::nanoseconds(3 * ngtcp2_conn_get_pto(conn));
  } else if (alive()) {
    const std::uint64_t expiry = ngtcp2_conn_get_expiry(conn);
    if (expiry != UINT64_MAX) due = Instant(std::chrono::nanoseconds(expiry));
    if (deadline && (!due || *deadline < *due)) due = deadline;
  }
  timer.cancel();
  if (!due) return;
  // A manual clock has no OS time: its steps run what is due (on_clock_step).
  const auto at = ep->clock.on_steady(*due);
  if (!at) return;
  timer.expires_at(*at);
  timer.async_wait([w = weak_from_this()](const asio::error_code& ec) {
    if (ec) return;
    if (auto c = w.lock()) c->on_timer();
  });
}

void Conn::on_clock_step() {
  waiters.notify();
  if (due && ep->clock.now() >= *due) on_timer();
}

void Conn::handshake_done() {
  phase = Phase::Open;
  opened_at = ep->clock.now();
  if (server) ep->count_opened(*this);
  waiters.notify();
}

void Conn::on_timer() {
  if (phase == Phase::Closing || phase == Phase::Draining) {
    destroy(close);
    return;
  }
  if (!alive()) return;
  if (deadline && ep->clock.now() >= *deadline) {
    deadline.reset();
    close_app(0, deadline_reason);
    if (close) close->kind = CloseInfo::Kind::Deadline;
    return;
  }
  const int rv = ngtcp2_conn_handle_expiry(conn, ep->now_ns());
  if (rv == NGTCP2_ERR_IDLE_CLOSE) {
    destroy(CloseInfo{CloseInfo::Kind::IdleTimeout, 0, "idle timeout", false});
    return;
  }
  if (rv == NGTCP2_ERR_HANDSHAKE_TIMEOUT) {
    destroy(CloseInfo{CloseInfo::Kind::Handshake, 0, "handshake timed out", false});
    return;
  }
  if (rv != 0) {
    ngtcp2_connection_close_error ccerr;
    ngtcp2_connection_close_error_set_transport_error_liberr(&ccerr, rv, nullptr, 0);
    start_closing(ccerr, info_of(ccerr, false));
    return;
  }
  write_out();
}

void Conn::start_closing(const ngtcp2_connection_close_error& ccerr, CloseInfo info) {
  if (!alive()) return;
  std::array<std::uint8_t, kMaxDatagram> buf;
  ngtcp2_pkt_info pi{};
  const ngtcp2_ssize n =
      ngtcp2_conn_write_connection_close(conn, &ps.path, &pi, buf.data(), buf.size(), &ccerr, ep->now_ns());
  if (!close) close = std::move(info);
  if (n <= 0) {
    destroy(close);
    return;
  }
  close_pkt.assign(buf.data(), buf.data() + n);
  ep->send(close_pkt, ps.path.remote);
  if (ep->closing && phase == Phase::Handshaking) {
    destroy(close);  // shutting down: a half-open peer is not worth a closing period
    return;
  }
  phase = Phase::Closing;
  waiters.notify();
  arm_timer();
}

void Conn::close_app(std::uint64_t code, std::string_view reason) {
  if (!alive()) return;
  ngtcp2_connection_close_error ccerr;
  if (ngtcp2_conn_get_handshake_completed(conn)) {
    ngtcp2_connection_close_error_set_application_error(&ccerr, code, reinterpret_cast<const std::uint8_t*>(reason.data()),
                                                        reason.size());
  } else {
    // An application close before the handshake completes must be a transport error.
    ngtcp2_connection_close_error_set_transport_error(&ccerr, NGTCP2_APPLICATION_ERROR, nullptr, 0);
  }
  start_closing(ccerr, CloseInfo{CloseInfo::Kind::Application, code, std::string(reason), false});
}

void Conn::destroy(std::optional<CloseInfo> info) {
  if (phase == Phase::Gone) return;
  if (!close) close = std::move(info);
  if (!close) close = CloseInfo{CloseInfo::Kind::Transport, 0, "connection dropped", false};
  phase = Phase::Gone;
  due.reset();
  timer.cancel();
  auto keep = shared_from_this();  // the routes may hold the last reference
  for (const auto& key : cids) ep->unroute(key);
  cids.clear();
  waiters.notify();
  ep->forget(this);
}

void Conn::consumed(std::size_t n) {
  if (!alive() || sid < 0 || n == 0) return;
  ngtcp2_conn_extend_max_stream_offset(conn, sid, n);
  ngtcp2_conn_extend_max_offset(conn, n);
  schedule_write();
}

ostrel_core::IoError Conn::closed_error() const {
  const std::string text = close ? close->describe() : std::string("connection closed");
  return ostrel_core::IoError(text, make_error_code(StreamErrc::Closed));
}

}  // namespace ostrel_server::transport::quic::detail
