// The framed byte-stream channel against a phone played by the test over a pseudo-terminal
// or a loopback TCP socket, and the choice of device, address and channel.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/byte_stream.hpp"
#include "link/frame.hpp"
#include "link/phone_link.hpp"
#include "platform/serial_port.hpp"
#include "link/stream_channel.hpp"
#include "kivtest.hpp"
#include "platform/tcp_socket.hpp"

namespace {

using namespace std::chrono_literals;
using kiv::Frame;
using kiv::FrameKind;
using kiv::UniqueFd;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

using kivtest::ScopedEnv;

// The phone end of a link: reads frames on its descriptor in a thread and lets a handler
// answer them. Everything it received is kept for the test to look at.
class TestPhone {
 public:
  using Handler = std::function<void(const Frame&, TestPhone&)>;

  TestPhone(UniqueFd fd, Handler handler) : fd_(std::move(fd)), handler_(std::move(handler)) {
    thread_ = std::thread([this] { Run(); });
  }
  ~TestPhone() { HangUp(false); }

  // Stops answering; with drop set also lets go of the line, as a pulled cable would.
  void HangUp(bool drop = true) {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (drop) fd_.Reset();
  }
  void Write(const Bytes& bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
      ssize_t n = ::write(fd_.Get(), bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno != EAGAIN && errno != EINTR) return;
      if (n > 0) done += static_cast<std::size_t>(n);
      pollfd p{fd_.Get(), POLLOUT, 0};
      if (n <= 0) ::poll(&p, 1, 100);
    }
  }
  void Answer(const Frame& request, FrameKind kind, uint8_t cls, uint8_t code, std::span<const uint8_t> body,
              int seqShift = 0) {
    Bytes out;
    kiv::EncodeFrame(kind, true, {cls, code, request.header.flag, static_cast<uint8_t>(request.header.seq + seqShift), 0},
                     body, out);
    Write(out);
  }
  std::vector<Frame> Received() {
    std::lock_guard lock(mutex_);
    return received_;
  }

 private:
  void Run() {
    kiv::FrameDecoder decoder;
    std::vector<uint8_t> buf(65536);
    while (!stop_) {
      pollfd p{fd_.Get(), POLLIN, 0};
      if (::poll(&p, 1, 10) <= 0) continue;
      ssize_t n = ::read(fd_.Get(), buf.data(), buf.size());
      // A pseudo-terminal master reads EIO while no one holds the other end.
      if (n <= 0) std::this_thread::sleep_for(5ms);
      if (n <= 0) continue;
      decoder.Feed({buf.data(), static_cast<std::size_t>(n)});
      while (auto frame = decoder.Next()) {
        std::unique_lock lock(mutex_);
        received_.push_back(*frame);
        lock.unlock();
        if (handler_) handler_(*frame, *this);
      }
    }
  }

  UniqueFd fd_;
  Handler handler_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<Frame> received_;
  std::thread thread_;
};

struct Pty {
  UniqueFd master;
  std::string slave;
};

Pty OpenPty() {
  Pty pty{UniqueFd(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)), ""};
  EXPECT_TRUE(pty.master.Valid() && ::grantpt(pty.master.Get()) == 0 && ::unlockpt(pty.master.Get()) == 0);
  pty.slave = ::ptsname(pty.master.Get());
  return pty;
}

void Echo(const Frame& f, TestPhone& phone) {
  if (f.kind == FrameKind::kPacket) phone.Answer(f, FrameKind::kPacket, f.header.cls, f.header.code, f.body);
  if (f.kind == FrameKind::kBackupTool) phone.Answer(f, FrameKind::kBackupTool, 0, 0, kiv::BackupToolAnswerBody(1));
  if (f.kind == FrameKind::kPhoneInfo) {
    Bytes record(kiv::kPhoneInfoSize, 0);
    std::copy_n("KV-200", 6, record.begin() + 1);
    phone.Answer(f, FrameKind::kPhoneInfo, 0, 0, record);
  }
}
void Silent(const Frame&, TestPhone&) {}

