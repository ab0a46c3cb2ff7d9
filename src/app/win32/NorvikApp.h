#pragma once
// The application object: one copy per logon, the OS services the program needs, and
// the main window run modally as the program's main loop.
#include <windows.h>

namespace tovik {

class CNorvikApp {
 public:
  explicit CNorvikApp(HINSTANCE instance) : m_instance(instance) {}
  // Runs the whole life of the program; false means the process simply ends.
  bool InitInstance();
  int ExitInstance();

 private:
  HINSTANCE m_instance;
  HANDLE m_mutex = nullptr;
  bool m_comInitialised = false;
  bool m_socketsStarted = false;
};

}  // namespace tovik
