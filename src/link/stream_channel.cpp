#include "link/stream_channel.hpp"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdlib>

#include "link/frame.hpp"
#include "link/phone_link.hpp"
#include "platform/byte_stream.hpp"
#include "platform/trace.hpp"

namespace kiv {
namespace {

using Clock = std::chrono::steady_clock;

// Wait for the link's own answers (connect, phone information, backup tool) and for the
// connect itself; KIVMOD_CONNECT_WAIT_MS overrides it.
constexpr int kDefaultControlWaitMs = 5000;
// How long a write may wait for the other side to take bytes.
constexpr int kWriteWaitMs = 20000;
// Bytes taken from the stream per read.
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

// A Channel over one byte stream carrying our frames.
class StreamChannel : public Channel {
 public:
  StreamChannel(std::unique_ptr<ByteStream> stream, std::string name)
      : stream_(std::move(stream)), name_(std::move(name)), rx_(kReadChunk) {}
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

  bool IsOpen() override { return stream_ && !down_; }

  void Close() override {
    if (!stream_) return;
    if (!down_) {
      tx_.clear();
      EncodeFrame(FrameKind::kDisconnect, false, {0, 0, 0, ++controlSeq_, 0}, {}, tx_);
      WriteAll(tx_, 200);
    }
    stream_.reset();
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
      long n = stream_->Write(bytes, MsLeft(deadline));
      if (n < 0) {
        LinkDown(stream_->Error().c_str());
        return false;
      }
      if (n == 0) {
        TraceF("phone link: %s: write stalled for %d ms\n", name_.c_str(), waitMs);
        return false;
      }
      bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return true;
  }

  // Reads what the stream holds; waits up to waitMs when it holds nothing. False when the
  // wait ended without bytes.
  bool Pump(int waitMs) {
    // With no frame begun, the next bytes are an answer still to be made on the other side:
    // wait first rather than spend a read on learning that. Within a frame the rest is on
    // its way or already here (a terminal hands it over a few KiB per read), so read at once.
    long n = stream_->Read(rx_, waitMs, decoder_.Buffered() == 0);
    if (n < 0) {
      LinkDown(stream_->Error().c_str());
      return false;
    }
    if (n == 0) return false;
    decoder_.Feed({rx_.data(), static_cast<std::size_t>(n)});
    return true;
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

  std::unique_ptr<ByteStream> stream_;
  std::string name_;
  bool down_ = false;
  uint8_t expectedSeq_ = 0;
  uint8_t controlSeq_ = 0;
  uint64_t reportedSkipped_ = 0;
  FrameDecoder decoder_;
  std::vector<uint8_t> rx_;
  std::vector<uint8_t> tx_;
};

std::unique_ptr<Channel> Wrap(std::unique_ptr<ByteStream> stream, std::string name, std::string& error) {
  if (!stream) return nullptr;
  error.clear();
  TraceF("phone link: opened %s\n", name.c_str());
  return std::make_unique<StreamChannel>(std::move(stream), std::move(name));
}

std::unique_ptr<Channel> Bluetooth(const BtAddress& address, bool fromHost, std::string& error) {
  auto target = MakeRfcommTarget(address, fromHost, error);
  if (!target) {
    TraceF("phone link: Bluetooth: %s\n", error.c_str());
    return nullptr;
  }
  std::string name = "bt:" + FormatBtAddress(target->address) + " channel " + std::to_string(target->channel);
  auto stream = ConnectRfcommStream(*target, ControlWaitMs(), error);
  if (!stream) TraceF("phone link: %s\n", error.c_str());
  return Wrap(std::move(stream), std::move(name), error);
}

}  // namespace

std::unique_ptr<Channel> MakeStreamChannel(std::string_view target, const LinkSettings& settings,
                                           std::string& error) {
  if (target.starts_with("serial:")) {
    std::string device(target.substr(7));
    return Wrap(OpenSerialStream(device, settings.baudrate, error), "serial:" + device, error);
  }
  if (target.starts_with("tcp:")) {
    return Wrap(ConnectTcpStream(target.substr(4), ControlWaitMs(), error), std::string(target), error);
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
  return Wrap(OpenSerialStream(device, settings.baudrate, error), "COM" + std::to_string(settings.comPort) + " " + device,
              error);
}

}  // namespace kiv
