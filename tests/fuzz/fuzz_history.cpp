// Feeds arbitrary bytes to the history store as "record.xml": opening, reading every
// record, and one change with its save must neither crash nor leak.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/Text.h"
#include "history/RecordStore.h"

namespace {

const std::filesystem::path& FuzzFolder() {
  static const std::filesystem::path folder = [] {
    // Memory-backed when the machine has it: every input is written and saved.
    std::error_code ec;
    const std::filesystem::path shm = "/dev/shm";
    const std::filesystem::path base = std::filesystem::is_directory(shm, ec) ? shm : std::filesystem::temp_directory_path();
    std::filesystem::path p = base / "tovik-fuzz-history";
    std::filesystem::create_directories(p);
    return p;
  }();
  return folder;
}

std::wstring Wide(const std::filesystem::path& p) {
  const std::u8string u8 = p.u8string();
  return tovik::Utf8ToWide(std::string(u8.begin(), u8.end()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path file = FuzzFolder() / "record.xml";
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  tovik::CRecordStore store([] { return std::int64_t{1552645925}; });
  store.Open(Wide(file));
  const int count = store.GetCount();
  tovik::CRecordItem first;
  for (int i = 0; i < count; ++i) {
    tovik::CRecordItem rec;
    if (store.GetRecord(i, rec) && i == 0) first = rec;
  }
  tovik::CRecordItem extra;
  if (!store.GetRecord(count, extra)) {
    if (count > 0) {
      store.FindRecord(first.name, first.time);
      store.MarkSeen(first.name, first.time);
      store.DeleteRecord(first.name, first.time);
    }
    store.AddRecord(extra);
  }
  // The dated copies of unreadable inputs would pile up across runs.
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(FuzzFolder(), ec))
    if (entry.path().filename() != "record.xml") std::filesystem::remove(entry.path(), ec);
  return 0;
}
