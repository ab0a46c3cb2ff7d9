// The call table, the call-partner map and the contact directory.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "skype/CallTable.h"
#include "skype/ContactDirectory.h"
#include "skype/SkypeCodes.h"

namespace tovik {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Pair;

struct TableFixture {
  std::vector<std::wstring> queued;
  std::int64_t now = 5000;
  CCallTable table{[this](const std::wstring& c) { queued.push_back(c); return true; }, [this] { return now; }};
};

TEST(SkypeCallTable, FindOrAddTakesFirstFreeSlotAndAsksForPartner) {
  TableFixture f;
  EXPECT_EQ(f.table.FindOrAdd(L"  "), -1);
  EXPECT_EQ(f.table.FindOrAdd(L" 11 "), 0);
  EXPECT_EQ(f.table.FindOrAdd(L"11"), 0) << "ids are trimmed";
  EXPECT_EQ(f.table.FindOrAdd(L"12"), 1);
  EXPECT_EQ(f.table.Find(L"12\t"), 1);
  EXPECT_EQ(f.table.Find(L"13"), -1);
  EXPECT_EQ(f.table.IdAt(0), L"11");
  EXPECT_EQ(f.table.StartTimeAt(0), 5000);
  EXPECT_THAT(f.queued, ElementsAre(L"get call 11 partner_handle", L"get call 12 partner_handle"));
  EXPECT_EQ(f.table.Count(), 0) << "a slot without a status is not counted";
  for (int i = 2; i < CCallTable::kSlots; ++i) EXPECT_EQ(f.table.FindOrAdd(std::to_wstring(100 + i)), i);
  EXPECT_EQ(f.table.FindOrAdd(L"999"), -1) << "full";
  EXPECT_EQ(f.queued.size(), static_cast<size_t>(CCallTable::kSlots));
}

TEST(SkypeCallTable, UpdateStatusTakesSlotOnlyForOpeningCodes) {
  for (int code = 0; code <= 12; ++code) {
    SCOPED_TRACE(code);
    TableFixture f;
    const bool takes = code == 1 || code == 2 || code == 3 || code == 5 || code == 6 || code == 7;
    const int slot = f.table.UpdateStatus(L"42", code);
    EXPECT_EQ(slot, takes ? 0 : -1);
    EXPECT_EQ(f.table.StatusOf(L"42"), takes ? code : 0);
    EXPECT_EQ(f.queued.size(), takes ? 1u : 0u);
    // Once held, any code is recorded.
    f.table.FindOrAdd(L"43");
    EXPECT_EQ(f.table.UpdateStatus(L"43", code), takes ? 1 : 0);
    EXPECT_EQ(f.table.StatusOf(L"43"), code);
  }
}

TEST(SkypeCallTable, LiveAndActiveQueries) {
  struct Case {
    std::vector<std::pair<const wchar_t*, int>> calls;
    bool anyInProgress, anyActive;
    int count;
  };
  const Case cases[] = {
      {{}, false, false, 0},
      {{{L"1", CALL_RINGING}}, false, false, 1},
      {{{L"1", CALL_ONHOLD}}, false, true, 1},
      {{{L"1", CALL_INPROGRESS}}, true, true, 1},
      {{{L"1", CALL_RINGING}, {L"1", CALL_FINISHED}, {L"2", CALL_ROUTING}, {L"2", CALL_INPROGRESS}}, true, true, 2},
      {{{L"1", CALL_INPROGRESS}, {L"1", CALL_FINISHED}}, false, false, 1},
      {{{L"1", CALL_INPROGRESS}, {L"1", CALL_UNKNOWN}}, false, false, 0},
  };
  for (const Case& c : cases) {
    TableFixture f;
    for (const auto& [id, code] : c.calls) f.table.UpdateStatus(id, code);
    EXPECT_EQ(f.table.AnyInProgress(), c.anyInProgress);
    EXPECT_EQ(f.table.AnyActive(), c.anyActive);
    EXPECT_EQ(f.table.Count(), c.count);
  }
}

TEST(SkypeCallTable, PickActiveCallPrefersEarliestStartAndLaterSlotOnTies) {
  struct Call {
    const wchar_t* id;
    std::int64_t start;
    int status;
  };
  struct Case {
    const char* name;
    std::vector<Call> calls;
    std::int64_t now;
    const wchar_t* picked;
  };
  const Case cases[] = {
      {"none live", {{L"1", 10, CALL_RINGING}, {L"2", 5, CALL_FINISHED}}, 100, L""},
      {"earliest", {{L"1", 20, CALL_INPROGRESS}, {L"2", 10, CALL_ONHOLD}, {L"3", 15, CALL_INPROGRESS}}, 100, L"2"},
      {"tie goes to the higher slot", {{L"1", 10, CALL_INPROGRESS}, {L"2", 10, CALL_INPROGRESS}}, 100, L"2"},
      {"ended earlier call is skipped", {{L"1", 5, CALL_FINISHED}, {L"2", 10, CALL_INPROGRESS}}, 100, L"2"},
      {"start in the future is skipped", {{L"1", 200, CALL_INPROGRESS}, {L"2", 300, CALL_INPROGRESS}}, 100, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TableFixture f;
    for (const Call& call : c.calls) {
      f.now = call.start;
      f.table.UpdateStatus(call.id, CALL_RINGING);
      f.table.UpdateStatus(call.id, call.status);
      f.table.SetPartner(call.id, std::wstring(L"p") + call.id);
    }
    f.now = c.now;
    const auto [id, partner] = f.table.PickActiveCall();
    EXPECT_EQ(id, c.picked);
    EXPECT_EQ(partner, id.empty() ? L"" : L"p" + id);
  }
}

TEST(SkypeCallTable, PartnersAndReset) {
  TableFixture f;
  EXPECT_EQ(f.table.SetPartner(L"7", L"Bob"), 0);
  EXPECT_EQ(f.table.PartnerOf(L"7"), L"Bob");
  EXPECT_EQ(f.table.PartnerOf(L" 7"), L"") << "PartnerOf does not trim";
  EXPECT_TRUE(f.table.IsPartner(L"bOB"));
  EXPECT_FALSE(f.table.IsPartner(L"alice"));
  EXPECT_EQ(f.table.StatusAt(-1), 0);
  EXPECT_EQ(f.table.StatusAt(20), 0);
  EXPECT_EQ(f.table.IdAt(20), L"");
  f.table.UpdateStatus(L"7", CALL_INPROGRESS);
  f.table.Reset();
  EXPECT_EQ(f.table.Find(L"7"), -1);
  EXPECT_FALSE(f.table.IsPartner(L"Bob"));
  EXPECT_FALSE(f.table.AnyActive());
  EXPECT_EQ(f.table.StartTimeAt(0), 0);
}

TEST(SkypeCallPartnerMap, SetGetAndMapList) {
  CCallPartnerMap map;
  map.Set(L"abc", L"alice");
  map.Set(L"12", L"bob");
  map.Set(L"ABC", L"carol");  // ids compared without case: replaces alice
  EXPECT_EQ(map.Get(L"aBc"), L"carol");
  EXPECT_EQ(map.Get(L"99"), L"99") << "unknown ids map to themselves";
  struct Case {
    const wchar_t* ids;
    const wchar_t* mapped;
  };
  const Case cases[] = {
      {L"", L""}, {L"12", L"bob"}, {L"abc,12", L"carol,bob"}, {L",12,,99,", L"bob,99"}, {L"12, abc", L"bob, abc"},
  };
  for (const Case& c : cases) EXPECT_EQ(map.MapList(c.ids), c.mapped);
}

TEST(SkypeContactDirectory, AddSetRemoveAndFormat) {
  CContactDirectory dir;
  dir.Add(L"alice");
  dir.Add(L"bob");
  EXPECT_EQ(dir.SetFullName(L"alice", L"Alice Smith"), 0);
  dir.Add(L"alice");
  EXPECT_EQ(dir.GetFullName(L"alice"), L"Alice Smith") << "adding again keeps the name";
  EXPECT_EQ(dir.SetFullName(L"carol", L"Carol"), -1) << "unknown handles are added";
  EXPECT_EQ(dir.GetFullName(L"Alice"), L"") << "handles are compared exactly";
  EXPECT_FALSE(dir.Remove(L"zed"));
  EXPECT_THAT(dir.Entries(), ElementsAre(Pair(L"alice", L"Alice Smith"), Pair(L"bob", L""), Pair(L"carol", L"Carol")));
  struct Case {
    const wchar_t* handles;
    const wchar_t* names;
  };
  const Case cases[] = {
      {L"alice,bob", L"Alice Smith | bob"}, {L"alice", L"Alice Smith"}, {L"zed", L"zed"},
      {L"", L""}, {L",,carol,", L"Carol"}, {L"alice, bob", L"Alice Smith |  bob"},
  };
  for (const Case& c : cases) EXPECT_EQ(dir.FormatNames(c.handles), c.names);
  EXPECT_TRUE(dir.Remove(L"alice"));
  EXPECT_EQ(dir.FormatNames(L"alice,bob"), L"alice | bob");
  // Positions after a removal move up by one.
  EXPECT_EQ(dir.SetFullName(L"carol", L"Carol B"), 1);
  EXPECT_EQ(dir.SetFullName(L"bob", L"Bob"), 0);
  EXPECT_EQ(dir.SetFullName(L"alice", L"Alice"), -1);
  EXPECT_EQ(dir.SetFullName(L"alice", L"Alice S"), 2);
}

}  // namespace
}  // namespace tovik
