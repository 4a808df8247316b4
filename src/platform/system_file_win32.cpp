// The backup data file's system calls on Windows: ReadFile and WriteFile at explicit offsets
// (OVERLAPPED) on a file handle; the append position is kept here, since a write at an
// offset moves the handle's own position.
#include <windows.h>

#include <algorithm>
#include <cerrno>

#include "platform/errno_win32.hpp"
#include "platform/system_file.hpp"

namespace kiv {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// One ReadFile or WriteFile moves at most a DWORD's worth; pieces stay well below it.
constexpr std::size_t kMaxPiece = std::size_t{1} << 30;

int LastErrno() { return ErrnoFromWin32(GetLastError()); }

OVERLAPPED At(uint64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return at;
}

}  // namespace

bool SystemFile::IsOpen() const { return handle_ != nullptr; }

int SystemFile::OpenForWriting(const std::filesystem::path& path) {
  Close();
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return EISDIR;
  // OPEN_ALWAYS and then cut to nothing, as O_TRUNC does: CREATE_ALWAYS would refuse an
  // existing hidden file.
  HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return LastErrno();
  handle_ = handle;
  // A pipe or a device (a server's pipe, NUL, COM1) is not written to: its writes can wait.
  if (GetFileType(handle) != FILE_TYPE_DISK) return EINVAL;
  if (!SetEndOfFile(handle)) return LastErrno();
  end_ = 0;
  return 0;
}

int SystemFile::OpenForReading(const std::filesystem::path& path) {
  Close();
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return EISDIR;
  HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return LastErrno();
  handle_ = handle;
  if (GetFileType(handle) != FILE_TYPE_DISK) return EINVAL;
  return 0;
}

int SystemFile::Close() {
  if (!handle_) return 0;
  const int result = CloseHandle(handle_) ? 0 : LastErrno();
  handle_ = nullptr;
  return result;
}

int SystemFile::Append(const uint8_t* data, std::size_t size) {
  if (int error = WriteAt(end_, data, size)) return error;
  end_ += size;
  return 0;
}

int SystemFile::WriteAt(uint64_t offset, const uint8_t* data, std::size_t size) {
  while (size > 0) {
    OVERLAPPED at = At(offset);
    DWORD written = 0;
    const DWORD piece = static_cast<DWORD>(std::min(size, kMaxPiece));
    if (!WriteFile(handle_, data, piece, &written, &at)) return LastErrno();
    if (written == 0) return EIO;
    data += written;
    size -= written;
    offset += written;
  }
  return 0;
}

int SystemFile::ReadAt(uint64_t offset, uint8_t* data, std::size_t size, std::size_t& got) {
  got = 0;
  OVERLAPPED at = At(offset);
  DWORD read = 0;
  if (!ReadFile(handle_, data, static_cast<DWORD>(std::min(size, kMaxPiece)), &read, &at)) {
    if (GetLastError() == ERROR_HANDLE_EOF) return 0;  // an offset at or past the end
    return LastErrno();
  }
  got = read;
  return 0;
}

int SystemFile::Sync() {
  if (!FlushFileBuffers(handle_) && GetLastError() != ERROR_INVALID_FUNCTION) return LastErrno();
  return 0;
}

int SystemFile::Size(uint64_t& size) {
  LARGE_INTEGER length;
  if (!GetFileSizeEx(handle_, &length)) return LastErrno();
  size = static_cast<uint64_t>(length.QuadPart);
  return 0;
}

}  // namespace kiv
