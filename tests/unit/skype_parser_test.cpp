// The notification parser: what each text from Skype queues, posts and records.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "skype/SkypeCodes.h"
#include "skype_fakes.h"

namespace tovik::skypetest {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::Pair;

constexpr const wchar_t* kMic1234 = L"alter call 1234 set_capture_mic port=\"38377\"";
constexpr const wchar_t* kOut1234 = L"alter call 1234 set_output soundcard=\"default\", port=\"38376\"";
constexpr const wchar_t* kNewer = L"SKYPEVERSION 7.0.0.102";

struct ParseCase {
  const char* name;
  std::vector<std::wstring> before;  // fed first; what they queue and post is discarded
  std::wstring text;
  std::vector<std::wstring> queued;
  std::vector<Posted> posted;
};

void RunParseCases(const std::vector<ParseCase>& cases) {
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.name);
    ClientHarness h;
    h.StartAndAttach();
    for (const std::wstring& t : c.before) h.Receive(t);
    h.Queued();
    h.posted.clear();
    h.Receive(c.text);
    EXPECT_THAT(h.Queued(), ElementsAreArray(c.queued));
    EXPECT_THAT(h.posted, ElementsAreArray(c.posted));
  }
}

TEST(SkypeParserCalls, CallNotifications) {
  RunParseCases({
      {"in progress with an old Skype redirects and asks about the call",
       {}, L"CALL 1234 STATUS INPROGRESS",
       {kMic1234, kOut1234, L"get call 1234 type", L"get call 1234 target_identity",
        L"get call 1234 partner_handle", L"get call 1234 partner_handle"},
       {{WM_CALL_CHANGED, 0, 2}}},
      {"in progress again with an old Skype redirects again",
       {L"CALL 1234 STATUS INPROGRESS"}, L"CALL 1234 STATUS INPROGRESS",
       {kMic1234, kOut1234, L"get call 1234 type", L"get call 1234 target_identity", L"get call 1234 partner_handle"},
       {{WM_CALL_CHANGED, 0, 2}}},
      {"first in progress with a newer Skype redirects",
       {kNewer, L"CALL 1234 STATUS RINGING"}, L"CALL 1234 STATUS INPROGRESS",
       {kMic1234, kOut1234, L"get call 1234 type", L"get call 1234 target_identity", L"get call 1234 partner_handle"},
       {{WM_CALL_CHANGED, 0, 2}}},
      {"repeated in progress with a newer Skype does not",
       {kNewer, L"CALL 1234 STATUS INPROGRESS"}, L"CALL 1234 STATUS INPROGRESS",
       {}, {{WM_CALL_CHANGED, 0, 2}}},
      {"ringing asks for the type and takes a slot",
       {}, L"CALL 77 STATUS RINGING",
       {L"get call 77 type", L"get call 77 partner_handle"}, {{WM_CALL_CHANGED, 0, 2}}},
      {"keyword, property and status word in any case",
       {}, L"call 77 status routing",
       {L"get call 77 type", L"get call 77 partner_handle"}, {{WM_CALL_CHANGED, 0, 2}}},
      {"finished for an untracked call records nothing",
       {}, L"CALL 1234 STATUS FINISHED", {}, {{WM_CALL_CHANGED, -1, 2}}},
      {"an unknown status word for an untracked call",
       {}, L"CALL 1234 STATUS WOBBLING", {}, {{WM_CALL_CHANGED, -1, 2}}},
      {"finished for a tracked call keeps its slot",
       {L"CALL 5 STATUS RINGING", L"CALL 1234 STATUS INPROGRESS"}, L"CALL 1234 STATUS FINISHED",
       {}, {{WM_CALL_CHANGED, 1, 2}}},
      {"partner handle",
       {L"CALL 1234 STATUS RINGING"}, L"CALL 1234 PARTNER_HANDLE bob",
       {L"get user bob fullname"}, {{WM_CALL_CHANGED, 0, 1}}},
      {"partner handle of an unknown call takes a slot",
       {}, L"CALL 9 PARTNER_HANDLE bob",
       {L"get call 9 partner_handle", L"get user bob fullname"}, {{WM_CALL_CHANGED, 0, 1}}},
      {"duration while no call is tracked",
       {}, L"CALL 42 DURATION 17",
       {L"get call 42 partner_handle", L"get call 42 type", L"get call 42 status",
        L"get call 42 conf_participants_count"}, {}},
      {"duration while a call is tracked", {L"CALL 1 STATUS RINGING"}, L"CALL 42 DURATION 17", {}, {}},
      {"conference of two", {L"CALL 1 STATUS INPROGRESS"}, L"CALL 1 CONF_PARTICIPANTS_COUNT 2",
       {L"get call 1 conf_participant 0", L"get call 1 conf_participant 1"}, {}},
      {"conference count out of range", {L"CALL 1 STATUS INPROGRESS"},
       L"CALL 1 CONF_PARTICIPANTS_COUNT 99999999999999999999999",
       {L"get call 1 conf_participant 0", L"get call 1 conf_participant 1"}, {}},
      {"conference count negative out of range", {L"CALL 1 STATUS INPROGRESS"},
       L"CALL 1 CONF_PARTICIPANTS_COUNT -99999999999999999999999", {}, {}},
      {"conference of one", {L"CALL 1 STATUS INPROGRESS"}, L"CALL 1 CONF_PARTICIPANTS_COUNT 1", {}, {}},
      {"conference count while no call is tracked", {}, L"CALL 1 CONF_PARTICIPANTS_COUNT 3", {}, {}},
      {"one dtmf key takes a slot", {}, L"CALL 3 DTMF 5", {L"get call 3 partner_handle"}, {}},
      {"dtmf of two characters", {}, L"CALL 3 DTMF 55", {}, {}},
      {"dtmf out of range", {}, L"CALL 3 DTMF 99999999999999999999", {}, {}},
      {"no property", {}, L"CALL 1234", {}, {}},
      {"property without a value", {}, L"CALL 1234 STATUS", {}, {}},
      {"unknown property", {}, L"CALL 1234 VIDEO_STATUS VIDEO_NONE", {}, {}},
      {"conf participant is not used", {L"CALL 1 STATUS INPROGRESS"}, L"CALL 1 CONF_PARTICIPANT 0 bob", {}, {}},
  });
}

