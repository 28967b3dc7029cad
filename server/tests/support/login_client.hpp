#pragma once
// A game client for end-to-end tests of the connection task: it logs in with an Ed25519 key over
// loopback QUIC and reads server messages back as values. Beside it, a fake chunk server: a
// thread that answers the hub's chunk requests as the simulation would.

#include <asio/awaitable.hpp>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "hub/hub.hpp"
#include "proto/client.hpp"
#include "proto/server_message.hpp"
#include "support/ed25519.hpp"
#include "support/quic_client.hpp"

namespace ostrel_server::test {

class LoginClient {
 public:
  static asio::awaitable<std::expected<LoginClient, std::string>> connect(
      const asio::any_io_executor& ex, const asio::ip::udp::endpoint& server,
      const cert::Fingerprint& fingerprint);

  asio::awaitable<std::expected<void, transport::frame::FrameError>> send(
      const ostrel_core::proto::ClientMessage& m);
  // The next message, or why there is none within `limit` (the stream's error, a bad message, or
  // "nothing within the limit").
  asio::awaitable<std::expected<ostrel_core::proto::ServerMessage, std::string>> receive(
      std::chrono::milliseconds limit = std::chrono::seconds(10));
  // The next message that is not a `skip`ped kind (by wire name).
  asio::awaitable<std::expected<ostrel_core::proto::ServerMessage, std::string>> receive_skipping(
      std::vector<std::string_view> skip, std::chrono::milliseconds limit = std::chrono::seconds(10));
  // Hello, then the challenge signed with `key`: every message received, ServerHello first.
  // Stops early at a Disconnect.
  asio::awaitable<std::expected<std::vector<ostrel_core::proto::ServerMessage>, std::string>> login(
      const ostrel_core::test::TestKey& key, std::string name);
  // JoinWorld: the messages up to and including the first ViewDistanceLimit, then `views` more.
  asio::awaitable<std::expected<std::vector<ostrel_core::proto::ServerMessage>, std::string>> join(
      std::size_t views);

  QuicClient& quic() { return quic_; }

 private:
  explicit LoginClient(QuicClient quic, const cert::Fingerprint& fingerprint)
      : quic_(std::move(quic)), fingerprint_(fingerprint) {}
  QuicClient quic_;
  cert::Fingerprint fingerprint_;
};

// The wire name of a server message.
std::string_view name_of(const ostrel_core::proto::ServerMessage& m);

// Answers the hub's chunk requests on its own thread: each request gets `answer`'s reply.
// Requests that the hold filter picks are taken and kept unanswered until release().
class FakeChunkServer {
 public:
  using Answer =
      std::function<std::optional<transport::endpoint::Served>(const transport::endpoint::ChunkRequest&)>;
  FakeChunkServer(std::shared_ptr<transport::endpoint::Shared> hub, Answer answer);
  ~FakeChunkServer();
  FakeChunkServer(const FakeChunkServer&) = delete;
  FakeChunkServer& operator=(const FakeChunkServer&) = delete;

  using Filter = std::function<bool(const transport::endpoint::ChunkRequest&)>;
  // Keeps the requests `which` picks (by default all of them) unanswered.
  void hold(Filter which = [](const transport::endpoint::ChunkRequest&) { return true; });
  void release();
  // The most full-chunk and summary requests kept unanswered at once.
  std::size_t max_held_full() const { return max_full_.load(); }
  std::size_t max_held_summaries() const { return max_summaries_.load(); }
  std::size_t held_full() const;
  std::size_t answered() const { return answered_.load(); }
  // A plain chunk: its bytes name its position.
  static std::optional<transport::endpoint::Served> plain(const transport::endpoint::ChunkRequest& r);

 private:
  void run();
  std::shared_ptr<transport::endpoint::Shared> hub_;
  Answer answer_;
  mutable std::mutex mu_;
  Filter hold_;                                          // guarded by mu_; null: hold nothing
  std::vector<transport::endpoint::ChunkRequest> held_;  // guarded by mu_
  std::atomic<std::size_t> max_full_{0};
  std::atomic<std::size_t> max_summaries_{0};
  std::atomic<std::size_t> answered_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace ostrel_server::test
