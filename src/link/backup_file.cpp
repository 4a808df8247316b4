// The eight backup data file functions over a table of open files.
//
// File layout (docs/backup-file.md): the 1024-byte header block; per entry its 1546-byte
// record and then `length` content bytes; a 40-byte trailer written at close. The trailer
// carries the data length, the entry count and two CRC-32 sums (records, content), so that a
// reader rejects a file that a writer did not finish, one cut short, and one changed since.
#include "link/backup_file.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "link/backup_io.hpp"
#include "platform/local_names.hpp"
#include "platform/text.hpp"

namespace kiv {
namespace {

using backup_io::BufferedFile;
using backup_io::Crc32;
using backup_io::GetU32;
using backup_io::GetU64;
using backup_io::PutU32;
using backup_io::PutU64;

constexpr std::size_t kTrailerSize = 40;
constexpr char kTrailerMagic[8] = {'K', 'I', 'V', 'B', 'K', 'E', 'N', 'D'};
constexpr uint32_t kLayoutVersion = 1;
constexpr uint32_t kStateComplete = 0;
constexpr uint32_t kStateUnusable = 1;

struct Trailer {
  uint32_t state = kStateComplete;
  uint32_t entryCount = 0;
  uint64_t dataLength = 0;
  uint32_t recordCrc = 0;
  uint32_t contentCrc = 0;
};

std::array<uint8_t, kTrailerSize> EncodeTrailer(const Trailer& t) {
  std::array<uint8_t, kTrailerSize> b{};
  std::memcpy(b.data(), kTrailerMagic, sizeof kTrailerMagic);
  PutU32(b.data() + 8, kLayoutVersion);
  PutU32(b.data() + 12, t.state);
  PutU32(b.data() + 16, t.entryCount);
  PutU64(b.data() + 20, t.dataLength);
  PutU32(b.data() + 28, t.recordCrc);
  PutU32(b.data() + 32, t.contentCrc);
  PutU32(b.data() + 36, Crc32(b.data(), 36));
  return b;
}

// False unless the bytes are a trailer of a finished, usable file.
bool DecodeTrailer(const uint8_t* b, Trailer& t) {
  if (std::memcmp(b, kTrailerMagic, sizeof kTrailerMagic) != 0) return false;
  if (GetU32(b + 36) != Crc32(b, 36)) return false;
  if (GetU32(b + 8) != kLayoutVersion) return false;
  t.state = GetU32(b + 12);
  t.entryCount = GetU32(b + 16);
  t.dataLength = GetU64(b + 20);
  t.recordCrc = GetU32(b + 28);
  t.contentCrc = GetU32(b + 32);
  return t.state == kStateComplete;
}

// A phone path that stays inside the phone's folders: not absolute, no drive colon, no "."
// or ".." component ("\\" and "/" both separate).
bool PathStaysInside(std::u16string_view path) {
  if (!path.empty() && (path.front() == u'\\' || path.front() == u'/')) return false;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && path[i] == u':') return false;
    if (i < path.size() && path[i] != u'\\' && path[i] != u'/') continue;
    std::u16string_view part = path.substr(start, i - start);
    if (part == u"." || part == u"..") return false;
    start = i + 1;
  }
  return true;
}

// A record that a reader can take: known kind, no content for a folder, and a path that
// ends inside the record and stays inside the phone's folders.
bool RecordWellFormed(const BackupEntryRecord& r) {
  if (r.Kind() != kBackupKindFile && r.Kind() != kBackupKindFolder) return false;
  if (r.Kind() == kBackupKindFolder && r.Length() != 0) return false;
  for (std::size_t i = 0; i < kBackupEntryPathUnits; ++i) {
    const uint8_t* p = r.bytes.data() + kBackupEntryPathOffset + 2 * i;
    if (p[0] == 0 && p[1] == 0) return PathStaysInside(r.Path());
  }
  return false;
}

bool HeaderFieldsEnded(const BackupHeaderBlock& h) {
  const uint8_t* b = h.bytes.data();
  return std::memchr(b + kBackupTagOffset, 0, kBackupVersionOffset - kBackupTagOffset) != nullptr &&
         std::memchr(b + kBackupVersionOffset, 0, kBackupHeaderSize - kBackupVersionOffset) != nullptr;
}