TEST(SkypeParserCalls, TableFullStillPostsWithMinusOne) {
  ClientHarness h;
  h.StartAndAttach();
  for (int i = 0; i < CCallTable::kSlots; ++i) h.Receive(L"CALL " + std::to_wstring(100 + i) + L" STATUS RINGING");
  h.Queued();
  h.posted.clear();
  h.Receive(L"CALL 999 STATUS INPROGRESS");
  EXPECT_THAT(h.posted, ElementsAre(Posted{WM_CALL_CHANGED, -1, 2}));
  EXPECT_EQ(h.client->Calls().Find(L"999"), -1);
  h.Receive(L"CALL 999 PARTNER_HANDLE zed");
  EXPECT_EQ(h.posted.back(), (Posted{WM_CALL_CHANGED, -1, 1}));
  EXPECT_EQ(h.client->Partners().Get(L"999"), L"zed") << "the lasting map still learns the partner";
}

TEST(SkypeParserCalls, CallStatusRecordsAndTypeSetsIncoming) {
  ClientHarness h;
  h.StartAndAttach();
  h.Receive(L"CALL 1234 STATUS REMOTEHOLD");
  EXPECT_EQ(h.client->Calls().StatusOf(L"1234"), CALL_ONHOLD);
  h.Receive(L"CALL 1234 STATUS inprogress");
  EXPECT_EQ(h.client->Calls().StatusOf(L"1234"), CALL_INPROGRESS);
  struct TypeCase {
    const wchar_t* text;
    bool incoming;
  };
  const TypeCase types[] = {
      {L"CALL 1234 TYPE INCOMING_PSTN", true}, {L"CALL 1234 TYPE OUTGOING_P2P", false},
      {L"CALL 1234 TYPE incoming_p2p", true},  {L"CALL 1234 TYPE OUTGOING_PSTN", false},
      {L"CALL 1234 TYPE INCOMING_P2P", true},
  };
  for (const TypeCase& t : types) {
    h.Receive(t.text);
    EXPECT_EQ(h.client->IsIncoming(), t.incoming) << WideToUtf8(t.text);
  }
  h.Receive(L"CALL 1234 PARTNER_HANDLE bob");
  EXPECT_EQ(h.client->Calls().PartnerOf(L"1234"), L"bob");
  EXPECT_EQ(h.client->Partners().Get(L"1234"), L"bob");
  EXPECT_THAT(h.client->Contacts().Entries(), ElementsAre(Pair(L"bob", L"")));
}

