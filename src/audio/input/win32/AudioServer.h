#pragma once
// CAudioServer: one Winsock listener on 127.0.0.1 with its accepted connections, driven by
// event selection. Each Poll is one step: wait fairly on the socket events, then accept,
// read or drop whichever socket fired. CloseAll may come from another thread while a poll
// step is blocked in its wait.
#include <winsock2.h>
#include <windows.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "audio/input/AudioServerPort.h"

namespace tovik {

class CAudioServer final : public IAudioServer {
 public:
  static constexpr int kMaxSockets = 63;  // the listening socket included
  static constexpr int kMaxEvents = 64;   // WSA_MAXIMUM_WAIT_EVENTS: the interrupt event + one per socket
  static constexpr int kBacklog = 64;

  enum ServerState : int { kStateNone = 0, kStateListening = 2, kStateAccepted = 3, kStateConnected = 5 };

  CAudioServer();
  ~CAudioServer() override;
  CAudioServer(const CAudioServer&) = delete;
  CAudioServer& operator=(const CAudioServer&) = delete;

  // Loopback addresses only: the streams must never be reachable from the network.
  int Listen(const std::string& address, std::uint16_t port) override;
  int Poll(std::uint8_t* buffer, std::size_t capacity, PollResult& result) override;
  int CloseAll() override;
  int SocketCount() const override { return count_.load(); }

  int State() const { return state_.load(); }
  // The port the listening socket is bound to (0 when not listening); lets tests listen on 0.
  std::uint16_t BoundPort() const;

 private:
  struct SocketRecord {
    SOCKET socket = INVALID_SOCKET;
    std::uint32_t peerAddress = 0;
    // The peer has closed but data may still be queued: it is read out before the socket
    // is dropped, so the end of a call is not lost.
    bool closing = false;
    int closeError = 0;
  };

  int FairWait(DWORD eventCount, DWORD& index);
  int Step(std::uint8_t* buffer, std::size_t capacity, PollResult& result);
  int Accept();
  int DrainClosing(int i, std::uint8_t* buffer, std::size_t capacity, PollResult& result);
  void Remove(int i);
  static int CALLBACK AcceptCondition(LPWSABUF callerId, LPWSABUF callerData, LPQOS sqos, LPQOS gqos,
                                      LPWSABUF calleeId, LPWSABUF calleeData, GROUP* group, DWORD_PTR self);

  bool started_ = false;
  DWORD cursor_ = 0;
  std::atomic<int> count_{0};
  std::atomic<int> state_{kStateNone};
  std::array<WSAEVENT, kMaxEvents> events_{};
  std::array<SocketRecord, kMaxSockets> sockets_{};
  HANDLE mutex_ = nullptr;      // held by the thread inside a poll step
  HANDLE interrupt_ = nullptr;  // auto-reset: wakes a poll step blocked in its wait
  HANDLE gate_ = nullptr;       // manual-reset: closed while CloseAll takes the server
};

}  // namespace tovik
