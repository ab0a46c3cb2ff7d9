#include "audio/input/AudioReceiver.h"

#include <array>
#include <system_error>
#include <utility>

#include "base/UiPort.h"

namespace tovik {

CAudioReceiver::CAudioReceiver(std::unique_ptr<IAudioServer> micServer,
                               std::unique_ptr<IAudioServer> speakerServer,
                               std::unique_ptr<IStreamRecorder> recorder)
    : recorder_(std::move(recorder)) {
  mic_.server = std::move(micServer);
  speaker_.server = std::move(speakerServer);
}

CAudioReceiver::~CAudioReceiver() { Destroy(); }

void CAudioReceiver::SetWindow(PostToMainWindow post) {
  std::lock_guard lock(hooksMutex_);
  post_ = std::move(post);
}

void CAudioReceiver::SetCaptureSetting(std::function<int()> readCapf) {
  std::lock_guard lock(hooksMutex_);
  readCapf_ = std::move(readCapf);
}

void CAudioReceiver::SetRedirectAgain(std::function<void()> redirectAgain) {
  std::lock_guard lock(hooksMutex_);
  redirectAgain_ = std::move(redirectAgain);
}

void CAudioReceiver::SetPorts(std::uint16_t micPort, std::uint16_t speakerPort) {
  micPort_ = micPort;
  speakerPort_ = speakerPort;
}

bool CAudioReceiver::StartMicServer() { return StartServer(AudioStream::Mic); }
bool CAudioReceiver::StartSpeakerServer() { return StartServer(AudioStream::Speaker); }

void CAudioReceiver::StopThread(StreamChannel& channel) {
  channel.stop.store(true);
  // The server holds no socket by now, so the thread's next poll step reports
  // kWsaNotConnected and the loop ends by itself.
  if (channel.thread.joinable()) channel.thread.join();
}

bool CAudioReceiver::StartServer(AudioStream stream) {
  StreamChannel& channel = Channel(stream);
  if (!channel.server) return false;
  IAudioServer& server = *channel.server;
  if (channel.active) {
    if (server.SocketCount() > 0) server.CloseAll();
    if (server.SocketCount() > 0) return false;
    // The old thread must be gone before a new listening socket exists, or it would go on
    // polling the new server beside the new thread.
    StopThread(channel);
  } else if (server.SocketCount() > 0) {
    return false;
  }

  const std::uint16_t port = stream == AudioStream::Mic ? micPort_ : speakerPort_;
  if (server.Listen(kAddress, port) != 0) {
    ShowMessage(L"Create socket failed! Please make sure your firewall/anti-virus software does NOT block the port '" +
                    std::to_wstring(port) + L"'!",
                kProductTitle, MessageIcon::Information);
    if (server.SocketCount() > 0) server.CloseAll();
    return false;
  }

  channel.connections.clear();
  channel.stop.store(false);
  try {
    channel.thread = std::thread([this, stream] { ReceiveLoop(stream); });
  } catch (const std::system_error&) {
    server.CloseAll();  // a listener nobody reads would only fill up with connections
    return false;
  }
  channel.active = true;
  return true;
}

void CAudioReceiver::ReceiveLoop(AudioStream stream) {
  StreamChannel& channel = Channel(stream);
  std::array<std::uint8_t, kReceiveBufferBytes> buffer{};
  for (;;) {
    PollResult result;
    const int status = channel.server->Poll(buffer.data(), kMaxReceiveBytes, result);
    if (channel.stop.load()) break;
    if (!OnPoll(stream, status, result, buffer.data())) break;
  }
}

void CAudioReceiver::HandleData(AudioStream stream, StreamChannel& channel, std::uint64_t socket,
                                const std::uint8_t* data, std::size_t size) {
  CFrameAssembler& assembler = channel.connections[socket];
  // The meter reads whole samples: a read that starts inside a sample (odd bytes pending)
  // is measured from the next sample boundary.
  const std::size_t misaligned = assembler.Pending() % 2;
  const std::uint8_t* meterData = data + misaligned;
  const std::size_t meterSize = size > misaligned ? size - misaligned : 0;

  // Frames are cut in every state so the stream stays aligned through a pause; only the
  // wanted ones are handed over.
  const bool record = ShouldRecordFrame(stream, state_.load(), side_.load());
  IStreamRecorder* recorder = recorder_.get();
  assembler.Append(data, size, [&](const std::uint8_t* frame) {
    if (!record || recorder == nullptr) return;
    if (stream == AudioStream::Mic) {
      recorder->PutMicFrame(frame, kStreamFrameBytes);
    } else {
      recorder->PutSpeakerFrame(frame, kStreamFrameBytes);
    }
  });

  int level = 0;
  if (channel.meter.Feed(meterData, meterSize, level)) {
    channel.level.store(level);
    PostToMainWindow post;
    {
      std::lock_guard lock(hooksMutex_);
      post = post_;
    }
    if (post) post(stream == AudioStream::Mic ? WM_STREAM_LEVEL_MIC : WM_STREAM_LEVEL_SPK, level, 0);
  }
}

bool CAudioReceiver::OnPoll(AudioStream stream, int status, const PollResult& result, const std::uint8_t* data) {
  StreamChannel& channel = Channel(stream);
  if (status == kWsaTimedOut) return true;

  if ((result.events & kNetRead) != 0 && result.received > 0 && data != nullptr) {
    HandleData(stream, channel, result.socket, data, result.received);
  }

  // A connection that is gone (closed, reset or failed) drops its unfinished frame, and
  // Skype is asked to redirect again: without that the rest of the call is not heard.
  if ((result.events & kNetClose) != 0 || result.removed) {
    channel.connections.erase(result.socket);
    std::function<void()> redirect;
    {
      std::lock_guard lock(hooksMutex_);
      redirect = redirectAgain_;
    }
    if (redirect) redirect();
  }

  switch (status) {
    case 0:
    case kWsaConnAborted:
    case kWsaConnReset:
    case kWsaConnRefused:
      return true;
    case kWsaNotConnected:
      return false;
    default:
      if (channel.server && channel.server->SocketCount() > 0) channel.server->CloseAll();
      return false;
  }
}

std::size_t CAudioReceiver::PendingBytes(AudioStream stream, std::uint64_t socket) const {
  const StreamChannel& channel = Channel(stream);
  const auto it = channel.connections.find(socket);
  return it == channel.connections.end() ? 0 : it->second.Pending();
}

void CAudioReceiver::StartRecording(const std::wstring& fileName, int outputRate, int bitrateKbps,
                                    int channelMode) {
  const int state = state_.load();
  if (state == REC_RECORDING || state == REC_PAUSED || state == REC_RESUMED) return;

  std::wstring path = fileName + L".mp3";
  {
    std::lock_guard lock(fileMutex_);
    fileName_ = path;
  }
  std::function<int()> readCapf;
  {
    std::lock_guard lock(hooksMutex_);
    readCapf = readCapf_;
  }
  // With device capture selected the device path records this call instead.
  const bool deviceCapture = readCapf && readCapf() != 0;
  // A failed start has already been reported to the user by the recorder.
  if (!deviceCapture && recorder_) recorder_->Start(path, outputRate, bitrateKbps, channelMode);
}

std::wstring CAudioReceiver::GetFileName() const {
  std::lock_guard lock(fileMutex_);
  return fileName_;
}

void CAudioReceiver::StopRecording() {
  if (recorder_) recorder_->Stop();
  state_.store(REC_STOPPED);
}

void CAudioReceiver::Destroy() {
  for (StreamChannel* channel : {&mic_, &speaker_}) {
    if (channel->server && channel->server->SocketCount() > 0) channel->server->CloseAll();
  }
  // The threads are ended before the recorder they feed is freed.
  StopThread(speaker_);
  StopThread(mic_);
  recorder_.reset();
  {
    std::lock_guard lock(fileMutex_);
    fileName_.clear();
  }
  speaker_.server.reset();
  mic_.server.reset();
}

}  // namespace tovik
