// The history store's records: the file format, reading and repairing values, identity.
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include "history_fixture.h"

namespace tovik::history_test {
namespace {

using HistoryStoreTest = HistoryFixture;

constexpr const char* kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>";

TEST_F(HistoryStoreTest, FirstStartWritesNothingUntilTheFirstAdd) {
  auto store = OpenStore();
  EXPECT_EQ(store->GetCount(), 0);
  CRecordItem unused;
  EXPECT_FALSE(store->GetRecord(0, unused));
  EXPECT_FALSE(fs::exists(File()));

  ASSERT_TRUE(store->AddRecord(Item(L"alice_77", L"1552645800")));
  EXPECT_TRUE(store->IsSaved());
  const std::string bytes = ReadBytes(File());
  EXPECT_EQ(bytes.rfind(kDeclaration, 0), 0u) << bytes;

  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(bytes.c_str()));
  EXPECT_STREQ(doc.document_element().name(), "rezev");
  const pugi::xml_node list = doc.document_element().child("list");
  ASSERT_TRUE(list);
  EXPECT_EQ(std::distance(list.begin(), list.end()), 1);
  EXPECT_FALSE(fs::exists(dir_ / "record.xml.tmp"));
}

TEST_F(HistoryStoreTest, ExampleRecordIsWrittenInOrderAndReadBack) {
  CRecordItem item;
  item.type = 2;
  item.isNew = true;
  item.duration = 125;
  item.name = L"alice_77";
  item.time = L"1552645800";
  item.file = L"C:\\Users\\me\\Documents\\Tovik Skype Recorder\\alice_77_2019-03-15_10-30-00.mp3";
  {
    auto store = OpenStore();
    ASSERT_TRUE(store->AddRecord(item));
  }

  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_file(File().c_str()));
  const pugi::xml_node rec = doc.child("rezev").child("list").first_child();
  EXPECT_STREQ(rec.name(), "rec20190315103205");
  EXPECT_FALSE(rec.next_sibling());
  std::string order;
  for (pugi::xml_node v : rec.children()) {
    order += std::string(v.name()) + "=" + v.child_value() + ";";
    EXPECT_FALSE(v.first_attribute());
  }
  EXPECT_EQ(order,
            "name=alice_77;time=1552645800;file=C:\\Users\\me\\Documents\\Tovik Skype "
            "Recorder\\alice_77_2019-03-15_10-30-00.mp3;type=2;duration=125;new=true;note=;");

  auto reread = OpenStore();
  ASSERT_EQ(reread->GetCount(), 1);
  CRecordItem back;
  back.type = 7;
  back.isNew = false;
  back.note = L"stale";
  ASSERT_TRUE(reread->GetRecord(0, back));
  EXPECT_EQ(back.type, 2);
  EXPECT_TRUE(back.isNew);
  EXPECT_EQ(back.duration, 125);
  EXPECT_EQ(back.name, item.name);
  EXPECT_EQ(back.time, item.time);
  EXPECT_EQ(back.file, item.file);
  EXPECT_EQ(back.note, L"");
}

// Identity is (name, time) as whole, case-sensitive texts.
TEST_F(HistoryStoreTest, IdentityDecidesWhatIsADuplicate) {
  struct Case {
    const wchar_t* name;
    const wchar_t* time;
    bool duplicate;
  } const cases[] = {
      {L"alice_77", L"0123", true},
      {L"alice_77", L"123", false},
      {L"alice_77", L"01234", false},
      {L"Alice_77", L"0123", false},
      {L"alice_77,bob", L"0123", false},
      {L"alice_7", L"0123", false},
      {L"alice_77 ", L"0123", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << WideToUtf8(c.name) << " / " << WideToUtf8(c.time));
    fs::remove(File());
    auto store = OpenStore();
    ASSERT_TRUE(store->AddRecord(Item(L"alice_77", L"0123", L"first.mp3")));
    const std::string before = ReadBytes(File());

    EXPECT_EQ(store->FindRecord(c.name, c.time), c.duplicate);
    CRecordItem again = Item(c.name, c.time, L"second.mp3");
    EXPECT_EQ(store->AddRecord(again), !c.duplicate);
    EXPECT_TRUE(store->IsSaved());
    EXPECT_EQ(store->GetCount(), c.duplicate ? 1 : 2);
    if (c.duplicate) {
      EXPECT_EQ(ReadBytes(File()), before);
    }
    EXPECT_EQ(OpenStore()->GetCount(), c.duplicate ? 1 : 2);
  }
}

