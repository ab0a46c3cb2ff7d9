#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include "audio/engine/DeviceRecorder.h"
#include "audio/engine/Mp3File.h"
#include "audio/engine/Recorder.h"
#include "audio_signal_util.h"
#include "base/LastError.h"
#include "base/Text.h"
#include "base/UiPort.h"

namespace tovik {
namespace {

namespace fs = std::filesystem;
using namespace tovik_test;

class RecordingBox : public IMessageBox {
 public:
  void Show(const std::wstring& text, const std::wstring& caption, MessageIcon icon) override {
    texts.push_back(text);
    captions.push_back(caption);
    icons.push_back(icon);
  }
  std::vector<std::wstring> texts, captions;
  std::vector<MessageIcon> icons;
};

// A fresh folder per test, removed afterwards, and the message box port pointed at a recorder.
class AudioEngineMp3 : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    m_dir = fs::temp_directory_path() / (std::string("tovik-mp3-") + info->name() + "-" + std::to_string(
#ifdef _WIN32
                                                                                          0
#else
                                                                                          getpid()
#endif
                                                                                          ));
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
    SetMessageBox(&m_box);
  }
  void TearDown() override {
    SetMessageBox(nullptr);
    std::error_code ec;
    fs::permissions(m_dir / "readonly", fs::perms::owner_all, ec);
    fs::remove_all(m_dir, ec);
  }
  std::wstring PathW(const fs::path& name) const { return (m_dir / name).wstring(); }

  fs::path m_dir;
  RecordingBox m_box;
};

// Paths from wide text as the writer sees them: UTF-8 natively, UTF-16 on Windows.
[[maybe_unused]] fs::path FromWide(const std::wstring& w) {
#ifdef _WIN32
  return fs::path(w);
#else
  return fs::path(WideToUtf8(w));
#endif
}
[[maybe_unused]] std::wstring ToWide(const fs::path& p) {
#ifdef _WIN32
  return p.wstring();
#else
  return Utf8ToWide(p.string());
#endif
}

[[maybe_unused]] CBuffer* NewBlock(const std::vector<std::int16_t>& samples) {
  auto* b = new CBuffer(static_cast<std::int32_t>(samples.size() * 2));
  std::memcpy(b->Data(), samples.data(), samples.size() * 2);
  return b;
}

TEST_F(AudioEngineMp3, WriteOutsideOpenAndCloseTwice) {
  CMp3File mp3;
  std::vector<std::int16_t> pcm(160, 0);
  CBuffer block(pcm.data(), 320);
  SetLastErrorCode(0);
  EXPECT_FALSE(mp3.Write(block));
  EXPECT_EQ(GetLastErrorCode(), 4355u);
  EXPECT_TRUE(mp3.Close());

  ASSERT_TRUE(mp3.Open(PathW("a.mp3"), 16000, 32, 16000, 0));
  EXPECT_TRUE(mp3.Write(block));
  EXPECT_TRUE(mp3.Close());
  const auto size = fs::file_size(m_dir / "a.mp3");
  SetLastErrorCode(0);
  EXPECT_FALSE(mp3.Write(block));
  EXPECT_EQ(GetLastErrorCode(), 4355u);
  EXPECT_TRUE(mp3.Close());
  EXPECT_EQ(fs::file_size(m_dir / "a.mp3"), size);
  EXPECT_TRUE(m_box.texts.empty());
}

