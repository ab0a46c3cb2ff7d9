#pragma once
// Decides when a recording starts, pauses, resumes and stops, what its file is called,
// how it is encoded and what enters the history. Runs on the UI thread; the main window
// feeds it commands, call events and timer ticks and carries out what it asks through
// the small ports below.
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <utility>

#include "app/StatusLine.h"
#include "audio/input/StreamFormat.h"
#include "history/RecordStore.h"
#include "settings/GeneralProfile.h"

namespace tovik {

// The recording in progress. The first seven fields are those of the history record.
struct CRecordInfo {
  std::int32_t type = 2;
  std::uint8_t isNew = 1;
  std::int32_t duration = 0;
  std::wstring name;
  std::wstring time;
  std::wstring file;
  std::wstring note;
  std::int64_t start = 0;
  std::wstring callIds;  // "," separated, no duplicates
};

struct IRecordingView {
  virtual ~IRecordingView() = default;
  virtual void SetStatus(StatusKind kind) = 0;
  virtual void SetRecordButton(bool recording) = 0;           // "Stop Recording" / "Start Recording"
  virtual void SetPauseButton(bool enabled, bool paused) = 0;  // "Resume Recording" / "Pause Recording"
  virtual void EnableRecordButton() = 0;
  virtual void ResetMeters() = 0;
  virtual void StartDurationTimer() = 0;  // timer 1, 1000 ms
  virtual void StopDurationTimer() = 0;
  virtual void DrawDuration() = 0;
  virtual void BringToFront() = 0;
  virtual void ShowHistoryWindow() = 0;
  virtual void PostFinishRecording() = 0;  // WM_FINISH_RECORDING to the main window itself
};

struct IRecordingAudio {
  virtual ~IRecordingAudio() = default;
  virtual void StartRecording(const std::wstring& fileName, int rate, int bitrateKbps, int mode) = 0;
  virtual void SetSide(int side) = 0;  // the receiver's and the recorder's
  virtual void SetRecordingState(int state) = 0;
  virtual int GetRecordingState() const = 0;
  virtual std::wstring GetFileName() const = 0;
  virtual void StopRecording() = 0;
};

struct ICallModel {
  virtual ~ICallModel() = default;
  virtual std::pair<std::wstring, std::wstring> PickActiveCall() const = 0;  // id, partner
  virtual std::wstring PartnerOf(const std::wstring& id) const = 0;
  virtual int StatusAt(int slot) const = 0;
  virtual std::wstring IdAt(int slot) const = 0;
  virtual bool AnyActive() const = 0;
  virtual bool IsIncoming() const = 0;
  virtual void ResetCallState() = 0;
  virtual std::wstring MapList(const std::wstring& ids) const = 0;
};

struct IHistorySink {
  virtual ~IHistorySink() = default;
  virtual bool AddRecord(const CRecordItem& item) = 0;
  // The history window's part; it does nothing until that window exists.
  virtual void InsertRecord(const CRecordItem& item) = 0;
  virtual void RefreshTotals() = 0;
};

struct ControllerClock {
  std::function<std::int64_t()> now;                  // seconds since 1970 UTC
  std::function<std::tm(std::int64_t)> localTime;     // broken-down local time
};

// Encoder tables indexed by "asample", "abitrate" and "amode"; 0 outside them.
int SampleRateFor(int index);
int BitrateFor(int index);
int ChannelModeFor(int index);

// The file-name rules: partner or time text, "undisclosed_pstn", the nine characters.
std::wstring FormatStartTime(const std::tm& local);
std::wstring RecordingName(const std::wstring& partner, const std::wstring& partnerOfId,
                           const std::wstring& detected);
std::wstring BaseFileName(const std::wstring& name, const std::wstring& timeText);
// Adds an id to a "," list unless an item equals it without regard to case.
std::wstring AddCallId(const std::wstring& list, const std::wstring& id);

class CRecordingController {
 public:
  CRecordingController(IRecordingView& view, IRecordingAudio& audio, ICallModel& calls, IHistorySink& history,
                       CGeneralProfile& profile, ControllerClock clock);

  // Command 1001, command 1002, WM_FINISH_RECORDING, WM_CALL_CHANGED, timer 1.
  void OnRecordButton();
  void TogglePause();
  void FinishRecording();
  void OnCallChanged(std::intptr_t slot, std::intptr_t what);
  void OnDurationTick();

  void BeginRecording();
  void EndRecording();

  bool IsRecording() const;
  std::int64_t Duration() const { return m_duration; }
  const CRecordInfo& Info() const { return m_info; }
  void SetDetectedPartner(const std::wstring& partner) { m_detectedPartner = partner; }

 private:
  IRecordingView& m_view;
  IRecordingAudio& m_audio;
  ICallModel& m_calls;
  IHistorySink& m_history;
  CGeneralProfile& m_profile;
  ControllerClock m_clock;

  CRecordInfo m_info;
  std::int64_t m_duration = 0;
  std::wstring m_detectedPartner;
};

}  // namespace tovik
