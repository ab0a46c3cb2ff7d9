// The history store on hostile or odd files: it loads them or fails cleanly, and never
// expands what a DOCTYPE declares.
#include <gtest/gtest.h>

#include "history_fixture.h"

namespace tovik::history_test {
namespace {

using HistoryInputTest = HistoryFixture;

TEST_F(HistoryInputTest, DoctypeEntitiesAreNeverExpanded) {
  WriteBytes(dir_ / "secret.txt", "SECRET");
  const std::string secret = (dir_ / "secret.txt").string();
  std::string laughs = "<!ENTITY l0 \"lol\">";
  for (int i = 1; i < 10; ++i)
    laughs += "<!ENTITY l" + std::to_string(i) + " \"" + std::string(10, '&') + "\">";
  for (int i = 1; i < 10; ++i) {
    std::string refs;
    for (int j = 0; j < 10; ++j) refs += "&l" + std::to_string(i - 1) + ";";
    const std::string from = "<!ENTITY l" + std::to_string(i) + " \"" + std::string(10, '&') + "\">";
    laughs.replace(laughs.find(from), from.size(), "<!ENTITY l" + std::to_string(i) + " \"" + refs + "\">");
  }
  const std::string file = "<?xml version=\"1.0\"?>\n<!DOCTYPE rezev [\n" + laughs +
                           "\n<!ENTITY ext SYSTEM \"file://" + secret + "\">\n<!ENTITY in \"INSIDE\">\n]>\n"
                           "<rezev><list><r><name>&in;&ext;</name><time>1</time><note>&l9;</note></r></list></rezev>";
  auto store = OpenWith(file);
  ASSERT_EQ(store->GetCount(), 1);
  CRecordItem rec;
  ASSERT_TRUE(store->GetRecord(0, rec));
  EXPECT_EQ(rec.name.find(L"INSIDE"), std::wstring::npos);
  EXPECT_EQ(rec.name.find(L"SECRET"), std::wstring::npos);
  EXPECT_LT(rec.note.size(), 100u);

  // What was read as text is written back as text, so nothing expands later either.
  ASSERT_TRUE(store->AddRecord(Item(L"b", L"2")));
  const std::string saved = ReadBytes(File());
  EXPECT_EQ(saved.find("<!DOCTYPE"), std::string::npos);
  EXPECT_EQ(saved.find("SECRET"), std::string::npos);
  CRecordItem again;
  ASSERT_TRUE(OpenStore()->GetRecord(0, again));
  EXPECT_EQ(again.name, rec.name);
}

TEST_F(HistoryInputTest, OddShapesLoadAndReadCleanly) {
  const std::string deep = [] {
    std::string s = "<rezev><list><r><name>";
    for (int i = 0; i < 200000; ++i) s += "<a>";
    s += "deep";
    for (int i = 0; i < 200000; ++i) s += "</a>";
    return s + "tail</name><time>1</time></r></list></rezev>";
  }();
  struct Case {
    const char* what;
    std::string file;
    int count;
    const wchar_t* firstName;  // null: GetRecord(0) is not checked
  } const cases[] = {
      {"deeply nested value", deep, 1, L"deeptail"},
      {"record with children of its own", "<rezev><list><r><name>a<b>b</b>c<![CDATA[<d>]]></name></r></list></rezev>", 1, L"abc<d>"},
      {"empty record", "<rezev><list><r/></list></rezev>", 1, L""},
      {"utf-16 with byte order mark", std::string("\xFF\xFE<\0r\0/\0>\0", 10), 0, nullptr},
      {"attributes everywhere", "<rezev a='1'><list b='2'><r c='3'><name d='4'>x</name></r></list></rezev>", 1, L"x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto store = OpenWith(c.file);
    ASSERT_EQ(store->GetCount(), c.count);
    if (c.firstName) {
      CRecordItem rec;
      ASSERT_TRUE(store->GetRecord(0, rec));
      EXPECT_EQ(rec.name, c.firstName);
      EXPECT_TRUE(store->FindRecord(rec.name, rec.time));
    }
    ASSERT_TRUE(store->AddRecord(Item(L"added", L"2")));
    // Layout must not grow with nesting depth squared.
    EXPECT_LT(fs::file_size(File()), 2 * c.file.size() + 1000);
    EXPECT_EQ(OpenStore()->GetCount(), c.count + 1);
  }
}

}  // namespace
}  // namespace tovik::history_test
