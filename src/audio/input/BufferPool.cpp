#include "audio/input/BufferPool.h"

#include <cstring>
#include <new>

namespace tovik {

CBufferPool::CBufferPool() = default;

CBufferPool::~CBufferPool() {
  std::lock_guard<std::mutex> guard(m_lock);
  m_free.clear();
  for (CBuffer* block : m_all) {
    delete[] block->m_data;
    block->m_data = nullptr;
    block->m_size = 0;
    delete block;
  }
  m_all.clear();
}

CBuffer* CBufferPool::NewBlock() {
  auto* block = new (std::nothrow) CBuffer();
  if (block == nullptr) return nullptr;
  block->m_data = new (std::nothrow) unsigned char[kBlockSize];
  if (block->m_data == nullptr) {
    delete block;
    return nullptr;
  }
  std::memset(block->m_data, 0, kBlockSize);
  block->m_size = kBlockSize;
  block->m_pool = this;
  return block;
}

void CBufferPool::Prefill() {
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_all.reserve(m_all.size() + kPrefillBlocks);
  }
  for (std::size_t i = 0; i < kPrefillBlocks; ++i) {
    CBuffer* block = NewBlock();
    if (block == nullptr) return;
    std::lock_guard<std::mutex> guard(m_lock);
    m_all.push_back(block);
    block->m_idle = true;
    m_free.insert(block);
  }
}

CBuffer* CBufferPool::Acquire() {
  {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_free.empty()) {
      CBuffer* block = *m_free.begin();
      m_free.erase(m_free.begin());
      block->m_idle = false;
      return block;
    }
  }
  CBuffer* block = NewBlock();
  if (block == nullptr) return nullptr;
  std::lock_guard<std::mutex> guard(m_lock);
  try {
    m_all.push_back(block);
  } catch (const std::bad_alloc&) {
    delete[] block->m_data;
    delete block;
    return nullptr;
  }
  return block;
}

void CBufferPool::Release(CBuffer* block) {
  if (block == nullptr) return;
  std::lock_guard<std::mutex> guard(m_lock);
  // Checked before touching the block: a foreign buffer or a block released twice must
  // neither be zero-filled under its current user nor end up in the idle set twice.
  if (block->m_pool != this || block->m_idle) return;
  block->m_owns = false;
  std::memset(block->m_data, 0, kBlockSize);
  block->m_idle = true;
  m_free.insert(block);
}

std::size_t CBufferPool::BlockCount() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_all.size();
}

std::size_t CBufferPool::IdleCount() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_free.size();
}

}  // namespace tovik
