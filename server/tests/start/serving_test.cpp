// The console's stop ends the process as an interrupt would: main's wait ends, "shutting down"
// is logged, the orderly stop runs and the process exits 0. Each case runs in a forked child
// (the signal listener is process-wide); SIGALRM ends a child whose wait never returns.
#include "start/serving.hpp"

#include <sys/time.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>
#include <asio/read.hpp>
#include <asio/write.hpp>
#include <gtest/gtest.h>

#include "base/log.hpp"
#include "support/death.hpp"
#include "console/rcon.hpp"
#include "support/console.hpp"

namespace ostrel_server::handle {
namespace {

using asio::ip::tcp;
using ::testing::ExitedWithCode;

using test::alarm_in;
using test::log_to_stderr;

ServerThread spawn(const char* name, std::function<void()> body) {
  auto t = ServerThread::spawn(name, std::move(body));
  if (!t) std::_Exit(5);
  return std::move(*t);
}

// Sends `lines` to the console at `at` from a plain thread and reads until the server closes.
std::string console_client(tcp::endpoint at, const std::string& lines) {
  asio::io_context io;
  tcp::socket s(io);
  s.connect(at);
  asio::write(s, asio::buffer(lines));
  std::string got;
  std::error_code ec;
  asio::read(s, asio::dynamic_buffer(got), ec);
  return got;
}

// A server whose network thread runs the console and whose simulation thread ends when the
// stop flag is set; `stop_first` sends the console's stop before main begins to wait.
[[noreturn]] void serve_and_stop_over_console(bool stop_first) {
  alarm_in(std::chrono::seconds(10));
  ostrel_core::log::install(ostrel_core::log::Options{.filter = {}, .colour = false});
  ostrel_core::log::set_sink(log_to_stderr, nullptr);
  test::ConsoleWorld world;
  shutdown::Notifier stop_request;
  world.ctx->on_stop = [stop_request] { stop_request.notify(); };
  auto io = std::make_shared<asio::io_context>();
  auto acceptor = rcon::bind_listener(io->get_executor(), config::SocketAddr::v4({127, 0, 0, 1}, 0));
  if (!acceptor) std::_Exit(4);
  const auto at = acceptor->local_endpoint();
  asio::co_spawn(*io, rcon::accept_loop(std::move(*acceptor), world.ctx), asio::detached);
  const auto control = world.hub->control();
  auto network = spawn("network", [io] { io->run(); });
  auto simulation = spawn("simulation", [control] {
    while (!control->stop_requested()) std::this_thread::yield();
  });
  ServerHandle handle(config::SocketAddr::v4({127, 0, 0, 1}, 47811), control, nullptr, world.hub,
                      std::move(network), std::move(simulation));
  const std::string stop = std::string("auth ") + test::kConsoleToken + "\nstop\n";
  std::string reply;
  std::thread client;
  if (stop_first) {
    reply = console_client(at, stop);
  } else {
    client = std::thread([&] { reply = console_client(at, stop); });
  }
  auto signal = shutdown::listen(stop_request);
  const bool clean = wait_and_stop(std::move(handle), signal);
  if (client.joinable()) client.join();
  if (reply.find("ok: stopping\n.\n") == std::string::npos) std::_Exit(3);
  std::_Exit(clean ? 0 : 1);
}

TEST(ServingDeathTest, ConsoleStopEndsMainsWait) {
  for (bool stop_first : {true, false}) {
    SCOPED_TRACE(stop_first ? "stop before the wait" : "stop during the wait");
    EXPECT_EXIT(serve_and_stop_over_console(stop_first), ExitedWithCode(0),
                "stop requested over RCON(.|\n)*INFO server: shutting down ticks=0 dropped=0\n(.|\n)*"
                "INFO server: world flushed and closed\n$");
  }
}

}  // namespace
}  // namespace ostrel_server::handle