TEST_F(AudioEngineMp3, UncreatableFilesAreReportedToTheUser) {
  fs::create_directories(m_dir / "readonly");
  fs::permissions(m_dir / "readonly", fs::perms::owner_read | fs::perms::owner_exec);
  struct Case {
    const char* name;
    std::wstring path;
    bool skip;
  };
  // Permissions do not stop root, and a read-only attribute does not stop file creation in a
  // Windows folder.
  const bool noReadOnlyFolders =
#ifdef _WIN32
      true;
#else
      geteuid() == 0;
#endif
  const std::vector<Case> cases = {
      {"missing folder", PathW("no such folder/x.mp3"), false},
      {"read-only folder", PathW("readonly/x.mp3"), noReadOnlyFolders},
      {"519-character name", PathW(std::wstring(519, L'a')), false},
      {"a folder, not a file", m_dir.wstring(), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.skip) continue;
    m_box.texts.clear();
    m_box.captions.clear();
    CMp3File mp3;
    EXPECT_FALSE(mp3.Open(c.path, 16000, 32, 16000, 0));
    EXPECT_FALSE(mp3.IsOpen());
    ASSERT_EQ(m_box.captions.size(), 1u);
    EXPECT_EQ(m_box.captions[0], L"Tovik Skype Recorder Create Mp3 File Failed!");
    EXPECT_FALSE(m_box.texts[0].empty());
    EXPECT_EQ(m_box.icons[0], MessageIcon::Error);
    std::vector<std::int16_t> pcm(160, 0);
    CBuffer block(pcm.data(), 320);
    EXPECT_FALSE(mp3.Write(block));
  }
  CMp3File mp3;
  m_box.texts.clear();
  EXPECT_FALSE(mp3.Open(static_cast<const wchar_t*>(nullptr), 16000, 32, 16000, 0));
  EXPECT_FALSE(mp3.Open(PathW("bad-mode.mp3"), 16000, 32, 16000, 3));
  EXPECT_FALSE(fs::exists(m_dir / "bad-mode.mp3"));
  EXPECT_TRUE(m_box.texts.empty());
}

TEST_F(AudioEngineMp3, UnicodeFoldersAndNames) {
  for (const std::wstring folder : {std::wstring(L"\x0417\x0430\x043F\x0438\x0441\x0438"), std::wstring(L"\x901A\x8BDD\x5F55\x97F3")}) {
    const fs::path dir = m_dir / FromWide(folder);
    fs::create_directories(dir);
    const fs::path file = dir / FromWide(folder + L" \x00E9.mp3");
    CMp3File mp3;
    ASSERT_TRUE(mp3.Open(ToWide(file), 16000, 32, 16000, 0));
    const auto pcm = Tone(440, 5000, 16000, 0, 1600);
    CBuffer block(const_cast<std::int16_t*>(pcm.data()), 3200);
    ASSERT_TRUE(mp3.Write(block));
    ASSERT_TRUE(mp3.Close());
    ASSERT_TRUE(fs::exists(file));
    EXPECT_GT(fs::file_size(file), 0u);
#ifdef TOVIK_HAVE_MPG123
    EXPECT_TRUE(DecodeMp3(file).ok);
#endif
  }
}

TEST_F(AudioEngineMp3, DeviceRecorderWritesAt32000AndStopsSafelyUnderWrites) {
  const fs::path file = m_dir / "device.mp3";
  CDeviceRecorder device;
  CBuffer* block = NewBlock(Tone(1000, 8000, 32000, 0, 320));
  EXPECT_FALSE(device.WriteBlock(*block));  // not started
  ASSERT_TRUE(device.Start(file.wstring(), 44100, 64, 0));
  EXPECT_TRUE(device.IsStarted());
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(device.WriteBlock(*block));

  // A capture thread still writing while the main thread stops.
  std::atomic<bool> go{true};
  std::thread writer([&] {
    while (go) device.WriteBlock(*block);
  });
  std::this_thread::yield();
  device.Stop();
  go = false;
  writer.join();
  EXPECT_FALSE(device.IsStarted());
  EXPECT_FALSE(device.WriteBlock(*block));
  delete block;

  ASSERT_TRUE(fs::exists(file));
#ifdef TOVIK_HAVE_MPG123
  const Decoded d = DecodeMp3(file);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.rate, 44100);
  EXPECT_GE(d.Frames(), 100u * 320 * 44100 / 32000);
#endif
}

#ifdef TOVIK_HAVE_MPG123

struct ToneCase {
  int mode;
  int outputRate;
  int bitrate;
};

// One MP3 frame at the output rate plus the encoder's and decoder's delays.
std::size_t Tolerance(long rate) {
  const std::size_t frame = rate >= 32000 ? 1152 : 576;
  return frame + 576 + 529;
}

