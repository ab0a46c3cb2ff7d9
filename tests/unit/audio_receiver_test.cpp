// The receive path of Skype's two audio streams: frame reassembly per connection, the side
// and state filtering, the level meter, and the receiver's recording operations and
// receive threads over a scripted server.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <numeric>
#include <string>
#include <tuple>
#include <vector>

#include "audio/input/AudioReceiver.h"
#include "audio/input/StreamLevelMeter.h"
#include "base/UiPort.h"

namespace tovik {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A byte stream whose every position is recognisable, so misordered, lost or doubled
// bytes show up in the frames.
Bytes PatternStream(std::size_t size, std::uint8_t salt = 0) {
  Bytes out(size);
  for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<std::uint8_t>((i * 7 + i / 251 + salt) & 0xFF);
  return out;
}

Bytes Samples(std::initializer_list<std::int16_t> values) {
  Bytes out;
  for (std::int16_t v : values) {
    out.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(v) & 0xFF));
    out.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(v) >> 8));
  }
  return out;
}

Bytes ConstantFrame(std::int16_t value, std::size_t bytes = kStreamFrameBytes) {
  Bytes out;
  while (out.size() < bytes) {
    const Bytes s = Samples({value});
    out.insert(out.end(), s.begin(), s.end());
  }
  out.resize(bytes);
  return out;
}

class FakeRecorder : public IStreamRecorder {
 public:
  bool Start(const std::wstring& path, int rate, int bitrate, int mode) override {
    std::lock_guard lock(mutex_);
    starts.push_back({path, rate, bitrate, mode});
    return true;
  }
  void SetSide(int) override {}
  void Stop() override { ++stops; }
  void Abort() override {}
  bool PutMicFrame(const void* data, std::size_t size) override { return Put(mic, data, size); }
  bool PutSpeakerFrame(const void* data, std::size_t size) override { return Put(speaker, data, size); }

  Bytes Joined(AudioStream stream) {
    std::lock_guard lock(mutex_);
    Bytes out;
    for (const Bytes& f : stream == AudioStream::Mic ? mic : speaker) out.insert(out.end(), f.begin(), f.end());
    return out;
  }
  std::size_t Frames(AudioStream stream) {
    std::lock_guard lock(mutex_);
    return (stream == AudioStream::Mic ? mic : speaker).size();
  }
  bool WaitForFrames(AudioStream stream, std::size_t n) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(20),
                        [&] { return (stream == AudioStream::Mic ? mic : speaker).size() >= n; });
  }

  struct StartCall {
    std::wstring path;
    int rate, bitrate, mode;
  };
  std::vector<StartCall> starts;
  int stops = 0;
  std::vector<Bytes> mic, speaker;
  std::vector<std::size_t> sizes;

 private:
  bool Put(std::vector<Bytes>& list, const void* data, std::size_t size) {
    {
      std::lock_guard lock(mutex_);
      const auto* p = static_cast<const std::uint8_t*>(data);
      list.emplace_back(p, p + size);
      sizes.push_back(size);
    }
    cv_.notify_all();
    return true;
  }
  std::mutex mutex_;
  std::condition_variable cv_;
};

// A server whose poll steps are scripted; Poll blocks like the real one until a step is
// queued or CloseAll empties it.
class FakeServer : public IAudioServer {
 public:
  struct Step {
    int status;
    PollResult result;
    Bytes data;
  };

  int Listen(const std::string& address, std::uint16_t port) override {
    std::lock_guard lock(mutex_);
    listens.emplace_back(address, port);
    if (listenError != 0) return listenError;
    count_ = 1;
    return 0;
  }
  int Poll(std::uint8_t* buffer, std::size_t capacity, PollResult& result) override {
    std::unique_lock lock(mutex_);
    ++pollers_;
    cv_.notify_all();
    cv_.wait(lock, [&] { return count_ == 0 || !script_.empty(); });
    --pollers_;
    if (count_ == 0) return kWsaNotConnected;
    Step step = std::move(script_.front());
    script_.pop_front();
    std::memcpy(buffer, step.data.data(), std::min(capacity, step.data.size()));
    result = step.result;
    result.received = step.data.size();
    return step.status;
  }
  int CloseAll() override {
    std::lock_guard lock(mutex_);
    ++closeAllCalls;
    if (count_ == 0) return kWsaNotConnected;
    count_ = 0;
    cv_.notify_all();
    return 0;
  }
  int SocketCount() const override {
    std::lock_guard lock(mutex_);
    return count_;
  }

