// The backup data file: its bytes on disk, reading back in other pieces, the checks that
// reject damaged, unfinished and mismatched files, the handles and the per-thread error.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <thread>

#include "kivtest.hpp"
#include "link/backup_file.hpp"
#include "platform/text.hpp"

namespace kiv {
namespace {

using kivtest::Bytes;
namespace fs = std::filesystem;
constexpr std::size_t kTrailer = 40;

Bytes Pattern(std::size_t size, uint8_t seed) {
  Bytes b(size);
  for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 9));
  return b;
}

BackupEntryRecord Entry(uint32_t kind, uint32_t length, std::u16string_view path) {
  BackupEntryRecord r;
  EXPECT_TRUE(BackupEntryRecord::Make(kind, length, path, r));
  return r;
}

class BackupFile : public ::testing::Test {
 protected:
  // Two folders, then the files written in pieces of `piece` bytes; the handle stays open.
  // The writer names the file with "\\" separators, the readers with "/".
  int32_t WriteSample(std::size_t piece = 1000) {
    int32_t h = BACKUP_OpenBakupDataFile(ReplaceChar(path, u'/', u'\\'), kBackupModeWrite);
    EXPECT_NE(BACKUP_WriteBackupFileHeader(h, BackupHeaderBlock::Make(1)), 0);
    for (const char16_t* folder : {u"Phone/Pictures", u"Card/Music"})
      EXPECT_NE(BACKUP_WriteBackupFileInfo(h, Entry(kBackupKindFolder, 0, folder)), 0);
    for (const auto& [name, content] : files) {
      EXPECT_NE(BACKUP_WriteBackupFileInfo(h, Entry(kBackupKindFile, uint32_t(content.size()), name)), 0);
      for (std::size_t at = 0; at < content.size(); at += piece)
        EXPECT_NE(BACKUP_WriteBackupFileStream(h, content.data() + at, uint32_t(std::min(piece, content.size() - at))), 0);
    }
    return h;
  }
  // The header check's error for a reader expecting this version (0: passed).
  uint32_t HeaderCheck(std::string_view version = "1") {
    int32_t h = BACKUP_OpenBakupDataFile(path, kBackupModeRead);
    if (h == kBackupInvalidHandle) return BackupGetLastError();
    BackupHeaderBlock expected = BackupHeaderBlock::Make(version);
    uint32_t error = BACKUP_ReadBackupFileHeader(h, expected) ? 0 : BackupGetLastError();
    BACKUP_CloseBackupDataFile(h, kBackupCloseOk);
    return error;
  }
  int32_t OpenChecked() {
    int32_t h = BACKUP_OpenBakupDataFile(path, kBackupModeRead);
    BackupHeaderBlock expected = BackupHeaderBlock::Make(1);
    EXPECT_NE(BACKUP_ReadBackupFileHeader(h, expected), 0);
    return h;
  }

  kivtest::TempDir dir{"backup"};
  std::u16string path = Utf8ToU16((dir.path / "phone.bak").string());
  std::vector<std::pair<std::u16string, Bytes>> files = {
      {u"Phone\\Pictures\\a.jpg", Pattern(5000, 1)},
      {u"Phone\\Pictures\\empty.txt", {}},
      // Larger than the I/O buffer, so that it crosses buffer refills both ways.
      {u"Card\\Music\\song.mp3", Pattern(700 * 1024 + 13, 9)},
  };
};