// Records 2 s of a 440 Hz tone on the microphone side and a 1000 Hz tone on the remote side
// through the whole engine and checks the decoded file.
TEST_F(AudioEngineMp3, TonesComeBackInTheRightPlaceAtTheRightLevel) {
  constexpr int kFrames = 200;
  constexpr double kMicAmp = 8000, kSpkAmp = 6000;
  const std::vector<ToneCase> cases = {
      {0, 16000, 32}, {0, 32000, 64}, {0, 44100, 96}, {0, 48000, 128},
      {1, 16000, 64}, {1, 32000, 96}, {2, 44100, 128}, {1, 48000, 192},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << c.mode << " " << c.outputRate << " Hz " << c.bitrate << " kbit/s");
    const fs::path file = m_dir / ("tone-" + std::to_string(c.mode) + "-" + std::to_string(c.outputRate) + ".mp3");
    CRecorder recorder;
    ASSERT_TRUE(recorder.Start(file.wstring(), c.outputRate, c.bitrate, c.mode));
    recorder.SetSide(0);
    for (int i = 0; i < kFrames; ++i) {
      ASSERT_TRUE(recorder.PutMicFrame(Tone(440, kMicAmp, 16000, i * 160L, 160).data(), 320));
      ASSERT_TRUE(recorder.PutSpeakerFrame(Tone(1000, kSpkAmp, 16000, i * 160L, 160).data(), 320));
    }
    recorder.Stop();  // right away: every queued frame must still reach the file

    const auto bytes = ReadAll(file);
    ASSERT_GE(bytes.size(), 4u);
    // The bare stream: a frame sync first, no tag, no VBR header.
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1] & 0xE0, 0xE0);
    const std::string text(bytes.begin(), bytes.end());
    // (LAME's name may appear inside frames as padding; that is not a tag.)
    for (const char* marker : {"ID3", "Xing", "Info"}) EXPECT_EQ(text.find(marker), std::string::npos) << marker;
    if (bytes.size() > 128) EXPECT_NE(text.substr(bytes.size() - 128, 3), "TAG");

    const Decoded d = DecodeMp3(file);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.rate, c.outputRate);
    EXPECT_EQ(d.channels, c.mode == 0 ? 1 : 2);
    EXPECT_EQ(d.bitrateKbps, c.bitrate);
    EXPECT_FALSE(d.vbr);
    EXPECT_TRUE(d.original);
    EXPECT_FALSE(d.crc);
    const std::size_t expected = static_cast<std::size_t>(kFrames) * 160 * static_cast<std::size_t>(c.outputRate) / 16000;
    EXPECT_GE(d.Frames(), expected);
    EXPECT_LE(d.Frames(), expected + Tolerance(d.rate));

    // A steady stretch away from the start and the end.
    const std::size_t first = static_cast<std::size_t>(d.rate) / 4;
    const std::size_t count = static_cast<std::size_t>(d.rate);
    const std::size_t ch = static_cast<std::size_t>(d.channels);
    const int rate = static_cast<int>(d.rate);
    if (c.mode == 0) {
      EXPECT_NEAR(Db(ToneAmplitude(d.pcm, 1, 0, 440, rate, first, count), kMicAmp), 0, 1);
      EXPECT_NEAR(Db(ToneAmplitude(d.pcm, 1, 0, 1000, rate, first, count), kSpkAmp), 0, 1);
    } else {
      EXPECT_NEAR(Db(ToneAmplitude(d.pcm, ch, 0, 440, rate, first, count), kMicAmp), 0, 1);
      EXPECT_NEAR(Db(ToneAmplitude(d.pcm, ch, 1, 1000, rate, first, count), kSpkAmp), 0, 1);
      // Each tone stays in its own channel.
      EXPECT_LT(ToneAmplitude(d.pcm, ch, 0, 1000, rate, first, count), kSpkAmp / 100);
      EXPECT_LT(ToneAmplitude(d.pcm, ch, 1, 440, rate, first, count), kMicAmp / 100);
    }
  }
}

