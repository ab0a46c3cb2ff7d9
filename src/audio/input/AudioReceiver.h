#pragma once
// CAudioReceiver: the one object that owns both audio servers (microphone stream on
// 38377, call output on 38376) and their receive threads. It cuts each connection's bytes
// into frames, hands them to the recorder when the recording state and side want them,
// and posts the stream levels to the main window in every state.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

#include "audio/input/AudioServerPort.h"
#include "audio/input/FrameAssembler.h"
#include "audio/input/RecorderPort.h"
#include "audio/input/StreamFormat.h"
#include "audio/input/StreamLevelMeter.h"
#include "base/Messages.h"

namespace tovik {

class CAudioReceiver {
 public:
  static constexpr std::uint16_t kMicPort = 38377;
  static constexpr std::uint16_t kSpeakerPort = 38376;
  static constexpr const char* kAddress = "127.0.0.1";

  CAudioReceiver(std::unique_ptr<IAudioServer> micServer, std::unique_ptr<IAudioServer> speakerServer,
                 std::unique_ptr<IStreamRecorder> recorder);
  ~CAudioReceiver();
  CAudioReceiver(const CAudioReceiver&) = delete;
  CAudioReceiver& operator=(const CAudioReceiver&) = delete;

  // The program's single receiver with its Winsock servers and the engine's recorder.
  // Defined by the Windows build only.
  static CAudioReceiver& Instance();
  static void DeleteInstance();

  // Where level messages go; empty = not posted.
  void SetWindow(PostToMainWindow post);
  // Reads the "capf" setting: non-zero means device capture records instead.
  void SetCaptureSetting(std::function<int()> readCapf);
  // Called from a receive thread when a connection closes, to ask Skype to redirect again.
  void SetRedirectAgain(std::function<void()> redirectAgain);

  bool StartMicServer();
  bool StartSpeakerServer();
  // Other ports than Skype's (tests on a shared machine listen on free ports).
  void SetPorts(std::uint16_t micPort, std::uint16_t speakerPort);

  void StartRecording(const std::wstring& fileName, int outputRate, int bitrateKbps, int channelMode);
  void SetSide(int side) { side_.store(side); }
  int GetSide() const { return side_.load(); }
  void SetRecordingState(int state) { state_.store(state); }
  int GetRecordingState() const { return state_.load(); }
  std::wstring GetFileName() const;
  void StopRecording();
  // Ends the receive threads and releases the servers and the recorder. Idempotent.
  void Destroy();

  // One poll step's outcome for `stream` (what a receive thread does with it). `data`
  // holds result.received bytes. Returns false when the receive loop must end.
  bool OnPoll(AudioStream stream, int status, const PollResult& result, const std::uint8_t* data);

  int Level(AudioStream stream) const { return Channel(stream).level.load(); }
  // Bytes of an unfinished frame held for one connection (0 when it has none).
  std::size_t PendingBytes(AudioStream stream, std::uint64_t socket) const;
  IStreamRecorder* Recorder() { return recorder_.get(); }

 private:
  struct StreamChannel {
    std::unique_ptr<IAudioServer> server;
    std::thread thread;
    std::atomic<bool> stop{false};
    bool active = false;  // a receive thread was started at least once
    // Touched only by this stream's receive thread (or with it joined).
    std::unordered_map<std::uint64_t, CFrameAssembler> connections;
    CStreamLevelMeter meter;
    std::atomic<int> level{0};
  };

  StreamChannel& Channel(AudioStream stream) { return stream == AudioStream::Mic ? mic_ : speaker_; }
  const StreamChannel& Channel(AudioStream stream) const {
    return stream == AudioStream::Mic ? mic_ : speaker_;
  }
  bool StartServer(AudioStream stream);
  void StopThread(StreamChannel& channel);
  void ReceiveLoop(AudioStream stream);
  void HandleData(AudioStream stream, StreamChannel& channel, std::uint64_t socket, const std::uint8_t* data,
                  std::size_t size);

  StreamChannel mic_;
  StreamChannel speaker_;
  std::uint16_t micPort_ = kMicPort;
  std::uint16_t speakerPort_ = kSpeakerPort;
  std::unique_ptr<IStreamRecorder> recorder_;
  std::atomic<int> state_{REC_IDLE};
  std::atomic<int> side_{kRecordSideBoth};

  mutable std::mutex hooksMutex_;  // the hooks are set by the main thread, used by receive threads
  PostToMainWindow post_;
  std::function<int()> readCapf_;
  std::function<void()> redirectAgain_;

  mutable std::mutex fileMutex_;
  std::wstring fileName_;
};

}  // namespace tovik
