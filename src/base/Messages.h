#pragma once
// The window messages the main window receives, and the port through which the core
// posts them. Other threads reach the main window only by posting.
#include <cstdint>
#include <functional>

namespace tovik {

constexpr unsigned WM_DEVICE_LEVEL_SPK = 0x448;
constexpr unsigned WM_DEVICE_LEVEL_MIC = 0x449;
constexpr unsigned WM_DATA_CHANGED = 0x4C8;
constexpr unsigned WM_TRAY_NOTIFY = 0x501;
constexpr unsigned WM_STREAM_LEVEL_MIC = 0x511;
constexpr unsigned WM_STREAM_LEVEL_SPK = 0x512;
constexpr unsigned WM_FINISH_RECORDING = 0x513;
constexpr unsigned WM_SKYPE_READY = 0x5FC;
constexpr unsigned WM_CALL_CHANGED = 0x5FE;
constexpr unsigned WM_SKYPE_REFUSED = 0x609;
constexpr unsigned WM_SKYPE_WINDOW = 0x60D;
constexpr unsigned WM_AUDIO_FAILED = 0x60E;
constexpr unsigned WM_SKYPE_MIC_DEVICE = 0x60F;
constexpr unsigned WM_SKYPE_SPK_DEVICE = 0x610;
constexpr unsigned WM_DETECTED_CALL_START = 0x611;
constexpr unsigned WM_DETECTED_CALL_END = 0x612;

// Posts (never sends) a message to the main window. Thread-safe in the Win32 adapter
// (PostMessageW); tests record what was posted.
using PostToMainWindow = std::function<void(unsigned msg, std::intptr_t wParam, std::intptr_t lParam)>;

}  // namespace tovik
