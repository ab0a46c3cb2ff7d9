#pragma once
// A byte block that every piece of PCM audio travels in between the objects of the audio
// path. It either owns its storage (sized) or borrows someone else's (wrapping, empty).
#include <cstddef>
#include <cstdint>

namespace tovik {

class CBufferPool;

class CBuffer {
 public:
  // Empty: no storage, nothing owned (the pool fills such a buffer itself).
  CBuffer() = default;
  // Sized: allocates `size` bytes (contents undefined); a failed or negative allocation
  // leaves the buffer empty.
  explicit CBuffer(std::int32_t size);
  // Wrapping: borrows `data`; a null pointer gives size 0. The memory stays the caller's.
  CBuffer(void* data, std::int32_t size);
  virtual ~CBuffer();

  CBuffer(const CBuffer&) = delete;
  CBuffer& operator=(const CBuffer&) = delete;

  unsigned char* Data() const { return m_data; }
  std::int32_t Size() const { return m_size; }
  bool Owns() const { return m_owns; }
  bool Empty() const { return m_data == nullptr || m_size <= 0; }

 private:
  friend class CBufferPool;

  unsigned char* m_data = nullptr;
  std::int32_t m_size = 0;
  bool m_owns = false;
  // Set only on pool blocks: which pool made the block and whether it is idle there.
  const CBufferPool* m_pool = nullptr;
  bool m_idle = false;
};

}  // namespace tovik
