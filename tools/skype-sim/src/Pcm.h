// The audio the stand-in streams: 16000 Hz 16-bit mono PCM, the format the recorder
// expects on its two ports, and the cutting of that byte stream into TCP writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

constexpr int kSampleRate = 16000;
constexpr size_t kFrameBytes = 320;  // 10 ms of 16-bit mono at 16000 Hz

// What one side plays. The sample counter runs on across reconnections, so a dropped
// and reopened connection resumes the tone where it left off instead of restarting it.
class CPcmSource {
 public:
  static CPcmSource Silence();
  static CPcmSource Tone(double frequencyHz, double amplitude);
  // Samples of a 16000 Hz 16-bit mono WAVE file; after its end the side plays silence.
  static CPcmSource Samples(std::vector<int16_t> samples);

  // Appends the little-endian bytes of the next `frames` 10 ms frames.
  void AppendFrames(size_t frames, std::vector<uint8_t>& out);
  uint64_t SamplesPlayed() const { return played_; }

 private:
  enum class Kind { Silence, Tone, Samples } kind_ = Kind::Silence;
  double frequency_ = 0;
  double amplitude_ = 0;
  std::vector<int16_t> samples_;
  uint64_t played_ = 0;
};

// Reads a RIFF WAVE image; only 16000 Hz, 16-bit, mono PCM is accepted, since the stand-in
// sends the samples unchanged. On failure returns false and says why in `error`.
bool ParseWave(const std::vector<uint8_t>& file, std::vector<int16_t>& samples, std::string& error);

// Cuts a byte stream into writes of the given sizes, taken in turn. With no sizes every
// Take hands out all that is pending. Flush hands out the rest so no byte is held back.
class CSegmenter {
 public:
  explicit CSegmenter(std::vector<size_t> sizes = {});
  void Append(const std::vector<uint8_t>& bytes);
  bool Take(std::vector<uint8_t>& write);   // one write when enough bytes are pending
  bool Flush(std::vector<uint8_t>& write);  // the remainder, possibly shorter than its size
  size_t Pending() const { return pending_.size() - start_; }

 private:
  void Cut(size_t n, std::vector<uint8_t>& write);
  std::vector<size_t> sizes_;
  size_t next_ = 0;
  std::vector<uint8_t> pending_;
  size_t start_ = 0;
};

}  // namespace sim
