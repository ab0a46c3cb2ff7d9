#pragma once
// The narrow interfaces through which the Skype client core reaches the OS. The Win32
// shell implements them (hidden window, WM_COPYDATA, thread timers, message pump);
// tests use small in-memory ones.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace tovik {

// A window handle as an opaque number (an HWND in the Win32 shell). 0 = none.
using SkypeWindowId = std::uintptr_t;

struct ISkypeWire {
  virtual ~ISkypeWire() = default;
  // Creates whatever Skype will address (registered messages, the hidden window).
  // False when any of it cannot be made; the client then stays unstarted.
  virtual bool Open() = 0;
  // Removes what Open made. Called once by Stop after a successful Open.
  virtual void Close() = 0;
  // Hands one command to Skype's API window. `utf8` holds the UTF-8 text followed by
  // its terminating zero byte, `size` counts that zero. Runs on the sending thread and
  // must not block for ever (a hung Skype would keep Stop from finishing). Returns
  // Skype's result; 0 means the command was not taken.
  virtual std::intptr_t Deliver(SkypeWindowId skypeWindow, const char* utf8, std::size_t size) = 0;
  // Tells every top-level window that we look for Skype; does not wait for them.
  virtual void BroadcastDiscover() = 0;
};

// The client's thread timers. When one fires the shell calls the matching entry point:
// OnPingTimer, OnSearchTimer or OnStatusPollTimer.
enum class SkypeTimer { Ping, ActiveCalls, StatusPoll };

struct ISkypeTimers {
  virtual ~ISkypeTimers() = default;
  // Starts (or restarts) the timer with the given period.
  virtual void StartTimer(SkypeTimer timer, unsigned periodMs) = 0;
  virtual void StopTimer(SkypeTimer timer) = 0;
};

// Keeps the UI thread's messages flowing while a call on that thread waits.
struct IUiPump {
  virtual ~IUiPump() = default;
  // Removes, translates and dispatches every message waiting for the UI thread. When
  // one of them is a quit request it stops there, stores its exit code and returns
  // true; the request is then consumed and the caller must post it again.
  virtual bool DispatchPending(int& quitExitCode) = 0;
  // Blocks the UI thread for about `ms` milliseconds.
  virtual void Wait(unsigned ms) = 0;
  // Posts a quit request with the exit code (PostQuitMessage).
  virtual void PostQuit(int exitCode) = 0;
};

// The settings the client reads, by their registry names ("capf", "chatreply",
// "onlinereply", "notonlinereply" as numbers, "replytxt" as text). Read at each use,
// so a change in the options dialog takes effect at once.
struct SkypeSettingsReader {
  std::function<int(const std::wstring& name)> number;
  std::function<std::wstring(const std::wstring& name)> text;
};

// Pauses of the sending thread between deliveries.
struct SkypeSendPacing {
  std::chrono::milliseconds retryDelay{50};     // before delivering a refused command again
  std::chrono::milliseconds betweenCommands{10};
  std::chrono::milliseconds idlePoll{500};      // longest wait on an empty queue
};

}  // namespace tovik
