#pragma once
// A one-shot channel: one value, sent at most once from any thread, polled by the receiver
// without waiting. A sender dropped without sending closes the channel; a value sent to a
// receiver that is gone is handed back to the sender.
//
//   auto [tx, rx] = oneshot::channel<int>();
//   rx.poll()        -> Pending
//   std::move(tx).send(7);
//   rx.poll()        -> Ready, 7;  later polls -> Closed

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

#include "base/thread_safety.hpp"

namespace ostrel_core::sync::oneshot {

template <class T>
struct Poll {
  enum class Kind : std::uint8_t { Pending, Ready, Closed };
  Kind kind = Kind::Pending;
  std::optional<T> value;  // Ready
};

namespace detail {
template <class T>
struct Slot {
  PlainMutex mu;  // guards everything below
  std::optional<T> value OSTREL_GUARDED_BY(mu);
  bool sender_gone OSTREL_GUARDED_BY(mu) = false;  // sent, or dropped unsent
  bool receiver_gone OSTREL_GUARDED_BY(mu) = false;
};
}  // namespace detail

template <class T>
class Receiver;

template <class T>
class Sender {
 public:
  Sender(Sender&& other) noexcept : slot_(std::move(other.slot_)) {}
  Sender& operator=(Sender&& other) noexcept {
    if (this != &other) {
      close();
      slot_ = std::move(other.slot_);
    }
    return *this;
  }
  Sender(const Sender&) = delete;
  Sender& operator=(const Sender&) = delete;
  ~Sender() { close(); }

  // Delivers the value; the value comes back when the receiver was dropped.
  std::optional<T> send(T value) && {
    auto slot = std::move(slot_);
    PlainLock l(slot->mu);
    slot->sender_gone = true;
    if (slot->receiver_gone) return std::optional<T>(std::move(value));
    slot->value = std::move(value);
    return std::nullopt;
  }
  // Whether a value sent now could still be received.
  bool receiver_alive() const {
    PlainLock l(slot_->mu);
    return !slot_->receiver_gone;
  }

 private:
  template <class U>
  friend std::pair<Sender<U>, Receiver<U>> channel();
  explicit Sender(std::shared_ptr<detail::Slot<T>> slot) : slot_(std::move(slot)) {}
  void close() {
    if (!slot_) return;
    PlainLock l(slot_->mu);
    slot_->sender_gone = true;
  }
  std::shared_ptr<detail::Slot<T>> slot_;
};

template <class T>
class Receiver {
 public:
  Receiver(Receiver&& other) noexcept : slot_(std::move(other.slot_)) {}
  Receiver& operator=(Receiver&&) = delete;
  Receiver(const Receiver&) = delete;
  Receiver& operator=(const Receiver&) = delete;
  ~Receiver() {
    if (!slot_) return;
    PlainLock l(slot_->mu);
    slot_->receiver_gone = true;
  }

  // Never waits. Ready hands the value over once; afterwards the channel polls Closed.
  Poll<T> poll() {
    using Kind = typename Poll<T>::Kind;
    PlainLock l(slot_->mu);
    if (slot_->value) {
      Poll<T> p{Kind::Ready, std::move(slot_->value)};
      slot_->value.reset();
      return p;
    }
    return {slot_->sender_gone ? Kind::Closed : Kind::Pending, std::nullopt};
  }

 private:
  template <class U>
  friend std::pair<Sender<U>, Receiver<U>> channel();
  explicit Receiver(std::shared_ptr<detail::Slot<T>> slot) : slot_(std::move(slot)) {}
  std::shared_ptr<detail::Slot<T>> slot_;
};

template <class T>
std::pair<Sender<T>, Receiver<T>> channel() {
  auto slot = std::make_shared<detail::Slot<T>>();
  return {Sender<T>(slot), Receiver<T>(slot)};
}

}  // namespace ostrel_core::sync::oneshot