// A phone that answers the connect with connectResult and every other request with rest
// (by default: packets echoed with their class, code and body, the phone's record and the
// backup tool's answer).
TestPhone::Handler Phone(int connectResult = kiv::CM_RET_SUCCESS, TestPhone::Handler rest = Echo) {
  return [connectResult, rest](const Frame& f, TestPhone& phone) {
    if (f.answer) return;
    if (f.kind != FrameKind::kConnect) return rest(f, phone);
    phone.Answer(f, FrameKind::kConnect, 0, 0, kiv::ConnectAnswerBody(connectResult));
  };
}

struct Link {
  Pty pty;
  std::unique_ptr<TestPhone> phone;
  std::unique_ptr<kiv::Channel> channel;
};

// A channel over a pseudo-terminal to a phone with this handler, opened when open is set.
Link PtyLink(TestPhone::Handler handler, bool open = true) {
  Link link;
  link.pty = OpenPty();
  std::string error;
  link.channel = kiv::MakeStreamChannel("serial:" + link.pty.slave, {}, error);
  EXPECT_TRUE(link.channel) << error;
  link.phone = std::make_unique<TestPhone>(std::move(link.pty.master), std::move(handler));
  EXPECT_TRUE(!open || link.channel->Open("qorvend") == kiv::CM_RET_SUCCESS);
  return link;
}

kiv::CGenPacket Request(uint8_t seq, const Bytes& body, uint8_t code = 0x11) {
  return kiv::CGenPacket(0x20, code, 1, seq, 0, body.data(), static_cast<uint16_t>(body.size()));
}

TEST(StreamChannel, ResultOfTheIdentifierExchange) {
  ScopedEnv wait("KIVMOD_CONNECT_WAIT_MS", "100");
  const std::pair<std::optional<int>, int> cases[] = {  // the phone's answer (none: silent), the result
      {kiv::CM_RET_SUCCESS, kiv::CM_RET_SUCCESS}, {kiv::CM_RET_GLOBALLOCKED, kiv::CM_RET_GLOBALLOCKED},
      {0, kiv::CM_RET_FAILED}, {std::nullopt, kiv::CM_RET_FAILED}};
  for (const auto& [answer, expected] : cases) {
    auto link = PtyLink(answer ? Phone(*answer) : TestPhone::Handler{}, false);
    auto start = Clock::now();
    EXPECT_EQ(link.channel->Open("qorvend"), expected);
    EXPECT_LT(Clock::now() - start, 3s);
    auto got = link.phone->Received();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].kind, FrameKind::kConnect);
    EXPECT_FALSE(got[0].answer);
    EXPECT_EQ(std::string(got[0].body.begin(), got[0].body.end()), "qorvend");
  }
}

TEST(StreamChannel, RoundTripsBodiesOfEverySizeAndTheLinkRequests) {
  auto link = PtyLink(Phone());
  uint8_t seq = 0;
  for (std::size_t size : {0, 1, 2048, 32768, 65535}) {
    Bytes body(size);
    for (std::size_t i = 0; i < size; ++i) body[i] = static_cast<uint8_t>(i * 31);
    ASSERT_TRUE(link.channel->Send(Request(++seq, body)));
    kiv::CGenPacket answer;
    ASSERT_EQ(link.channel->Read(answer, 5000), kiv::CM_RET_SUCCESS) << size;
    EXPECT_EQ(std::make_tuple(answer.GetClass(), answer.GetCode(), answer.GetSeq(), answer.GetFlag()),
              std::make_tuple(uint8_t{0x20}, uint8_t{0x11}, seq, 1));
    EXPECT_EQ(Bytes(answer.Body().begin(), answer.Body().end()), body) << size;
  }
  uint8_t info[kiv::kPhoneInfoSize] = {};
  ASSERT_EQ(link.channel->PhoneInfo(info), 1);
  EXPECT_STREQ(reinterpret_cast<const char*>(info + 1), "KV-200");
  EXPECT_EQ(link.channel->SetBackupTool(), 1);

  // A record of the wrong size is no record; an unanswered backup tool request fails.
  ScopedEnv wait("KIVMOD_CONNECT_WAIT_MS", "50");
  auto silent = PtyLink(Phone(1, [](const Frame& f, TestPhone& phone) {
    if (f.kind == FrameKind::kPhoneInfo) phone.Answer(f, FrameKind::kPhoneInfo, 0, 0, Bytes(10, 1));
  }));
  EXPECT_EQ(silent.channel->PhoneInfo(info), 0);
  EXPECT_EQ(silent.channel->SetBackupTool(), 0);
}