bool IsDecimal(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

struct OpenFile {
  BufferedFile file;
  bool writing = false;

  // Writing.
  bool headerWritten = false;
  bool broken = false;  // a write failed: the file can no longer be finished as complete
  bool inEntry = false;
  BackupEntryRecord entry;  // the entry written last
  uint64_t entryOffset = 0;
  uint32_t entryWritten = 0;
  Trailer sums;

  // Reading.
  bool headerChecked = false;
  uint64_t dataEnd = 0;
  bool entryRead = false;
  uint32_t entryLeft = 0;
};

std::mutex g_tableMutex;
std::map<int32_t, std::shared_ptr<OpenFile>> g_table;
int32_t g_nextHandle = 1;

std::shared_ptr<OpenFile> Find(int32_t handle) {
  std::lock_guard lock(g_tableMutex);
  auto it = g_table.find(handle);
  return it == g_table.end() ? nullptr : it->second;
}

int32_t Fail(uint32_t code) {
  BackupSetLastError(code);
  return 0;
}

int32_t Ok(int32_t result = 1) {
  BackupSetLastError(0);
  return result;
}

// The error of a failed file call: a system error, or a file that ended early.
uint32_t FileError(const BufferedFile& f) {
  return f.error() != 0 ? static_cast<uint32_t>(f.error()) : kBackupErrInvalidFormat;
}

std::shared_ptr<OpenFile> FindForWriting(int32_t handle) {
  auto f = Find(handle);
  if (!f || !f->writing) BackupSetLastError(EBADF);
  return f && f->writing ? f : nullptr;
}

std::shared_ptr<OpenFile> FindForReading(int32_t handle) {
  auto f = Find(handle);
  if (!f || f->writing) BackupSetLastError(EBADF);
  return f && !f->writing ? f : nullptr;
}

// Ends the entry written last: its record joins the record sum, with its length cut down to
// the content actually written when the content came up short.
bool FinishEntry(OpenFile& f) {
  if (!f.inEntry) return true;
  f.inEntry = false;
  if (f.entryWritten < f.entry.Length()) {
    f.entry.SetLength(f.entryWritten);
    uint8_t length[4];
    PutU32(length, f.entryWritten);
    if (!f.file.Patch(f.entryOffset + kBackupEntryLengthOffset, length, sizeof length)) {
      f.broken = true;
      return false;
    }
  }
  f.sums.recordCrc = Crc32(f.entry.bytes.data(), f.entry.bytes.size(), f.sums.recordCrc);
  return true;
}

// Walks the whole file once: the trailer must be there and intact, every record well formed
// with its content inside the data, and both sums and the entry count must match.
uint32_t VerifyFile(OpenFile& f, const BackupHeaderBlock& header) {
  uint64_t size = 0;
  if (!f.file.Size(&size)) return FileError(f.file);
  if (size < kBackupHeaderSize + kTrailerSize) return kBackupErrInvalidFormat;
  uint8_t raw[kTrailerSize];
  if (!f.file.ReadAt(size - kTrailerSize, raw, sizeof raw)) return FileError(f.file);
  Trailer trailer;
  if (!DecodeTrailer(raw, trailer) || trailer.dataLength != size - kTrailerSize) return kBackupErrInvalidFormat;

  uint32_t recordCrc = Crc32(header.bytes.data(), header.bytes.size());
  uint32_t contentCrc = 0;
  uint32_t count = 0;
  const auto chunk = std::make_unique_for_overwrite<uint8_t[]>(BufferedFile::kBufferSize);
  f.file.Seek(kBackupHeaderSize);
  while (f.file.position() < trailer.dataLength) {
    uint64_t left = trailer.dataLength - f.file.position();
    BackupEntryRecord r;
    if (left < r.bytes.size()) return kBackupErrInvalidFormat;
    if (!f.file.Read(r.bytes.data(), r.bytes.size())) return FileError(f.file);
    if (!RecordWellFormed(r) || r.Length() > left - r.bytes.size()) return kBackupErrInvalidFormat;
    recordCrc = Crc32(r.bytes.data(), r.bytes.size(), recordCrc);
    for (uint32_t rest = r.Length(); rest > 0;) {
      std::size_t n = std::min<std::size_t>(rest, BufferedFile::kBufferSize);
      if (!f.file.Read(chunk.get(), n)) return FileError(f.file);
      contentCrc = Crc32(chunk.get(), n, contentCrc);
      rest -= static_cast<uint32_t>(n);
    }
    ++count;
  }
  if (count != trailer.entryCount || recordCrc != trailer.recordCrc || contentCrc != trailer.contentCrc) {
    return kBackupErrInvalidFormat;
  }
  f.dataEnd = trailer.dataLength;
  return 0;
}

}  // namespace

