// The history store's saves: what reaches the disk, when a save fails, and what is kept
// when the file on disk is unreadable or a save is cut short.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <set>

#include <pugixml.hpp>

#include "history_fixture.h"

namespace tovik::history_test {
namespace {

using HistorySaveTest = HistoryFixture;

std::vector<std::string> RecordElementNames(const fs::path& file) {
  pugi::xml_document doc;
  EXPECT_TRUE(doc.load_file(file.c_str()));
  std::vector<std::string> names;
  for (pugi::xml_node rec : doc.child("rezev").child("list").children()) names.push_back(rec.name());
  return names;
}

std::vector<fs::path> FilesIn(const fs::path& dir) {
  std::vector<fs::path> out;
  for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename());
  std::sort(out.begin(), out.end());
  return out;
}

void MakeReadOnly(const fs::path& p, bool readOnly) {
  const auto write = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  fs::permissions(p, readOnly ? write : fs::perms::owner_write, readOnly ? fs::perm_options::remove : fs::perm_options::add);
}

TEST_F(HistorySaveTest, RecordsAddedWithinOneSecondAllSurvive) {
  auto store = OpenStore();
  ASSERT_TRUE(store->AddRecord(Item(L"a", L"1", L"a.mp3")));
  ASSERT_TRUE(store->AddRecord(Item(L"b", L"2", L"b.mp3")));
  ASSERT_TRUE(store->AddRecord(Item(L"c", L"3", L"c.mp3")));
  now_ += 1;
  ASSERT_TRUE(store->AddRecord(Item(L"d", L"4", L"d.mp3")));

  const std::vector<std::string> names = RecordElementNames(File());
  ASSERT_EQ(names.size(), 4u);
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), names.size());
  EXPECT_EQ(names[0], "rec20190315103205");
  EXPECT_EQ(names[3], "rec20190315103206");
  for (const std::string& n : names) EXPECT_EQ(n.rfind("rec2019031510320", 0), 0u) << n;

  auto reread = OpenStore();
  ASSERT_EQ(reread->GetCount(), 4);
  std::wstring files;
  for (int i = 0; i < 4; ++i) {
    CRecordItem rec;
    ASSERT_TRUE(reread->GetRecord(i, rec));
    files += rec.file + L" ";
  }
  EXPECT_EQ(files, L"a.mp3 b.mp3 c.mp3 d.mp3 ");
}

TEST_F(HistorySaveTest, ElementNameFollowsTheUtcClock) {
  struct Case {
    std::int64_t now;
    const char* name;
  } const cases[] = {
      {0, "rec19700101000000"},
      {951782400, "rec20000229000000"},
      {1735689599, "rec20241231235959"},
      {253402300799, "rec99991231235959"},
      {253402300800, "rec"},
      {-1, "rec"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(File());
    now_ = c.now;
    auto store = OpenStore();
    ASSERT_TRUE(store->AddRecord(Item(L"a", L"1")));
    ASSERT_TRUE(store->AddRecord(Item(L"b", L"1")));
    const std::vector<std::string> names = RecordElementNames(File());
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0], c.name);
    EXPECT_NE(names[1], names[0]);
  }
}

TEST_F(HistorySaveTest, UnreadableFileIsKeptAsADatedCopy) {
  const std::string contents[] = {
      "<?xml version=\"1.0\"?><rezev><list><rec1><name>alice</name><time>1</time>",
      "",
      std::string("\x00\x01\x02garbage\xFF", 11),
      "<?xml version=\"1.0\"?>",
      "<rezev><list></rezev></list>",
  };
  for (const std::string& bad : contents) {
    SCOPED_TRACE(bad);
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    auto store = OpenWith(bad);
    EXPECT_EQ(store->GetCount(), 0);
    EXPECT_EQ(FilesIn(dir_), std::vector<fs::path>{"record.xml"});

    now_ = kAddedAt;
    ASSERT_TRUE(store->AddRecord(Item(L"bob", L"2")));
    const fs::path copy = dir_ / "record-unreadable-20190315103205.xml";
    EXPECT_EQ(FilesIn(dir_), (std::vector<fs::path>{"record-unreadable-20190315103205.xml", "record.xml"}));
    EXPECT_EQ(ReadBytes(copy), bad);
    EXPECT_EQ(ReadBytes(File()).rfind("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>", 0), 0u);

    // The copy is taken once; later saves just replace the new file.
    now_ += 60;
    ASSERT_TRUE(store->AddRecord(Item(L"carol", L"3")));
    EXPECT_EQ(FilesIn(dir_).size(), 2u);
    EXPECT_EQ(OpenStore()->GetCount(), 2);
  }
}

TEST_F(HistorySaveTest, EarlierCopiesOfTheSameSecondAreNotOverwritten) {
  WriteBytes(dir_ / "record-unreadable-20190315103205.xml", "older copy");
  auto store = OpenWith("not xml");
  ASSERT_TRUE(store->AddRecord(Item(L"bob", L"2")));
  EXPECT_EQ(ReadBytes(dir_ / "record-unreadable-20190315103205.xml"), "older copy");
  EXPECT_EQ(ReadBytes(dir_ / "record-unreadable-20190315103205-2.xml"), "not xml");
}

