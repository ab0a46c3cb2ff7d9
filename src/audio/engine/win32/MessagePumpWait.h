#pragma once
// Win32 half of CRecorder::Stop's wait: keeps the main window's messages flowing while the
// mixer thread drains the queued frames. Header-only so every Win32 target that includes it
// gets it without a separate object.
#include <windows.h>

#include "audio/engine/Recorder.h"

namespace tovik {

// Dispatches every pending message, then sleeps until a message arrives or 5 ms pass,
// until the mixer has finished. A WM_QUIT seen meanwhile is posted again afterwards so the
// main loop still ends.
inline CRecorder::WaitHook MakeMessagePumpWaitHook() {
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
