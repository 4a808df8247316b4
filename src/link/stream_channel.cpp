#include "link/stream_channel.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "platform/bluetooth_socket.hpp"
#include "link/frame.hpp"
#include "link/phone_link.hpp"
#include "platform/serial_port.hpp"
#include "platform/tcp_socket.hpp"
#include "platform/trace.hpp"

namespace kiv {
namespace {

using Clock = std::chrono::steady_clock;

// Wait for the link's own answers (connect, phone information, backup tool) and for the
// connect itself; KIVMOD_CONNECT_WAIT_MS overrides it.
constexpr int kDefaultControlWaitMs = 5000;
// How long a write may wait for the other side to take bytes.
constexpr int kWriteWaitMs = 20000;
// Bytes taken from the descriptor per read.
constexpr std::size_t kReadChunk = 64 * 1024;

int ControlWaitMs() {
  if (const char* v = std::getenv("KIVMOD_CONNECT_WAIT_MS"); v && *v) {
    int ms = 0;
    std::string_view s = v;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), ms);
    if (ec == std::errc() && end == s.data() + s.size() && ms > 0) return ms;
  }
  return kDefaultControlWaitMs;
}

int MsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  // Round up so that a wait never ends a fraction of a millisecond early.
  return static_cast<int>(std::clamp<int64_t>(left + 1, 0, 1 << 30));
}

// A Channel over one stream descriptor carrying our frames.
class StreamChannel : public Channel {
 public:
  StreamChannel(UniqueFd fd, std::string name) : fd_(std::move(fd)), name_(std::move(name)), rx_(kReadChunk) {
    struct stat st {};
    socket_ = ::fstat(fd_.Get(), &st) == 0 && S_ISSOCK(st.st_mode);
  }
  ~StreamChannel() override { Close(); }

  int Open(std::string_view id) override {
    int wait = ControlWaitMs();
    uint8_t seq = ++controlSeq_;
    std::span<const uint8_t> text(reinterpret_cast<const uint8_t*>(id.data()), std::min(id.size(), kMaxControlBody));
    if (!SendFrame(FrameKind::kConnect, {0, 0, 0, seq, 0}, text)) return CM_RET_FAILED;
    auto answer = Await(FrameKind::kConnect, seq, static_cast<uint32_t>(wait));
    if (!answer) {
      TraceF("phone link: %s: no connect answer within %d ms\n", name_.c_str(), wait);
      return CM_RET_FAILED;
    }
    int result = ConnectAnswerResult(answer->body);
    TraceF("phone link: %s: connect answered %d\n", name_.c_str(), result);
    return result;
  }

  bool IsOpen() override { return fd_.Valid() && !down_; }

  void Close() override {
    if (!fd_.Valid()) return;
    if (!down_) {
      tx_.clear();
      EncodeFrame(FrameKind::kDisconnect, false, {0, 0, 0, ++controlSeq_, 0}, {}, tx_);
      WriteAll(tx_, 200);
    }
    fd_.Reset();
    down_ = true;
    decoder_.Reset();
  }

  bool Send(const CGenPacket& request) override {
    if (!IsOpen()) return false;
    tx_.clear();
    if (!EncodePacket(request, false, tx_)) return false;
    expectedSeq_ = request.GetSeq();
    return WriteAll(tx_, kWriteWaitMs);
  }

  int Read(CGenPacket& answer, uint32_t timeoutMs) override {
    auto frame = Await(FrameKind::kPacket, expectedSeq_, timeoutMs);
    if (!frame) return 0;
    FrameToPacket(std::move(*frame), answer);
    return CM_RET_SUCCESS;
  }

  int PhoneInfo(uint8_t* info) override {
    auto frame = Control(FrameKind::kPhoneInfo);
    if (!frame || frame->body.size() != kPhoneInfoSize) return 0;
    std::copy(frame->body.begin(), frame->body.end(), info);
    return 1;
  }

  int SetBackupTool() override {
    auto frame = Control(FrameKind::kBackupTool);
    return frame ? BackupToolAnswerResult(frame->body) : 0;
  }

 private:
  std::optional<Frame> Control(FrameKind kind) {
    if (!IsOpen()) return std::nullopt;
    uint8_t seq = ++controlSeq_;
    if (!SendFrame(kind, {0, 0, 0, seq, 0}, {})) return std::nullopt;
    return Await(kind, seq, static_cast<uint32_t>(ControlWaitMs()));
  }

  bool SendFrame(FrameKind kind, const FrameHeader& header, std::span<const uint8_t> body) {
    tx_.clear();
    return EncodeFrame(kind, false, header, body, tx_) && WriteAll(tx_, kWriteWaitMs);
  }

  void LinkDown(const char* why) {
    if (!down_) TraceF("phone link: %s: link lost (%s)\n", name_.c_str(), why);
    down_ = true;
  }

