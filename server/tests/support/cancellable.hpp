#pragma once
// Spawns a coroutine whose awaited operation a test cancels through a signal, and records
// whether it ended cancelled.

#include <asio/awaitable.hpp>
#include <asio/bind_cancellation_slot.hpp>
#include <asio/cancellation_signal.hpp>
#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/error.hpp>
#include <asio/io_context.hpp>
#include <system_error>
#include <utility>

namespace ostrel_server::test {

// `aborted` becomes true when `task` ends with operation_aborted.
inline void spawn_cancellable(asio::io_context& io, asio::cancellation_signal& signal,
                              asio::awaitable<void> task, bool& aborted) {
  asio::co_spawn(
      io,
      [](asio::awaitable<void> t, bool& out) -> asio::awaitable<void> {
        try {
          co_await std::move(t);
        } catch (const std::system_error& e) {
          out = e.code() == asio::error::operation_aborted;
        }
      }(std::move(task), aborted),
      asio::bind_cancellation_slot(signal.slot(), asio::detached));
}

}  // namespace ostrel_server::test
