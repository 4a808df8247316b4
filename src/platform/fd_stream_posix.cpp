#include "platform/fd_stream.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace kiv {
namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  // Round up so that a wait never ends a fraction of a millisecond early.
  return static_cast<int>(std::clamp<int64_t>(left + 1, 0, 1 << 30));
}

class FdStream : public ByteStream {
 public:
  explicit FdStream(UniqueFd fd) : fd_(std::move(fd)) {
    struct stat st {};
    socket_ = ::fstat(fd_.Get(), &st) == 0 && S_ISSOCK(st.st_mode);
  }

  long Read(std::span<uint8_t> buffer, int waitMs, bool waitFirst) override {
    // With nothing expected at once, wait first rather than spend a read on learning that.
    if (waitFirst && waitMs > 0) {
      int ready = WaitFor(POLLIN, waitMs);
      if (ready <= 0) return ready;
      waitMs = 0;
    }
    for (;;) {
      ssize_t n = ::read(fd_.Get(), buffer.data(), buffer.size());
      if (n > 0) return static_cast<long>(n);
      if (n == 0) return Fail("end of stream");
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return Fail(std::strerror(errno));
      if (waitMs <= 0) return 0;
      int ready = WaitFor(POLLIN, waitMs);
      if (ready <= 0) return ready;
      waitMs = 0;
    }
  }

  long Write(std::span<const uint8_t> bytes, int waitMs) override {
    for (;;) {
      ssize_t n = socket_ ? ::send(fd_.Get(), bytes.data(), bytes.size(), MSG_NOSIGNAL)
                          : ::write(fd_.Get(), bytes.data(), bytes.size());
      if (n > 0) return static_cast<long>(n);
      if (n == 0) return Fail("nothing written");
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return Fail(std::strerror(errno));
      int ready = WaitFor(POLLOUT, waitMs);
      if (ready <= 0) return ready;
      waitMs = 0;
    }
  }

 private:
  long Fail(const char* why) {
    error_ = why;
    return -1;
  }

  // 1 when the descriptor is ready (or hung up: the next call says so), 0 when the wait
  // ended first, -1 when it failed.
  int WaitFor(short events, int waitMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
      pollfd p{fd_.Get(), events, 0};
      int r = ::poll(&p, 1, waitMs);
      if (r < 0 && errno == EINTR) {
        waitMs = MsLeft(deadline);
        continue;
      }
      if (r < 0) return static_cast<int>(Fail(std::strerror(errno)));
      if (r == 0) return 0;
      if (p.revents & POLLNVAL) return static_cast<int>(Fail("descriptor closed"));
      if ((events & POLLOUT) && (p.revents & (POLLHUP | POLLERR))) {
        return static_cast<int>(Fail("hang-up while writing"));
      }
      return 1;
    }
  }

  UniqueFd fd_;
  bool socket_ = false;
};

}  // namespace

std::unique_ptr<ByteStream> MakeFdStream(UniqueFd fd) {
  if (!fd.Valid()) return nullptr;
  return std::make_unique<FdStream>(std::move(fd));
}

}  // namespace kiv
