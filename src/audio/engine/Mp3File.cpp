#include "audio/engine/Mp3File.h"

#include <lame/lame.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <system_error>

#include "base/LastError.h"
#include "base/SystemError.h"
#include "base/Text.h"
#include "base/UiPort.h"

namespace tovik {
namespace {

// The encoder's documented worst case for one call: 1.25 bytes per sample and channel
// plus 7200 bytes, which also covers the final flush.
std::size_t OutputBytesFor(std::size_t samplesPerChannel) { return samplesPerChannel + samplesPerChannel / 4 + 7200; }
constexpr std::size_t kInitialSamplesPerChannel = 4096;

// `error` gets the system's code for a failure: the Win32 last error on Windows (the
// message box shows the system's own text for it), errno elsewhere.
std::FILE* OpenForWriting(const wchar_t* path, std::uint32_t* error) {
#ifdef _WIN32
  SetLastErrorCode(0);
  std::FILE* file = _wfopen(path, L"w+b");
  *error = GetLastErrorCode();
#else
  errno = 0;
  std::FILE* file = std::fopen(WideToUtf8(path).c_str(), "w+b");
  *error = static_cast<std::uint32_t>(errno);
#endif
  return file;
}

}  // namespace

CMp3File::~CMp3File() { Close(); }

bool CMp3File::EnsureCapacity(std::size_t samplesPerChannel) {
  const std::size_t needed = OutputBytesFor(samplesPerChannel);
  if (m_output.size() >= needed) return true;
  try {
    m_output.resize(needed);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool CMp3File::Open(const wchar_t* path, int outputRate, int bitrateKbps, int inputRate, int channelMode) {
  if (path == nullptr || *path == L'\0') return false;
  MPEG_mode mode;
  switch (channelMode) {
    case kMono: mode = MONO; break;
    case kStereo: mode = STEREO; break;
    case kJointStereo: mode = JOINT_STEREO; break;
    default: return false;
  }
  Close();

  std::uint32_t error = 0;
  m_file = OpenForWriting(path, &error);
  if (m_file == nullptr) {
    if (error != 0) ShowMessage(SystemErrorText(error), kCreateMp3FailedCaption, MessageIcon::Error);
    return false;
  }

  m_stream = lame_init();
  bool ok = m_stream != nullptr;
  if (ok) {
    m_channels = channelMode == kMono ? 1 : 2;
    lame_set_in_samplerate(m_stream, inputRate);
    lame_set_out_samplerate(m_stream, outputRate);
    lame_set_num_channels(m_stream, m_channels);
    lame_set_mode(m_stream, mode);
    // Constant bitrate; the kbit/s value goes to LAME unchanged and LAME rounds it to the
    // nearest rate the chosen MPEG version allows.
    lame_set_VBR(m_stream, vbr_off);
    lame_set_brate(m_stream, bitrateKbps);
    lame_set_bWriteVbrTag(m_stream, 0);
    lame_set_write_id3tag_automatic(m_stream, 0);
    lame_set_disable_reservoir(m_stream, 1);
    lame_set_original(m_stream, 1);
    lame_set_copyright(m_stream, 0);
    lame_set_error_protection(m_stream, 0);
    lame_set_extension(m_stream, 0);
    lame_set_emphasis(m_stream, 0);
    lame_set_strict_ISO(m_stream, 0);
    ok = lame_init_params(m_stream) == 0 && EnsureCapacity(kInitialSamplesPerChannel);
  }
  if (!ok) {
    // The empty file stays on disk, but it is closed rather than left open.
    Release();
    return false;
  }
  m_flushedBytes = 0;
  m_closed = false;
  return true;
}

bool CMp3File::Write(const CBuffer& block) {
  const std::size_t samples = block.Data() == nullptr || block.Size() <= 0 ? 0 : static_cast<std::size_t>(block.Size()) / 2;
  if (m_closed) {
    SetLastErrorCode(kErrorWriterClosed);
    return false;
  }
  if (m_file == nullptr) {
    SetLastErrorCode(kErrorNoFile);
    return false;
  }
  if (m_stream == nullptr) return false;

  const std::size_t perChannel = samples / static_cast<std::size_t>(m_channels);
  if (perChannel == 0) return true;
  if (!EnsureCapacity(perChannel)) {
    SetLastErrorCode(kErrorEncode);
    return false;
  }
  const short* pcm = reinterpret_cast<const short*>(block.Data());
  if (reinterpret_cast<std::uintptr_t>(block.Data()) % alignof(short) != 0) {
    if (m_aligned.size() < samples) m_aligned.resize(samples);
    std::memcpy(m_aligned.data(), block.Data(), samples * sizeof(short));
    pcm = m_aligned.data();
  }

  int n;
  if (m_channels == 1) {
    n = lame_encode_buffer(m_stream, pcm, nullptr, static_cast<int>(perChannel), m_output.data(),
                           static_cast<int>(m_output.size()));
  } else {
    n = lame_encode_buffer_interleaved(m_stream, const_cast<short*>(pcm), static_cast<int>(perChannel),
                                       m_output.data(), static_cast<int>(m_output.size()));
  }
  if (n < 0) {
    SetLastErrorCode(kErrorEncode);
    return false;
  }
  if (n > 0 && std::fwrite(m_output.data(), 1, static_cast<std::size_t>(n), m_file) != static_cast<std::size_t>(n)) {
    SetLastErrorCode(kErrorShortWrite);
    return false;
  }
  return true;
}

bool CMp3File::Close() {
  if (m_closed) return true;
  bool ok = true;
  const int n = m_stream != nullptr
                    ? lame_encode_flush(m_stream, m_output.data(), static_cast<int>(m_output.size()))
                    : -1;
  if (n < 0) {
    ok = false;
  } else {
    m_flushedBytes = static_cast<std::uint32_t>(n);
    // The tail must reach the disk, or the caller is told the file is incomplete.
    if (n > 0 && std::fwrite(m_output.data(), 1, static_cast<std::size_t>(n), m_file) != static_cast<std::size_t>(n)) {
      SetLastErrorCode(kErrorShortWrite);
      ok = false;
    }
  }
  if (m_file != nullptr) {
    const bool flushed = std::fflush(m_file) == 0;
    const bool closed = std::fclose(m_file) == 0;
    m_file = nullptr;
    if (!flushed || !closed) {
      SetLastErrorCode(kErrorShortWrite);
      ok = false;
    }
  }
  Release();
  return ok;
}

void CMp3File::Release() {
  if (m_stream != nullptr) lame_close(m_stream);
  m_stream = nullptr;
  if (m_file != nullptr) std::fclose(m_file);
  m_file = nullptr;
  m_output.clear();
  m_output.shrink_to_fit();
  m_closed = true;
}

}  // namespace tovik
