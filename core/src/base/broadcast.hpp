#pragma once
// A broadcast ring: any number of senders and receivers share one ring of `capacity` values.
// A send never waits: it overwrites the oldest value when the ring is full, and a receiver that
// had not read the overwritten values learns how many it missed on its next receive. A send
// with no receiver subscribed is discarded. The last sender gone closes the channel; receivers
// read what is left, then see Closed.
//
// Sequence numbers run from 0; value s sits in slot s % capacity and is kept while
// s >= next - capacity. Example, capacity 4: after sends 0..9 the ring holds 6..9; a receiver
// at 4 first gets Lagged with missed 2 (4 and 5), then 6, 7, 8, 9, then Empty.
//
// Waiting is left to the caller's runtime: `arm` registers a wake-up that the next send (or the
// close) calls once, on the sending thread, outside the lock.

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "base/thread_safety.hpp"

namespace ostrel_core::sync::broadcast {

// One receive: a value, the number of values lost to overwriting, nothing yet, or the end.
template <class T>
struct Received {
  enum class Kind : std::uint8_t { Value, Lagged, Empty, Closed };
  Kind kind = Kind::Empty;
  std::optional<T> value;    // Value
  std::uint64_t missed = 0;  // Lagged
};

// Called once, from the thread that sends or closes.
using Waker = std::function<void()>;

namespace detail {

template <class T>
class Ring {
 public:
  explicit Ring(std::size_t capacity) : slots_(capacity) { assert(capacity > 0); }

  void add_sender() {
    PlainLock l(mu_);
    ++senders_;
  }
  void drop_sender() {
    std::vector<Waker> wake;
    {
      PlainLock l(mu_);
      if (--senders_ == 0) wake = take_wakers();
    }
    for (auto& w : wake) w();
  }
  // The id of a new receiver that starts at the next value sent.
  std::uint64_t subscribe(std::uint64_t& cursor) {
    PlainLock l(mu_);
    ++receivers_;
    cursor = next_;
    return next_id_++;
  }
  void unsubscribe(std::uint64_t id) {
    PlainLock l(mu_);
    --receivers_;
    wakers_.erase(id);
  }

  bool send(T value) {
    std::vector<Waker> wake;
    {
      PlainLock l(mu_);
      if (receivers_ == 0) return false;
      slots_[next_ % slots_.size()] = std::move(value);
      ++next_;
      wake = take_wakers();
    }
    for (auto& w : wake) w();
    return true;
  }

  Received<T> try_recv(std::uint64_t& cursor) {
    using Kind = typename Received<T>::Kind;
    PlainLock l(mu_);
    std::uint64_t oldest = next_ > slots_.size() ? next_ - slots_.size() : 0;
    if (cursor < oldest) {
      Received<T> r{Kind::Lagged, std::nullopt, oldest - cursor};
      cursor = oldest;
      return r;
    }
    if (cursor == next_) return {senders_ == 0 ? Kind::Closed : Kind::Empty, std::nullopt, 0};
    Received<T> r{Kind::Value, slots_[cursor % slots_.size()], 0};
    ++cursor;
    return r;
  }

  // False, and nothing armed, when something is there to receive already (or the end).
  bool arm(std::uint64_t id, std::uint64_t cursor, Waker waker) {
    PlainLock l(mu_);
    if (cursor != next_ || senders_ == 0) return false;
    wakers_[id] = std::move(waker);
    return true;
  }
  // True when the wake-up was still armed and now never runs.
  bool disarm(std::uint64_t id) {
    PlainLock l(mu_);
    return wakers_.erase(id) > 0;
  }

  std::size_t receivers() {
    PlainLock l(mu_);
    return receivers_;
  }

 private:
  std::vector<Waker> take_wakers() OSTREL_REQUIRES(mu_) {
    std::vector<Waker> out;
    out.reserve(wakers_.size());
    for (auto& [id, w] : wakers_) out.push_back(std::move(w));
    wakers_.clear();
    return out;
  }

  PlainMutex mu_;  // guards everything below
  std::vector<std::optional<T>> slots_ OSTREL_GUARDED_BY(mu_);
  std::uint64_t next_ OSTREL_GUARDED_BY(mu_) = 0;  // sequence of the next value sent
  std::size_t senders_ OSTREL_GUARDED_BY(mu_) = 0;
  std::size_t receivers_ OSTREL_GUARDED_BY(mu_) = 0;
  std::uint64_t next_id_ OSTREL_GUARDED_BY(mu_) = 0;
  std::map<std::uint64_t, Waker> wakers_ OSTREL_GUARDED_BY(mu_);  // receiver id -> wake-up
};

}  // namespace detail

template <class T>
class Receiver;

// A sending end. Copies share the channel; the last one destroyed closes it.
template <class T>
class Sender {
 public:
  // REQUIRES: capacity > 0.
  explicit Sender(std::size_t capacity) : ring_(std::make_shared<detail::Ring<T>>(capacity)) {
    ring_->add_sender();
  }
  Sender(const Sender& other) : ring_(other.ring_) { ring_->add_sender(); }
  Sender& operator=(const Sender&) = delete;
  Sender(Sender&& other) noexcept : ring_(std::move(other.ring_)) {}
  ~Sender() {
    if (ring_) ring_->drop_sender();
  }

  // Never waits. False, and the value discarded, when no receiver is subscribed.
  bool send(T value) const { return ring_->send(std::move(value)); }
  // A receiver that sees every value sent from now on.
  Receiver<T> subscribe() const { return Receiver<T>(ring_); }
  std::size_t receiver_count() const { return ring_->receivers(); }

 private:
  std::shared_ptr<detail::Ring<T>> ring_;
};

// A receiving end with its own position in the ring. Move-only.
template <class T>
class Receiver {
 public:
  Receiver(Receiver&& other) noexcept
      : ring_(std::move(other.ring_)), id_(other.id_), cursor_(other.cursor_) {}
  Receiver& operator=(Receiver&&) = delete;
  Receiver(const Receiver&) = delete;
  Receiver& operator=(const Receiver&) = delete;
  ~Receiver() {
    if (ring_) ring_->unsubscribe(id_);
  }

  // Never waits.
  Received<T> try_recv() { return ring_->try_recv(cursor_); }
  // Registers `waker` for the next send or the close; false (nothing armed) when try_recv
  // would not answer Empty. One wake-up per receiver; arming again replaces it.
  bool arm(Waker waker) { return ring_->arm(id_, cursor_, std::move(waker)); }
  // True when the armed wake-up was removed before it ran; false when it ran or runs now.
  bool disarm() { return ring_->disarm(id_); }

 private:
  friend class Sender<T>;
  explicit Receiver(std::shared_ptr<detail::Ring<T>> ring) : ring_(std::move(ring)) {
    id_ = ring_->subscribe(cursor_);
  }
  std::shared_ptr<detail::Ring<T>> ring_;
  std::uint64_t id_ = 0;
  std::uint64_t cursor_ = 0;  // sequence of the next value this receiver reads
};

}  // namespace ostrel_core::sync::broadcast