TEST_F(HistoryStoreTest, ValuesAreReadAsStoredAndRepaired) {
  struct Case {
    const char* values;  // value elements of one record; name and time are added
    std::int32_t type;
    bool isNew;
    std::int32_t duration;
  } const cases[] = {
      {"<type>1</type><duration>60</duration><new>true</new>", 1, true, 60},
      {"<duration>60</duration><new>false</new>", 0, false, 60},
      {"<type></type><duration/><new>true</new>", 0, true, 0},
      {"<type>2</type><new>yes</new><duration>5</duration>", 2, false, 5},
      {"<type>2</type><new>TRUE</new>", 2, false, 0},
      {"<type>2</type><new></new>", 2, false, 0},
      {"<type>  -42abc</type><duration>+17s</duration><new>true</new>", -42, true, 17},
      {"<type>abc</type><duration>- 5</duration><new>true</new>", 0, true, 0},
      {"<type>99999999999</type><duration>-99999999999</duration><new>true</new>", INT32_MAX, true, INT32_MIN},
      {"<type>2147483647</type><duration>-2147483648</duration><new>true</new>", INT32_MAX, true, INT32_MIN},
      {"<new>true</new><duration>9</duration><type>1</type>", 1, true, 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.values);
    auto store = OpenWith(HistoryXml(std::string("<r><name>bob</name><time>100</time>") + c.values + "</r>"));
    ASSERT_EQ(store->GetCount(), 1);
    CRecordItem rec;
    ASSERT_TRUE(store->GetRecord(0, rec));
    EXPECT_EQ(rec.name, L"bob");
    EXPECT_EQ(rec.time, L"100");
    EXPECT_EQ(rec.type, c.type);
    EXPECT_EQ(rec.isNew, c.isNew);
    EXPECT_EQ(rec.duration, c.duration);
    EXPECT_EQ(rec.file, L"");
    EXPECT_EQ(rec.note, L"");
  }
}

TEST_F(HistoryStoreTest, RepairsStayInMemoryUntilTheNextSave) {
  const std::string original = HistoryXml("<r><name>bob</name><time>100</time><type/><new>maybe</new></r>");
  auto store = OpenWith(original);
  CRecordItem rec;
  ASSERT_TRUE(store->GetRecord(0, rec));
  EXPECT_EQ(ReadBytes(File()), original);

  ASSERT_TRUE(store->AddRecord(Item(L"carol", L"200")));
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_file(File().c_str()));
  const pugi::xml_node repaired = doc.child("rezev").child("list").first_child();
  EXPECT_STREQ(repaired.child("type").child_value(), "0");
  EXPECT_STREQ(repaired.child("duration").child_value(), "0");
  EXPECT_STREQ(repaired.child("new").child_value(), "false");
  EXPECT_TRUE(repaired.child("file"));
  EXPECT_TRUE(repaired.child("note"));
}

TEST_F(HistoryStoreTest, NoteLineBreaksAreStoredAsMarkAndReadBack) {
  CRecordItem item = Item(L"alice", L"1");
  item.note = L"A\r\nB\r\n\r\nC\nD";
  auto store = OpenStore();
  ASSERT_TRUE(store->AddRecord(item));

  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_file(File().c_str()));
  EXPECT_STREQ(doc.child("rezev").child("list").first_child().child("note").child_value(), "AalineddBalineddalineddC\nD");
  CRecordItem back;
  ASSERT_TRUE(OpenStore()->GetRecord(0, back));
  EXPECT_EQ(back.note, item.note);

  auto handMade = OpenWith(HistoryXml("<r><name>x</name><time>2</time><note>onealineddtwoalinedd</note></r>"));
  ASSERT_TRUE(handMade->GetRecord(0, back));
  EXPECT_EQ(back.note, L"one\r\ntwo\r\n");
}

TEST_F(HistoryStoreTest, EqualIdentityActsOnTheFirstRecordOnly) {
  const std::string twins = HistoryXml(
      "<rec1><name>bob</name><time>5</time><file>first</file><new>true</new></rec1>"
      "<rec1><name>bob</name><time>5</time><file>second</file><new>true</new></rec1>");
  {
    auto store = OpenWith(twins);
    pugi::xml_node found;
    ASSERT_TRUE(store->FindRecord(L"bob", L"5", &found));
    EXPECT_STREQ(found.child("file").child_value(), "first");
  }
  {
    auto store = OpenWith(twins);
    ASSERT_TRUE(store->MarkSeen(L"bob", L"5"));
    auto reread = OpenStore();
    CRecordItem a, b;
    ASSERT_TRUE(reread->GetRecord(0, a));
    ASSERT_TRUE(reread->GetRecord(1, b));
    EXPECT_EQ(a.file, L"first");
    EXPECT_FALSE(a.isNew);
    EXPECT_TRUE(b.isNew);
  }
  {
    auto store = OpenWith(twins);
    ASSERT_TRUE(store->DeleteRecord(L"bob", L"5"));
    CRecordItem left;
    ASSERT_EQ(store->GetCount(), 1);
    ASSERT_TRUE(store->GetRecord(0, left));
    EXPECT_EQ(left.file, L"second");
    auto reread = OpenStore();
    ASSERT_EQ(reread->GetCount(), 1);
    ASSERT_TRUE(reread->GetRecord(0, left));
    EXPECT_EQ(left.file, L"second");
  }
}

