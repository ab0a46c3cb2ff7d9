// Main window: start-up and shutdown order, status line, duration display, About box.
#include "app/win32/NorvikDlg.h"

#include <shlobj.h>

#include <cstring>

#include "resource.h"
#include "app/StartupRules.h"
#include "app/WindowPlacement.h"
#include "audio/engine/win32/MessagePumpWait.h"
#include "audio/input/AudioReceiver.h"
#include "audio/input/win32/AudioReceiverInstance.h"
#include "base/Debug.h"
#include "history/RecordStore.h"

#include <shellapi.h>

#include <ctime>

namespace tovik {

namespace {
// The product's web site; its pages are opened with the shell's "open" verb.
constexpr const wchar_t* kSiteRoot = L"https://www.tovikrecorder.com/";
constexpr UINT_PTR kDurationTimer = 1;

// The controller's view of the audio side: the receiver and its recorder.
class CReceiverAudio : public IRecordingAudio {
 public:
  void StartRecording(const std::wstring& fileName, int rate, int kbps, int mode) override {
    CAudioReceiver::Instance().StartRecording(fileName, rate, kbps, mode);
  }
  void SetSide(int side) override {
    CAudioReceiver::Instance().SetSide(side);
    if (CRecorder* r = ReceiverRecorder()) r->SetSide(side);
  }
  void SetRecordingState(int state) override { CAudioReceiver::Instance().SetRecordingState(state); }
  int GetRecordingState() const override { return CAudioReceiver::Instance().GetRecordingState(); }
  std::wstring GetFileName() const override { return CAudioReceiver::Instance().GetFileName(); }
  void StopRecording() override { CAudioReceiver::Instance().StopRecording(); }
};

// The controller's view of Skype's calls.
class CSkypeCallModel : public ICallModel {
 public:
  explicit CSkypeCallModel(CSkypeClient& client) : m_client(client) {}
  std::pair<std::wstring, std::wstring> PickActiveCall() const override { return m_client.Calls().PickActiveCall(); }
  std::wstring PartnerOf(const std::wstring& id) const override { return m_client.Calls().PartnerOf(id); }
  int StatusAt(int slot) const override { return m_client.Calls().StatusAt(slot); }
  std::wstring IdAt(int slot) const override { return m_client.Calls().IdAt(slot); }
  bool AnyActive() const override { return m_client.Calls().AnyActive(); }
  bool IsIncoming() const override { return m_client.IsIncoming(); }
  void ResetCallState() override { m_client.ResetCallState(); }
  std::wstring MapList(const std::wstring& ids) const override { return m_client.Partners().MapList(ids); }

 private:
  CSkypeClient& m_client;
};

// The history: the store now; the history window joins it when it exists.
class CStoreHistory : public IHistorySink {
 public:
  bool AddRecord(const CRecordItem& item) override { return CRecordStore::Instance().AddRecord(item); }
  void InsertRecord(const CRecordItem&) override {}
  void RefreshTotals() override {}
};
}  // namespace

CWindowHandlePublication::CWindowHandlePublication(HWND window) : m_window(window) {
  m_mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4, L"CNMessage");
  if (!m_mapping) return;  // the handle is then simply not published
  m_view = MapViewOfFile(m_mapping, FILE_MAP_ALL_ACCESS, 0, 0, 4);
  if (m_view) {
    const auto h = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(window));
    std::memcpy(m_view, &h, 4);  // window handles are 32-bit values, even in 64-bit processes
  }
}

CWindowHandlePublication::~CWindowHandlePublication() {
  if (m_view) {
    FlushViewOfFile(m_view, 0);
    UnmapViewOfFile(m_view);
  }
  if (m_mapping) CloseHandle(m_mapping);
}

CNorvikDlg::CNorvikDlg(HINSTANCE instance) : m_instance(instance) {
  m_icon = LoadIconW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME));
}

CNorvikDlg::~CNorvikDlg() = default;

