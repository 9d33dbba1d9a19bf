#include "channel/channel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace quorvane::channel {
namespace {

using namespace std::chrono_literals;

TEST(Channel, KeepsOrderAndCountsLength) {
  auto [tx, rx] = bounded<int>(4);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(tx.send(i));
  EXPECT_EQ(tx.len(), 3u);
  RecvStatus status;
  for (int i = 0; i < 3; ++i) {
    auto v = rx.try_recv(status);
    ASSERT_EQ(status, RecvStatus::Ok);
    EXPECT_EQ(*v, i);
  }
  EXPECT_FALSE(rx.try_recv(status));
  EXPECT_EQ(status, RecvStatus::Empty);
}

TEST(Channel, TrySendReportsFullAndDisconnected) {
  auto [tx, rx] = bounded<int>(1);
  EXPECT_EQ(tx.try_send(1), TrySendError::None);
  EXPECT_EQ(tx.try_send(2), TrySendError::Full);
  rx = Receiver<int>();
  EXPECT_EQ(tx.try_send(3), TrySendError::Disconnected);
  EXPECT_FALSE(tx.send(4));
}

TEST(Channel, RecvTimeoutTimesOutThenSeesDisconnectionAfterDrain) {
  auto [tx, rx] = bounded<std::string>(8);
  RecvStatus status;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(rx.recv_timeout(10ms, status));
  EXPECT_EQ(status, RecvStatus::Timeout);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 10ms);

  ASSERT_TRUE(tx.send("last"));
  Sender<std::string> copy = tx;
  tx = Sender<std::string>();
  // One sending end is still there.
  auto v = rx.recv_timeout(10ms, status);
  ASSERT_EQ(status, RecvStatus::Ok);
  EXPECT_EQ(*v, "last");
  EXPECT_FALSE(rx.recv_timeout(1ms, status));
  EXPECT_EQ(status, RecvStatus::Timeout);
  copy = Sender<std::string>();
  EXPECT_FALSE(rx.recv_timeout(1s, status));
  EXPECT_EQ(status, RecvStatus::Disconnected);
  EXPECT_FALSE(rx.recv());
}

TEST(Channel, DisconnectionWakesAWaitingReceiver) {
  auto [tx, rx] = bounded<int>(8);
  std::thread releaser([sender = std::move(tx)]() mutable {
    std::this_thread::sleep_for(20ms);
    sender = Sender<int>();
  });
  RecvStatus status;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(rx.recv_timeout(10s, status));
  EXPECT_EQ(status, RecvStatus::Disconnected);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  releaser.join();
}

TEST(Channel, BlockedSenderWaitsForRoomAndFailsWhenReceiverGoes) {
  auto [tx, rx] = bounded<int>(1);
  ASSERT_TRUE(tx.send(1));
  std::atomic<bool> sent{false};
  std::thread sender([&, s = tx]() mutable { sent = s.send(2); });
  std::this_thread::sleep_for(20ms);
  EXPECT_FALSE(sent.load());  // still waiting for room
  RecvStatus status;
  EXPECT_EQ(*rx.try_recv(status), 1);
  sender.join();
  EXPECT_TRUE(sent.load());

  std::atomic<int> outcome{-1};
  std::thread blocked([&, s = tx]() mutable { outcome = s.send(3) ? 1 : 0; });
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(outcome.load(), -1);
  rx = Receiver<int>();  // drops the queued 2 and wakes the sender
  blocked.join();
  EXPECT_EQ(outcome.load(), 0);
}

// Closing, from either side, admits nothing more: a send waiting for room fails, later sends
// fail, and the receiver takes what was queued before it sees the channel disconnected. A
// Closer is no sending end: it keeps nothing connected.
TEST(Channel, ClosingAdmitsNothingMoreAndLeavesTheQueueToDrain) {
  for (const bool from_receiver : {false, true}) {
    auto [tx, rx] = bounded<int>(2);
    const Closer<int> closer = tx.closer();
    ASSERT_TRUE(tx.send(1));
    ASSERT_TRUE(tx.send(2));
    std::atomic<int> outcome{-1};
    std::thread blocked([&, s = tx]() mutable { outcome = s.send(3) ? 1 : 0; });
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(outcome.load(), -1);  // waiting for room
    RecvStatus status;
    if (from_receiver) {
      rx.close();
    } else {
      closer.close();
    }
    blocked.join();
    EXPECT_EQ(outcome.load(), 0);
    EXPECT_FALSE(tx.send(4));
    EXPECT_EQ(tx.try_send(5), TrySendError::Disconnected);
    EXPECT_EQ(*rx.recv_timeout(1s, status), 1);
    EXPECT_EQ(*rx.try_recv(status), 2);
    EXPECT_FALSE(rx.recv_timeout(1s, status));
    EXPECT_EQ(status, RecvStatus::Disconnected);
    EXPECT_FALSE(rx.recv());
  }

  // A receiver waiting on an empty queue wakes at the close.
  auto [tx, rx] = bounded<int>(2);
  std::thread closing([closer = tx.closer()] {
    std::this_thread::sleep_for(20ms);
    closer.close();
  });
  RecvStatus status;
  EXPECT_FALSE(rx.recv_timeout(10s, status));
  EXPECT_EQ(status, RecvStatus::Disconnected);
  closing.join();

  // The Closer alone does not keep the channel connected.
  auto [tx2, rx2] = bounded<int>(2);
  const Closer<int> kept = tx2.closer();
  tx2 = Sender<int>();
  EXPECT_FALSE(rx2.try_recv(status));
  EXPECT_EQ(status, RecvStatus::Disconnected);
  kept.close();
}

