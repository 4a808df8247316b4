#include "platform/socket_stream_win32.hpp"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <mutex>
#include <string_view>

#include "platform/text.hpp"

namespace kiv {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide text is UTF-16");

std::string SystemErrorText(unsigned long code) {
  wchar_t buffer[512];
  DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                             MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer, 512, nullptr);
  std::u16string_view text(reinterpret_cast<const char16_t*>(buffer), n);
  // The system's texts end with a full stop and a line end; keep the stop only.
  while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' ')) {
    text.remove_suffix(1);
  }
  std::string number = "error " + std::to_string(code);
  if (text.empty()) return number;
  return U16ToUtf8(text) + " (" + number + ")";
}

bool StartWinsock(std::string& error) {
  static std::once_flag once;
  static int result = 0;
  // Never cleaned up: the process's exit releases Winsock, and a DLL must not call
  // WSACleanup while it is being unloaded.
  std::call_once(once, [] {
    WSADATA data{};
    result = ::WSAStartup(MAKEWORD(2, 2), &data);
  });
  if (result != 0) error = "cannot start Winsock: " + SystemErrorText(static_cast<unsigned long>(result));
  return result == 0;
}

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  // Round up so that a wait never ends a fraction of a millisecond early.
  return static_cast<int>(std::clamp<int64_t>(left + 1, 0, 1 << 30));
}

// 1 when s is ready to read (or to write), 0 when waitMs passed first, -1 (and the reason)
// when the wait failed. A socket whose connection failed counts as ready: the next call
// says why.
int WaitSocket(SOCKET s, bool forWrite, int waitMs, std::string& error) {
  fd_set ready;
  fd_set failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(s, &ready);
  FD_SET(s, &failed);
  timeval tv{};
  tv.tv_sec = std::max(waitMs, 0) / 1000;
  tv.tv_usec = (std::max(waitMs, 0) % 1000) * 1000;
  // The first argument is ignored by Winsock.
  int n = ::select(0, forWrite ? nullptr : &ready, forWrite ? &ready : nullptr, &failed, &tv);
  if (n == SOCKET_ERROR) {
    error = "select: " + SystemErrorText(static_cast<unsigned long>(::WSAGetLastError()));
    return -1;
  }
  return n > 0 ? 1 : 0;
}

class SocketStream : public ByteStream {
 public:
  explicit SocketStream(UniqueSocket s) : s_(std::move(s)) {}

  long Read(std::span<uint8_t> buffer, int waitMs, bool waitFirst) override {
    if (buffer.empty()) return 0;
    // With nothing expected at once, wait first rather than spend a read on learning that.
    if (waitFirst && waitMs > 0) {
      int ready = WaitSocket(s_.Get(), false, waitMs, error_);
      if (ready <= 0) return ready;
      waitMs = 0;
    }
    int size = static_cast<int>(std::min<std::size_t>(buffer.size(), INT_MAX));
    for (;;) {
      int n = ::recv(s_.Get(), reinterpret_cast<char*>(buffer.data()), size, 0);
      if (n > 0) return n;
      if (n == 0) return Fail("end of stream");
      int code = ::WSAGetLastError();
      if (code == WSAEINTR) continue;
      if (code != WSAEWOULDBLOCK) return Fail("receive: " + SystemErrorText(static_cast<unsigned long>(code)));
      if (waitMs <= 0) return 0;
      int ready = WaitSocket(s_.Get(), false, waitMs, error_);
      if (ready <= 0) return ready;
      waitMs = 0;
    }
  }

  long Write(std::span<const uint8_t> bytes, int waitMs) override {
    if (bytes.empty()) return 0;
    int size = static_cast<int>(std::min<std::size_t>(bytes.size(), INT_MAX));
    auto deadline = Clock::now() + std::chrono::milliseconds(std::max(waitMs, 0));
    for (;;) {
      int n = ::send(s_.Get(), reinterpret_cast<const char*>(bytes.data()), size, 0);
      if (n > 0) return n;
      if (n == 0) return Fail("nothing written");
      int code = ::WSAGetLastError();
      if (code == WSAEINTR) continue;
      if (code != WSAEWOULDBLOCK) return Fail("send: " + SystemErrorText(static_cast<unsigned long>(code)));
      int left = MsLeft(deadline);
      if (Clock::now() >= deadline) return 0;
      int ready = WaitSocket(s_.Get(), true, left, error_);
      if (ready <= 0) return ready;
    }
  }

 private:
  long Fail(std::string why) {
    error_ = std::move(why);
    return -1;
  }

  UniqueSocket s_;
};

}  // namespace

UniqueSocket OpenSocket(int family, int type, int protocol, std::string& error) {
  if (!StartWinsock(error)) return {};
  UniqueSocket s(::WSASocketW(family, type, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT));
  if (!s.Valid() && ::WSAGetLastError() == WSAEINVAL) {
    // Systems before Windows 7 SP1 do not know the no-inherit flag.
    s = UniqueSocket(::WSASocketW(family, type, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED));
  }
  if (!s.Valid()) {
    error = "socket: " + SystemErrorText(static_cast<unsigned long>(::WSAGetLastError()));
    return {};
  }
  u_long nonBlocking = 1;
  if (::ioctlsocket(s.Get(), FIONBIO, &nonBlocking) != 0) {
    error = "cannot make the socket non-blocking: " + SystemErrorText(static_cast<unsigned long>(::WSAGetLastError()));
    return {};
  }
  return s;
}

bool ConnectSocket(SOCKET s, const sockaddr* addr, int addrLen, int timeoutMs, std::string& error) {
  if (::connect(s, addr, addrLen) == 0) return true;
  int code = ::WSAGetLastError();
  if (code != WSAEWOULDBLOCK && code != WSAEINPROGRESS) {
    error = "connect: " + SystemErrorText(static_cast<unsigned long>(code));
    return false;
  }
  // A finished connect makes the socket writable; a failed one reports it as an exception.
  int ready = WaitSocket(s, true, timeoutMs, error);
  if (ready < 0) return false;
  if (ready == 0) {
    error = "connect timed out after " + std::to_string(timeoutMs) + " ms";
    return false;
  }
  int so = 0;
  int len = sizeof so;
  if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&so), &len) != 0) so = ::WSAGetLastError();
  if (so != 0) {
    error = "connect: " + SystemErrorText(static_cast<unsigned long>(so));
    return false;
  }
  return true;
}

std::unique_ptr<ByteStream> MakeSocketStream(UniqueSocket s) {
  if (!s.Valid()) return nullptr;
  return std::make_unique<SocketStream>(std::move(s));
}

}  // namespace kiv