// Each change that cannot be saved reports failure, stays in memory, and reaches the
// file with the next save that works.
TEST_F(HistorySaveTest, ReadOnlyFileMakesChangesReportFailure) {
  struct Case {
    const char* what;
    bool (*change)(CRecordStore&);
    int countAfter;
  } const cases[] = {
      {"add", [](CRecordStore& s) { return s.AddRecord(Item(L"carol", L"3")); }, 3},
      {"delete", [](CRecordStore& s) { return s.DeleteRecord(L"alice", L"1"); }, 1},
      {"mark seen", [](CRecordStore& s) { return s.MarkSeen(L"alice", L"1"); }, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(File());
    {
      auto setup = OpenStore();
      ASSERT_TRUE(setup->AddRecord(Item(L"alice", L"1")));
      ASSERT_TRUE(setup->AddRecord(Item(L"bob", L"2")));
    }
    const std::string before = ReadBytes(File());
    auto store = OpenStore();
    MakeReadOnly(File(), true);

    EXPECT_FALSE(c.change(*store));
    EXPECT_FALSE(store->IsSaved());
    EXPECT_EQ(store->GetCount(), c.countAfter);
    EXPECT_EQ(ReadBytes(File()), before);
    EXPECT_EQ(FilesIn(dir_), std::vector<fs::path>{"record.xml"});
    EXPECT_FALSE(c.change(*store)) << "a second try while still read-only";

    MakeReadOnly(File(), false);
    ASSERT_TRUE(store->Save());
    EXPECT_TRUE(store->IsSaved());
    auto reread = OpenStore();
    EXPECT_EQ(reread->GetCount(), c.countAfter);
    CRecordItem first;
    ASSERT_TRUE(reread->GetRecord(0, first));
    EXPECT_EQ(first.isNew, std::string(c.what) != "mark seen");
  }
}

TEST_F(HistorySaveTest, FailedWriteLeavesNoTemporaryAndIsRetried) {
  const fs::path folder = dir_ / "Tovik";
  auto store = OpenStore(folder / "record.xml");
  EXPECT_FALSE(store->AddRecord(Item(L"a", L"1")));
  EXPECT_FALSE(store->IsSaved());
  EXPECT_EQ(store->GetCount(), 1);

  fs::create_directories(folder);
  ASSERT_TRUE(store->AddRecord(Item(L"b", L"2")));
  EXPECT_TRUE(store->IsSaved());
  EXPECT_EQ(FilesIn(folder), std::vector<fs::path>{"record.xml"});
  EXPECT_EQ(OpenStore(folder / "record.xml")->GetCount(), 2);
}

TEST_F(HistorySaveTest, StoreWithoutAFileReportsEverySaveAsFailed) {
  CRecordStore store;
  store.Open(L"");
  EXPECT_EQ(store.GetCount(), 0);
  EXPECT_FALSE(store.AddRecord(Item(L"a", L"1")));
  EXPECT_EQ(store.GetCount(), 1);
  EXPECT_FALSE(store.IsSaved());
  EXPECT_FALSE(store.MarkSeen(L"a", L"1"));
  EXPECT_FALSE(store.Save());
  EXPECT_TRUE(FilesIn(dir_).empty());
}

TEST_F(HistorySaveTest, CrashBeforeReplacingLeavesTheOldHistory) {
  {
    auto store = OpenStore();
    ASSERT_TRUE(store->AddRecord(Item(L"alice", L"1", L"alice.mp3")));
  }
  const std::string before = ReadBytes(File());
  {
    auto store = OpenStore();
    bool reached = false;
    store->SetBeforeReplaceHook([&] {
      reached = true;
      // The new document is complete beside the old file at this point.
      EXPECT_EQ(OpenStore(dir_ / "record.xml.tmp")->GetCount(), 2);
      return false;
    });
    EXPECT_FALSE(store->AddRecord(Item(L"bob", L"2", L"bob.mp3")));
    EXPECT_TRUE(reached);
  }
  EXPECT_EQ(ReadBytes(File()), before);

  // The next run reads the old history and saves over what the crash left behind.
  auto next = OpenStore();
  ASSERT_EQ(next->GetCount(), 1);
  CRecordItem rec;
  ASSERT_TRUE(next->GetRecord(0, rec));
  EXPECT_EQ(rec.file, L"alice.mp3");
  ASSERT_TRUE(next->AddRecord(Item(L"carol", L"3")));
  EXPECT_EQ(FilesIn(dir_), std::vector<fs::path>{"record.xml"});
  EXPECT_EQ(OpenStore()->GetCount(), 2);
}

TEST_F(HistorySaveTest, ForeignEncodingDeclarationBecomesUtf8) {
  auto store = OpenWith("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><rezev><list><r><name>J\xFCrgen</name><time>1</time></r></list></rezev>");
  CRecordItem rec;
  ASSERT_TRUE(store->GetRecord(0, rec));
  EXPECT_EQ(rec.name, L"J\u00fcrgen");
  ASSERT_TRUE(store->AddRecord(Item(L"Ren\u00e9e", L"2")));
  EXPECT_EQ(ReadBytes(File()).rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u);

  auto reread = OpenStore();
  ASSERT_TRUE(reread->GetRecord(0, rec));
  EXPECT_EQ(rec.name, L"J\u00fcrgen");
  ASSERT_TRUE(reread->GetRecord(1, rec));
  EXPECT_EQ(rec.name, L"Ren\u00e9e");
}

// pugixml takes every allocation through these hooks; refusing large ones makes a value
// element fail half way through building a record.
size_t g_refuseAbove = SIZE_MAX;
void* LimitedAllocate(size_t size) { return size > g_refuseAbove ? nullptr : std::malloc(size); }

TEST_F(HistorySaveTest, DomFailureLeavesNoHalfBuiltRecord) {
  auto store = OpenStore();
  ASSERT_TRUE(store->AddRecord(Item(L"alice", L"1")));
  const std::string before = ReadBytes(File());

  const auto oldAllocate = pugi::get_memory_allocation_function();
  const auto oldFree = pugi::get_memory_deallocation_function();
  pugi::set_memory_management_functions(LimitedAllocate, std::free);
  g_refuseAbove = 256 * 1024;
  CRecordItem big = Item(L"bob", L"2");
  big.note.assign(1024 * 1024, L'n');
  const bool added = store->AddRecord(big);
  g_refuseAbove = SIZE_MAX;
  pugi::set_memory_management_functions(oldAllocate, oldFree);

  EXPECT_FALSE(added);
  EXPECT_EQ(store->GetCount(), 1);
  EXPECT_TRUE(store->IsSaved());
  EXPECT_EQ(ReadBytes(File()), before);

  ASSERT_TRUE(store->AddRecord(Item(L"carol", L"3")));
  const std::vector<std::string> names = RecordElementNames(File());
  EXPECT_EQ(names.size(), 2u);
  EXPECT_FALSE(store->FindRecord(L"bob", L"2"));
}

#ifndef _WIN32
std::string RunCommand(const std::string& command) {
  std::string out;
  if (std::FILE* p = popen(command.c_str(), "r")) {
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    if (pclose(p) != 0) out += "<failed>";
  }
  if (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}
#endif

// A plain XML parser sees the structure other programs rely on.
TEST_F(HistorySaveTest, FileIsReadByAnIndependentParser) {
#ifdef _WIN32
  GTEST_SKIP() << "xmllint runs natively only";
#else
  if (std::system("xmllint --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "xmllint is not installed";
  auto store = OpenStore();
  CRecordItem first = Item(L"J\u00fcrgen <&> \"x\"", L"1552645800", L"C:\\rec\\J\u00fcrgen.mp3");
  first.type = 1;
  first.duration = 61;
  first.note = L"line\r\nnext\x01";
  ASSERT_TRUE(store->AddRecord(first));
  CRecordItem second = Item(L"bob", L"1552645900");
  second.isNew = false;
  ASSERT_TRUE(store->AddRecord(second));

  const std::string file = "'" + File().string() + "'";
  EXPECT_EQ(RunCommand("xmllint --noout " + file + " 2>&1"), "");
  const auto xpath = [&](const std::string& expr) { return RunCommand("xmllint --xpath '" + expr + "' " + file + " 2>&1"); };
  EXPECT_EQ(xpath("count(/rezev/list/*)"), "2");
  EXPECT_EQ(xpath("count(//@*)"), "0");
  EXPECT_EQ(xpath("count(/rezev/list/*[1]/*)"), "7");
  std::string order = "concat(name(/rezev/list/*[2]/*[1])";
  for (int i = 2; i <= 7; ++i) order += ",\",\",name(/rezev/list/*[2]/*[" + std::to_string(i) + "])";
  EXPECT_EQ(xpath(order + ")"), "name,time,file,type,duration,new,note");
  EXPECT_EQ(xpath("string(/rezev/list/*[1]/name)"), "J\xC3\xBCrgen <&> \"x\"");
  EXPECT_EQ(xpath("string(/rezev/list/*[1]/file)"), "C:\\rec\\J\xC3\xBCrgen.mp3");
  EXPECT_EQ(xpath("concat(/rezev/list/*[1]/type,\"/\",/rezev/list/*[1]/duration,\"/\",/rezev/list/*[1]/new)"), "1/61/true");
  EXPECT_EQ(xpath("string(/rezev/list/*[1]/note)"), "linealineddnext\xEF\xBF\xBD");
  EXPECT_EQ(xpath("string(/rezev/list/*[2]/new)"), "false");
  EXPECT_EQ(xpath("name(/rezev/list/*[1])"), "rec20190315103205");
#endif
}

}  // namespace
}  // namespace tovik::history_test