  bool WriteAll(std::span<const uint8_t> bytes, int waitMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    while (!bytes.empty()) {
      if (!IsOpen()) return false;
      ssize_t n = socket_ ? ::send(fd_.Get(), bytes.data(), bytes.size(), MSG_NOSIGNAL)
                          : ::write(fd_.Get(), bytes.data(), bytes.size());
      if (n > 0) {
        bytes = bytes.subspan(static_cast<std::size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        pollfd p{fd_.Get(), POLLOUT, 0};
        int left = MsLeft(deadline);
        int r = left > 0 ? ::poll(&p, 1, left) : 0;
        if (r < 0 && errno == EINTR) continue;
        if (r == 0) {
          TraceF("phone link: %s: write stalled for %d ms\n", name_.c_str(), waitMs);
          return false;
        }
        if (r < 0 || (p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
          LinkDown("hang-up while writing");
          return false;
        }
        continue;
      }
      LinkDown(n == 0 ? "nothing written" : std::strerror(errno));
      return false;
    }
    return true;
  }

  // Reads what the descriptor holds; waits up to waitMs when it holds nothing. False when the
  // wait ended without bytes.
  bool Pump(int waitMs) {
    // With no frame begun, the next bytes are an answer still to be made on the other side:
    // wait first rather than spend a read on learning that. Within a frame the rest is on
    // its way or already here (a terminal hands it over a few KiB per read), so read at once.
    bool pollFirst = decoder_.Buffered() == 0 && waitMs > 0;
    for (;;) {
      if (pollFirst) {
        pollFirst = false;
        if (!WaitReadable(waitMs)) return false;
        waitMs = 0;
      }
      ssize_t n = ::read(fd_.Get(), rx_.data(), rx_.size());
      if (n > 0) {
        decoder_.Feed({rx_.data(), static_cast<std::size_t>(n)});
        return true;
      }
      if (n == 0) {
        LinkDown("end of stream");
        return false;
      }
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) {
        LinkDown(std::strerror(errno));
        return false;
      }
      if (waitMs <= 0 || !WaitReadable(waitMs)) return false;
      waitMs = 0;
    }
  }

  // Waits until the descriptor is readable, hung up or failed (the next read says which).
  bool WaitReadable(int waitMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
      pollfd p{fd_.Get(), POLLIN, 0};
      int r = ::poll(&p, 1, waitMs);
      if (r < 0 && errno == EINTR) {
        waitMs = MsLeft(deadline);
        continue;
      }
      if (r < 0) {
        LinkDown(std::strerror(errno));
        return false;
      }
      if (r == 0) return false;
      if (p.revents & POLLNVAL) {
        LinkDown("descriptor closed");
        return false;
      }
      return true;
    }
  }

  // The next answer frame of this kind and sequence byte; others are dropped.
  std::optional<Frame> Await(FrameKind kind, uint8_t seq, uint32_t timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      while (auto frame = decoder_.Next()) {
        if (frame->kind == FrameKind::kDisconnect) {
          LinkDown("the phone disconnected");
          return std::nullopt;
        }
        if (frame->answer && frame->kind == kind && frame->header.seq == seq) return frame;
        TraceF("phone link: %s: dropped %s kind %u seq %u (waiting for kind %u seq %u)\n", name_.c_str(),
               frame->answer ? "answer" : "request", static_cast<unsigned>(frame->kind), frame->header.seq,
               static_cast<unsigned>(kind), seq);
      }
      if (decoder_.SkippedBytes() != reportedSkipped_) {
        TraceF("phone link: %s: skipped %llu bytes of line noise\n", name_.c_str(),
               static_cast<unsigned long long>(decoder_.SkippedBytes() - reportedSkipped_));
        reportedSkipped_ = decoder_.SkippedBytes();
      }
      if (!IsOpen()) return std::nullopt;
      int left = MsLeft(deadline);
      if (!Pump(left) && (Clock::now() >= deadline || !IsOpen())) {
        if (IsOpen()) TraceF("phone link: %s: no answer within %u ms\n", name_.c_str(), timeoutMs);
        return std::nullopt;
      }
    }
  }

  UniqueFd fd_;
  std::string name_;
  bool socket_ = false;
  bool down_ = false;
  uint8_t expectedSeq_ = 0;
  uint8_t controlSeq_ = 0;
  uint64_t reportedSkipped_ = 0;
  FrameDecoder decoder_;
  std::vector<uint8_t> rx_;
  std::vector<uint8_t> tx_;
};

std::unique_ptr<Channel> Wrap(UniqueFd fd, std::string name, std::string& error) {
  if (!fd.Valid()) return nullptr;
  error.clear();
  TraceF("phone link: opened %s\n", name.c_str());
  return std::make_unique<StreamChannel>(std::move(fd), std::move(name));
}

std::unique_ptr<Channel> Bluetooth(const BtAddress& address, bool fromHost, std::string& error) {
  auto target = MakeRfcommTarget(address, fromHost, error);
  if (!target) {
    TraceF("phone link: Bluetooth: %s\n", error.c_str());
    return nullptr;
  }
  std::string name = "bt:" + FormatBtAddress(target->address) + " channel " + std::to_string(target->channel);
  auto fd = ConnectRfcomm(*target, ControlWaitMs(), error);
  if (!fd.Valid()) TraceF("phone link: %s\n", error.c_str());
  return Wrap(std::move(fd), std::move(name), error);
}

}  // namespace

std::unique_ptr<Channel> MakeStreamChannel(std::string_view target, const LinkSettings& settings,
                                           std::string& error) {
  if (target.starts_with("serial:")) {
    std::string device(target.substr(7));
    return Wrap(OpenSerialPort(device, settings.baudrate, error), "serial:" + device, error);
  }
  if (target.starts_with("tcp:")) {
    return Wrap(ConnectTcp(target.substr(4), ControlWaitMs(), error), std::string(target), error);
  }
  if (target.starts_with("bt:")) {
    auto address = ParseBtAddress(target.substr(3));
    if (!address) {
      error = "not a Bluetooth address: " + std::string(target.substr(3));
      return nullptr;
    }
    return Bluetooth(*address, false, error);
  }
  if (!target.empty()) {
    error = "unknown KIVMOD_LINK: " + std::string(target);
    return nullptr;
  }
  if (settings.bluetooth || IsBluetoothMethod(settings.method)) return Bluetooth(settings.btAddress, true, error);
  std::string device = ComPortDevice(settings.comPort, error);
  if (device.empty()) return nullptr;
  return Wrap(OpenSerialPort(device, settings.baudrate, error), "COM" + std::to_string(settings.comPort) + " " + device,
              error);
}

}  // namespace kiv
