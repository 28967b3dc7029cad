#pragma once
// The reader task of one connection: reads frames from the receive half of the connection's
// stream, decodes each into a message and hands it, or the first error, to the connection task
// through a bounded channel. While the channel is full the task waits and reads nothing, so an
// undrained channel holds the peer back through the stream's flow control.

#include <cstddef>
#include <expected>
#include <memory>
#include <utility>

#include <asio/awaitable.hpp>
#include <asio/error_code.hpp>
#include <asio/experimental/as_tuple.hpp>
#include <asio/experimental/channel.hpp>
#include <asio/use_awaitable.hpp>

#include "transport/frame.hpp"
#include "transport/stream.hpp"

namespace ostrel_server::transport::reader {

inline constexpr std::size_t kChannelCapacity = 64;

template <class Msg>
using Item = std::expected<Msg, frame::FrameError>;

// Not thread-safe: the reader task and the connection task share one executor (strand).
template <class Msg>
using Channel = asio::experimental::channel<void(asio::error_code, Item<Msg>)>;

template <class Msg>
std::shared_ptr<Channel<Msg>> make_channel(const asio::any_io_executor& ex) {
  return std::make_shared<Channel<Msg>>(ex, kChannelCapacity);
}

// What the connection task does when it stops receiving: a reader waiting for room ends. (A
// plain close leaves a waiting sender waiting.)
template <class Ch>
void close_channel(Ch& ch) {
  ch.close();
  ch.cancel();
}

// Runs until the first error (sent, then the task stops), or until the channel is closed or
// cancelled by the connection task. The channel is shared: the connection task receives from it
// and may drop its handle first. The stream is owned by the task and dropped when it stops.
template <class Msg, AsyncReadStream S>
asio::awaitable<void> run(S stream, std::shared_ptr<Channel<Msg>> out) {
  for (;;) {
    Item<Msg> item = co_await frame::read<Msg>(stream);
    const bool failed = !item.has_value();
    auto [ec] = co_await out->async_send(asio::error_code{}, std::move(item),
                                         asio::experimental::as_tuple(asio::use_awaitable));
    if (ec || failed) co_return;
  }
}

}  // namespace ostrel_server::transport::reader
