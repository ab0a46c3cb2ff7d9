#include "skype/CommandQueue.h"

namespace tovik {

bool CCommandQueue::Push(const std::wstring& text) {
  {
    std::lock_guard<std::mutex> hold(m_lock);
    if (!m_enabled || text.empty()) return false;
    m_commands.push_back(text);
  }
  m_changed.notify_all();
  return true;
}

bool CCommandQueue::Pop(std::wstring& text) {
  std::lock_guard<std::mutex> hold(m_lock);
  if (!m_enabled || m_commands.empty()) return false;
  text = std::move(m_commands.front());
  m_commands.pop_front();
  return true;
}

void CCommandQueue::Clear() {
  std::lock_guard<std::mutex> hold(m_lock);
  m_commands.clear();
}

void CCommandQueue::SetEnabled(bool enabled) {
  {
    std::lock_guard<std::mutex> hold(m_lock);
    m_enabled = enabled;
  }
  m_changed.notify_all();
}

bool CCommandQueue::IsEnabled() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_enabled;
}

std::size_t CCommandQueue::Size() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_commands.size();
}

void CCommandQueue::WaitForWork(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> hold(m_lock);
  m_changed.wait_for(hold, timeout, [this] { return m_woken || (m_enabled && !m_commands.empty()); });
  m_woken = false;
}

void CCommandQueue::Wake() {
  {
    std::lock_guard<std::mutex> hold(m_lock);
    m_woken = true;
  }
  m_changed.notify_all();
}

}  // namespace tovik