// Answers to earlier requests, the link's own answers, requests and line noise ahead of the
// awaited answer are all passed over; a refusal arrives as an ordinary answer.
TEST(StreamChannel, OnlyTheAnswerToTheLastRequestCounts) {
  auto link = PtyLink(Phone(1, [](const Frame& f, TestPhone& phone) {
    if (f.header.code == 0x72) return phone.Answer(f, FrameKind::kPacket, 0x00, 0x72, {});
    const uint8_t stale[] = {0xEE}, good[] = {0x01};
    phone.Answer(f, FrameKind::kPacket, 0x20, 0x11, stale, -1);
    phone.Write({0xA5, 0x5A, 0x01, 0x00, 0x13, 0xA5});
    phone.Answer(f, FrameKind::kBackupTool, 0, 0, kiv::BackupToolAnswerBody(1));
    Bytes request;
    kiv::EncodeFrame(FrameKind::kPacket, false, f.header, f.body, request);
    phone.Write(request);
    phone.Answer(f, FrameKind::kPacket, 0x20, 0x11, good);
  }));
  ASSERT_TRUE(link.channel->Send(Request(40, {5})));
  kiv::CGenPacket answer;
  ASSERT_EQ(link.channel->Read(answer, 5000), kiv::CM_RET_SUCCESS);
  EXPECT_EQ(answer.GetSeq(), 40);
  EXPECT_EQ(Bytes(answer.Body().begin(), answer.Body().end()), Bytes{0x01});
  // Nothing more is waiting: the dropped frames do not turn up later.
  EXPECT_EQ(link.channel->Read(answer, 50), 0);

  ASSERT_TRUE(link.channel->Send(Request(9, {1, 2}, 0x72)));
  ASSERT_EQ(link.channel->Read(answer, 5000), kiv::CM_RET_SUCCESS);
  EXPECT_EQ(std::make_pair(answer.GetClass(), answer.GetCode()), std::make_pair(uint8_t{0x00}, uint8_t{0x72}));
  EXPECT_EQ(answer.GetData(), nullptr);
}

TEST(StreamChannel, TimeOutHangUpAndGoodbye) {
  auto link = PtyLink(Phone(1, Silent));
  ASSERT_TRUE(link.channel->Send(Request(1, {1})));
  kiv::CGenPacket answer;
  auto start = Clock::now();
  EXPECT_EQ(link.channel->Read(answer, 50), 0);  // an unanswered request times out
  EXPECT_GE(Clock::now() - start, 50ms);
  EXPECT_LT(Clock::now() - start, 2s);
  EXPECT_TRUE(link.channel->IsOpen());

  // A hang-up ends a blocked read at once and closes the channel.
  std::thread pull([&] {
    std::this_thread::sleep_for(50ms);
    link.phone->HangUp();
  });
  start = Clock::now();
  EXPECT_EQ(link.channel->Read(answer, 20000), 0);
  EXPECT_LT(Clock::now() - start, 5s);
  pull.join();
  EXPECT_FALSE(link.channel->IsOpen());
  EXPECT_FALSE(link.channel->Send(Request(2, {1})));
  EXPECT_EQ(link.channel->Read(answer, 20000), 0);

  // Closing says goodbye to the phone; the phone saying goodbye ends a wait at once.
  auto closing = PtyLink(Phone());
  closing.channel->Close();
  EXPECT_FALSE(closing.channel->IsOpen());
  for (auto deadline = Clock::now() + 2s; closing.phone->Received().size() < 2 && Clock::now() < deadline;)
    std::this_thread::sleep_for(5ms);
  auto got = closing.phone->Received();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[1].kind, FrameKind::kDisconnect);
  auto other = PtyLink(Phone(1, [](const Frame& f, TestPhone& phone) {
    phone.Answer(f, FrameKind::kDisconnect, 0, 0, {});
  }));
  ASSERT_TRUE(other.channel->Send(Request(3, {})));
  start = Clock::now();
  EXPECT_EQ(other.channel->Read(answer, 20000), 0);
  EXPECT_LT(Clock::now() - start, 5s);
  EXPECT_FALSE(other.channel->IsOpen());
}

