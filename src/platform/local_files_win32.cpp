// Local files and folders on Windows through the wide-character calls: host paths take "\\"
// or "/" between components, paths too long for the short form take the "\\\\?\\" form, and
// files are opened only when they are ordinary disk files.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cwchar>
#include <string>

#include "platform/errno_win32.hpp"
#include "platform/local_names.hpp"
#include "platform/text.hpp"

namespace kiv {
namespace {

constexpr std::wstring_view kLongPrefix = L"\\\\?\\";

bool Attributes(std::u16string_view path, WIN32_FILE_ATTRIBUTE_DATA& data) {
  return !path.empty() && GetFileAttributesExW(LocalPath(path).c_str(), GetFileExInfoStandard, &data) != 0;
}

// Whether the process with this id still runs (one that we may not look at counts as running).
bool ProcessRuns(DWORD pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid);
  if (!process) return GetLastError() == ERROR_ACCESS_DENIED;
  const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running;
}

constexpr std::wstring_view kTemporaryPrefix = L".kivmod-";
constexpr std::wstring_view kTemporarySuffix = L".part";

// Whether the last component of path is a temporary's name (".kivmod-PID-N.part").
bool IsTemporary(std::wstring_view path) {
  const std::wstring_view name = path.substr(path.find_last_of(L"\\/") + 1);
  return name.size() > kTemporaryPrefix.size() + kTemporarySuffix.size() && name.starts_with(kTemporaryPrefix) &&
         name.ends_with(kTemporarySuffix);
}

}  // namespace

std::filesystem::path LocalPath(std::u16string_view path) {
  std::wstring wide(path.begin(), path.end());
  std::replace(wide.begin(), wide.end(), L'/', L'\\');
  // Below MAX_PATH (less room for an 8.3 name, as folders need) a path works as it is. A
  // longer one needs the long form, which takes only a full path without "." or ".."
  // components: GetFullPathNameW makes one.
  if (wide.size() < MAX_PATH - 12 || wide.starts_with(kLongPrefix) || wide.starts_with(L"\\\\.\\")) return wide;
  DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (size == 0) return wide;
  std::wstring full(size, L'\0');
  size = GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
  if (size == 0 || size >= full.size()) return wide;
  full.resize(size);
  if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);  // \\server\share
  return std::wstring(kLongPrefix) + full;
}

bool LocalIsDirectory(std::u16string_view path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  return Attributes(path, data) && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool LocalIsReadOnly(std::u16string_view path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  return Attributes(path, data) && (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
}

bool LocalCanRead(std::u16string_view path) {
  if (path.empty()) return false;
  HANDLE file = CreateFileW(LocalPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

int64_t LocalLength(std::u16string_view path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!Attributes(path, data) || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return -1;
  return static_cast<int64_t>(uint64_t{data.nFileSizeHigh} << 32 | data.nFileSizeLow);
}

bool LocalRemove(std::u16string_view path) {
  if (path.empty()) return false;
  const std::filesystem::path local = LocalPath(path);
  const DWORD attributes = GetFileAttributesW(local.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return RemoveDirectoryW(local.c_str()) != 0;
  // DeleteFileW refuses a read-only file: the flag goes first, and comes back if it stays.
  const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  if (readOnly) SetFileAttributesW(local.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
  if (DeleteFileW(local.c_str())) return true;
  if (readOnly) SetFileAttributesW(local.c_str(), attributes);
  return false;
}

std::u16string LocalTemporaryBeside(std::u16string_view target) {
  static std::atomic<unsigned> counter{0};
  std::u16string_view name = LocalFileName(target);
  std::u16string out(target.substr(0, target.size() - name.size()));
  out += Utf8ToU16(".kivmod-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++) + ".part");
  return out;
}

int RemoveStaleTemporaries(std::u16string_view folder) {
  if (folder.empty()) return 0;
  const std::filesystem::path local = LocalPath(folder);
  std::wstring pattern = local.native();
  if (!pattern.ends_with(L'\\')) pattern += L'\\';
  const std::size_t nameAt = pattern.size();
  pattern.append(kTemporaryPrefix).append(L"*").append(kTemporarySuffix);
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return 0;
  int removed = 0;
  do {
    // The pattern also matches short (8.3) names: the long name is checked again.
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !IsTemporary(found.cFileName)) continue;
    // ".kivmod-PID-N.part": a process that still runs may be writing it.
    const unsigned long pid = std::wcstoul(found.cFileName + kTemporaryPrefix.size(), nullptr, 10);
    if (pid > 0 && ProcessRuns(static_cast<DWORD>(pid))) continue;
    const std::wstring path = pattern.substr(0, nameAt) + found.cFileName;
    if (DeleteFileW(path.c_str())) ++removed;
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return removed;
}

bool LocalReplace(std::u16string_view from, std::u16string_view to) {
  const std::filesystem::path source = LocalPath(from), target = LocalPath(to);
  const DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    errno = EISDIR;
    return false;
  }
  // A symbolic link at the target is replaced itself. A read-only file there gives way as a
  // rename over it does elsewhere: its flag is cleared first.
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
    SetFileAttributesW(target.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
  if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    // A temporary is hidden while written (a dot does not hide a name here); its content
    // under the final name is not.
    if (IsTemporary(source.native())) {
      const DWORD moved = GetFileAttributesW(target.c_str());
      if (moved != INVALID_FILE_ATTRIBUTES && (moved & FILE_ATTRIBUTE_HIDDEN))
        SetFileAttributesW(target.c_str(), moved & ~DWORD{FILE_ATTRIBUTE_HIDDEN});
    }
    return true;
  }
  const int error = ErrnoFromWin32(GetLastError());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
    SetFileAttributesW(target.c_str(), attributes);
  errno = error;
  return false;
}

std::FILE* OpenLocalFile(std::u16string_view path, const char* mode, std::unique_ptr<char[]>& buffer) {
  // Copies move whole pieces and lists are read in large runs: a large buffer keeps system
  // calls rare.
  constexpr std::size_t kBuffer = 256 * 1024;
  if (path.empty()) {
    errno = ENOENT;
    return nullptr;
  }
  const std::string_view m = mode;
  const DWORD access = m == "rb" ? GENERIC_READ : m == "r+b" ? GENERIC_READ | GENERIC_WRITE : GENERIC_WRITE;
  // "wxb": CREATE_NEW fails on any existing name, a symbolic link included.
  const DWORD disposition = m == "rb" || m == "r+b" ? OPEN_EXISTING : m == "wxb" ? CREATE_NEW : OPEN_ALWAYS;
  // Shared as a file is elsewhere: others may read, write, rename or remove it meanwhile.
  const std::filesystem::path local = LocalPath(path);
  const DWORD attributes = m == "wxb" && IsTemporary(local.native()) ? FILE_ATTRIBUTE_HIDDEN : FILE_ATTRIBUTE_NORMAL;
  HANDLE handle = CreateFileW(local.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              disposition, attributes, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    FailWithLastError();
    return nullptr;
  }
  // Only a disk file: a pipe, a console or a device such as NUL is refused.
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    errno = EINVAL;
    return nullptr;
  }
  const int flags = m == "rb" ? _O_RDONLY : m == "ab" ? _O_APPEND : 0;
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags);
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, m == "wxb" ? "wb" : mode);
  if (!file) {
    _close(fd);
    return nullptr;
  }
  if (!buffer) buffer = std::make_unique_for_overwrite<char[]>(kBuffer);
  std::setvbuf(file, buffer.get(), _IOFBF, kBuffer);
  return file;
}

}  // namespace kiv
