#include "util/fifo.h"

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <string>
#include <thread>
#include <vector>

namespace ab {
namespace {

using namespace std::chrono_literals;

// Long enough that only a push or a notify can end the wait while the test runs.
constexpr auto kForever = std::chrono::hours(1);

struct ByteQueue {
  using Queue = OchFIFO;
  using Element = Bytes;
  static Element Make(int i) { return {static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8), 7}; }
  static int Value(const Element& e) { return e.size() == 3 ? e[0] | (e[1] << 8) : -1; }
  static bool Push(Queue& q, const Element& e) { return q.Push(e); }
};

struct TextQueue {
  using Queue = OchFIFOJSON;
  using Element = std::string;
  static Element Make(int i) { return "{\"n\":" + std::to_string(i) + "}"; }
  static int Value(const Element& e) { return std::stoi(e.substr(5)); }
  static bool Push(Queue& q, const Element& e) { return q.Push(e); }
};

template <class T>
class FifoTest : public ::testing::Test {
 protected:
  using Queue = typename T::Queue;
  using Element = typename T::Element;
  static Element Make(int i) { return T::Make(i); }
  static bool Push(Queue& q, int i) { return T::Push(q, T::Make(i)); }
  static Element PopOne(Queue& q) {
    Element e;
    EXPECT_TRUE(q.Pop(e));
    return e;
  }
};

using QueueKinds = ::testing::Types<ByteQueue, TextQueue>;
TYPED_TEST_SUITE(FifoTest, QueueKinds);

TYPED_TEST(FifoTest, CapacityZeroRejectsEveryPush) {
  typename TestFixture::Queue q;
  EXPECT_FALSE(this->Push(q, 1));
  EXPECT_FALSE(q.NotEmpty());

  // Shrinking a used queue to 0 leaves nothing behind that Peek could reach.
  q.SetCapacity(2);
  ASSERT_TRUE(this->Push(q, 1));
  ASSERT_TRUE(this->Push(q, 2));
  q.SetCapacity(0);
  EXPECT_FALSE(q.NotEmpty());
  EXPECT_EQ(q.Size(), 0);
  EXPECT_FALSE(this->Push(q, 3));
  typename TestFixture::Element out = this->Make(9);
  EXPECT_FALSE(q.Peek(out));
  EXPECT_EQ(out, this->Make(9));
}

TYPED_TEST(FifoTest, FullQueueTakesExactlyOneMoreAfterARemoval) {
  for (const bool by_drop : {false, true}) {
    SCOPED_TRACE(by_drop ? "Drop" : "Pop");
    typename TestFixture::Queue q;
    q.SetCapacity(3);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(this->Push(q, i));
    EXPECT_TRUE(q.NotEmpty());
    EXPECT_EQ(q.Size(), 3);
    EXPECT_FALSE(this->Push(q, 99));
    if (by_drop) {
      typename TestFixture::Element head;
      ASSERT_TRUE(q.Peek(head));
      EXPECT_EQ(head, this->Make(0));
      q.Drop();
    } else {
      EXPECT_EQ(this->PopOne(q), this->Make(0));
    }
    EXPECT_TRUE(this->Push(q, 3));
    EXPECT_FALSE(this->Push(q, 4));
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(this->PopOne(q), this->Make(i));
    EXPECT_FALSE(q.NotEmpty());
  }
}

// Against a deque as the model, with push and pop runs of varying length so that head and
// tail wrap at different moments.
TYPED_TEST(FifoTest, KeepsFirstInFirstOutAcrossWraps) {
  typename TestFixture::Queue q;
  q.SetCapacity(4);
  std::deque<typename TestFixture::Element> model;
  int next = 0;
  for (int round = 0; round < 40; ++round) {
    const int pushes = 1 + round % 4;
    const int pops = 1 + (round * 7) % 3;
    for (int i = 0; i < pushes; ++i) {
      const bool room = model.size() < 4;
      ASSERT_EQ(this->Push(q, next), room) << "round " << round;
      if (room) model.push_back(this->Make(next));
      ++next;
    }
    for (int i = 0; i < pops && !model.empty(); ++i) {
      ASSERT_EQ(this->PopOne(q), model.front()) << "round " << round;
      model.pop_front();
    }
    ASSERT_EQ(q.Size(), static_cast<int32_t>(model.size()));
    ASSERT_EQ(q.NotEmpty(), !model.empty());
  }
}

TYPED_TEST(FifoTest, EmptyQueueLeavesOutArgumentAndIndicesAlone) {
  typename TestFixture::Queue q;
  q.SetCapacity(2);
  // Move the head off slot 0 first, so the check also covers a drained, wrapped queue.
  ASSERT_TRUE(this->Push(q, 1));
  this->PopOne(q);
  const auto sentinel = this->Make(42);
  auto out = sentinel;
  EXPECT_FALSE(q.Peek(out));
  EXPECT_FALSE(q.Pop(out));
  EXPECT_EQ(out, sentinel);
  // Dropping from an empty queue must not make it look full.
  q.Drop();
  EXPECT_FALSE(q.NotEmpty());
  EXPECT_EQ(q.Size(), 0);
  ASSERT_TRUE(this->Push(q, 5));
  EXPECT_EQ(q.Size(), 1);
  EXPECT_EQ(this->PopOne(q), this->Make(5));
}

TYPED_TEST(FifoTest, ResizingKeepsQueuedElementsInOrder) {
  typename TestFixture::Queue q;
  q.SetCapacity(3);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(this->Push(q, i));
  this->PopOne(q);
  ASSERT_TRUE(this->Push(q, 3));  // wrapped: elements 1, 2, 3 with the head at slot 1
  q.SetCapacity(5);
  EXPECT_EQ(q.Capacity(), 5);
  EXPECT_TRUE(this->Push(q, 4));
  q.SetCapacity(2);  // keeps the two oldest
  EXPECT_EQ(q.Size(), 2);
  EXPECT_FALSE(this->Push(q, 5));
  EXPECT_EQ(this->PopOne(q), this->Make(1));
  EXPECT_EQ(this->PopOne(q), this->Make(2));
  EXPECT_FALSE(q.NotEmpty());
}

TYPED_TEST(FifoTest, WaitNotEmptyEndsByPushOrByTimeout) {
  typename TestFixture::Queue q;
  q.SetCapacity(2);
  EXPECT_FALSE(q.WaitNotEmpty(5ms));

  std::atomic<bool> woke{false};
  std::thread consumer([&] { woke = q.WaitNotEmpty(kForever); });
  ASSERT_TRUE(this->Push(q, 1));
  consumer.join();
  EXPECT_TRUE(woke);
  EXPECT_TRUE(q.WaitNotEmpty(0ms));  // already holds an element
}

// Several producers, one consumer: every element arrives once, and each producer's elements
// in the order it pushed them.
TYPED_TEST(FifoTest, ManyProducersOneConsumerLoseNothing) {
  constexpr int kProducers = 4;
  constexpr int kEach = 2000;
  typename TestFixture::Queue q;
  q.SetCapacity(16);
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([&q, p] {
      for (int i = 0; i < kEach; ++i) {
        // The test retries a rejected push so that counts are exact.
        const auto e = TypeParam::Make(p * kEach + i);
        while (!TypeParam::Push(q, e)) std::this_thread::yield();
      }
    });
  }
  std::vector<int> next(kProducers, 0);
  for (int received = 0; received < kProducers * kEach;) {
    if (!q.WaitNotEmpty(kForever)) continue;
    typename TestFixture::Element e;
    ASSERT_TRUE(q.Pop(e));
    const int value = TypeParam::Value(e);
    ASSERT_GE(value, 0);
    ASSERT_LT(value, kProducers * kEach);
    const int p = value / kEach;
    ASSERT_EQ(value % kEach, next[p]) << "producer " << p << " out of order";
    ++next[p];
    ++received;
  }
  for (auto& t : producers) t.join();
  EXPECT_FALSE(q.NotEmpty());
  for (int p = 0; p < kProducers; ++p) EXPECT_EQ(next[p], kEach);
}

