#include <windows.h>

#include <algorithm>
#include <string_view>
#include <utility>

#include "platform/byte_stream.hpp"
#include "platform/socket_stream_win32.hpp"
#include "platform/text.hpp"
#include "platform/trace.hpp"

namespace kiv {
namespace {

constexpr int kDefaultBaudrate = 115200;
constexpr DWORD kQueueSize = 64 * 1024;

// Owns one file handle and closes it when dropped.
class UniqueHandle {
 public:
  explicit UniqueHandle(HANDLE h) : h_(h) {}
  ~UniqueHandle() {
    if (Valid()) ::CloseHandle(h_);
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  HANDLE Get() const { return h_; }
  HANDLE Release() { return std::exchange(h_, INVALID_HANDLE_VALUE); }
  bool Valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }

 private:
  HANDLE h_;
};

bool IsDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "COM10" (any case) becomes "\\.\COM10": without the prefix only COM1..COM9 open. Other
// names ("\\.\COM3", other device paths) go to the system as they are.
std::wstring DevicePath(const std::string& device) {
  std::string path = device;
  if (device.size() > 3 && (device[0] == 'C' || device[0] == 'c') && (device[1] == 'O' || device[1] == 'o') &&
      (device[2] == 'M' || device[2] == 'm') && IsDigits(std::string_view(device).substr(3))) {
    path = "\\\\.\\" + device;
  }
  std::u16string wide = Utf8ToU16(path);
  return std::wstring(reinterpret_cast<const wchar_t*>(wide.data()), wide.size());
}

class SerialStream : public ByteStream {
 public:
  SerialStream(HANDLE h, std::string device) : h_(h), device_(std::move(device)) {}

  long Read(std::span<uint8_t> buffer, int waitMs, bool) override {
    if (buffer.empty()) return 0;
    // Only what the port holds is asked for, so ReadFile never waits for more than is there.
    // Drivers differ on the time-outs that would end a read at the first byte of several
    // (Wine waits out the whole time), so with nothing there one byte is awaited instead.
    long got = ReadQueued(buffer);
    if (got != 0 || waitMs <= 0) return got;
    if (!SetWaits(waitMs, writeWait_)) return -1;
    DWORD one = 0;
    if (!::ReadFile(h_.Get(), buffer.data(), 1, &one, nullptr)) return Fail("read", ::GetLastError());
    if (one == 0) return 0;
    long more = ReadQueued(buffer.subspan(1));
    return more < 0 ? -1 : 1 + more;
  }

  long Write(std::span<const uint8_t> bytes, int waitMs) override {
    if (bytes.empty()) return 0;
    // A write time-out of 0 would mean none at all: wait at least a millisecond.
    if (!SetWaits(std::max(readWait_, 1), std::max(waitMs, 1))) return -1;
    DWORD put = 0;
    DWORD size = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), kQueueSize));
    if (!::WriteFile(h_.Get(), bytes.data(), size, &put, nullptr)) {
      DWORD code = ::GetLastError();
      // Time-outs end the call with what was written; some drivers report them as errors.
      if (code == ERROR_TIMEOUT || code == ERROR_COUNTER_TIMEOUT) return static_cast<long>(put);
      return Fail("write", code);
    }
    return static_cast<long>(put);
  }

  // Read and write time-outs in ms; the read one bounds the wait for a first byte.
  bool SetWaits(int readMs, int writeMs) {
    if (readMs == readWait_ && writeMs == writeWait_) return true;
    COMMTIMEOUTS t{};
    t.ReadTotalTimeoutConstant = static_cast<DWORD>(readMs);
    t.WriteTotalTimeoutConstant = static_cast<DWORD>(writeMs);
    if (!::SetCommTimeouts(h_.Get(), &t)) {
      readWait_ = -1;
      Fail("set time-outs of", ::GetLastError());
      return false;
    }
    readWait_ = readMs;
    writeWait_ = writeMs;
    return true;
  }

 private:
  // What the port holds, up to the buffer's size, without waiting.
  long ReadQueued(std::span<uint8_t> buffer) {
    DWORD errors = 0;
    COMSTAT stat{};
    if (!::ClearCommError(h_.Get(), &errors, &stat)) return Fail("query", ::GetLastError());
    if (errors != 0) TraceF("phone link: %s: line errors 0x%lx\n", device_.c_str(), static_cast<unsigned long>(errors));
    DWORD want = static_cast<DWORD>(std::min<std::size_t>({buffer.size(), stat.cbInQue, kQueueSize}));
    if (want == 0) return 0;
    DWORD got = 0;
    if (!::ReadFile(h_.Get(), buffer.data(), want, &got, nullptr)) return Fail("read", ::GetLastError());
    return static_cast<long>(got);
  }

  long Fail(const char* what, DWORD code) {
    error_ = std::string("cannot ") + what + " " + device_ + ": " + SystemErrorText(code);
    return -1;
  }

  UniqueHandle h_;
  std::string device_;
  int readWait_ = -1;
  int writeWait_ = -1;
};

}  // namespace

