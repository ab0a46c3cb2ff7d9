// Win32 implementations of the core's ports.
#include "app/win32/Win32Ports.h"

#include <shlobj.h>

#include "base/Debug.h"

namespace tovik {

void CWin32MessageBox::Show(const std::wstring& text, const std::wstring& caption, MessageIcon icon) {
  UINT flags = MB_OK;
  switch (icon) {
    case MessageIcon::Information: flags |= MB_ICONINFORMATION; break;
    case MessageIcon::Exclamation: flags |= MB_ICONEXCLAMATION; break;
    case MessageIcon::Error: flags |= MB_ICONERROR; break;
  }
  MessageBoxW(m_owner, text.c_str(), caption.c_str(), flags);
}

PostToMainWindow MakePoster(HWND* window) {
  return [window](unsigned msg, std::intptr_t wParam, std::intptr_t lParam) {
    if (HWND w = *window) PostMessageW(w, msg, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam));
  };
}

void InstallDebugOutput() {
  SetDebugSink([](const std::wstring& text) { OutputDebugStringW(text.c_str()); });
}

std::wstring KnownFolderPath(int csidl) {
  wchar_t path[MAX_PATH] = {};
  if (SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path) != S_OK) return {};
  return path;
}

void OsVersion(DWORD& major, DWORD& minor) {
  major = 0;
  minor = 0;
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  if (HMODULE ntdll = GetModuleHandleW(L"ntdll.dll")) {
    auto fn = reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
    OSVERSIONINFOW vi{};
    vi.dwOSVersionInfoSize = sizeof vi;
    if (fn && fn(&vi) == 0) {
      major = vi.dwMajorVersion;
      minor = vi.dwMinorVersion;
    }
  }
}

std::wstring ModulePath() {
  wchar_t path[520] = {};
  const DWORD n = GetModuleFileNameW(nullptr, path, 520);
  return std::wstring(path, n);
}

}  // namespace tovik
