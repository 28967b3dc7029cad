#include "sync/async_mutex.hpp"

#include <algorithm>
#include <condition_variable>
#include <mutex>

namespace ostrel_server::sync {

using ostrel_core::sync::PlainLock;

bool AsyncLock::try_acquire() {
  PlainLock l(mu_);
  if (locked_) return false;
  locked_ = true;
  return true;
}

std::optional<AsyncLock::Ticket> AsyncLock::acquire_or_wait(Grant grant) {
  PlainLock l(mu_);
  if (!locked_) {
    locked_ = true;
    return std::nullopt;
  }
  Ticket t = next_ticket_++;
  line_.emplace_back(t, std::move(grant));
  return t;
}

bool AsyncLock::leave(Ticket ticket) {
  PlainLock l(mu_);
  auto it = std::find_if(line_.begin(), line_.end(), [&](const auto& w) { return w.first == ticket; });
  if (it == line_.end()) return false;
  line_.erase(it);
  return true;
}

void AsyncLock::acquire_blocking() {
  std::mutex m;
  std::condition_variable cv;
  bool granted = false;
  auto ticket = acquire_or_wait([&] {
    // Notifying under the lock keeps `cv` alive until the waiter can return.
    std::lock_guard g(m);
    granted = true;
    cv.notify_one();
  });
  if (!ticket) return;
  std::unique_lock g(m);
  cv.wait(g, [&] { return granted; });
}

void AsyncLock::release() {
  Grant next;
  {
    PlainLock l(mu_);
    if (line_.empty()) {
      locked_ = false;
      return;
    }
    next = std::move(line_.front().second);
    line_.pop_front();
    // locked_ stays true: the lock passes to the waiter without ever being free.
  }
  next();
}

std::size_t AsyncLock::waiting() {
  PlainLock l(mu_);
  return line_.size();
}

bool AsyncLock::locked() {
  PlainLock l(mu_);
  return locked_;
}

}  // namespace ostrel_server::sync
