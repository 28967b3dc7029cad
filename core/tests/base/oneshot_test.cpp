#include "base/oneshot.hpp"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace ostrel_core::sync::oneshot {
namespace {

using Kind = Poll<std::string>::Kind;

TEST(Oneshot, ValueIsHandedOverOnceThenClosed) {
  auto [tx, rx] = channel<std::string>();
  EXPECT_EQ(rx.poll().kind, Kind::Pending);
  EXPECT_TRUE(tx.receiver_alive());
  EXPECT_FALSE(std::move(tx).send("chunk"));
  auto p = rx.poll();
  ASSERT_EQ(p.kind, Kind::Ready);
  EXPECT_EQ(*p.value, "chunk");
  EXPECT_EQ(rx.poll().kind, Kind::Closed);
}

TEST(Oneshot, DroppedUnsentPollsClosed) {
  auto [tx, rx] = channel<std::string>();
  { auto gone = std::move(tx); }
  EXPECT_EQ(rx.poll().kind, Kind::Closed);
}

TEST(Oneshot, SendToADroppedReceiverHandsTheValueBack) {
  auto [tx, rx] = channel<std::string>();
  { auto gone = std::move(rx); }
  EXPECT_FALSE(tx.receiver_alive());
  auto back = std::move(tx).send("unwanted");
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, "unwanted");
}

TEST(OneshotStress, EveryReplyArrivesExactlyOnceAcrossThreads) {
  constexpr int kReplies = 2000;
  std::vector<Sender<int>> senders;
  std::vector<Receiver<int>> receivers;
  for (int i = 0; i < kReplies; ++i) {
    auto [tx, rx] = channel<int>();
    senders.push_back(std::move(tx));
    receivers.push_back(std::move(rx));
  }
  // Odd replies are sent, even ones dropped unsent, from another thread.
  std::thread answerer([&] {
    for (int i = 0; i < kReplies; ++i) {
      if (i % 2) {
        std::move(senders[i]).send(i);
      } else {
        auto dropped = std::move(senders[i]);
      }
    }
  });
  int ready = 0, closed = 0;
  std::vector<bool> done(kReplies);
  for (int left = kReplies; left > 0;) {
    for (int i = 0; i < kReplies; ++i) {
      if (done[i]) continue;
      auto p = receivers[i].poll();
      if (p.kind == Poll<int>::Kind::Pending) continue;
      done[i] = true;
      --left;
      if (p.kind == Poll<int>::Kind::Ready) {
        EXPECT_EQ(*p.value, i);
        ++ready;
      } else {
        ++closed;
      }
    }
  }
  answerer.join();
  EXPECT_EQ(ready, kReplies / 2);
  EXPECT_EQ(closed, kReplies / 2);
}

}  // namespace
}  // namespace ostrel_core::sync::oneshot
