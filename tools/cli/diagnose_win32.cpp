// Connection diagnoses on Windows: COM ports and TCP through the system's own calls.
#include "diagnose.hpp"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "text.hpp"

namespace cli {
namespace {

// The system's sentence for an error code.
std::string SystemText(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string out = n && text ? Utf8(text) : "system error " + std::to_string(error);
  if (text) LocalFree(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.')) out.pop_back();
  return out;
}

// "COM10" opens only as "\\.\COM10", as the library opens it.
std::string DeviceName(const std::string& device) {
  if (device.size() > 3 && (device.compare(0, 3, "COM") == 0 || device.compare(0, 3, "com") == 0))
    return "\\\\.\\" + device;
  return device;
}

}  // namespace

const bool kSimLink = false;

std::string ComDevice(int port) { return "\\\\.\\COM" + std::to_string(port); }

std::string SerialProblem(const std::string& device) {
  HANDLE h = CreateFileW(Utf16(DeviceName(device)).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    const bool port = GetCommState(h, &dcb) != 0;
    CloseHandle(h);
    return port ? std::string() : device + " is not a serial port";
  }
  const DWORD error = GetLastError();
  std::string out = "cannot open " + device + ": " + SystemText(error);
  if (error == ERROR_ACCESS_DENIED) out += " (another program holds the port?)";
  return out;
}

std::string TcpProblem(const std::string& hostPort) {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return "cannot start Winsock";
  const auto colon = hostPort.rfind(':');
  const std::string host = hostPort.substr(0, colon), port = hostPort.substr(colon + 1);
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  std::string problem;
  if (int e = getaddrinfo(host.c_str(), port.c_str(), &hints, &found); e != 0) {
    problem = "cannot find host " + host + ": " + SystemText(static_cast<DWORD>(e));
  } else {
    problem = "cannot connect to " + hostPort;
    for (addrinfo* a = found; a; a = a->ai_next) {
      SOCKET s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
      if (s == INVALID_SOCKET) continue;
      u_long nonBlocking = 1;
      ioctlsocket(s, FIONBIO, &nonBlocking);
      int error = connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0 ? 0 : WSAGetLastError();
      if (error == WSAEWOULDBLOCK) {
        WSAPOLLFD p{s, POLLOUT, 0};
        int len = sizeof error;
        error = WSAPoll(&p, 1, 3000) == 1 &&
                        getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len) == 0
                    ? error
                    : WSAETIMEDOUT;
      }
      closesocket(s);
      if (error == 0) {
        problem.clear();
        break;
      }
      problem = "cannot connect to " + hostPort + ": " + SystemText(static_cast<DWORD>(error));
    }
    freeaddrinfo(found);
  }
  WSACleanup();
  return problem;
}

std::string SimProblem(const std::string&) { return "the simulated phone (sim:) is not part of this build"; }

}  // namespace cli