TEST_F(AudioEngineMp3, ASideRecordedAloneIsOnTheRight) {
  for (int side : {1, 2}) {
    SCOPED_TRACE(side);
    const fs::path file = m_dir / ("alone-" + std::to_string(side) + ".mp3");
    CRecorder recorder;
    ASSERT_TRUE(recorder.Start(file.wstring(), 32000, 96, 1));
    recorder.SetSide(side);
    for (int i = 0; i < 150; ++i) {
      recorder.PutMicFrame(Tone(440, 8000, 16000, i * 160L, 160).data(), 320);
      recorder.PutSpeakerFrame(Tone(1000, 8000, 16000, i * 160L, 160).data(), 320);
    }
    recorder.Stop();
    const Decoded d = DecodeMp3(file);
    ASSERT_TRUE(d.ok);
    ASSERT_EQ(d.channels, 2);
    const double tone = side == 1 ? 440 : 1000;
    const double other = side == 1 ? 1000 : 440;
    EXPECT_NEAR(Db(ToneAmplitude(d.pcm, 2, 1, tone, 32000, 8000, 32000), 8000), 0, 1);
    EXPECT_LT(ToneAmplitude(d.pcm, 2, 1, other, 32000, 8000, 32000), 80);
    EXPECT_LT(Peak(d.pcm, 2, 0), 64);  // the left channel is silent
  }
}

TEST_F(AudioEngineMp3, MonoMixSaturatesAtFullScale) {
  // Two in-phase tones of 30000 and 10000: a sum clipped at full scale, not an average and
  // not a wrapped-around sum.
  const fs::path file = m_dir / "loud.mp3";
  CRecorder recorder;
  ASSERT_TRUE(recorder.Start(file.wstring(), 16000, 128, 0));
  std::vector<std::int16_t> clipped;
  for (int i = 0; i < 150; ++i) {
    const auto a = Tone(440, 30000, 16000, i * 160L, 160);
    const auto b = Tone(440, 10000, 16000, i * 160L, 160);
    recorder.PutMicFrame(a.data(), 320);
    recorder.PutSpeakerFrame(b.data(), 320);
    for (std::size_t k = 0; k < 160; ++k) clipped.push_back(static_cast<std::int16_t>(std::clamp(a[k] + b[k], -32768, 32767)));
  }
  recorder.Stop();
  const Decoded d = DecodeMp3(file);
  ASSERT_TRUE(d.ok);
  const double want = ToneAmplitude(clipped, 1, 0, 440, 16000, 4000, 16000);
  ASSERT_GT(want, 33000);  // the fundamental of a clipped 40000 sine
  EXPECT_NEAR(Db(ToneAmplitude(d.pcm, 1, 0, 440, 16000, 4000, 16000), want), 0, 1);
  EXPECT_GT(Peak(d.pcm, 1, 0), 31000);
}

// LAME keeps the MPEG version the output rate implies and rounds the bitrate to the nearest
// one that version allows (a tie goes to the lower one).
TEST_F(AudioEngineMp3, BitratesTheFormatCannotCarryAreRounded) {
  struct Case {
    int rate, bitrate, mode;
    int expectedKbps;
    int expectedVersion;
  };
  const std::vector<Case> cases = {
      {16000, 256, 0, 160, 1}, {16000, 320, 1, 160, 1}, {48000, 8, 0, 32, 0},
      {44100, 100, 1, 96, 0},  {32000, 500, 2, 320, 0}, {16000, 20, 0, 16, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rate << " Hz at " << c.bitrate << " kbit/s");
    const fs::path file = m_dir / ("rate-" + std::to_string(c.rate) + "-" + std::to_string(c.bitrate) + ".mp3");
    CMp3File mp3;
    ASSERT_TRUE(mp3.Open(file.wstring(), c.rate, c.bitrate, 16000, c.mode));
    const int channels = c.mode == 0 ? 1 : 2;
    for (int i = 0; i < 100; ++i) {
      std::vector<std::int16_t> pcm(160 * static_cast<std::size_t>(channels));
      for (std::size_t k = 0; k < pcm.size(); ++k) pcm[k] = ToneSample(440, 5000, 16000, i * 160L + static_cast<long>(k) / channels);
      CBuffer block(pcm.data(), static_cast<std::int32_t>(pcm.size() * 2));
      ASSERT_TRUE(mp3.Write(block));
    }
    ASSERT_TRUE(mp3.Close());
    const Decoded d = DecodeMp3(file);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.rate, c.rate);
    EXPECT_EQ(d.bitrateKbps, c.expectedKbps);
    EXPECT_EQ(d.mpegVersion, c.expectedVersion);
  }
}

