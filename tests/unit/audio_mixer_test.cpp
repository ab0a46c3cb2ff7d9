#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/engine/Recorder.h"
#include "audio/engine/WriteToFile.h"
#include "base/LastError.h"

#ifdef _WIN32
#include <windows.h>

#include "audio/engine/win32/MessagePumpWait.h"
#endif

namespace tovik {
namespace {

using Samples = std::vector<std::int16_t>;

// Keeps every block the mixer writes, and when it was closed.
class CaptureWriter : public IWriteToFile {
 public:
  bool Write(const CBuffer& block) override {
    std::unique_lock<std::mutex> lock(m_lock);
    if (holdFirstWrite && blocks.empty()) {
      writing = true;
      m_changed.notify_all();
      m_changed.wait_for(lock, std::chrono::seconds(10), [this] { return released; });
    }
    Samples s(static_cast<std::size_t>(block.Size()) / 2);
    std::memcpy(s.data(), block.Data(), s.size() * 2);
    blocks.push_back(std::move(s));
    if (closes > 0) writesAfterClose++;
    return true;
  }
  bool Close() override {
    std::lock_guard<std::mutex> lock(m_lock);
    ++closes;
    return true;
  }
  void WaitUntilWriting() {
    std::unique_lock<std::mutex> lock(m_lock);
    m_changed.wait_for(lock, std::chrono::seconds(10), [this] { return writing; });
  }
  void ReleaseWrite() {
    std::lock_guard<std::mutex> lock(m_lock);
    released = true;
    m_changed.notify_all();
  }

  std::vector<Samples> blocks;
  int closes = 0;
  int writesAfterClose = 0;
  bool holdFirstWrite = false;