  void Queue(Step step) {
    std::lock_guard lock(mutex_);
    script_.push_back(std::move(step));
    cv_.notify_all();
  }
  void SetCount(int count) {
    std::lock_guard lock(mutex_);
    count_ = count;
  }
  bool WaitForBlockedPoller() {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(20), [&] { return pollers_ > 0 && script_.empty(); });
  }
  int Pollers() {
    std::lock_guard lock(mutex_);
    return pollers_;
  }

  int listenError = 0;
  std::vector<std::pair<std::string, std::uint16_t>> listens;
  int closeAllCalls = 0;

 private:
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Step> script_;
  int count_ = 0;
  int pollers_ = 0;
};

class RecordingBox : public IMessageBox {
 public:
  void Show(const std::wstring& text, const std::wstring& caption, MessageIcon icon) override {
    shown.push_back({text, caption, icon});
  }
  std::vector<std::tuple<std::wstring, std::wstring, MessageIcon>> shown;
};

struct Posted {
  unsigned msg;
  std::intptr_t wParam, lParam;
};

class AudioReceiverTest : public ::testing::Test {
 protected:
  AudioReceiverTest() {
    auto mic = std::make_unique<FakeServer>();
    auto spk = std::make_unique<FakeServer>();
    auto rec = std::make_unique<FakeRecorder>();
    micServer = mic.get();
    speakerServer = spk.get();
    recorder = rec.get();
    receiver = std::make_unique<CAudioReceiver>(std::move(mic), std::move(spk), std::move(rec));
    receiver->SetWindow([this](unsigned msg, std::intptr_t w, std::intptr_t l) {
      std::lock_guard lock(postedMutex);
      posted.push_back({msg, w, l});
    });
    receiver->SetRedirectAgain([this] { ++redirects; });
    receiver->SetCaptureSetting([this] { return capf; });
  }
  ~AudioReceiverTest() override {
    receiver->Destroy();
    SetMessageBox(nullptr);
  }

  // Feeds one read of `data` from connection `socket` as a poll step would report it.
  bool Read(AudioStream stream, const Bytes& data, std::uint64_t socket = 7, int status = 0,
            bool removed = false) {
    PollResult r;
    r.events = kNetRead;
    r.socket = socket;
    r.received = data.size();
    r.removed = removed;
    return receiver->OnPoll(stream, status, r, data.data());
  }
  void Close(AudioStream stream, std::uint64_t socket, int status = 0) {
    PollResult r;
    r.events = kNetClose;
    r.socket = socket;
    r.removed = true;
    receiver->OnPoll(stream, status, r, nullptr);
  }
  std::vector<std::intptr_t> LevelsPosted(unsigned msg) {
    std::lock_guard lock(postedMutex);
    std::vector<std::intptr_t> out;
    for (const Posted& p : posted) {
      if (p.msg == msg) {
        EXPECT_EQ(p.lParam, 0);
        out.push_back(p.wParam);
      }
    }
    return out;
  }

  FakeServer* micServer;
  FakeServer* speakerServer;
  FakeRecorder* recorder;
  std::unique_ptr<CAudioReceiver> receiver;
  std::mutex postedMutex;
  std::vector<Posted> posted;
  int redirects = 0;
  int capf = 0;
};

// ---- reassembly ---------------------------------------------------------------------

struct SegmentCase {
  const char* name;
  std::vector<std::size_t> reads;
};

class AudioReceiverReassembly : public AudioReceiverTest, public ::testing::WithParamInterface<SegmentCase> {};

