// Connection diagnoses on POSIX systems: serial devices, TCP, the simulated phone's folder.
#include "diagnose.hpp"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace cli {

const bool kSimLink = true;

// The device of COM port n, by the same settings the library reads.
std::string ComDevice(int port) {
  const std::string own = "KIVMOD_COM" + std::to_string(port);
  if (const char* v = std::getenv(own.c_str()); v && *v) return v;
  if (const char* map = std::getenv("KIVMOD_COMPORT_MAP"); map && *map) {
    std::string rest = map;
    std::size_t at = 0;
    while (at <= rest.size()) {
      std::size_t comma = rest.find(',', at);
      std::string entry = rest.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
      at = comma == std::string::npos ? rest.size() + 1 : comma + 1;
      auto trim = [](std::string s) {
        s.erase(0, s.find_first_not_of(" \t"));
        s.erase(s.find_last_not_of(" \t") + 1);
        return s;
      };
      auto eq = entry.find('=');
      if (eq == std::string::npos) continue;
      std::string key = trim(entry.substr(0, eq));
      if (key.size() > 3 && (key.compare(0, 3, "COM") == 0 || key.compare(0, 3, "com") == 0)) key.erase(0, 3);
      if (key == std::to_string(port)) {
        std::string device = trim(entry.substr(eq + 1));
        if (!device.empty()) return device;
      }
    }
  }
  return "/dev/ttyS" + std::to_string(port - 1);
}

// Why a serial device cannot be opened, or "" when it opens (then the phone did not answer).
std::string SerialProblem(const std::string& device) {
  int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) {
    const bool terminal = ::isatty(fd) == 1;
    ::close(fd);
    return terminal ? std::string() : device + " is not a serial device";
  }
  const int error = errno;
  std::string out = "cannot open " + device + ": " + std::strerror(error);
  if (error == EACCES || error == EPERM)
    out += " (serial devices belong to the dialout group: sudo usermod -aG dialout $USER, then log in again)";
  return out;
}

// Why a TCP connection to host:port cannot be made, or "" when it can.
std::string TcpProblem(const std::string& hostPort) {
  const auto colon = hostPort.rfind(':');
  const std::string host = hostPort.substr(0, colon), port = hostPort.substr(colon + 1);
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (int e = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found); e != 0)
    return "cannot find host " + host + ": " + gai_strerror(e);
  std::string problem = "cannot connect to " + hostPort;
  for (addrinfo* a = found; a; a = a->ai_next) {
    int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    int error = ::connect(fd, a->ai_addr, a->ai_addrlen) == 0 ? 0 : errno;
    if (error == EINPROGRESS) {
      pollfd p{fd, POLLOUT, 0};
      socklen_t len = sizeof error;
      error = ::poll(&p, 1, 3000) == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 ? error : ETIMEDOUT;
    }
    ::close(fd);
    if (error == 0) {
      problem.clear();
      break;
    }
    problem = "cannot connect to " + hostPort + ": " + std::strerror(error);
  }
  ::freeaddrinfo(found);
  return problem;
}

std::string SimProblem(const std::string& folder) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) return "the simulated phone's folder " + folder + ": " + std::strerror(errno);
  if (!S_ISDIR(st.st_mode)) return "the simulated phone's folder " + folder + " is not a folder";
  return "the simulated phone at " + folder + " did not answer";
}

}  // namespace cli
