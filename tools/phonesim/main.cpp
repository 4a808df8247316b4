// kivmod-phonesim: serves a folder of this PC as a phone over a pseudo-terminal, a serial
// device or TCP on loopback, so that the library (or any host) can be tried without a phone.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "phonesim/config.hpp"
#include "phonesim/phone.hpp"
#include "phonesim/server.hpp"

namespace {

constexpr char kUsage[] =
    "usage: kivmod-phonesim [options] FOLDER\n"
    "Serves FOLDER as a phone: its top-level folders are the phone's top-level folders.\n"
    "\n"
    "Where (one of):\n"
    "  --pty               a new pseudo-terminal (default); its device name is printed\n"
    "  --serial DEVICE     a serial or USB-serial device\n"
    "  --tcp PORT          TCP on 127.0.0.1 (0: any free port; the port is printed)\n"
    "Settings:\n"
    "  --config FILE       phone settings (XML: model, version, packet size, memories,\n"
    "                      types, root folders, faults); see docs/phonesim.md\n"
    "  --baud N            serial speed (default 115200)\n"
    "  --once              stop after the first connection ends (TCP)\n"
    "Faults (override the file):\n"
    "  --drop-after N      hang up after N requests\n"
    "  --delay-ms N        wait N ms before every answer\n"
    "  --corrupt-after N   damage the answer frame of request N\n"
    "  --truncate-after N  cut the answer frame of request N short\n"
    "  --locked            the phone is locked\n";

int Fail(const std::string& message) {
  std::fprintf(stderr, "kivmod-phonesim: %s\n", message.c_str());
  return 2;
}

bool ParseInt(const char* text, int& out) {
  char* end = nullptr;
  long v = std::strtol(text, &end, 10);
  if (!*text || *end || v < -1 || v > 1 << 30) return false;
  out = static_cast<int>(v);
  return true;
}

int ServeTcp(phonesim::Phone& phone, int port, bool once) {
  int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  if (listener < 0) return Fail("cannot make a socket");
  int yes = 1;
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listener, 1) != 0) {
    ::close(listener);
    return Fail("cannot listen on 127.0.0.1:" + std::to_string(port));
  }
  socklen_t len = sizeof addr;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
  std::printf("kivmod-phonesim: serving on tcp:127.0.0.1:%d\n", ntohs(addr.sin_port));
  std::fflush(stdout);
  for (;;) {
    int fd = ::accept(listener, nullptr, nullptr);
    if (fd < 0) continue;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    bool kept = phonesim::ServeStream(phone, fd);
    ::close(fd);
    phone.Disconnect();
    if (once || !kept) break;
  }
  ::close(listener);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  std::string folder, configFile, serial;
  int tcpPort = -1, baud = 115200;
  int dropAfter = -2, delayMs = -2, corruptAfter = -2, truncateAfter = -2;
  bool locked = false, once = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](int& out) {
      if (i + 1 >= argc || !ParseInt(argv[i + 1], out)) return false;
      ++i;
      return true;
    };
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--pty") {
      tcpPort = -1;
      serial.clear();
    } else if (arg == "--serial" && i + 1 < argc) {
      serial = argv[++i];
    } else if (arg == "--config" && i + 1 < argc) {
      configFile = argv[++i];
    } else if (arg == "--once") {
      once = true;
    } else if (arg == "--locked") {
      locked = true;
    } else if ((arg == "--tcp" && value(tcpPort)) || (arg == "--baud" && value(baud)) ||
               (arg == "--drop-after" && value(dropAfter)) || (arg == "--delay-ms" && value(delayMs)) ||
               (arg == "--corrupt-after" && value(corruptAfter)) || (arg == "--truncate-after" && value(truncateAfter))) {
    } else if (!arg.empty() && arg[0] != '-' && folder.empty()) {
      folder = arg;
    } else {
      std::fputs(kUsage, stderr);
      return Fail("bad argument: " + arg);
    }
  }
  std::error_code ec;
  if (folder.empty() || !std::filesystem::is_directory(folder, ec)) {
    std::fputs(kUsage, stderr);
    return Fail("FOLDER must be an existing folder");
  }
  phonesim::Config config;
  if (!configFile.empty()) {
    std::string error;
    auto loaded = phonesim::LoadConfig(configFile, error);
    if (!loaded) return Fail(error);
    config = std::move(*loaded);
  }
  if (dropAfter != -2) config.dropAfterPackets = dropAfter;
  if (delayMs != -2) config.delayMs = static_cast<uint32_t>(delayMs < 0 ? 0 : delayMs);
  if (corruptAfter != -2) config.corruptAfterPackets = corruptAfter;
  if (truncateAfter != -2) config.truncateAfterPackets = truncateAfter;
  if (locked) config.locked = true;
  phonesim::Phone phone(folder, std::move(config));

  if (tcpPort >= 0) return ServeTcp(phone, tcpPort, once);

  int fd = -1, keep = -1;
  if (!serial.empty()) {
    fd = ::open(serial.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0 || !phonesim::MakeRaw(fd, baud)) return Fail("cannot open " + serial + ": " + std::strerror(errno));
    std::printf("kivmod-phonesim: serving on serial:%s\n", serial.c_str());
  } else {
    std::string name;
    fd = phonesim::OpenPseudoTerminal(name, keep);
    if (fd < 0) return Fail("cannot open a pseudo-terminal");
    std::printf("kivmod-phonesim: serving on serial:%s\n", name.c_str());
  }
  std::fflush(stdout);
  // A pseudo-terminal lives on across connections until the phone drops the link or the
  // program is stopped; a read error (the device went away) ends it too.
  for (;;) {
    if (!phonesim::ServeStream(phone, fd)) break;
    if (keep < 0) break;
  }
  ::close(fd);
  if (keep >= 0) ::close(keep);
  return 0;
}
