// The audio side: once a call's two redirection commands have arrived, one thread per
// side connects to the recorder's port and streams PCM in real time.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Log.h"
#include "Pcm.h"
#include "Scenario.h"

namespace sim {

struct SideConfig {
  CPcmSource source = CPcmSource::Tone(440, 8000);
  bool enabled = true;
  long long delayMs = 0;  // before the first connection of a call
  long long dropMs = 0;   // close the first connection after this much audio; 0 = never
  bool dropReset = false; // drop with a reset instead of an orderly close
};

struct AudioConfig {
  SideConfig side[2];
  std::vector<size_t> segments;  // TCP write sizes in turn; empty = as the frames fall due
  long long jitterMs = 0;
};

class CAudio {
 public:
  // onConnected is told each connection made, so the scenario can wait for one.
  CAudio(CLog& log, std::function<void(Side)> onConnected);
  ~CAudio();
  CAudio(const CAudio&) = delete;
  CAudio& operator=(const CAudio&) = delete;

  // Applies to calls whose streams start afterwards.
  void Configure(const std::function<void(AudioConfig&)>& change);
  void OnRedirection(const Redirection& r);
  // Stops producing and flushes what is pending, but keeps the connections open, so the
  // call's end can be announced before the peer sees a close.
  void StopCall(const std::string& id);
  void CloseCall(const std::string& id);
  void StopAll();

 private:
  struct SideRun {
    std::thread thread;
    std::atomic<bool> running{false};
    bool stop = false;  // guarded by the call's lock
    SOCKET sock = INVALID_SOCKET;
    CPcmSource source;
    SideConfig config;
    bool dropDone = false;
    int connections = 0;
    unsigned long long totalBytes = 0;
    int port = 0;
  };
  struct Call {
    std::string id;
    bool got[2] = {false, false};
    int port[2] = {0, 0};
    bool started = false;
    bool ended = false;
    AudioConfig config;
    SideRun run[2];
    std::mutex lock;
    std::condition_variable wake;
  };

  void StartSide(Call& call, Side side, bool first);
  void RunSide(Call& call, Side side, bool first);
  void JoinSides(Call& call);

  CLog& log_;
  std::function<void(Side)> onConnected_;
  std::mutex lock_;
  AudioConfig config_;
  std::map<std::string, std::unique_ptr<Call>> calls_;
};

const char* SideName(Side s);

}  // namespace sim