TEST(Channel, ReleasingTheReceiverDropsQueuedValues) {
  auto [tx, rx] = bounded<std::shared_ptr<int>>(4);
  auto value = std::make_shared<int>(7);
  ASSERT_TRUE(tx.send(value));
  EXPECT_EQ(value.use_count(), 2);
  rx = Receiver<std::shared_ptr<int>>();
  EXPECT_EQ(value.use_count(), 1);
  EXPECT_EQ(tx.len(), 0u);
}

TEST(Channel, TryRecvManyStopsAtLimitOrEmpty) {
  auto [tx, rx] = bounded<int>(100);
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(tx.send(i));
  std::vector<int> out;
  EXPECT_EQ(rx.try_recv_many(out, 4), 4u);
  EXPECT_EQ(rx.try_recv_many(out, 100), 6u);
  EXPECT_EQ(rx.try_recv_many(out, 100), 0u);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(out[static_cast<size_t>(i)], i);
}

// Many producers through a small queue: every value arrives once, each producer's values in
// the order it sent them, and the receiver sees the disconnection at the end.
TEST(Channel, ValuesTakenCountAsHeldUntilDone) {
  auto [tx, rx] = bounded<int>(8);
  auto held = std::make_shared<std::atomic<size_t>>(0);
  rx.count_held_in(held);
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(tx.send(i));
  RecvStatus status;
  ASSERT_TRUE(rx.recv_timeout(1ms, status));
  EXPECT_EQ(tx.len() + held->load(), 5u);
  std::vector<int> out;
  EXPECT_EQ(rx.try_recv_many(out, 3), 3u);
  EXPECT_EQ(tx.len(), 1u);
  EXPECT_EQ(held->load(), 4u);
  rx.done(4);
  EXPECT_EQ(held->load(), 0u);
}

// A reader that adds len() and then the held count, while values move from the queue to the
// consumer and on, never sees 0 while a value has not been passed on.
TEST(Channel, LengthThenHeldNeverMissesAValueOnItsWay) {
  auto [tx, rx] = bounded<int>(1000);
  auto held = std::make_shared<std::atomic<size_t>>(0);
  rx.count_held_in(held);
  std::atomic<int> passed_on{0};
  constexpr int kValues = 20000;
  std::thread consumer([&, rx = std::move(rx)]() mutable {
    std::vector<int> batch;
    while (passed_on.load() < kValues) {
      batch.clear();
      RecvStatus status;
      if (auto first = rx.recv_timeout(1ms, status)) batch.push_back(*first);
      rx.try_recv_many(batch, 64);
      passed_on.fetch_add(static_cast<int>(batch.size()));
      rx.done(batch.size());
    }
  });
  int sent = 0;
  int false_zeros = 0;
  while (sent < kValues) {
    for (int i = 0; i < 50 && sent < kValues; ++i) ASSERT_TRUE(tx.send(sent++));
    while (tx.len() + held->load() != 0) {
    }
    if (passed_on.load() != sent) ++false_zeros;
  }
  consumer.join();
  EXPECT_EQ(false_zeros, 0);
}

TEST(Channel, ManyProducersOneConsumer) {
  constexpr int kProducers = 8, kPerProducer = 20000;
  auto [tx, rx] = bounded<std::pair<int, int>>(16);
  std::vector<std::thread> producers;
  producers.reserve(kProducers);
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([p, s = tx]() mutable {
      for (int i = 0; i < kPerProducer; ++i) ASSERT_TRUE(s.send({p, i}));
    });
  }
  tx = Sender<std::pair<int, int>>();
  std::vector<int> next(kProducers, 0);
  int received = 0;
  std::vector<std::pair<int, int>> batch;
  for (;;) {
    RecvStatus status;
    auto v = rx.recv_timeout(100ms, status);
    if (status == RecvStatus::Disconnected) break;
    if (status == RecvStatus::Timeout) continue;
    batch.clear();
    batch.push_back(*v);
    rx.try_recv_many(batch, 64);
    for (auto [p, i] : batch) {
      ASSERT_EQ(i, next[static_cast<size_t>(p)]);
      ++next[static_cast<size_t>(p)];
      ++received;
    }
  }
  for (auto& t : producers) t.join();
  EXPECT_EQ(received, kProducers * kPerProducer);
}

}  // namespace
}  // namespace quorvane::channel