int32_t BACKUP_OpenBakupDataFile(std::u16string_view path, int32_t mode) {
  if (mode != kBackupModeRead && mode != kBackupModeWrite) {
    BackupSetLastError(EINVAL);
    return kBackupInvalidHandle;
  }
  if (path.empty() || path.back() == u'\\' || path.back() == u'/') {
    BackupSetLastError(kBackupErrInvalidFilePath);
    return kBackupInvalidHandle;
  }
  auto f = std::make_shared<OpenFile>();
  f->writing = mode == kBackupModeWrite;
  const std::filesystem::path local = LocalPath(path);
  bool opened = f->writing ? f->file.OpenForWriting(local) : f->file.OpenForReading(local);
  if (!opened) {
    BackupSetLastError(static_cast<uint32_t>(f->file.error()));
    return kBackupInvalidHandle;
  }
  int32_t handle;
  {
    std::lock_guard lock(g_tableMutex);
    do {
      handle = g_nextHandle;
      g_nextHandle = g_nextHandle == INT32_MAX ? 1 : g_nextHandle + 1;
    } while (g_table.count(handle) != 0);
    g_table.emplace(handle, std::move(f));
  }
  Ok();
  return handle;
}

int32_t BACKUP_WriteBackupFileHeader(int32_t handle, const BackupHeaderBlock& header) {
  auto f = FindForWriting(handle);
  if (!f) return 0;
  if (f->headerWritten || f->broken) return Fail(EINVAL);
  if (!HeaderFieldsEnded(header) || header.Tag() != kBackupTag) return Fail(kBackupErrInvalidFormat);
  if (!IsDecimal(header.Version())) return Fail(kBackupErrInvalidVersion);
  if (!f->file.Write(header.bytes.data(), header.bytes.size())) {
    f->broken = true;
    return Fail(FileError(f->file));
  }
  f->headerWritten = true;
  f->sums.recordCrc = Crc32(header.bytes.data(), header.bytes.size());
  return Ok();
}

int32_t BACKUP_ReadBackupFileHeader(int32_t handle, BackupHeaderBlock& expected) {
  auto f = FindForReading(handle);
  if (!f) return 0;
  f->headerChecked = false;
  f->entryRead = false;
  f->entryLeft = 0;
  BackupHeaderBlock header;
  if (!f->file.ReadAt(0, header.bytes.data(), header.bytes.size())) return Fail(FileError(f->file));
  if (!HeaderFieldsEnded(header) || header.Tag() != expected.Tag()) return Fail(kBackupErrInvalidFormat);
  if (header.Version() != expected.Version()) return Fail(kBackupErrInvalidVersion);
  if (uint32_t error = VerifyFile(*f, header); error != 0) return Fail(error);
  f->file.Seek(kBackupHeaderSize);
  f->headerChecked = true;
  expected = header;
  return Ok();
}

int32_t BACKUP_WriteBackupFileInfo(int32_t handle, const BackupEntryRecord& entry) {
  auto f = FindForWriting(handle);
  if (!f) return 0;
  if (!f->headerWritten || f->broken) return Fail(EINVAL);
  if (!RecordWellFormed(entry)) return Fail(kBackupErrInvalidFormat);
  if (!FinishEntry(*f)) return Fail(FileError(f->file));
  f->entryOffset = f->file.position();
  if (!f->file.Write(entry.bytes.data(), entry.bytes.size())) {
    f->broken = true;
    return Fail(FileError(f->file));
  }
  f->entry = entry;
  f->entryWritten = 0;
  f->inEntry = true;
  ++f->sums.entryCount;
  return Ok();
}

