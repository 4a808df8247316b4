#include "diagnose.hpp"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>

#include "host.hpp"

namespace cli {
namespace {

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// How long the library waits for the phone's first answer, in seconds, as shown.
std::string WaitShown() {
  int ms = 5000;
  if (const char* v = std::getenv("KIVMOD_CONNECT_WAIT_MS"); v && *v) {
    int value = 0;
    auto [end, ec] = std::from_chars(v, v + std::strlen(v), value);
    if (ec == std::errc() && !*end && value > 0) ms = value;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g s", ms / 1000.0);
  return buf;
}

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

std::string Answered(const std::string& where) {
  return "no phone answered on " + where + " within " + WaitShown() + " (is it switched on and connected?)";
}

}  // namespace

bool WellFormedLink(const std::string& link, std::string& problem) {
  const auto colon = link.find(':');
  const std::string scheme = link.substr(0, colon == std::string::npos ? link.size() : colon);
  const std::string rest = colon == std::string::npos ? std::string() : link.substr(colon + 1);
  if (scheme == "sim" || scheme == "serial") {
    if (!rest.empty()) return true;
    problem = "link " + link + " names no " + (scheme == "sim" ? "folder" : "device");
    return false;
  }
  if (scheme == "tcp") {
    const auto last = rest.rfind(':');
    int port = 0;
    const std::string digits = last == std::string::npos ? std::string() : rest.substr(last + 1);
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    if (last != std::string::npos && last > 0 && !digits.empty() && ec == std::errc() &&
        end == digits.data() + digits.size() && port >= 1 && port <= 65535)
      return true;
    problem = "link " + link + " is not tcp:HOST:PORT (PORT from 1 to 65535)";
    return false;
  }
  if (scheme == "bt") {
    uint8_t address[6];
    if (ParseBluetoothAddress(rest, address)) return true;
    problem = "link " + link + " is not bt:aa:bb:cc:dd:ee:ff";
    return false;
  }
  problem = "unknown link " + link + " (sim:FOLDER, serial:DEVICE, tcp:HOST:PORT or bt:ADDR)";
  return false;
}

std::string ConnectFailure(const LinkOptions& options) {
  const std::string head = "could not connect to the phone: ";
  const std::string& link = options.link;
  if (link.empty() && options.bluetooth) {
    char shown[18];
    std::snprintf(shown, sizeof shown, "%02x:%02x:%02x:%02x:%02x:%02x", options.address[0], options.address[1],
                  options.address[2], options.address[3], options.address[4], options.address[5]);
    return head + "no answer over Bluetooth from " + shown +
           " (is it paired, in reach and offering the serial port service?)";
  }
  if (link.empty()) {
    const std::string device = ComDevice(options.port);
    std::string problem = SerialProblem(device);
    const std::string where = "COM" + std::to_string(options.port) + " (" + device + ")";
    return head + "no link given (--link, KIVMOD_LINK or the configuration file), so the cable at " + where + " was tried: " +
           (problem.empty() ? Answered(device) : problem);
  }
  if (StartsWith(link, "sim:")) {
    struct stat st {};
    const std::string folder = link.substr(4);
    if (::stat(folder.c_str(), &st) != 0)
      return head + "the simulated phone's folder " + folder + ": " + std::strerror(errno);
    if (!S_ISDIR(st.st_mode)) return head + "the simulated phone's folder " + folder + " is not a folder";
    return head + "the simulated phone at " + folder + " did not answer";
  }
  if (StartsWith(link, "serial:")) {
    std::string problem = SerialProblem(link.substr(7));
    return head + (problem.empty() ? Answered(link) : problem);
  }
  if (StartsWith(link, "tcp:")) {
    std::string problem = TcpProblem(link.substr(4));
    return head + (problem.empty() ? Answered(link) : problem);
  }
  return head + "no answer over " + link;
}

}  // namespace cli
