#include "base/Debug.h"

#include <cstdio>
#include <mutex>

#include "base/Text.h"

namespace tovik {
namespace {
std::mutex g_sinkLock;
DebugSink g_sink;
}  // namespace

void DebugOutput(const std::wstring& text) {
  DebugSink sink;
  {
    std::lock_guard<std::mutex> lock(g_sinkLock);
    sink = g_sink;
  }
  if (sink) {
    sink(text);
  } else {
    std::fprintf(stderr, "%s\n", WideToUtf8(text).c_str());
  }
}

DebugSink SetDebugSink(DebugSink sink) {
  std::lock_guard<std::mutex> lock(g_sinkLock);
  DebugSink old = std::move(g_sink);
  g_sink = std::move(sink);
  return old;
}

}  // namespace tovik