TEST(SkypeParserCalls, StatusPollWithNewerSkype) {
  ClientHarness h;
  h.StartAndAttach();
  h.Receive(L"CALL 1 STATUS INPROGRESS");
  EXPECT_FALSE(h.timers.IsRunning(SkypeTimer::StatusPoll)) << "an old Skype is not polled";
  h.Receive(kNewer);
  for (const wchar_t* t : {L"CALL 1 STATUS INPROGRESS", L"CALL 2 STATUS RINGING", L"CALL 3 STATUS RINGING",
                           L"CALL 3 STATUS FINISHED", L"CALL 4 STATUS ONHOLD"})
    h.Receive(t);  // FakeTimers checks each restart kills the running timer first
  EXPECT_EQ(h.timers.running.at(SkypeTimer::StatusPoll), 1000u);
  h.Queued();
  h.client->OnStatusPollTimer();
  EXPECT_FALSE(h.timers.IsRunning(SkypeTimer::StatusPoll)) << "one-shot";
  EXPECT_THAT(h.Queued(), ElementsAre(L"get call 1 status", L"get call 2 status", L"get call 4 status"));
}

TEST(SkypeParserUsers, UserAndContactNotifications) {
  RunParseCases({
      {"users list", {}, L"USERS alice, bob, carol",
       {L"get user alice fullname", L"get user bob fullname", L"get user carol fullname"}, {}},
      {"single user", {}, L"USERS alice", {L"get user alice fullname"}, {}},
      {"users list with stray separators", {}, L"USERS alice, , bob,   carol",
       {L"get user alice fullname", L"get user bob fullname", L"get user carol fullname"}, {}},
      {"buddy status 2", {}, L"USER dave BUDDYSTATUS 2", {L"get user dave fullname"}, {}},
      {"buddy status 3", {}, L"USER dave BUDDYSTATUS 3", {L"get user dave fullname"}, {}},
      {"buddy status 1", {L"USERS dave"}, L"USER dave BUDDYSTATUS 1", {}, {}},
      {"buddy status out of range", {}, L"USER dave BUDDYSTATUS 4294967298", {}, {}},
      {"online status is not used", {}, L"USER dave ONLINESTATUS ONLINE", {}, {}},
      {"current user handle", {}, L"CURRENTUSERHANDLE me", {}, {{WM_SKYPE_READY, 0, 0}}},
  });
}

TEST(SkypeParserUsers, ContactDirectoryFollowsNotifications) {
  ClientHarness h;
  h.StartAndAttach();
  h.Receive(L"CURRENTUSERHANDLE me");
  h.Receive(L"CALL 1 PARTNER_HANDLE bob");
  for (const wchar_t* t : {L"USERS alice, bob, carol, me", L"USER alice FULLNAME Alice  Smith ",
                           L"USER carol FULLNAME", L"USER bob FULLNAME Robert", L"USER me FULLNAME Myself",
                           L"USER me fullname", L"USER dave BUDDYSTATUS 2", L"USER carol BUDDYSTATUS 1",
                           L"user erin fullname Erin"})
    h.Receive(t);
  EXPECT_THAT(h.client->Contacts().Entries(),
              ElementsAre(Pair(L"bob", L""), Pair(L"alice", L"Alice  Smith"), Pair(L"me", L""),
                          Pair(L"dave", L""), Pair(L"erin", L"Erin")));
  EXPECT_EQ(h.client->CurrentUserHandle(), L"me");
}