 private:
  std::mutex m_lock;
  std::condition_variable m_changed;
  bool writing = false;
  bool released = false;
};

std::array<std::int16_t, 160> Frame(std::int16_t value) {
  std::array<std::int16_t, 160> f;
  f.fill(value);
  return f;
}

Samples Repeat(std::initializer_list<std::int16_t> pattern, std::size_t times) {
  Samples out;
  for (std::size_t i = 0; i < times; ++i) out.insert(out.end(), pattern);
  return out;
}

TEST(AudioEngineMix, SaturatesInsteadOfWrapping) {
  const Samples a{30000, -30000, 100, 32767, -32768, 0};
  const Samples b{10000, -10000, -300, 1, -1, 0};
  Samples out(a.size());
  MixSaturate(a.size(), a.data(), b.data(), out.data());
  EXPECT_EQ(out, (Samples{32767, -32768, -200, 32767, -32768, 0}));
}

TEST(AudioEngineMix, InterleaveCountIsOutputSamples) {
  const Samples left{1, 2, 3, 4};
  const Samples right{-1, -2, -3, -4};
  Samples out(9, 99);
  Interleave(8, left.data(), right.data(), out.data());
  EXPECT_EQ(out, (Samples{1, -1, 2, -2, 3, -3, 4, -4, 99}));
  // An odd count must not write past the output.
  Samples odd(6, 99);
  Interleave(5, left.data(), right.data(), odd.data());
  EXPECT_EQ(odd, (Samples{1, -1, 2, -2, 3, 99}));
}

struct SideCase {
  const char* name;
  int side;
  int mode;
  std::vector<std::int16_t> mic;      // one value per queued mic frame
  std::vector<std::int16_t> speaker;  // one value per queued speaker frame
  std::vector<Samples> expected;      // the first two samples of each written block, and its size
  std::size_t blockSamples;
};

// Frames are queued while recording and the recording is then stopped: pairs are written by
// order, what one side has in excess is written alone after them.
TEST(AudioEngineRecorder, SideAndModeRules) {
  const std::vector<SideCase> cases = {
      {"both stereo", 0, 1, {1000, 1001}, {-2000, -2001}, {{1000, -2000}, {1001, -2001}}, 320},
      {"both joint stereo", 0, 2, {7}, {-7}, {{7, -7}}, 320},
      {"both mono saturates", 0, 0, {30000, -30000, 5}, {10000, -10000, 6}, {{32767, 32767}, {-32768, -32768}, {11, 11}}, 160},
      {"speaker never connects, stereo", 0, 1, {11, 12, 13}, {}, {{0, 11}, {0, 12}, {0, 13}}, 320},
      {"speaker never connects, mono", 0, 0, {11, 12}, {}, {{11, 11}, {12, 12}}, 160},
      {"speaker runs ahead, mono", 0, 0, {1}, {10, 20, 30}, {{11, 11}, {20, 20}, {30, 30}}, 160},
      {"my side only, stereo", 1, 1, {500, 501}, {-9, -9, -9}, {{0, 500}, {0, 501}}, 320},
      {"remote side only, mono", 2, 0, {3, 3}, {-1200, -1201}, {{-1200, -1200}, {-1201, -1201}}, 160},
      {"remote side only, stereo", 2, 1, {}, {42}, {{0, 42}}, 320},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CaptureWriter writer;
    CRecorder recorder;
    ASSERT_TRUE(recorder.Start(writer, c.mode));
    recorder.SetSide(c.side);
    for (auto v : c.mic) ASSERT_TRUE(recorder.PutMicFrame(Frame(v).data(), 320));
    for (auto v : c.speaker) ASSERT_TRUE(recorder.PutSpeakerFrame(Frame(v).data(), 320));
    recorder.Stop();
    EXPECT_FALSE(recorder.IsRecording());
    EXPECT_EQ(writer.closes, 1);
    EXPECT_EQ(writer.writesAfterClose, 0);
    ASSERT_EQ(writer.blocks.size(), c.expected.size());
    for (std::size_t i = 0; i < c.expected.size(); ++i) {
      ASSERT_EQ(writer.blocks[i].size(), c.blockSamples) << "block " << i;
      // Every sample of the block follows the same pattern as its first two.
      EXPECT_EQ(writer.blocks[i], Repeat({c.expected[i][0], c.expected[i][1]}, c.blockSamples / 2)) << "block " << i;
    }
  }
}

TEST(AudioEngineRecorder, RejectsWrongFramesAndDropsThemWhenIdle) {
  CaptureWriter writer;
  CRecorder recorder;
  const auto frame = Frame(100);
  std::vector<std::int16_t> big(320, 1);
  EXPECT_FALSE(recorder.PutMicFrame(big.data(), 640));
  EXPECT_FALSE(recorder.PutSpeakerFrame(frame.data(), 319));
  EXPECT_FALSE(recorder.PutMicFrame(nullptr, 320));
  EXPECT_TRUE(recorder.PutMicFrame(frame.data(), 320));  // not recording: dropped
  EXPECT_TRUE(recorder.PutSpeakerFrame(frame.data(), 320));

  ASSERT_TRUE(recorder.Start(writer, 0));
  EXPECT_FALSE(recorder.PutMicFrame(big.data(), 640));
  recorder.Stop();
  EXPECT_TRUE(writer.blocks.empty());
  EXPECT_EQ(writer.closes, 1);
}

TEST(AudioEngineRecorder, EmptyPathFailsWithItsCode) {
  CRecorder recorder;
  SetLastErrorCode(0);
  EXPECT_FALSE(recorder.Start(std::wstring(), 16000, 32, 0));
  EXPECT_EQ(GetLastErrorCode(), 4352u);
  EXPECT_FALSE(recorder.IsRecording());
  recorder.Stop();  // nothing to stop
}

// Two receive threads feeding at once: nothing is lost and the n-th frames are paired.
TEST(AudioEngineRecorder, ConcurrentProducersPairByOrder) {
  constexpr int kFrames = 3000;  // more than one pool holds, so the pools grow meanwhile
  CaptureWriter writer;
  CRecorder recorder;
  ASSERT_TRUE(recorder.Start(writer, 1));
  auto produce = [&recorder](bool mic) {
    for (int i = 0; i < kFrames; ++i) {
      const auto f = Frame(static_cast<std::int16_t>(mic ? i : -i));
      if (mic) recorder.PutMicFrame(f.data(), 320);
      else recorder.PutSpeakerFrame(f.data(), 320);
    }
  };
  std::thread mic(produce, true);
  std::thread speaker(produce, false);
  mic.join();
  speaker.join();
  recorder.Stop();
  ASSERT_EQ(writer.blocks.size(), static_cast<std::size_t>(kFrames));
  for (int i = 0; i < kFrames; ++i) {
    ASSERT_EQ(writer.blocks[static_cast<std::size_t>(i)][0], i);
    ASSERT_EQ(writer.blocks[static_cast<std::size_t>(i)][1], -i);
  }
}

TEST(AudioEngineRecorder, StopPumpsThroughTheHookWhileTheMixerDrains) {
  CaptureWriter writer;
  writer.holdFirstWrite = true;
  CRecorder recorder;
  bool hookRan = false;
  bool finishedWhenHookReturned = false;
  CaptureWriter intruder;
  bool restartRefused = false;
  recorder.SetWaitHook([&](const std::function<bool()>& finished) {
    hookRan = true;
    // A message dispatched while Stop drains may try to start again; it must not replace the
    // mixer Stop is waiting for.
    restartRefused = !recorder.Start(intruder, 0);
    writer.ReleaseWrite();  // the mixer is stuck in its first write until the "pump" runs
    while (!finished()) std::this_thread::yield();
    finishedWhenHookReturned = true;
  });
  ASSERT_TRUE(recorder.Start(writer, 0));
  for (int i = 0; i < 5; ++i) {
    recorder.PutMicFrame(Frame(1).data(), 320);
    recorder.PutSpeakerFrame(Frame(2).data(), 320);
  }
  writer.WaitUntilWriting();
  recorder.Stop();
  EXPECT_TRUE(hookRan);
  EXPECT_TRUE(restartRefused);
  EXPECT_EQ(intruder.closes, 0);
  EXPECT_TRUE(finishedWhenHookReturned);
  EXPECT_EQ(writer.blocks.size(), 5u);
  EXPECT_EQ(writer.closes, 1);
  EXPECT_EQ(writer.writesAfterClose, 0);
}

TEST(AudioEngineRecorder, AbortEndsTheMixerAndTheNextRecordingStartsClean) {
  CaptureWriter first;
  CRecorder recorder;
  ASSERT_TRUE(recorder.Start(first, 1));
  // Only the microphone: the mixer waits for the other side.
  for (int i = 0; i < 4; ++i) recorder.PutMicFrame(Frame(9).data(), 320);
  recorder.Abort();
  recorder.Stop();
  EXPECT_EQ(first.closes, 1);
  EXPECT_TRUE(first.blocks.empty());

  CaptureWriter second;
  ASSERT_TRUE(recorder.Start(second, 1));
  recorder.PutMicFrame(Frame(5).data(), 320);
  recorder.PutSpeakerFrame(Frame(6).data(), 320);
  recorder.Stop();
  ASSERT_EQ(second.blocks.size(), 1u);  // nothing left over from the aborted recording
  EXPECT_EQ(second.blocks[0], Repeat({5, 6}, 160));

  // An abort while idle must not silently empty the next recording.
  recorder.Abort();
  CaptureWriter third;
  ASSERT_TRUE(recorder.Start(third, 0));
  recorder.PutMicFrame(Frame(5).data(), 320);
  recorder.PutSpeakerFrame(Frame(6).data(), 320);
  recorder.Stop();
  ASSERT_EQ(third.blocks.size(), 1u);
  EXPECT_EQ(third.blocks[0], Repeat({11}, 160));
}

TEST(AudioEngineRecorder, StartingAgainFinishesTheRunningRecording) {
  CaptureWriter first;
  CaptureWriter second;
  CRecorder recorder;
  ASSERT_TRUE(recorder.Start(first, 0));
  recorder.PutMicFrame(Frame(1).data(), 320);
  ASSERT_TRUE(recorder.Start(second, 0));
  EXPECT_EQ(first.closes, 1);
  ASSERT_EQ(first.blocks.size(), 1u);
  recorder.PutSpeakerFrame(Frame(2).data(), 320);
  recorder.Stop();
  ASSERT_EQ(second.blocks.size(), 1u);
  EXPECT_EQ(second.blocks[0][0], 2);
}

TEST(AudioEngineRecorder, DestructionWhileRecordingClosesTheWriter) {
  CaptureWriter writer;
  {
    CRecorder recorder;
    ASSERT_TRUE(recorder.Start(writer, 0));
    recorder.PutMicFrame(Frame(1).data(), 320);
  }
  EXPECT_EQ(writer.closes, 1);
}

#ifdef _WIN32
// The main window keeps handling its messages while Stop waits: here the message that lets
// the mixer finish is itself one the pump must dispatch.
CaptureWriter* g_pumpWriter = nullptr;
int g_pumped = 0;
LRESULT CALLBACK PumpTestProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_APP + 7) {
    ++g_pumped;
    g_pumpWriter->ReleaseWrite();
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

TEST(AudioEngineRecorder, Win32PumpDispatchesWindowMessagesDuringStop) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = PumpTestProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"TovikPumpTest";
  RegisterClassW(&wc);
  HWND hwnd = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  ASSERT_NE(hwnd, nullptr);

  CaptureWriter writer;
  writer.holdFirstWrite = true;
  g_pumpWriter = &writer;
  g_pumped = 0;
  CRecorder recorder;
  recorder.SetWaitHook(MakeMessagePumpWaitHook());
  ASSERT_TRUE(recorder.Start(writer, 0));
  recorder.PutMicFrame(Frame(1).data(), 320);
  recorder.PutSpeakerFrame(Frame(2).data(), 320);
  writer.WaitUntilWriting();
  PostMessageW(hwnd, WM_APP + 7, 0, 0);
  recorder.Stop();
  EXPECT_EQ(g_pumped, 1);
  EXPECT_EQ(writer.blocks.size(), 1u);
  EXPECT_EQ(writer.closes, 1);
  DestroyWindow(hwnd);
  UnregisterClassW(wc.lpszClassName, wc.hInstance);
}
#endif

}  // namespace
}  // namespace tovik