TEST_F(BackupFile, RoundTripInOtherPieces) {
  BACKUP_CloseBackupDataFile(WriteSample(), kBackupCloseOk);
  EXPECT_EQ(BackupGetLastError(), 0u);
  // On disk: a 1024-byte header block (tag, version text at 30), 1546-byte records (length,
  // kind, UTF-16 path), the contents, and a 40-byte trailer.
  Bytes disk = kivtest::ReadFile(dir.path / "phone.bak");
  ASSERT_EQ(disk.size(), 1024 + 5 * 1546 + 5000 + 700 * 1024 + 13 + kTrailer);
  Bytes header(1024, 0);
  std::memcpy(header.data(), "MORVIK_BACKUP_TOOL_CONTENTS", 27);
  header[30] = '1';
  EXPECT_EQ(Bytes(disk.begin(), disk.begin() + 1024), header);
  Bytes record(1546, 0);
  const Bytes head = kivtest::Body().D(5000).D(kBackupKindFile).T(u"Phone\\Pictures\\a.jpg");
  std::copy(head.begin(), head.end(), record.begin());
  EXPECT_EQ(Bytes(disk.begin() + 1024 + 2 * 1546, disk.begin() + 1024 + 3 * 1546), record);

  int32_t h = OpenChecked();
  BackupEntryRecord r;
  for (const char16_t* folder : {u"Phone/Pictures", u"Card/Music"}) {
    ASSERT_EQ(BACKUP_ReadBackupFileInfo(h, r), 1);
    EXPECT_EQ(std::make_pair(r.Kind(), r.Path()), std::make_pair(kBackupKindFolder, std::u16string(folder)));
  }
  for (const auto& [name, content] : files) {
    ASSERT_EQ(BACKUP_ReadBackupFileInfo(h, r), 1);
    EXPECT_EQ(std::make_pair(r.Kind(), r.Path()), std::make_pair(kBackupKindFile, name));
    ASSERT_EQ(r.Length(), content.size());
    Bytes got;
    // Pieces unrelated to the written ones; the last one asks for more than is left.
    for (uint32_t want = 777, n = 0; got.size() < content.size(); want = want * 3 + 1) {
      Bytes buf(want);
      ASSERT_NE(BACKUP_ReadBackupFileStream(h, buf.data(), want, &n), 0);
      ASSERT_GT(n, 0u);
      got.insert(got.end(), buf.begin(), buf.begin() + n);
    }
    EXPECT_EQ(got, content);
    uint32_t n = 5;
    uint8_t byte;
    EXPECT_EQ(BACKUP_ReadBackupFileStream(h, &byte, 1, &n), 0);
    EXPECT_EQ(BackupGetLastError(), kBackupErrReadOverSize);
    EXPECT_EQ(n, 0u);
  }
  EXPECT_EQ(BACKUP_ReadBackupFileInfo(h, r), kBackupNoMoreEntries);
  EXPECT_EQ(BACKUP_ReadBackupFileInfo(h, r), kBackupNoMoreEntries);
  BACKUP_CloseBackupDataFile(h, kBackupCloseOk);
}

TEST_F(BackupFile, RecordsAndTheirLimits) {
  // The path takes up to 768 units with its NUL; a longer path or one with a NUL leaves the
  // record as it was.
  BackupEntryRecord r = Entry(0, 0, std::u16string(768, u'x'));
  EXPECT_EQ(r.Path().size(), 768u);
  BackupEntryRecord untouched = r;
  EXPECT_FALSE(r.SetPath(std::u16string(769, u'y')));
  EXPECT_FALSE(r.SetPath(std::u16string(u"a\0b", 3)));
  EXPECT_EQ(r.bytes, untouched.bytes);

  // Short content is recorded with its real length; writes past the declared length, or
  // without a file entry, are refused and leave nothing behind.
  int32_t h = BACKUP_OpenBakupDataFile(path, kBackupModeWrite);
  ASSERT_NE(BACKUP_WriteBackupFileHeader(h, BackupHeaderBlock::Make(1)), 0);
  const uint8_t data[8] = {'a', 'b', 'c', 'd', 'x', 'y', 'z', '!'};
  EXPECT_EQ(BACKUP_WriteBackupFileStream(h, data, 1), 0);  // no entry yet
  EXPECT_EQ(BackupGetLastError(), kBackupErrWriteOverSize);
  ASSERT_NE(BACKUP_WriteBackupFileInfo(h, Entry(kBackupKindFolder, 0, u"A")), 0);
  EXPECT_EQ(BACKUP_WriteBackupFileStream(h, data, 1), 0);  // a folder has no content
  EXPECT_EQ(BACKUP_WriteBackupFileInfo(h, Entry(kBackupKindFolder, 4, u"F")), 0);  // nor a length
  EXPECT_EQ(BackupGetLastError(), kBackupErrInvalidFormat);
  ASSERT_NE(BACKUP_WriteBackupFileInfo(h, Entry(0, 10, u"A\\cut")), 0);
  ASSERT_NE(BACKUP_WriteBackupFileStream(h, data, 4), 0);
  ASSERT_NE(BACKUP_WriteBackupFileInfo(h, Entry(0, 3, u"A\\next")), 0);
  EXPECT_EQ(BACKUP_WriteBackupFileStream(h, data + 4, 4), 0);
  EXPECT_EQ(BackupGetLastError(), kBackupErrWriteOverSize);
  ASSERT_NE(BACKUP_WriteBackupFileStream(h, data + 4, 3), 0);
  ASSERT_NE(BACKUP_WriteBackupFileInfo(h, Entry(0, 9, u"A\\last")), 0);  // finished by the close
  BACKUP_CloseBackupDataFile(h, kBackupCloseOk);

  EXPECT_EQ(HeaderCheck(), 0u);  // the refused pieces left nothing behind
  Bytes disk = kivtest::ReadFile(dir.path / "phone.bak");
  ASSERT_EQ(disk.size(), 1024 + 4 * 1546 + 7 + kTrailer);
  EXPECT_EQ(disk[1024 + 1546], 4);
  EXPECT_EQ(disk[1024 + 3 * 1546 + 7], 0);
  h = OpenChecked();
  ASSERT_EQ(BACKUP_ReadBackupFileInfo(h, r), 1);
  const std::pair<const char16_t*, const char*> want[] = {{u"A\\cut", "abcd"}, {u"A\\next", "xyz"}, {u"A\\last", ""}};
  for (const auto& [name, text] : want) {
    ASSERT_EQ(BACKUP_ReadBackupFileInfo(h, r), 1);
    EXPECT_EQ(r.Path(), name);
    ASSERT_EQ(r.Length(), std::strlen(text));
    char buf[16] = {};
    uint32_t n = 0;
    EXPECT_NE(BACKUP_ReadBackupFileStream(h, reinterpret_cast<uint8_t*>(buf), r.Length(), &n), 0);
    EXPECT_EQ(std::string(buf, n), text);
  }
  EXPECT_EQ(BACKUP_ReadBackupFileInfo(h, r), kBackupNoMoreEntries);
  BACKUP_CloseBackupDataFile(h, kBackupCloseOk);
}

