#pragma once
// The hub's bounded queues: at most 4096 records each behind a poisoning mutex. A push never
// waits and never evicts; a drain takes everything in one lock hold.

#include <cstddef>
#include <utility>
#include <vector>

#include "base/sync.hpp"
#include "hub/edit_queue.hpp"

namespace ostrel_server::transport::endpoint {

inline constexpr std::size_t kQueueCap = 4096;

// A queue of at most kQueueCap records behind its own poisoning mutex.
template <class T>
class BoundedQueue {
 public:
  // Full when 4096 are queued; Refused when the lock is poisoned. The record is dropped then.
  plans::Queued offer(T record) {
    auto q = queue_.lock();
    if (!q) return plans::Queued::Refused;
    if ((*q)->size() >= kQueueCap) return plans::Queued::Full;
    (*q)->push_back(std::move(record));
    return plans::Queued::Queued;
  }
  bool push(T record) { return offer(std::move(record)) == plans::Queued::Queued; }
  // Every record in arrival order; empty when poisoned.
  std::vector<T> drain() {
    auto q = queue_.lock();
    if (!q) return {};
    return std::exchange(**q, {});
  }
  std::size_t size() {
    auto q = queue_.lock();
    return q ? (*q)->size() : 0;
  }

 private:
  friend struct HubProbe;
  ostrel_core::sync::Mutex<std::vector<T>> queue_;
};

}  // namespace ostrel_server::transport::endpoint
