#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "app/RecordingController.h"
#include "settings/MemoryKeyStore.h"

using namespace tovik;

namespace {

struct FakeView : IRecordingView {
  std::vector<std::string> log;
  bool recordButtonRecording = false, pauseEnabled = false, pausePaused = false, timer = false;
  int fronts = 0, histories = 0, finishes = 0;
  StatusKind status = STATUS_READY;
  void SetStatus(StatusKind k) override { status = k; }
  void SetRecordButton(bool r) override { recordButtonRecording = r; }
  void SetPauseButton(bool e, bool p) override { pauseEnabled = e; pausePaused = p; }
  void EnableRecordButton() override {}
  void ResetMeters() override { log.push_back("meters"); }
  void StartDurationTimer() override { timer = true; }
  void StopDurationTimer() override { timer = false; }
  void DrawDuration() override {}
  void BringToFront() override { ++fronts; }
  void ShowHistoryWindow() override { ++histories; }
  void PostFinishRecording() override { ++finishes; }
};

struct FakeAudio : IRecordingAudio {
  int state = REC_IDLE;
  int side = -1;
  std::wstring file;
  int rate = 0, kbps = 0, mode = -1, starts = 0, stops = 0;
  void StartRecording(const std::wstring& f, int r, int b, int m) override {
    if (state == REC_RECORDING || state == REC_PAUSED || state == REC_RESUMED) return;
    file = f + L".mp3"; rate = r; kbps = b; mode = m; ++starts;
  }
  void SetSide(int s) override { side = s; }
  void SetRecordingState(int s) override { state = s; }
  int GetRecordingState() const override { return state; }
  std::wstring GetFileName() const override { return file; }
  void StopRecording() override { state = REC_STOPPED; ++stops; }
};

struct FakeCalls : ICallModel {
  struct Call { std::wstring id, partner; int status; };
  std::map<int, Call> slots;
  bool incoming = true;
  int resets = 0;
  std::pair<std::wstring, std::wstring> PickActiveCall() const override {
    for (auto& [slot, c] : slots)
      if (c.status == 6 || c.status == 7) return {c.id, c.partner};
    return {};
  }
  std::wstring PartnerOf(const std::wstring& id) const override {
    for (auto& [slot, c] : slots) if (c.id == id) return c.partner;
    return L"";
  }
  int StatusAt(int slot) const override { auto it = slots.find(slot); return it == slots.end() ? 0 : it->second.status; }
  std::wstring IdAt(int slot) const override { auto it = slots.find(slot); return it == slots.end() ? L"" : it->second.id; }
  bool AnyActive() const override {
    for (auto& [slot, c] : slots) if (c.status == 6 || c.status == 7) return true;
    return false;
  }
  bool IsIncoming() const override { return incoming; }
  void ResetCallState() override { ++resets; }
  std::wstring MapList(const std::wstring& ids) const override {
    std::wstring out;
    size_t start = 0;
    for (;;) {
      size_t p = ids.find(L',', start);
      std::wstring id = ids.substr(start, p == std::wstring::npos ? std::wstring::npos : p - start);
      std::wstring partner = PartnerOf(id);
      if (!out.empty()) out += L",";
      out += partner.empty() ? id : partner;
      if (p == std::wstring::npos) break;
      start = p + 1;
    }
    return out;
  }
};

struct FakeHistory : IHistorySink {
  std::vector<CRecordItem> added;
  bool AddRecord(const CRecordItem& item) override { added.push_back(item); return true; }
  void InsertRecord(const CRecordItem&) override {}
  void RefreshTotals() override {}
};

struct Fixture {
  CMemoryKeyStore store;
  CGeneralProfile profile{store, ProfileEnvironment{[] { return std::wstring(L"C:\\docs"); }, [] { return 10; }, {}}};
  FakeView view;
  FakeAudio audio;
  FakeCalls calls;
  FakeHistory history;
  std::int64_t now = 1557065000;  // near 5 May 2019
  std::tm local{};
  CRecordingController ctl{view, audio, calls, history, profile,
                           ControllerClock{[this] { return now; }, [this](std::int64_t) { return local; }}};
  Fixture() {
    profile.sfolder = L"C:\\rec";
    local.tm_year = 2019 - 1900; local.tm_mon = 4; local.tm_mday = 5;
    local.tm_hour = 14; local.tm_min = 3; local.tm_sec = 7;
  }
  void Status(int slot, const wchar_t* id, const wchar_t* partner, int status) {
    calls.slots[slot] = {id, partner, status};
    ctl.OnCallChanged(slot, 2);
  }
  void Finish() { if (view.finishes) { ctl.FinishRecording(); view.finishes = 0; } }
};

}  // namespace

