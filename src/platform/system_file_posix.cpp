// The backup data file's system calls on POSIX systems: pread and pwrite on a descriptor.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/system_file.hpp"

namespace kiv {

bool SystemFile::IsOpen() const { return fd_ >= 0; }

int SystemFile::OpenForWriting(const std::filesystem::path& path) {
  Close();
  // Opened without waiting (a named pipe with no reader fails instead of hanging), then
  // written to as an ordinary blocking descriptor.
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd_ < 0) return errno;
  if (::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK) != 0) return errno;
  return 0;
}

int SystemFile::OpenForReading(const std::filesystem::path& path) {
  Close();
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);  // only a regular file is kept
  if (fd_ < 0) return errno;
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return errno;
  if (S_ISDIR(st.st_mode)) return EISDIR;
  if (!S_ISREG(st.st_mode)) return EINVAL;
  return 0;
}

int SystemFile::Close() {
  if (fd_ < 0) return 0;
  const int result = ::close(fd_) == 0 ? 0 : errno;
  fd_ = -1;
  return result;
}

int SystemFile::Append(const uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd_, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return 0;
}

int SystemFile::WriteAt(uint64_t offset, const uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::pwrite(fd_, data, size, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  return 0;
}

int SystemFile::ReadAt(uint64_t offset, uint8_t* data, std::size_t size, std::size_t& got) {
  got = 0;
  for (;;) {
    const ssize_t n = ::pread(fd_, data, size, static_cast<off_t>(offset));
    if (n >= 0) {
      got = static_cast<std::size_t>(n);
      return 0;
    }
    if (errno != EINTR) return errno;
  }
}

int SystemFile::Sync() {
  // Some file systems and devices cannot sync; that is not a failure of the data.
  if (::fsync(fd_) != 0 && errno != EINVAL && errno != EROFS) return errno;
  return 0;
}

int SystemFile::Size(uint64_t& size) {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return errno;
  size = static_cast<uint64_t>(st.st_size);
  return 0;
}

}  // namespace kiv
