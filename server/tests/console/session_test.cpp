// The console over real loopback TCP: the listener, the session's protocol and its limits. The
// server and the clients share one io_context on the test's thread.
#include <optional>
#include <string>
#include <vector>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>
#include <gtest/gtest.h>

#include "console/commands.hpp"
#include "console/line.hpp"
#include "console/rcon.hpp"
#include "support/console.hpp"
#include "support/log_capture.hpp"
#include "support/run.hpp"

namespace ostrel_server::rcon {
namespace {

using asio::ip::tcp;
using config::SocketAddr;
using test::converse;
using test::kConsoleToken;

const std::string kToken = kConsoleToken;
const std::string kAuth = "auth " + kToken + "\n";
const std::string kGreet(kGreeting);
const std::string kOk(kAuthenticated);

// A listener on a free loopback port running its accept loop.
struct Listening {
  asio::io_context io;
  test::ConsoleWorld world;
  tcp::endpoint at;
  std::optional<std::expected<void, ostrel_core::IoError>> ended;  // the accept loop's result

  explicit Listening(SocketAddr addr = SocketAddr::v4({127, 0, 0, 1}, 0)) {
    auto acceptor = bind_listener(io.get_executor(), addr);
    if (!acceptor) {
      ADD_FAILURE() << acceptor.error().message();
      return;
    }
    at = acceptor->local_endpoint();
    asio::co_spawn(
        io,
        [](tcp::acceptor a, Context ctx, Listening* self) -> asio::awaitable<void> {
          self->ended = co_await accept_loop(std::move(a), std::move(ctx));
        }(std::move(*acceptor), world.ctx, this),
        asio::detached);
  }
  std::string talk(const std::string& input) { return test::run_sync(io, converse(at, input)); }
};

TEST(ConsoleSession, GreetsWith48Bytes) {
  Listening l;
  EXPECT_EQ(kGreeting.size(), 48u);
  EXPECT_EQ(l.talk(""), kGreet);
}

TEST(ConsoleSession, Authentication) {
  struct Case {
    const char* name;
    std::string input;
    std::string reply;  // after the greeting
    bool failed_log;
  };
  const std::string bye = "bye\n.\n";
  const Case cases[] = {
      {"token", kAuth + "quit\n", kOk + bye, false},
      {"spaces_around", "auth    " + kToken + "  \nquit\n", kOk + bye, false},
      {"crlf", "auth " + kToken + "\r\nquit\r\n", kOk + bye, false},
      {"blank_lines_first", "\n  \n\r\n\t\n" + kAuth + "\n\nquit\n", kOk + bye, false},
      {"unterminated_last_line", kAuth + "quit", kOk + bye, false},
      {"one_byte_wrong", "auth " + kToken.substr(0, kToken.size() - 1) + "X\n", "error: bad token\n.\n", true},
      {"one_byte_longer", "auth " + kToken + "x\n", "error: bad token\n.\n", true},
      {"no_token", "auth \n", "error: authenticate first: auth <token>\n.\n", false},
      {"capitals", "AUTH " + kToken + "\n", "error: authenticate first: auth <token>\n.\n", false},
      {"no_space", "authx\n", "error: authenticate first: auth <token>\n.\n", false},
      {"command_first", "status\n", "error: authenticate first: auth <token>\n.\n", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Listening l;
    ostrel_core::test::LogCapture logs;
    EXPECT_EQ(l.talk(c.input), kGreet + c.reply);
    EXPECT_EQ(logs.containing("WARN ostrel_server::rcon: RCON authentication failed").size(), c.failed_log ? 1u : 0u);
  }
}

TEST(ConsoleSession, BlankLinesAloneGetNoAnswer) {
  Listening l;
  EXPECT_EQ(l.talk(std::string(5000, '\n') + "   \r\n"), kGreet);
}

TEST(ConsoleSession, CommandsAreAnsweredAndTerminated) {
  Listening l;
  const std::string got = l.talk(kAuth + "help\r\n" + "auth " + kToken + "\n" + "\xff" "status\n" + "mods\n");
  EXPECT_EQ(got, kGreet + kOk + std::string(kHelp) + "\n.\n" + "error: unknown command `auth`; try `help`\n.\n" +
                     "error: unknown command `\xef\xbf\xbdstatus`; try `help`\n.\n" + "no mods loaded\n.\n");
}

TEST(ConsoleSession, LineLimit) {
  {
    Listening l;
    const std::string longest(8190, 'x');
    EXPECT_EQ(l.talk(kAuth + longest + "\nquit\n"),
              kGreet + kOk + "error: unknown command `" + longest + "`; try `help`\n.\nbye\n.\n");
  }
  for (const std::string& tail : {std::string(8191, 'x') + "\n", std::string(8191, 'x'), std::string(100000, 'y')}) {
    SCOPED_TRACE(tail.size());
    Listening l;
    ostrel_core::test::LogCapture logs;
    EXPECT_EQ(l.talk(kAuth + tail), kGreet + kOk);
    auto ended = logs.containing("WARN ostrel_server::rcon: RCON session ended: RCON line too long peer=127.0.0.1:");
    EXPECT_EQ(ended.size(), 1u);
  }
}

TEST(ConsoleSession, StopClosesAndEndsTheListener) {
  Listening l;
  int woken = 0;
  l.world.ctx->on_stop = [&] { ++woken; };
  EXPECT_EQ(l.talk(kAuth + "stop\nhelp\n"), kGreet + kOk + "ok: stopping\n.\n");
  EXPECT_TRUE(l.world.hub->control()->stop_requested());
  EXPECT_EQ(woken, 1);
  l.io.restart();
  l.io.run();  // the accept loop sees the flag and ends; nothing else is left to run
  ASSERT_TRUE(l.ended);
  EXPECT_TRUE(l.ended->has_value());
  tcp::socket late(l.io);
  std::error_code ec;
  late.connect(l.at, ec);
  EXPECT_EQ(ec, asio::error::connection_refused);
}

TEST(ConsoleSession, IdleSessionsHoldNoThread) {
  Listening l;
  std::vector<tcp::socket> idle;
  for (int i = 0; i < 100; ++i) {
    idle.emplace_back(l.io);
    idle.back().connect(l.at);
  }
  // One thread runs the listener, the 100 greeted sessions and this conversation.
  EXPECT_EQ(l.talk(kAuth + "save\n"), kGreet + kOk + "ok: save requested\n.\n");
  EXPECT_TRUE(l.world.hub->control()->take_save_request());
}

TEST(ConsoleListener, PeerMustBeLoopback) {
  struct Case {
    const char* address;
    bool loopback;
  };
  const Case cases[] = {
      {"127.0.0.1", true}, {"127.0.0.2", true},        {"127.255.255.254", true}, {"::1", true},
      {"10.0.0.1", false}, {"::ffff:127.0.0.1", false}, {"0.0.0.0", false},       {"::", false},
      {"::2", false},      {"192.168.1.7", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    EXPECT_EQ(is_loopback(asio::ip::make_address(c.address)), c.loopback);
  }
}

TEST(ConsoleListener, RefusesToBindOtherThanLoopback) {
  asio::io_context io;
  for (const char* text : {"0.0.0.0:47812", "10.0.0.1:0", "[::ffff:127.0.0.1]:0", "[::]:0"}) {
    SCOPED_TRACE(text);
    auto bound = bind_listener(io.get_executor(), *SocketAddr::parse(text));
    ASSERT_FALSE(bound);
    EXPECT_EQ(bound.error().message(), fmt::format("RCON must bind a loopback address, not {}. Tunnel over SSH for "
                                                   "remote access; this protocol has no transport encryption.",
                                                   SocketAddr::parse(text)->to_string()));
  }
}

TEST(ConsoleListener, StartUpLogsWhyItStopped) {
  test::ConsoleWorld world;
  ostrel_core::test::LogCapture logs;
  asio::io_context io;
  spawn(io.get_executor(), *SocketAddr::parse("0.0.0.0:0"), world.ctx);
  io.run();  // the listener ends at once; the server would run on without a console
  ASSERT_EQ(logs.lines().size(), 1u);
  EXPECT_NE(logs.lines()[0].find("ERROR ostrel_server::rcon: RCON listener stopped: RCON must bind a loopback "
                                 "address, not 0.0.0.0:0. Tunnel over SSH"),
            std::string::npos)
      << logs.lines()[0];
}

TEST(ConsoleListener, ServeLogsTheAddressAndEndsOnTheStopFlag) {
  test::ConsoleWorld world;
  ostrel_core::test::LogCapture logs;
  asio::io_context io;
  world.hub->control()->request_stop();
  auto done = test::run_sync(io, serve(*SocketAddr::parse("127.0.0.1:0"), world.ctx, std::chrono::milliseconds(1)));
  EXPECT_TRUE(done.has_value());
  EXPECT_EQ(logs.containing("INFO ostrel_server::rcon: RCON listening on loopback addr=127.0.0.1:0").size(), 1u);
}

TEST(ConsoleListener, StartSpawnsOnlyWithAnRconTable) {
  test::ConsoleWorld world;
  ostrel_core::test::LogCapture logs;
  asio::io_context io;
  EXPECT_FALSE(start(io.get_executor(), std::nullopt, {}, world.hub, {}));
  EXPECT_EQ(io.run(), 0u);  // nothing was spawned
  EXPECT_TRUE(logs.lines().empty());

  int woken = 0;
  config::RconConfig table{*SocketAddr::parse("127.0.0.1:0"), kToken};
  io.restart();
  EXPECT_TRUE(start(io.get_executor(), table, {{"base", "1.2.3", {}}}, world.hub, [&] { ++woken; }));
  io.run_one();  // the listener binds and logs
  EXPECT_EQ(logs.containing("RCON listening on loopback addr=127.0.0.1:0").size(), 1u);
  world.hub->control()->request_stop();
  io.run();  // and ends at its next look at the flag
  EXPECT_EQ(logs.containing("RCON listener stopped").size(), 0u);
}

}  // namespace
}  // namespace ostrel_server::rcon
