// Winsock side of the audio servers: event selection, the fair wait over up to 64 events,
// and the hand-over between a poll step and CloseAll.
#include "audio/input/win32/AudioServer.h"

#include <ws2tcpip.h>

#include <algorithm>

namespace tovik {
namespace {

class MutexHold {
 public:
  explicit MutexHold(HANDLE mutex) : mutex_(mutex) { WaitForSingleObject(mutex_, INFINITE); }
  ~MutexHold() { ReleaseMutex(mutex_); }
  MutexHold(const MutexHold&) = delete;
  MutexHold& operator=(const MutexHold&) = delete;

 private:
  HANDLE mutex_;
};

}  // namespace

CAudioServer::CAudioServer() {
  // Made up front rather than on first use: Poll and CloseAll may first meet on two threads.
  mutex_ = CreateMutexW(nullptr, FALSE, nullptr);
  interrupt_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  gate_ = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  events_.fill(WSA_INVALID_EVENT);
}

CAudioServer::~CAudioServer() {
  if (count_.load() > 0) CloseAll();
  if (started_) WSACleanup();
  for (HANDLE h : {mutex_, interrupt_, gate_}) {
    if (h != nullptr) CloseHandle(h);
  }
}

int CAudioServer::Listen(const std::string& address, std::uint16_t port) {
  if (!started_) {
    WSADATA data{};
    const int error = WSAStartup(MAKEWORD(2, 0), &data);
    if (error != 0) return error;
    started_ = true;
  }
  if (mutex_ == nullptr || interrupt_ == nullptr || gate_ == nullptr) return static_cast<int>(GetLastError());
  MutexHold hold(mutex_);
  if (count_.load() > 0) return WSAEISCONN;

  IN_ADDR bindAddress{};
  if (inet_pton(AF_INET, address.c_str(), &bindAddress) != 1 || (ntohl(bindAddress.s_addr) >> 24) != 127) {
    return WSAEADDRNOTAVAIL;
  }

  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return WSAGetLastError();
  const WSAEVENT event = WSACreateEvent();
  if (event == WSA_INVALID_EVENT) {
    const int error = WSAGetLastError();
    closesocket(s);
    return error;
  }
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  local.sin_addr = bindAddress;
  if (WSAEventSelect(s, event, static_cast<long>(kNetAllEvents)) == SOCKET_ERROR ||
      bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) == SOCKET_ERROR ||
      listen(s, kBacklog) == SOCKET_ERROR) {
    const int error = WSAGetLastError();
    closesocket(s);
    WSACloseEvent(event);
    return error;
  }
  sockets_[0] = SocketRecord{s, 0, false, 0};
  events_[1] = event;
  count_.store(1);
  state_.store(kStateListening);
  return 0;
}

std::uint16_t CAudioServer::BoundPort() const {
  if (count_.load() == 0) return 0;
  sockaddr_in local{};
  int size = sizeof local;
  if (getsockname(sockets_[0].socket, reinterpret_cast<sockaddr*>(&local), &size) == SOCKET_ERROR) return 0;
  return ntohs(local.sin_port);
}

int CAudioServer::FairWait(DWORD eventCount, DWORD& index) {
  // Look at every event once, starting after the last one served, so one busy connection
  // cannot starve the others; block only when none is ready.
  for (DWORD k = 1; k <= eventCount; ++k) {
    const DWORD candidate = (cursor_ + k) % eventCount;
    if (WaitForSingleObject(events_[candidate], 0) == WAIT_OBJECT_0) {
      cursor_ = candidate;
      index = candidate;
      return 0;
    }
  }
  const DWORD r = WSAWaitForMultipleEvents(eventCount, events_.data(), FALSE, WSA_INFINITE, FALSE);
  if (r == WSA_WAIT_FAILED) return WSAGetLastError();
  if (r == WSA_WAIT_TIMEOUT) return kWsaTimedOut;
  if (r - WSA_WAIT_EVENT_0 >= eventCount) return WSA_INVALID_PARAMETER;
  index = r - WSA_WAIT_EVENT_0;
  cursor_ = index;
  return 0;
}

int CAudioServer::Poll(std::uint8_t* buffer, std::size_t capacity, PollResult& result) {
  result = PollResult{};
  // Gate before mutex: while CloseAll holds the gate shut no new step can start.
  WaitForSingleObject(gate_, INFINITE);
  MutexHold hold(mutex_);
  if (count_.load() == 0) return WSAENOTCONN;
  return Step(buffer, capacity, result);
}

