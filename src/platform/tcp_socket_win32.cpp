#include <winsock2.h>
#include <ws2tcpip.h>

#include <memory>

#include "platform/byte_stream.hpp"
#include "platform/socket_stream_win32.hpp"

namespace kiv {

std::unique_ptr<ByteStream> ConnectTcpStream(std::string_view hostPort, int timeoutMs, std::string& error) {
  std::string host;
  uint16_t port = 0;
  if (!SplitHostPort(hostPort, host, port)) {
    error = "not HOST:PORT: " + std::string(hostPort);
    return nullptr;
  }
  if (!StartWinsock(error)) return nullptr;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  std::string service = std::to_string(port);
  if (int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0) {
    error = "cannot resolve " + host + ": " + SystemErrorText(static_cast<unsigned long>(rc));
    return nullptr;
  }
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> list(found, &::freeaddrinfo);
  error = "no address for " + host;
  for (addrinfo* ai = list.get(); ai; ai = ai->ai_next) {
    std::string why;
    UniqueSocket s = OpenSocket(ai->ai_family, ai->ai_socktype, ai->ai_protocol, why);
    if (!s.Valid() || !ConnectSocket(s.Get(), ai->ai_addr, static_cast<int>(ai->ai_addrlen), timeoutMs, why)) {
      error = "TCP " + why + " (" + std::string(hostPort) + ")";
      continue;
    }
    BOOL one = TRUE;
    ::setsockopt(s.Get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    error.clear();
    return MakeSocketStream(std::move(s));
  }
  return nullptr;
}

}  // namespace kiv
