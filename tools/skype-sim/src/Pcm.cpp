#include "Pcm.h"

#include <cmath>

namespace sim {

namespace {
uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
uint16_t Le16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }
}  // namespace

CPcmSource CPcmSource::Silence() { return CPcmSource(); }

CPcmSource CPcmSource::Tone(double frequencyHz, double amplitude) {
  CPcmSource s;
  s.kind_ = Kind::Tone;
  s.frequency_ = frequencyHz;
  s.amplitude_ = amplitude;
  return s;
}

CPcmSource CPcmSource::Samples(std::vector<int16_t> samples) {
  CPcmSource s;
  s.kind_ = Kind::Samples;
  s.samples_ = std::move(samples);
  return s;
}

void CPcmSource::AppendFrames(size_t frames, std::vector<uint8_t>& out) {
  const size_t count = frames * (kFrameBytes / 2);
  out.reserve(out.size() + count * 2);
  constexpr double kTwoPi = 6.283185307179586;
  for (size_t i = 0; i < count; ++i, ++played_) {
    int v = 0;
    if (kind_ == Kind::Tone) {
      // The phase is reduced per period so it stays exact over hours of samples.
      const double cycles = std::fmod(static_cast<double>(played_) * frequency_ / kSampleRate, 1.0);
      const double x = std::lround(amplitude_ * std::sin(kTwoPi * cycles));
      v = static_cast<int>(x < -32768 ? -32768 : x > 32767 ? 32767 : x);
    } else if (kind_ == Kind::Samples && played_ < samples_.size()) {
      v = samples_[played_];
    }
    const auto u = static_cast<uint16_t>(static_cast<int16_t>(v));
    out.push_back(static_cast<uint8_t>(u & 0xFF));
    out.push_back(static_cast<uint8_t>(u >> 8));
  }
}

bool ParseWave(const std::vector<uint8_t>& b, std::vector<int16_t>& samples, std::string& error) {
  samples.clear();
  if (b.size() < 12 || Le32(b, 0) != 0x46464952u /*RIFF*/ || Le32(b, 8) != 0x45564157u /*WAVE*/) {
    error = "not a RIFF WAVE file";
    return false;
  }
  bool haveFormat = false;
  size_t at = 12;
  while (at + 8 <= b.size()) {
    const uint32_t id = Le32(b, at);
    const uint64_t size = Le32(b, at + 4);
    const size_t body = at + 8;
    if (size > b.size() - body) {
      error = "chunk runs past the end of the file";
      return false;
    }
    if (id == 0x20746D66u /*fmt */) {
      if (size < 16) { error = "format chunk too short"; return false; }
      const uint16_t format = Le16(b, body), channels = Le16(b, body + 2), bits = Le16(b, body + 14);
      const uint32_t rate = Le32(b, body + 4);
      if (format != 1 || channels != 1 || rate != kSampleRate || bits != 16) {
        error = "need 16000 Hz 16-bit mono PCM, got format " + std::to_string(format) + ", " +
                std::to_string(channels) + " channels, " + std::to_string(rate) + " Hz, " +
                std::to_string(bits) + " bits";
        return false;
      }
      haveFormat = true;
    } else if (id == 0x61746164u /*data*/) {
      if (!haveFormat) { error = "data chunk before the format chunk"; return false; }
      samples.reserve(size / 2);
      for (size_t i = 0; i + 1 < size; i += 2) samples.push_back(static_cast<int16_t>(Le16(b, body + i)));
      return true;
    }
    at = body + size + (size & 1);  // chunks are padded to even sizes
  }
  error = haveFormat ? "no data chunk" : "no format chunk";
  return false;
}

CSegmenter::CSegmenter(std::vector<size_t> sizes) {
  for (size_t s : sizes)
    if (s > 0) sizes_.push_back(s);
}

void CSegmenter::Append(const std::vector<uint8_t>& bytes) {
  if (start_ > 0 && start_ == pending_.size()) {
    pending_.clear();
    start_ = 0;
  }
  pending_.insert(pending_.end(), bytes.begin(), bytes.end());
}

void CSegmenter::Cut(size_t n, std::vector<uint8_t>& write) {
  write.assign(pending_.begin() + static_cast<std::ptrdiff_t>(start_),
               pending_.begin() + static_cast<std::ptrdiff_t>(start_ + n));
  start_ += n;
  if (start_ > 65536) {  // keep the buffer from growing over a long call
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(start_));
    start_ = 0;
  }
}

bool CSegmenter::Take(std::vector<uint8_t>& write) {
  const size_t have = Pending();
  if (have == 0) return false;
  if (sizes_.empty()) {
    Cut(have, write);
    return true;
  }
  const size_t n = sizes_[next_];
  if (have < n) return false;
  next_ = (next_ + 1) % sizes_.size();
  Cut(n, write);
  return true;
}

bool CSegmenter::Flush(std::vector<uint8_t>& write) {
  if (Take(write)) return true;
  const size_t have = Pending();
  if (have == 0) return false;
  if (!sizes_.empty()) next_ = (next_ + 1) % sizes_.size();
  Cut(have, write);
  return true;
}

}  // namespace sim
