#include <gtest/gtest.h>

#include <samplerate.h>

#include <cstdint>
#include <vector>

#include "audio/engine/Resampler.h"
#include "audio_signal_util.h"

namespace tovik {
namespace {

using namespace tovik_test;

TEST(AudioEngineResampler, KeepsFrequencyAndLevel) {
  for (int type : {SRC_SINC_FASTEST, SRC_ZERO_ORDER_HOLD, SRC_LINEAR}) {
    SCOPED_TRACE(type);
    CResampler resampler(type);
    ASSERT_TRUE(resampler.IsValid());
    std::vector<std::int16_t> out;
    std::vector<std::int16_t> piece(1000);
    // One second of 48000 Hz capture in 10 ms packets.
    for (int p = 0; p < 100; ++p) {
      const auto in = Tone(1000, 10000, 48000, p * 480L, 480);
      const int n = resampler.Process(piece.data(), in.data(), 480, 32000.0 / 48000.0, static_cast<int>(piece.size()));
      out.insert(out.end(), piece.begin(), piece.begin() + n);
    }
    EXPECT_NEAR(static_cast<double>(out.size()), 32000.0, 200.0);
    const std::size_t first = 3200, count = 16000;
    EXPECT_NEAR(Db(ToneAmplitude(out, 1, 0, 1000, 32000, first, count), 10000), 0, 1);
    // The energy is at 1000 Hz at the new rate, not at 1500 Hz (rate taken as unchanged).
    EXPECT_LT(ToneAmplitude(out, 1, 0, 1500, 32000, first, count), 500);
    int crossings = 0;
    for (std::size_t i = first + 1; i < first + count; ++i) crossings += (out[i - 1] < 0) != (out[i] < 0);
    EXPECT_NEAR(crossings, 1000, 10);  // two per cycle over half a second
  }
}

TEST(AudioEngineResampler, PiecesGiveTheSameOutputAsOneCall) {
  // A 30 ms packet at 32000 Hz given whole, or as 960 then 480 samples.
  for (int type : {SRC_SINC_FASTEST, SRC_ZERO_ORDER_HOLD, SRC_LINEAR}) {
    SCOPED_TRACE(type);
    const double ratio = 48000.0 / 32000.0;
    CResampler whole(type), split(type);
    std::vector<std::int16_t> a, b;
    std::vector<std::int16_t> buf(4000);
    for (int p = 0; p < 5; ++p) {
      const auto in = Tone(1000, 12000, 32000, p * 1440L, 1440);
      int n = whole.Process(buf.data(), in.data(), 1440, ratio, 4000);
      a.insert(a.end(), buf.begin(), buf.begin() + n);
      n = split.Process(buf.data(), in.data(), 960, ratio, 4000);
      b.insert(b.end(), buf.begin(), buf.begin() + n);
      n = split.Process(buf.data(), in.data() + 960, 480, ratio, 4000);
      b.insert(b.end(), buf.begin(), buf.begin() + n);
    }
    ASSERT_GT(a.size(), 0u);
    EXPECT_EQ(a, b);
  }
}

TEST(AudioEngineResampler, NeverWritesPastTheOutputCapacity) {
  CResampler resampler(SRC_LINEAR);
  const auto in = Tone(1000, 12000, 16000, 0, 960);
  constexpr int kCapacity = 100;  // far less than 960 samples at twice the rate need
  std::vector<std::int16_t> out(kCapacity + 64, 0x7A7A);
  const int n = resampler.Process(out.data(), in.data(), 960, 2.0, kCapacity);
  EXPECT_GT(n, 0);
  EXPECT_LE(n, kCapacity);
  for (std::size_t i = kCapacity; i < out.size(); ++i) ASSERT_EQ(out[i], 0x7A7A) << i;
}

TEST(AudioEngineResampler, BadCallsProduceNothing) {
  CResampler resampler(SRC_LINEAR);
  const auto in = Tone(1000, 12000, 16000, 0, 160);
  std::vector<std::int16_t> out(400);
  EXPECT_EQ(resampler.Process(out.data(), in.data(), 160, 0.0, 400), 0);
  EXPECT_EQ(resampler.Process(out.data(), in.data(), 160, 1000.0, 400), 0);
  EXPECT_EQ(resampler.Process(nullptr, in.data(), 160, 2.0, 400), 0);
  EXPECT_EQ(resampler.Process(out.data(), nullptr, 160, 2.0, 400), 0);
  EXPECT_EQ(resampler.Process(out.data(), in.data(), 0, 2.0, 400), 0);
  CResampler invalid(12345);
  EXPECT_FALSE(invalid.IsValid());
  EXPECT_EQ(invalid.Process(out.data(), in.data(), 160, 2.0, 400), 0);
  // Still usable after the refusals.
  EXPECT_GT(resampler.Process(out.data(), in.data(), 160, 2.0, 400), 0);
}

}  // namespace
}  // namespace tovik
