#include "phonesim/server.hpp"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "link/frame.hpp"

namespace phonesim {
namespace {

bool WriteAll(int fd, const std::vector<uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      pollfd p{fd, POLLOUT, 0};
      ::poll(&p, 1, 1000);
      continue;
    }
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

speed_t SpeedOf(int baud) {
  switch (baud) {
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 230400: return B230400;
    case 460800: return B460800;
    case 921600: return B921600;
    default: return B115200;
  }
}

}  // namespace

bool MakeRaw(int fd, int baud) {
  termios t{};
  if (::tcgetattr(fd, &t) != 0) return false;
  ::cfmakeraw(&t);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  if (baud > 0) {
    ::cfsetispeed(&t, SpeedOf(baud));
    ::cfsetospeed(&t, SpeedOf(baud));
  }
  return ::tcsetattr(fd, TCSANOW, &t) == 0;
}

int OpenPseudoTerminal(std::string& slaveName, int& slaveFd) {
  int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0) return -1;
  if (::grantpt(master) != 0 || ::unlockpt(master) != 0) {
    ::close(master);
    return -1;
  }
  const char* name = ::ptsname(master);
  if (!name) {
    ::close(master);
    return -1;
  }
  slaveName = name;
  slaveFd = ::open(name, O_RDWR | O_NOCTTY);
  if (slaveFd < 0 || !MakeRaw(slaveFd, 0)) {
    ::close(master);
    if (slaveFd >= 0) ::close(slaveFd);
    return -1;
  }
  return master;
}

bool ServeStream(Phone& phone, int fd) {
  kiv::FrameDecoder decoder;
  std::vector<uint8_t> in(64 * 1024);
  std::vector<uint8_t> out;
  int packets = 0;
  const Config& config = phone.config();
  for (;;) {
    ssize_t n = ::read(fd, in.data(), in.size());
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return true;  // the other side went away
    decoder.Feed({in.data(), static_cast<std::size_t>(n)});
    while (auto frame = decoder.Next()) {
      if (frame->answer) continue;
      out.clear();
      kiv::FrameHeader header = frame->header;
      switch (frame->kind) {
        case kiv::FrameKind::kConnect: {
          std::string id(frame->body.begin(), frame->body.end());
          kiv::EncodeFrame(kiv::FrameKind::kConnect, true, header, kiv::ConnectAnswerBody(phone.Connect(id)), out);
          break;
        }
        case kiv::FrameKind::kPhoneInfo: {
          auto info = phone.PhoneInfo();
          std::span<const uint8_t> body;
          if (phone.LinkUp()) body = info;
          kiv::EncodeFrame(kiv::FrameKind::kPhoneInfo, true, header, body, out);
          break;
        }
        case kiv::FrameKind::kBackupTool:
          kiv::EncodeFrame(kiv::FrameKind::kBackupTool, true, header,
                           kiv::BackupToolAnswerBody(phone.LinkUp() ? phone.SetBackupTool() : 0), out);
          break;
        case kiv::FrameKind::kDisconnect:
          phone.Disconnect();
          break;
        case kiv::FrameKind::kPacket: {
          Packet request{header.cls, header.code, header.flag, header.seq, std::move(frame->body)};
          auto answer = phone.Handle(request);
          if (!answer) {
            if (!phone.LinkUp() && config.dropAfterPackets >= 0) return false;  // dropped: hang up
            break;
          }
          ++packets;
          kiv::FrameHeader h{answer->cls, answer->code, static_cast<uint8_t>(answer->flag), answer->seq, 0};
          kiv::EncodeFrame(kiv::FrameKind::kPacket, true, h, answer->body, out);
          if (packets == config.corruptAfterPackets && out.size() > kiv::kFramePrefixSize) {
            out[out.size() / 2] ^= 0x5A;
          }
          if (packets == config.truncateAfterPackets) out.resize(out.size() / 2);
          break;
        }
      }
      if (!out.empty() && !WriteAll(fd, out)) return true;
      phone.Settle();
    }
  }
}

}  // namespace phonesim