TEST_F(BackupFile, OpenFailures) {
  fs::create_directories(dir.path / "sub");
  const std::u16string d = dir.path.u16string();
  std::vector<std::tuple<std::u16string, int32_t, uint32_t>> cases = {
      {u"", kBackupModeWrite, kBackupErrInvalidFilePath},
      {d + u"\\sub\\", kBackupModeWrite, kBackupErrInvalidFilePath},
      {d + u"/sub/", kBackupModeRead, kBackupErrInvalidFilePath},
      {d + u"\\missing.bak", kBackupModeRead, ENOENT},
      {d + u"\\nofolder\\x.bak", kBackupModeWrite, ENOENT},
      {d + u"\\sub", kBackupModeRead, EISDIR},
      {d + u"\\x.bak", 3, EINVAL},
  };
#ifndef _WIN32
  // Named pipes with nobody at the other end: refused at once, never waited on.
  ASSERT_EQ(::mkfifo((dir.path / "pipe.bak").c_str(), 0600), 0);
  cases.insert(cases.end(), {{d + u"\\pipe.bak", kBackupModeRead, EINVAL}, {d + u"\\pipe.bak", kBackupModeWrite, ENXIO}});
#endif
  for (const auto& [where, mode, error] : cases) {
    EXPECT_EQ(BACKUP_OpenBakupDataFile(where, mode), kBackupInvalidHandle) << U16ToUtf8(where);
    EXPECT_EQ(BackupGetLastError(), error) << U16ToUtf8(where);
  }
}

