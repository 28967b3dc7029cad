#include "support/quic_client.hpp"

#include <future>
#include <thread>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/experimental/as_tuple.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>
#include <asio/use_future.hpp>

#include "support/temp_dir.hpp"

namespace ostrel_server::test {

namespace quic = transport::quic;
namespace frame = transport::frame;

asio::awaitable<std::expected<QuicClient, std::string>> QuicClient::connect(const asio::any_io_executor& ex,
                                                                            const asio::ip::udp::endpoint& server,
                                                                            const cert::Fingerprint& fingerprint,
                                                                            const quic::ClientOptions& options) {
  QuicClient c;
  auto ep = quic::Endpoint::client(ex, server);
  if (!ep) co_return std::unexpected(ostrel_core::report(ep.error()));
  c.endpoint_ = std::make_unique<quic::Endpoint>(std::move(*ep));
  auto conn = c.endpoint_->connect(server, options);
  if (!conn) co_return std::unexpected(conn.error().message());
  c.conn_ = std::move(*conn);
  if (auto h = co_await c.conn_->handshake(); !h) co_return std::unexpected("handshake failed: " + h.error().message());
  const auto der = c.conn_->peer_certificate();
  if (cert::fingerprint_of(der) != fingerprint) co_return std::unexpected("the server's fingerprint does not match");
  auto s = c.conn_->open_stream();
  if (!s) co_return std::unexpected(s.error().message());
  c.stream_ = std::move(*s);
  co_return std::move(c);
}

asio::awaitable<std::expected<QuicClient, std::string>> QuicClient::connect(const asio::any_io_executor& ex,
                                                                            const asio::ip::udp::endpoint& server,
                                                                            const cert::Fingerprint& fingerprint) {
  const quic::ClientOptions options;
  co_return co_await connect(ex, server, fingerprint, options);
}

asio::awaitable<std::expected<void, frame::FrameError>> QuicClient::send(std::span<const std::uint8_t> payload) {
  co_return co_await frame::write_encoded(*stream_, payload);
}

asio::awaitable<std::expected<std::vector<std::uint8_t>, frame::FrameError>> QuicClient::receive() {
  co_return co_await frame::read_payload(*stream_);
}

asio::awaitable<std::expected<void, frame::FrameError>> QuicClient::send_raw(std::span<const std::uint8_t> bytes) {
  co_return co_await frame::write_all(*stream_, bytes);
}

asio::awaitable<std::expected<void, frame::FrameError>> echo(quic::Connection conn) {
  auto s = co_await transport::endpoint::accept_stream(conn);
  if (!s) co_return std::unexpected(std::move(s.error()));
  int login_frames = 0;
  for (;;) {
    auto payload = co_await frame::read_payload(*s);
    if (!payload) {
      if (payload.error().kind() != frame::FrameErrorKind::Stream) conn.close(kEchoRefusal, payload.error().message());
      co_return std::unexpected(std::move(payload.error()));
    }
    if (auto w = co_await frame::write_encoded(*s, *payload); !w) co_return w;
    const bool hold = std::string_view(reinterpret_cast<const char*>(payload->data()), payload->size()) == kHoldFrame;
    if (hold || login_frames == 2) continue;
    if (++login_frames == 1) {
      transport::endpoint::hello_received(conn);
    } else {
      transport::endpoint::entered_world(conn);
    }
  }
}

const cert::ServerCert& test_cert() {
  static const cert::ServerCert cert = [] {
    ostrel_core::test::TempDir dir;
    auto c = cert::ServerCert::load_or_create(dir.path());
    if (!c) std::abort();
    return std::move(*c);
  }();
  return cert;
}

asio::awaitable<void> sleep_for(std::chrono::milliseconds d) {
  asio::steady_timer t(co_await asio::this_coro::executor, d);
  co_await t.async_wait(asio::experimental::as_tuple(asio::use_awaitable));
}

struct TestServer::Impl {
  asio::io_context io;
  std::optional<quic::Endpoint> endpoint;
  std::thread thread;
  std::shared_future<void> loop_done;
};

TestServer::TestServer(transport::endpoint::Handler handler, quic::Settings settings)
    : impl_(std::make_unique<Impl>()), cert_(test_cert()) {
  auto ep = transport::endpoint::bind(impl_->io.get_executor(), {asio::ip::make_address("127.0.0.1"), 0}, *cert_,
                                      settings);
  if (!ep) std::abort();
  impl_->endpoint.emplace(std::move(*ep));
  address_ = *impl_->endpoint->local_address();
  impl_->loop_done = asio::co_spawn(impl_->endpoint->executor(),
                                    transport::endpoint::accept_loop(*impl_->endpoint, std::move(handler), stop_),
                                    asio::use_future);
  impl_->thread = std::thread([this] { impl_->io.run(); });
}

TestServer::TestServer(transport::endpoint::Handler handler, quic::Settings settings,
                       ostrel_core::clock::ManualClock& clock)
    : TestServer(std::move(handler), [&] {
        settings.clock = &clock;
        return settings;
      }()) {
  manual_ = &clock;
}

TestServer::~TestServer() {
  stop();
  impl_->endpoint.reset();
}

template <class F>
auto TestServer::on_strand(F fn) {
  if (!impl_->thread.joinable()) return fn();
  return asio::post(impl_->endpoint->executor(), asio::use_future(std::move(fn))).get();
}

void TestServer::advance(std::chrono::nanoseconds by) {
  manual_->advance(by);
  on_strand([] { return 0; });
}

void TestServer::on_server(const std::function<void()>& fn) {
  on_strand([&fn] {
    fn();
    return 0;
  });
}

void TestServer::stop() {
  if (!impl_->thread.joinable()) return;
  asio::post(impl_->endpoint->executor(), [this] { impl_->endpoint->close(0, "server shutting down"); });
  if (manual_ != nullptr) {
    on_strand([] { return 0; });  // the close has been made
    // Past every closing period. No barrier after it: the server thread ends with the loop.
    manual_->advance(std::chrono::minutes(1));
  }
  impl_->loop_done.get();
  impl_->thread.join();
}

bool TestServer::loop_ended(std::chrono::milliseconds limit) {
  return impl_->loop_done.wait_for(limit) == std::future_status::ready;
}

std::size_t TestServer::connection_count() {
  return on_strand([this] { return impl_->endpoint->connection_count(); });
}

std::size_t TestServer::routed_id_count() {
  return on_strand([this] { return impl_->endpoint->routed_id_count(); });
}

quic::Stats TestServer::stats() {
  return on_strand([this] { return impl_->endpoint->stats(); });
}

}  // namespace ostrel_server::test
