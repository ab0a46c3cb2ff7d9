#include "audio/engine/Resampler.h"

#include <samplerate.h>

namespace tovik {

CResampler::CResampler(int converterType) {
  int error = 0;
  m_state = src_new(converterType, 1, &error);
  if (error != 0 && m_state != nullptr) m_state = src_delete(m_state);
}

CResampler::~CResampler() {
  if (m_state != nullptr) src_delete(m_state);
}

int CResampler::Process(std::int16_t* output, const std::int16_t* input, int inputCount, double ratio,
                        int outputCapacity) {
  if (m_state == nullptr || output == nullptr || input == nullptr || inputCount <= 0 || outputCapacity <= 0 ||
      src_is_valid_ratio(ratio) == 0) {
    return 0;
  }
  // Sized once per distinct packet length; equal calls reuse the arrays.
  if (m_in.size() != static_cast<std::size_t>(inputCount)) m_in.resize(static_cast<std::size_t>(inputCount));
  if (m_out.size() != static_cast<std::size_t>(outputCapacity)) m_out.resize(static_cast<std::size_t>(outputCapacity));
  constexpr float kScale = 1.0f / 32768.0f;
  for (int i = 0; i < inputCount; ++i) m_in[static_cast<std::size_t>(i)] = static_cast<float>(input[i]) * kScale;

  int total = 0;
  long used = 0;
  while (used < inputCount && total < outputCapacity) {
    SRC_DATA data{};
    data.data_in = m_in.data() + used;
    data.input_frames = inputCount - used;
    data.data_out = m_out.data();
    // Every pass writes behind the earlier ones, so it may only fill what is left.
    data.output_frames = outputCapacity - total;
    data.src_ratio = ratio;
    data.end_of_input = 0;
    if (src_process(m_state, &data) != 0) return 0;
    src_float_to_short_array(m_out.data(), output + total, static_cast<int>(data.output_frames_gen));
    total += static_cast<int>(data.output_frames_gen);
    if (data.input_frames_used == 0) break;
    used += data.input_frames_used;
  }
  return total;
}

}  // namespace tovik
