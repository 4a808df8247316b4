// Windows pieces shared by the byte streams: system error texts, Winsock start-up and the
// byte stream over one non-blocking socket (TCP or Bluetooth RFCOMM).
#pragma once

#include <winsock2.h>

#include <memory>
#include <string>
#include <utility>

#include "platform/byte_stream.hpp"

namespace kiv {

// The system's own text for an error code (GetLastError, WSAGetLastError), as UTF-8, with
// the number: "The system cannot find the file specified. (error 2)".
std::string SystemErrorText(unsigned long code);

// Starts Winsock once per process; false with a reason when it cannot start.
bool StartWinsock(std::string& error);

// Owns one socket and closes it when dropped.
class UniqueSocket {
 public:
  UniqueSocket() = default;
  explicit UniqueSocket(SOCKET s) : s_(s) {}
  ~UniqueSocket() { Reset(); }
  UniqueSocket(UniqueSocket&& other) noexcept : s_(std::exchange(other.s_, INVALID_SOCKET)) {}
  UniqueSocket& operator=(UniqueSocket&& other) noexcept {
    if (this != &other) {
      Reset();
      s_ = std::exchange(other.s_, INVALID_SOCKET);
    }
    return *this;
  }
  UniqueSocket(const UniqueSocket&) = delete;
  UniqueSocket& operator=(const UniqueSocket&) = delete;

  SOCKET Get() const { return s_; }
  bool Valid() const { return s_ != INVALID_SOCKET; }
  void Reset() {
    if (s_ != INVALID_SOCKET) ::closesocket(std::exchange(s_, INVALID_SOCKET));
  }

 private:
  SOCKET s_ = INVALID_SOCKET;
};

// A stream socket of this family that the process's children do not inherit, non-blocking.
// Invalid and a reason on failure.
UniqueSocket OpenSocket(int family, int type, int protocol, std::string& error);

// Connects s (non-blocking) to addr within timeoutMs; false with a reason.
bool ConnectSocket(SOCKET s, const sockaddr* addr, int addrLen, int timeoutMs, std::string& error);

// Null when s is not valid.
std::unique_ptr<ByteStream> MakeSocketStream(UniqueSocket s);

}  // namespace kiv