int CAudioServer::Step(std::uint8_t* buffer, std::size_t capacity, PollResult& result) {
  events_[0] = interrupt_;
  DWORD index = 0;
  const int waitError = FairWait(static_cast<DWORD>(count_.load()) + 1, index);
  if (waitError != 0) return waitError;
  if (index == 0) return 0;  // interrupted by CloseAll

  const int i = static_cast<int>(index) - 1;
  SocketRecord& record = sockets_[i];
  result.socket = static_cast<std::uint64_t>(record.socket);
  result.peerAddress = record.peerAddress;
  if (record.closing) return DrainClosing(i, buffer, capacity, result);

  WSANETWORKEVENTS network{};
  if (WSAEnumNetworkEvents(record.socket, events_[index], &network) == SOCKET_ERROR) return WSAGetLastError();
  const long bits = network.lNetworkEvents;
  result.events = static_cast<unsigned>(bits);

  if (bits & FD_ACCEPT) {
    if (network.iErrorCode[FD_ACCEPT_BIT] != 0) return network.iErrorCode[FD_ACCEPT_BIT];
    const int error = Accept();
    if (error != 0) return error;
  }
  if (bits & FD_CONNECT) {
    if (const int error = network.iErrorCode[FD_CONNECT_BIT]; error != 0) {
      Remove(i);
      result.removed = true;
      return error;
    }
    state_.store(kStateConnected);
  }
  if (bits & FD_READ) {
    if (const int error = network.iErrorCode[FD_READ_BIT]; error != 0) {
      Remove(i);
      result.removed = true;
      return error;
    }
    const int want = static_cast<int>(std::min(capacity, kMaxReceiveBytes));
    const int got = recv(record.socket, reinterpret_cast<char*>(buffer), want, 0);
    if (got > 0) {
      result.received = static_cast<std::size_t>(got);
    } else if (got == SOCKET_ERROR) {
      const int error = WSAGetLastError();
      if (error != WSAEWOULDBLOCK) {
        Remove(i);
        result.removed = true;
        return error;
      }
    }
  }
  if (bits & FD_WRITE) {
    if (const int error = network.iErrorCode[FD_WRITE_BIT]; error != 0) {
      Remove(i);
      result.removed = true;
      return error;
    }
  }
  if (bits & FD_CLOSE) {
    record.closing = true;
    record.closeError = network.iErrorCode[FD_CLOSE_BIT];
    if (result.received > 0) {
      // Report this read now; the close is reported once the queued bytes are read out.
      result.events &= ~static_cast<unsigned>(FD_CLOSE);
      WSASetEvent(events_[index]);
      return 0;
    }
    return DrainClosing(i, buffer, capacity, result);
  }
  return 0;
}

int CAudioServer::DrainClosing(int i, std::uint8_t* buffer, std::size_t capacity, PollResult& result) {
  SocketRecord& record = sockets_[i];
  WSAResetEvent(events_[i + 1]);
  const int want = static_cast<int>(std::min(capacity, kMaxReceiveBytes));
  const int got = recv(record.socket, reinterpret_cast<char*>(buffer), want, 0);
  if (got > 0) {
    result.events = FD_READ;
    result.received = static_cast<std::size_t>(got);
    // Come back to this socket: no further network event will fire for it.
    WSASetEvent(events_[i + 1]);
    return 0;
  }
  const int error = record.closeError;
  result.events = FD_CLOSE;
  result.received = 0;
  result.removed = true;
  Remove(i);
  return error;
}

int CALLBACK CAudioServer::AcceptCondition(LPWSABUF, LPWSABUF, LPQOS, LPQOS, LPWSABUF, LPWSABUF, GROUP*,
                                           DWORD_PTR self) {
  const auto* server = reinterpret_cast<const CAudioServer*>(self);
  return server->count_.load() >= kMaxSockets ? CF_REJECT : CF_ACCEPT;
}

int CAudioServer::Accept() {
  sockaddr_in peer{};
  int peerSize = sizeof peer;
  const SOCKET s = WSAAccept(sockets_[0].socket, reinterpret_cast<sockaddr*>(&peer), &peerSize,
                             &CAudioServer::AcceptCondition, reinterpret_cast<DWORD_PTR>(this));
  if (s == INVALID_SOCKET) {
    const int error = WSAGetLastError();
    // A peer that connected and vanished before the accept must not read as "no socket
    // held" (10057), which would end the receive thread for the rest of the session.
    if (error == WSAENOTCONN || error == WSAECONNRESET || error == WSAECONNABORTED) return WSAECONNABORTED;
    return error;
  }
  if (count_.load() >= kMaxSockets) {  // the condition should have refused it already
    closesocket(s);
    return WSAECONNREFUSED;
  }
  const WSAEVENT event = WSACreateEvent();
  if (event == WSA_INVALID_EVENT) {
    const int error = WSAGetLastError();
    closesocket(s);
    return error;
  }
  // The accepted socket inherits the listener's event; give it its own.
  if (WSAEventSelect(s, event, static_cast<long>(kNetAllEvents)) == SOCKET_ERROR) {
    const int error = WSAGetLastError();
    closesocket(s);
    WSACloseEvent(event);
    return error;
  }
  const int n = count_.load();
  sockets_[n] = SocketRecord{s, peer.sin_addr.s_addr, false, 0};
  events_[n + 1] = event;
  count_.store(n + 1);
  state_.store(kStateAccepted);
  return 0;
}

void CAudioServer::Remove(int i) {
  const int n = count_.load();
  if (i < 0 || i >= n) return;
  shutdown(sockets_[i].socket, SD_BOTH);
  closesocket(sockets_[i].socket);
  WSACloseEvent(events_[i + 1]);
  for (int k = i; k + 1 < n; ++k) {
    sockets_[k] = sockets_[k + 1];
    events_[k + 1] = events_[k + 2];
  }
  sockets_[n - 1] = SocketRecord{};
  events_[n] = WSA_INVALID_EVENT;
  count_.store(n - 1);
  if (n - 1 == 0) {
    state_.store(kStateNone);
  } else if (n - 1 == 1 && (state_.load() & 2) != 0) {
    state_.store(kStateListening);
  }
}

int CAudioServer::CloseAll() {
  if (count_.load() == 0) return WSAENOTCONN;
  ResetEvent(gate_);
  SetEvent(interrupt_);
  MutexHold hold(mutex_);
  SetEvent(gate_);
  for (int i = count_.load() - 1; i >= 0; --i) Remove(i);
  return 0;
}

}  // namespace tovik