TEST_F(HistoryStoreTest, UnknownRecordsAreNeitherDeletedNorMarked) {
  auto store = OpenStore();
  ASSERT_TRUE(store->AddRecord(Item(L"bob", L"0123")));
  const std::string before = ReadBytes(File());
  EXPECT_FALSE(store->DeleteRecord(L"bob", L"123"));
  EXPECT_FALSE(store->MarkSeen(L"bob", L"123"));
  EXPECT_FALSE(store->DeleteRecord(L"", L""));
  EXPECT_EQ(store->GetCount(), 1);
  EXPECT_EQ(ReadBytes(File()), before);
  EXPECT_TRUE(store->IsSaved());
}

TEST_F(HistoryStoreTest, IndexOutsideTheListFails) {
  auto store = OpenStore();
  ASSERT_TRUE(store->AddRecord(Item(L"a", L"1")));
  ASSERT_TRUE(store->AddRecord(Item(L"b", L"2")));
  CRecordItem rec;
  EXPECT_TRUE(store->GetRecord(1, rec));
  EXPECT_EQ(rec.name, L"b");
  EXPECT_FALSE(store->GetRecord(store->GetCount(), rec));
  EXPECT_FALSE(store->GetRecord(-1, rec));
  EXPECT_EQ(rec.name, L"b");
}

TEST_F(HistoryStoreTest, DeleteKeepsTheOrderOfTheOthers) {
  auto store = OpenStore();
  for (const wchar_t* n : {L"a", L"b", L"c", L"d"}) ASSERT_TRUE(store->AddRecord(Item(n, L"1")));
  ASSERT_TRUE(store->DeleteRecord(L"b", L"1"));
  ASSERT_TRUE(store->DeleteRecord(L"d", L"1"));
  ASSERT_TRUE(store->AddRecord(Item(L"e", L"1")));
  auto reread = OpenStore();
  for (CRecordStore* s : {store.get(), reread.get()}) {
    std::wstring names;
    CRecordItem rec;
    for (int i = 0; i < s->GetCount(); ++i) {
      ASSERT_TRUE(s->GetRecord(i, rec));
      names += rec.name;
    }
    EXPECT_EQ(names, L"ace");
  }
}

TEST_F(HistoryStoreTest, LoadedFileKeepsItsRootAndDeclaration) {
  struct Case {
    const char* file;
    const char* declaration;  // what the saved file starts with
    const char* root;
    int count;
  } const cases[] = {
      {"<?xml version=\"1.0\"?><history><list><a><name>x</name><time>1</time></a></list></history>", "<?xml version=\"1.0\"?>",
       "history", 1},
      {"<rezev/>", "<rezev", "rezev", 0},
      {"<rezev><other/><list/><list><r><name>y</name></r></list></rezev>", "<rezev", "rezev", 0},
      {"<rezev><list>stray text<r><name>x</name><time>1</time></r>more</list></rezev>", "<rezev", "rezev", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    auto store = OpenWith(c.file);
    EXPECT_EQ(store->GetCount(), c.count);
    ASSERT_TRUE(store->AddRecord(Item(L"new", L"9")));
    EXPECT_EQ(store->GetCount(), c.count + 1);
    const std::string bytes = ReadBytes(File());
    EXPECT_EQ(bytes.rfind(c.declaration, 0), 0u) << bytes;

    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(bytes.c_str()));
    EXPECT_STREQ(doc.document_element().name(), c.root);
    const pugi::xml_node list = doc.document_element().child("list");
    EXPECT_STREQ(list.last_child().child("name").child_value(), "new");
    EXPECT_EQ(OpenStore()->GetCount(), c.count + 1);
  }
}

