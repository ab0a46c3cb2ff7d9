#pragma once
// Cuts one connection's TCP byte stream into whole 320-byte frames. TCP keeps no message
// boundaries, so a read may hold part of a frame, several frames, or both; the bytes that
// do not yet make a frame wait here for the next read.
#include <array>
#include <cstddef>
#include <cstdint>

#include "audio/input/StreamFormat.h"

namespace tovik {

class CFrameAssembler {
 public:
  // Calls onFrame(const std::uint8_t* frame) for every frame completed by `data`, in order.
  template <class OnFrame>
  void Append(const std::uint8_t* data, std::size_t size, OnFrame&& onFrame) {
    if (data == nullptr) return;
    if (pending_ > 0) {
      const std::size_t take = Fill(data, size);
      data += take;
      size -= take;
      if (pending_ < kStreamFrameBytes) return;
      onFrame(static_cast<const std::uint8_t*>(partial_.data()));
      pending_ = 0;
    }
    // Whole frames straight from the caller's buffer: no copy on the common path.
    while (size >= kStreamFrameBytes) {
      onFrame(data);
      data += kStreamFrameBytes;
      size -= kStreamFrameBytes;
    }
    Fill(data, size);
  }

  // Bytes of an unfinished frame held back.
  std::size_t Pending() const { return pending_; }
  // Forgets the unfinished frame (the connection is gone).
  void Reset() { pending_ = 0; }

 private:
  std::size_t Fill(const std::uint8_t* data, std::size_t size);

  std::array<std::uint8_t, kStreamFrameBytes> partial_{};
  std::size_t pending_ = 0;
};

}  // namespace tovik
