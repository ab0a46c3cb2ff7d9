#include "audio/input/FrameAssembler.h"

#include <algorithm>
#include <cstring>

namespace tovik {

std::size_t CFrameAssembler::Fill(const std::uint8_t* data, std::size_t size) {
  const std::size_t take = std::min(size, kStreamFrameBytes - pending_);
  if (take > 0) std::memcpy(partial_.data() + pending_, data, take);
  pending_ += take;
  return take;
}

}  // namespace tovik
