// The orderly stop, on handles whose threads the tests give.
#include <gtest/gtest.h>
#include <pthread.h>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>
#include <atomic>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "start/endpoint_link.hpp"
#include "start/handle.hpp"
#include "support/quic_client.hpp"
#include "support/script_engine.hpp"

namespace ostrel_server::handle {
namespace {

using ostrel_core::test::LogCapture;
namespace quic = transport::quic;

constexpr const char* kNetworkPanicked = "the network thread panicked";
constexpr const char* kSimulationPanicked = "the simulation thread panicked; the world may be inconsistent";

ServerThread spawn(const char* name, std::function<void()> body) {
  auto t = ServerThread::spawn(name, std::move(body));
  EXPECT_TRUE(t.has_value());
  return t ? std::move(*t) : ServerThread();
}

// A body that runs until the stop flag is set, then ends normally or panics.
std::function<void()> until_stop(const sim::Control& control, bool panic,
                                 std::atomic<bool>* ended = nullptr) {
  return [control, panic, ended] {
    while (!control->stop_requested()) std::this_thread::yield();
    if (ended) ended->store(true);
    if (panic) throw std::runtime_error("secret payload");
  };
}

ServerHandle handle_with(const sim::Control& control, ServerThread network, ServerThread simulation) {
  return ServerHandle(config::SocketAddr::v4({127, 0, 0, 1}, 47811), control, nullptr, nullptr,
                      std::move(network), std::move(simulation));
}

// The ERROR lines the stop wrote, in order.
std::vector<std::string> panic_lines(const LogCapture& logs) {
  std::vector<std::string> out;
  for (const auto& line : logs.lines()) {
    if (line.find("ostrel_server::handle:") == std::string::npos) continue;
    if (line.find(kSimulationPanicked) != std::string::npos) {
      out.push_back(kSimulationPanicked);
    } else if (line.find(kNetworkPanicked) != std::string::npos) {
      out.push_back(kNetworkPanicked);
    }
  }
  return out;
}

TEST(ServerHandleStop, AnswersByHowTheThreadsEnded) {
  struct Case {
    const char* name;
    bool network_panics, simulation_panics;
    bool clean;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"both_clean", false, false, true, {}},
      {"simulation_panicked", false, true, false, {kSimulationPanicked}},
      {"network_panicked", true, false, false, {kNetworkPanicked}},
      {"both_panicked_network_first", true, true, false, {kNetworkPanicked, kSimulationPanicked}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture logs;
    auto control = sim::make_control();
    std::atomic<bool> network_ended{false}, simulation_ended{false};
    auto h = handle_with(control, spawn("network", until_stop(control, c.network_panics, &network_ended)),
                         spawn("simulation", until_stop(control, c.simulation_panics, &simulation_ended)));
    EXPECT_EQ(std::move(h).stop(), c.clean);
    EXPECT_TRUE(control->stop_requested());
    EXPECT_TRUE(network_ended);  // a panicked simulation does not keep the network thread from its join
    EXPECT_TRUE(simulation_ended);
    EXPECT_EQ(panic_lines(logs), c.lines);
    EXPECT_TRUE(logs.containing("secret payload").empty());  // the payload is never printed
  }
}

TEST(ServerHandleStop, ASecondShutdownFindsNothingAndAnswersTrue) {
  LogCapture logs;
  auto control = sim::make_control();
  auto h = handle_with(control, spawn("network", until_stop(control, false)),
                       spawn("simulation", until_stop(control, true)));
  EXPECT_FALSE(h.shutdown());
  EXPECT_TRUE(h.shutdown());
  EXPECT_EQ(panic_lines(logs), std::vector<std::string>{kSimulationPanicked});
}

TEST(ServerHandleStop, AfterTheConsoleStopTheSimulationHasEndedAndTheStopIsClean) {
  auto control = sim::make_control();
  std::atomic<bool> simulation_ended{false};
  auto h = handle_with(control, spawn("network", until_stop(control, false)),
                       spawn("simulation", until_stop(control, false, &simulation_ended)));
  control->request_stop();  // the console's `stop`
  while (!simulation_ended) std::this_thread::yield();
  EXPECT_TRUE(std::move(h).stop());
}

TEST(ServerHandleStop, DroppingARunningHandleStopsIt) {
  LogCapture logs;
  auto control = sim::make_control();
  std::atomic<bool> network_ended{false};
  {
    auto h = handle_with(control, spawn("network", until_stop(control, false, &network_ended)),
                         spawn("simulation", until_stop(control, true)));
  }
  EXPECT_TRUE(control->stop_requested());
  EXPECT_TRUE(network_ended);
  EXPECT_EQ(panic_lines(logs), std::vector<std::string>{kSimulationPanicked});
}

TEST(ServerThread, IsNamedAndJoinsAsItEnded) {
  std::string seen;
  auto t = ServerThread::spawn("simulation-and-more", [&seen] {
    char name[16] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    seen = name;
  });
  ASSERT_TRUE(t.has_value());
  EXPECT_TRUE(t->holds_thread());
  EXPECT_TRUE(t->join());
  EXPECT_EQ(seen, "simulation-and-");  // the kernel keeps 15 bytes
  EXPECT_FALSE(t->holds_thread());
  EXPECT_TRUE(t->join());  // nothing held: clean

  auto panicking = ServerThread::spawn("simulation", [] { throw 42; });
  ASSERT_TRUE(panicking.has_value());
  EXPECT_FALSE(panicking->join());
}

// The network thread as start runs it: the accept loop on the runtime until the endpoint
// closes, then the runtime stopped, the endpoint let go and the runtime dropped.
ServerThread network_thread(std::shared_ptr<EndpointLink> link, std::shared_ptr<asio::io_context> io,
                            const sim::Control& control) {
  return spawn("network", [link, io, control] {
    quic::Endpoint* endpoint = link->endpoint();
    asio::co_spawn(
        endpoint->executor(),
        [&]() -> asio::awaitable<void> {
          co_await transport::endpoint::accept_loop(*endpoint, test::echo, control->stop_flag());
          io->stop();
        },
        asio::detached);
    io->run();
    link->release();
  });
}

// Whether the handle is stopped or dropped while running, the endpoint is closed on its own
// executor and every client is told why.
TEST(ServerHandleStop, ClosesEveryConnectionWithTheShutdownReason) {
  for (const bool dropped : {false, true}) {
    SCOPED_TRACE(dropped ? "dropped" : "stopped");
    auto control = sim::make_control();
    auto io = std::make_shared<asio::io_context>();
    auto bound = transport::endpoint::bind(io->get_executor(), {asio::ip::make_address("127.0.0.1"), 0},
                                           test::test_cert());
    ASSERT_TRUE(bound.has_value());
    const auto addr = *bound->local_address();
    auto link = std::make_shared<EndpointLink>(std::move(*bound));
    std::atomic<bool> simulation_ended{false};
    std::optional<ServerHandle> h;
    h.emplace(config::SocketAddr::v4({127, 0, 0, 1}, addr.port()), control, link, nullptr,
              network_thread(link, io, control),
              spawn("simulation", until_stop(control, false, &simulation_ended)));

    asio::io_context client_io;
    auto client = test::run_sync(
        client_io, test::QuicClient::connect(client_io.get_executor(), addr, test::test_cert().fingerprint));
    ASSERT_TRUE(client.has_value()) << client.error();
    ASSERT_TRUE(test::run_sync(client_io, client->send(std::vector<std::uint8_t>{1, 2, 3})).has_value());
    ASSERT_TRUE(test::run_sync(client_io, client->receive()).has_value());

    if (dropped) {
      h.reset();
    } else {
      EXPECT_TRUE(std::move(*h).stop());
    }
    EXPECT_TRUE(control->stop_requested());
    EXPECT_TRUE(simulation_ended);
    EXPECT_EQ(link->endpoint(), nullptr);  // let go by the network thread
    const auto closed = test::run_sync(client_io, client->connection().closed());
    EXPECT_EQ(closed.kind, quic::CloseInfo::Kind::Application);
    EXPECT_EQ(closed.code, 0u);
    EXPECT_EQ(closed.reason, "server shutting down");
    link->close();  // released: nothing left to close, and nothing breaks
  }
}

// Closes racing each other and the network thread's release: each close either reaches the
// running endpoint or finds it gone.
TEST(EndpointLinkStress, ClosesFromManyThreadsWhileTheNetworkThreadLetsGo) {
  for (int round = 0; round < 20; ++round) {
    auto control = sim::make_control();
    auto io = std::make_shared<asio::io_context>();
    auto bound = transport::endpoint::bind(io->get_executor(), {asio::ip::make_address("127.0.0.1"), 0},
                                           test::test_cert());
    ASSERT_TRUE(bound.has_value());
    auto link = std::make_shared<EndpointLink>(std::move(*bound));
    auto network = network_thread(link, io, control);
    std::vector<std::thread> closers;
    for (int i = 0; i < 4; ++i) {
      closers.emplace_back([link] {
        for (int k = 0; k < 50; ++k) link->close();
      });
    }
    for (auto& t : closers) t.join();
    EXPECT_TRUE(network.join());  // the first close ended the accept loop
    EXPECT_EQ(link->endpoint(), nullptr);
  }
}

}  // namespace
}  // namespace ostrel_server::handle