TEST(AppController, FileNamesFollowThePartnerAndTheStartTime) {
  struct Case { const wchar_t* partner; const wchar_t* detected; const wchar_t* file; const wchar_t* name; };
  const Case cases[] = {
      {L"echo123", L"", L"C:\\rec\\echo123_2019-05-05_14-03-07.mp3", L"echo123"},
      {L"+undisclosed_pstn:4912345", L"", L"C:\\rec\\undisclosed_pstn_2019-05-05_14-03-07.mp3", L"undisclosed_pstn"},
      {L"", L"", L"C:\\rec\\2019-05-05_14-03-07.mp3", L"2019-05-05_14-03-07"},
      {L"", L"bob.live", L"C:\\rec\\bob.live_2019-05-05_14-03-07.mp3", L"bob.live"},
      {L"a\\b/c:d*e?f\"g<h>i|j", L"", L"C:\\rec\\a-b-c-d-e-f-g-h-i-j_2019-05-05_14-03-07.mp3", L"a\\b/c:d*e?f\"g<h>i|j"},
  };
  for (const Case& c : cases) {
    Fixture f;
    f.ctl.SetDetectedPartner(c.detected);
    if (*c.partner) f.calls.slots[0] = {L"1234", c.partner, 6};
    f.ctl.OnRecordButton();
    EXPECT_EQ(f.audio.file, c.file) << c.partner;
    EXPECT_EQ(f.ctl.Info().file, c.file);
    EXPECT_EQ(f.ctl.Info().name, c.name);
    EXPECT_EQ(f.audio.state, REC_RECORDING);
  }
}

TEST(AppController, EncoderSettingsAndSide) {
  Fixture f;
  f.profile.asample = 2;
  f.profile.abitrate = 2;
  f.profile.amode = 0;
  f.profile.recside = 1;
  f.ctl.OnRecordButton();
  EXPECT_EQ(f.audio.rate, 44100);
  EXPECT_EQ(f.audio.kbps, 96);
  EXPECT_EQ(f.audio.mode, 0);
  EXPECT_EQ(f.audio.side, 1);
  EXPECT_EQ(BitrateFor(5), 256);
  EXPECT_EQ(BitrateFor(6), 0);
  EXPECT_EQ(SampleRateFor(-1), 0);
  EXPECT_EQ(ChannelModeFor(3), 0);
}

TEST(AppController, AutomaticRecordingOfOneCallEntersTheHistory) {
  Fixture f;
  f.calls.incoming = false;
  f.Status(3, L"1234", L"echo123", 6);
  EXPECT_EQ(f.audio.state, REC_RECORDING);
  EXPECT_EQ(f.view.fronts, 1);  // notifycov
  EXPECT_EQ(f.view.status, STATUS_RECORDING);
  for (int i = 0; i < 15; ++i) f.ctl.OnDurationTick();
  f.now += 15;
  f.Status(3, L"1234", L"echo123", 8);
  EXPECT_EQ(f.view.status, STATUS_READY);
  EXPECT_EQ(f.view.histories, 1);
  EXPECT_EQ(f.ctl.Duration(), 0);
  f.Finish();
  EXPECT_EQ(f.audio.state, REC_STOPPED);
  ASSERT_EQ(f.history.added.size(), 1u);
  const CRecordItem& r = f.history.added[0];
  EXPECT_EQ(r.name, L"echo123");
  EXPECT_EQ(r.type, 2);
  EXPECT_EQ(r.duration, 15);
  EXPECT_EQ(r.time, L"1557065000");
  EXPECT_EQ(r.file, L"C:\\rec\\echo123_2019-05-05_14-03-07.mp3");
  EXPECT_TRUE(r.isNew);
  EXPECT_EQ(f.calls.resets, 1);
  EXPECT_TRUE(f.ctl.Info().callIds.empty());
}

TEST(AppController, ManualModeWaitsForTheButtonAndStillStopsWithTheCall) {
  Fixture f;
  f.profile.rectype = 0;
  f.Status(0, L"77", L"alice", 6);
  EXPECT_EQ(f.audio.state, REC_IDLE);
  EXPECT_EQ(f.view.fronts, 1);
  f.ctl.OnRecordButton();
  EXPECT_EQ(f.audio.state, REC_RECORDING);
  f.Status(0, L"77", L"alice", 8);
  f.Finish();
  ASSERT_EQ(f.history.added.size(), 1u);
  EXPECT_EQ(f.history.added[0].name, L"alice");
}

