#include "support/login_client.hpp"

// g++ 12 pairs Asio's coroutine frame delete with the wrong new when a coroutine returns a large
// variant; the frame is allocated and freed by Asio's own pair.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

#include <algorithm>
#include <asio/experimental/awaitable_operators.hpp>

#include "identity/identity.hpp"
#include "proto/codec.hpp"

namespace ostrel_server::test {

namespace proto = ostrel_core::proto;
namespace cm = proto::client;
namespace sm = proto::server;

std::string_view name_of(const proto::ServerMessage& m) { return proto::server_message_name(m); }

asio::awaitable<std::expected<LoginClient, std::string>> LoginClient::connect(
    const asio::any_io_executor& ex, const asio::ip::udp::endpoint& server,
    const cert::Fingerprint& fingerprint) {
  auto c = co_await QuicClient::connect(ex, server, fingerprint);
  if (!c) co_return std::unexpected(c.error());
  co_return LoginClient(std::move(*c), fingerprint);
}

asio::awaitable<std::expected<void, transport::frame::FrameError>> LoginClient::send(
    const proto::ClientMessage& m) {
  const auto bytes = proto::encode(m);
  co_return co_await quic_.send(bytes);
}

asio::awaitable<std::expected<proto::ServerMessage, std::string>> LoginClient::receive(
    std::chrono::milliseconds limit) {
  using namespace asio::experimental::awaitable_operators;
  auto got = co_await (quic_.receive() || sleep_for(limit));
  if (got.index() == 1) co_return std::unexpected("nothing within the limit");
  auto& payload = std::get<0>(got);
  if (!payload) co_return std::unexpected(payload.error().message());
  auto m = proto::decode_server(*payload);
  if (!m) co_return std::unexpected(m.error().message());
  co_return std::move(*m);
}

asio::awaitable<std::expected<proto::ServerMessage, std::string>> LoginClient::receive_skipping(
    std::vector<std::string_view> skip, std::chrono::milliseconds limit) {
  for (;;) {
    auto m = co_await receive(limit);
    if (!m || std::find(skip.begin(), skip.end(), name_of(*m)) == skip.end()) co_return m;
  }
}

asio::awaitable<std::expected<std::vector<proto::ServerMessage>, std::string>> LoginClient::login(
    const ostrel_core::test::TestKey& key, std::string name) {
  std::vector<proto::ServerMessage> out;
  // Messages are named locals: g++ 12 destroys a temporary in an awaited call's arguments twice.
  const proto::ClientMessage hello = cm::Hello{proto::kProtocolVersion, key.pk, std::move(name)};
  if (auto s = co_await send(hello); !s) co_return std::unexpected(s.error().message());
  for (int i = 0; i < 2; ++i) {
    auto m = co_await receive();
    if (!m) co_return std::unexpected(m.error());
    out.push_back(std::move(*m));
    if (name_of(out.back()) == "Disconnect") co_return out;
  }
  const auto* challenge = std::get_if<sm::AuthChallenge>(&out[1]);
  if (challenge == nullptr) co_return std::unexpected("no challenge");
  const auto signed_bytes =
      ostrel_core::identity::challenge_message(challenge->nonce, fingerprint_, proto::kProtocolVersion);
  const proto::ClientMessage answer = cm::AuthResponse{{key.sign(signed_bytes)}};
  if (auto s = co_await send(answer); !s) co_return std::unexpected(s.error().message());
  for (int i = 0; i < 15; ++i) {
    auto m = co_await receive();
    if (!m) co_return std::unexpected(m.error());
    out.push_back(std::move(*m));
    if (name_of(out.back()) == "Disconnect") co_return out;
  }
  co_return out;
}

asio::awaitable<std::expected<std::vector<proto::ServerMessage>, std::string>> LoginClient::join(
    std::size_t views) {
  std::vector<proto::ServerMessage> out;
  const proto::ClientMessage join = cm::JoinWorld{};
  if (auto s = co_await send(join); !s) co_return std::unexpected(s.error().message());
  for (;;) {
    auto m = co_await receive();
    if (!m) co_return std::unexpected(m.error());
    out.push_back(std::move(*m));
    if (name_of(out.back()) == "ViewDistanceLimit" || name_of(out.back()) == "Disconnect") break;
  }
  for (std::size_t i = 0; i < views; ++i) {
    auto m = co_await receive();
    if (!m) co_return std::unexpected(m.error());
    out.push_back(std::move(*m));
  }
  co_return out;
}

FakeChunkServer::FakeChunkServer(std::shared_ptr<transport::endpoint::Shared> hub, Answer answer)
    : hub_(std::move(hub)), answer_(std::move(answer)), thread_([this] { run(); }) {}

FakeChunkServer::~FakeChunkServer() {
  stop_ = true;
  thread_.join();
}

void FakeChunkServer::hold(Filter which) {
  std::lock_guard l(mu_);
  hold_ = std::move(which);
}

void FakeChunkServer::release() {
  std::lock_guard l(mu_);
  hold_ = nullptr;
}

std::size_t FakeChunkServer::held_full() const {
  std::lock_guard l(mu_);
  return static_cast<std::size_t>(
      std::count_if(held_.begin(), held_.end(), [](const auto& r) { return !r.level; }));
}

std::optional<transport::endpoint::Served> FakeChunkServer::plain(
    const transport::endpoint::ChunkRequest& r) {
  transport::endpoint::Served s;
  s.bytes = {static_cast<std::uint8_t>(r.pos.x), static_cast<std::uint8_t>(r.pos.y),
             static_cast<std::uint8_t>(r.pos.z), r.level.value_or(0)};
  return s;
}

void FakeChunkServer::run() {
  while (!stop_) {
    auto batch = hub_->take_chunk_requests();
    std::vector<transport::endpoint::ChunkRequest> answer_now;
    {
      std::lock_guard l(mu_);
      for (auto& r : batch) held_.push_back(std::move(r));
      std::size_t full = 0, summaries = 0;
      for (const auto& r : held_) (r.level ? summaries : full)++;
      max_full_ = std::max(max_full_.load(), full);
      max_summaries_ = std::max(max_summaries_.load(), summaries);
      std::vector<transport::endpoint::ChunkRequest> keep;
      for (auto& r : held_) (hold_ && hold_(r) ? keep : answer_now).push_back(std::move(r));
      held_ = std::move(keep);
    }
    for (auto& r : answer_now) {
      auto reply = answer_(r);
      (void)std::move(r.reply).send(std::move(reply));
      ++answered_;
    }
    // The simulation answers once a tick; a millisecond keeps this thread from spinning.
    if (batch.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace ostrel_server::test
