#include "platform/tcp_socket.hpp"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <charconv>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>

#include "platform/fd_stream.hpp"

namespace kiv {

bool FinishConnect(int fd, int timeoutMs, std::string& error) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p{fd, POLLOUT, 0};
    int n = ::poll(&p, 1, static_cast<int>(std::max<int64_t>(0, left.count())));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = std::string("poll: ") + std::strerror(errno);
      return false;
    }
    if (n == 0) {
      error = "connect timed out";
      return false;
    }
    int so = 0;
    socklen_t len = sizeof so;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &so, &len) != 0) so = errno;
    if (so != 0) {
      error = std::string("connect: ") + std::strerror(so);
      return false;
    }
    return true;
  }
}

UniqueFd ConnectTcp(std::string_view hostPort, int timeoutMs, std::string& error) {
  std::string host;
  uint16_t port = 0;
  if (!SplitHostPort(hostPort, host, port)) {
    error = "not HOST:PORT: " + std::string(hostPort);
    return {};
  }
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  std::string service = std::to_string(port);
  if (int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0) {
    error = "cannot resolve " + host + ": " + ::gai_strerror(rc);
    return {};
  }
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> list(found, &::freeaddrinfo);
  error = "no address for " + host;
  for (addrinfo* ai = list.get(); ai; ai = ai->ai_next) {
    UniqueFd fd(::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol));
    if (!fd.Valid()) {
      error = std::string("socket: ") + std::strerror(errno);
      continue;
    }
    if (::connect(fd.Get(), ai->ai_addr, ai->ai_addrlen) != 0) {
      if (errno != EINPROGRESS) {
        error = "connect to " + std::string(hostPort) + ": " + std::strerror(errno);
        continue;
      }
      std::string why;
      if (!FinishConnect(fd.Get(), timeoutMs, why)) {
        error = why + " (" + std::string(hostPort) + ")";
        continue;
      }
    }
    int one = 1;
    ::setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    error.clear();
    return fd;
  }
  return {};
}

std::unique_ptr<ByteStream> ConnectTcpStream(std::string_view hostPort, int timeoutMs, std::string& error) {
  return MakeFdStream(ConnectTcp(hostPort, timeoutMs, error));
}

}  // namespace kiv
