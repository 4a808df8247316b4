// The byte streams under the framed phone links: a serial or USB-serial device (a COM port
// on Windows), a TCP connection and a Bluetooth RFCOMM connection. Each system opens them its
// own way; the framing above sees only this interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/bluetooth_socket.hpp"

namespace kiv {

class ByteStream {
 public:
  virtual ~ByteStream() = default;

  // Reads what the stream holds into buffer. With nothing there it waits up to waitMs for
  // bytes. waitFirst says that nothing is expected at once, so the wait may come before the
  // first read. Bytes read (> 0); 0 when none came within the wait; -1 when the stream ended
  // or failed (Error() says which).
  virtual long Read(std::span<uint8_t> buffer, int waitMs, bool waitFirst) = 0;

  // Writes some of bytes, waiting up to waitMs for the other side to take them. Bytes
  // written (> 0); 0 when none could be written within the wait; -1 on failure.
  virtual long Write(std::span<const uint8_t> bytes, int waitMs) = 0;

  // Why the last Read or Write gave -1.
  const std::string& Error() const { return error_; }

 protected:
  std::string error_;
};

// Opens a serial device raw (8N1, no flow control) at the given rate. Null and a reason on
// failure.
std::unique_ptr<ByteStream> OpenSerialStream(const std::string& device, int baudrate, std::string& error);

// Connects to "HOST:PORT" or "[V6HOST]:PORT" within timeoutMs, with Nagle's delay off.
std::unique_ptr<ByteStream> ConnectTcpStream(std::string_view hostPort, int timeoutMs, std::string& error);

// Connects to a Bluetooth phone's serial port profile within timeoutMs.
std::unique_ptr<ByteStream> ConnectRfcommStream(const RfcommTarget& target, int timeoutMs, std::string& error);

// The device name of COM port N. Windows: \\.\COMN. Elsewhere: KIVMOD_COM<N> when set,
// else the entry "N=DEVICE" of the comma-separated KIVMOD_COMPORT_MAP, else /dev/ttyS<N-1>
// for N >= 1. Empty (and a reason) when the port has no device.
std::string ComPortDevice(int port, std::string& error);

// Splits "HOST:PORT" or "[V6HOST]:PORT". False when the text has no usable port.
bool SplitHostPort(std::string_view text, std::string& host, uint16_t& port);

}  // namespace kiv
