#include "platform/serial_port.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/byte_stream.hpp"
#include "platform/fd_stream.hpp"
#include "platform/trace.hpp"

namespace kiv {

std::optional<speed_t> BaudToSpeed(int rate) {
  switch (rate) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 500000: return B500000;
    case 576000: return B576000;
    case 921600: return B921600;
    case 1000000: return B1000000;
    case 1152000: return B1152000;
    case 1500000: return B1500000;
    case 2000000: return B2000000;
    case 3000000: return B3000000;
    case 4000000: return B4000000;
    default: return std::nullopt;
  }
}

UniqueFd OpenSerialPort(const std::string& device, int baudrate, std::string& error) {
  UniqueFd fd(::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.Valid()) {
    error = "cannot open " + device + ": " + std::strerror(errno);
    return {};
  }
  termios tio{};
  if (::tcgetattr(fd.Get(), &tio) != 0) {
    error = device + " is not a terminal: " + std::strerror(errno);
    return {};
  }
  ::cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS | CSTOPB | PARENB);
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  auto speed = BaudToSpeed(baudrate);
  if (!speed) {
    TraceF("phone link: no termios speed for %d baud, using 115200\n", baudrate);
    speed = B115200;
  }
  ::cfsetispeed(&tio, *speed);
  ::cfsetospeed(&tio, *speed);
  if (::tcsetattr(fd.Get(), TCSANOW, &tio) != 0) {
    error = "cannot set up " + device + ": " + std::strerror(errno);
    return {};
  }
  // Whatever the line held before we opened it is not ours to read.
  ::tcflush(fd.Get(), TCIOFLUSH);
  return fd;
}

namespace {

std::optional<int> ParseInt(std::string_view text) {
  int value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace

std::string ComPortDevice(int port, std::string& error) {
  std::string own = "KIVMOD_COM" + std::to_string(port);
  if (const char* v = std::getenv(own.c_str()); v && *v) return v;
  if (const char* map = std::getenv("KIVMOD_COMPORT_MAP"); map && *map) {
    std::string_view rest = map;
    while (!rest.empty()) {
      auto comma = rest.find(',');
      std::string_view entry = Trim(rest.substr(0, comma));
      rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
      auto eq = entry.find('=');
      if (eq == std::string_view::npos) continue;
      std::string_view key = Trim(entry.substr(0, eq));
      if (key.size() > 3 && (key.substr(0, 3) == "COM" || key.substr(0, 3) == "com")) key.remove_prefix(3);
      auto n = ParseInt(key);
      std::string_view device = Trim(entry.substr(eq + 1));
      if (n && *n == port && !device.empty()) return std::string(device);
    }
  }
  if (port >= 1) return "/dev/ttyS" + std::to_string(port - 1);
  error = "COM port " + std::to_string(port) + " has no device (set " + own + ")";
  return {};
}

std::unique_ptr<ByteStream> OpenSerialStream(const std::string& device, int baudrate, std::string& error) {
  return MakeFdStream(OpenSerialPort(device, baudrate, error));
}

}  // namespace kiv