TEST(AppController, TwoCallsMakeOneRecordingThatEndsWithTheLast) {
  Fixture f;
  f.Status(0, L"11", L"alice", 6);
  f.Status(1, L"12", L"bob", 6);
  EXPECT_EQ(f.audio.starts, 1);
  EXPECT_EQ(f.ctl.Info().callIds, L"11,12");
  f.Status(0, L"11", L"alice", 8);
  EXPECT_EQ(f.audio.state, REC_RECORDING);
  EXPECT_EQ(f.calls.resets, 0);
  f.Status(1, L"12", L"bob", 10);
  f.Finish();
  ASSERT_EQ(f.history.added.size(), 1u);
  EXPECT_EQ(f.history.added[0].name, L"alice,bob");
  EXPECT_EQ(f.calls.resets, 1);
}

TEST(AppController, AnEndedCallThatIsNotOursChangesNothing) {
  Fixture f;
  f.Status(0, L"11", L"alice", 6);
  f.Status(5, L"99", L"zed", 5);   // ringing: not active
  f.Status(5, L"99", L"zed", 9);   // missed; ours is still active
  EXPECT_EQ(f.audio.state, REC_RECORDING);
  f.Status(7, L"", L"", 8);        // an empty slot must not match every list
  EXPECT_EQ(f.audio.state, REC_RECORDING);
  f.ctl.OnCallChanged(-1, 2);      // an untracked call
  f.ctl.OnCallChanged(0, 1);       // partner known: ignored
  EXPECT_EQ(f.audio.state, REC_RECORDING);
  EXPECT_EQ(f.view.finishes, 0);
}

TEST(AppController, PauseCountsInTheHistoryButNotOnTheDisplay) {
  Fixture f;
  f.ctl.TogglePause();  // idle: nothing
  EXPECT_EQ(f.audio.state, REC_IDLE);
  f.ctl.OnRecordButton();
  for (int i = 0; i < 30; ++i) f.ctl.OnDurationTick();
  f.ctl.TogglePause();
  EXPECT_EQ(f.audio.state, REC_PAUSED);
  EXPECT_TRUE(f.view.pausePaused);
  EXPECT_FALSE(f.view.timer);
  EXPECT_EQ(f.view.status, STATUS_PAUSED);
  f.ctl.TogglePause();
  EXPECT_EQ(f.audio.state, REC_RESUMED);
  EXPECT_TRUE(f.view.timer);
  for (int i = 0; i < 30; ++i) f.ctl.OnDurationTick();
  EXPECT_EQ(f.ctl.Duration(), 60);
  f.now += 120;
  f.ctl.TogglePause();
  f.ctl.OnRecordButton();  // stop while paused
  f.Finish();
  ASSERT_EQ(f.history.added.size(), 1u);
  EXPECT_EQ(f.history.added[0].duration, 120);
}

TEST(AppController, StateTable) {
  // Each row: the state before, the event, the state after.
  enum Event { Button, Pause, InProgress, Ended };
  struct Row { int before; Event event; int rectype; int after; };
  const Row rows[] = {
      {REC_IDLE, Button, 1, REC_RECORDING},     {REC_STOPPED, Button, 1, REC_RECORDING},
      {REC_IDLE, InProgress, 1, REC_RECORDING}, {REC_IDLE, InProgress, 0, REC_IDLE},
      {REC_IDLE, Ended, 1, REC_IDLE},           {REC_IDLE, Pause, 1, REC_IDLE},
      {REC_RECORDING, Pause, 1, REC_PAUSED},    {REC_RESUMED, Pause, 1, REC_PAUSED},
      {REC_PAUSED, Pause, 1, REC_RESUMED},      {REC_RECORDING, Button, 1, REC_STOPPED},
      {REC_PAUSED, Button, 1, REC_STOPPED},     {REC_RESUMED, Ended, 1, REC_STOPPED},
      {REC_RECORDING, InProgress, 1, REC_RECORDING},
  };
  for (const Row& r : rows) {
    Fixture f;
    f.profile.rectype = static_cast<std::uint8_t>(r.rectype);
    if (r.before != REC_IDLE && r.before != REC_STOPPED) {
      f.Status(0, L"5", L"carol", 6);
      f.audio.state = r.before;
    } else {
      f.audio.state = r.before;
    }
    switch (r.event) {
      case Button: f.ctl.OnRecordButton(); break;
      case Pause: f.ctl.TogglePause(); break;
      case InProgress: f.Status(1, L"6", L"dave", 6); break;
      case Ended: f.calls.slots.erase(1); f.Status(0, L"5", L"carol", 8); break;
    }
    f.Finish();
    EXPECT_EQ(f.audio.state, r.after) << "from " << r.before << " event " << r.event;
  }
}
