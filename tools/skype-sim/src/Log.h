// The log the tests read: one line per event, "<ms since start> <TAG> <text>".
#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

namespace sim {

class CLog {
 public:
  CLog() : start_(std::chrono::steady_clock::now()) {}
  ~CLog() { Close(); }
  bool Open(const std::wstring& path);
  void Close();
  // The text is escaped, so whatever a peer sends stays on its own line.
  void Line(std::string_view tag, std::string_view text);
  long long ElapsedMs() const;

 private:
  std::chrono::steady_clock::time_point start_;
  std::mutex lock_;
  FILE* file_ = nullptr;
};

}  // namespace sim
