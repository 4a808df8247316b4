// The backup data file: a header block, then folder and file entry records, each file entry
// followed by its content, closed by a trailer that marks the file as complete.
// The on-disk layout is described in docs/backup-file.md.
//
// Failures set the calling thread's backup last-error value: one of the kBackupErr* codes
// below or a system error number (errno). Handles may be opened and closed from any thread;
// one handle is used by one thread at a time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kiv {

// ---- Records -------------------------------------------------------------------------------

inline constexpr std::size_t kBackupHeaderSize = 1024;
inline constexpr std::size_t kBackupTagOffset = 0;
inline constexpr std::size_t kBackupVersionOffset = 30;
inline constexpr char kBackupTag[] = "MORVIK_BACKUP_TOOL_CONTENTS";

// The 1024-byte header block: ASCII tag at offset 0 and the format version as ASCII decimal
// digits at offset 30, both NUL-terminated; every other byte zero.
struct BackupHeaderBlock {
  std::array<uint8_t, kBackupHeaderSize> bytes{};

  // A block with the tag and `version` at their offsets (the version cut to fit the block).
  static BackupHeaderBlock Make(std::string_view version);
  static BackupHeaderBlock Make(int version);

  // The NUL-terminated ASCII texts at their offsets (cut at the field's end).
  std::string Tag() const;
  std::string Version() const;
};

inline constexpr std::size_t kBackupEntrySize = 1546;
inline constexpr std::size_t kBackupEntryLengthOffset = 0;
inline constexpr std::size_t kBackupEntryKindOffset = 4;
inline constexpr std::size_t kBackupEntryPathOffset = 8;
// Path room in UTF-16 units, the terminating NUL included.
inline constexpr std::size_t kBackupEntryPathUnits = (kBackupEntrySize - kBackupEntryPathOffset) / 2;

inline constexpr uint32_t kBackupKindFile = 0;
inline constexpr uint32_t kBackupKindFolder = 0x10;

// The 1546-byte entry record: u32 content length at 0, u32 kind at 4 (little-endian),
// UTF-16LE phone path at 8, NUL-terminated, at most 769 units with the NUL.
struct BackupEntryRecord {
  std::array<uint8_t, kBackupEntrySize> bytes{};

  // Folder path as the phone gave it; a file's path is folder + "\\" + name.
  // Returns false (record untouched) when the path does not fit or holds a NUL.
  static bool Make(uint32_t kind, uint32_t length, std::u16string_view path, BackupEntryRecord& out);

  uint32_t Length() const;
  uint32_t Kind() const;
  // The path up to its NUL (or the whole field when the NUL is missing).
  std::u16string Path() const;

  void SetLength(uint32_t length);
  void SetKind(uint32_t kind);
  bool SetPath(std::u16string_view path);
};

// ---- Errors --------------------------------------------------------------------------------

inline constexpr uint32_t kBackupErrBase = 0x10000000;
inline constexpr uint32_t kBackupErrInvalidFormat = kBackupErrBase + 0;
inline constexpr uint32_t kBackupErrInvalidVersion = kBackupErrBase + 1;
inline constexpr uint32_t kBackupErrWriteOverSize = kBackupErrBase + 2;
inline constexpr uint32_t kBackupErrReadOverSize = kBackupErrBase + 3;
inline constexpr uint32_t kBackupErrInvalidFilePath = kBackupErrBase + 4;

// The calling thread's last-error value; 0 after a call that succeeded.
uint32_t BackupGetLastError();
void BackupSetLastError(uint32_t code);

// "Invalid Format", ... for the component's codes, "Not Defined Error" for other values with
// bit 28 set, otherwise the system's message for the error number.
std::u16string BackupErrorText(uint32_t code);

// Tells the user, in the message box, why a backup file's header was rejected.
void ShowBackupHeaderError(uint32_t code);

// ---- The eight functions -------------------------------------------------------------------

inline constexpr int32_t kBackupInvalidHandle = -1;
inline constexpr int32_t kBackupModeRead = 1;
inline constexpr int32_t kBackupModeWrite = 2;
inline constexpr int32_t kBackupNoMoreEntries = 200;
inline constexpr int32_t kBackupCloseOk = 0;
inline constexpr int32_t kBackupCloseFailed = 1;

// Opens `path` ("\\" or "/" separators): mode 2 creates (or truncates) it for writing, mode 1
// opens it for reading. Returns a handle, or -1.
int32_t BACKUP_OpenBakupDataFile(std::u16string_view path, int32_t mode);

// Writes the header block; it must be the first write. Nonzero = written.
int32_t BACKUP_WriteBackupFileHeader(int32_t handle, const BackupHeaderBlock& header);

// Checks the file: its tag and version against `expected`, and that a writer finished it
// intact. Nonzero = usable; `expected` then holds the file's header block. Reading restarts at
// the first entry.
int32_t BACKUP_ReadBackupFileHeader(int32_t handle, BackupHeaderBlock& expected);

// Appends an entry record; the content of a file entry follows through the stream writes.
// A previous entry whose content came up short is recorded with the length actually written.
int32_t BACKUP_WriteBackupFileInfo(int32_t handle, const BackupEntryRecord& entry);

// Reads the next entry record, passing over any unread content of the previous one.
// 0 failure, 200 no further entries, 1 one entry read.
int32_t BACKUP_ReadBackupFileInfo(int32_t handle, BackupEntryRecord& entry);

// Appends to the content of the entry written last; more than its length fails with
// "Write Over Size" and writes nothing. Nonzero = appended.
int32_t BACKUP_WriteBackupFileStream(int32_t handle, const uint8_t* data, uint32_t count);

// Reads up to `count` next bytes of the current entry's content; `*countRead` gets the number
// read. Asking for bytes when none are left fails with "Read Over Size". Nonzero = read.
int32_t BACKUP_ReadBackupFileStream(int32_t handle, uint8_t* buffer, uint32_t count, uint32_t* countRead);

// Closes the handle. For a file being written, flag 0 finishes it as complete; flag 1 (after a
// failed write) marks it as not usable.
void BACKUP_CloseBackupDataFile(int32_t handle, int32_t flag);

}  // namespace kiv
