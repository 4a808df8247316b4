// Bulk copies of one large file both ways at two packet sizes, in one run beside a plain
// memcpy of the same bytes:
//   - through the in-process simulated phone (the phone's own file work included; Linux
//     only: the Windows library has no simulated phone), and
//   - the library alone, against a link whose answers are ready-made in memory, so that the
//     figure is the library's own work per byte (pieces, codec, local file, progress).
// Prints MB/s of payload and CPU milliseconds per MB, each the fastest of three runs.
//
//   copy_bench [MiB]     (default 64)
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench_system.hpp"
#include "null_link.hpp"
#include "protocol/pfileman.hpp"
#ifndef _WIN32
#include "phonesim/phone.hpp"
#endif

namespace {

namespace fs = std::filesystem;

double Now(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct Figures {
  double mbps = 0;
  double cpuMsPerMb = 0;
};

// The fastest of three runs: a run's time swings with the system's handling of the written
// file's pages, which is not the library's work.
template <typename Run>
Figures Measure(std::size_t bytes, Run run) {
  Figures best;
  for (int round = 0; round < 3; ++round) {
    double wall = Now(CLOCK_MONOTONIC), cpu = Now(CLOCK_PROCESS_CPUTIME_ID);
    if (!run()) {
      std::fprintf(stderr, "copy failed\n");
      std::exit(1);
    }
    wall = Now(CLOCK_MONOTONIC) - wall;
    cpu = Now(CLOCK_PROCESS_CPUTIME_ID) - cpu;
    const double mb = static_cast<double>(bytes) / 1e6;
    if (mb / wall > best.mbps) best = {mb / wall, cpu * 1000 / mb};
  }
  return best;
}

// Answers every request at once: a download piece with success, an upload request with the
// next piece of a file of `size` bytes held in memory.
class ReadyLink : public kivtest::NullLink {
 public:
  ReadyLink(std::size_t size, uint32_t packet, std::size_t echoed) : size_(size), packet_(packet), echoed_(echoed) {
    data_.resize(65536, 0x5A);
  }
  int PktSend(const kiv::CGenPacket& request) override {
    code_ = request.GetCode();
    cls_ = request.GetClass();
    return 1;
  }
  int PktRead(kiv::CGenPacket& answer) override {
    auto& body = answer.MutableBody();
    body.clear();
    body.push_back(0x01);
    uint8_t code = code_;
    if (code_ == 0x06 || code_ == 0x20) {  // upload start and acknowledgements
      body.resize(1 + echoed_, 0);
      const std::size_t room = packet_ - kiv::CGenPacket::kHeaderSize - body.size() - 12;
      const std::size_t piece = std::min(room, size_ - sent_);
      auto put = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) body.push_back(static_cast<uint8_t>(v >> (8 * i)));
      };
      put(static_cast<uint32_t>(size_));
      put(static_cast<uint32_t>(sent_));
      put(0);
      body.insert(body.end(), data_.begin(), data_.begin() + static_cast<std::ptrdiff_t>(piece));
      sent_ += piece;
      if (sent_ >= size_) code = 0xC6;
    } else if (code_ == 0x26) {  // free space, as a decimal text
      body.insert(body.end(), {0, 0});
      for (char c : std::string("99999999999")) body.insert(body.end(), {static_cast<uint8_t>(c), 0});
      body.insert(body.end(), {0, 0});
    }
    answer.SetHeader(cls_, code, 1, 0);
    return kiv::CM_RET_SUCCESS;
  }

 private:
  std::size_t size_, sent_ = 0;
  uint32_t packet_;
  std::size_t echoed_;
  uint8_t code_ = 0, cls_ = 0x20;
  std::vector<uint8_t> data_;
};

}  // namespace

int main(int argc, char** argv) {
  const std::size_t mib = argc > 1 ? static_cast<std::size_t>(std::atoi(argv[1])) : 64;
  const std::size_t bytes = mib << 20;
  const fs::path base = fs::temp_directory_path() / ("kivmod-copybench-" + std::to_string(kivbench::ProcessId()));
  fs::create_directories(base / "phone" / "Music");
  const fs::path pcFile = base / "big.mp3";
  {
    std::vector<char> chunk(1 << 20);
    for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>(i * 131);
    std::ofstream out(pcFile, std::ios::binary);
    for (std::size_t i = 0; i < mib; ++i) out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
  }
  {
    std::vector<uint8_t> a(bytes, 1), b(bytes);
    Figures copy = Measure(bytes, [&] {
      std::memcpy(b.data(), a.data(), bytes);
      return b[bytes / 2] == 1;
    });
    std::printf("memcpy                         %9.1f MB/s\n", copy.mbps);
  }
  const std::u16string pc = pcFile.u16string();
  const std::u16string back = (base / "back.mp3").u16string();
  for (uint32_t packet : {2048u, 32768u}) {
#ifndef _WIN32
    phonesim::Config config;
    config.maxPacket = packet;
    config.internal.total = 4ull << 30;
    auto phone = std::make_shared<phonesim::Phone>(base / "phone", config);
    {
      kiv::CPFileMan protocol;
      protocol.m_nVersion = 9;
      auto link = std::make_shared<kivtest::SimLink>(phone);
      link->Connect("bench", 5);
      kiv::InstallLink(link);
      Figures down = Measure(bytes, [&] { return protocol.DownloadFile(pc, u"Music", u"big.mp3", packet, nullptr) == 1; });
      Figures up = Measure(bytes, [&] { return protocol.UploadFile(back, u"Music", u"big.mp3", nullptr) == 1; });
      std::printf("packet %5u simulated phone  PC to phone %8.1f MB/s %6.2f ms CPU/MB   phone to PC %8.1f MB/s %6.2f ms CPU/MB\n",
                  packet, down.mbps, down.cpuMsPerMb, up.mbps, up.cpuMsPerMb);
      kiv::InstallLink(nullptr);
    }
#endif
    {
      kiv::CPFileMan protocol;
      protocol.m_nVersion = 9;
      const std::size_t echoed = 2 * (5 + 7) + 6;  // "Music" and "big.mp3" as the phone echoes them
      Figures down = Measure(bytes, [&] {
        kiv::InstallLink(std::make_shared<ReadyLink>(bytes, packet, echoed));
        return protocol.DownloadFile(pc, u"Music", u"big.mp3", packet, nullptr) == 1;
      });
      Figures up = Measure(bytes, [&] {
        kiv::InstallLink(std::make_shared<ReadyLink>(bytes, packet, echoed));
        return protocol.UploadFile(back, u"Music", u"big.mp3", nullptr) == 1;
      });
      kiv::InstallLink(nullptr);
      std::printf("packet %5u library alone    PC to phone %8.1f MB/s %6.2f ms CPU/MB   phone to PC %8.1f MB/s %6.2f ms CPU/MB\n",
                  packet, down.mbps, down.cpuMsPerMb, up.mbps, up.cpuMsPerMb);
    }
  }
  std::printf("goal: the library's own work at 1000 MB/s of payload or more\n");
  fs::remove_all(base);
  return 0;
}
