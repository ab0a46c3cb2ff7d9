#pragma once
// Win32 half of CRecorder::Stop's wait: keeps the main window's messages flowing while the
// mixer thread drains the queued frames.
#include "audio/engine/Recorder.h"

namespace tovik {

// Dispatches every pending message, then sleeps until a message arrives or 5 ms pass,
// until the mixer has finished. A WM_QUIT seen meanwhile is posted again afterwards so the
// main loop still ends.
CRecorder::WaitHook MakeMessagePumpWaitHook();

}  // namespace tovik
