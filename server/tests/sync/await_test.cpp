#include "sync/await.hpp"

#include <gtest/gtest.h>

#include <asio/bind_cancellation_slot.hpp>
#include <asio/cancellation_signal.hpp>
#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>
#include <string>
#include <system_error>
#include <thread>

#include "base/broadcast.hpp"
#include "support/cancellable.hpp"

namespace ostrel_server::sync {
namespace {

using ostrel_core::sync::broadcast::Received;
using ostrel_core::sync::broadcast::Receiver;
using ostrel_core::sync::broadcast::Sender;
using Kind = Received<std::string>::Kind;

TEST(AwaitBroadcast, ReceiveWaitsForASendFromAnotherThread) {
  auto tx = std::make_unique<Sender<std::string>>(4);
  auto rx = tx->subscribe();
  asio::io_context io;
  std::vector<Received<std::string>> got;
  asio::co_spawn(
      io,
      [&]() -> asio::awaitable<void> {
        got.push_back(co_await recv(rx));
        got.push_back(co_await recv(rx));
      },
      asio::detached);
  io.poll();
  EXPECT_TRUE(got.empty());
  std::thread sender([&] {
    tx->send("hello");
    tx.reset();  // closes: the second receive ends
  });
  io.run();
  sender.join();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].kind, Kind::Value);
  EXPECT_EQ(*got[0].value, "hello");
  EXPECT_EQ(got[1].kind, Kind::Closed);
}

TEST(AwaitBroadcast, CancelledReceiveLosesNothing) {
  Sender<std::string> tx(4);
  auto rx = tx.subscribe();
  asio::io_context io;
  asio::cancellation_signal cancel;
  bool aborted = false;
  test::spawn_cancellable(
      io, cancel, [](Receiver<std::string>& r) -> asio::awaitable<void> { co_await recv(r); }(rx), aborted);
  io.poll();
  cancel.emit(asio::cancellation_type::terminal);
  io.poll();
  EXPECT_TRUE(aborted);
  EXPECT_FALSE(rx.disarm());  // the wake-up is gone with the cancelled wait
  tx.send("after");
  auto r = rx.try_recv();
  ASSERT_EQ(r.kind, Kind::Value);
  EXPECT_EQ(*r.value, "after");
}

}  // namespace
}  // namespace ostrel_server::sync
