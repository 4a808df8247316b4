// The Windows byte streams: TCP against a loopback listener the test opens itself, the
// failures a host sees (refused, malformed, missing COM port) and the COM port names.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/byte_stream.hpp"
#include "platform/socket_stream_win32.hpp"

namespace {

using kiv::UniqueSocket;

// A listener on 127.0.0.1 at a port the system picks.
struct Listener {
  UniqueSocket s;
  int port = 0;
  Listener() {
    std::string error;
    EXPECT_TRUE(kiv::StartWinsock(error)) << error;
    s = UniqueSocket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof addr;
    EXPECT_EQ(::bind(s.Get(), reinterpret_cast<sockaddr*>(&addr), len), 0);
    EXPECT_EQ(::listen(s.Get(), 1), 0);
    ::getsockname(s.Get(), reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
  }
  std::string HostPort() const { return "127.0.0.1:" + std::to_string(port); }
};

std::vector<uint8_t> AllByteValues() {
  std::vector<uint8_t> all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
  return all;
}

TEST(Win32Stream, TcpCarriesEveryByteValueBothWaysAndReportsTheEnd) {
  Listener listener;
  std::string error;
  auto stream = kiv::ConnectTcpStream(listener.HostPort(), 5000, error);
  ASSERT_TRUE(stream) << error;
  UniqueSocket peer(::accept(listener.s.Get(), nullptr, nullptr));
  ASSERT_TRUE(peer.Valid());
  std::vector<uint8_t> buffer(1024);
  EXPECT_EQ(stream->Read(buffer, 0, false), 0) << "nothing sent yet";

  const auto all = AllByteValues();
  ASSERT_EQ(stream->Write(all, 5000), 256);
  std::vector<uint8_t> got(256);
  for (int have = 0; have < 256;) {
    int n = ::recv(peer.Get(), reinterpret_cast<char*>(got.data()) + have, 256 - have, 0);
    ASSERT_GT(n, 0);
    have += n;
  }
  EXPECT_EQ(got, all);

  ASSERT_EQ(::send(peer.Get(), reinterpret_cast<const char*>(all.data()), 256, 0), 256);
  got.clear();
  while (got.size() < 256) {
    long n = stream->Read(buffer, 5000, true);
    ASSERT_GT(n, 0) << stream->Error();
    got.insert(got.end(), buffer.begin(), buffer.begin() + n);
  }
  EXPECT_EQ(got, all);

  peer.Reset();
  EXPECT_EQ(stream->Read(buffer, 5000, true), -1);
  EXPECT_EQ(stream->Error(), "end of stream");
}

TEST(Win32Stream, FailuresNameWhatCouldNotBeReached) {
  std::string closedPort;
  {
    Listener gone;
    closedPort = gone.HostPort();
  }
  struct Case {
    std::string target;
    std::string mentions;
  };
  for (const Case& c : {Case{closedPort, closedPort}, Case{"127.0.0.1", "not HOST:PORT"}, Case{"COM42", "COM42"}}) {
    std::string error;
    bool serial = c.target.starts_with("COM");
    auto stream = serial ? kiv::OpenSerialStream(c.target, 115200, error) : kiv::ConnectTcpStream(c.target, 5000, error);
    EXPECT_FALSE(stream) << c.target;
    EXPECT_NE(error.find(c.mentions), std::string::npos) << error;
  }
}

TEST(Win32Stream, ComPortNamesTakeTheDevicePrefix) {
  std::string error;
  EXPECT_EQ(kiv::ComPortDevice(1, error), "\\\\.\\COM1");
  EXPECT_EQ(kiv::ComPortDevice(10, error), "\\\\.\\COM10");
  EXPECT_EQ(kiv::ComPortDevice(255, error), "\\\\.\\COM255");
  for (int bad : {0, 256, -1}) {
    error.clear();
    EXPECT_EQ(kiv::ComPortDevice(bad, error), "");
    EXPECT_NE(error.find(std::to_string(bad)), std::string::npos);
  }
}

}  // namespace
