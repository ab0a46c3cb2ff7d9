#pragma once
// The recording engine of the Skype-stream path. The receive threads queue 320-byte frames
// (10 ms of 16000 Hz mono), one FIFO per side; a mixer thread pairs them by order, mixes
// (mono) or interleaves (stereo, microphone left) them and feeds the MP3 writer.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/engine/Mp3File.h"
#include "audio/engine/WriteToFile.h"
#include "audio/input/Buffer.h"
#include "audio/input/BufferPool.h"

namespace tovik {

// out[i] = a[i] + b[i], clamped to the 16-bit range (two loud voices clip, never wrap).
void MixSaturate(std::size_t count, const std::int16_t* a, const std::int16_t* b, std::int16_t* out);
// out[2k] = left[k], out[2k+1] = right[k] while 2k < count; count is the output sample count.
void Interleave(std::size_t count, const std::int16_t* left, const std::int16_t* right, std::int16_t* out);

enum RecordSide { kSideBoth = 0, kSideMine = 1, kSideRemote = 2 };

class CRecorder {
 public:
  static constexpr std::size_t kFrameBytes = 320;
  static constexpr int kInputRate = 16000;

  // Stop runs `hook(finished)` on the calling thread until finished() is true. The Win32 shell
  // installs a pump that keeps dispatching window messages between short waits; without a
  // hook Stop simply blocks until the mixer thread has written everything.
  using WaitHook = std::function<void(const std::function<bool()>& finished)>;

  CRecorder();
  ~CRecorder();
  CRecorder(const CRecorder&) = delete;
  CRecorder& operator=(const CRecorder&) = delete;

  // Opens the MP3 file (input 16000 Hz) and starts the mixer thread. An empty path fails with
  // last error 4352. A recording still running is finished first; a Start made while Stop is
  // still draining (from a message the wait hook dispatched) fails.
  bool Start(const std::wstring& path, int outputRate, int bitrateKbps, int channelMode);
  // Records into a writer the caller has opened; Stop/Reset close it. For other file formats
  // and for tests that look at the mixed PCM itself.
  bool Start(IWriteToFile& writer, int channelMode);
  void SetSide(int side);
  // 320-byte frames only (false otherwise); while not recording a frame is dropped (true).
  bool PutMicFrame(const void* data, std::size_t size);
  bool PutSpeakerFrame(const void* data, std::size_t size);
  // Ends the recording: every queued frame is written, then the file is closed.
  void Stop();
  // Closes the writer and clears the abort flag; frames still queued are discarded.
  void Reset();
  // Application exit: the mixer thread returns at its next check without writing more.
  void Abort();

  void SetWaitHook(WaitHook hook);
  bool IsRecording() const { return m_recording.load(); }

 private:
  // A FIFO of pooled blocks that never allocates once it has grown to the backlog it needs.
  class CFrameList {
   public:
    CFrameList();
    bool Empty() const { return m_count == 0; }
    std::size_t Count() const { return m_count; }
    void Push(CBuffer* block);
    CBuffer* Pop();

   private:
    std::vector<CBuffer*> m_ring;
    std::size_t m_head = 0;
    std::size_t m_count = 0;
  };

  struct Side {
    std::mutex lock;
    CBufferPool pool;
    CFrameList list;
    std::atomic<std::size_t> queued{0};
  };

  bool PutFrame(Side& side, const void* data, std::size_t size);
  bool StartThread(IWriteToFile* writer, int channelMode);
  void MixerLoop();
  CBuffer* Take(Side& side);
  void Give(Side& side, CBuffer* block);
  void WriteAlone(const CBuffer& frame);
  void WritePair(const CBuffer& mic, const CBuffer& speaker);
  void DiscardAll(Side& side);
  void Wake();
  bool WorthWaking(int side) const;
  void WaitForWork(int side);
  void JoinMixer();

  CMp3File m_mp3;
  IWriteToFile* m_writer = nullptr;
  std::atomic<bool> m_recording{false};
  std::atomic<bool> m_stereo{false};
  std::atomic<int> m_side{kSideBoth};
  std::atomic<bool> m_abort{false};
  std::atomic<bool> m_mixerDone{true};
  bool m_stopping = false;  // Stop is pumping messages; a Start from a dispatched message must wait
  Side m_mic;
  Side m_speaker;
  std::thread m_mixer;
  std::mutex m_wakeLock;
  std::condition_variable m_wake;       // the mixer waits here for frames, stop or abort
  std::atomic<bool> m_mixerWaiting{false};
  std::condition_variable m_finished;   // Stop waits here for the mixer to end
  WaitHook m_waitHook;
  // Output blocks reused by every write, so mixing allocates nothing per frame.
  std::vector<std::int16_t> m_out;
  std::vector<std::int16_t> m_silence;
  std::vector<std::int16_t> m_left;
  std::vector<std::int16_t> m_right;
};

}  // namespace tovik