TEST_F(AudioEngineMp3, OddSizedBlocksPassOneSampleFewer) {
  // Heap blocks of exactly the odd size: reading the half sample would run past them.
  for (int mode : {0, 1}) {
    SCOPED_TRACE(mode);
    const int channels = mode == 0 ? 1 : 2;
    std::size_t frames[2] = {0, 0};
    for (int odd = 0; odd < 2; ++odd) {
      const fs::path file = m_dir / ("odd-" + std::to_string(mode) + std::to_string(odd) + ".mp3");
      CMp3File mp3;
      ASSERT_TRUE(mp3.Open(file.wstring(), 16000, 64, 16000, mode));
      for (int i = 0; i < 300; ++i) {
        const std::size_t bytes = 320 * static_cast<std::size_t>(channels) + static_cast<std::size_t>(odd);
        CBuffer block(static_cast<std::int32_t>(bytes));
        std::memset(block.Data(), 0, bytes);
        for (std::size_t k = 0; k < bytes / 2; ++k) {
          const std::int16_t s = ToneSample(440, 5000, 16000, i * 160L + static_cast<long>(k) / channels);
          std::memcpy(block.Data() + 2 * k, &s, 2);
        }
        ASSERT_TRUE(mp3.Write(block));
      }
      ASSERT_TRUE(mp3.Close());
      const Decoded d = DecodeMp3(file);
      ASSERT_TRUE(d.ok);
      frames[odd] = d.Frames();
    }
    EXPECT_EQ(frames[1], frames[0]);
  }
}

#ifndef _WIN32
// The disk fills up mid-recording (a file-size limit stands in for it): writes fail with
// their code and what reached the disk is still a playable stream.
TEST_F(AudioEngineMp3, FullDiskFailsWritesAndKeepsAPlayableFile) {
  const fs::path file = m_dir / "full.mp3";
  constexpr rlim_t kLimit = 48 * 1024;
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  if (saved.rlim_max != RLIM_INFINITY && saved.rlim_max < kLimit) GTEST_SKIP() << "file-size limit already lower";
  auto* previous = std::signal(SIGXFSZ, SIG_IGN);

  CMp3File mp3;
  ASSERT_TRUE(mp3.Open(file.wstring(), 32000, 128, 16000, 1));
  rlimit small = saved;
  small.rlim_cur = kLimit;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  int failures = 0;
  std::uint32_t code = 0;
  for (int i = 0; i < 1000; ++i) {  // 10 s at 128 kbit/s is far beyond the limit
    const auto pcm = Tone(440, 8000, 16000, i * 160L, 160);
    std::vector<std::int16_t> stereo(320);
    for (std::size_t k = 0; k < 160; ++k) stereo[2 * k] = stereo[2 * k + 1] = pcm[k];
    CBuffer block(stereo.data(), 640);
    SetLastErrorCode(0);
    if (!mp3.Write(block)) {
      ++failures;
      code = GetLastErrorCode();
    }
  }
  const bool closed = mp3.Close();
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);

  EXPECT_GT(failures, 0);
  EXPECT_EQ(code, 4358u);
  EXPECT_FALSE(closed);  // the encoder's tail never reached the disk
  EXPECT_LE(fs::file_size(file), kLimit);
  const Decoded d = DecodeMp3(file);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.rate, 32000);
  EXPECT_GT(d.Frames(), 32000u);  // over a second of the recording survived
}
#endif

#else
TEST_F(AudioEngineMp3, DecodedChecksNeedTheDecoder) { GTEST_SKIP() << "no MP3 decoder in this build"; }
#endif

}  // namespace
}  // namespace tovik
