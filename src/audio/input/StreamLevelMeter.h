#pragma once
// The level shown for one received stream (0..512). Measuring every read would flood the
// main window with messages, so five reads are skipped between measurements; a falling
// level drops slowly (4 per measurement) so the meter does not flicker.
#include <cstddef>
#include <cstdint>

namespace tovik {

class CStreamLevelMeter {
 public:
  static constexpr int kSkippedReads = 5;
  static constexpr int kFallPerMeasurement = 4;
  static constexpr std::size_t kSampleStride = 10;  // every tenth sample is looked at

  // Feeds one read of 16-bit little-endian samples. Returns true when this read was
  // measured; `level` then holds the new level to post.
  bool Feed(const std::uint8_t* data, std::size_t size, int& level);

  int Level() const { return level_; }

  // Peak of every tenth sample, as |sample| >> 6 (0..512).
  static int Peak(const std::uint8_t* data, std::size_t size);

 private:
  int level_ = 0;
  int skipped_ = 0;
};

}  // namespace tovik
