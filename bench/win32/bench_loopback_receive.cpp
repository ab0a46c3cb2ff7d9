// Receive path over real loopback sockets: two sender threads stream a tone per side into
// the receiver's two Winsock servers, which cut the bytes into frames for the engine's
// recorder and its MP3 writer. Reports wall time, frames per second reaching the
// recorder, and process CPU per second of audio (the figure that decides whether a long
// call can be recorded on a busy machine). Exits non-zero when a frame was lost, altered
// or reordered, or the MP3 does not hold the audio that was sent.
//
//   bench_loopback_receive.exe [--seconds N] [--speed X] [--row R] [--keep]
//     --seconds N  audio per side and run (default 300)
//     --speed X    paced rows send X frames per side every 10 ms: X times real time
//                  (default 100; 1 shows the cost of a live call, with its small reads)
//     --row R      run only row R (0-based, receiver rows first, then the baseline), so the
//                  cost outside the process (wineserver under Wine) can be read per row
//     --keep       leave the MP3 files in %TEMP%
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "audio/engine/Recorder.h"
#include "audio/input/AudioReceiver.h"
#include "audio/input/RecorderPort.h"
#include "audio/input/win32/AudioServer.h"
#include "base/UiPort.h"

namespace tovik {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kSecondBytes = kStreamSampleRate * 2;
constexpr std::size_t kFramesPerSecond = kSecondBytes / kStreamFrameBytes;
constexpr auto kTick = std::chrono::milliseconds(10);
// Only a guard against a hang; never a pass/fail criterion on speed.
constexpr DWORD kPeerReadTimeoutMs = 120000;

// One second of a tone whose frequency is a whole number of hertz, so the second repeats
// seamlessly and frame k of the stream is frame k % 100 of it. Two seconds are kept so
// any write up to a second long is one contiguous slice.
std::vector<std::uint8_t> ToneTwoSeconds(int hz) {
  std::vector<std::uint8_t> out(2 * kSecondBytes);
  for (std::size_t i = 0; i < out.size() / 2; ++i) {
    const double phase = 2 * 3.14159265358979 * hz * static_cast<double>(i % kStreamSampleRate) / kStreamSampleRate;
    const auto s = static_cast<std::int16_t>(std::lround(12000 * std::sin(phase)));
    out[2 * i] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(s) & 0xFF);
    out[2 * i + 1] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(s) >> 8);
  }
  return out;
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double FileTimeSeconds(const FILETIME& t) {
  ULARGE_INTEGER v;
  v.LowPart = t.dwLowDateTime;
  v.HighPart = t.dwHighDateTime;
  return static_cast<double>(v.QuadPart) / 1e7;
}

// User plus kernel time of every thread of the process, the mixer and encoder included.
double ProcessCpuSeconds() {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  return FileTimeSeconds(kernel) + FileTimeSeconds(user);
}

double ThreadCpuSeconds() {
  FILETIME created, exited, kernel, user;
  if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
  return FileTimeSeconds(kernel) + FileTimeSeconds(user);
}

// Failures the receiver would show the user go to the console instead of a dialog nobody
// can dismiss.
struct ConsoleMessageBox final : IMessageBox {
  void Show(const std::wstring& text, const std::wstring& caption, MessageIcon) override {
    std::fwprintf(stderr, L"[%ls] %ls\n", caption.c_str(), text.c_str());
  }
};

// Counts and checks every frame the receiver hands over, then passes it on unchanged.
class CCountingRecorder final : public IStreamRecorder {
 public:
  struct Tally {
    std::atomic<std::uint64_t> frames{0};
    std::atomic<std::uint64_t> wrong{0};     // not the frame the sender sent at that position
    std::atomic<std::uint64_t> refused{0};   // the recorder answered false
  };

  CCountingRecorder(std::unique_ptr<IStreamRecorder> inner, const std::vector<std::uint8_t>& micTone,
                    const std::vector<std::uint8_t>& speakerTone)
      : inner_(std::move(inner)), micTone_(micTone), speakerTone_(speakerTone) {}

