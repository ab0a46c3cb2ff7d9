#pragma once
// The debugger output channel. The Windows shell routes it to OutputDebugStringW;
// natively it goes to stderr unless a test installs a sink to read it.
#include <functional>
#include <string>

namespace tovik {

using DebugSink = std::function<void(const std::wstring&)>;

void DebugOutput(const std::wstring& text);
// Replaces the sink; returns the previous one. An empty sink restores the default.
DebugSink SetDebugSink(DebugSink sink);

}  // namespace tovik