// Every way a file can be left damaged is caught by the header check, before any entry is
// read; so is a file of another version, and one whose writer has not finished or failed.
TEST_F(BackupFile, DamagedMismatchedAndUnfinishedFilesAreRejected) {
  int32_t writer = WriteSample();
  EXPECT_EQ(HeaderCheck(), kBackupErrInvalidFormat);  // still being written
  BACKUP_CloseBackupDataFile(writer, kBackupCloseFailed);
  EXPECT_EQ(HeaderCheck(), kBackupErrInvalidFormat);
  BACKUP_CloseBackupDataFile(WriteSample(), kBackupCloseOk);
  const Bytes good = kivtest::ReadFile(dir.path / "phone.bak");
  EXPECT_EQ(HeaderCheck("1"), 0u);
  EXPECT_EQ(HeaderCheck("2"), kBackupErrInvalidVersion);
  EXPECT_EQ(HeaderCheck("10"), kBackupErrInvalidVersion);
  const std::size_t contentStart = 1024 + 3 * 1546;
  const std::pair<const char*, std::function<void(Bytes&)>> cases[] = {
      {"empty", [](Bytes& b) { b.clear(); }},
      {"half a header", [](Bytes& b) { b.resize(500); }},
      {"header only", [](Bytes& b) { b.resize(1024); }},
      {"cut inside a record", [](Bytes& b) { b.resize(1024 + 1546 + 3); }},
      {"cut inside content", [](Bytes& b) { b.erase(b.end() - 1000, b.end()); }},
      {"no trailer", [](Bytes& b) { b.erase(b.end() - kTrailer, b.end()); }},
      {"last byte missing", [](Bytes& b) { b.pop_back(); }},
      {"bytes appended", [](Bytes& b) { b.insert(b.end(), 16, 0); }},
      {"tag changed", [](Bytes& b) { b[0] = 'N'; }},
      {"content byte flipped", [&](Bytes& b) { b[contentStart + 100] ^= 1; }},
      {"record path changed", [](Bytes& b) { b[1024 + 1546 + 8] ^= 1; }},
      {"record length past the end", [](Bytes& b) { b[1024 + 2 * 1546 + 3] = 0x7F; }},
      {"record kind unknown", [](Bytes& b) { b[1024 + 4] = 0x11; }},
      {"trailer changed", [](Bytes& b) { b[b.size() - kTrailer + 16] ^= 1; }},
  };
  for (const auto& [what, damage] : cases) {
    Bytes b = good;
    damage(b);
    kivtest::WriteFile(dir.path / "phone.bak", b);
    EXPECT_EQ(HeaderCheck(), kBackupErrInvalidFormat) << what;
  }
  // A failed close decides alone, even when everything written is intact.
  writer = BACKUP_OpenBakupDataFile(path, kBackupModeWrite);
  ASSERT_NE(BACKUP_WriteBackupFileHeader(writer, BackupHeaderBlock::Make(1)), 0);
  BACKUP_CloseBackupDataFile(writer, kBackupCloseFailed);
  EXPECT_EQ(fs::file_size(dir.path / "phone.bak"), 1024 + kTrailer);
  EXPECT_EQ(HeaderCheck(), kBackupErrInvalidFormat);

  // Header blocks with another tag or a version that is not a number are not written.
  BackupHeaderBlock wrongTag = BackupHeaderBlock::Make(1);
  wrongTag.bytes[3] = 'X';
  const std::pair<BackupHeaderBlock, uint32_t> blocks[] = {{wrongTag, kBackupErrInvalidFormat},
                                                           {BackupHeaderBlock::Make(""), kBackupErrInvalidVersion},
                                                           {BackupHeaderBlock::Make("1a"), kBackupErrInvalidVersion},
                                                           {BackupHeaderBlock::Make(-1), kBackupErrInvalidVersion}};
  for (const auto& [block, error] : blocks) {
    int32_t h = BACKUP_OpenBakupDataFile(path, kBackupModeWrite);
    EXPECT_EQ(BACKUP_WriteBackupFileHeader(h, block), 0);
    EXPECT_EQ(BackupGetLastError(), error);
    BACKUP_CloseBackupDataFile(h, kBackupCloseFailed);
  }
}

TEST(BackupError, TextsMessageBoxAndOneValuePerThread) {
  const std::pair<uint32_t, std::u16string> cases[] = {
      {0x10000000, u"Invalid Format"},
      {0x10000001, u"Invalid Version"},
      {0x10000002, u"Write Over Size"},
      {0x10000003, u"Read Over Size"},
      {0x10000004, u"Invalid File Path(Can't Find File Name."},
      {0x10000005, u"Not Defined Error"},
      {0x1FFFFFFF, u"Not Defined Error"},
      {ENOENT, Utf8ToU16(std::strerror(ENOENT))},
  };
  for (const auto& [code, text] : cases) EXPECT_EQ(BackupErrorText(code), text) << std::hex << code;

  static std::u16string shown;
  Kiv_SetMessageBoxHandler([](void*, const KivChar* text, const KivChar*) { shown = FromHost(text); }, nullptr);
  ShowBackupHeaderError(kBackupErrInvalidVersion);
  Kiv_SetMessageBoxHandler(nullptr, nullptr);
  EXPECT_EQ(shown, u"Invalid Version");

  BackupSetLastError(kBackupErrReadOverSize);
  uint32_t other = 1;
  std::thread([&] { other = BackupGetLastError(); }).join();
  EXPECT_EQ(other, 0u);
  EXPECT_EQ(BackupGetLastError(), kBackupErrReadOverSize);
}

}  // namespace
}  // namespace kiv
