#include "audio/input/Buffer.h"

#include <new>

namespace tovik {

CBuffer::CBuffer(std::int32_t size) {
  if (size <= 0) return;
  m_data = new (std::nothrow) unsigned char[static_cast<std::size_t>(size)];
  if (m_data == nullptr) return;
  m_size = size;
  m_owns = true;
}

CBuffer::CBuffer(void* data, std::int32_t size)
    : m_data(static_cast<unsigned char*>(data)), m_size(data != nullptr && size > 0 ? size : 0) {}

CBuffer::~CBuffer() {
  if (m_owns && m_data != nullptr) delete[] m_data;
}

}  // namespace tovik