TEST(StreamChannelTarget, BadTargetsFailWithAReason) {
  const char* targets[] = {"serial:/nonexistent/tty", "serial:/dev/null", "tcp:127.0.0.1", "tcp:nohost",
                           "tcp:127.0.0.1:0", "bt:00:11", "carrier-pigeon:1"};
  for (const char* t : targets) {
    std::string error;
    EXPECT_EQ(kiv::MakeStreamChannel(t, {}, error), nullptr) << t;
    EXPECT_FALSE(error.empty()) << t;
  }
}

// The COM port's device: its own variable, then the map, then the numbering of ttyS.
TEST(StreamChannelTarget, ComPortMappingAndHostPortSplitting) {
  const std::tuple<int, const char*, const char*, std::string> cases[] = {  // port, KIVMOD_COM<port>, map, device
      {4, nullptr, nullptr, "/dev/ttyS3"},
      {3, "/dev/ttyUSB0", "3=/dev/ttyACM0", "/dev/ttyUSB0"},
      {3, nullptr, "1=/dev/ttyUSB1, COM3 = /dev/ttyACM0", "/dev/ttyACM0"},
      {2, nullptr, "1=/dev/ttyUSB1,junk,3=/dev/ttyACM0", "/dev/ttyS1"},
      {0, nullptr, "0=/dev/ttyUSB0", "/dev/ttyUSB0"},
      {0, nullptr, nullptr, ""},
      {-1, nullptr, nullptr, ""},
  };
  for (const auto& [port, own, map, device] : cases) {
    ScopedEnv ownEnv(("KIVMOD_COM" + std::to_string(port)).c_str(), own), mapEnv("KIVMOD_COMPORT_MAP", map);
    std::string error;
    EXPECT_EQ(kiv::ComPortDevice(port, error), device) << port;
    EXPECT_EQ(error.empty(), !device.empty()) << port;
  }
  const std::tuple<const char*, bool, const char*, uint16_t> hosts[] = {
      {"127.0.0.1:5000", true, "127.0.0.1", 5000}, {"[::1]:80", true, "::1", 80},
      {"localhost:65535", true, "localhost", 65535}, {"127.0.0.1:65536", false, "", 0},
      {"127.0.0.1:", false, "", 0}, {":80", false, "", 0}, {"127.0.0.1:8x", false, "", 0}};
  for (const auto& [text, ok, host, port] : hosts) {
    std::string gotHost;
    uint16_t gotPort = 0;
    EXPECT_EQ(kiv::SplitHostPort(text, gotHost, gotPort), ok) << text;
    EXPECT_TRUE(!ok || (gotHost == host && gotPort == port)) << text;
  }
}