TEST_P(AudioReceiverReassembly, EveryByteReachesTheRecorderOnceInOrder) {
  receiver->SetRecordingState(REC_RECORDING);
  const std::size_t total = std::accumulate(GetParam().reads.begin(), GetParam().reads.end(), std::size_t{0});
  const Bytes stream = PatternStream(total);
  std::size_t offset = 0;
  for (std::size_t n : GetParam().reads) {
    ASSERT_TRUE(Read(AudioStream::Mic, Bytes(stream.begin() + offset, stream.begin() + offset + n)));
    offset += n;
  }
  const std::size_t whole = total / kStreamFrameBytes * kStreamFrameBytes;
  EXPECT_EQ(recorder->Joined(AudioStream::Mic), Bytes(stream.begin(), stream.begin() + whole));
  for (std::size_t size : recorder->sizes) EXPECT_EQ(size, kStreamFrameBytes);
  EXPECT_EQ(receiver->PendingBytes(AudioStream::Mic, 7), total - whole);
  EXPECT_EQ(recorder->Frames(AudioStream::Speaker), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Segments, AudioReceiverReassembly,
    ::testing::Values(SegmentCase{"OneFrame", {320}}, SegmentCase{"ThreeFramesInOneRead", {960}},
                      SegmentCase{"OddSizes", {100, 1022, 1000}}, SegmentCase{"FullReads", {1022, 1022, 1022, 1022}},
                      SegmentCase{"ByteByByte", std::vector<std::size_t>(641, 1)},
                      SegmentCase{"JustShortThenComplete", {319, 1, 319, 2, 958}},
                      SegmentCase{"PartialOnly", {100}}, SegmentCase{"Mixed", {7, 700, 1022, 13, 320, 640, 1}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AudioReceiverTest, AudioReceiverConnectionsOnOnePortAreCutSeparately) {
  receiver->SetRecordingState(REC_RECORDING);
  const Bytes a = PatternStream(640, 1), b = PatternStream(640, 99);
  // Interleaved partial reads of two connections must not mix their bytes.
  Read(AudioStream::Mic, Bytes(a.begin(), a.begin() + 200), 11);
  Read(AudioStream::Mic, Bytes(b.begin(), b.begin() + 300), 12);
  Read(AudioStream::Mic, Bytes(a.begin() + 200, a.end()), 11);
  Read(AudioStream::Mic, Bytes(b.begin() + 300, b.end()), 12);
  ASSERT_EQ(recorder->mic.size(), 4u);
  EXPECT_EQ(recorder->mic[0], Bytes(a.begin(), a.begin() + 320));
  EXPECT_EQ(recorder->mic[1], Bytes(a.begin() + 320, a.end()));
  EXPECT_EQ(recorder->mic[2], Bytes(b.begin(), b.begin() + 320));
  EXPECT_EQ(recorder->mic[3], Bytes(b.begin() + 320, b.end()));
}

TEST_F(AudioReceiverTest, AudioReceiverResetMidFrameDropsTheHalfFrameAndTheNextConnectionStartsClean) {
  receiver->SetRecordingState(REC_RECORDING);
  const Bytes first = PatternStream(100, 3), next = PatternStream(320, 50);
  Read(AudioStream::Speaker, first, 5);
  // Reset while reading: the poll step reports the error with the socket removed.
  ASSERT_TRUE(Read(AudioStream::Speaker, {}, 5, kWsaConnReset, /*removed=*/true));
  EXPECT_EQ(receiver->PendingBytes(AudioStream::Speaker, 5), 0u);
  EXPECT_EQ(redirects, 1);
  // The system may hand the same socket value to the next connection.
  Read(AudioStream::Speaker, next, 5);
  ASSERT_EQ(recorder->speaker.size(), 1u);
  EXPECT_EQ(recorder->speaker[0], next);
}

TEST_F(AudioReceiverTest, AudioReceiverCloseDropsHalfFrameAndAsksForRedirection) {
  receiver->SetRecordingState(REC_RECORDING);
  Read(AudioStream::Mic, PatternStream(50), 9);
  Close(AudioStream::Mic, 9);
  EXPECT_EQ(redirects, 1);
  Read(AudioStream::Mic, PatternStream(320, 8), 9);
  ASSERT_EQ(recorder->mic.size(), 1u);
  EXPECT_EQ(recorder->mic[0], PatternStream(320, 8));
}

TEST_F(AudioReceiverTest, AudioReceiverReadAndCloseInOneStepKeepsTheData) {
  receiver->SetRecordingState(REC_RECORDING);
  const Bytes data = PatternStream(640);
  PollResult r;
  r.events = kNetRead | kNetClose;
  r.socket = 4;
  r.received = data.size();
  r.removed = true;
  EXPECT_TRUE(receiver->OnPoll(AudioStream::Mic, 0, r, data.data()));
  EXPECT_EQ(recorder->Joined(AudioStream::Mic), data);
  EXPECT_EQ(redirects, 1);
}

// ---- side and state filtering -------------------------------------------------------

struct FilterCase {
  int state;
  int side;
  bool micRecorded;
  bool speakerRecorded;
};

class AudioReceiverFiltering : public AudioReceiverTest, public ::testing::WithParamInterface<FilterCase> {};

TEST_P(AudioReceiverFiltering, FramesReachTheRecorderOnlyWhenStateAndSideWantThem) {
  const FilterCase& c = GetParam();
  receiver->SetRecordingState(c.state);
  receiver->SetSide(c.side);
  for (int i = 0; i < 6; ++i) {
    Read(AudioStream::Mic, ConstantFrame(8000), 1);
    Read(AudioStream::Speaker, ConstantFrame(-8000), 2);
  }
  EXPECT_EQ(recorder->Frames(AudioStream::Mic), c.micRecorded ? 6u : 0u);
  EXPECT_EQ(recorder->Frames(AudioStream::Speaker), c.speakerRecorded ? 6u : 0u);
  // The meter runs in every state and for every side.
  EXPECT_EQ(LevelsPosted(WM_STREAM_LEVEL_MIC), std::vector<std::intptr_t>{8000 >> 6});
  EXPECT_EQ(LevelsPosted(WM_STREAM_LEVEL_SPK), std::vector<std::intptr_t>{8000 >> 6});
}

INSTANTIATE_TEST_SUITE_P(
    States, AudioReceiverFiltering,
    ::testing::Values(FilterCase{REC_RECORDING, kRecordSideBoth, true, true}, FilterCase{REC_RECORDING, kRecordSideMine, true, false},
                      FilterCase{REC_RECORDING, kRecordSideRemote, false, true}, FilterCase{REC_RESUMED, kRecordSideBoth, true, true},
                      FilterCase{REC_RESUMED, kRecordSideMine, true, false}, FilterCase{REC_PAUSED, kRecordSideBoth, false, false},
                      FilterCase{REC_PAUSED, kRecordSideRemote, false, false}, FilterCase{REC_STOPPED, kRecordSideBoth, false, false},
                      FilterCase{REC_IDLE, kRecordSideBoth, false, false}));

TEST_F(AudioReceiverTest, AudioReceiverPauseKeepsTheStreamAligned) {
  const Bytes stream = PatternStream(1600);
  receiver->SetRecordingState(REC_PAUSED);
  Read(AudioStream::Mic, Bytes(stream.begin(), stream.begin() + 500));
  receiver->SetRecordingState(REC_RESUMED);
  Read(AudioStream::Mic, Bytes(stream.begin() + 500, stream.end()));
  // The frame begun during the pause completes after it; frames stay on 320-byte bounds.
  EXPECT_EQ(recorder->Joined(AudioStream::Mic), Bytes(stream.begin() + 320, stream.end()));
}

// ---- level meter --------------------------------------------------------------------

TEST(AudioReceiverLevelMeter, PeakLooksAtEveryTenthSampleOfTheRead) {
  struct Case {
    const char* name;
    Bytes data;
    int peak;
  };
  Bytes loudAt5 = ConstantFrame(0), loudAt10 = ConstantFrame(0), loudBeyondHalf = ConstantFrame(0, 21);
  std::memcpy(&loudAt5[10], Samples({32767}).data(), 2);
  std::memcpy(&loudAt10[20], Samples({-32768}).data(), 2);
  loudBeyondHalf[20] = 0x7F;  // the odd last byte is not a sample
  const Case cases[] = {
      {"silence", ConstantFrame(0), 0},
      {"full positive", ConstantFrame(32767), 511},
      {"full negative", ConstantFrame(-32768), 512},
      {"small", ConstantFrame(-63), 0},
      {"just one step", ConstantFrame(64), 1},
      {"loud sample between the looked-at ones", loudAt5, 0},
      {"loud tenth sample", loudAt10, 512},
      {"trailing odd byte", loudBeyondHalf, 0},
      {"empty", {}, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(CStreamLevelMeter::Peak(c.data.data(), c.data.size()), c.peak) << c.name;
}

TEST(AudioReceiverLevelMeter, MeasuresAfterFiveSkippedReadsAndFallsByFour) {
  CStreamLevelMeter meter;
  const Bytes loud = ConstantFrame(640), silent = ConstantFrame(0);  // 640 >> 6 = 10
  std::vector<int> measured;
  std::vector<int> measuredAt;
  auto feed = [&](const Bytes& b, int read) {
    int level = -1;
    if (meter.Feed(b.data(), b.size(), level)) {
      measured.push_back(level);
      measuredAt.push_back(read);
    }
  };
  int read = 1;
  for (; read <= 6; ++read) feed(loud, read);
  for (; read <= 24; ++read) feed(silent, read);
  EXPECT_EQ(measuredAt, (std::vector<int>{6, 12, 18, 24}));
  EXPECT_EQ(measured, (std::vector<int>{10, 6, 2, 0}));
  // A louder read than the level replaces it at once.
  for (int i = 0; i < 6; ++i) feed(ConstantFrame(6400), read++);
  EXPECT_EQ(measured.back(), 100);
}

TEST_F(AudioReceiverTest, AudioReceiverSilenceIsPostedAsZeroPerStream) {
  for (int i = 0; i < 12; ++i) Read(AudioStream::Speaker, ConstantFrame(0));
  EXPECT_EQ(LevelsPosted(WM_STREAM_LEVEL_SPK), (std::vector<std::intptr_t>{0, 0}));
  EXPECT_TRUE(LevelsPosted(WM_STREAM_LEVEL_MIC).empty());
  EXPECT_EQ(receiver->Level(AudioStream::Speaker), 0);
}

TEST_F(AudioReceiverTest, AudioReceiverMeterReadsWholeSamplesAfterAnOddSplit) {
  // 16384 >> 6 = 256; read one byte off its sample boundary it would look like 64 or 0.
  const Bytes stream = ConstantFrame(16384, 1 + 5 * 320);
  Read(AudioStream::Mic, Bytes(stream.begin(), stream.begin() + 1));
  for (int i = 0; i < 5; ++i) {
    Read(AudioStream::Mic, Bytes(stream.begin() + 1 + i * 320, stream.begin() + 1 + (i + 1) * 320));
  }
  EXPECT_EQ(LevelsPosted(WM_STREAM_LEVEL_MIC), std::vector<std::intptr_t>{256});
}

TEST_F(AudioReceiverTest, AudioReceiverNoWindowMeansNoPostButTheLevelIsKept) {
  receiver->SetWindow(nullptr);
  for (int i = 0; i < 6; ++i) Read(AudioStream::Mic, ConstantFrame(3200));
  EXPECT_TRUE(posted.empty());
  EXPECT_EQ(receiver->Level(AudioStream::Mic), 50);
}

// ---- poll statuses ------------------------------------------------------------------

TEST_F(AudioReceiverTest, AudioReceiverPollStatusDecidesWhetherTheLoopGoesOn) {
  struct Case {
    int status;
    bool goesOn;
    bool closesServer;
  };
  const Case cases[] = {{0, true, false},           {kWsaTimedOut, true, false},  {kWsaConnAborted, true, false},
                        {kWsaConnReset, true, false}, {kWsaConnRefused, true, false}, {kWsaNotConnected, false, false},
                        {10050, false, true},       {6, false, true}};
  for (const Case& c : cases) {
    micServer->SetCount(3);
    const int before = micServer->closeAllCalls;
    EXPECT_EQ(receiver->OnPoll(AudioStream::Mic, c.status, PollResult{}, nullptr), c.goesOn) << c.status;
    EXPECT_EQ(micServer->closeAllCalls - before, c.closesServer ? 1 : 0) << c.status;
  }
  EXPECT_EQ(redirects, 0);
}

// ---- recording operations -----------------------------------------------------------

TEST_F(AudioReceiverTest, AudioReceiverStartRecordingAppendsMp3AndStartsTheRecorder) {
  receiver->StartRecording(L"C:\\Rec\\anna_2026-12-10_10-00-00", 44100, 128, 1);
  EXPECT_EQ(receiver->GetFileName(), L"C:\\Rec\\anna_2026-12-10_10-00-00.mp3");
  ASSERT_EQ(recorder->starts.size(), 1u);
  EXPECT_EQ(recorder->starts[0].path, L"C:\\Rec\\anna_2026-12-10_10-00-00.mp3");
  EXPECT_EQ(recorder->starts[0].rate, 44100);
  EXPECT_EQ(recorder->starts[0].bitrate, 128);
  EXPECT_EQ(recorder->starts[0].mode, 1);
}

TEST_F(AudioReceiverTest, AudioReceiverStartRecordingDoesNothingWhileRecordingOrPaused) {
  receiver->StartRecording(L"first", 16000, 32, 0);
  for (int state : {REC_RECORDING, REC_PAUSED, REC_RESUMED}) {
    receiver->SetRecordingState(state);
    receiver->StartRecording(L"second", 16000, 32, 0);
    EXPECT_EQ(receiver->GetFileName(), L"first.mp3") << state;
  }
  EXPECT_EQ(recorder->starts.size(), 1u);
  // After a stop the next start goes ahead.
  receiver->StopRecording();
  EXPECT_EQ(receiver->GetRecordingState(), REC_STOPPED);
  EXPECT_EQ(recorder->stops, 1);
  receiver->StartRecording(L"second", 16000, 32, 0);
  EXPECT_EQ(receiver->GetFileName(), L"second.mp3");
  EXPECT_EQ(recorder->starts.size(), 2u);
}

TEST_F(AudioReceiverTest, AudioReceiverDeviceCaptureSettingLeavesTheRecorderAlone) {
  capf = 1;
  receiver->StartRecording(L"call", 32000, 64, 0);
  EXPECT_TRUE(recorder->starts.empty());
  EXPECT_EQ(receiver->GetFileName(), L"call.mp3");
}

TEST_F(AudioReceiverTest, AudioReceiverInitialStateIsIdleWithBothSides) {
  EXPECT_EQ(receiver->GetRecordingState(), REC_IDLE);
  EXPECT_EQ(receiver->GetSide(), kRecordSideBoth);
  EXPECT_EQ(receiver->GetFileName(), L"");
}

// ---- servers and receive threads ----------------------------------------------------

TEST_F(AudioReceiverTest, AudioReceiverServersListenOnLoopbackAtTheirPorts) {
  ASSERT_TRUE(receiver->StartMicServer());
  ASSERT_TRUE(receiver->StartSpeakerServer());
  EXPECT_EQ(micServer->listens, (std::vector<std::pair<std::string, std::uint16_t>>{{"127.0.0.1", 38377}}));
  EXPECT_EQ(speakerServer->listens, (std::vector<std::pair<std::string, std::uint16_t>>{{"127.0.0.1", 38376}}));
}

TEST_F(AudioReceiverTest, AudioReceiverPortThatCannotBeUsedShowsItsMessageAndTheOtherStillWorks) {
  RecordingBox box;
  SetMessageBox(&box);
  for (bool micFails : {true, false}) {
    SCOPED_TRACE(micFails);
    box.shown.clear();
    FakeServer* failing = micFails ? micServer : speakerServer;
    failing->listenError = 10048;
    const bool micOk = receiver->StartMicServer();
    const bool speakerOk = receiver->StartSpeakerServer();
    EXPECT_EQ(micOk, !micFails);
    EXPECT_EQ(speakerOk, micFails);
    ASSERT_EQ(box.shown.size(), 1u);
    const std::wstring port = micFails ? L"38377" : L"38376";
    EXPECT_EQ(std::get<0>(box.shown[0]),
              L"Create socket failed! Please make sure your firewall/anti-virus software does NOT block the port '" +
                  port + L"'!");
    EXPECT_EQ(std::get<1>(box.shown[0]), L"Tovik Skype Recorder");
    EXPECT_EQ(std::get<2>(box.shown[0]), MessageIcon::Information);
    failing->listenError = 0;
  }
}

TEST_F(AudioReceiverTest, AudioReceiverThreadsHandOverFramesFromTheServer) {
  receiver->SetRecordingState(REC_RECORDING);
  ASSERT_TRUE(receiver->StartMicServer());
  ASSERT_TRUE(receiver->StartSpeakerServer());
  const Bytes mic = PatternStream(1022 * 3, 1), spk = PatternStream(700 * 4, 2);
  for (std::size_t off = 0; off < mic.size(); off += 1022) {
    PollResult r;
    r.events = kNetRead;
    r.socket = 30;
    micServer->Queue({0, r, Bytes(mic.begin() + off, mic.begin() + off + 1022)});
  }
  for (std::size_t off = 0; off < spk.size(); off += 700) {
    PollResult r;
    r.events = kNetRead;
    r.socket = 31;
    speakerServer->Queue({0, r, Bytes(spk.begin() + off, spk.begin() + off + 700)});
  }
  ASSERT_TRUE(recorder->WaitForFrames(AudioStream::Mic, mic.size() / 320));
  ASSERT_TRUE(recorder->WaitForFrames(AudioStream::Speaker, spk.size() / 320));
  EXPECT_EQ(recorder->Joined(AudioStream::Mic), Bytes(mic.begin(), mic.begin() + mic.size() / 320 * 320));
  EXPECT_EQ(recorder->Joined(AudioStream::Speaker), Bytes(spk.begin(), spk.begin() + spk.size() / 320 * 320));
}

TEST_F(AudioReceiverTest, AudioReceiverCloseAllEndsTheThreadBlockedInPoll) {
  ASSERT_TRUE(receiver->StartMicServer());
  ASSERT_TRUE(micServer->WaitForBlockedPoller());
  micServer->CloseAll();
  // A restart only succeeds once the old thread has left its loop; the new one then polls.
  ASSERT_TRUE(receiver->StartMicServer());
  ASSERT_TRUE(micServer->WaitForBlockedPoller());
  EXPECT_EQ(micServer->Pollers(), 1);
  EXPECT_EQ(micServer->listens.size(), 2u);
}

TEST_F(AudioReceiverTest, AudioReceiverRestartReplacesTheRunningThread) {
  ASSERT_TRUE(receiver->StartSpeakerServer());
  ASSERT_TRUE(speakerServer->WaitForBlockedPoller());
  ASSERT_TRUE(receiver->StartSpeakerServer());
  ASSERT_TRUE(speakerServer->WaitForBlockedPoller());
  EXPECT_EQ(speakerServer->Pollers(), 1);
  EXPECT_GE(speakerServer->closeAllCalls, 1);
}

TEST_F(AudioReceiverTest, AudioReceiverRefusesAServerThatHoldsSocketsItDidNotStart) {
  micServer->SetCount(2);
  EXPECT_FALSE(receiver->StartMicServer());
  EXPECT_TRUE(micServer->listens.empty());
}

TEST_F(AudioReceiverTest, AudioReceiverDestroyEndsThreadsAndIsRepeatable) {
  ASSERT_TRUE(receiver->StartMicServer());
  ASSERT_TRUE(receiver->StartSpeakerServer());
  ASSERT_TRUE(micServer->WaitForBlockedPoller());
  ASSERT_TRUE(speakerServer->WaitForBlockedPoller());
  receiver->Destroy();
  EXPECT_EQ(receiver->Recorder(), nullptr);
  EXPECT_EQ(receiver->GetFileName(), L"");
  receiver->Destroy();
  EXPECT_FALSE(receiver->StartMicServer());
}

}  // namespace
}  // namespace tovik
