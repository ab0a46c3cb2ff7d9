// Translates between Skype's window messages and the client core's entry points.
#include "skype/win32/SkypeWindowWire.h"

#include <rpc.h>

namespace tovik {
namespace {

// Thread timers carry no window, so their callback finds the wire through this map.
std::map<UINT_PTR, std::pair<CSkypeWindowWire*, SkypeTimer>>& TimerOwners() {
  static std::map<UINT_PTR, std::pair<CSkypeWindowWire*, SkypeTimer>> owners;
  return owners;
}

std::wstring NewUuidText() {
  UUID uuid{};
  UuidCreate(&uuid);
  RPC_WSTR text = nullptr;
  std::wstring out;
  if (UuidToStringW(&uuid, &text) == RPC_S_OK) {
    out = reinterpret_cast<wchar_t*>(text);
    RpcStringFreeW(&text);
  }
  return out;
}

}  // namespace

CSkypeWindowWire::CSkypeWindowWire(HINSTANCE instance) : m_instance(instance) {}

CSkypeWindowWire::~CSkypeWindowWire() { Close(); }

bool CSkypeWindowWire::Open() {
  if (m_hwnd) return true;
  m_discoverMsg = RegisterWindowMessageW(L"SkypeControlAPIDiscover");
  m_attachMsg = RegisterWindowMessageW(L"SkypeControlAPIAttach");
  if (!m_discoverMsg || !m_attachMsg) return false;

  m_className = L"ISkypeWnd" + NewUuidText();
  WNDCLASSEXW wc{sizeof wc};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = m_instance;
  wc.lpszClassName = m_className.c_str();
  if (!RegisterClassExW(&wc)) return false;
  // A top-level window (hidden), not a message-only one: Skype's "API available"
  // broadcast only reaches top-level windows.
  m_hwnd = CreateWindowExW(0, m_className.c_str(), L"ISkypeUIWnd", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                           m_instance, this);
  if (!m_hwnd) {
    UnregisterClassW(m_className.c_str(), m_instance);
    return false;
  }
  return true;
}

void CSkypeWindowWire::Close() {
  for (auto& [timer, id] : m_timers) {
    KillTimer(nullptr, id);
    TimerOwners().erase(id);
  }
  m_timers.clear();
  if (m_hwnd) {
    DestroyWindow(m_hwnd);
    m_hwnd = nullptr;
    UnregisterClassW(m_className.c_str(), m_instance);
  }
}

std::intptr_t CSkypeWindowWire::Deliver(SkypeWindowId skypeWindow, const char* utf8, std::size_t size) {
  COPYDATASTRUCT cds{};
  cds.dwData = 0;
  cds.cbData = static_cast<DWORD>(size);
  cds.lpData = const_cast<char*>(utf8);
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(reinterpret_cast<HWND>(skypeWindow), WM_COPYDATA, reinterpret_cast<WPARAM>(m_hwnd),
                           reinterpret_cast<LPARAM>(&cds), SMTO_NORMAL | SMTO_ABORTIFHUNG, kDeliveryTimeoutMs,
                           &result))
    return 0;
  return static_cast<std::intptr_t>(result);
}

void CSkypeWindowWire::BroadcastDiscover() {
  SendNotifyMessageW(HWND_BROADCAST, m_discoverMsg, reinterpret_cast<WPARAM>(m_hwnd), 0);
}

void CSkypeWindowWire::StartTimer(SkypeTimer timer, unsigned periodMs) {
  StopTimer(timer);
  const UINT_PTR id = SetTimer(nullptr, 0, periodMs, TimerProc);
  if (!id) return;
  m_timers[timer] = id;
  TimerOwners()[id] = {this, timer};
}

void CSkypeWindowWire::StopTimer(SkypeTimer timer) {
  auto it = m_timers.find(timer);
  if (it == m_timers.end()) return;
  KillTimer(nullptr, it->second);
  TimerOwners().erase(it->second);
  m_timers.erase(it);
}

void CALLBACK CSkypeWindowWire::TimerProc(HWND, UINT, UINT_PTR id, DWORD) {
  auto it = TimerOwners().find(id);
  if (it == TimerOwners().end()) return;
  CSkypeClient* client = it->second.first->m_client;
  if (!client) return;
  switch (it->second.second) {
    case SkypeTimer::Ping: client->OnPingTimer(); break;
    case SkypeTimer::ActiveCalls: client->OnSearchTimer(); break;
    case SkypeTimer::StatusPoll: client->OnStatusPollTimer(); break;
  }
}

bool CSkypeWindowWire::DispatchPending(int& quitExitCode) {
  MSG m;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    if (m.message == WM_QUIT) {
      quitExitCode = static_cast<int>(m.wParam);
      return true;
    }
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
  return false;
}

void CSkypeWindowWire::Wait(unsigned ms) { MsgWaitForMultipleObjects(0, nullptr, FALSE, ms, QS_ALLINPUT); }

void CSkypeWindowWire::PostQuit(int exitCode) { PostQuitMessage(exitCode); }

LRESULT CALLBACK CSkypeWindowWire::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  auto* self = reinterpret_cast<CSkypeWindowWire*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self && self->m_hwnd == hwnd) return self->OnMessage(msg, wParam, lParam);
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

LRESULT CSkypeWindowWire::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_COPYDATA) {
    const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    if (!m_client || !cds) return 0;
    return m_client->OnCopyData(static_cast<SkypeWindowId>(wParam), cds->lpData, cds->cbData);
  }
  if (msg == m_attachMsg && m_attachMsg != 0) {
    if (m_client) m_client->OnAttach(static_cast<SkypeWindowId>(wParam), static_cast<std::intptr_t>(lParam));
    return 1;
  }
  return DefWindowProcW(m_hwnd, msg, wParam, lParam);
}

}  // namespace tovik
