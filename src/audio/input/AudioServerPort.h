#pragma once
// What the receiver needs from one local TCP listener and its accepted connections. The
// Win32 adapter (CAudioServer) implements it on Winsock event selection; tests script it.
#include <cstddef>
#include <cstdint>
#include <string>

namespace tovik {

// Network-event bits reported by a poll step (the Winsock FD_ values).
constexpr unsigned kNetRead = 0x01;
constexpr unsigned kNetWrite = 0x02;
constexpr unsigned kNetAccept = 0x08;
constexpr unsigned kNetConnect = 0x10;
constexpr unsigned kNetClose = 0x20;
constexpr unsigned kNetAllEvents = 0x3FF;

// Winsock status codes the receive loop tells apart.
constexpr int kWsaWouldBlock = 10035;
constexpr int kWsaConnAborted = 10053;
constexpr int kWsaConnReset = 10054;
constexpr int kWsaIsConnected = 10056;
constexpr int kWsaNotConnected = 10057;  // no socket held: the server was closed
constexpr int kWsaConnRefused = 10061;
constexpr int kWsaTimedOut = 1460;       // ERROR_TIMEOUT from a wait

constexpr std::size_t kMaxReceiveBytes = 1022;  // one receive per poll step
constexpr std::size_t kReceiveBufferBytes = 1024;

struct PollResult {
  unsigned events = 0;            // network-event bits of the socket that fired
  std::uint64_t socket = 0;       // its handle; 0 when no socket fired
  std::uint32_t peerAddress = 0;  // IPv4, network byte order, from accept
  std::size_t received = 0;       // bytes placed in the caller's buffer
  std::size_t sent = 0;
  // The socket that fired was closed during this step (peer closed, reset or error);
  // its handle may be reused by a later connection.
  bool removed = false;
};

struct IAudioServer {
  virtual ~IAudioServer() = default;
  // Winsock error code, or 0 when listening.
  virtual int Listen(const std::string& address, std::uint16_t port) = 0;
  // One poll step; blocks until a socket fires or CloseAll interrupts it. Returns 0 or a
  // Winsock error; kWsaNotConnected once the server holds no socket.
  virtual int Poll(std::uint8_t* buffer, std::size_t capacity, PollResult& result) = 0;
  // Closes every socket; safe from any thread, also while another thread is in Poll.
  virtual int CloseAll() = 0;
  // Sockets held, the listening one included.
  virtual int SocketCount() const = 0;
};

}  // namespace tovik
