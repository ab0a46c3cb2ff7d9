#pragma once
// The MP3 writer holder of the device-capture path: the device mixer writes its mixed
// 32000 Hz blocks here. Writes and stop are serialised, so a close never runs under a write.
#include <mutex>
#include <string>

#include "audio/engine/Mp3File.h"
#include "audio/input/Buffer.h"

namespace tovik {

class CDeviceRecorder {
 public:
  static constexpr int kInputRate = 32000;

  CDeviceRecorder() = default;
  ~CDeviceRecorder();
  CDeviceRecorder(const CDeviceRecorder&) = delete;
  CDeviceRecorder& operator=(const CDeviceRecorder&) = delete;

  // The instance the program uses (created on first use).
  static CDeviceRecorder& Instance();

  // Opens a new file; a file still open is finished first.
  bool Start(const std::wstring& path, int outputRate, int bitrateKbps, int channelMode);
  // Writes the block while started; false when not started or the write failed.
  bool WriteBlock(const CBuffer& block);
  void Stop();
  bool IsStarted() const;

 private:
  mutable std::mutex m_lock;
  CMp3File m_mp3;
  IWriteToFile* m_writer = nullptr;
  bool m_started = false;
};

}  // namespace tovik