std::unique_ptr<ByteStream> OpenSerialStream(const std::string& device, int baudrate, std::string& error) {
  std::wstring path = DevicePath(device);
  // Opened for plain (not overlapped) I/O: reads and writes are bounded by the port's
  // time-outs. The system serializes such calls on one handle, which suits the one thread
  // that drives a link. A busy or missing port fails the open at once, it does not block.
  UniqueHandle h(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!h.Valid()) {
    DWORD code = ::GetLastError();
    const char* hint = "";
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) hint = " (no such port)";
    if (code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION) hint = " (is another program using it?)";
    error = "cannot open " + device + hint + ": " + SystemErrorText(code);
    return nullptr;
  }
  ::SetupComm(h.Get(), kQueueSize, kQueueSize);  // a wish only; drivers may keep their own sizes
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!::GetCommState(h.Get(), &dcb)) {
    error = device + " is not a serial port: " + SystemErrorText(::GetLastError());
    return nullptr;
  }
  dcb.BaudRate = static_cast<DWORD>(baudrate > 0 ? baudrate : kDefaultBaudrate);
  dcb.fBinary = TRUE;
  dcb.fParity = FALSE;
  dcb.Parity = NOPARITY;
  dcb.ByteSize = 8;
  dcb.StopBits = ONESTOPBIT;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fAbortOnError = FALSE;
  if (!::SetCommState(h.Get(), &dcb)) {
    error = "cannot set up " + device + " (" + std::to_string(dcb.BaudRate) + " 8N1): " +
            SystemErrorText(::GetLastError());
    return nullptr;
  }
  // Some ports (pseudo-terminals, virtual ports) have no modem lines: only worth a trace.
  if (!::EscapeCommFunction(h.Get(), SETDTR)) {
    TraceF("phone link: %s: cannot raise DTR: %s\n", device.c_str(), SystemErrorText(::GetLastError()).c_str());
  }
  DWORD lines = 0;
  if (::GetCommModemStatus(h.Get(), &lines)) {
    TraceF("phone link: %s: DSR %s, CTS %s\n", device.c_str(), (lines & MS_DSR_ON) ? "on" : "off",
           (lines & MS_CTS_ON) ? "on" : "off");
  }
  // Whatever the line held before we opened it is not ours to read.
  ::PurgeComm(h.Get(), PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
  auto stream = std::make_unique<SerialStream>(h.Release(), device);
  if (!stream->SetWaits(1000, 1000)) {
    error = stream->Error();
    return nullptr;
  }
  return stream;
}

std::string ComPortDevice(int port, std::string& error) {
  if (port >= 1 && port <= 255) return "\\\\.\\COM" + std::to_string(port);
  error = "COM port " + std::to_string(port) + " is out of range (1..255)";
  return {};
}

}  // namespace kiv
