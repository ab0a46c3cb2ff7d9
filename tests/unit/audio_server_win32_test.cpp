// The Winsock audio servers over real loopback sockets: frames cut from odd TCP segments,
// a taken port, CloseAll against a blocked poll, a flood of connections, resets and closes.
#ifdef _WIN32

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/input/AudioReceiver.h"
#include "audio/input/win32/AudioServer.h"
#include "base/UiPort.h"

namespace tovik {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr auto kPatience = std::chrono::seconds(30);  // only bounds a hang; nothing is timed

Bytes PatternStream(std::size_t size, std::uint8_t salt = 0) {
  Bytes out(size);
  for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<std::uint8_t>((i * 13 + i / 241 + salt) & 0xFF);
  return out;
}

struct WinsockUser {
  WinsockUser() {
    WSADATA data{};
    ok = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~WinsockUser() {
    if (ok) WSACleanup();
  }
  bool ok = false;
};

class Client {
 public:
  explicit Client(std::uint16_t port) {
    s_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    BOOL noDelay = TRUE;
    setsockopt(s_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    connected_ = connect(s_, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0;
  }
  ~Client() { Close(); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool Connected() const { return connected_; }
  bool Send(const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
      const int n = send(s_, reinterpret_cast<const char*>(data), static_cast<int>(size), 0);
      if (n <= 0) return false;
      data += n;
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }
  // Segments written one send at a time, with a pause so they arrive as separate reads.
  bool SendSegments(const Bytes& stream, const std::vector<std::size_t>& sizes) {
    std::size_t offset = 0;
    std::size_t k = 0;
    while (offset < stream.size()) {
      const std::size_t n = std::min(sizes[k++ % sizes.size()], stream.size() - offset);
      if (!Send(stream.data() + offset, n)) return false;
      offset += n;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }
  void Reset() {  // a hard close: the peer sees a reset, not an orderly end
    linger l{1, 0};
    setsockopt(s_, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
    Close();
  }
  void Close() {
    if (s_ != INVALID_SOCKET) closesocket(s_);
    s_ = INVALID_SOCKET;
  }

 private:
  SOCKET s_ = INVALID_SOCKET;
  bool connected_ = false;
};

class SinkRecorder : public IStreamRecorder {
 public:
  bool Start(const std::wstring&, int, int, int) override { return true; }
  void SetSide(int) override {}
  void Stop() override {}
  void Abort() override {}
  bool PutMicFrame(const void* data, std::size_t size) override { return Put(mic_, data, size); }
  bool PutSpeakerFrame(const void* data, std::size_t size) override { return Put(speaker_, data, size); }

  bool WaitFor(AudioStream stream, std::size_t bytes) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, kPatience, [&] { return List(stream).size() >= bytes; });
  }
  Bytes Taken(AudioStream stream) {
    std::lock_guard lock(mutex_);
    return List(stream);
  }
  bool AllWhole() {
    std::lock_guard lock(mutex_);
    return allWhole_;
  }
  std::size_t FloodFrames() {
    std::lock_guard lock(mutex_);
    return floodFrames_;
  }
  static constexpr std::uint8_t kFloodByte = 0xAB;

 private:
  Bytes& List(AudioStream stream) { return stream == AudioStream::Mic ? mic_ : speaker_; }
  bool Put(Bytes& list, const void* data, std::size_t size) {
    {
      std::lock_guard lock(mutex_);
      allWhole_ = allWhole_ && size == kStreamFrameBytes;
      const auto* p = static_cast<const std::uint8_t*>(data);
      // Frames of a flooding peer are only counted, so a flood does not fill the memory.
      if (std::all_of(p, p + size, [](std::uint8_t b) { return b == kFloodByte; })) {
        ++floodFrames_;
      } else {
        list.insert(list.end(), p, p + size);
      }
    }
    cv_.notify_all();
    return true;
  }
  std::mutex mutex_;
  std::condition_variable cv_;
  Bytes mic_, speaker_;
  bool allWhole_ = true;
  std::size_t floodFrames_ = 0;
};

// A receiver over two real servers on free loopback ports.
class AudioServerWin32Receiver : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(winsock.ok);
    auto mic = std::make_unique<CAudioServer>();
    auto spk = std::make_unique<CAudioServer>();
    auto rec = std::make_unique<SinkRecorder>();
    micServer = mic.get();
    speakerServer = spk.get();
    recorder = rec.get();
    receiver = std::make_unique<CAudioReceiver>(std::move(mic), std::move(spk), std::move(rec));
    receiver->SetPorts(0, 0);
    receiver->SetRedirectAgain([this] {
      {
        std::lock_guard lock(mutex);
        ++redirects;
      }
      cv.notify_all();
    });
    receiver->SetRecordingState(REC_RECORDING);
    ASSERT_TRUE(receiver->StartMicServer());
    ASSERT_TRUE(receiver->StartSpeakerServer());
  }
  void TearDown() override {
    if (receiver) receiver->Destroy();
  }
  bool WaitForRedirects(int n) {
    std::unique_lock lock(mutex);
    return cv.wait_for(lock, kPatience, [&] { return redirects >= n; });
  }

  WinsockUser winsock;
  CAudioServer* micServer = nullptr;
  CAudioServer* speakerServer = nullptr;
  SinkRecorder* recorder = nullptr;
  std::unique_ptr<CAudioReceiver> receiver;
  std::mutex mutex;
  std::condition_variable cv;
  int redirects = 0;
};

TEST_F(AudioServerWin32Receiver, OddSegmentsArriveAsWholeFramesInOrder) {
  const Bytes micStream = PatternStream(320 * 40, 1), spkStream = PatternStream(320 * 40 + 77, 2);
  Client mic(micServer->BoundPort()), spk(speakerServer->BoundPort());
  ASSERT_TRUE(mic.Connected());
  ASSERT_TRUE(spk.Connected());
  auto micDone = std::async(std::launch::async, [&] { return mic.SendSegments(micStream, {100, 700, 1022, 1, 319}); });
  ASSERT_TRUE(spk.SendSegments(spkStream, {1022, 13, 640, 333}));
  ASSERT_TRUE(micDone.get());
  ASSERT_TRUE(recorder->WaitFor(AudioStream::Mic, micStream.size()));
  ASSERT_TRUE(recorder->WaitFor(AudioStream::Speaker, 320 * 40));
  EXPECT_EQ(recorder->Taken(AudioStream::Mic), micStream);
  EXPECT_EQ(recorder->Taken(AudioStream::Speaker), Bytes(spkStream.begin(), spkStream.begin() + 320 * 40));
  EXPECT_TRUE(recorder->AllWhole());
}

TEST_F(AudioServerWin32Receiver, ClosedConnectionDeliversItsLastBytesAndAsksForRedirection) {
  const Bytes stream = PatternStream(320 * 25, 5);
  {
    Client mic(micServer->BoundPort());
    ASSERT_TRUE(mic.Connected());
    // Everything in one go, closed at once: the close must not cut off queued bytes.
    ASSERT_TRUE(mic.Send(stream.data(), stream.size()));
  }
  ASSERT_TRUE(WaitForRedirects(1));
  EXPECT_EQ(recorder->Taken(AudioStream::Mic), stream);
  EXPECT_EQ(micServer->SocketCount(), 1);
  EXPECT_EQ(micServer->State(), CAudioServer::kStateListening);
}

TEST_F(AudioServerWin32Receiver, ResetMidFrameDropsTheHalfFrameAndTheNextConnectionStartsClean) {
  // Reset at once (possibly before the server has accepted) and after the half frame was read.
  for (int resetAfterMs : {0, 200}) {
    SCOPED_TRACE(resetAfterMs);
    const std::size_t before = recorder->Taken(AudioStream::Speaker).size();
    const Bytes half = PatternStream(100, 9), next = PatternStream(320 * 3, static_cast<std::uint8_t>(33 + resetAfterMs));
    {
      Client spk(speakerServer->BoundPort());
      ASSERT_TRUE(spk.Connected());
      ASSERT_TRUE(spk.Send(half.data(), half.size()));
      std::this_thread::sleep_for(std::chrono::milliseconds(resetAfterMs));
      spk.Reset();
    }
    Client again(speakerServer->BoundPort());
    ASSERT_TRUE(again.Connected());
    ASSERT_TRUE(again.Send(next.data(), next.size()));
    ASSERT_TRUE(recorder->WaitFor(AudioStream::Speaker, before + next.size()));
    const Bytes taken = recorder->Taken(AudioStream::Speaker);
    EXPECT_EQ(Bytes(taken.begin() + before, taken.end()), next);
  }
}

TEST_F(AudioServerWin32Receiver, ManyIdleConnectionsAreCappedAndTheRealStreamStillFlows) {
  Client real(micServer->BoundPort());
  ASSERT_TRUE(real.Connected());
  std::vector<std::unique_ptr<Client>> idle;
  for (int i = 0; i < 70; ++i) idle.push_back(std::make_unique<Client>(micServer->BoundPort()));
  const Bytes stream = PatternStream(320 * 10, 4);
  ASSERT_TRUE(real.SendSegments(stream, {1022, 500}));
  ASSERT_TRUE(recorder->WaitFor(AudioStream::Mic, stream.size()));
  EXPECT_EQ(recorder->Taken(AudioStream::Mic), stream);
  EXPECT_LE(micServer->SocketCount(), CAudioServer::kMaxSockets);
  idle.clear();
}

TEST_F(AudioServerWin32Receiver, FloodingPeerDoesNotStarveTheRealStream) {
  // The flooder connects first, so a wait that always served the lowest ready socket would
  // never get to the real stream while the flood lasts.
  Client flood(micServer->BoundPort());
  ASSERT_TRUE(flood.Connected());
  std::atomic<bool> stop{false};
  auto flooding = std::async(std::launch::async, [&] {
    const Bytes garbage(1000, SinkRecorder::kFloodByte);
    while (!stop && flood.Send(garbage.data(), garbage.size())) {
    }
  });
  while (recorder->FloodFrames() < 100) std::this_thread::yield();
  const Bytes stream = PatternStream(320 * 20, 7);
  Client real(micServer->BoundPort());
  ASSERT_TRUE(real.Connected());
  ASSERT_TRUE(real.Send(stream.data(), stream.size()));
  const bool arrived = recorder->WaitFor(AudioStream::Mic, stream.size());
  const bool stillFlooding = flooding.wait_for(std::chrono::seconds(0)) == std::future_status::timeout;
  stop = true;
  flood.Close();
  flooding.wait();
  ASSERT_TRUE(arrived);
  EXPECT_TRUE(stillFlooding);
  EXPECT_EQ(recorder->Taken(AudioStream::Mic), stream);
  // 0xABAB is -21589: the meter follows the flood.
  EXPECT_GT(receiver->Level(AudioStream::Mic), 0);
}

TEST(AudioServerWin32, ListenRefusesWhatItMustNotServe) {
  WinsockUser winsock;
  CAudioServer server;
  EXPECT_EQ(server.Listen("0.0.0.0", 0), WSAEADDRNOTAVAIL);
  EXPECT_EQ(server.Listen("192.168.1.10", 0), WSAEADDRNOTAVAIL);
  EXPECT_EQ(server.Listen("not an address", 0), WSAEADDRNOTAVAIL);
  EXPECT_EQ(server.SocketCount(), 0);
  ASSERT_EQ(server.Listen("127.0.0.1", 0), 0);
  EXPECT_EQ(server.State(), CAudioServer::kStateListening);
  EXPECT_EQ(server.Listen("127.0.0.1", 0), WSAEISCONN);
  EXPECT_EQ(server.CloseAll(), 0);
  EXPECT_EQ(server.CloseAll(), WSAENOTCONN);
  EXPECT_EQ(server.State(), CAudioServer::kStateNone);
}

TEST(AudioServerWin32, TakenPortFailsWithTheWinsockErrorAndTheOtherServerWorks) {
  WinsockUser winsock;
  ASSERT_TRUE(winsock.ok);
  CAudioServer holder, taker, other;
  ASSERT_EQ(holder.Listen("127.0.0.1", 0), 0);
  EXPECT_EQ(taker.Listen("127.0.0.1", holder.BoundPort()), WSAEADDRINUSE);
  EXPECT_EQ(taker.SocketCount(), 0);
  ASSERT_EQ(other.Listen("127.0.0.1", 0), 0);
  Client client(other.BoundPort());
  EXPECT_TRUE(client.Connected());
  std::uint8_t buffer[kReceiveBufferBytes];
  PollResult r;
  EXPECT_EQ(other.Poll(buffer, kMaxReceiveBytes, r), 0);
  EXPECT_NE(r.events & kNetAccept, 0u);
  EXPECT_EQ(other.SocketCount(), 2);
}

TEST(AudioServerWin32, TakenPortShowsItsMessageAndTheOtherPortStillListens) {
  WinsockUser winsock;
  ASSERT_TRUE(winsock.ok);
  // A free port taken by someone else (Skype's own ports may be in use on a shared machine;
  // their texts are checked natively).
  CAudioServer squatter;
  ASSERT_EQ(squatter.Listen("127.0.0.1", 0), 0);
  const std::uint16_t taken = squatter.BoundPort();
  struct Box : IMessageBox {
    void Show(const std::wstring& text, const std::wstring& caption, MessageIcon icon) override {
      texts.push_back(text + L"|" + caption + (icon == MessageIcon::Information ? L"|i" : L"|?"));
    }
    std::vector<std::wstring> texts;
  } box;
  SetMessageBox(&box);
  auto mic = std::make_unique<CAudioServer>();
  auto spk = std::make_unique<CAudioServer>();
  CAudioServer* micServer = mic.get();
  CAudioServer* speakerServer = spk.get();
  CAudioReceiver receiver(std::move(mic), std::move(spk), std::make_unique<SinkRecorder>());
  receiver.SetPorts(taken, 0);
  EXPECT_FALSE(receiver.StartMicServer());
  EXPECT_TRUE(receiver.StartSpeakerServer());
  EXPECT_EQ(micServer->SocketCount(), 0);
  Client client(speakerServer->BoundPort());
  EXPECT_TRUE(client.Connected());
  receiver.Destroy();
  SetMessageBox(nullptr);
  ASSERT_EQ(box.texts.size(), 1u);
  EXPECT_EQ(box.texts[0],
            L"Create socket failed! Please make sure your firewall/anti-virus software does NOT block the port '" +
                std::to_wstring(taken) + L"'!|Tovik Skype Recorder|i");
}

TEST(AudioServerWin32, CloseAllTakesTheServerFromAThreadBlockedInPoll) {
  WinsockUser winsock;
  CAudioServer server;
  ASSERT_EQ(server.Listen("127.0.0.1", 0), 0);
  std::atomic<bool> polling{false};
  auto loop = std::async(std::launch::async, [&] {
    std::uint8_t buffer[kReceiveBufferBytes];
    for (;;) {
      PollResult r;
      polling = true;
      const int status = server.Poll(buffer, kMaxReceiveBytes, r);
      if (status != 0) return status;
    }
  });
  while (!polling) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let it reach the wait
  EXPECT_EQ(server.CloseAll(), 0);
  ASSERT_EQ(loop.wait_for(kPatience), std::future_status::ready);
  EXPECT_EQ(loop.get(), WSAENOTCONN);
  EXPECT_EQ(server.SocketCount(), 0);
}

TEST(AudioServerWin32, ConnectionsBeyondWhatTheServerHoldsAreRejected) {
  WinsockUser winsock;
  CAudioServer server;
  ASSERT_EQ(server.Listen("127.0.0.1", 0), 0);
  std::mutex m;
  std::condition_variable cv;
  int accepted = 0, refused = 0;
  auto loop = std::async(std::launch::async, [&] {
    std::uint8_t buffer[kReceiveBufferBytes];
    for (;;) {
      PollResult r;
      const int status = server.Poll(buffer, kMaxReceiveBytes, r);
      {
        std::lock_guard lock(m);
        if (r.events & kNetAccept) (status == 0 ? accepted : refused)++;
      }
      cv.notify_all();
      if (status == WSAENOTCONN) return;
    }
  });
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < 70; ++i) clients.push_back(std::make_unique<Client>(server.BoundPort()));
  {
    std::unique_lock lock(m);
    ASSERT_TRUE(cv.wait_for(lock, kPatience, [&] { return accepted + refused >= 70; }));
    EXPECT_EQ(accepted, CAudioServer::kMaxSockets - 1);
    EXPECT_EQ(refused, 70 - (CAudioServer::kMaxSockets - 1));
  }
  EXPECT_EQ(server.SocketCount(), CAudioServer::kMaxSockets);
  EXPECT_EQ(server.State(), CAudioServer::kStateAccepted);
  EXPECT_EQ(server.CloseAll(), 0);
  ASSERT_EQ(loop.wait_for(kPatience), std::future_status::ready);
  EXPECT_EQ(server.SocketCount(), 0);
}

}  // namespace
}  // namespace tovik

#endif  // _WIN32
