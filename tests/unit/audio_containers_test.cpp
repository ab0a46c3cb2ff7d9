#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <numeric>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "audio/input/Buffer.h"
#include "audio/input/BufferPool.h"
#include "audio/input/SampleQueue.h"
#include "base/Debug.h"

namespace tovik {
namespace {

// Collects the debugger output channel for the duration of a test.
class DebugCapture {
 public:
  DebugCapture() {
    m_previous = SetDebugSink([this](const std::wstring& text) { lines.push_back(text); });
  }
  ~DebugCapture() { SetDebugSink(m_previous); }
  std::vector<std::wstring> lines;

 private:
  DebugSink m_previous;
};

std::vector<unsigned char> Bytes(std::size_t count, unsigned char first) {
  std::vector<unsigned char> v(count);
  std::iota(v.begin(), v.end(), first);
  return v;
}

TEST(AudioEngineBuffer, ConstructionKinds) {
  CBuffer sized(320);
  EXPECT_NE(sized.Data(), nullptr);
  EXPECT_EQ(sized.Size(), 320);
  EXPECT_TRUE(sized.Owns());

  CBuffer empty;
  EXPECT_EQ(empty.Data(), nullptr);
  EXPECT_EQ(empty.Size(), 0);
  EXPECT_FALSE(empty.Owns());

  CBuffer nullWrap(nullptr, 100);
  EXPECT_EQ(nullWrap.Size(), 0);

  CBuffer negative(-5);
  EXPECT_EQ(negative.Data(), nullptr);
  EXPECT_EQ(negative.Size(), 0);
  EXPECT_FALSE(negative.Owns());
}

TEST(AudioEngineBuffer, WrappedMemoryStaysTheCallers) {
  // Memory that was never allocated with new[]: freeing it would be caught at once.
  unsigned char stack[16] = {1, 2, 3};
  {
    CBuffer wrap(stack, sizeof stack);
    EXPECT_EQ(wrap.Data(), stack);
    EXPECT_EQ(wrap.Size(), 16);
    EXPECT_FALSE(wrap.Owns());
  }
  EXPECT_EQ(stack[2], 3);
}

TEST(AudioEngineQueue, NewQueueDefaults) {
  CSampleQueue q;
  EXPECT_EQ(q.Count(), 0);
  EXPECT_EQ(q.Capacity(), 882000);
  EXPECT_EQ(q.Name(), L"Queue");
  EXPECT_TRUE(q.IsEmpty());
  EXPECT_FALSE(q.IsFull());
  unsigned char out[4];
  EXPECT_FALSE(q.Get(out, 1));
  EXPECT_FALSE(q.Get(out, 0));
}

TEST(AudioEngineQueue, FillingToCapacitySetsFullAndRefusesQuietly) {
  DebugCapture debug;
  CSampleQueue q;
  ASSERT_TRUE(q.Resize(1000));
  const auto data = Bytes(1000, 0);
  ASSERT_TRUE(q.Put(data.data(), data.size()));
  EXPECT_TRUE(q.IsFull());
  EXPECT_EQ(q.Count(), 1000);
  EXPECT_FALSE(q.Put(data.data(), 1));
  EXPECT_EQ(q.Count(), 1000);
  EXPECT_TRUE(debug.lines.empty());

  std::vector<unsigned char> out(1000);
  ASSERT_TRUE(q.Get(out.data(), 1));
  EXPECT_FALSE(q.IsFull());
  EXPECT_TRUE(q.Put(data.data(), 1));
}

TEST(AudioEngineQueue, OversizedPutIsRefusedWhole) {
  CSampleQueue q;
  ASSERT_TRUE(q.Resize(100));
  const auto data = Bytes(101, 0);
  ASSERT_TRUE(q.Put(data.data(), 60));
  EXPECT_FALSE(q.Put(data.data(), 41));
  EXPECT_EQ(q.Count(), 60);
  EXPECT_FALSE(q.Put(nullptr, 10));
  EXPECT_EQ(q.Count(), 60);
  CBuffer block(40);
  std::memset(block.Data(), 7, 40);
  EXPECT_TRUE(q.Put(block));
  EXPECT_EQ(q.Count(), 100);
  EXPECT_FALSE(q.Put(block));
}

TEST(AudioEngineQueue, GetNeverReturnsPartOfARequest) {
  CSampleQueue q;
  ASSERT_TRUE(q.Resize(64));
  const auto data = Bytes(10, 1);
  ASSERT_TRUE(q.Put(data.data(), data.size()));
  std::vector<unsigned char> out(20, 0xEE);
  EXPECT_FALSE(q.Get(out.data(), 11));
  EXPECT_EQ(q.Count(), 10);
  EXPECT_EQ(out[0], 0xEE);
  EXPECT_FALSE(q.Get(out.data(), 0));
  EXPECT_EQ(q.Count(), 10);

  ASSERT_TRUE(q.Get(out.data(), 10));
  EXPECT_EQ(std::vector<unsigned char>(out.begin(), out.begin() + 10), data);
  EXPECT_EQ(q.Count(), 0);
  EXPECT_TRUE(q.IsEmpty());
  // Drained to zero, the ring starts over: the whole capacity fits again in one piece.
  const auto full = Bytes(64, 50);
  EXPECT_TRUE(q.Put(full.data(), full.size()));
}

TEST(AudioEngineQueue, WrappingPutAndGetKeepOrder) {
  DebugCapture debug;
  CSampleQueue q;
  ASSERT_TRUE(q.Resize(10));
  const auto a = Bytes(6, 10);
  const auto b = Bytes(6, 20);
  std::vector<unsigned char> out(8);
  ASSERT_TRUE(q.Put(a.data(), a.size()));
  ASSERT_TRUE(q.Get(out.data(), 4));
  ASSERT_TRUE(q.Put(b.data(), b.size()));  // 4 bytes at the end, 2 at the start
  EXPECT_EQ(q.Count(), 8);
  ASSERT_TRUE(q.Get(out.data(), 8));
  EXPECT_EQ(out, (std::vector<unsigned char>{14, 15, 20, 21, 22, 23, 24, 25}));
  EXPECT_TRUE(debug.lines.empty());
}

// Random puts and gets against a plain deque: contents, counts and flags must agree.
TEST(AudioEngineQueue, MatchesAModelQueue) {
  for (std::int32_t capacity : {1, 7, 320, 1000}) {
    SCOPED_TRACE(capacity);
    CSampleQueue q;
    ASSERT_TRUE(q.Resize(capacity));
    std::deque<unsigned char> model;
    std::mt19937 rng(static_cast<unsigned>(capacity));
    unsigned char next = 0;
    for (int step = 0; step < 4000; ++step) {
      const std::size_t len = std::uniform_int_distribution<std::size_t>(0, static_cast<std::size_t>(capacity) + 2)(rng);
      if (rng() % 2 == 0) {
        std::vector<unsigned char> data(len);
        for (auto& byte : data) byte = next++;
        const bool fits = model.size() + len <= static_cast<std::size_t>(capacity) &&
                          model.size() < static_cast<std::size_t>(capacity);
        ASSERT_EQ(q.Put(data.data(), len), fits) << "step " << step;
        if (fits) model.insert(model.end(), data.begin(), data.end());
        else next = static_cast<unsigned char>(next - len);
      } else {
        std::vector<unsigned char> out(len);
        const bool ok = len > 0 && len <= model.size();
        ASSERT_EQ(q.Get(out.data(), len), ok) << "step " << step;
        if (ok) {
          ASSERT_TRUE(std::equal(out.begin(), out.end(), model.begin())) << "step " << step;
          model.erase(model.begin(), model.begin() + static_cast<std::ptrdiff_t>(len));
        }
      }
      ASSERT_EQ(q.Count(), static_cast<std::int32_t>(model.size()));
      ASSERT_EQ(q.IsFull(), model.size() == static_cast<std::size_t>(capacity));
    }
  }
}

TEST(AudioEngineQueue, ResizeOfAUsedQueueStartsEmpty) {
  // Positions of the old ring would point past the end of the smaller one.
  CSampleQueue q;
  const auto data = Bytes(250, 0);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(q.Put(data.data(), data.size()));
  ASSERT_TRUE(q.Resize(100));
  EXPECT_EQ(q.Count(), 0);
  EXPECT_EQ(q.Capacity(), 100);
  ASSERT_TRUE(q.Put(data.data(), 100));
  std::vector<unsigned char> out(100);
  ASSERT_TRUE(q.Get(out.data(), 100));
  EXPECT_TRUE(std::equal(out.begin(), out.end(), data.begin()));

  EXPECT_FALSE(q.Resize(0));
  EXPECT_FALSE(q.Put(data.data(), 1));
}

TEST(AudioEngineQueue, ResetEmptiesTheRing) {
  CSampleQueue q;
  ASSERT_TRUE(q.Resize(16));
  const auto data = Bytes(16, 1);
  ASSERT_TRUE(q.Put(data.data(), 16));
  q.Reset();
  EXPECT_EQ(q.Count(), 0);
  EXPECT_TRUE(q.IsEmpty());
  EXPECT_FALSE(q.IsFull());
  EXPECT_TRUE(q.Put(data.data(), 16));
}

TEST(AudioEngineQueue, NameIsCappedAt259Characters) {
  CSampleQueue q;
  q.SetName(L"MIC-Queue");
  EXPECT_EQ(q.Name(), L"MIC-Queue");
  q.SetName(std::wstring(400, L'\x0416'));
  EXPECT_EQ(q.Name(), std::wstring(259, L'\x0416'));
}

TEST(AudioEnginePool, PrefillAndZeroFilledReuse) {
  CBufferPool pool;
  pool.Prefill();
  EXPECT_EQ(pool.BlockCount(), 1024u);
  EXPECT_EQ(pool.IdleCount(), 1024u);

  CBuffer* block = pool.Acquire();
  ASSERT_NE(block, nullptr);
  ASSERT_EQ(block->Size(), 320);
  EXPECT_FALSE(block->Owns());
  EXPECT_EQ(pool.IdleCount(), 1023u);
  std::memset(block->Data(), 0x5A, 320);
  pool.Release(block);
  EXPECT_EQ(pool.IdleCount(), 1024u);
  CBuffer* again = pool.Acquire();
  ASSERT_EQ(again, block);  // lowest address first: the same block comes back
  EXPECT_TRUE(std::all_of(again->Data(), again->Data() + 320, [](unsigned char c) { return c == 0; }));
  pool.Release(again);
}

TEST(AudioEnginePool, LowestAddressFirst) {
  CBufferPool pool;
  pool.Prefill();
  CBuffer* x = pool.Acquire();
  CBuffer* y = pool.Acquire();
  CBuffer* low = std::min(x, y, std::less<CBuffer*>());
  CBuffer* high = std::max(x, y, std::less<CBuffer*>());
  pool.Release(high);
  pool.Release(low);
  EXPECT_EQ(pool.Acquire(), low);
  EXPECT_EQ(pool.Acquire(), high);
  pool.Release(x);
  pool.Release(y);
}

TEST(AudioEnginePool, GrowsWhenEveryBlockIsInUse) {
  CBufferPool pool;
  pool.Prefill();
  std::set<CBuffer*> taken;
  for (int i = 0; i < 1024; ++i) taken.insert(pool.Acquire());
  ASSERT_EQ(taken.size(), 1024u);
  EXPECT_EQ(pool.IdleCount(), 0u);
  CBuffer* extra = pool.Acquire();
  ASSERT_NE(extra, nullptr);
  EXPECT_EQ(taken.count(extra), 0u);
  EXPECT_EQ(extra->Size(), 320);
  EXPECT_TRUE(std::all_of(extra->Data(), extra->Data() + 320, [](unsigned char c) { return c == 0; }));
  EXPECT_EQ(pool.BlockCount(), 1025u);
  pool.Release(extra);
  for (CBuffer* b : taken) pool.Release(b);
  EXPECT_EQ(pool.IdleCount(), 1025u);
}

TEST(AudioEnginePool, BadReleasesAreIgnored) {
  CBufferPool pool;
  pool.Prefill();
  pool.Release(nullptr);
  CBuffer foreign(320);
  pool.Release(&foreign);
  EXPECT_EQ(pool.IdleCount(), 1024u);
  CBufferPool other;
  other.Prefill();
  CBuffer* elsewhere = other.Acquire();
  pool.Release(elsewhere);
  EXPECT_EQ(pool.IdleCount(), 1024u);
  EXPECT_EQ(pool.BlockCount(), 1024u);
  other.Release(elsewhere);

  // A block released twice must still be handed to one user only.
  CBuffer* block = pool.Acquire();
  pool.Release(block);
  pool.Release(block);
  EXPECT_EQ(pool.IdleCount(), 1024u);
  CBuffer* first = pool.Acquire();
  CBuffer* second = pool.Acquire();
  EXPECT_NE(first, second);
  pool.Release(first);
  pool.Release(second);
}

}  // namespace
}  // namespace tovik
