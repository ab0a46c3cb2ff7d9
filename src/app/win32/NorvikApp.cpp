// Process start and exit: the single-instance mutex, common controls, Winsock and COM.
#include "app/win32/NorvikApp.h"

#include <winsock2.h>
#include <commctrl.h>
#include <objbase.h>

#include <string>

#include "resource.h"
#include "app/win32/NorvikDlg.h"
#include "base/UiPort.h"

namespace tovik {

bool CNorvikApp::InitInstance() {
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES | ICC_BAR_CLASSES |
                                           ICC_TAB_CLASSES | ICC_UPDOWN_CLASS | ICC_PROGRESS_CLASS |
                                           ICC_HOTKEY_CLASS | ICC_ANIMATE_CLASS};
  InitCommonControlsEx(&icc);

  WSADATA wsa{};
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
    wchar_t text[256] = L"Windows sockets initialization failed.";
    LoadStringW(m_instance, IDP_SOCKETS_INIT_FAILED, text, 256);
    MessageBoxW(nullptr, text, kProductTitle, MB_OK | MB_ICONSTOP);
    return false;
  }
  m_socketsStarted = true;

  // A second copy ends silently and leaves the first alone.
  m_mutex = CreateMutexW(nullptr, FALSE, L"VM_CALLRECORDER");
  if (m_mutex && GetLastError() == ERROR_ALREADY_EXISTS) return false;

  // The result is ignored: a failed COM start only affects the shell dialogs that need it.
  m_comInitialised = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));

  {
    CNorvikDlg dlg(m_instance);
    dlg.DoModal();
  }
  return false;
}

int CNorvikApp::ExitInstance() {
  if (m_mutex) {
    CloseHandle(m_mutex);
    m_mutex = nullptr;
  }
  if (m_comInitialised) CoUninitialize();
  if (m_socketsStarted) WSACleanup();
  return 0;
}

}  // namespace tovik
