// A file copied both ways through the whole stack (library, framing, pseudo-terminal,
// kivmod-phonesim in another process) at two packet sizes, beside the same bytes pushed raw
// through a pseudo-terminal pair in the same run. The library holds the terminal's slave end
// and the phone its master end, as with the phone program's --pty, so each copy direction is
// set against raw bytes in that same direction. Every figure is the best of a few runs, which
// keeps a busy machine's stalls out of the ratio. Prints both throughputs and their ratio.
//
//   pty_copy_bench [MiB] [runs]     (default 16 MiB, 3 runs)
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "boundary/manager.hpp"
#include "kivmod/kivmod.h"
#include "link/phone_link.hpp"
#include "phonesim_process.hpp"
#include "platform/text.hpp"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }
double MBps(std::size_t bytes, double s) { return static_cast<double>(bytes) / 1e6 / s; }

// Raw bytes through a pseudo-terminal pair in raw mode, the reader on its own thread; from
// the master end to the slave end (phone to PC) or back.
double RawPty(std::size_t bytes, bool masterToSlave) {
  int master = -1, slave = -1;
  if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return 0;
  termios t{};
  ::tcgetattr(slave, &t);
  ::cfmakeraw(&t);
  ::tcsetattr(slave, TCSANOW, &t);
  const int from = masterToSlave ? master : slave;
  const int to = masterToSlave ? slave : master;
  auto start = Clock::now();
  std::thread reader([&] {
    std::vector<char> buffer(65536);
    std::size_t got = 0;
    while (got < bytes) {
      ssize_t n = ::read(to, buffer.data(), buffer.size());
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
  });
  std::vector<char> data(65536, 'x');
  std::size_t sent = 0;
  while (sent < bytes) {
    ssize_t n = ::write(from, data.data(), std::min(data.size(), bytes - sent));
    if (n <= 0) break;
    sent += static_cast<std::size_t>(n);
  }
  reader.join();
  double s = Seconds(start);
  ::close(master);
  ::close(slave);
  return MBps(bytes, s);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Paired {
  double copy = 0, raw = 0, ratio = 0;  // medians; copy 0 when a run failed
};

// runs pairs of a raw push in the copy's direction and the copy itself.
Paired Measure(int runs, std::size_t bytes, bool masterToSlave, const std::function<double()>& copy) {
  std::vector<double> copies, raws, ratios;
  for (int i = 0; i < runs; ++i) {
    const double raw = RawPty(bytes, masterToSlave);
    const double rate = copy();
    if (rate <= 0 || raw <= 0) return {};
    copies.push_back(rate);
    raws.push_back(raw);
    ratios.push_back(rate / raw);
  }
  return {Median(copies), Median(raws), Median(ratios)};
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t mib = argc > 1 ? static_cast<std::size_t>(std::atoi(argv[1])) : 16;
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  const std::size_t bytes = mib << 20;
  const fs::path base = fs::temp_directory_path() / ("kivmod-ptycopy-" + std::to_string(::getpid()));
  fs::create_directories(base / "phone" / "Music");
  fs::create_directories(base / "pc");
  {
    std::ofstream out(base / "pc" / "big.mp3", std::ios::binary);
    std::string chunk(1 << 20, '\0');
    for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>(i * 131);
    for (std::size_t i = 0; i < mib; ++i) out << chunk;
  }
  ::setenv("KIVMOD_WORKDIR", (base / "work").c_str(), 1);
  for (int packet : {2048, 32768}) {
    std::ofstream(base / "phone.xml") << "<phone version=\"9\" maxPacket=\"" << packet
                                      << "\"><internal total=\"4000000000\"/></phone>";
    kivtest::PhonesimProcess sim({"--pty", "--config", (base / "phone.xml").string(), (base / "phone").string()});
    if (sim.link().empty()) {
      std::fprintf(stderr, "kivmod-phonesim did not start\n");
      return 1;
    }
    ::setenv("KIVMOD_LINK", sim.link().c_str(), 1);
    Kiv_InitalizeU(nullptr);
    if (Kiv_Connect(1, 0, nullptr, 1) != 1) return 1;
    kiv::CPFileMan& protocol = kiv::CurrentManager()->m_PFileMan;
    const std::u16string pcFile = kiv::Utf8ToU16((base / "pc" / "big.mp3").string());
    const std::u16string back = kiv::Utf8ToU16((base / "pc" / "back.mp3").string());
    const Paired toPhone = Measure(runs, bytes, false, [&] {
      auto start = Clock::now();
      int down = protocol.DownloadFile(pcFile, u"Music", u"big.mp3", static_cast<uint32_t>(packet), nullptr);
      return down == 1 ? MBps(bytes, Seconds(start)) : 0;
    });
    const Paired toPc = Measure(runs, bytes, true, [&] {
      fs::remove(base / "pc" / "back.mp3");
      auto start = Clock::now();
      int up = protocol.UploadFile(back, u"Music", u"big.mp3", nullptr);
      double rate = MBps(bytes, Seconds(start));
      std::error_code ec;
      return up == 1 && fs::file_size(base / "pc" / "back.mp3", ec) == bytes ? rate : 0;
    });
    if (toPhone.copy <= 0 || toPc.copy <= 0) {
      std::fprintf(stderr, "copy failed at packet size %d\n", packet);
      return 1;
    }
    std::printf("packet %5d  PC to phone %7.1f MB/s, raw %7.1f, %.2f x raw   phone to PC %7.1f MB/s, raw %7.1f, %.2f x raw\n",
                packet, toPhone.copy, toPhone.raw, toPhone.ratio, toPc.copy, toPc.raw, toPc.ratio);
    kiv::CurrentLink().Disconnect();
    kiv::DestroyCurrentManager();
    fs::remove(base / "phone" / "Music" / "big.mp3");
    fs::remove(base / "pc" / "back.mp3");
  }
  std::printf("goal: 0.9 x raw at packet size 32768 (medians of %d paired runs)\n", runs);
  fs::remove_all(base);
  return 0;
}