TEST(SkypeParserUsers, UsersBeforeFriendsSearchIsIgnored) {
  ClientHarness h;
  ASSERT_TRUE(h.client->Start(h.Poster()));
  h.client->OnAttach(kSkypeWindow, CSkypeClient::kAttachNotAvailable);
  // Reaches the parser directly: nobody has attached, so no search was issued.
  h.client->ParseNotification(L"USERS alice, bob");
  EXPECT_THAT(h.client->Contacts().Entries(), IsEmpty());
}

TEST(SkypeParserUsers, LongUsersListIsReadWhole) {
  ClientHarness h;
  h.StartAndAttach();
  std::wstring list = L"USERS u0";
  for (int i = 1; i < 20000; ++i) list += L", u" + std::to_wstring(i);
  h.Receive(list);
  const auto entries = h.client->Contacts().Entries();
  ASSERT_EQ(entries.size(), 20000u);
  EXPECT_EQ(entries.back().first, L"u19999");
}

TEST(SkypeParserStatus, ConnectionAndUserStatus) {
  struct Case {
    const wchar_t* text;
    int code;
    bool attachedAfter;
  };
  const Case cases[] = {
      {L"CONNSTATUS ONLINE", USER_ONLINE, true},      {L"USERSTATUS away", USER_AWAY, true},
      {L"USERSTATUS NA", USER_NA, true},              {L"USERSTATUS DND", USER_DND, true},
      {L"USERSTATUS SKYPEME", USER_SKYPEME, true},    {L"USERSTATUS INVISIBLE", USER_INVISIBLE, true},
      {L"CONNSTATUS OFFLINE", USER_OFFLINE, true},    {L"CONNSTATUS CONNECTING", USER_UNKNOWN, true},
      {L"USERSTATUS LOGGEDOUT", USER_LOGGEDOUT, true}, {L"CONNSTATUS LOGGEDOUT", USER_LOGGEDOUT, false},
      {L"connstatus loggedout", USER_LOGGEDOUT, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(WideToUtf8(c.text));
    ClientHarness h;
    h.StartAndAttach();
    h.Receive(L"USERSTATUS DND");
    h.Receive(c.text);
    EXPECT_EQ(h.client->UserStatus(), c.code);
    EXPECT_EQ(h.client->AutoReply().UserStatus(), c.code) << "the auto-reply learns every status";
    EXPECT_EQ(h.client->IsAttached(), c.attachedAfter);
    EXPECT_TRUE(h.client->Queue().IsEnabled());
  }
}

TEST(SkypeParserVersion, NewerSkypeFromVersionText) {
  struct Case {
    std::wstring version;
    bool newer;
  };
  const Case cases[] = {
      {L"5.10.0.116", false}, {L"6.21.0.104", false}, {L"6.22.0.107", true}, {L"7.0.0.102", true},
      {L"6.30", true},        {L"6", false},          {L"7", true},          {L"6..22", true},
      {L".7", true},          {L"...", false},        {L"-7.40", false},     {L"x.y", false},
      {L"6.99999999999999999999", true},             {L"99999999999999999999.0", true},
      {L"7." + std::wstring(400, L'9'), true},       {L"6." + std::wstring(300, L'0') + L"22", true},
      {L"5" + std::wstring(300, L'.'), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(WideToUtf8(c.version.substr(0, 40)));
    ClientHarness h;
    h.StartAndAttach();
    h.Receive(L"SKYPEVERSION " + c.version);
    EXPECT_EQ(h.client->IsNewerSkype(), c.newer);
    h.Receive(L"SKYPEVERSION 5.0.0.1");
    EXPECT_EQ(h.client->IsNewerSkype(), c.newer) << "never cleared";
  }
}

TEST(SkypeParserOther, DevicesWindowChatsErrorsAndCallLists) {
  RunParseCases({
      {"audio in", {}, L"AUDIO_IN Microphone (USB)", {}, {{WM_SKYPE_MIC_DEVICE, 0, 0}}},
      {"audio out", {}, L"AUDIO_OUT Speakers", {}, {{WM_SKYPE_SPK_DEVICE, 0, 0}}},
      {"audio out differing only in case", {L"AUDIO_OUT Speakers"}, L"AUDIO_OUT SPEAKERS", {}, {}},
      {"audio out changed", {L"AUDIO_OUT Speakers"}, L"AUDIO_OUT Headset", {}, {{WM_SKYPE_SPK_DEVICE, 0, 0}}},
      {"window minimized", {}, L"WINDOWSTATE MINIMIZED", {}, {{WM_SKYPE_WINDOW, 20, 0}}},
      {"window hidden", {}, L"WINDOWSTATE hidden", {}, {{WM_SKYPE_WINDOW, 20, 0}}},
      {"window normal", {}, L"WINDOWSTATE NORMAL", {}, {{WM_SKYPE_WINDOW, 21, 0}}},
      {"window maximized", {}, L"WINDOWSTATE MAXIMIZED", {}, {}},
      {"audio error during a call", {L"CALL 1 STATUS INPROGRESS"}, L"ERROR 589 ALTER CALL: unable to alter input",
       {}, {{WM_AUDIO_FAILED, 0, 0}}},
      {"audio error while the call is on hold", {L"CALL 1 STATUS ONHOLD"}, L"ERROR 589 ALTER CALL", {}, {}},
      {"audio error without a call", {}, L"ERROR 589 ALTER CALL", {}, {}},
      {"other error", {L"CALL 1 STATUS INPROGRESS"}, L"ERROR 68 Access denied", {}, {}},
      {"error code out of range", {L"CALL 1 STATUS INPROGRESS"}, L"ERROR 4294967885 x", {}, {}},
      {"received chat message", {}, L"CHATMESSAGE 55 STATUS RECEIVED", {L"get chatmessage 55 chatname"}, {}},
      {"received message, old keyword", {}, L"MESSAGE 56 STATUS RECEIVED", {L"get chatmessage 56 chatname"}, {}},
      {"sent chat message", {}, L"CHATMESSAGE 55 STATUS SENT", {}, {}},
      {"status word case matters", {}, L"CHATMESSAGE 55 status RECEIVED", {}, {}},
      {"calls list", {}, L"CALLS 12, 13,14", {L"get call 12 status", L"get call  13 status", L"get call 14 status"}, {}},
      {"same calls list again", {L"CALLS 12, 13"}, L"CALLS 12, 13", {}, {}},
      {"changed calls list", {L"CALLS 12, 13"}, L"CALLS 13", {L"get call 13 status"}, {}},
      {"calls list with empty tokens", {}, L"CALLS ,12,,", {L"get call 12 status"}, {}},
      {"unknown keyword", {}, L"GROUP 7 NROFUSERS 3", {}, {}},
      {"no space", {}, L"OK", {}, {}},
      {"only spaces", {}, L"      ", {}, {}},
      {"keyword and spaces", {}, L"  CALL     ", {}, {}},
  });
}

TEST(SkypeParserOther, ChatDialogIsNamedWithCase) {
  struct Case {
    const wchar_t* text;
    const wchar_t* chatName;
  };
  const Case cases[] = {
      {L"CHAT #a/$b;1 status dialog", L""},
      {L"CHAT #a/$b;1 STATUS DIALOG", L"#a/$b;1"},
      {L"CHAT #a/$b;2 STATUS LEGACY_DIALOG", L"#a/$b;2"},
      {L"CHAT #a/$b;3 STATUS MULTI_SUBSCRIBED", L""},
      {L"CHAT #a/$b;4", L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(WideToUtf8(c.text));
    ClientHarness h;
    h.StartAndAttach();
    h.Receive(c.text);
    EXPECT_EQ(h.client->ChatName(), c.chatName);
  }
}

}  // namespace
}  // namespace tovik::skypetest