INT_PTR CNorvikDlg::DoModal() {
  return DialogBoxParamW(m_instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CNorvikDlg::DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  CNorvikDlg* self = nullptr;
  if (msg == WM_INITDIALOG) {
    self = reinterpret_cast<CNorvikDlg*>(lParam);
    self->m_hwnd = hwnd;
    SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
  } else {
    self = reinterpret_cast<CNorvikDlg*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  }
  return self ? self->OnMessage(msg, wParam, lParam) : FALSE;
}

INT_PTR CNorvikDlg::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_INITDIALOG:
      return OnInitDialog();
    case WM_DESTROY:
      OnDestroy();
      return TRUE;
    case WM_COMMAND:
      OnCommand(LOWORD(wParam));
      return TRUE;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
        ShowAbout();
        return TRUE;
      }
      return FALSE;
    case WM_LBUTTONDOWN:
      // The body of the window moves it, as a caption would.
      SendMessageW(m_hwnd, WM_NCLBUTTONDOWN, HTCAPTION, lParam);
      return TRUE;
    case WM_CTLCOLORSTATIC:
      return reinterpret_cast<INT_PTR>(OnCtlColorStatic(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam)));
    case WM_SKYPE_READY:
      SetStatus(STATUS_READY);
      return TRUE;
    case WM_SKYPE_REFUSED:
      OnSkypeRefused();
      return TRUE;
    case WM_CALL_CHANGED:
      if (m_controller) m_controller->OnCallChanged(static_cast<std::intptr_t>(wParam), lParam);
      return TRUE;
    case WM_FINISH_RECORDING:
      if (m_controller) m_controller->FinishRecording();
      return TRUE;
    case WM_TIMER:
      if (wParam == kDurationTimer && m_controller) m_controller->OnDurationTick();
      return TRUE;
    case WM_STREAM_LEVEL_MIC:
      SendDlgItemMessageW(m_hwnd, IDC_MICLEVEL, PBM_SETPOS, wParam, 0);
      return TRUE;
    case WM_STREAM_LEVEL_SPK:
      SendDlgItemMessageW(m_hwnd, IDC_SPKLEVEL, PBM_SETPOS, wParam, 0);
      return TRUE;
    default:
      return FALSE;
  }
}

BOOL CNorvikDlg::OnInitDialog() {
  InstallDebugOutput();
  m_messageBox.SetOwner(m_hwnd);
  SetMessageBox(&m_messageBox);

  // Recording folder: one level, result ignored.
  m_recordingFolder = RecordingFolderFor(KnownFolderPath(CSIDL_PERSONAL));
  if (!m_recordingFolder.empty() && GetFileAttributesW(m_recordingFolder.c_str()) == INVALID_FILE_ATTRIBUTES)
    CreateDirectoryW(m_recordingFolder.c_str(), nullptr);

  // Data folder, with its parents when the one-level create fails.
  m_dataFolder = DataFolderFor(KnownFolderPath(CSIDL_APPDATA));
  if (!m_dataFolder.empty() && GetFileAttributesW(m_dataFolder.c_str()) == INVALID_FILE_ATTRIBUTES &&
      !CreateDirectoryW(m_dataFolder.c_str(), nullptr))
    SHCreateDirectoryExW(nullptr, m_dataFolder.c_str(), nullptr);

  if (HMENU sys = GetSystemMenu(m_hwnd, FALSE)) {
    wchar_t about[128] = {};
    if (LoadStringW(m_instance, IDS_ABOUTBOX, about, 128) > 0) {
      AppendMenuW(sys, MF_SEPARATOR, 0, nullptr);
      AppendMenuW(sys, MF_STRING, IDM_ABOUTBOX, about);
    }
  }

  DWORD major = 0, minor = 0;
  OsVersion(major, minor);
  m_windows8OrLater = IsWindows8OrLater(major, minor) ? 1 : 0;

  LONG style = GetWindowLongW(m_hwnd, GWL_STYLE);
  style = (style & ~WS_CAPTION) | WS_MINIMIZEBOX;
  SetWindowLongW(m_hwnd, GWL_STYLE, style);
  SetWindowPos(m_hwnd, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);

  SendMessageW(m_hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
  SendMessageW(m_hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_icon));
  SetWindowTextW(m_hwnd, kProductTitle);

  m_publication = std::make_unique<CWindowHandlePublication>(m_hwnd);

  SendDlgItemMessageW(m_hwnd, IDC_MICLEVEL, PBM_SETRANGE32, 0, 512);
  SendDlgItemMessageW(m_hwnd, IDC_SPKLEVEL, PBM_SETRANGE32, 0, 512);

  CRecordStore::Instance().Open(m_dataFolder + CRecordStore::kFileName);

  SetStatus(STATUS_INIT);

  // First read of the settings: everything below may use them.
  ProfileEnvironment env{[] { return KnownFolderPath(CSIDL_PERSONAL); },
                         [] { DWORD ma = 0, mi = 0; OsVersion(ma, mi); return static_cast<int>(ma); },
                         [] { return ModulePath(); }};
  m_profile = std::make_unique<CGeneralProfile>(m_keyStore, std::move(env));
  CGeneralProfile::SetInstance(m_profile.get());
  m_profile->Load();

  m_postTarget = m_hwnd;

  StartAudioReceiver();
  StartSkypeClient();

  CSkypeClient* client = CSkypeClient::Instance();
  m_recordingAudio = std::make_unique<CReceiverAudio>();
  m_callModel = std::make_unique<CSkypeCallModel>(*client);
  m_historySink = std::make_unique<CStoreHistory>();
  m_controller = std::make_unique<CRecordingController>(
      *this, *m_recordingAudio, *m_callModel, *m_historySink, *m_profile,
      ControllerClock{[] { return static_cast<std::int64_t>(std::time(nullptr)); },
                      [](std::int64_t t) {
                        const std::time_t tt = static_cast<std::time_t>(t);
                        std::tm out{};
                        localtime_s(&out, &tt);
                        return out;
                      }});

  EnableWindow(GetDlgItem(m_hwnd, IDC_PAUSE), FALSE);
  EnableWindow(GetDlgItem(m_hwnd, IDC_UNUSED), FALSE);
  ShowWindow(GetDlgItem(m_hwnd, IDC_UNUSED), SW_HIDE);

  RestorePosition();

  m_docked = m_profile->sticksky;

  m_initialised = 1;
  SetStatus(STATUS_READY);
  DebugOutput(L"Tovik Skype Recorder: Ready for recording ...");
  return TRUE;
}

