#pragma once
// In-memory ports for the Skype client tests: a wire that records what it delivers, a
// timer port that records which timers run, a scripted message pump and settings.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/Messages.h"
#include "base/Text.h"
#include "skype/SkypeClient.h"

namespace tovik::skypetest {

constexpr SkypeWindowId kSkypeWindow = 0x5150;
constexpr SkypeWindowId kForeignWindow = 0x7777;

struct FakeWire : ISkypeWire {
  bool openResult = true;
  int opens = 0, closes = 0, discovers = 0;
  // Decides Skype's answer to each delivery attempt; takes everything by default.
  std::function<std::intptr_t(const std::string&)> answer;

  std::mutex lock;
  std::condition_variable changed;
  std::vector<std::string> attempts;      // every attempt, UTF-8 without the zero byte
  std::vector<std::string> taken;         // attempts Skype took
  bool lastHadTerminator = true;
  std::size_t lastSize = 0;

  bool Open() override { ++opens; return openResult; }
  void Close() override { ++closes; }
  void BroadcastDiscover() override { ++discovers; }
  std::intptr_t Deliver(SkypeWindowId window, const char* utf8, std::size_t size) override {
    std::lock_guard<std::mutex> hold(lock);
    EXPECT_EQ(window, kSkypeWindow);
    lastSize = size;
    lastHadTerminator = size > 0 && utf8[size - 1] == '\0';
    std::string text(utf8, size > 0 ? size - 1 : 0);
    attempts.push_back(text);
    const std::intptr_t result = answer ? answer(text) : 1;
    if (result != 0) taken.push_back(text);
    changed.notify_all();
    return result;
  }
  // Waits (bounded, so a broken client fails instead of hanging) until `n` were taken.
  bool WaitTaken(std::size_t n) {
    std::unique_lock<std::mutex> hold(lock);
    return changed.wait_for(hold, std::chrono::seconds(10), [&] { return taken.size() >= n; });
  }
};

struct FakeTimers : ISkypeTimers {
  std::map<SkypeTimer, unsigned> running;  // timer -> period
  int starts = 0;
  void StartTimer(SkypeTimer timer, unsigned periodMs) override {
    EXPECT_EQ(running.count(timer), 0u) << "a running timer must be killed before it is restarted";
    running[timer] = periodMs;
    ++starts;
  }
  void StopTimer(SkypeTimer timer) override { running.erase(timer); }
  bool IsRunning(SkypeTimer timer) const { return running.count(timer) != 0; }
};

// Each DispatchPending call runs the next scripted step (or nothing once they are
// used up); a step returns true to report a quit request.
struct FakePump : IUiPump {
  std::vector<std::function<bool()>> steps;
  std::size_t next = 0;
  int dispatches = 0, waits = 0;
  std::vector<int> quitsPosted;
  int quitCodeToReport = 0;
  bool DispatchPending(int& quitExitCode) override {
    ++dispatches;
    if (next >= steps.size()) return false;
    const bool quit = steps[next++]();
    if (quit) quitExitCode = quitCodeToReport;
    return quit;
  }
  void Wait(unsigned) override { ++waits; }
  void PostQuit(int exitCode) override { quitsPosted.push_back(exitCode); }
};

struct Posted {
  unsigned msg;
  std::intptr_t wParam, lParam;
  bool operator==(const Posted& o) const { return msg == o.msg && wParam == o.wParam && lParam == o.lParam; }
};

inline void PrintTo(const Posted& p, std::ostream* os) {
  *os << "{0x" << std::hex << p.msg << std::dec << ", " << p.wParam << ", " << p.lParam << "}";
}

// A client wired to the fakes, with the sending thread off so tests read the queue.
struct ClientHarness {
  FakeWire wire;
  FakeTimers timers;
  FakePump pump;
  std::map<std::wstring, int> numbers{{L"capf", 0}, {L"chatreply", 1}, {L"onlinereply", 0}, {L"notonlinereply", 1}};
  std::wstring replyText = L"/me is not available for chat.";
  std::vector<Posted> posted;
  std::vector<unsigned> uiSleeps;
  std::vector<std::size_t> queueSizeAtSleep;  // commands queued when the UI thread paused
  std::int64_t now = 1700000000;
  std::unique_ptr<CSkypeClient> client;

  explicit ClientHarness(bool sendingThread = false,
                         std::chrono::milliseconds retryDelay = std::chrono::milliseconds(0)) {
    CSkypeClient::Ports ports;
    ports.wire = &wire;
    ports.timers = &timers;
    ports.pump = &pump;
    ports.settings.number = [this](const std::wstring& name) { return numbers.at(name); };
    ports.settings.text = [this](const std::wstring& name) {
      EXPECT_EQ(name, L"replytxt");
      return replyText;
    };
    ports.uiSleep = [this](unsigned ms) {
      uiSleeps.push_back(ms);
      queueSizeAtSleep.push_back(client->Queue().Size());
    };
    ports.now = [this] { return now; };
    ports.pacing = SkypeSendPacing{retryDelay, std::chrono::milliseconds(0),
                                   std::chrono::milliseconds(20)};
    ports.sendingThread = sendingThread;
    client = std::make_unique<CSkypeClient>(std::move(ports));
  }

  PostToMainWindow Poster() {
    return [this](unsigned msg, std::intptr_t w, std::intptr_t l) { posted.push_back({msg, w, l}); };
  }

  // Started and attached, with the start-up queries and posts cleared away.
  void StartAndAttach() {
    ASSERT_TRUE(client->Start(Poster()));
    client->OnAttach(kSkypeWindow, CSkypeClient::kAttachSuccess);
    Queued();
    posted.clear();
  }

  // Takes every queued command off the queue, oldest first.
  std::vector<std::wstring> Queued() {
    std::vector<std::wstring> out;
    std::wstring cmd;
    while (client->Queue().Pop(cmd)) out.push_back(cmd);
    return out;
  }

  // Feeds a text as Skype's window would send it (UTF-8 with its zero byte).
  std::intptr_t Receive(const std::wstring& text, SkypeWindowId from = kSkypeWindow) {
    std::string bytes = WideToUtf8(text);
    bytes.push_back('\0');
    return client->OnCopyData(from, bytes.data(), bytes.size());
  }
};

}  // namespace tovik::skypetest
