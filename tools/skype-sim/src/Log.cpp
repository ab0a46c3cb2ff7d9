#include "Log.h"

#include "SimText.h"

namespace sim {

bool CLog::Open(const std::wstring& path) {
  std::lock_guard<std::mutex> g(lock_);
  file_ = _wfopen(path.c_str(), L"wb");
  return file_ != nullptr;
}

void CLog::Close() {
  std::lock_guard<std::mutex> g(lock_);
  if (file_) fclose(file_);
  file_ = nullptr;
}

long long CLog::ElapsedMs() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_).count();
}

void CLog::Line(std::string_view tag, std::string_view text) {
  std::string line = std::to_string(ElapsedMs());
  line += ' ';
  line += tag;
  if (!text.empty()) {
    line += ' ';
    // Huge payloads are logged by their start and length; the tests need no more.
    constexpr size_t kMaxLogged = 65536;
    if (text.size() > kMaxLogged) {
      line += EscapeForLog(text.substr(0, kMaxLogged));
      line += " ... (" + std::to_string(text.size()) + " bytes)";
    } else {
      line += EscapeForLog(text);
    }
  }
  line += '\n';
  std::lock_guard<std::mutex> g(lock_);
  if (!file_) return;
  fwrite(line.data(), 1, line.size(), file_);
  fflush(file_);  // tests read the log while the stand-in still runs
}

}  // namespace sim