void CNorvikDlg::OnDestroy() {
  if (m_destroying) return;
  m_destroying = 1;

  PumpMessagesFor(1600);

  if (m_profile) {
    RECT r{};
    GetWindowRect(m_hwnd, &r);
    if (!m_docked) m_profile->hispos = FormatHisPos(Rect{r.left, r.top, r.right, r.bottom});
    m_profile->Save();
  }

  m_publication.reset();

  // Receive threads end (and the recorder closes its file) before the Skype client
  // they call back into goes away. A recording still running is not entered.
  CAudioReceiver::Instance().Destroy();
  CAudioReceiver::DeleteInstance();
  CSkypeClient::DestroyInstance();
  m_skypeWire.reset();
  m_postTarget = nullptr;
  m_controller.reset();
  m_callModel.reset();
  CRecordStore::DeleteInstance();

  CGeneralProfile::SetInstance(nullptr);
  m_profile.reset();
  SetMessageBox(nullptr);
}

void CNorvikDlg::StartSkypeClient() {
  m_skypeWire = std::make_unique<CSkypeWindowWire>(m_instance);
  CSkypeClient::Ports ports;
  ports.wire = m_skypeWire.get();
  ports.timers = m_skypeWire.get();
  ports.pump = m_skypeWire.get();
  CGeneralProfile* profile = m_profile.get();
  ports.settings.number = [profile](const std::wstring& name) { return profile->Number(name).value_or(0); };
  ports.settings.text = [profile](const std::wstring& name) { return profile->Text(name).value_or(L""); };
  ports.uiSleep = [](unsigned ms) { Sleep(ms); };
  ports.now = [] { return static_cast<std::int64_t>(std::time(nullptr)); };
  CSkypeClient* client = CSkypeClient::CreateInstance(std::move(ports));
  m_skypeWire->SetClient(client);
  client->Start(MakePoster(&m_postTarget));
}

