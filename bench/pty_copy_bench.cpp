// A file copied both ways through the whole stack (library, framing, pseudo-terminal,
// kivmod-phonesim in another process) at two packet sizes, beside the same bytes pushed raw
// through a pseudo-terminal pair in the same run. Prints both throughputs and their ratio.
//
//   pty_copy_bench [MiB]     (default 16)
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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

// Raw bytes through a pseudo-terminal pair in raw mode, reader on its own thread.
double RawPty(std::size_t bytes) {
  int master = -1, slave = -1;
  if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return 0;
  termios t{};
  ::tcgetattr(slave, &t);
  ::cfmakeraw(&t);
  ::tcsetattr(slave, TCSANOW, &t);
  std::thread reader([&] {
    std::vector<char> buffer(65536);
    std::size_t got = 0;
    while (got < bytes) {
      ssize_t n = ::read(master, buffer.data(), buffer.size());
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
  });
  std::vector<char> data(65536, 'x');
  auto start = Clock::now();
  std::size_t sent = 0;
  while (sent < bytes) {
    ssize_t n = ::write(slave, data.data(), std::min(data.size(), bytes - sent));
    if (n <= 0) break;
    sent += static_cast<std::size_t>(n);
  }
  reader.join();
  double s = Seconds(start);
  ::close(master);
  ::close(slave);
  return MBps(bytes, s);
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t mib = argc > 1 ? static_cast<std::size_t>(std::atoi(argv[1])) : 16;
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
  const double raw = RawPty(bytes);
  std::printf("raw pseudo-terminal       %8.1f MB/s\n", raw);
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
    auto start = Clock::now();
    int down = protocol.DownloadFile(pcFile, u"Music", u"big.mp3", static_cast<uint32_t>(packet), nullptr);
    double toPhone = MBps(bytes, Seconds(start));
    start = Clock::now();
    int up = protocol.UploadFile(back, u"Music", u"big.mp3", nullptr);
    double toPc = MBps(bytes, Seconds(start));
    if (down != 1 || up != 1 || fs::file_size(base / "pc" / "back.mp3") != bytes) {
      std::fprintf(stderr, "copy failed at packet size %d\n", packet);
      return 1;
    }
    std::printf("packet %5d  PC to phone %8.1f MB/s (%.2f x raw)   phone to PC %8.1f MB/s (%.2f x raw)\n", packet,
                toPhone, toPhone / raw, toPc, toPc / raw);
    kiv::CurrentLink().Disconnect();
    kiv::DestroyCurrentManager();
    fs::remove(base / "phone" / "Music" / "big.mp3");
    fs::remove(base / "pc" / "back.mp3");
  }
  std::printf("goal: 0.9 x raw at packet size 32768\n");
  fs::remove_all(base);
  return 0;
}
