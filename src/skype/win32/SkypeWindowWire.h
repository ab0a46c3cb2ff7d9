#pragma once
// The Win32 end of the Skype desktop control interface: the registered Discover and
// Attach messages, a hidden top-level window that Skype talks to by WM_COPYDATA, the
// client's thread timers, and the UI-thread message pump the client waits with.
#include <windows.h>

#include <map>

#include "skype/SkypeClient.h"

namespace tovik {

class CSkypeWindowWire : public ISkypeWire, public ISkypeTimers, public IUiPump {
 public:
  // How long one delivery may wait for Skype's window before it counts as not taken, so
  // a hung Skype blocks only the sending thread, and only for this long.
  static constexpr UINT kDeliveryTimeoutMs = 5000;

  explicit CSkypeWindowWire(HINSTANCE instance);
  ~CSkypeWindowWire() override;

  void SetClient(CSkypeClient* client) { m_client = client; }
  HWND Window() const { return m_hwnd; }

  // ISkypeWire
  bool Open() override;
  void Close() override;
  std::intptr_t Deliver(SkypeWindowId skypeWindow, const char* utf8, std::size_t size) override;
  void BroadcastDiscover() override;

  // ISkypeTimers
  void StartTimer(SkypeTimer timer, unsigned periodMs) override;
  void StopTimer(SkypeTimer timer) override;

  // IUiPump
  bool DispatchPending(int& quitExitCode) override;
  void Wait(unsigned ms) override;
  void PostQuit(int exitCode) override;

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  static void CALLBACK TimerProc(HWND, UINT, UINT_PTR id, DWORD);
  LRESULT OnMessage(UINT msg, WPARAM wParam, LPARAM lParam);

  HINSTANCE m_instance;
  HWND m_hwnd = nullptr;
  std::wstring m_className;
  UINT m_discoverMsg = 0;
  UINT m_attachMsg = 0;
  CSkypeClient* m_client = nullptr;
  std::map<SkypeTimer, UINT_PTR> m_timers;
};

}  // namespace tovik
