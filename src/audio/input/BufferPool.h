#pragma once
// A thread-safe pool of 320-byte blocks (one 10 ms network frame each), so steady-state
// recording allocates nothing. Idle blocks are handed out lowest address first.
#include <cstddef>
#include <functional>
#include <memory_resource>
#include <mutex>
#include <set>
#include <vector>

#include "audio/input/Buffer.h"

namespace tovik {

class CBufferPool {
 public:
  static constexpr std::int32_t kBlockSize = 320;
  static constexpr std::size_t kPrefillBlocks = 1024;

  CBufferPool();
  ~CBufferPool();
  CBufferPool(const CBufferPool&) = delete;
  CBufferPool& operator=(const CBufferPool&) = delete;

  // Creates the first 1024 zero-filled idle blocks. Call once, before other threads use it.
  void Prefill();
  // An idle block, or a new zero-filled one when none is idle; null only when memory is out.
  CBuffer* Acquire();
  // Zero-fills the block and makes it idle again. Null, blocks of another pool and blocks
  // that are already idle are ignored, so a block can never be handed out twice.
  void Release(CBuffer* block);

  std::size_t BlockCount() const;  // every block ever created
  std::size_t IdleCount() const;

 private:
  CBuffer* NewBlock();

  mutable std::mutex m_lock;
  // Set nodes come from this resource, so releasing and acquiring reuse node memory
  // instead of calling the global allocator for every frame.
  std::pmr::unsynchronized_pool_resource m_nodes;
  std::pmr::set<CBuffer*, std::less<CBuffer*>> m_free{&m_nodes};
  std::vector<CBuffer*> m_all;
};

}  // namespace tovik
