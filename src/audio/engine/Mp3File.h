#pragma once
// The MP3 writer: encodes 16-bit PCM with LAME (constant bitrate, no VBR header, no ID3
// tag, bit reservoir off) and writes the bare MP3 stream to a file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "audio/engine/WriteToFile.h"

struct lame_global_struct;

namespace tovik {

// The calling thread's last error after a failed recorder or writer call.
enum Mp3Error : std::uint32_t {
  kErrorNullPath = 4352,
  kErrorWriterClosed = 4355,
  kErrorNoFile = 4356,
  kErrorEncode = 4357,
  kErrorShortWrite = 4358,
};

inline const wchar_t* const kCreateMp3FailedCaption = L"Tovik Skype Recorder Create Mp3 File Failed!";

class CMp3File : public IWriteToFile {
 public:
  enum ChannelMode { kMono = 0, kStereo = 1, kJointStereo = 2 };

  CMp3File() = default;
  ~CMp3File() override;
  CMp3File(const CMp3File&) = delete;
  CMp3File& operator=(const CMp3File&) = delete;

  // Creates (or truncates) `path` and sets up the encoder. A file that cannot be created is
  // reported through the message box port with the system's error text. An open writer is
  // closed first. `path` may be null (returns false).
  bool Open(const wchar_t* path, int outputRate, int bitrateKbps, int inputRate, int channelMode);
  bool Open(const std::wstring& path, int outputRate, int bitrateKbps, int inputRate, int channelMode) {
    return Open(path.c_str(), outputRate, bitrateKbps, inputRate, channelMode);
  }

  // Block of interleaved samples (two channels unless mono); a trailing odd byte is ignored.
  bool Write(const CBuffer& block) override;
  // Flushes the encoder and closes the file; a closed writer returns true at once.
  bool Close() override;

  bool IsOpen() const { return !m_closed; }
  int Channels() const { return m_channels; }

 private:
  bool EnsureCapacity(std::size_t samplesPerChannel);
  void Release();

  std::FILE* m_file = nullptr;
  lame_global_struct* m_stream = nullptr;
  std::vector<unsigned char> m_output;
  std::vector<short> m_aligned;  // copy of a block whose data is not 2-byte aligned
  std::uint32_t m_flushedBytes = 0;
  int m_channels = 1;
  bool m_closed = true;
};

}  // namespace tovik
