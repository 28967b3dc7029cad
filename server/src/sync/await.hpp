#pragma once
// Awaiting the waitable primitives from coroutines on the network runtime: the async mutex and
// the broadcast ring's receivers. Each wait completes on the awaiting coroutine's own executor
// and honours per-operation cancellation (as the `||` of Asio's awaitable operators uses it):
// a cancelled lock wait leaves the line and never holds the lock; a cancelled receive changes
// nothing in the ring.

#include <asio/associated_cancellation_slot.hpp>
#include <asio/associated_executor.hpp>
#include <asio/async_result.hpp>
#include <asio/awaitable.hpp>
#include <asio/error.hpp>
#include <asio/execution/outstanding_work.hpp>
#include <asio/post.hpp>
#include <asio/prefer.hpp>
#include <asio/use_awaitable.hpp>
#include <memory>
#include <optional>
#include <system_error>
#include <utility>

#include "base/broadcast.hpp"
#include "sync/async_mutex.hpp"

namespace ostrel_server::sync {
namespace detail {

// One suspended operation: its handler, the work that keeps its executor running, and its
// cancellation slot. Exactly one of the wake-up and the cancellation completes it; the line or
// ring decides which, under its own lock.
template <class Handler, class... Args>
class Wait : public std::enable_shared_from_this<Wait<Handler, Args...>> {
 public:
  explicit Wait(Handler handler)
      : handler_(std::move(handler)),
        work_(
            asio::prefer(asio::get_associated_executor(handler_), asio::execution::outstanding_work.tracked)),
        slot_(asio::get_associated_cancellation_slot(handler_)) {}

  // Completes on the handler's executor. Arguments that own something (a lock guard) are
  // released by their destructors if the executor drops the completion unrun.
  void complete(std::error_code ec, Args... args) {
    asio::post(work_, [self = this->shared_from_this(), ec, ... args = std::move(args)]() mutable {
      if (self->slot_.is_connected()) self->slot_.clear();
      std::move(self->handler_)(ec, std::move(args)...);
    });
  }
  auto& slot() { return slot_; }

 private:
  Handler handler_;
  decltype(asio::prefer(std::declval<asio::associated_executor_t<Handler>>(),
                        asio::execution::outstanding_work.tracked)) work_;
  asio::associated_cancellation_slot_t<Handler> slot_;
};

}  // namespace detail

// Waits for the lock in line behind every earlier waiter.
template <class T>
asio::awaitable<typename AsyncMutex<T>::Guard> lock(AsyncMutex<T>& m) {
  using Guard = typename AsyncMutex<T>::Guard;
  auto start = [&m](auto handler) {
    using W = detail::Wait<decltype(handler), std::optional<Guard>>;
    auto wait = std::make_shared<W>(std::move(handler));
    auto ticket =
        m.line().acquire_or_wait([&m, wait] { wait->complete({}, std::optional<Guard>(m.adopt())); });
    if (!ticket) {
      wait->complete({}, std::optional<Guard>(m.adopt()));
      return;
    }
    if (wait->slot().is_connected()) {
      wait->slot().assign([&m, t = *ticket, weak = std::weak_ptr<W>(wait)](asio::cancellation_type) {
        auto w = weak.lock();
        if (w && m.line().leave(t)) w->complete(asio::error::operation_aborted, std::nullopt);
      });
    }
  };
  std::optional<Guard> got = co_await asio::async_initiate<const asio::use_awaitable_t<>&,
                                                           void(std::error_code, std::optional<Guard>)>(
      std::move(start), asio::use_awaitable);
  co_return std::move(*got);
}

// Until a receive would not answer Empty (a value, a lag report or the close), consuming
// nothing: a wait cancelled as another branch of an `||` wins loses no value.
template <class T>
asio::awaitable<void> ready(ostrel_core::sync::broadcast::Receiver<T>& rx) {
  auto start = [&rx](auto handler) {
    using W = detail::Wait<decltype(handler)>;
    auto wait = std::make_shared<W>(std::move(handler));
    if (!rx.arm([wait] { wait->complete({}); })) {
      wait->complete({});
      return;
    }
    if (wait->slot().is_connected()) {
      wait->slot().assign([&rx, weak = std::weak_ptr<W>(wait)](asio::cancellation_type) {
        auto w = weak.lock();
        if (w && rx.disarm()) w->complete(asio::error::operation_aborted);
      });
    }
  };
  co_await asio::async_initiate<const asio::use_awaitable_t<>&, void(std::error_code)>(std::move(start),
                                                                                       asio::use_awaitable);
}

// The next receive that is not Empty: a value, a lag report or the close.
template <class T>
asio::awaitable<ostrel_core::sync::broadcast::Received<T>> recv(
    ostrel_core::sync::broadcast::Receiver<T>& rx) {
  using Kind = typename ostrel_core::sync::broadcast::Received<T>::Kind;
  for (;;) {
    auto r = rx.try_recv();
    if (r.kind != Kind::Empty) co_return r;
    co_await ready(rx);
  }
}

}  // namespace ostrel_server::sync
