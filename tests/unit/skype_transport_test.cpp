// The attach handshake, the command queue and its delivery, the receive path and the
// ping supervision of the Skype client.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "skype/CommandQueue.h"
#include "skype_fakes.h"

namespace tovik::skypetest {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

TEST(SkypeCommandQueue, AcceptsAndHandsOutOnlyWhileEnabled) {
  CCommandQueue queue;
  std::wstring out;
  EXPECT_FALSE(queue.Push(L"ping")) << "the queue starts disabled";
  queue.SetEnabled(true);
  EXPECT_FALSE(queue.Push(L"")) << "empty commands are refused";
  EXPECT_TRUE(queue.Push(L"a"));
  EXPECT_TRUE(queue.Push(L"b"));
  queue.SetEnabled(false);
  EXPECT_FALSE(queue.Push(L"c"));
  EXPECT_FALSE(queue.Pop(out)) << "a disabled queue hands out nothing";
  queue.SetEnabled(true);
  ASSERT_TRUE(queue.Pop(out));
  EXPECT_EQ(out, L"a") << "commands kept while disabled come out again, oldest first";
  ASSERT_TRUE(queue.Pop(out));
  EXPECT_EQ(out, L"b");
  EXPECT_FALSE(queue.Pop(out));
  queue.Push(L"d");
  queue.Clear();
  EXPECT_FALSE(queue.Pop(out));
}

TEST(SkypeClientStart, StartTwiceCreatesNothingNew) {
  ClientHarness h;
  EXPECT_TRUE(h.client->Start(h.Poster()));
  EXPECT_TRUE(h.client->Start(h.Poster()));
  EXPECT_EQ(h.wire.opens, 1);
  EXPECT_EQ(h.wire.discovers, 1) << "Start broadcasts Discover once";
  h.client->Stop();
  EXPECT_EQ(h.wire.closes, 1);
  EXPECT_FALSE(h.client->IsStarted());
}

TEST(SkypeClientStart, ProcessWideInstanceSharesTheContactDirectory) {
  FakeWire wire;
  FakeTimers timers;
  CSkypeClient::Ports ports;
  ports.wire = &wire;
  ports.timers = &timers;
  ports.sendingThread = false;
  ASSERT_EQ(CSkypeClient::Instance(), nullptr);
  CSkypeClient* client = CSkypeClient::CreateInstance(ports);
  EXPECT_EQ(CSkypeClient::Instance(), client);
  EXPECT_EQ(CSkypeClient::CreateInstance(ports), client) << "no second client";
  EXPECT_EQ(&client->Contacts(), CContactDirectory::Instance()) << "the history window reads the same names";
  client->Contacts().SetFullName(L"alice", L"Alice");
  CSkypeClient::DestroyInstance();
  EXPECT_EQ(CSkypeClient::Instance(), nullptr);
  EXPECT_EQ(CContactDirectory::Instance()->GetFullName(L"alice"), L"") << "a later directory starts empty";
  CContactDirectory::DestroyInstance();
}

TEST(SkypeClientStart, FailedWireLeavesClientUnstarted) {
  ClientHarness h;
  h.wire.openResult = false;
  EXPECT_FALSE(h.client->Start(h.Poster()));
  EXPECT_FALSE(h.client->IsStarted());
  EXPECT_EQ(h.wire.discovers, 0);
  h.client->Stop();
  EXPECT_EQ(h.wire.closes, 0) << "nothing was opened, so nothing is closed";
}

TEST(SkypeClientStart, CommandPostedBeforeFirstAttachIsRefused) {
  ClientHarness h;
  ASSERT_TRUE(h.client->Start(h.Poster()));
  EXPECT_FALSE(h.client->PostCommand(L"ping"));
  EXPECT_EQ(h.client->Queue().Size(), 0u);
}

TEST(SkypeClientAttach, StartupQueriesInOrderWithGapAfterAudioIn) {
  ClientHarness h;
  ASSERT_TRUE(h.client->Start(h.Poster()));
  h.client->OnAttach(kSkypeWindow, CSkypeClient::kAttachSuccess);
  EXPECT_TRUE(h.client->IsAttached());
  EXPECT_EQ(h.client->SkypeWindow(), kSkypeWindow);
  EXPECT_TRUE(h.client->FriendsSearchIssued());
  EXPECT_THAT(h.Queued(), ElementsAre(L"GET AUDIO_IN", L"GET AUDIO_OUT", L"get skypeversion",
                                      L"get currentuserhandle", L"get connstatus", L"get userstatus",
                                      L"search friends"));
  // The pause comes after "GET AUDIO_IN" was queued and before "GET AUDIO_OUT".
  EXPECT_THAT(h.uiSleeps, ElementsAre(100u));
  EXPECT_THAT(h.queueSizeAtSleep, ElementsAre(1u));
  EXPECT_EQ(h.timers.running.at(SkypeTimer::Ping), 30000u);
  EXPECT_EQ(h.timers.running.at(SkypeTimer::ActiveCalls), 1000u);
}

TEST(SkypeClientAttach, SecondAttachQueuesQueriesAgainAndRestartsTimers) {
  ClientHarness h;
  h.StartAndAttach();
  const int startsBefore = h.timers.starts;
  h.client->OnAttach(kSkypeWindow, CSkypeClient::kAttachSuccess);  // FakeTimers checks the kill first
  EXPECT_EQ(h.Queued().size(), 7u);
  EXPECT_EQ(h.timers.starts, startsBefore + 2);
}

TEST(SkypeClientAttach, StatusesThatChangeNothing) {
  struct Case {
    const char* name;
    bool attachedFirst;
    std::intptr_t status;
  };
  const Case cases[] = {
      {"pending authorization", false, CSkypeClient::kAttachPendingAuthorization},
      {"not available", false, CSkypeClient::kAttachNotAvailable},
      {"pending authorization while attached", true, CSkypeClient::kAttachPendingAuthorization},
      {"not available while attached", true, CSkypeClient::kAttachNotAvailable},
      {"api available while attached", true, CSkypeClient::kAttachApiAvailable},
      {"unknown status", true, 77},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ClientHarness h;
    if (c.attachedFirst) h.StartAndAttach();
    else ASSERT_TRUE(h.client->Start(h.Poster()));
    const int discovers = h.wire.discovers;
    const auto timersBefore = h.timers.running;
    h.client->OnAttach(0x9999, c.status);
    EXPECT_EQ(h.client->IsAttached(), c.attachedFirst);
    EXPECT_EQ(h.client->SkypeWindow(), c.attachedFirst ? kSkypeWindow : 0u);
    EXPECT_EQ(h.wire.discovers, discovers);
    EXPECT_EQ(h.timers.running, timersBefore);
    EXPECT_THAT(h.posted, IsEmpty());
    EXPECT_THAT(h.Queued(), IsEmpty());
  }
}

TEST(SkypeClientAttach, ApiAvailableDiscoversAgainOnlyWhenStartedAndDetached) {
  ClientHarness h;
  h.client->OnAttach(0, CSkypeClient::kAttachApiAvailable);
  EXPECT_EQ(h.wire.discovers, 0) << "not started";
  ASSERT_TRUE(h.client->Start(h.Poster()));
  h.client->OnAttach(0, CSkypeClient::kAttachApiAvailable);
  EXPECT_EQ(h.wire.discovers, 2);
}

TEST(SkypeClientAttach, RefusalDetachesAndTellsMainWindow) {
  ClientHarness h;
  h.StartAndAttach();
  h.client->OnAttach(kSkypeWindow, CSkypeClient::kAttachRefused);
  EXPECT_FALSE(h.client->IsAttached());
  EXPECT_THAT(h.posted, ElementsAre(Posted{WM_SKYPE_REFUSED, 0, 0}));
  EXPECT_FALSE(h.client->PostCommand(L"ping"));
  EXPECT_TRUE(h.client->IsStarted()) << "a later Discover may still attach";
}

// Steps the ping timer with no pong ever arriving; each entry is one 30 s tick.
TEST(SkypeClientPing, TimelineWithoutPong) {
  ClientHarness h;
  h.StartAndAttach();
  const int discoversAtAttach = h.wire.discovers;
  struct Tick {
    int seconds;
    bool pingQueued;
    int discoversSoFar;
    bool attached;
  };
  const Tick ticks[] = {
      {30, true, 0, true}, {60, false, 1, true}, {90, false, 2, true},
      {120, false, 3, true}, {150, false, 3, false},
  };
  for (const Tick& t : ticks) {
    SCOPED_TRACE(t.seconds);
    h.client->OnPingTimer();
    const auto queued = h.Queued();
    EXPECT_EQ(!queued.empty() && queued.back() == L"ping", t.pingQueued);
    EXPECT_EQ(h.wire.discovers - discoversAtAttach, t.discoversSoFar);
    EXPECT_EQ(h.client->IsAttached(), t.attached);
  }
  EXPECT_FALSE(h.timers.IsRunning(SkypeTimer::Ping)) << "the detach kills the ping timer";
  EXPECT_THAT(h.posted, IsEmpty()) << "the detach is silent";
  EXPECT_TRUE(h.client->IsStarted());
}

TEST(SkypeClientPing, PongKeepsTheConnectionAlive) {
  ClientHarness h;
  h.StartAndAttach();
  const int discoversAtAttach = h.wire.discovers;
  for (int tick = 0; tick < 8; ++tick) {
    h.client->OnPingTimer();
    EXPECT_THAT(h.Queued(), ElementsAre(L"ping"));
    h.Receive(tick % 2 ? L"PONG" : L"pOnG");
  }
  EXPECT_EQ(h.wire.discovers, discoversAtAttach);
  EXPECT_TRUE(h.client->IsAttached());
}

TEST(SkypeClientPing, PongAfterMissedPeriodsResetsTheCount) {
  ClientHarness h;
  h.StartAndAttach();
  h.client->OnPingTimer();  // ping
  h.client->OnPingTimer();  // missed 1
  h.client->OnPingTimer();  // missed 2
  EXPECT_EQ(h.client->MissedPongs(), 2);
  h.Receive(L"pong");
  h.client->OnPingTimer();
  EXPECT_EQ(h.client->MissedPongs(), 0);
  EXPECT_THAT(h.Queued(), ElementsAre(L"ping", L"ping"));
}

TEST(SkypeClientReceive, PongRecognition) {
  struct Case {
    const wchar_t* text;
    bool isPong;
  };
  const Case cases[] = {
      {L"pong", true}, {L"PONG", true}, {L"PoNg", true},
      {L" pong", false}, {L"pong ", false}, {L"pongs", false}, {L"ping", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << WideToUtf8(c.text));
    ClientHarness h;
    h.StartAndAttach();
    h.client->OnPingTimer();  // clears the pong flag set by the attach
    ASSERT_FALSE(h.client->PongSeen());
    EXPECT_EQ(h.Receive(c.text), 1);
    EXPECT_EQ(h.client->PongSeen(), c.isPong);
  }
}

TEST(SkypeClientReceive, TextsFromOtherWindowsAreIgnored) {
  ClientHarness h;
  ASSERT_TRUE(h.client->Start(h.Poster()));
  EXPECT_EQ(h.Receive(L"CURRENTUSERHANDLE mallory", kSkypeWindow), 0) << "nobody has attached yet";
  h.client->OnAttach(kSkypeWindow, CSkypeClient::kAttachSuccess);
  h.posted.clear();
  EXPECT_EQ(h.Receive(L"CURRENTUSERHANDLE mallory", kForeignWindow), 0);
  EXPECT_EQ(h.Receive(L"pong", kForeignWindow), 0);
  h.client->OnPingTimer();
  h.client->OnPingTimer();
  EXPECT_EQ(h.client->MissedPongs(), 1) << "a foreign pong does not count";
  EXPECT_EQ(h.client->CurrentUserHandle(), L"");
  EXPECT_THAT(h.posted, IsEmpty());
  EXPECT_EQ(h.Receive(L"CURRENTUSERHANDLE alice", kSkypeWindow), 1);
  EXPECT_EQ(h.client->CurrentUserHandle(), L"alice");
}

TEST(SkypeClientReceive, PayloadShapes) {
  struct Case {
    const char* name;
    std::string bytes;
    const wchar_t* currentUser;  // what CURRENTUSERHANDLE set, or "" for nothing parsed
  };
  const Case cases[] = {
      {"no terminator", std::string("CURRENTUSERHANDLE bob"), L"bob"},
      {"text ends at the first zero", std::string("CURRENTUSERHANDLE bob\0tail", 26), L"bob"},
      {"leading zero", std::string("\0CURRENTUSERHANDLE bob", 22), L""},
      {"cyrillic handle", std::string("CURRENTUSERHANDLE \xD0\xB8\xD0\xB2\xD0\xB0\xD0\xBD"), L"\u0438\u0432\u0430\u043D"},
      {"cjk handle", std::string("CURRENTUSERHANDLE \xE7\x8E\x8B"), L"\u738B"},
      {"invalid utf-8 is replaced, not dropped", std::string("CURRENTUSERHANDLE a\xFF" "b"), L"a\uFFFDb"},
      {"binary", std::string("\x01\x02\xFE\xFF\x80 \x90", 7), L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ClientHarness h;
    h.StartAndAttach();
    EXPECT_EQ(h.client->OnCopyData(kSkypeWindow, c.bytes.data(), c.bytes.size()), 1);
    EXPECT_EQ(h.client->CurrentUserHandle(), c.currentUser);
  }
  ClientHarness h;
  h.StartAndAttach();
  EXPECT_EQ(h.client->OnCopyData(kSkypeWindow, nullptr, 0), 1);
  EXPECT_EQ(h.client->OnCopyData(kSkypeWindow, nullptr, 100), 1) << "a null pointer is never read";
  EXPECT_EQ(h.client->OnCopyData(kSkypeWindow, "", 0), 1);
  std::string huge(1 << 20, 'x');
  huge.replace(0, 18, "CURRENTUSERHANDLE ");
  EXPECT_EQ(h.client->OnCopyData(kSkypeWindow, huge.data(), huge.size()), 1);
  EXPECT_EQ(h.client->CurrentUserHandle().size(), huge.size() - 18);
}

TEST(SkypeClientTimers, SearchTimerQueuesActiveCallsQueryOnlyWhileAttached) {
  ClientHarness h;
  h.StartAndAttach();
  h.client->OnSearchTimer();
  h.client->OnSearchTimer();
  EXPECT_THAT(h.Queued(), ElementsAre(L"SEARCH ACTIVECALLS ", L"SEARCH ACTIVECALLS "));
  h.client->OnDetached();
  h.client->OnSearchTimer();
  h.client->OnAttached();
  EXPECT_EQ(h.Queued().front(), L"GET AUDIO_IN") << "nothing was kept from the detached tick";
}

TEST(SkypeClientDelivery, SendNowFramesUtf8WithTerminator) {
  ClientHarness h;
  EXPECT_EQ(h.client->SendNow(L"ping"), 0) << "not attached";
  h.StartAndAttach();
  EXPECT_EQ(h.client->SendNow(L""), 0);
  EXPECT_EQ(h.client->SendNow(L"chatmessage  #c \u041F\u0440\u0438\u0432\u0435\u0442 \U0001F600"), 1);
  const std::string expected = "chatmessage  #c \xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xF0\x9F\x98\x80";
  ASSERT_EQ(h.wire.taken.size(), 1u);
  EXPECT_EQ(h.wire.taken[0], expected);
  EXPECT_EQ(h.wire.lastSize, expected.size() + 1);
  EXPECT_TRUE(h.wire.lastHadTerminator);
}

TEST(SkypeClientDelivery, LongCommandIsDeliveredWhole) {
  ClientHarness h;
  h.StartAndAttach();
  // 3000 bytes of UTF-8, far beyond a 1024-byte buffer, and multi-byte at the end.
  std::wstring text = L"chatmessage  #chat ";
  text.append(2997 - text.size(), L'a');
  text += L'\u20AC';
  ASSERT_EQ(WideToUtf8(text).size(), 3000u);
  ASSERT_TRUE(h.client->PostCommand(text));
  EXPECT_EQ(h.client->DrainQueue(), 1);
  ASSERT_EQ(h.wire.taken.size(), 1u);
  EXPECT_EQ(h.wire.taken[0], WideToUtf8(text));
  EXPECT_EQ(h.wire.lastSize, 3001u);
}

TEST(SkypeClientDelivery, RetryBudgetIsPerCommand) {
  // Skype refuses each command a given number of times before taking it.
  struct Case {
    int refusals;
    bool taken;
    int attempts;
  };
  const Case cases[] = {{0, true, 1}, {1, true, 2}, {5, true, 6}, {6, false, 6}, {100, false, 6}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.refusals);
    ClientHarness h;
    h.StartAndAttach();
    std::map<std::string, int> refused;
    h.wire.answer = [&](const std::string& text) -> std::intptr_t { return refused[text]++ < c.refusals ? 0 : 1; };
    // Three commands in a row: a budget shared across commands would be spent by the
    // first one and leave the later ones with no retries at all.
    for (const wchar_t* cmd : {L"alter call 1 set_capture_mic port=\"38377\"", L"get call 1 type", L"ping"})
      ASSERT_TRUE(h.client->PostCommand(cmd));
    EXPECT_EQ(h.client->DrainQueue(), c.taken ? 3 : 0);
    EXPECT_EQ(h.wire.attempts.size(), static_cast<size_t>(3 * c.attempts));
    for (const auto& [text, count] : refused) EXPECT_EQ(count, c.attempts) << text;
  }
}

TEST(SkypeClientDelivery, LoggedOutConnectionDeliversNothing) {
  ClientHarness h;
  h.StartAndAttach();
  h.Receive(L"CONNSTATUS LOGGEDOUT");
  EXPECT_FALSE(h.client->IsAttached());
  EXPECT_TRUE(h.client->PostCommand(L"ping")) << "the queue stays enabled";
  EXPECT_EQ(h.client->DrainQueue(), 0);
  EXPECT_THAT(h.wire.attempts, IsEmpty());
  h.Receive(L"USERSTATUS LOGGEDOUT");
  h.client->OnAttach(kSkypeWindow, CSkypeClient::kAttachSuccess);
  EXPECT_TRUE(h.client->IsAttached());
}

TEST(SkypeClientSendingThread, DeliversInOrderAfterAttachAndStops) {
  ClientHarness h(/*sendingThread=*/true);
  ASSERT_TRUE(h.client->Start(h.Poster()));
  h.client->OnAttach(kSkypeWindow, CSkypeClient::kAttachSuccess);
  h.client->PostCommand(L"SEARCH ACTIVECALLS ");
  ASSERT_TRUE(h.wire.WaitTaken(8));
  {
    std::lock_guard<std::mutex> hold(h.wire.lock);
    EXPECT_THAT(h.wire.taken, ElementsAreArray({"GET AUDIO_IN", "GET AUDIO_OUT", "get skypeversion",
                                                "get currentuserhandle", "get connstatus", "get userstatus",
                                                "search friends", "SEARCH ACTIVECALLS "}));
  }
  h.client->Stop();
  EXPECT_FALSE(h.client->IsStarted());
}

TEST(SkypeClientSendingThread, StopEndsThreadThatNeverSawAnAttach) {
  ClientHarness h(/*sendingThread=*/true);
  ASSERT_TRUE(h.client->Start(h.Poster()));
  h.client->Stop();  // would hang for ever if the waiting thread were not released
  EXPECT_EQ(h.wire.closes, 1);
  EXPECT_THAT(h.wire.attempts, IsEmpty());
}

TEST(SkypeClientSendingThread, StopCutsRetriesOfARefusingSkypeShort) {
  ClientHarness h(/*sendingThread=*/true, std::chrono::hours(1));
  std::atomic<int> attempts{0};
  h.wire.answer = [&](const std::string&) -> std::intptr_t { ++attempts; return 0; };
  ASSERT_TRUE(h.client->Start(h.Poster()));
  h.client->OnAttach(kSkypeWindow, CSkypeClient::kAttachSuccess);
  while (attempts.load() == 0) std::this_thread::yield();
  h.client->Stop();  // the pause before the next retry would otherwise last an hour
  EXPECT_EQ(h.client->Queue().Size(), 0u) << "Stop clears the queue";
  EXPECT_EQ(attempts.load(), 1);
}

}  // namespace
}  // namespace tovik::skypetest
