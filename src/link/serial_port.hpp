// File descriptors of the byte-stream links, and serial devices: terminals, USB-serial
// adapters and pseudo-terminals, opened raw through termios.
#pragma once

#include <termios.h>

#include <optional>
#include <string>
#include <utility>

namespace kiv {

// Owns one file descriptor; closes it when dropped.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.fd_, -1));
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  int Release() { return std::exchange(fd_, -1); }
  void Reset(int fd = -1);

 private:
  int fd_ = -1;
};

// The termios speed of a baud rate; nothing for a rate termios has no constant for.
std::optional<speed_t> BaudToSpeed(int rate);

// Opens a terminal device raw (8N1, no flow control, no echo, no line editing) at the given
// rate, non-blocking. A rate without a termios constant falls back to 115200; pseudo-terminals
// take any rate. Invalid fd and a reason on failure.
UniqueFd OpenSerialPort(const std::string& device, int baudrate, std::string& error);

// The device name of COM port N: KIVMOD_COM<N> when set, else the entry "N=DEVICE" of the
// comma-separated KIVMOD_COMPORT_MAP, else /dev/ttyS<N-1> for N >= 1. Empty (and a reason)
// when the port has no device.
std::string ComPortDevice(int port, std::string& error);

}  // namespace kiv