  bool Start(const std::wstring& path, int outputRate, int bitrateKbps, int channelMode) override {
    started_ = inner_->Start(path, outputRate, bitrateKbps, channelMode);
    return started_;
  }
  void SetSide(int side) override { inner_->SetSide(side); }
  void Stop() override { inner_->Stop(); }
  void Abort() override { inner_->Abort(); }
  bool PutMicFrame(const void* data, std::size_t size) override {
    Check(mic_, micTone_, data, size);
    return Count(mic_, inner_->PutMicFrame(data, size));
  }
  bool PutSpeakerFrame(const void* data, std::size_t size) override {
    Check(speaker_, speakerTone_, data, size);
    return Count(speaker_, inner_->PutSpeakerFrame(data, size));
  }

  bool Started() const { return started_; }
  const Tally& Mic() const { return mic_; }
  const Tally& Speaker() const { return speaker_; }

 private:
  // Each tally is written by one receive thread only; the main thread just reads it.
  static void Check(Tally& tally, const std::vector<std::uint8_t>& tone, const void* data, std::size_t size) {
    const std::size_t k = static_cast<std::size_t>(tally.frames.load(std::memory_order_relaxed)) % kFramesPerSecond;
    if (size != kStreamFrameBytes || std::memcmp(data, tone.data() + k * kStreamFrameBytes, size) != 0) {
      tally.wrong.fetch_add(1, std::memory_order_relaxed);
    }
  }
  static bool Count(Tally& tally, bool accepted) {
    if (!accepted) tally.refused.fetch_add(1, std::memory_order_relaxed);
    tally.frames.fetch_add(1, std::memory_order_release);
    return accepted;
  }

  std::unique_ptr<IStreamRecorder> inner_;
  const std::vector<std::uint8_t>& micTone_;
  const std::vector<std::uint8_t>& speakerTone_;
  bool started_ = false;
  Tally mic_;
  Tally speaker_;
};

// Counts the receive threads' poll steps: bytes per step tell how the system batched the
// segments, which is most of what a step costs.
class CCountingServer final : public IAudioServer {
 public:
  explicit CCountingServer(std::unique_ptr<IAudioServer> inner) : inner_(std::move(inner)) {}
  int Listen(const std::string& address, std::uint16_t port) override { return inner_->Listen(address, port); }
  int Poll(std::uint8_t* buffer, std::size_t capacity, PollResult& result) override {
    const int status = inner_->Poll(buffer, capacity, result);
    steps_.fetch_add(1, std::memory_order_relaxed);
    return status;
  }
  int CloseAll() override { return inner_->CloseAll(); }
  int SocketCount() const override { return inner_->SocketCount(); }
  std::uint64_t Steps() const { return steps_.load(std::memory_order_relaxed); }

 private:
  std::unique_ptr<IAudioServer> inner_;
  std::atomic<std::uint64_t> steps_{0};
};

struct SendPlan {
  std::uint16_t port = 0;
  const std::vector<std::uint8_t>* tone = nullptr;
  std::uint64_t totalBytes = 0;
  std::vector<std::size_t> writeSizes;  // cycled; a write never crosses a 10 ms tick
  std::size_t framesPerTick = 100;
  bool paced = true;
};

struct SendOutcome {
  std::uint64_t bytes = 0;
  int error = 0;        // Winsock error that ended the sending early
  bool peerClosed = false;  // the server read everything and closed its end
  double cpuSeconds = 0;
};

