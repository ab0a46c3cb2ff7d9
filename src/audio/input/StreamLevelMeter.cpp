#include "audio/input/StreamLevelMeter.h"

#include <algorithm>

namespace tovik {

int CStreamLevelMeter::Peak(const std::uint8_t* data, std::size_t size) {
  if (data == nullptr) return 0;
  const std::size_t samples = size / 2;
  int peak = 0;
  for (std::size_t i = 0; i < samples; i += kSampleStride) {
    const auto sample = static_cast<std::int16_t>(
        static_cast<std::uint16_t>(data[2 * i] | (data[2 * i + 1] << 8)));
    // Widened first: -32768 has no 16-bit magnitude.
    const int magnitude = sample < 0 ? -static_cast<int>(sample) : sample;
    peak = std::max(peak, magnitude >> 6);
  }
  return peak;
}

bool CStreamLevelMeter::Feed(const std::uint8_t* data, std::size_t size, int& level) {
  if (skipped_ < kSkippedReads) {
    ++skipped_;
    return false;
  }
  skipped_ = 0;
  const int peak = Peak(data, size);
  level_ = peak < level_ ? std::max(level_ - kFallPerMeasurement, 0) : peak;
  level = level_;
  return true;
}

}  // namespace tovik
