#include "audio/engine/Recorder.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <new>
#include <system_error>

#include "base/LastError.h"

namespace tovik {
namespace {

constexpr auto kRecheckInterval = std::chrono::milliseconds(300);
// The mixer is woken early only once this many frames can be written in one go; waking it
// for every 10 ms frame of a live call would cost a thread switch per frame.
constexpr std::size_t kWakeBatch = 16;
constexpr std::size_t kFrameSamples = CRecorder::kFrameBytes / 2;

}  // namespace

void MixSaturate(std::size_t count, const std::int16_t* a, const std::int16_t* b, std::int16_t* out) {
  for (std::size_t i = 0; i < count; ++i) {
    const int sum = int{a[i]} + int{b[i]};
    out[i] = static_cast<std::int16_t>(std::clamp(sum, int{std::numeric_limits<std::int16_t>::min()},
                                                  int{std::numeric_limits<std::int16_t>::max()}));
  }
}

void Interleave(std::size_t count, const std::int16_t* left, const std::int16_t* right, std::int16_t* out) {
  for (std::size_t k = 0; 2 * k < count; ++k) {
    out[2 * k] = left[k];
    if (2 * k + 1 < count) out[2 * k + 1] = right[k];
  }
}

CRecorder::CFrameList::CFrameList() : m_ring(CBufferPool::kPrefillBlocks) {}

void CRecorder::CFrameList::Push(CBuffer* block) {
  if (m_count == m_ring.size()) {
    // One side runs ahead of the other: keep every frame, in order, in a larger ring.
    std::vector<CBuffer*> bigger(m_ring.size() * 2);
    for (std::size_t i = 0; i < m_count; ++i) bigger[i] = m_ring[(m_head + i) % m_ring.size()];
    m_ring.swap(bigger);
    m_head = 0;
  }
  m_ring[(m_head + m_count) % m_ring.size()] = block;
  ++m_count;
}

CBuffer* CRecorder::CFrameList::Pop() {
  if (m_count == 0) return nullptr;
  CBuffer* block = m_ring[m_head];
  m_head = (m_head + 1) % m_ring.size();
  if (--m_count == 0) m_head = 0;
  return block;
}

CRecorder::CRecorder()
    : m_out(2 * kFrameSamples), m_silence(kFrameSamples), m_left(kFrameSamples), m_right(kFrameSamples) {
  m_mic.pool.Prefill();
  m_speaker.pool.Prefill();
}

CRecorder::~CRecorder() {
  m_abort = true;
  Wake();
  JoinMixer();
  Reset();
}

void CRecorder::SetWaitHook(WaitHook hook) { m_waitHook = std::move(hook); }

bool CRecorder::Start(const std::wstring& path, int outputRate, int bitrateKbps, int channelMode) {
  if (path.empty()) {
    SetLastErrorCode(kErrorNullPath);
    return false;
  }
  if (m_stopping) return false;
  // Two mixer threads must never share the lists; the running recording is finished first.
  if (m_recording) Stop();
  if (!m_mp3.Open(path, outputRate, bitrateKbps, kInputRate, channelMode)) return false;
  return StartThread(&m_mp3, channelMode);
}

bool CRecorder::Start(IWriteToFile& writer, int channelMode) {
  if (m_stopping) return false;
  if (m_recording) Stop();
  return StartThread(&writer, channelMode);
}

bool CRecorder::StartThread(IWriteToFile* writer, int channelMode) {
  // A mixer that ended on abort may still need joining, and may have left frames behind.
  JoinMixer();
  DiscardAll(m_mic);
  DiscardAll(m_speaker);
  m_writer = writer;
  m_stereo = channelMode > 0;
  // An abort left over from an idle recorder would end the new mixer before its first frame.
  m_abort = false;
  m_mixerDone = false;
  m_recording = true;
  try {
    m_mixer = std::thread(&CRecorder::MixerLoop, this);
  } catch (const std::system_error&) {
    m_mixerDone = true;
    Reset();
    return false;
  }
  return true;
}

void CRecorder::SetSide(int side) {
  m_side = side;
  Wake();
}

bool CRecorder::PutMicFrame(const void* data, std::size_t size) { return PutFrame(m_mic, data, size); }
bool CRecorder::PutSpeakerFrame(const void* data, std::size_t size) { return PutFrame(m_speaker, data, size); }

bool CRecorder::PutFrame(Side& side, const void* data, std::size_t size) {
  if (size != kFrameBytes || data == nullptr) return false;
  {
    // The flag is read under the list lock so that no frame can slip in after the mixer
    // has seen the recording end with both lists empty.
    std::lock_guard<std::mutex> guard(side.lock);
    if (!m_recording) return true;
    CBuffer* block = side.pool.Acquire();
    if (block == nullptr) return true;
    if (block->Size() != static_cast<std::int32_t>(kFrameBytes)) {
      side.pool.Release(block);
      return true;
    }
    std::memcpy(block->Data(), data, kFrameBytes);
    try {
      side.list.Push(block);
    } catch (const std::bad_alloc&) {
      side.pool.Release(block);
      return true;
    }
    side.queued = side.list.Count();
  }
  if (m_mixerWaiting && WorthWaking(m_side)) Wake();
  return true;
}

void CRecorder::Stop() {
  if (!m_recording) return;
  m_recording = false;
  Wake();
  if (!m_mixerDone) {
    const std::function<bool()> finished = [this] { return m_mixerDone.load(); };
    if (m_waitHook) {
      m_stopping = true;
      m_waitHook(finished);
      m_stopping = false;
    } else {
      std::unique_lock<std::mutex> lock(m_wakeLock);
      m_finished.wait(lock, finished);
    }
  }
  JoinMixer();
  Reset();
}

void CRecorder::Reset() {
  m_recording = false;
  // The writer is closed only once no mixer can be writing into it.
  if (m_mixer.joinable() && !m_mixerDone) {
    m_abort = true;
    Wake();
  }
  JoinMixer();
  if (m_writer != nullptr) {
    m_writer->Close();
    m_writer = nullptr;
  }
  DiscardAll(m_mic);
  DiscardAll(m_speaker);
  m_abort = false;
}

void CRecorder::Abort() {
  m_abort = true;
  Wake();
}

void CRecorder::JoinMixer() {
  if (m_mixer.joinable() && m_mixer.get_id() != std::this_thread::get_id()) m_mixer.join();
}

void CRecorder::Wake() {
  { std::lock_guard<std::mutex> guard(m_wakeLock); }
  m_wake.notify_all();
}

CBuffer* CRecorder::Take(Side& side) {
  std::lock_guard<std::mutex> guard(side.lock);
  CBuffer* block = side.list.Pop();
  side.queued = side.list.Count();
  return block;
}

void CRecorder::Give(Side& side, CBuffer* block) {
  if (block == nullptr) return;
  std::lock_guard<std::mutex> guard(side.lock);
  side.pool.Release(block);
}

void CRecorder::DiscardAll(Side& side) {
  if (side.queued == 0) return;
  std::lock_guard<std::mutex> guard(side.lock);
  while (CBuffer* block = side.list.Pop()) side.pool.Release(block);
  side.queued = 0;
}

void CRecorder::WritePair(const CBuffer& mic, const CBuffer& speaker) {
  std::memcpy(m_left.data(), mic.Data(), kFrameBytes);
  std::memcpy(m_right.data(), speaker.Data(), kFrameBytes);
  if (m_stereo) {
    Interleave(kFrameBytes, m_left.data(), m_right.data(), m_out.data());
    CBuffer block(m_out.data(), static_cast<std::int32_t>(2 * kFrameBytes));
    m_writer->Write(block);
  } else {
    MixSaturate(kFrameSamples, m_left.data(), m_right.data(), m_out.data());
    CBuffer block(m_out.data(), static_cast<std::int32_t>(kFrameBytes));
    m_writer->Write(block);
  }
}

void CRecorder::WriteAlone(const CBuffer& frame) {
  if (m_stereo) {
    // A side recorded alone goes to the right channel, the left stays silent.
    std::memcpy(m_right.data(), frame.Data(), kFrameBytes);
    Interleave(kFrameBytes, m_silence.data(), m_right.data(), m_out.data());
    CBuffer block(m_out.data(), static_cast<std::int32_t>(2 * kFrameBytes));
    m_writer->Write(block);
  } else {
    m_writer->Write(frame);
  }
}

bool CRecorder::WorthWaking(int side) const {
  if (m_abort || !m_recording || m_side != side) return true;
  if (side == kSideBoth) return std::min(m_mic.queued.load(), m_speaker.queued.load()) >= kWakeBatch;
  return (side == kSideMine ? m_mic.queued : m_speaker.queued) >= kWakeBatch;
}

void CRecorder::WaitForWork(int side) {
  std::unique_lock<std::mutex> lock(m_wakeLock);
  m_mixerWaiting = true;
  // Stop, Abort and a side change wake it at once; frames after a batch or the re-check.
  m_wake.wait_for(lock, kRecheckInterval, [&] { return WorthWaking(side); });
  m_mixerWaiting = false;
}

void CRecorder::MixerLoop() {
  while (!m_abort) {
    // The flag first, then the lists: a frame put before the flag fell is always seen.
    const bool recording = m_recording;
    const int side = m_side;
    const bool micHas = m_mic.queued > 0;
    const bool speakerHas = m_speaker.queued > 0;
    if (!recording && !micHas && !speakerHas) break;

    if (side == kSideBoth) {
      if ((micHas && speakerHas) || !recording) {
        CBuffer* mic = micHas ? Take(m_mic) : nullptr;
        CBuffer* speaker = speakerHas ? Take(m_speaker) : nullptr;
        if (mic != nullptr && speaker != nullptr) {
          WritePair(*mic, *speaker);
        } else if (mic != nullptr) {
          WriteAlone(*mic);
        } else if (speaker != nullptr) {
          WriteAlone(*speaker);
        }
        Give(m_mic, mic);
        Give(m_speaker, speaker);
      } else {
        WaitForWork(side);
      }
      continue;
    }

    Side& used = side == kSideMine ? m_mic : m_speaker;
    // Frames of the side that is not recorded would pile up for the whole call and keep
    // this loop from ever ending after Stop.
    DiscardAll(side == kSideMine ? m_speaker : m_mic);
    if (used.queued > 0) {
      CBuffer* frame = Take(used);
      if (frame != nullptr) WriteAlone(*frame);
      Give(used, frame);
    } else if (recording) {
      WaitForWork(side);
    }
  }
  {
    std::lock_guard<std::mutex> guard(m_wakeLock);
    m_mixerDone = true;
  }
  m_finished.notify_all();
}

}  // namespace tovik