void CNorvikDlg::OnSkypeRefused() {
  const std::wstring page = std::wstring(kSiteRoot) + L"issue.htm";
  const std::wstring text = L"Your skype refused me to access it.\nPlease visit the page (" + page +
                            L") to resolve the issue!";
  MessageBoxW(m_hwnd, text.c_str(), kProductTitle, MB_OK | MB_ICONEXCLAMATION);
  ShellExecuteW(m_hwnd, L"open", page.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void CNorvikDlg::OnCommand(UINT id) {
  switch (id) {
    case IDOK:
    case IDCANCEL:
      EndDialog(m_hwnd, id);
      break;
    case IDC_RECORD:
      if (m_controller) m_controller->OnRecordButton();
      break;
    case IDC_PAUSE:
      if (m_controller) m_controller->TogglePause();
      break;
    case ID_TRAY_EXIT:
      if (CRecorder* r = ReceiverRecorder()) r->Abort();
      PostQuitMessage(0);
      break;
    case ID_TRAY_ABOUT:
    case ID_APP_ABOUT_HIDDEN:
      ShowAbout();
      break;
    default:
      break;
  }
}

HBRUSH CNorvikDlg::OnCtlColorStatic(HDC dc, HWND control) {
  const int id = GetDlgCtrlID(control);
  StatusText t;
  if (id == IDC_STATUS) t = StatusFor(m_statusKind);
  else if (id == IDC_DURATION) t = DurationText(m_controller ? m_controller->Duration() : 0, m_statusKind);
  else return reinterpret_cast<HBRUSH>(GetSysColorBrush(COLOR_BTNFACE));
  SetTextColor(dc, RGB(t.colour.r, t.colour.g, t.colour.b));
  SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
  return GetSysColorBrush(COLOR_BTNFACE);
}

void CNorvikDlg::SetStatus(StatusKind kind) {
  m_statusKind = kind;
  SetDlgItemTextW(m_hwnd, IDC_STATUS, StatusFor(kind).text.c_str());
  DrawDuration();
}

void CNorvikDlg::DrawDuration() {
  const std::int64_t seconds = m_controller ? m_controller->Duration() : 0;
  SetDlgItemTextW(m_hwnd, IDC_DURATION, DurationText(seconds, m_statusKind).text.c_str());
  InvalidateRect(GetDlgItem(m_hwnd, IDC_DURATION), nullptr, TRUE);
}

void CNorvikDlg::SetRecordButton(bool recording) {
  SetDlgItemTextW(m_hwnd, IDC_RECORD, recording ? L"Stop Recording" : L"Start Recording");
}

void CNorvikDlg::SetPauseButton(bool enabled, bool paused) {
  SetDlgItemTextW(m_hwnd, IDC_PAUSE, paused ? L"Resume Recording" : L"Pause Recording");
  EnableWindow(GetDlgItem(m_hwnd, IDC_PAUSE), enabled);
}

void CNorvikDlg::EnableRecordButton() { EnableWindow(GetDlgItem(m_hwnd, IDC_RECORD), TRUE); }

void CNorvikDlg::ResetMeters() {
  SendDlgItemMessageW(m_hwnd, IDC_MICLEVEL, PBM_SETPOS, 0, 0);
  SendDlgItemMessageW(m_hwnd, IDC_SPKLEVEL, PBM_SETPOS, 0, 0);
}

void CNorvikDlg::StartDurationTimer() { SetTimer(m_hwnd, kDurationTimer, 1000, nullptr); }

void CNorvikDlg::StopDurationTimer() { KillTimer(m_hwnd, kDurationTimer); }

void CNorvikDlg::BringToFront() {
  ShowWindow(m_hwnd, SW_RESTORE);
  SetForegroundWindow(m_hwnd);
}

// The history window comes later; until then there is nothing to show.
void CNorvikDlg::ShowHistoryWindow() {}

void CNorvikDlg::PostFinishRecording() { PostMessageW(m_hwnd, WM_FINISH_RECORDING, 0, 0); }

void CNorvikDlg::StartAudioReceiver() {
  CAudioReceiver& receiver = CAudioReceiver::Instance();
  receiver.SetWindow(MakePoster(&m_postTarget));
  CGeneralProfile* profile = m_profile.get();
  receiver.SetCaptureSetting([profile] { return static_cast<int>(profile->capf); });
  receiver.SetRedirectAgain([] {
    if (CSkypeClient* client = CSkypeClient::Instance()) client->RedirectAgain();
  });
  if (CRecorder* recorder = ReceiverRecorder()) recorder->SetWaitHook(MakeMessagePumpWaitHook());
  receiver.StartMicServer();
  receiver.StartSpeakerServer();
}

void CNorvikDlg::ShowAbout() {
  DialogBoxParamW(m_instance, MAKEINTRESOURCEW(IDD_ABOUTBOX), m_hwnd,
                  [](HWND dlg, UINT msg, WPARAM wParam, LPARAM) -> INT_PTR {
                    if (msg == WM_INITDIALOG) return TRUE;
                    if (msg == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
                      EndDialog(dlg, LOWORD(wParam));
                      return TRUE;
                    }
                    return FALSE;
                  },
                  0);
}

void CNorvikDlg::RestorePosition() {
  RECT w{}, work{};
  GetWindowRect(m_hwnd, &w);
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  if (auto r = RestoredPlacement(m_profile->hispos, Rect{w.left, w.top, w.right, w.bottom},
                                 Rect{work.left, work.top, work.right, work.bottom}))
    SetWindowPos(m_hwnd, nullptr, r->left, r->top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CNorvikDlg::PumpMessagesFor(DWORD milliseconds) {
  const ULONGLONG until = GetTickCount64() + milliseconds;
  bool quit = false;
  int quitCode = 0;
  while (GetTickCount64() < until) {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      if (m.message == WM_QUIT) {
        quit = true;  // kept for the loop that owns it
        quitCode = static_cast<int>(m.wParam);
        continue;
      }
      TranslateMessage(&m);
      DispatchMessageW(&m);
    }
    Sleep(5);
  }
  if (quit) PostQuitMessage(quitCode);
}

}  // namespace tovik
