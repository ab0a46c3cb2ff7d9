#pragma once
// Signals for the audio engine tests: tones in 320-byte frames, tone level by Goertzel, and
// MP3 decoding with an independent decoder (libmpg123) where it is available.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#ifdef TOVIK_HAVE_MPG123
#include <mpg123.h>
#endif

namespace tovik_test {

constexpr double kPi = 3.14159265358979323846;

// Sample n of a tone, continuous across frames.
inline std::int16_t ToneSample(double frequency, double amplitude, int rate, long n) {
  return static_cast<std::int16_t>(std::lround(amplitude * std::sin(2.0 * kPi * frequency * n / rate)));
}

inline std::vector<std::int16_t> Tone(double frequency, double amplitude, int rate, long first, long count) {
  std::vector<std::int16_t> out(static_cast<std::size_t>(count));
  for (long i = 0; i < count; ++i) out[static_cast<std::size_t>(i)] = ToneSample(frequency, amplitude, rate, first + i);
  return out;
}

// Amplitude of the `frequency` component of x[first, first+count) (one channel of `stride`).
inline double ToneAmplitude(const std::vector<std::int16_t>& x, std::size_t stride, std::size_t channel,
                            double frequency, int rate, std::size_t first, std::size_t count) {
  double re = 0, im = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const double v = x[(first + i) * stride + channel];
    const double w = 2.0 * kPi * frequency * static_cast<double>(i) / rate;
    re += v * std::cos(w);
    im -= v * std::sin(w);
  }
  return 2.0 * std::sqrt(re * re + im * im) / static_cast<double>(count);
}

inline double Db(double measured, double expected) { return 20.0 * std::log10(measured / expected); }

inline double Peak(const std::vector<std::int16_t>& x, std::size_t stride, std::size_t channel) {
  double peak = 0;
  for (std::size_t i = channel; i < x.size(); i += stride) peak = std::max(peak, std::fabs(double(x[i])));
  return peak;
}

inline std::vector<unsigned char> ReadAll(const std::filesystem::path& path) {
  std::vector<unsigned char> bytes;
  if (std::FILE* f = std::fopen(path.string().c_str(), "rb")) {
    unsigned char buf[8192];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
    std::fclose(f);
  }
  return bytes;
}

struct Decoded {
  bool ok = false;
  long rate = 0;
  int channels = 0;
  int bitrateKbps = 0;
  int mpegVersion = -1;  // 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5
  bool original = false;
  bool crc = false;
  bool vbr = false;
  std::vector<std::int16_t> pcm;  // interleaved
  std::size_t Frames() const { return channels == 0 ? 0 : pcm.size() / static_cast<std::size_t>(channels); }
};

#ifdef TOVIK_HAVE_MPG123
inline Decoded DecodeMp3(const std::filesystem::path& path) {
  Decoded d;
  const std::vector<unsigned char> bytes = ReadAll(path);
  if (bytes.empty()) return d;
  mpg123_init();
  int err = 0;
  mpg123_handle* h = mpg123_new(nullptr, &err);
  if (h == nullptr) return d;
  mpg123_param(h, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0);
  mpg123_param(h, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
  mpg123_format_none(h);
  for (long rate : {8000L, 11025L, 12000L, 16000L, 22050L, 24000L, 32000L, 44100L, 48000L})
    mpg123_format(h, rate, MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
  if (mpg123_open_feed(h) != MPG123_OK) {
    mpg123_delete(h);
    return d;
  }
  std::vector<unsigned char> out(1 << 16);
  std::size_t done = 0;
  int ret = mpg123_decode(h, bytes.data(), bytes.size(), out.data(), out.size(), &done);
  bool info = false;
  for (;;) {
    if (ret == MPG123_NEW_FORMAT) {
      int enc = 0;
      mpg123_getformat(h, &d.rate, &d.channels, &enc);
    }
    if (!info && d.channels > 0) {
      mpg123_frameinfo fi{};
      if (mpg123_info(h, &fi) == MPG123_OK) {
        d.bitrateKbps = fi.bitrate;
        d.mpegVersion = static_cast<int>(fi.version);
        d.original = (fi.flags & MPG123_ORIGINAL) != 0;
        d.crc = (fi.flags & MPG123_CRC) != 0;
        d.vbr = fi.vbr != MPG123_CBR;
        info = true;
      }
    }
    const auto* s = reinterpret_cast<const std::int16_t*>(out.data());
    d.pcm.insert(d.pcm.end(), s, s + done / 2);
    if (ret == MPG123_ERR || ret == MPG123_NEED_MORE) break;
    ret = mpg123_decode(h, nullptr, 0, out.data(), out.size(), &done);
  }
  mpg123_delete(h);
  d.ok = d.channels > 0 && !d.pcm.empty();
  return d;
}
#endif

}  // namespace tovik_test
