#pragma once
// The outgoing command queue between the UI thread (and the audio threads) that post
// commands and the sending thread that delivers them. Commands are accepted and handed
// out only while the queue is enabled, that is while Skype is attached.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>

namespace tovik {

class CCommandQueue {
 public:
  // Appends when enabled and the text is not empty.
  bool Push(const std::wstring& text);
  // Removes the oldest command when enabled and one is waiting.
  bool Pop(std::wstring& text);
  void Clear();
  // Disabling keeps what is queued; it is handed out again once re-enabled.
  void SetEnabled(bool enabled);
  bool IsEnabled() const;
  std::size_t Size() const;

  // Lets the sending thread sleep on an empty queue without missing a push: returns
  // when a command may be ready, Wake was called, or the time-out passed.
  void WaitForWork(std::chrono::milliseconds timeout);
  void Wake();

 private:
  mutable std::mutex m_lock;
  std::condition_variable m_changed;
  std::deque<std::wstring> m_commands;
  bool m_enabled = false;
  bool m_woken = false;
};

}  // namespace tovik
