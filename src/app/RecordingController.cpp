#include "app/RecordingController.h"

#include <cwchar>

#include "base/Text.h"

namespace tovik {

namespace {
constexpr int kSampleRates[] = {16000, 32000, 44100, 48000};
constexpr int kBitrates[] = {32, 64, 96, 128, 192, 256};
constexpr int kModes[] = {0, 1, 2};

template <size_t N>
int Lookup(const int (&table)[N], int index) {
  return (index >= 0 && static_cast<size_t>(index) < N) ? table[index] : 0;
}

bool IsEndedStatus(int status) { return status == 4 || (status >= 8 && status <= 12); }
}  // namespace

int SampleRateFor(int index) { return Lookup(kSampleRates, index); }
int BitrateFor(int index) { return Lookup(kBitrates, index); }
int ChannelModeFor(int index) { return Lookup(kModes, index); }

std::wstring FormatStartTime(const std::tm& t) {
  wchar_t buf[64];
  std::swprintf(buf, 64, L"%04d-%02d-%02d_%02d-%02d-%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour,
                t.tm_min, t.tm_sec);
  return buf;
}

std::wstring RecordingName(const std::wstring& partner, const std::wstring& partnerOfId,
                           const std::wstring& detected) {
  std::wstring name = partner;
  if (name.empty()) name = partnerOfId;
  if (name.empty()) name = detected;
  if (name.find(L"undisclosed_pstn:") != std::wstring::npos) name = L"undisclosed_pstn";
  return name;
}

std::wstring BaseFileName(const std::wstring& name, const std::wstring& timeText) {
  std::wstring base = name.empty() ? timeText : name + L"_" + timeText;
  for (wchar_t& c : base) {
    switch (c) {
      case L'\\': case L'/': case L':': case L'*': case L'?': case L'"': case L'<': case L'>': case L'|':
        c = L'-';
        break;
      default:
        break;
    }
  }
  return base;
}

std::wstring AddCallId(const std::wstring& list, const std::wstring& id) {
  if (list.empty()) return id;
  for (const std::wstring& item : Split(list, L","))
    if (EqualsNoCase(item, id)) return list;
  return list + L"," + id;
}

CRecordingController::CRecordingController(IRecordingView& view, IRecordingAudio& audio, ICallModel& calls,
                                           IHistorySink& history, CGeneralProfile& profile, ControllerClock clock)
    : m_view(view), m_audio(audio), m_calls(calls), m_history(history), m_profile(profile),
      m_clock(std::move(clock)) {}

bool CRecordingController::IsRecording() const {
  const int s = m_audio.GetRecordingState();
  return s == REC_RECORDING || s == REC_PAUSED || s == REC_RESUMED;
}

void CRecordingController::OnRecordButton() {
  if (IsRecording()) EndRecording();
  else BeginRecording();
}

void CRecordingController::BeginRecording() {
  const auto [id, partner] = m_calls.PickActiveCall();

  m_view.SetStatus(STATUS_RECORDING);
  m_view.SetRecordButton(true);
  m_view.SetPauseButton(true, false);

  std::wstring name = RecordingName(partner, partner.empty() ? m_calls.PartnerOf(id) : std::wstring(),
                                    m_detectedPartner);
  const std::int64_t start = m_clock.now();
  const std::wstring timeText = FormatStartTime(m_clock.localTime(start));
  const std::wstring base = BaseFileName(name, timeText);
  if (name.empty()) name = timeText;
  std::wstring folder = m_profile.sfolder;
  const std::wstring fileName = folder + L"\\" + base;

  if (!id.empty()) m_info.callIds = AddCallId(m_info.callIds, id);
  m_info.type = m_calls.IsIncoming() ? 1 : 2;
  m_info.isNew = 1;
  m_info.name = name;
  m_info.start = start;
  wchar_t timeBuf[32];
  // The low 32 bits, as the history has always stored them.
  std::swprintf(timeBuf, 32, L"%ld", static_cast<long>(static_cast<std::int32_t>(start)));
  m_info.time = timeBuf;
  m_info.file = fileName + L".mp3";
  m_info.note.clear();

  m_audio.StartRecording(fileName, SampleRateFor(m_profile.asample), BitrateFor(m_profile.abitrate),
                         ChannelModeFor(m_profile.amode));
  m_audio.SetSide(m_profile.recside);
  m_audio.SetRecordingState(REC_RECORDING);

  m_duration = 0;
  m_view.StartDurationTimer();
  m_view.DrawDuration();
}

void CRecordingController::EndRecording() {
  m_view.PostFinishRecording();
  m_view.SetRecordButton(false);
  m_view.SetPauseButton(false, false);
  m_view.ResetMeters();
  m_view.SetStatus(STATUS_READY);
  m_view.StopDurationTimer();
  m_duration = 0;
  m_view.DrawDuration();
}

void CRecordingController::FinishRecording() {
  m_audio.StopRecording();
  CRecordItem item;
  item.type = m_info.type;
  item.isNew = m_info.isNew != 0;
  item.name = m_info.name;
  item.time = m_info.time;
  item.file = m_info.file;
  item.note = m_info.note;
  const std::int64_t elapsed = m_clock.now() - m_info.start;
  item.duration = static_cast<std::int32_t>(elapsed < 0 ? 0 : elapsed);
  if (!m_info.callIds.empty()) item.name = m_calls.MapList(m_info.callIds);
  else if (!m_detectedPartner.empty()) item.name = m_detectedPartner;
  m_history.AddRecord(item);
  m_history.InsertRecord(item);
  m_history.RefreshTotals();
  m_info.callIds.clear();
}

void CRecordingController::TogglePause() {
  const int s = m_audio.GetRecordingState();
  if (s == REC_RECORDING || s == REC_RESUMED) {
    m_audio.SetRecordingState(REC_PAUSED);
    m_view.SetPauseButton(true, true);
    m_view.SetStatus(STATUS_PAUSED);
    m_view.StopDurationTimer();
  } else if (s == REC_PAUSED) {
    m_audio.SetRecordingState(REC_RESUMED);
    m_view.SetPauseButton(true, false);
    m_view.SetStatus(STATUS_RECORDING);
    m_view.StartDurationTimer();
  }
}

void CRecordingController::OnDurationTick() {
  ++m_duration;
  m_view.DrawDuration();
}

void CRecordingController::OnCallChanged(std::intptr_t slot, std::intptr_t what) {
  if (what != 2) return;
  const bool inTable = slot >= 0 && slot < 20;
  const int status = inTable ? m_calls.StatusAt(static_cast<int>(slot)) : 0;
  const std::wstring id = inTable ? m_calls.IdAt(static_cast<int>(slot)) : std::wstring();

  if (status == 6) {
    if (!IsRecording()) {
      if (m_profile.notifycov) m_view.BringToFront();
      if (m_profile.rectype == 1) BeginRecording();
    }
    m_view.EnableRecordButton();
    if (IsRecording() && !id.empty()) m_info.callIds = AddCallId(m_info.callIds, id);
  } else if (IsEndedStatus(status)) {
    // An empty id is in every list as a substring; it names no call of ours.
    if (IsRecording() && !id.empty() && m_info.callIds.find(id) != std::wstring::npos && !m_calls.AnyActive()) {
      if (m_profile.notifyfinish) m_view.BringToFront();
      if (m_profile.notifyhistory) m_view.ShowHistoryWindow();
      EndRecording();
    }
    if (!m_calls.AnyActive()) m_calls.ResetCallState();
  }
}

}  // namespace tovik
