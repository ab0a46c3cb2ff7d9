#pragma once
// The main window (dialog 102): the composition root that creates the long-lived
// objects in their order at initialisation and tears them down at destruction.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "app/RecordingController.h"
#include "app/StatusLine.h"
#include "app/win32/Win32Ports.h"
#include "settings/GeneralProfile.h"
#include "settings/win32/RegistryKeyStore.h"
#include "skype/win32/SkypeWindowWire.h"

namespace tovik {

// Publishes the main window's handle in the named mapping "CNMessage" (4 bytes), for
// code that knows only the name.
class CWindowHandlePublication {
 public:
  explicit CWindowHandlePublication(HWND window);
  ~CWindowHandlePublication();
  CWindowHandlePublication(const CWindowHandlePublication&) = delete;
  CWindowHandlePublication& operator=(const CWindowHandlePublication&) = delete;

 private:
  HWND m_window;
  HANDLE m_mapping = nullptr;
  void* m_view = nullptr;
};

class CNorvikDlg : public IRecordingView {
 public:
  explicit CNorvikDlg(HINSTANCE instance);
  ~CNorvikDlg();
  INT_PTR DoModal();

  HWND Window() const { return m_hwnd; }

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  BOOL OnInitDialog();
  void OnDestroy();
  void OnCommand(UINT id);
  HBRUSH OnCtlColorStatic(HDC dc, HWND control);

  void ShowAbout();
  void RestorePosition();
  void PumpMessagesFor(DWORD milliseconds);
  void StartSkypeClient();
  void StartAudioReceiver();
  void OnSkypeRefused();

  // IRecordingView: what the recording controller asks of the window.
  void SetStatus(StatusKind kind) override;
  void SetRecordButton(bool recording) override;
  void SetPauseButton(bool enabled, bool paused) override;
  void EnableRecordButton() override;
  void ResetMeters() override;
  void StartDurationTimer() override;
  void StopDurationTimer() override;
  void DrawDuration() override;
  void BringToFront() override;
  void ShowHistoryWindow() override;
  void PostFinishRecording() override;

  HINSTANCE m_instance;
  HWND m_hwnd = nullptr;
  HICON m_icon = nullptr;

  std::uint8_t m_destroying = 0;
  std::uint8_t m_initialised = 0;
  std::uint8_t m_docked = 0;
  std::uint8_t m_adClosed = 0;
  std::uint8_t m_audioFailureShown = 0;
  std::uint8_t m_windows8OrLater = 1;
  StatusKind m_statusKind = STATUS_INIT;

  std::wstring m_recordingFolder;
  std::wstring m_dataFolder;

  CWin32MessageBox m_messageBox;
  CRegistryKeyStore m_keyStore;
  std::unique_ptr<CWindowHandlePublication> m_publication;
  std::unique_ptr<CGeneralProfile> m_profile;
  std::unique_ptr<CSkypeWindowWire> m_skypeWire;
  std::unique_ptr<IRecordingAudio> m_recordingAudio;
  std::unique_ptr<ICallModel> m_callModel;
  std::unique_ptr<IHistorySink> m_historySink;
  std::unique_ptr<CRecordingController> m_controller;
  HWND m_postTarget = nullptr;  // what the core's posts go to; null before and after the window lives
};

}  // namespace tovik
