#pragma once
// Shared setup for the history store tests: a fresh folder per test, real files in it,
// and a store with a clock the test sets.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>

#include "base/Text.h"
#include "history/RecordStore.h"

namespace tovik::history_test {

namespace fs = std::filesystem;

// 2019-03-15 10:32:05 UTC.
constexpr std::int64_t kAddedAt = 1552645925;

inline std::wstring WidePath(const fs::path& p) {
  const std::u8string u8 = p.u8string();
  return Utf8ToWide(std::string(u8.begin(), u8.end()));
}

inline fs::path Utf8Path(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

inline std::string ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void WriteBytes(const fs::path& p, const std::string& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << bytes;
}

inline CRecordItem Item(const std::wstring& name, const std::wstring& time, const std::wstring& file = L"C:\\rec\\a.mp3") {
  CRecordItem item;
  item.name = name;
  item.time = time;
  item.file = file;
  return item;
}

// A file holding `records` (hand-made record elements) under rezev/list.
inline std::string HistoryXml(const std::string& records) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n<rezev><list>" + records + "</list></rezev>\n";
}

class HistoryFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    const std::string name = std::string("tovik-history-") + ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                             "-" + std::to_string(rd()) + std::to_string(rd());
    std::string safe;
    for (char c : name) safe += (std::isalnum(static_cast<unsigned char>(c)) || c == '-') ? c : '_';
    dir_ = fs::temp_directory_path() / safe;
    fs::create_directories(dir_);
  }

  void TearDown() override {
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(dir_, ec))
      fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir_, ec);
  }

  fs::path File() const { return dir_ / "record.xml"; }

  std::unique_ptr<CRecordStore> OpenStore(const fs::path& path) {
    auto store = std::make_unique<CRecordStore>([this] { return now_; });
    store->Open(WidePath(path));
    return store;
  }
  std::unique_ptr<CRecordStore> OpenStore() { return OpenStore(File()); }

  std::unique_ptr<CRecordStore> OpenWith(const std::string& contents) {
    WriteBytes(File(), contents);
    return OpenStore();
  }

  fs::path dir_;
  std::int64_t now_ = kAddedAt;
};

}  // namespace tovik::history_test
