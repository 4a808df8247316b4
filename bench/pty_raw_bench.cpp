// Raw pseudo-terminal throughput against the framed channel over the same kind of pair, and
// the frame codec on its own.
//
//   RawPty/dir:<0|1>       bytes pushed straight through, no framing, no waiting for answers
//                          (0: phone to host, 1: host to phone)
//   FramedToPhone/<body>   packets of <body> bytes sent, each answered by a 1-byte answer
//   FramedFromPhone/<body> small requests, each answered by a <body>-byte answer
// The framed runs report vs_raw: their throughput over the raw one in the same direction.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "link/frame.hpp"
#include "platform/serial_port.hpp"
#include "link/stream_channel.hpp"

namespace {

using kiv::FrameKind;
using kiv::UniqueFd;

struct PtyPair {
  UniqueFd master;
  UniqueFd slave;
  std::string slaveName;
};

PtyPair OpenPair(bool openSlave) {
  PtyPair p;
  p.master = UniqueFd(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  ::grantpt(p.master.Get());
  ::unlockpt(p.master.Get());
  p.slaveName = ::ptsname(p.master.Get());
  if (openSlave) {
    std::string error;
    p.slave = kiv::OpenSerialPort(p.slaveName, 115200, error);
    // Blocking from here on, like the plain reader and writer it stands for.
    ::fcntl(p.slave.Get(), F_SETFL, ::fcntl(p.slave.Get(), F_GETFL) & ~O_NONBLOCK);
  }
  return p;
}

bool WriteAll(int fd, const uint8_t* data, std::size_t size) {
  while (size) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

std::map<int, double>& RawRates() {
  static std::map<int, double> rates;
  return rates;
}

// Direction 0: phone to host (master to slave); 1: host to phone.
void RawPty(benchmark::State& state) {
  const int dir = static_cast<int>(state.range(0));
  constexpr std::size_t kPerIteration = 4 << 20;
  auto pair = OpenPair(true);
  int from = dir == 0 ? pair.master.Get() : pair.slave.Get();
  int to = dir == 0 ? pair.slave.Get() : pair.master.Get();
  std::vector<uint8_t> chunk(32768, 0x5A);
  std::vector<uint8_t> sink(65536);
  auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    std::thread writer([&] {
      for (std::size_t done = 0; done < kPerIteration; done += chunk.size()) {
        if (!WriteAll(from, chunk.data(), chunk.size())) return;
      }
    });
    std::size_t got = 0;
    while (got < kPerIteration) {
      ssize_t n = ::read(to, sink.data(), sink.size());
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    writer.join();
  }
  std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  RawRates()[dir] = static_cast<double>(state.iterations() * kPerIteration) / elapsed.count();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPerIteration));
}

// The phone: decodes requests from the master side and answers each packet.
class BenchPhone {
 public:
  BenchPhone(int fd, std::size_t answerSize) : fd_(fd), answer_(answerSize, 0x33) {
    thread_ = std::thread([this] { Run(); });
  }
  ~BenchPhone() {
    stop_ = true;
    thread_.join();
  }

 private:
  void Run() {
    kiv::FrameDecoder decoder;
    std::vector<uint8_t> buf(65536), out;
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      ssize_t n = ::read(fd_, buf.data(), buf.size());
      if (n <= 0) continue;
      decoder.Feed({buf.data(), static_cast<std::size_t>(n)});
      while (auto f = decoder.Next()) {
        out.clear();
        if (f->kind == FrameKind::kConnect) {
          kiv::EncodeFrame(FrameKind::kConnect, true, f->header, kiv::ConnectAnswerBody(1), out);
        } else if (f->kind == FrameKind::kPacket) {
          kiv::EncodeFrame(FrameKind::kPacket, true, f->header, answer_, out);
        }
        if (!out.empty()) WriteAll(fd_, out.data(), out.size());
      }
    }
  }

  int fd_;
  std::vector<uint8_t> answer_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

void Framed(benchmark::State& state, bool toPhone) {
  const std::size_t body = static_cast<std::size_t>(state.range(0));
  auto pair = OpenPair(false);
  std::string error;
  auto channel = kiv::MakeStreamChannel("serial:" + pair.slaveName, {}, error);
  if (!channel) {
    state.SkipWithError(error.c_str());
    return;
  }
  BenchPhone phone(pair.master.Get(), toPhone ? 1 : body);
  if (channel->Open("qorvend") != 1) {
    state.SkipWithError("no connect");
    return;
  }
  std::vector<uint8_t> requestBody(toPhone ? body : 16, 0x44);
  uint8_t seq = 0;
  kiv::CGenPacket answer;
  auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    kiv::CGenPacket request(0x20, 0x11, 1, ++seq, 0, requestBody.data(), static_cast<uint16_t>(requestBody.size()));
    if (!channel->Send(request) || channel->Read(answer, 5000) != 1) {
      state.SkipWithError("exchange failed");
      break;
    }
  }
  std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body));
  if (auto raw = RawRates().find(toPhone ? 1 : 0); raw != RawRates().end() && raw->second > 0) {
    state.counters["vs_raw"] = static_cast<double>(state.iterations() * body) / elapsed.count() / raw->second;
  }
  channel->Close();
}

void FramedToPhone(benchmark::State& state) { Framed(state, true); }
void FramedFromPhone(benchmark::State& state) { Framed(state, false); }

void Crc32c(benchmark::State& state) {
  std::vector<uint8_t> data(static_cast<std::size_t>(state.range(0)), 0x5A);
  for (auto _ : state) benchmark::DoNotOptimize(kiv::Crc32c(data));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

void EncodeDecode(benchmark::State& state) {
  std::vector<uint8_t> body(static_cast<std::size_t>(state.range(0)), 0x5A), wire;
  kiv::FrameDecoder decoder;
  for (auto _ : state) {
    wire.clear();
    kiv::EncodeFrame(FrameKind::kPacket, false, {0x20, 1, 1, 1, 0}, body, wire);
    decoder.Feed(wire);
    benchmark::DoNotOptimize(decoder.Next());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}

}  // namespace

BENCHMARK(RawPty)->Arg(0)->Arg(1)->ArgName("dir")->UseRealTime();
BENCHMARK(FramedToPhone)->Arg(2048)->Arg(32768)->ArgName("body")->UseRealTime();
BENCHMARK(FramedFromPhone)->Arg(2048)->Arg(32768)->ArgName("body")->UseRealTime();
BENCHMARK(Crc32c)->Arg(32768);
BENCHMARK(EncodeDecode)->Arg(2048)->Arg(32768);

BENCHMARK_MAIN();
