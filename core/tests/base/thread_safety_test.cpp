#include "base/thread_safety.hpp"

#include <condition_variable>
#include <deque>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace ostrel_core::sync {
namespace {

// A queue as the hub will hold them: fields under a PlainMutex, consumers waiting on a
// condition variable through PlainLock::wait.
class Queue {
 public:
  void push(int v) {
    {
      PlainLock lock(mu_);
      items_.push_back(v);
    }
    cv_.notify_one();
  }
  void close() {
    {
      PlainLock lock(mu_);
      closed_ = true;
    }
    cv_.notify_all();
  }
  // The next item; -1 once the queue is closed and empty.
  int pop() {
    PlainLock lock(mu_);
    while (items_.empty() && !closed_) lock.wait(cv_);
    if (items_.empty()) return -1;
    const int v = items_.front();
    items_.pop_front();
    return v;
  }

 private:
  PlainMutex mu_;
  std::condition_variable cv_;
  std::deque<int> items_ OSTREL_GUARDED_BY(mu_);
  bool closed_ OSTREL_GUARDED_BY(mu_) = false;
};

TEST(PlainLockStress, WaitersTakeEveryItemOnce) {
  constexpr int kProducers = 2;
  constexpr int kConsumers = 3;
  constexpr int kItems = 3000;  // per producer
  Queue q;
  std::vector<std::vector<int>> taken(kConsumers);
  std::vector<std::thread> consumers;
  for (int c = 0; c < kConsumers; ++c) {
    consumers.emplace_back([&, c] {
      for (int v = q.pop(); v >= 0; v = q.pop()) taken[c].push_back(v);
    });
  }
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([&, p] {
      for (int i = 0; i < kItems; ++i) q.push(p * kItems + i);
    });
  }
  for (auto& t : producers) t.join();
  q.close();
  for (auto& t : consumers) t.join();

  std::vector<int> seen(kProducers * kItems, 0);
  for (const auto& list : taken) {
    for (int v : list) ++seen[v];
  }
  for (int v = 0; v < kProducers * kItems; ++v) ASSERT_EQ(seen[v], 1) << "item " << v;
  // Each producer's items leave the queue in the order it pushed them.
  for (const auto& list : taken) {
    int last[kProducers] = {-1, -1};
    for (int v : list) {
      EXPECT_GT(v, last[v / kItems]);
      last[v / kItems] = v;
    }
  }
}

TEST(PlainMutex, TryLockFailsWhileHeld) {
  PlainMutex mu;
  PlainLock lock(mu);
  std::thread other([&] {
    if (mu.try_lock()) {
      mu.unlock();
      ADD_FAILURE() << "the mutex was taken twice";
    }
  });
  other.join();
}

}  // namespace
}  // namespace ostrel_core::sync
