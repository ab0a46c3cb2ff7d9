#pragma once
// The engine's recorder owned by the program's receiver, for the main window's own calls
// (SetSide, Abort, SetWaitHook). Null once the receiver has been destroyed.
#include "audio/engine/Recorder.h"

namespace tovik {

CRecorder* ReceiverRecorder();

}  // namespace tovik
