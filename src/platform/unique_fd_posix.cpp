#include "platform/unique_fd.hpp"

#include <unistd.h>

namespace kiv {

void UniqueFd::Reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

}  // namespace kiv
