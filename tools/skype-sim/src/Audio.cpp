// Winsock client side of the two audio streams.
#include "Audio.h"

#include <ws2tcpip.h>

#include <chrono>
#include <random>

namespace sim {

namespace {
using Clock = std::chrono::steady_clock;

bool SendAll(SOCKET s, const std::vector<uint8_t>& bytes, unsigned long long& sent, int& error) {
  size_t at = 0;
  while (at < bytes.size()) {
    const int n = send(s, reinterpret_cast<const char*>(bytes.data() + at), static_cast<int>(bytes.size() - at), 0);
    if (n == SOCKET_ERROR) {
      error = WSAGetLastError();
      return false;
    }
    at += static_cast<size_t>(n);
    sent += static_cast<unsigned long long>(n);
  }
  return true;
}
}  // namespace

const char* SideName(Side s) { return s == Side::Mic ? "mic" : "spk"; }

CAudio::CAudio(CLog& log, std::function<void(Side)> onConnected)
    : log_(log), onConnected_(std::move(onConnected)) {
  config_.side[1].source = CPcmSource::Tone(1000, 8000);
}

CAudio::~CAudio() { StopAll(); }

void CAudio::Configure(const std::function<void(AudioConfig&)>& change) {
  std::lock_guard<std::mutex> g(lock_);
  change(config_);
}

void CAudio::OnRedirection(const Redirection& r) {
  std::lock_guard<std::mutex> g(lock_);
  auto& slot = calls_[r.callId];
  if (!slot) {
    slot = std::make_unique<Call>();
    slot->id = r.callId;
  }
  Call& call = *slot;
  const int s = static_cast<int>(r.side);
  const std::string who = call.id + " " + SideName(r.side);
  if (call.ended) {
    // Skype has nothing to redirect once a call is over.
    log_.Line("AUDIO", who + " redirection ignored: call ended");
    return;
  }
  call.got[s] = true;
  call.port[s] = r.port;
  if (!call.started) {
    if (!(call.got[0] && call.got[1])) return;
    call.started = true;
    call.config = config_;
    for (int k = 0; k < 2; ++k) {
      call.run[k].config = call.config.side[k];
      call.run[k].source = call.config.side[k].source;
      if (call.run[k].config.enabled)
        StartSide(call, static_cast<Side>(k), true);
      else
        log_.Line("AUDIO", call.id + " " + SideName(static_cast<Side>(k)) + " never starts");
    }
    return;
  }
  SideRun& run = call.run[s];
  if (!run.config.enabled) return;
  if (run.running) {
    log_.Line("AUDIO", who + " already streaming");
    return;
  }
  StartSide(call, r.side, false);
}

void CAudio::StartSide(Call& call, Side side, bool first) {
  SideRun& run = call.run[static_cast<int>(side)];
  if (run.thread.joinable()) run.thread.join();  // the previous connection's thread has ended
  {
    std::lock_guard<std::mutex> g(call.lock);
    run.stop = false;
  }
  run.port = call.port[static_cast<int>(side)];
  run.running = true;
  run.thread = std::thread([this, &call, side, first] { RunSide(call, side, first); });
}

void CAudio::RunSide(Call& call, Side side, bool first) {
  SideRun& run = call.run[static_cast<int>(side)];
  const std::string who = call.id + " " + SideName(side);
  auto stopped = [&] { return run.stop; };

  if (first && run.config.delayMs > 0) {
    std::unique_lock<std::mutex> lk(call.lock);
    if (call.wake.wait_for(lk, std::chrono::milliseconds(run.config.delayMs), stopped)) {
      run.running = false;
      return;
    }
  }

  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<u_short>(run.port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (s == INVALID_SOCKET || connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == SOCKET_ERROR) {
    log_.Line("AUDIO", who + " connect failed " + std::to_string(WSAGetLastError()) + " port " + std::to_string(run.port));
    if (s != INVALID_SOCKET) closesocket(s);
    run.running = false;
    return;
  }
  // Each write should leave as its own segment, so odd write sizes reach the peer as such.
  BOOL noDelay = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
  // A peer that stops reading must not hold this thread, and with it the call's end, forever.
  DWORD sendTimeoutMs = 5000;
  setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&sendTimeoutMs), sizeof sendTimeoutMs);
  {
    std::lock_guard<std::mutex> g(call.lock);
    run.sock = s;
  }
  ++run.connections;
  log_.Line("AUDIO", "connected " + std::string(SideName(side)) + " " + call.id + " port " + std::to_string(run.port) +
                         " connection " + std::to_string(run.connections));
  onConnected_(side);