int32_t BACKUP_ReadBackupFileInfo(int32_t handle, BackupEntryRecord& entry) {
  auto f = FindForReading(handle);
  if (!f) return 0;
  if (!f->headerChecked) return Fail(EINVAL);
  // Pass over what the caller left of the previous entry's content.
  f->file.Skip(f->entryLeft);
  f->entryLeft = 0;
  f->entryRead = false;
  uint64_t position = f->file.position();
  if (position == f->dataEnd) return Ok(kBackupNoMoreEntries);
  BackupEntryRecord r;
  if (position > f->dataEnd || f->dataEnd - position < r.bytes.size()) return Fail(kBackupErrInvalidFormat);
  if (!f->file.Read(r.bytes.data(), r.bytes.size())) return Fail(FileError(f->file));
  if (!RecordWellFormed(r) || r.Length() > f->dataEnd - f->file.position()) return Fail(kBackupErrInvalidFormat);
  entry = r;
  f->entryRead = true;
  f->entryLeft = r.Length();
  return Ok();
}

int32_t BACKUP_WriteBackupFileStream(int32_t handle, const uint8_t* data, uint32_t count) {
  auto f = FindForWriting(handle);
  if (!f) return 0;
  if (f->broken) return Fail(EINVAL);
  if (count == 0) return Ok();
  if (!data) return Fail(EINVAL);
  if (!f->inEntry || count > f->entry.Length() - f->entryWritten) return Fail(kBackupErrWriteOverSize);
  if (!f->file.Write(data, count)) {
    f->broken = true;
    return Fail(FileError(f->file));
  }
  f->entryWritten += count;
  f->sums.contentCrc = Crc32(data, count, f->sums.contentCrc);
  return Ok();
}

int32_t BACKUP_ReadBackupFileStream(int32_t handle, uint8_t* buffer, uint32_t count, uint32_t* countRead) {
  if (countRead) *countRead = 0;
  auto f = FindForReading(handle);
  if (!f) return 0;
  if (!countRead || (!buffer && count > 0)) return Fail(EINVAL);
  if (!f->headerChecked) return Fail(EINVAL);
  if (count == 0) return Ok();
  if (!f->entryRead || f->entryLeft == 0) return Fail(kBackupErrReadOverSize);
  uint32_t n = std::min(count, f->entryLeft);
  if (!f->file.Read(buffer, n)) {
    f->entryRead = false;
    f->entryLeft = 0;
    return Fail(FileError(f->file));
  }
  f->entryLeft -= n;
  *countRead = n;
  return Ok();
}

void BACKUP_CloseBackupDataFile(int32_t handle, int32_t flag) {
  std::shared_ptr<OpenFile> f;
  {
    std::lock_guard lock(g_tableMutex);
    auto it = g_table.find(handle);
    if (it == g_table.end()) {
      BackupSetLastError(EBADF);
      return;
    }
    f = std::move(it->second);
    g_table.erase(it);
  }
  uint32_t error = 0;
  if (f->writing) {
    bool complete = flag == kBackupCloseOk && f->headerWritten && !f->broken;
    // The data goes to the disk before the trailer that vouches for it.
    if (complete && (!FinishEntry(*f) || !f->file.Sync())) {
      complete = false;
      f->broken = true;
    }
    if (f->broken) {
      error = FileError(f->file);
    } else if (flag == kBackupCloseOk && !f->headerWritten) {
      error = EINVAL;
    }
    Trailer t = f->sums;
    t.state = complete ? kStateComplete : kStateUnusable;
    t.dataLength = f->file.position();
    auto bytes = EncodeTrailer(t);
    if (!f->file.Write(bytes.data(), bytes.size()) && error == 0) error = FileError(f->file);
  }
  if (!f->file.Close() && error == 0) error = FileError(f->file);
  BackupSetLastError(error);
}

}  // namespace kiv