bool SendAll(SOCKET s, const std::uint8_t* data, std::size_t size, int& error) {
  while (size > 0) {
    const int n = send(s, reinterpret_cast<const char*>(data), static_cast<int>(size), 0);
    if (n == SOCKET_ERROR) {
      error = WSAGetLastError();
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

void RunSender(const SendPlan& plan, std::shared_future<Clock::time_point> go, SendOutcome& out) {
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) {
    out.error = WSAGetLastError();
    return;
  }
  // Each write leaves as its own segment, so the receiver really meets the odd sizes.
  const BOOL noDelay = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(plan.port);
  inet_pton(AF_INET, CAudioReceiver::kAddress, &peer.sin_addr);
  if (connect(s, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == SOCKET_ERROR) {
    out.error = WSAGetLastError();
    closesocket(s);
    return;
  }

  const Clock::time_point start = go.get();
  const double cpu0 = ThreadCpuSeconds();
  const std::uint64_t tickBytes = plan.framesPerTick * kStreamFrameBytes;
  std::size_t cycle = 0;
  for (std::uint64_t tick = 0; out.bytes < plan.totalBytes && out.error == 0; ++tick) {
    if (plan.paced) std::this_thread::sleep_until(start + tick * kTick);
    const std::uint64_t tickEnd = std::min(plan.totalBytes, out.bytes + tickBytes);
    while (out.bytes < tickEnd) {
      const std::size_t want = plan.writeSizes[cycle++ % plan.writeSizes.size()];
      const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(want, tickEnd - out.bytes));
      const std::uint8_t* from = plan.tone->data() + out.bytes % kSecondBytes;
      if (!SendAll(s, from, n, out.error)) break;
      out.bytes += n;
    }
  }

  // End the stream like a finished call, then wait until the server has read it all and
  // closed its side: only then is every byte known to have been received.
  shutdown(s, SD_SEND);
  const DWORD timeout = kPeerReadTimeoutMs;
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
  char scratch[64];
  for (;;) {
    const int n = recv(s, scratch, sizeof scratch, 0);
    if (n > 0) continue;
    out.peerClosed = n == 0 || WSAGetLastError() == WSAECONNRESET;
    break;
  }
  closesocket(s);
  out.cpuSeconds = ThreadCpuSeconds() - cpu0;
}

// Walks the MP3 frame headers and adds up the samples they carry; -1 when the data is not
// an MP3 stream.
double Mp3Seconds(const std::filesystem::path& path) {
  std::FILE* f = _wfopen(path.c_str(), L"rb");
  if (f == nullptr) return -1;
  std::vector<std::uint8_t> data;
  std::uint8_t chunk[65536];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) data.insert(data.end(), chunk, chunk + n);
  std::fclose(f);

  static const int kBitrates[2][16] = {{0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
                                       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}};
  static const int kRates[3] = {44100, 48000, 32000};
  double seconds = 0;
  std::size_t pos = 0;
  while (pos + 4 <= data.size()) {
    const std::uint8_t* h = &data[pos];
    const int version = (h[1] >> 3) & 3;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    const int layer = (h[1] >> 1) & 3;    // 1 = layer III
    const int bitrateIndex = h[2] >> 4;
    const int rateIndex = (h[2] >> 2) & 3;
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0 || version == 1 || layer != 1 || bitrateIndex == 0 ||
        bitrateIndex == 15 || rateIndex == 3) {
      return -1;  // the writer puts nothing but frames in the file
    }
    const bool mpeg1 = version == 3;
    const int rate = kRates[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    const int samples = mpeg1 ? 1152 : 576;
    const int bitrate = kBitrates[mpeg1 ? 0 : 1][bitrateIndex] * 1000;
    const std::size_t size = static_cast<std::size_t>(samples / 8 * bitrate / rate + ((h[2] >> 1) & 1));
    if (pos + size > data.size()) return -1;
    seconds += static_cast<double>(samples) / rate;
    pos += size;
  }
  return pos == data.size() ? seconds : -1;
}

struct Case {
  const char* format;
  int outputRate;
  int bitrateKbps;
  int channelMode;  // 0 mono, 1 stereo
  const char* writes;
  std::vector<std::size_t> writeSizes;
  bool paced;
};

struct Result {
  bool ok = false;
  std::uint64_t sentMic = 0, sentSpeaker = 0;  // frames
  std::uint64_t gotMic = 0, gotSpeaker = 0;
  std::uint64_t wrong = 0, refused = 0;
  double wallReceived = 0;  // first byte sent until both connections were read to the end
  double wallFile = 0;      // until the MP3 was closed (the mixer may trail the sockets)
  double cpu = 0;           // process, whole run
  double cpuSenders = 0;
  std::uintmax_t mp3Bytes = 0;
  double mp3Seconds = 0;
  std::uint64_t pollSteps = 0;  // both receive threads, accepts and closes included
};

std::filesystem::path TempDir() {
  wchar_t buffer[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
  return n > 0 && n <= MAX_PATH ? std::filesystem::path(buffer) : std::filesystem::current_path();
}

Result Run(const Case& c, int audioSeconds, std::size_t speed, const std::vector<std::uint8_t>& micTone,
           const std::vector<std::uint8_t>& speakerTone, bool keep, int index) {
  Result r;
  auto micServer = std::make_unique<CAudioServer>();
  auto speakerServer = std::make_unique<CAudioServer>();
  CAudioServer* mic = micServer.get();
  CAudioServer* speaker = speakerServer.get();
  auto counting = std::make_unique<CCountingRecorder>(
      std::make_unique<CRecorderAdapter<CRecorder>>(std::make_unique<CRecorder>()), micTone, speakerTone);
  CCountingRecorder* counter = counting.get();
  auto micCounting = std::make_unique<CCountingServer>(std::move(micServer));
  auto speakerCounting = std::make_unique<CCountingServer>(std::move(speakerServer));
  const CCountingServer* micSteps = micCounting.get();
  const CCountingServer* speakerSteps = speakerCounting.get();
  CAudioReceiver receiver(std::move(micCounting), std::move(speakerCounting), std::move(counting));

  // Level posts and redirect requests cost what a cheap window post would.
  std::atomic<std::uint64_t> levelPosts{0}, redirects{0};
  receiver.SetWindow([&](unsigned, std::intptr_t, std::intptr_t) { levelPosts.fetch_add(1); });
  receiver.SetRedirectAgain([&] { redirects.fetch_add(1); });
  receiver.SetCaptureSetting([] { return 0; });
  // Port 0: the system picks free ones, so Skype or another run on the machine cannot clash.
  receiver.SetPorts(0, 0);
  if (!receiver.StartMicServer() || !receiver.StartSpeakerServer()) {
    std::fprintf(stderr, "the audio servers did not start\n");
    return r;
  }

  const std::filesystem::path base =
      TempDir() / (L"tovik_loopback_" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(index));
  receiver.StartRecording(base.wstring(), c.outputRate, c.bitrateKbps, c.channelMode);
  const std::filesystem::path mp3 = receiver.GetFileName();
  if (!counter->Started()) {
    std::fprintf(stderr, "the recorder did not start on %ls\n", mp3.c_str());
    return r;
  }
  receiver.SetRecordingState(REC_RECORDING);

  const std::uint64_t totalBytes = static_cast<std::uint64_t>(audioSeconds) * kSecondBytes;
  const std::size_t framesPerTick = c.paced ? speed : kFramesPerSecond;
  SendPlan micPlan{mic->BoundPort(), &micTone, totalBytes, c.writeSizes, framesPerTick, c.paced};
  SendPlan speakerPlan{speaker->BoundPort(), &speakerTone, totalBytes, c.writeSizes, framesPerTick, c.paced};
  SendOutcome micOut, speakerOut;
  std::promise<Clock::time_point> release;
  std::shared_future<Clock::time_point> go = release.get_future().share();
  std::thread micSender(RunSender, std::cref(micPlan), go, std::ref(micOut));
  std::thread speakerSender(RunSender, std::cref(speakerPlan), go, std::ref(speakerOut));
  // Let both connect and be accepted before the clock starts.
  for (int i = 0; i < 500 && (mic->SocketCount() < 2 || speaker->SocketCount() < 2); ++i) Sleep(2);

  const double cpu0 = ProcessCpuSeconds();
  const Clock::time_point t0 = Clock::now();
  release.set_value(t0);
  micSender.join();
  speakerSender.join();
  r.wallReceived = Seconds(Clock::now() - t0);
  r.pollSteps = micSteps->Steps() + speakerSteps->Steps();
  receiver.StopRecording();
  r.wallFile = Seconds(Clock::now() - t0);
  r.cpu = ProcessCpuSeconds() - cpu0;
  r.cpuSenders = micOut.cpuSeconds + speakerOut.cpuSeconds;

  r.sentMic = micOut.bytes / kStreamFrameBytes;
  r.sentSpeaker = speakerOut.bytes / kStreamFrameBytes;
  r.gotMic = counter->Mic().frames.load(std::memory_order_acquire);
  r.gotSpeaker = counter->Speaker().frames.load(std::memory_order_acquire);
  r.wrong = counter->Mic().wrong.load() + counter->Speaker().wrong.load();
  r.refused = counter->Mic().refused.load() + counter->Speaker().refused.load();
  receiver.Destroy();

  std::error_code ec;
  r.mp3Bytes = std::filesystem::file_size(mp3, ec);
  if (ec) r.mp3Bytes = 0;
  r.mp3Seconds = Mp3Seconds(mp3);
  if (!keep) std::filesystem::remove(mp3, ec);

  for (const SendOutcome* out : {&micOut, &speakerOut}) {
    if (out->error != 0) std::fprintf(stderr, "a sender stopped with Winsock error %d\n", out->error);
    if (!out->peerClosed) std::fprintf(stderr, "a sender never saw the server finish reading\n");
  }
  // Both sides are recorded, so the file holds as many 10 ms pairs as the longer side sent.
  const double audio = static_cast<double>(std::max(r.sentMic, r.sentSpeaker)) / kFramesPerSecond;
  // LAME puts its 576-sample encoder delay in front and pads the last MP3 frame, so the
  // file is a little longer than the audio, never shorter. Its resolution is one MP3 frame
  // (36 ms here); the exact per-frame check is the recorder-side count above.
  const double minimum = audio + 576.0 / c.outputRate;
  const bool durationOk = r.mp3Seconds >= minimum && r.mp3Seconds <= audio + 0.25;
  const std::uint64_t planned = totalBytes / kStreamFrameBytes;
  const bool sentAll = micOut.error == 0 && speakerOut.error == 0 && r.sentMic == planned && r.sentSpeaker == planned;
  // A server that never closes a finished connection would leave Skype without a redirect.
  const bool closed = micOut.peerClosed && speakerOut.peerClosed;
  r.ok = sentAll && closed && r.gotMic == r.sentMic && r.gotSpeaker == r.sentSpeaker && r.wrong == 0 &&
         r.refused == 0 && r.mp3Bytes > 0 && durationOk;
  return r;
}

// A sender that failed to connect must not leave the baseline waiting for ever.
SOCKET AcceptWithin(SOCKET listener) {
  fd_set ready;
  FD_ZERO(&ready);
  FD_SET(listener, &ready);
  timeval limit{static_cast<long>(kPeerReadTimeoutMs / 1000), 0};
  if (select(0, &ready, nullptr, nullptr, &limit) != 1) return INVALID_SOCKET;
  return accept(listener, nullptr, nullptr);
}

// The same senders into bare blocking receives on one plain listener: what loopback
// carries at all on this system with a given read size, for comparing the receiver with.
struct Baseline {
  bool ok = false;
  std::uint64_t sentFrames = 0, gotFrames = 0;
  double wall = 0, cpu = 0, cpuSenders = 0;
};

Baseline RunBaseline(int audioSeconds, const std::vector<std::uint8_t>& micTone,
                     const std::vector<std::uint8_t>& speakerTone, const std::vector<std::size_t>& writeSizes,
                     std::size_t readSize) {
  Baseline b;
  const SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (listener == INVALID_SOCKET) return b;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  inet_pton(AF_INET, CAudioReceiver::kAddress, &local.sin_addr);
  int size = sizeof local;
  if (bind(listener, reinterpret_cast<const sockaddr*>(&local), sizeof local) == SOCKET_ERROR ||
      listen(listener, 4) == SOCKET_ERROR ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&local), &size) == SOCKET_ERROR) {
    closesocket(listener);
    return b;
  }
  const std::uint64_t totalBytes = static_cast<std::uint64_t>(audioSeconds) * kSecondBytes;
  const std::uint16_t port = ntohs(local.sin_port);
  SendPlan micPlan{port, &micTone, totalBytes, writeSizes, kFramesPerSecond, false};
  SendPlan speakerPlan{port, &speakerTone, totalBytes, writeSizes, kFramesPerSecond, false};
  SendOutcome micOut, speakerOut;
  std::promise<Clock::time_point> release;
  std::shared_future<Clock::time_point> go = release.get_future().share();
  std::thread micSender(RunSender, std::cref(micPlan), go, std::ref(micOut));
  std::thread speakerSender(RunSender, std::cref(speakerPlan), go, std::ref(speakerOut));
  SOCKET peers[2] = {AcceptWithin(listener), AcceptWithin(listener)};
  closesocket(listener);

  std::atomic<std::uint64_t> received{0};
  auto drain = [&](SOCKET s) {
    std::vector<char> buffer(readSize);
    std::uint64_t got = 0;
    for (int n; s != INVALID_SOCKET && (n = recv(s, buffer.data(), static_cast<int>(buffer.size()), 0)) > 0;) {
      got += static_cast<std::uint64_t>(n);
    }
    if (s != INVALID_SOCKET) closesocket(s);
    received.fetch_add(got);
  };
  const double cpu0 = ProcessCpuSeconds();
  const Clock::time_point t0 = Clock::now();
  release.set_value(t0);
  std::thread first(drain, peers[0]);
  std::thread second(drain, peers[1]);
  micSender.join();
  speakerSender.join();
  first.join();
  second.join();
  b.wall = Seconds(Clock::now() - t0);
  b.cpu = ProcessCpuSeconds() - cpu0;
  b.cpuSenders = micOut.cpuSeconds + speakerOut.cpuSeconds;
  b.sentFrames = (micOut.bytes + speakerOut.bytes) / kStreamFrameBytes;
  b.gotFrames = received.load() / kStreamFrameBytes;
  b.ok = micOut.error == 0 && speakerOut.error == 0 && b.gotFrames == b.sentFrames &&
         b.sentFrames == 2 * totalBytes / kStreamFrameBytes;
  return b;
}

}  // namespace
}  // namespace tovik

