#pragma once
// A bounded circular byte queue with its own lock. The device mixer keeps one per source
// and moves fixed-size PCM blocks through it; a put or get moves all bytes or none.
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "audio/input/Buffer.h"

namespace tovik {

class CSampleQueue {
 public:
  static constexpr std::int32_t kDefaultCapacity = 882000;  // 10 s of 44100 Hz mono
  static constexpr std::size_t kMaxNameLength = 259;

  CSampleQueue();
  ~CSampleQueue();
  CSampleQueue(const CSampleQueue&) = delete;
  CSampleQueue& operator=(const CSampleQueue&) = delete;

  // Appends all `length` bytes, or nothing when they do not fit.
  bool Put(const void* data, std::size_t length);
  bool Put(const CBuffer& block) {
    return block.Size() > 0 && Put(block.Data(), static_cast<std::size_t>(block.Size()));
  }
  // Removes exactly `length` bytes into `destination`, or nothing; never part of a request.
  bool Get(void* destination, std::size_t length);
  std::int32_t Count() const;

  // Empties the queue and zero-fills the ring. No lock: only while no producer or consumer runs.
  void Reset();
  // Replaces the ring with one of `capacity` bytes and empties the queue (positions from the
  // old ring would point outside a smaller one). No lock: only on a queue nobody uses yet.
  // Returns false when the ring cannot be allocated; the queue then holds nothing.
  bool Resize(std::int32_t capacity);
  void SetName(const std::wstring& name);

  const std::wstring& Name() const { return m_name; }
  std::int32_t Capacity() const { return m_capacity; }
  bool IsEmpty() const;
  bool IsFull() const;

 private:
  mutable std::mutex m_lock;
  bool m_empty = true;
  bool m_full = false;
  unsigned char* m_storage = nullptr;
  std::int32_t m_count = 0;
  std::int32_t m_read = 0;
  std::int32_t m_write = 0;
  std::int32_t m_capacity = 0;
  std::wstring m_name = L"Queue";
};

}  // namespace tovik
