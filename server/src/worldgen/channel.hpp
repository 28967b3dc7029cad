#pragma once
// An unbounded channel between threads: many senders, one receiver. Sending never waits. The
// channel closes for the receiver when every sender is gone and nothing is left to take, and for
// the senders when the receiver is gone (a send then gives the value back as refused).

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <optional>
#include <utility>

#include "base/thread_safety.hpp"

namespace ostrel_server::worldgen::channel {

namespace detail {

template <class T>
struct State {
  ostrel_core::sync::PlainMutex mu;
  std::condition_variable ready;  // an item arrived or the last sender left
  std::deque<T> items OSTREL_GUARDED_BY(mu);
  std::size_t senders OSTREL_GUARDED_BY(mu) = 1;
  bool receiver OSTREL_GUARDED_BY(mu) = true;
};

}  // namespace detail

template <class T>
class Sender {
 public:
  Sender() = default;  // holds no channel: every send is refused
  explicit Sender(std::shared_ptr<detail::State<T>> s) : s_(std::move(s)) {}
  Sender(const Sender& o) : s_(o.s_) {
    if (s_) {
      ostrel_core::sync::PlainLock lock(s_->mu);
      ++s_->senders;
    }
  }
  Sender(Sender&& o) noexcept : s_(std::move(o.s_)) {}
  Sender& operator=(const Sender&) = delete;
  Sender& operator=(Sender&& o) noexcept {
    if (this != &o) {
      reset();
      s_ = std::move(o.s_);
    }
    return *this;
  }
  ~Sender() { reset(); }

  // False when the receiver is gone; the value is dropped then.
  bool send(T value) {
    if (!s_) return false;
    ostrel_core::sync::PlainLock lock(s_->mu);
    if (!s_->receiver) return false;
    s_->items.push_back(std::move(value));
    s_->ready.notify_one();
    return true;
  }

  // Lets go of the channel: the last sender to go closes it for the receiver.
  void reset() {
    if (!s_) return;
    {
      ostrel_core::sync::PlainLock lock(s_->mu);
      if (--s_->senders == 0) s_->ready.notify_all();
    }
    s_.reset();
  }

 private:
  std::shared_ptr<detail::State<T>> s_;
};

template <class T>
class Receiver {
 public:
  explicit Receiver(std::shared_ptr<detail::State<T>> s) : s_(std::move(s)) {}
  Receiver(Receiver&&) noexcept = default;
  Receiver& operator=(Receiver&& o) noexcept {
    if (this != &o) {
      reset();
      s_ = std::move(o.s_);
    }
    return *this;
  }
  Receiver(const Receiver&) = delete;
  Receiver& operator=(const Receiver&) = delete;
  ~Receiver() { reset(); }

  // Lets go of the channel: later sends are refused and what was queued is dropped.
  void reset() {
    if (!s_) return;
    std::deque<T> dropped;
    {
      ostrel_core::sync::PlainLock lock(s_->mu);
      s_->receiver = false;
      dropped.swap(s_->items);
    }
    s_.reset();
  }

  // The next value, waiting for one; nothing once every sender is gone and the queue is empty.
  std::optional<T> recv() {
    ostrel_core::sync::PlainLock lock(s_->mu);
    while (s_->items.empty() && s_->senders > 0) lock.wait(s_->ready);
    return take();
  }
  // The next value without waiting; nothing when none is queued.
  std::optional<T> try_recv() {
    ostrel_core::sync::PlainLock lock(s_->mu);
    return take();
  }

 private:
  std::optional<T> take() OSTREL_NO_THREAD_SAFETY_ANALYSIS {  // REQUIRES: s_->mu held
    if (s_->items.empty()) return std::nullopt;
    std::optional<T> out(std::move(s_->items.front()));
    s_->items.pop_front();
    return out;
  }

  std::shared_ptr<detail::State<T>> s_;
};

template <class T>
std::pair<Sender<T>, Receiver<T>> make() {
  auto s = std::make_shared<detail::State<T>>();
  return {Sender<T>(s), Receiver<T>(s)};
}

}  // namespace ostrel_server::worldgen::channel
