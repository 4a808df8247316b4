// Header and entry records, and the backup last-error value with its texts.
#include <algorithm>
#include <cstring>
#include <system_error>

#include "link/backup_file.hpp"
#include "link/backup_io.hpp"
#include "platform/message_box.hpp"
#include "platform/text.hpp"

namespace kiv {
namespace {

thread_local uint32_t t_lastError = 0;

std::string AsciiField(const uint8_t* begin, const uint8_t* end) {
  const uint8_t* nul = std::find(begin, end, uint8_t{0});
  return std::string(begin, nul);
}

}  // namespace

BackupHeaderBlock BackupHeaderBlock::Make(std::string_view version) {
  BackupHeaderBlock block;
  std::memcpy(block.bytes.data() + kBackupTagOffset, kBackupTag, sizeof kBackupTag);
  // Keep the version's NUL inside the block.
  std::size_t n = std::min(version.size(), kBackupHeaderSize - kBackupVersionOffset - 1);
  std::memcpy(block.bytes.data() + kBackupVersionOffset, version.data(), n);
  return block;
}

BackupHeaderBlock BackupHeaderBlock::Make(int version) { return Make(std::to_string(version)); }

std::string BackupHeaderBlock::Tag() const {
  return AsciiField(bytes.data() + kBackupTagOffset, bytes.data() + kBackupVersionOffset);
}

std::string BackupHeaderBlock::Version() const {
  return AsciiField(bytes.data() + kBackupVersionOffset, bytes.data() + bytes.size());
}

bool BackupEntryRecord::Make(uint32_t kind, uint32_t length, std::u16string_view path,
                             BackupEntryRecord& out) {
  BackupEntryRecord record;
  record.SetKind(kind);
  record.SetLength(length);
  if (!record.SetPath(path)) return false;
  out = record;
  return true;
}

uint32_t BackupEntryRecord::Length() const {
  return backup_io::GetU32(bytes.data() + kBackupEntryLengthOffset);
}

uint32_t BackupEntryRecord::Kind() const {
  return backup_io::GetU32(bytes.data() + kBackupEntryKindOffset);
}

std::u16string BackupEntryRecord::Path() const {
  std::u16string path;
  for (std::size_t i = 0; i < kBackupEntryPathUnits; ++i) {
    const uint8_t* p = bytes.data() + kBackupEntryPathOffset + 2 * i;
    char16_t unit = static_cast<char16_t>(p[0] | p[1] << 8);
    if (unit == 0) break;
    path.push_back(unit);
  }
  return path;
}

void BackupEntryRecord::SetLength(uint32_t length) {
  backup_io::PutU32(bytes.data() + kBackupEntryLengthOffset, length);
}

void BackupEntryRecord::SetKind(uint32_t kind) {
  backup_io::PutU32(bytes.data() + kBackupEntryKindOffset, kind);
}

bool BackupEntryRecord::SetPath(std::u16string_view path) {
  if (path.size() >= kBackupEntryPathUnits || path.find(u'\0') != std::u16string_view::npos) return false;
  uint8_t* field = bytes.data() + kBackupEntryPathOffset;
  std::fill(field, bytes.data() + bytes.size(), uint8_t{0});
  for (std::size_t i = 0; i < path.size(); ++i) {
    field[2 * i] = static_cast<uint8_t>(path[i] & 0xFF);
    field[2 * i + 1] = static_cast<uint8_t>(path[i] >> 8);
  }
  return true;
}

uint32_t BackupGetLastError() { return t_lastError; }

void BackupSetLastError(uint32_t code) { t_lastError = code; }

std::u16string BackupErrorText(uint32_t code) {
  switch (code) {
    case kBackupErrInvalidFormat:
      return u"Invalid Format";
    case kBackupErrInvalidVersion:
      return u"Invalid Version";
    case kBackupErrWriteOverSize:
      return u"Write Over Size";
    case kBackupErrReadOverSize:
      return u"Read Over Size";
    case kBackupErrInvalidFilePath:
      return u"Invalid File Path(Can't Find File Name.";
    default:
      break;
  }
  if (code & kBackupErrBase) return u"Not Defined Error";
  // Other codes are errno values (on Windows too, where the system's own codes are mapped to
  // them); their text comes in the locale's character set.
  return AnsiToU16(std::generic_category().message(static_cast<int>(code)));
}

void ShowBackupHeaderError(uint32_t code) { ShowMessageBox(BackupErrorText(code), u"Backup data file"); }

}  // namespace kiv
