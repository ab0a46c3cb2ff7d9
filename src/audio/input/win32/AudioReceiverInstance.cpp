// The program's single audio receiver: two Winsock servers and the engine's recorder.
#include <memory>

#include "audio/input/win32/AudioReceiverInstance.h"

#include "audio/engine/Recorder.h"
#include "audio/input/AudioReceiver.h"
#include "audio/input/win32/AudioServer.h"

namespace tovik {
namespace {
CAudioReceiver* g_receiver = nullptr;  // first use is on the UI thread during start-up
}

CAudioReceiver& CAudioReceiver::Instance() {
  if (g_receiver == nullptr) {
    g_receiver = new CAudioReceiver(std::make_unique<CAudioServer>(), std::make_unique<CAudioServer>(),
                                    std::make_unique<CRecorderAdapter<CRecorder>>(std::make_unique<CRecorder>()));
  }
  return *g_receiver;
}

CRecorder* ReceiverRecorder() {
  // The receiver is made only here, always with this adapter.
  auto* adapter = static_cast<CRecorderAdapter<CRecorder>*>(CAudioReceiver::Instance().Recorder());
  return adapter != nullptr ? &adapter->Get() : nullptr;
}

void CAudioReceiver::DeleteInstance() {
  delete g_receiver;
  g_receiver = nullptr;
}

}  // namespace tovik
