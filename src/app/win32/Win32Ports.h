#pragma once
// The Win32 ends of the core's small ports: message boxes, posting to the main window,
// the debugger output channel, and facts about the machine.
#include <windows.h>

#include <string>

#include "base/Messages.h"
#include "base/UiPort.h"

namespace tovik {

class CWin32MessageBox : public IMessageBox {
 public:
  void SetOwner(HWND owner) { m_owner = owner; }
  void Show(const std::wstring& text, const std::wstring& caption, MessageIcon icon) override;

 private:
  HWND m_owner = nullptr;
};

// PostMessageW to a window that may not exist yet (posting to null does nothing).
PostToMainWindow MakePoster(HWND* window);

// Routes DebugOutput to OutputDebugStringW.
void InstallDebugOutput();

std::wstring KnownFolderPath(int csidl);
// The real version, not the compatibility-shimmed one GetVersionEx reports.
void OsVersion(DWORD& major, DWORD& minor);
std::wstring ModulePath();

}  // namespace tovik