TEST_F(HistoryStoreTest, TextsOutsideAsciiAndMarkupRoundTrip) {
  const std::wstring texts[] = {
      L"<b>&amp; \"quoted\" 'single' ]]>",
      L"J\u00fcrgen,\u674e\u96f7,\u0416\u0435\u043d\u044f",
      L"emoji \U0001F600 beyond the basic plane",
      L"  leading and trailing  ",
      L"tab\there",
  };
  auto store = OpenStore();
  int i = 0;
  for (const std::wstring& t : texts) {
    CRecordItem item = Item(t, std::to_wstring(i++), t + L".mp3");
    item.note = t;
    ASSERT_TRUE(store->AddRecord(item));
  }
  auto reread = OpenStore();
  ASSERT_EQ(reread->GetCount(), static_cast<int>(std::size(texts)));
  i = 0;
  for (const std::wstring& t : texts) {
    SCOPED_TRACE(WideToUtf8(t));
    CRecordItem back;
    ASSERT_TRUE(reread->GetRecord(i, back));
    EXPECT_EQ(back.name, t);
    EXPECT_EQ(back.file, t + L".mp3");
    EXPECT_EQ(back.note, t);
    EXPECT_TRUE(reread->FindRecord(t, std::to_wstring(i)));
    ++i;
  }
}

// Characters XML forbids would make the whole file unreadable; they are stored as
// U+FFFD, and the record stays reachable by the texts its caller holds.
TEST_F(HistoryStoreTest, CharactersXmlForbidsAreReplacedNotWritten) {
  const std::wstring name = std::wstring(L"bad\x01" L"name") + L'\0' + L"end\x1f";
  auto store = OpenStore();
  ASSERT_TRUE(store->AddRecord(Item(name, L"7")));
  EXPECT_FALSE(store->AddRecord(Item(name, L"7")));

  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_file(File().c_str()));
  EXPECT_STREQ(doc.child("rezev").child("list").first_child().child("name").child_value(),
               "bad\xEF\xBF\xBDname\xEF\xBF\xBD" "end\xEF\xBF\xBD");

  auto reread = OpenStore();
  CRecordItem back;
  ASSERT_TRUE(reread->GetRecord(0, back));
  EXPECT_EQ(back.name, L"bad\xFFFDname\xFFFD" L"end\xFFFD");
  EXPECT_TRUE(reread->MarkSeen(name, L"7"));
  EXPECT_TRUE(reread->DeleteRecord(back.name, L"7"));
  EXPECT_EQ(reread->GetCount(), 0);

  // A hand-made file may hold them as character references, or bytes that are no UTF-8.
  auto handMade = OpenWith(HistoryXml("<r><name>x&#1;y</name><time>1</time></r><r><name>\xFF\xFEz</name><time>2</time></r>"));
  CRecordItem first, second;
  ASSERT_TRUE(handMade->GetRecord(0, first));
  ASSERT_TRUE(handMade->GetRecord(1, second));
  EXPECT_EQ(second.name.back(), L'z');
  EXPECT_TRUE(handMade->FindRecord(first.name, L"1"));
  EXPECT_TRUE(handMade->DeleteRecord(second.name, L"2"));
  EXPECT_TRUE(handMade->DeleteRecord(first.name, L"1"));
  EXPECT_EQ(handMade->GetCount(), 0);
}

TEST_F(HistoryStoreTest, PathNamesTheDataFolderOrTheFile) {
  const fs::path folder = dir_ / Utf8Path("Tovik \xC3\x9C\xE6\x9D\x8E");
  fs::create_directories(folder);
  const std::wstring wideFolder = WidePath(folder);
  const std::wstring given[] = {
      wideFolder + L"/",
      wideFolder,
      WidePath(folder / "record.xml"),
  };
  for (const std::wstring& path : given) {
    SCOPED_TRACE(WideToUtf8(path));
    fs::remove(folder / "record.xml");
    CRecordStore store;
    store.Open(path);
    EXPECT_EQ(store.GetFilePath(), WidePath(folder / "record.xml"));
    ASSERT_TRUE(store.AddRecord(Item(L"a", L"1")));
    EXPECT_TRUE(fs::is_regular_file(folder / "record.xml"));
  }
}

TEST_F(HistoryStoreTest, ReopeningReplacesTheHistoryInMemory) {
  auto store = OpenStore();
  ASSERT_TRUE(store->AddRecord(Item(L"a", L"1")));
  const fs::path other = dir_ / "other.xml";
  store->Open(WidePath(other));
  EXPECT_EQ(store->GetCount(), 0);
  ASSERT_TRUE(store->AddRecord(Item(L"b", L"2")));
  store->Open(WidePath(File()));
  ASSERT_EQ(store->GetCount(), 1);
  CRecordItem rec;
  ASSERT_TRUE(store->GetRecord(0, rec));
  EXPECT_EQ(rec.name, L"a");
}

}  // namespace
}  // namespace tovik::history_test