TEST(OchFIFOTest, ZeroLengthElementAtTheHead) {
  OchFIFO q;
  q.SetCapacity(3);
  ASSERT_TRUE(q.Push(nullptr, 0));
  ASSERT_TRUE(q.Push(Bytes{1, 2}));
  Bytes out{9, 9};
  EXPECT_FALSE(q.Peek(out));  // copied out, but empty
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(q.Size(), 2);  // Peek did not remove it
  out = {9};
  EXPECT_FALSE(q.Pop(out));
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(q.Size(), 1);  // Pop did
  ASSERT_TRUE(q.Pop(out));
  EXPECT_EQ(out, (Bytes{1, 2}));
}

TEST(OchFIFOTest, RejectsLengthsThatCannotBeRead) {
  OchFIFO q;
  q.SetCapacity(2);
  const uint8_t byte = 1;
  EXPECT_FALSE(q.Push(&byte, -1));
  EXPECT_FALSE(q.Push(nullptr, 4));
  EXPECT_FALSE(q.NotEmpty());
}

TEST(OchFIFOJSONTest, EmptyTextIsRejected) {
  OchFIFOJSON q;
  q.SetCapacity(2);
  EXPECT_FALSE(q.Push(""));
  EXPECT_FALSE(q.NotEmpty());
  EXPECT_TRUE(q.Push("x"));
  EXPECT_EQ(q.Size(), 1);
}

TEST(WakeupTest, SignalIsStickyAndClearedByTheWait) {
  Wakeup w;
  w.Notify();
  EXPECT_TRUE(w.WaitFor(kForever));  // notified before the wait: returns at once
  EXPECT_FALSE(w.WaitFor(5ms));
}

TEST(WakeupTest, OneThreadSleepsOnSeveralQueues) {
  Wakeup w;
  OchFIFO bytes;
  OchFIFOJSON texts;
  bytes.SetCapacity(2);
  texts.SetCapacity(2);
  bytes.SetWakeup(&w);
  texts.SetWakeup(&w);

  for (const bool via_texts : {false, true}) {
    std::atomic<bool> woke{false};
    std::thread waiter([&] { woke = w.WaitFor(kForever); });
    if (via_texts) {
      ASSERT_TRUE(texts.Push("t"));
    } else {
      ASSERT_TRUE(bytes.Push(Bytes{1}));
    }
    waiter.join();
    EXPECT_TRUE(woke);
  }
  // A rejected push is no reason to wake the consumer.
  OchFIFOJSON none;
  none.SetWakeup(&w);
  EXPECT_FALSE(none.Push("x"));
  EXPECT_FALSE(w.WaitFor(0ms));
}

}  // namespace
}  // namespace ab
