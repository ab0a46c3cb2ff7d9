// Entry point of TovikSkypeRecorder.exe.
#include <windows.h>

#include "app/win32/NorvikApp.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  tovik::CNorvikApp app(instance);
  app.InitInstance();
  return app.ExitInstance();
}
