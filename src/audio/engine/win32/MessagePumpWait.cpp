// Translates the recorder's "wait while pumping" into PeekMessage/MsgWaitForMultipleObjects.
#include "audio/engine/win32/MessagePumpWait.h"

#include <windows.h>

namespace tovik {

CRecorder::WaitHook MakeMessagePumpWaitHook() {
  return [](const std::function<bool()>& finished) {
    bool quit = false;
    WPARAM quitCode = 0;
    while (!finished()) {
      MSG msg;
      while (!quit && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
          quit = true;
          quitCode = msg.wParam;
          break;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
      if (finished()) break;
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    if (quit) PostQuitMessage(static_cast<int>(quitCode));
  };
}

}  // namespace tovik
