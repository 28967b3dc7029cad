#pragma once
// Runs one coroutine to its end on a test's io_context; other work (a socket's receive loop)
// stays pending for the next call.

#include <optional>
#include <utility>

#include <asio/awaitable.hpp>
#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>

namespace ostrel_server::test {

template <class T>
T run_sync(asio::io_context& io, asio::awaitable<T> task) {
  std::optional<T> out;
  asio::co_spawn(
      io,
      [&]() -> asio::awaitable<void> {
        out.emplace(co_await std::move(task));
        io.stop();
      },
      asio::detached);
  io.restart();
  io.run();
  return std::move(*out);
}

}  // namespace ostrel_server::test