  CSegmenter segmenter(call.config.segments);
  std::mt19937 random(static_cast<unsigned>(1234 + static_cast<int>(side) * 7 + run.connections));
  const long long jitter = call.config.jitterMs;
  const bool mayDrop = run.config.dropMs > 0 && !run.dropDone;
  const auto t0 = Clock::now();
  unsigned long long frames = 0, sentHere = 0;
  std::vector<uint8_t> bytes, write;
  int error = 0;
  std::string ending;
  bool stop = false;
  while (ending.empty()) {
    // Frames fall due on a fixed 10 ms grid from the connection's start; jitter delays a
    // wake-up, and the frames it held back go out together in the next burst.
    auto wakeAt = t0 + std::chrono::milliseconds(10 * (frames + 1));
    if (jitter > 0) wakeAt += std::chrono::milliseconds(std::uniform_int_distribution<long long>(0, jitter)(random));
    {
      std::unique_lock<std::mutex> lk(call.lock);
      stop = call.wake.wait_until(lk, wakeAt, stopped);
    }
    const unsigned long long due =
        static_cast<unsigned long long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count() / 10);
    if (due > frames) {
      bytes.clear();
      run.source.AppendFrames(due - frames, bytes);
      segmenter.Append(bytes);
      frames = due;
    }
    if (mayDrop && frames * 10 >= static_cast<unsigned long long>(run.config.dropMs)) {
      run.dropDone = true;
      ending = "dropped";
      break;
    }
    while (segmenter.Take(write)) {
      if (!SendAll(s, write, sentHere, error)) {
        ending = "closed by peer";
        break;
      }
    }
    if (!ending.empty()) break;
    if (stop) {
      while (segmenter.Flush(write))
        if (!SendAll(s, write, sentHere, error)) break;
      ending = "stopped";
    }
  }
  run.totalBytes += sentHere;
  std::string summary = who + " " + ending + " sent " + std::to_string(sentHere) + " bytes (" +
                        std::to_string(sentHere / 32) + " ms) total " + std::to_string(run.totalBytes) + " bytes";
  if (error != 0) summary += " error " + std::to_string(error);
  log_.Line("AUDIO", summary);
  if (ending != "stopped") {
    // A dropped or broken connection is closed here; a stopped one stays open until the
    // call's end has been announced (CloseCall).
    std::lock_guard<std::mutex> g(call.lock);
    if (ending == "dropped" && run.config.dropReset) {
      // A zero linger time makes the close a reset, as a crashing sender would leave it.
      LINGER hard{1, 0};
      setsockopt(run.sock, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard);
    }
    closesocket(run.sock);
    run.sock = INVALID_SOCKET;
  }
  run.running = false;
}

void CAudio::JoinSides(Call& call) {
  {
    std::lock_guard<std::mutex> g(call.lock);
    call.run[0].stop = call.run[1].stop = true;
  }
  call.wake.notify_all();
  for (auto& run : call.run)
    if (run.thread.joinable()) run.thread.join();
}

void CAudio::StopCall(const std::string& id) {
  std::lock_guard<std::mutex> g(lock_);
  auto& slot = calls_[id];
  if (!slot) {
    // Remembered even without audio, so a late redirection cannot start streams for it.
    slot = std::make_unique<Call>();
    slot->id = id;
  }
  slot->ended = true;
  JoinSides(*slot);
}

void CAudio::CloseCall(const std::string& id) {
  std::lock_guard<std::mutex> g(lock_);
  auto it = calls_.find(id);
  if (it == calls_.end()) return;
  Call& call = *it->second;
  std::lock_guard<std::mutex> c(call.lock);
  for (int k = 0; k < 2; ++k) {
    if (call.run[k].sock == INVALID_SOCKET) continue;
    shutdown(call.run[k].sock, SD_BOTH);
    closesocket(call.run[k].sock);
    call.run[k].sock = INVALID_SOCKET;
    log_.Line("AUDIO", call.id + " " + SideName(static_cast<Side>(k)) + " closed");
  }
}

void CAudio::StopAll() {
  std::vector<std::string> ids;
  {
    std::lock_guard<std::mutex> g(lock_);
    for (auto& [id, call] : calls_) ids.push_back(id);
  }
  for (const auto& id : ids) {
    StopCall(id);
    CloseCall(id);
  }
  std::lock_guard<std::mutex> g(lock_);
  for (auto& [id, call] : calls_)
    for (int k = 0; k < 2; ++k)
      if (call->run[k].connections > 0)
        log_.Line("AUDIO-TOTAL", id + " " + SideName(static_cast<Side>(k)) + " " +
                                     std::to_string(call->run[k].totalBytes) + " bytes in " +
                                     std::to_string(call->run[k].connections) + " connections");
  calls_.clear();  // every thread has been joined; the totals are reported once
}

}  // namespace sim
