#include "audio/input/SampleQueue.h"

#include <cstring>
#include <new>

#include "base/Debug.h"

namespace tovik {

CSampleQueue::CSampleQueue() {
  m_storage = new (std::nothrow) unsigned char[kDefaultCapacity];
  if (m_storage != nullptr) {
    m_capacity = kDefaultCapacity;
    std::memset(m_storage, 0, static_cast<std::size_t>(m_capacity));
  }
}

CSampleQueue::~CSampleQueue() { delete[] m_storage; }

bool CSampleQueue::Put(const void* data, std::size_t length) {
  std::lock_guard<std::mutex> guard(m_lock);
  if (m_full) return false;
  const std::size_t capacity = static_cast<std::size_t>(m_capacity);
  const std::size_t count = static_cast<std::size_t>(m_count);
  if (length > capacity - count) return false;
  if (length == 0) return true;
  if (data == nullptr) return false;

  const auto* src = static_cast<const unsigned char*>(data);
  const std::size_t write = static_cast<std::size_t>(m_write);
  if (write + length <= capacity) {
    std::memcpy(m_storage + write, src, length);
  } else {
    // The write wraps. Both checks are diagnostics for a ring whose positions went wrong;
    // the capacity check above already guarantees the bytes fit.
    const long long used = static_cast<long long>(m_write) - m_read;
    if (used + static_cast<long long>(length) > m_capacity) {
      DebugOutput(L"Queue do not have enough space!");
      return false;
    }
    const std::size_t first = capacity - write;
    const std::size_t second = length - first;
    if (first != 0) std::memcpy(m_storage + write, src, first);
    std::memcpy(m_storage, src + first, second);
    if (second > static_cast<std::size_t>(m_read)) DebugOutput(L"Queue do not have space!");
  }
  std::size_t next = write + length;
  if (next >= capacity) next %= capacity;
  m_write = static_cast<std::int32_t>(next);
  m_count = static_cast<std::int32_t>(count + length);
  if (m_count >= m_capacity) m_full = true;
  m_empty = false;
  return true;
}

bool CSampleQueue::Get(void* destination, std::size_t length) {
  std::lock_guard<std::mutex> guard(m_lock);
  const std::size_t count = static_cast<std::size_t>(m_count);
  if (length == 0 || count == 0 || length > count || destination == nullptr) return false;

  auto* dst = static_cast<unsigned char*>(destination);
  const std::size_t capacity = static_cast<std::size_t>(m_capacity);
  const std::size_t read = static_cast<std::size_t>(m_read);
  if (read + length <= capacity) {
    std::memcpy(dst, m_storage + read, length);
  } else {
    const std::size_t first = capacity - read;
    std::memcpy(dst, m_storage + read, first);
    std::memcpy(dst + first, m_storage, length - first);
  }
  std::size_t next = read + length;
  if (next >= capacity) next %= capacity;
  m_read = static_cast<std::int32_t>(next);
  m_count = static_cast<std::int32_t>(count - length);
  if (m_count <= 0) {
    // Drained: start again at the front of the ring.
    m_count = 0;
    m_read = 0;
    m_write = 0;
    m_empty = true;
  }
  if (m_count < m_capacity) m_full = false;
  return true;
}

std::int32_t CSampleQueue::Count() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_count;
}

bool CSampleQueue::IsEmpty() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_empty;
}

bool CSampleQueue::IsFull() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_full;
}

void CSampleQueue::Reset() {
  m_empty = true;
  m_full = false;
  m_count = 0;
  m_read = 0;
  m_write = 0;
  if (m_storage != nullptr) std::memset(m_storage, 0, static_cast<std::size_t>(m_capacity));
}

bool CSampleQueue::Resize(std::int32_t capacity) {
  delete[] m_storage;
  m_storage = nullptr;
  m_capacity = 0;
  if (capacity > 0) {
    m_storage = new (std::nothrow) unsigned char[static_cast<std::size_t>(capacity)];
    if (m_storage != nullptr) m_capacity = capacity;
  }
  Reset();
  return m_storage != nullptr;
}

void CSampleQueue::SetName(const std::wstring& name) {
  m_name = name.substr(0, kMaxNameLength);
}

}  // namespace tovik
