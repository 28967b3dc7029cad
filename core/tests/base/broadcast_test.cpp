#include "base/broadcast.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace ostrel_core::sync::broadcast {
namespace {

using Kind = Received<int>::Kind;

TEST(Broadcast, OverrunReceiverLearnsHowManyItMissed) {
  Sender<int> tx(4);
  auto rx = tx.subscribe();
  for (int i = 0; i < 6; ++i) ASSERT_TRUE(tx.send(i));  // 0 and 1 are overwritten
  auto lag = rx.try_recv();
  EXPECT_EQ(lag.kind, Kind::Lagged);
  EXPECT_EQ(lag.missed, 2u);
  for (int want = 2; want < 6; ++want) {
    auto r = rx.try_recv();
    ASSERT_EQ(r.kind, Kind::Value);
    EXPECT_EQ(*r.value, want);
  }
  EXPECT_EQ(rx.try_recv().kind, Kind::Empty);
}

TEST(Broadcast, SendWithNoReceiverIsDiscarded) {
  Sender<int> tx(4);
  EXPECT_FALSE(tx.send(1));
  {
    auto rx = tx.subscribe();
    EXPECT_TRUE(tx.send(2));
  }
  EXPECT_FALSE(tx.send(3));
  EXPECT_EQ(tx.receiver_count(), 0u);
}

TEST(Broadcast, EachReceiverHasItsOwnPositionFromWhenItSubscribed) {
  Sender<int> tx(8);
  auto early = tx.subscribe();
  tx.send(1);
  auto late = tx.subscribe();
  tx.send(2);
  EXPECT_EQ(*early.try_recv().value, 1);
  EXPECT_EQ(*early.try_recv().value, 2);
  EXPECT_EQ(*late.try_recv().value, 2);
  EXPECT_EQ(late.try_recv().kind, Kind::Empty);
}

TEST(Broadcast, LastSenderGoneClosesAfterWhatIsLeft) {
  auto tx = std::make_unique<Sender<int>>(4);
  auto rx = tx->subscribe();
  {
    Sender<int> copy(*tx);
    tx->send(7);
    tx.reset();
    EXPECT_EQ(rx.try_recv().kind, Kind::Value);
    EXPECT_EQ(rx.try_recv().kind, Kind::Empty);  // a copy still sends
  }
  EXPECT_EQ(rx.try_recv().kind, Kind::Closed);
}

TEST(Broadcast, ArmedWakeUpRunsOnceOnTheNextSendOrTheClose) {
  auto tx = std::make_unique<Sender<int>>(4);
  auto rx = tx->subscribe();
  int woken = 0;
  ASSERT_TRUE(rx.arm([&] { ++woken; }));
  tx->send(1);
  tx->send(2);
  EXPECT_EQ(woken, 1);
  EXPECT_FALSE(rx.arm([&] { ++woken; }));  // something is there already
  rx.try_recv();
  rx.try_recv();
  ASSERT_TRUE(rx.arm([&] { ++woken; }));
  EXPECT_TRUE(rx.disarm());
  tx->send(3);
  EXPECT_EQ(woken, 1);
  rx.try_recv();
  ASSERT_TRUE(rx.arm([&] { ++woken; }));
  tx.reset();
  EXPECT_EQ(woken, 2);
  EXPECT_FALSE(rx.disarm());
  EXPECT_FALSE(rx.arm([&] { ++woken; }));  // closed
}

TEST(BroadcastStress, EveryReceiverSeesEachSendOnceOrCountsItMissed) {
  constexpr int kSenders = 4;
  constexpr int kPerSender = 5000;
  constexpr int kReceivers = 4;
  Sender<int> tx(64);
  std::vector<Receiver<int>> rxs;
  for (int r = 0; r < kReceivers; ++r) rxs.push_back(tx.subscribe());
  std::vector<std::uint64_t> seen(kReceivers);
  std::atomic<int> senders_done{0};
  std::vector<std::thread> threads;
  for (int r = 0; r < kReceivers; ++r) {
    threads.emplace_back([&, r] {
      std::vector<int> last(kSenders, -1);
      for (;;) {
        bool senders_finished = senders_done.load() == kSenders;  // read before the receive
        auto got = rxs[r].try_recv();
        if (got.kind == Kind::Value) {
          int s = *got.value / kPerSender;
          int i = *got.value % kPerSender;
          EXPECT_GT(i, last[s]);  // one sender's values arrive in order, never twice
          last[s] = i;
          ++seen[r];
        } else if (got.kind == Kind::Lagged) {
          seen[r] += got.missed;
        } else if (senders_finished) {
          break;
        }
      }
    });
  }
  for (int s = 0; s < kSenders; ++s) {
    threads.emplace_back([&, s] {
      Sender<int> mine(tx);
      for (int i = 0; i < kPerSender; ++i) mine.send(s * kPerSender + i);
      ++senders_done;
    });
  }
  for (auto& t : threads) t.join();
  for (int r = 0; r < kReceivers; ++r) EXPECT_EQ(seen[r], std::uint64_t{kSenders * kPerSender});
}

}  // namespace
}  // namespace ostrel_core::sync::broadcast