TEST(StreamChannelTarget, EmptyTargetOpensTheMappedComPort) {
  auto pty = OpenPty();
  ScopedEnv own("KIVMOD_COM5", pty.slave.c_str());
  kiv::LinkSettings settings;
  settings.comPort = 5;
  settings.baudrate = 12345;  // no such rate: falls back, and a pseudo-terminal takes it anyway
  std::string error;
  auto channel = kiv::MakeStreamChannel("", settings, error);
  ASSERT_TRUE(channel) << error;
  TestPhone phone(std::move(pty.master), Phone(kiv::CM_RET_GLOBALLOCKED));
  EXPECT_EQ(channel->Open("qorvend"), kiv::CM_RET_GLOBALLOCKED);
}

TEST(StreamChannelBluetooth, AddressesByteOrderAndChannel) {
  const kiv::BtAddress host = {0x00, 0x1A, 0x7D, 0xDA, 0x71, 0x13}, reversed = {0x13, 0x71, 0xDA, 0x7D, 0x1A, 0x00};
  EXPECT_EQ(kiv::FormatBtAddress(host), "00:1A:7D:DA:71:13");
  EXPECT_EQ(kiv::ParseBtAddress("00:1a:7d:da:71:13"), host);
  EXPECT_EQ(kiv::ParseBtAddress("00-1A-7D-DA-71-13"), host);
  for (const char* bad : {"00:1A:7D:DA:71", "00:1A:7D:DA:71:1G", "00:1A:7D:DA:71:133", "001A:7D:DA:71:13:"})
    EXPECT_EQ(kiv::ParseBtAddress(bad), std::nullopt) << bad;
  EXPECT_EQ(kiv::BdaddrBytes(host), reversed);

  // KIVMOD_BT_BYTE_ORDER, KIVMOD_BT_CHANNEL, host bytes or a typed address, the result.
  const std::tuple<const char*, const char*, bool, std::optional<kiv::BtAddress>, int> cases[] = {
      {nullptr, nullptr, true, host, 1},  {"msb", "3", true, host, 3},
      {"lsb", "30", true, reversed, 30},  {"lsb", nullptr, false, host, 1},  // a typed address is in written order
      {"middle", nullptr, true, {}, 0},   {nullptr, "0", true, {}, 0},
      {nullptr, "31", true, {}, 0},       {nullptr, "2x", true, {}, 0},
  };
  for (const auto& [order, channel, fromHost, address, number] : cases) {
    ScopedEnv orderEnv("KIVMOD_BT_BYTE_ORDER", order), channelEnv("KIVMOD_BT_CHANNEL", channel);
    std::string error;
    auto target = kiv::MakeRfcommTarget(host, fromHost, error);
    ASSERT_EQ(target.has_value(), address.has_value()) << (order ? order : "-") << " " << (channel ? channel : "-");
    EXPECT_EQ(error.empty(), target.has_value());
    if (!target) continue;
    EXPECT_EQ(std::tie(target->address, target->bdaddr, target->channel),
              std::make_tuple(*address, kiv::BdaddrBytes(*address), number));
  }
  std::string error;
  EXPECT_EQ(kiv::MakeRfcommTarget({}, true, error), std::nullopt);
  EXPECT_NE(error.find("address"), std::string::npos);
}

TEST(StreamChannelBluetooth, ConnectWithoutARadioFails) {
  ScopedEnv wait("KIVMOD_CONNECT_WAIT_MS", "200");
  for (auto [method, bluetooth] : {std::pair{kiv::kMethodBluetooth, false}, std::pair{kiv::kMethodBluetoothAlt, false},
                                   std::pair{0, true}}) {
    kiv::LinkSettings settings;
    settings.method = method;
    settings.bluetooth = bluetooth;
    settings.btAddress = {0x00, 0x1A, 0x7D, 0xDA, 0x71, 0x13};
    std::string error;
    auto start = Clock::now();
    EXPECT_EQ(kiv::MakeStreamChannel("", settings, error), nullptr);
    EXPECT_LT(Clock::now() - start, 3s);
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(kiv::BluetoothSupported() || error.find("BlueZ") != std::string::npos) << error;
  }
}

}  // namespace