int main(int argc, char** argv) {
  using namespace tovik;
  int audioSeconds = 300;
  bool keep = false;
  int onlyRow = -1;
  int speed = 100;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
      audioSeconds = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--speed") == 0 && i + 1 < argc) {
      speed = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--row") == 0 && i + 1 < argc) {
      onlyRow = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--keep") == 0) {
      keep = true;
    } else {
      std::fprintf(stderr, "usage: %s [--seconds N] [--speed X] [--row R] [--keep]\n", argv[0]);
      return 2;
    }
  }
  if (audioSeconds <= 0 || speed <= 0) {
    std::fprintf(stderr, "--seconds and --speed must be positive\n");
    return 2;
  }

  WSADATA wsa{};
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
    std::fprintf(stderr, "WSAStartup failed\n");
    return 1;
  }
  ConsoleMessageBox box;
  SetMessageBox(&box);

  const auto micTone = ToneTwoSeconds(440);
  const auto speakerTone = ToneTwoSeconds(660);
  // A tick's frames in one write (the receiver's own cost dominates), one write per frame
  // (many small segments), and odd sizes that split frames and, with 333, samples.
  const std::vector<std::size_t> tick{static_cast<std::size_t>(speed) * kStreamFrameBytes};
  const std::vector<std::size_t> bulk{kSecondBytes};
  const std::vector<std::size_t> frames{kStreamFrameBytes};
  const std::vector<std::size_t> odd{100, 700, 1022, 333};
  struct Writes {
    const char* name;
    const std::vector<std::size_t>* sizes;
  };
  const Writes writePatterns[] = {{"one write per 10 ms", &tick}, {"320-byte writes", &frames}, {"odd writes", &odd}};
  struct Format {
    const char* name;
    int outputRate, bitrateKbps, channelMode;
  };
  const Format formats[] = {{"mono 16000 Hz 32 kbit/s", 16000, 32, 0}, {"stereo 32000 Hz 64 kbit/s", 32000, 64, 1}};
  std::vector<Case> cases;
  for (const Format& f : formats) {
    for (const Writes& w : writePatterns) {
      cases.push_back({f.name, f.outputRate, f.bitrateKbps, f.channelMode, w.name, *w.sizes, true});
    }
    // Unpaced: as fast as the sockets go, the receiver's ceiling.
    cases.push_back({f.name, f.outputRate, f.bitrateKbps, f.channelMode, "unpaced 32000-byte", bulk, false});
  }

  const std::size_t kBaselineReads[] = {kMaxReceiveBytes, 65536};
  const Writes baselineWrites[] = {{"32000-byte writes", &bulk}, {"320-byte writes", &frames}, {"odd writes", &odd}};
  const int rows = static_cast<int>(cases.size() + std::size(kBaselineReads) * std::size(baselineWrites));
  if (onlyRow >= rows) {
    std::fprintf(stderr, "--row must be below %d\n", rows);
    return 2;
  }

  std::printf("loopback receive: %d s of 16000 Hz mono PCM per side and run, paced rows at %dx real time\n",
              audioSeconds, speed);
  std::printf("%-26s %-20s %13s %13s %6s %8s %8s %10s %11s %11s %10s %9s %9s\n", "format", "writes",
              "sent mic/spk", "recv mic/spk", "wrong", "wall s", "file s", "frames/s", "cpu ms/s", "recv ms/s",
              "bytes/poll", "mp3 KiB", "mp3 s");
  bool allOk = true;
  int row = 0;
  for (const Case& c : cases) {
    const int index = row++;
    if (onlyRow >= 0 && onlyRow != index) continue;
    const Result r = Run(c, audioSeconds, static_cast<std::size_t>(speed), micTone, speakerTone, keep, index);
    const double received = static_cast<double>(r.gotMic + r.gotSpeaker);
    const std::string sent = std::to_string(r.sentMic) + "/" + std::to_string(r.sentSpeaker);
    const std::string got = std::to_string(r.gotMic) + "/" + std::to_string(r.gotSpeaker);
    std::printf("%-26s %-20s %13s %13s %6llu %8.2f %8.2f %10.0f %11.2f %11.2f %10.0f %9.1f %9.2f %s\n", c.format,
                c.writes, sent.c_str(), got.c_str(), static_cast<unsigned long long>(r.wrong + r.refused),
                r.wallReceived, r.wallFile, r.wallReceived > 0 ? received / r.wallReceived : 0.0,
                1000.0 * r.cpu / audioSeconds, 1000.0 * (r.cpu - r.cpuSenders) / audioSeconds,
                r.pollSteps > 0 ? received * kStreamFrameBytes / static_cast<double>(r.pollSteps) : 0.0,
                static_cast<double>(r.mp3Bytes) / 1024.0, r.mp3Seconds, r.ok ? "ok" : "FAILED");
    std::fflush(stdout);
    allOk = allOk && r.ok;
  }
  std::printf("\nbaseline, same senders unpaced into plain blocking recv on one listener (no receiver):\n");
  std::printf("%-26s %-20s %13s %13s %8s %10s %11s %11s\n", "reads", "writes", "sent both", "recv both", "wall s",
              "frames/s", "cpu ms/s", "recv ms/s");
  for (const std::size_t readSize : kBaselineReads) {
    for (const Writes& w : baselineWrites) {
      const int index = row++;
      if (onlyRow >= 0 && onlyRow != index) continue;
      const Baseline b = RunBaseline(audioSeconds, micTone, speakerTone, *w.sizes, readSize);
      const std::string reads = std::to_string(readSize) + "-byte reads";
      std::printf("%-26s %-20s %13llu %13llu %8.2f %10.0f %11.2f %11.2f %s\n", reads.c_str(),
                  w.name, static_cast<unsigned long long>(b.sentFrames),
                  static_cast<unsigned long long>(b.gotFrames), b.wall,
                  b.wall > 0 ? static_cast<double>(b.gotFrames) / b.wall : 0.0, 1000.0 * b.cpu / audioSeconds,
                  1000.0 * (b.cpu - b.cpuSenders) / audioSeconds, b.ok ? "ok" : "FAILED");
      std::fflush(stdout);
      allOk = allOk && b.ok;
    }
  }
  std::printf("cpu ms/s: process CPU (all threads) per second of call audio; recv ms/s: the same without the\n"
              "two sender threads (receive threads, mixer and MP3 encoder). frames/s counts both sides.\n");

  SetMessageBox(nullptr);
  WSACleanup();
  return allOk ? 0 : 1;
}
