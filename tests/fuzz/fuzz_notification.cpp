// Feeds arbitrary bytes to the Skype client's receive path as Skype's window would send
// them, and straight to the parser and the chat auto-reply, on an attached client.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/Text.h"
#include "skype/SkypeClient.h"

namespace {

using namespace tovik;

struct NullWire : ISkypeWire {
  bool Open() override { return true; }
  void Close() override {}
  std::intptr_t Deliver(SkypeWindowId, const char*, std::size_t) override { return 1; }
  void BroadcastDiscover() override {}
};

struct NullTimers : ISkypeTimers {
  void StartTimer(SkypeTimer, unsigned) override {}
  void StopTimer(SkypeTimer) override {}
};

constexpr SkypeWindowId kSkype = 0x1234;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  NullWire wire;
  NullTimers timers;
  CSkypeClient::Ports ports;
  ports.wire = &wire;
  ports.timers = &timers;
  ports.settings.number = [](const std::wstring& name) { return name == L"onlinereply" ? 1 : (name == L"capf" ? 0 : 1); };
  ports.settings.text = [](const std::wstring&) { return std::wstring(L"/me is not available for chat."); };
  ports.sendingThread = false;
  ports.uiSleep = [](unsigned) {};
  ports.pacing = SkypeSendPacing{std::chrono::milliseconds(0), std::chrono::milliseconds(0), std::chrono::milliseconds(0)};
  CSkypeClient client(ports);
  client.OnAttach(kSkype, CSkypeClient::kAttachSuccess);

  // The input may hold several texts separated by newlines, so a call's life (status,
  // partner, poll) can be built up across lines; the whole input is also sent once.
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  client.OnCopyData(kSkype, bytes.data(), bytes.size());
  size_t start = 0;
  while (start <= bytes.size()) {
    size_t end = bytes.find('\n', start);
    if (end == std::string_view::npos) end = bytes.size();
    const std::string_view line = bytes.substr(start, end - start);
    client.OnCopyData(kSkype, line.data(), line.size());
    const std::wstring text = Utf8ToWide(line);
    client.AutoReply().OnNotification(text);
    client.ParseNotification(text);
    start = end + 1;
  }
  client.OnStatusPollTimer();
  client.RedirectAgain();
  client.Contacts().FormatNames(Utf8ToWide(bytes));
  client.Partners().MapList(Utf8ToWide(bytes));
  client.Calls().PickActiveCall();
  client.DrainQueue();
  return 0;
}
