// A file copied both ways through the whole stack (library, framing, pseudo-terminal,
// kivmod-phonesim in another process) at two packet sizes, beside the same bytes pushed raw
// through a pseudo-terminal pair in the same run. The library holds the terminal's slave end
// and the phone its master end, as with the phone program's --pty, so each copy direction is
// set against raw bytes in that same direction.
//
// A third figure is the bare exchange: two processes on such a pair, one packet-sized write
// answered by a short one (or a short request answered by a packet-sized write), with no
// framing, no files and no other work. No protocol that waits for an answer to every piece
// can beat it, so it shows how much of the distance to raw is the waiting itself.
//
// Each line gives medians of paired runs (raw, bare, copy in turn), because this machine's
// speed drifts by 2 x over seconds.
//
//   pty_copy_bench [MiB] [runs]     (default 16 MiB, 7 runs)
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
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

#include "filemanager/manager.hpp"
#include "kivmod/kivmod.h"
#include "link/phone_link.hpp"
#include "phonesim_process.hpp"
#include "platform/text.hpp"
#include "protocol/transfer_file.hpp"

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

// Moves exactly n bytes with ::read or ::write, whatever sizes the terminal takes at a time.
template <typename Byte, typename Op>
bool Exactly(Op op, int fd, Byte* at, std::size_t n) {
  while (n) {
    const ssize_t done = op(fd, at, n);
    if (done <= 0) return false;
    at += done;
    n -= static_cast<std::size_t>(done);
  }
  return true;
}

bool ReadExactly(int fd, char* to, std::size_t n) { return Exactly(::read, fd, to, n); }
bool WriteExactly(int fd, const char* from, std::size_t n) { return Exactly(::write, fd, from, n); }

// The bare exchange in one direction: the PC process holds the slave end, a forked phone
// process the master end. Every piece is packet bytes, every other message kShort bytes.
double BareExchange(std::size_t bytes, std::size_t packet, bool masterToSlave) {
  constexpr std::size_t kShort = 32;
  int master = -1, slave = -1;
  if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return 0;
  termios t{};
  ::tcgetattr(slave, &t);
  ::cfmakeraw(&t);
  ::tcsetattr(slave, TCSANOW, &t);
  const std::size_t pieces = bytes / packet;
  std::vector<char> piece(packet, 'x'), small(kShort, 'a');
  const pid_t phone = ::fork();
  if (phone == 0) {
    bool ok = true;
    for (std::size_t i = 0; ok && i < pieces; ++i) {
      ok = masterToSlave ? ReadExactly(master, small.data(), kShort) && WriteExactly(master, piece.data(), packet)
                         : ReadExactly(master, piece.data(), packet) && WriteExactly(master, small.data(), kShort);
    }
    ::_exit(ok ? 0 : 1);
  }
  bool ok = phone > 0;
  auto start = Clock::now();
  for (std::size_t i = 0; ok && i < pieces; ++i) {
    ok = masterToSlave ? WriteExactly(slave, small.data(), kShort) && ReadExactly(slave, piece.data(), packet)
                       : WriteExactly(slave, piece.data(), packet) && ReadExactly(slave, small.data(), kShort);
  }
  const double s = Seconds(start);
  ::close(master);
  ::close(slave);
  int status = 1;
  if (phone > 0) ::waitpid(phone, &status, 0);
  return ok && status == 0 ? MBps(pieces * packet, s) : 0;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Paired {
  double copy = 0, raw = 0, bare = 0, ofRaw = 0, ofBare = 0;  // medians; copy 0 when a run failed
};

// runs triples of a raw push and a bare exchange in the copy's direction, and the copy itself.
Paired Measure(int runs, std::size_t bytes, std::size_t packet, bool masterToSlave,
               const std::function<double()>& copy) {
  std::vector<double> copies, raws, bares, ofRaw, ofBare;
  for (int i = 0; i < runs; ++i) {
    const double raw = RawPty(bytes, masterToSlave);
    const double bare = BareExchange(bytes, packet, masterToSlave);
    const double rate = copy();
    if (rate <= 0 || raw <= 0 || bare <= 0) return {};
    copies.push_back(rate);
    raws.push_back(raw);
    bares.push_back(bare);
    ofRaw.push_back(rate / raw);
    ofBare.push_back(rate / bare);
  }
  return {Median(copies), Median(raws), Median(bares), Median(ofRaw), Median(ofBare)};
}

// One line per direction; the time per exchange follows from the rates: a copy moves one
// piece of file data per exchange (the phone's pieces to the PC are 4 bytes longer than the
// PC's, which the figure leaves aside), the bare exchange one whole packet.
void Print(const char* direction, const Paired& p, std::size_t piece, std::size_t packet) {
  std::printf("  %-11s copy %6.1f MB/s   raw %6.1f   bare exchange %6.1f   copy/raw %.2f   copy/bare %.2f"
              "   per exchange: copy %.1f us, bare %.1f us\n",
              direction, p.copy, p.raw, p.bare, p.ofRaw, p.ofBare, static_cast<double>(piece) / p.copy,
              static_cast<double>(packet) / p.bare);
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t mib = argc > 1 ? static_cast<std::size_t>(std::atoi(argv[1])) : 16;
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
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
    const Paired toPhone = Measure(runs, bytes, static_cast<std::size_t>(packet), false, [&] {
      auto start = Clock::now();
      int down = protocol.DownloadFile(pcFile, u"Music", u"big.mp3", static_cast<uint32_t>(packet), nullptr);
      return down == 1 ? MBps(bytes, Seconds(start)) : 0;
    });
    const Paired toPc = Measure(runs, bytes, static_cast<std::size_t>(packet), true, [&] {
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
    const auto piece = static_cast<std::size_t>(kiv::TransferPieceSize(static_cast<uint32_t>(packet), 5, 7));
    std::printf("packet %d (%zu file bytes a piece)\n", packet, piece);
    Print("PC to phone", toPhone, piece, static_cast<std::size_t>(packet));
    Print("phone to PC", toPc, piece, static_cast<std::size_t>(packet));
    kiv::CurrentLink().Disconnect();
    kiv::DestroyCurrentManager();
    fs::remove(base / "phone" / "Music" / "big.mp3");
    fs::remove(base / "pc" / "back.mp3");
  }
  std::printf("goal: copy/bare 0.9 each way (medians of %d runs)\n", runs);
  fs::remove_all(base);
  return 0;
}
