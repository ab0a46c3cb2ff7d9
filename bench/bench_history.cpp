// The history store at a size a heavy user reaches after years: 100,000 records in about
// 50 MB. Every change rewrites the whole file, so these figures decide whether that is
// still acceptable.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "base/Text.h"
#include "history/RecordStore.h"

namespace {

namespace fs = std::filesystem;

constexpr int kRecords = 100000;

std::wstring Wide(const fs::path& p) {
  const std::u8string u8 = p.u8string();
  return tovik::Utf8ToWide(std::string(u8.begin(), u8.end()));
}

// Written in the store's own layout; about 500 bytes a record.
const fs::path& HistoryFile() {
  static const fs::path file = [] {
    const fs::path dir = fs::temp_directory_path() / "tovik-bench-history";
    fs::create_directories(dir);
    const fs::path p = dir / "record.xml";
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n<rezev>\n\t<list>\n";
    const std::string note(210, 'n');
    for (int i = 0; i < kRecords; ++i) {
      const std::string partner = "partner_" + std::to_string(i % 700);
      const std::string time = std::to_string(1300000000 + i * 3600);
      out << "\t\t<rec2019031510" << (100000 + i) << ">\n"
          << "\t\t\t<name>" << partner << "</name>\n"
          << "\t\t\t<time>" << time << "</time>\n"
          << "\t\t\t<file>C:\\Users\\somebody\\Documents\\Tovik Skype Recorder\\" << partner << "_" << time
          << ".mp3</file>\n"
          << "\t\t\t<type>" << 1 + i % 2 << "</type>\n"
          << "\t\t\t<duration>" << (i * 37) % 5000 << "</duration>\n"
          << "\t\t\t<new>" << (i % 3 ? "false" : "true") << "</new>\n"
          << "\t\t\t<note>" << note << "alinedd" << i << "</note>\n"
          << "\t\t</rec2019031510" << (100000 + i) << ">\n";
    }
    out << "\t</list>\n</rezev>\n";
    return p;
  }();
  return file;
}

void BM_OpenAndReadAll(benchmark::State& state) {
  const fs::path& file = HistoryFile();
  for (auto _ : state) {
    tovik::CRecordStore store;
    store.Open(Wide(file));
    const int count = store.GetCount();
    tovik::CRecordItem rec;
    int read = 0;
    for (int i = 0; i < count; ++i) read += store.GetRecord(i, rec) ? 1 : 0;
    if (read != kRecords) state.SkipWithError("records missing");
    benchmark::DoNotOptimize(rec);
  }
  state.counters["file_MB"] = static_cast<double>(fs::file_size(file)) / 1e6;
  state.counters["records"] = kRecords;
}
BENCHMARK(BM_OpenAndReadAll)->Unit(benchmark::kMillisecond)->Iterations(5);

// One AddRecord: the duplicate search over every record plus the rewrite of the file.
void BM_AddRecord(benchmark::State& state) {
  const fs::path copy = HistoryFile().parent_path() / "record-add.xml";
  fs::copy_file(HistoryFile(), copy, fs::copy_options::overwrite_existing);
  tovik::CRecordStore store;
  store.Open(Wide(copy));
  int n = 0;
  for (auto _ : state) {
    tovik::CRecordItem rec;
    rec.name = L"new_partner";
    rec.time = std::to_wstring(2000000000 + n++);
    rec.file = L"C:\\Users\\somebody\\Documents\\Tovik Skype Recorder\\new_partner.mp3";
    if (!store.AddRecord(rec)) state.SkipWithError("AddRecord failed");
  }
  state.counters["file_MB"] = static_cast<double>(fs::file_size(copy)) / 1e6;
}
BENCHMARK(BM_AddRecord)->Unit(benchmark::kMillisecond)->Iterations(10);

// The search alone, for a record that is not there (the worst case of every change).
void BM_FindMissing(benchmark::State& state) {
  tovik::CRecordStore store;
  store.Open(Wide(HistoryFile()));
  for (auto _ : state) benchmark::DoNotOptimize(store.FindRecord(L"nobody", L"1"));
}
BENCHMARK(BM_FindMissing)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
