// Local files and folders on POSIX systems: host paths take "\\" or "/" between
// components, and files open without waiting on named pipes.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <csignal>
#include <cstdio>
#include <string>
#include <system_error>

#include "platform/local_names.hpp"
#include "platform/text.hpp"

namespace kiv {

std::filesystem::path LocalPath(std::u16string_view path) {
  constexpr std::u16string_view kLongPrefix = u"\\\\?\\";
  if (path.substr(0, kLongPrefix.size()) == kLongPrefix) path.remove_prefix(kLongPrefix.size());
  const std::u16string slashed = ReplaceChar(path, u'\\', u'/');
  // The name in the locale's character set; one it cannot spell stays UTF-8 (and is not found).
  std::string local;
  if (!U16ToLocalName(slashed, local)) local = U16ToUtf8(slashed);
  return std::filesystem::path(local);
}

bool LocalIsDirectory(std::u16string_view path) {
  if (path.empty()) return false;
  std::error_code error;
  return std::filesystem::is_directory(LocalPath(path), error);
}

bool LocalIsReadOnly(std::u16string_view path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::perms p = fs::status(LocalPath(path), ec).permissions();
  if (ec) return false;
  return (p & (fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write)) == fs::perms::none;
}

bool LocalCanRead(std::u16string_view path) {
  // Without waiting: a named pipe opened for reading would otherwise wait for a writer.
  const int fd = ::open(LocalPath(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

int64_t LocalLength(std::u16string_view path) {
  std::error_code ec;
  auto size = std::filesystem::file_size(LocalPath(path), ec);
  return ec ? -1 : static_cast<int64_t>(size);
}

bool LocalRemove(std::u16string_view path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path local = LocalPath(path);
  fs::permissions(local, fs::perms::owner_write, fs::perm_options::add, ec);
  return fs::remove(local, ec);
}

namespace {
constexpr std::string_view kTemporaryPrefix = ".kivmod-";
constexpr std::string_view kTemporarySuffix = ".part";
}  // namespace

std::u16string LocalTemporaryBeside(std::u16string_view target) {
  static std::atomic<unsigned> counter{0};
  std::u16string_view name = LocalFileName(target);
  std::u16string out(target.substr(0, target.size() - name.size()));
  out += Utf8ToU16(std::string(kTemporaryPrefix) + std::to_string(::getpid()) + "-" + std::to_string(counter++) +
                   std::string(kTemporarySuffix));
  return out;
}

int RemoveStaleTemporaries(std::u16string_view folder) {
  namespace fs = std::filesystem;
  std::error_code ec;
  int removed = 0;
  for (fs::directory_iterator it(LocalPath(folder), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() <= kTemporaryPrefix.size() + kTemporarySuffix.size() || name.rfind(kTemporaryPrefix, 0) != 0 ||
        name.compare(name.size() - kTemporarySuffix.size(), kTemporarySuffix.size(), kTemporarySuffix) != 0)
      continue;
    // ".kivmod-PID-N.part": a process that still runs may be writing it.
    const long pid = std::strtol(name.c_str() + kTemporaryPrefix.size(), nullptr, 10);
    if (pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM)) continue;
    std::error_code removeError;
    if (fs::remove(it->path(), removeError)) ++removed;
  }
  return removed;
}

bool LocalReplace(std::u16string_view from, std::u16string_view to) {
  return ::rename(LocalPath(from).c_str(), LocalPath(to).c_str()) == 0;
}

std::FILE* OpenLocalFile(std::u16string_view path, const char* mode, std::unique_ptr<char[]>& buffer) {
  // Copies move whole pieces and lists are read in large runs: a large buffer keeps system
  // calls rare.
  constexpr std::size_t kBuffer = 256 * 1024;
  const std::filesystem::path local = LocalPath(path);
  const std::string_view m = mode;
  const int flags = m == "rb"    ? O_RDONLY
                    : m == "r+b" ? O_RDWR
                    : m == "wxb" ? O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW
                                 : O_WRONLY | O_CREAT | O_APPEND;
  const int fd = ::open(local.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  struct stat st {};
  std::FILE* file = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? ::fdopen(fd, m == "wxb" ? "wb" : mode) : nullptr;
  if (!file) ::close(fd);
  if (!file) return nullptr;
  if (!buffer) buffer = std::make_unique_for_overwrite<char[]>(kBuffer);
  std::setvbuf(file, buffer.get(), _IOFBF, kBuffer);
  return file;
}

}  // namespace kiv
