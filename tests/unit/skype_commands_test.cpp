// Call control (audio redirection, calls, chats) and the chat auto-reply.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "skype/SkypeCodes.h"
#include "skype_fakes.h"

namespace tovik::skypetest {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::wstring Mic(const std::wstring& id) { return L"alter call " + id + L" set_capture_mic port=\"38377\""; }
std::wstring Out(const std::wstring& id) {
  return L"alter call " + id + L" set_output soundcard=\"default\", port=\"38376\"";
}

TEST(SkypeRedirect, CommandsAndRedirectedList) {
  ClientHarness h;
  h.StartAndAttach();
  h.client->RedirectAudio(L"1234");
  EXPECT_THAT(h.Queued(), ElementsAre(L"alter call 1234 set_capture_mic port=\"38377\"",
                                      L"alter call 1234 set_output soundcard=\"default\", port=\"38376\""));
  h.client->RedirectAudio(L"1234");
  EXPECT_EQ(h.client->RedirectedCalls(), L"1234 ") << "the same call is listed once";
  h.client->RedirectAudio(L"123");
  h.client->RedirectAudio(L"12");
  h.client->RedirectAudio(L"23");
  EXPECT_EQ(h.client->RedirectedCalls(), L"1234 123 12 23 ") << "whole ids are compared, not substrings";
}

TEST(SkypeRedirect, DeviceCaptureSendsNothing) {
  ClientHarness h;
  h.numbers[L"capf"] = 1;
  h.StartAndAttach();
  h.Receive(L"CALL 1234 STATUS INPROGRESS");
  EXPECT_THAT(h.Queued(), ElementsAre(L"get call 1234 type", L"get call 1234 target_identity",
                                      L"get call 1234 partner_handle", L"get call 1234 partner_handle"));
  EXPECT_EQ(h.client->RedirectedCalls(), L"");
}

TEST(SkypeRedirect, RedirectAgainRepeatsEveryListedCallWhileOneIsInProgress) {
  struct Case {
    const char* name;
    std::vector<std::pair<const wchar_t*, const wchar_t*>> calls;  // id, status word
    std::vector<std::wstring> expected;
  };
  const Case cases[] = {
      {"two calls, one in progress", {{L"11", L"INPROGRESS"}, {L"12", L"INPROGRESS"}, {L"11", L"FINISHED"}},
       {Mic(L"11"), Out(L"11"), Mic(L"12"), Out(L"12")}},
      {"only call on hold", {{L"11", L"INPROGRESS"}, {L"11", L"ONHOLD"}}, {}},
      {"nothing redirected", {{L"11", L"RINGING"}}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ClientHarness h;
    h.StartAndAttach();
    for (const auto& [id, word] : c.calls) h.Receive(std::wstring(L"CALL ") + id + L" STATUS " + word);
    h.Queued();
    h.client->RedirectAgain();
    EXPECT_THAT(h.Queued(), ::testing::ElementsAreArray(c.expected));
  }
}

TEST(SkypeRedirect, RedirectAgainFromAnotherThread) {
  ClientHarness h;
  h.StartAndAttach();
  h.Receive(L"CALL 11 STATUS INPROGRESS");
  h.Queued();
  // The audio receivers call it from their own threads while the UI thread goes on.
  std::function<void()> onStreamClosed = [&] { h.client->RedirectAgain(); };
  std::thread a(onStreamClosed), b(onStreamClosed);
  for (int i = 0; i < 200; ++i) h.client->RedirectAudio(L"c" + std::to_wstring(i % 7));
  a.join();
  b.join();
  const std::wstring list = h.client->RedirectedCalls();
  EXPECT_EQ(list.substr(0, 3), L"11 ");
  EXPECT_EQ(Split(TrimW(list), L" ").size(), 8u) << "each id once";
}

TEST(SkypeRedirect, ResetCallStateKeepsPartnerMap) {
  ClientHarness h;
  h.StartAndAttach();
  h.Receive(L"CALL 11 STATUS INPROGRESS");
  h.Receive(L"CALL 11 TYPE INCOMING_P2P");
  h.Receive(L"CALL 11 PARTNER_HANDLE bob");
  h.client->ResetCallState();
  EXPECT_EQ(h.client->RedirectedCalls(), L"");
  EXPECT_EQ(h.client->Calls().Find(L"11"), -1);
  EXPECT_FALSE(h.client->IsIncoming());
  EXPECT_EQ(h.client->Partners().MapList(L"11"), L"bob");
  h.Queued();
  h.client->RedirectAgain();
  EXPECT_THAT(h.Queued(), IsEmpty());
}

TEST(SkypeCallControl, CommandTexts) {
  ClientHarness h;
  EXPECT_FALSE(h.client->CallUser(L"bob")) << "not attached: the command is refused";
  h.StartAndAttach();
  EXPECT_TRUE(h.client->CallUser(L"bob"));
  EXPECT_TRUE(h.client->CallUser(L""));
  h.client->SendChatMessage(L"#a/$b;1", L"hello there");
  h.client->QueryFullName(L"  carol ");
  h.client->QueryFullName(L" \t ");
  EXPECT_THAT(h.Queued(), ElementsAre(L"call bob", L"call ", L"chatmessage  #a/$b;1 hello there",
                                      L"get user carol fullname"));
}

TEST(SkypeOpenChat, ReportedChatIsOpened) {
  ClientHarness h;
  h.StartAndAttach();
  // Skype answers during the third dispatch.
  h.pump.steps = {[] { return false; }, [] { return false; },
                  [&] { h.Receive(L"CHAT #me/$bob;9 STATUS DIALOG"); return false; }};
  EXPECT_TRUE(h.client->OpenChatWith(L"bob"));
  EXPECT_THAT(h.Queued(), ElementsAre(L"chat create bob", L"open chat #me/$bob;9"));
  EXPECT_GT(h.pump.dispatches, 3) << "messages keep flowing after the chat is opened";
  EXPECT_THAT(h.pump.quitsPosted, IsEmpty());
  // The opening is over, so a new one may start (and time out here).
  EXPECT_FALSE(h.client->OpenChatWith(L"carol"));
}

TEST(SkypeOpenChat, TimeOutWithoutReport) {
  ClientHarness h;
  h.StartAndAttach();
  EXPECT_FALSE(h.client->OpenChatWith(L"bob"));
  EXPECT_THAT(h.Queued(), ElementsAre(L"chat create bob"));
  EXPECT_EQ(h.pump.waits, 3000);
  EXPECT_THAT(h.pump.quitsPosted, IsEmpty());
}

TEST(SkypeOpenChat, QuitDuringWaitIsPostedAgain) {
  ClientHarness h;
  h.StartAndAttach();
  h.pump.quitCodeToReport = 3;
  h.pump.steps = {[] { return false; }, [] { return true; }};
  EXPECT_TRUE(h.client->OpenChatWith(L"bob"));
  EXPECT_THAT(h.pump.quitsPosted, ElementsAre(3));
  EXPECT_EQ(h.pump.dispatches, 2) << "nothing more is dispatched once the program is ending";
}

TEST(SkypeOpenChat, SecondOpeningWhileOneWaitsIsRefused) {
  ClientHarness h;
  h.StartAndAttach();
  bool nested = true;
  h.pump.steps = {[&] {
    nested = h.client->OpenChatWith(L"carol");  // e.g. the menu item chosen again
    h.Receive(L"CHAT #me/$bob;9 STATUS DIALOG");
    return false;
  }};
  EXPECT_TRUE(h.client->OpenChatWith(L"bob"));
  EXPECT_FALSE(nested);
  EXPECT_THAT(h.Queued(), ElementsAre(L"chat create bob", L"open chat #me/$bob;9"));
}

// The auto-reply through the client's receive path: status texts, then the chat name
// answers Skype sends for received messages.
TEST(SkypeChatAutoReply, RepliesByStatusAndSettings) {
  struct Case {
    const char* name;
    std::map<std::wstring, int> settings;  // overrides of the defaults
    std::vector<std::wstring> texts;
    std::vector<std::wstring> replies;
  };
  const std::wstring r1 = L"CHATMESSAGE 1 CHATNAME #me/$alice;1";
  const std::wstring r2 = L"CHATMESSAGE 2 CHATNAME #me/$alice;1";
  const std::wstring b1 = L"CHATMESSAGE 3 CHATNAME #me/$bob;2";
  const std::wstring reply = L"/me is not available for chat.";
  const Case cases[] = {
      {"away: first message answered, second not", {}, {L"USERSTATUS AWAY", r1, r2},
       {L"chatmessage  #me/$alice;1 " + reply}},
      {"online with defaults: nothing", {}, {L"USERSTATUS ONLINE", r1, r2}, {}},
      {"online with online replies on", {{L"onlinereply", 1}}, {L"USERSTATUS ONLINE", r1, r2},
       {L"chatmessage  #me/$alice;1 " + reply}},
      {"away then na re-arms every chat", {}, {L"USERSTATUS AWAY", r1, b1, L"USERSTATUS NA", r2, b1},
       {L"chatmessage  #me/$alice;1 " + reply, L"chatmessage  #me/$bob;2 " + reply,
        L"chatmessage  #me/$alice;1 " + reply, L"chatmessage  #me/$bob;2 " + reply}},
      {"invisible: nothing whatever the settings", {{L"onlinereply", 1}}, {L"USERSTATUS INVISIBLE", r1}, {}},
      {"offline: nothing", {{L"onlinereply", 1}}, {L"CONNSTATUS OFFLINE", r1}, {}},
      {"chat first seen while invisible waits for a status change", {}, {L"USERSTATUS INVISIBLE", r1, L"USERSTATUS DND", r2},
       {L"chatmessage  #me/$alice;1 " + reply}},
      {"replies off", {{L"chatreply", 0}}, {L"USERSTATUS AWAY", r1}, {}},
      {"not-online replies off", {{L"notonlinereply", 0}}, {L"USERSTATUS AWAY", r1}, {}},
      {"chat names compared without case", {}, {L"USERSTATUS AWAY", r1, L"CHATMESSAGE 4 CHATNAME #ME/$ALICE;1"},
       {L"chatmessage  #me/$alice;1 " + reply}},
      {"property compared with its case", {}, {L"USERSTATUS AWAY", L"CHATMESSAGE 1 chatname #me/$alice;1"}, {}},
      {"chat name with spaces kept whole", {}, {L"USERSTATUS AWAY", L"chatmessage 9  CHATNAME   my  team chat  "},
       {L"chatmessage  my  team chat " + reply}},
      {"old keyword", {}, {L"USERSTATUS SKYPEME", L"MESSAGE 5 CHATNAME #x"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ClientHarness h;
    for (const auto& [name, value] : c.settings) h.numbers[name] = value;
    h.StartAndAttach();
    for (const std::wstring& t : c.texts) h.Receive(t);
    std::vector<std::wstring> replies;
    for (const std::wstring& cmd : h.Queued())
      if (cmd.rfind(L"chatmessage  ", 0) == 0) replies.push_back(cmd);
    EXPECT_THAT(replies, ::testing::ElementsAreArray(c.replies));
  }
}

TEST(SkypeChatAutoReply, SettingsAreReadAtTheMomentOfTheReply) {
  ClientHarness h;
  h.StartAndAttach();
  h.Receive(L"USERSTATUS ONLINE");
  h.Receive(L"CHATMESSAGE 1 CHATNAME #c");
  EXPECT_TRUE(h.client->AutoReply().IsPending(L"#c")) << "not answered, still pending";
  h.numbers[L"onlinereply"] = 1;
  h.replyText = L"back at five";
  h.Receive(L"CHATMESSAGE 2 CHATNAME #c");
  EXPECT_THAT(h.Queued(), ElementsAre(L"chatmessage  #c back at five"));
  EXPECT_FALSE(h.client->AutoReply().IsPending(L"#c"));
}

TEST(SkypeChatAutoReply, ReceivedMessageAsksForItsChatName) {
  ClientHarness h;
  h.StartAndAttach();
  h.Receive(L"USERSTATUS AWAY");
  h.Receive(L"CHATMESSAGE 77 STATUS RECEIVED");
  EXPECT_THAT(h.Queued(), ElementsAre(L"get chatmessage 77 chatname"));
  h.Receive(L"CHATMESSAGE 77 CHATNAME #c");
  EXPECT_THAT(h.Queued(), ElementsAre(L"chatmessage  #c /me is not available for chat."));
}

}  // namespace
}  // namespace tovik::skypetest
