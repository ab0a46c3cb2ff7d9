#pragma once
// Fixed facts about Skype's two audio streams and the recording state word the receive
// threads read.
#include <cstddef>

namespace tovik {

// Raw 16000 Hz, 16-bit, mono PCM; the receive path works in 10 ms frames.
constexpr std::size_t kStreamFrameBytes = 320;
constexpr int kStreamSampleRate = 16000;

enum RecordState : int {
  REC_RECORDING = 256,
  REC_PAUSED = 257,
  REC_RESUMED = 258,  // recording again after a pause
  REC_STOPPED = 259,
  REC_IDLE = 260,     // initial
};

// Recorded side: 0 both sides, 1 my side only (microphone), 2 remote side only (speaker).
constexpr int kRecordSideBoth = 0;
constexpr int kRecordSideMine = 1;
constexpr int kRecordSideRemote = 2;

enum class AudioStream { Mic, Speaker };

// True when a frame of `stream` goes to the recorder for this state and side.
constexpr bool ShouldRecordFrame(AudioStream stream, int state, int side) {
  if (state != REC_RECORDING && state != REC_RESUMED) return false;
  if (side == kRecordSideBoth) return true;
  return stream == AudioStream::Mic ? side == kRecordSideMine : side == kRecordSideRemote;
}

}  // namespace tovik
