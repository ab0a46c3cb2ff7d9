#pragma once
// Mono sample-rate conversion for the device-capture path, over libsamplerate. The
// converter keeps its filter state between calls, so a stream may arrive in any pieces.
#include <cstddef>
#include <cstdint>
#include <vector>

struct SRC_STATE_tag;

namespace tovik {

class CResampler {
 public:
  // `converterType` is a libsamplerate converter (SRC_SINC_FASTEST, SRC_ZERO_ORDER_HOLD ...).
  explicit CResampler(int converterType);
  ~CResampler();
  CResampler(const CResampler&) = delete;
  CResampler& operator=(const CResampler&) = delete;

  bool IsValid() const { return m_state != nullptr; }

  // Converts `inputCount` samples at `ratio` (output rate / input rate) into at most
  // `outputCapacity` samples; returns how many were produced, 0 on a converter error.
  int Process(std::int16_t* output, const std::int16_t* input, int inputCount, double ratio, int outputCapacity);

 private:
  SRC_STATE_tag* m_state = nullptr;
  std::vector<float> m_in;
  std::vector<float> m_out;
};

}  // namespace tovik
