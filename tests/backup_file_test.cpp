// The backup data file: its header block and entry records byte for byte, writing and reading
// in pieces, and every way a file, a handle or a call order can be wrong.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "kivmod/kivmod.h"
#include "kivtest.hpp"
#include "link/backup_file.hpp"
#include "platform/text.hpp"

namespace kiv {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

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

struct FileItem {
  std::u16string path;
  Bytes content;
};

class BackupFileTest : public ::testing::Test {
 protected:
  Bytes Disk() const { return kivtest::ReadFile(dir_ / "phone.bak"); }
  void SetDisk(const Bytes& b) const { kivtest::WriteFile(dir_ / "phone.bak", b); }

  // Two folders, then files written in pieces of `piece` bytes; returns the handle unclosed.
  // The writer names the file with "\\" separators, the readers with "/".
  int32_t WriteSample(std::size_t piece = 1000) {
    int32_t h = BACKUP_OpenBakupDataFile(ReplaceChar(path_, u'/', u'\\'), kBackupModeWrite);
    EXPECT_NE(h, kBackupInvalidHandle);
    EXPECT_NE(BACKUP_WriteBackupFileHeader(h, BackupHeaderBlock::Make(1)), 0);
    for (const char16_t* folder : {u"Phone/Pictures", u"Card/Music"})
      EXPECT_NE(BACKUP_WriteBackupFileInfo(h, Entry(kBackupKindFolder, 0, folder)), 0);
    for (const auto& item : files_) {
      EXPECT_NE(BACKUP_WriteBackupFileInfo(h, Entry(kBackupKindFile, static_cast<uint32_t>(item.content.size()), item.path)), 0);
      for (std::size_t at = 0; at < item.content.size(); at += piece) {
        uint32_t n = static_cast<uint32_t>(std::min(piece, item.content.size() - at));
        EXPECT_NE(BACKUP_WriteBackupFileStream(h, item.content.data() + at, n), 0);
      }
    }
    return h;
  }

  uint32_t HeaderCheck(std::string_view version = "1") {
    int32_t h = BACKUP_OpenBakupDataFile(path_, kBackupModeRead);
    if (h == kBackupInvalidHandle) return BackupGetLastError();
    BackupHeaderBlock expected = BackupHeaderBlock::Make(version);
    int32_t ok = BACKUP_ReadBackupFileHeader(h, expected);
    uint32_t error = ok ? 0 : BackupGetLastError();
    BACKUP_CloseBackupDataFile(h, kBackupCloseOk);
    return error;
  }

  kivtest::TempDir tmp_{"backup"};
  const fs::path& dir_ = tmp_.path;
  std::u16string path_ = Utf8ToU16((dir_ / "phone.bak").string());
  std::vector<FileItem> files_ = {
      {u"Phone\\Pictures\\a.jpg", Pattern(5000, 1)},
      {u"Phone\\Pictures\\empty.txt", {}},
      // Larger than the I/O buffer, so that it crosses buffer refills both ways.
      {u"Card\\Music\\song.mp3", Pattern(700 * 1024 + 13, 9)},
  };
};

// The header block, an entry record, and the path room of 769 units with the terminator.
TEST(BackupRecordTest, RecordBytes) {
  BackupHeaderBlock h = BackupHeaderBlock::Make(1);
  Bytes expected(1024, 0);
  std::memcpy(expected.data(), "MORVIK_BACKUP_TOOL_CONTENTS", 27);
  expected[30] = '1';
  EXPECT_EQ(Bytes(h.bytes.begin(), h.bytes.end()), expected);
  EXPECT_EQ(h.Tag(), "MORVIK_BACKUP_TOOL_CONTENTS");

  BackupEntryRecord r = Entry(kBackupKindFolder, 0x01020304, u"M\\\u00e9");
  expected.assign(1546, 0);
  const Bytes head = {0x04, 0x03, 0x02, 0x01, 0x10, 0, 0, 0, 'M', 0, '\\', 0, 0xE9, 0x00};
  std::copy(head.begin(), head.end(), expected.begin());
  EXPECT_EQ(Bytes(r.bytes.begin(), r.bytes.end()), expected);
  EXPECT_EQ(std::tuple(r.Length(), r.Kind(), r.Path()), std::tuple(0x01020304u, kBackupKindFolder, u"M\\\u00e9"));

  EXPECT_TRUE(BackupEntryRecord::Make(0, 0, std::u16string(768, u'x'), r));
  EXPECT_EQ(r.Path().size(), 768u);
  EXPECT_EQ(r.bytes[8 + 2 * 768], 0);
  BackupEntryRecord untouched = r;
  EXPECT_FALSE(r.SetPath(std::u16string(769, u'y')));
  EXPECT_FALSE(r.SetPath(std::u16string(u"a\0b", 3)));
  EXPECT_EQ(r.bytes, untouched.bytes);
}

// Error texts, the header error shown in the host's message box, and a last error per thread.
TEST(BackupErrorTest, TextsMessageBoxAndThreads) {
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

TEST_F(BackupFileTest, RoundTripInPieces) {
  BACKUP_CloseBackupDataFile(WriteSample(), kBackupCloseOk);
  EXPECT_EQ(BackupGetLastError(), 0u);

  // On disk: the header block first, then the first record, then a 40-byte trailer.
  Bytes disk = Disk();
  std::size_t content = 0;
  for (const auto& f : files_) content += f.content.size();
  ASSERT_EQ(disk.size(), 1024 + 5 * 1546 + content + kTrailer);
  BackupHeaderBlock header = BackupHeaderBlock::Make(1);
  EXPECT_TRUE(std::equal(header.bytes.begin(), header.bytes.end(), disk.begin()));
  BackupEntryRecord first = Entry(kBackupKindFolder, 0, u"Phone/Pictures");
  EXPECT_TRUE(std::equal(first.bytes.begin(), first.bytes.end(), disk.begin() + 1024));

  int32_t h = BACKUP_OpenBakupDataFile(path_, kBackupModeRead);
  ASSERT_NE(h, kBackupInvalidHandle);
  BackupHeaderBlock expected = BackupHeaderBlock::Make("1");
  ASSERT_NE(BACKUP_ReadBackupFileHeader(h, expected), 0);
  BackupEntryRecord r;
  for (const char16_t* folder : {u"Phone/Pictures", u"Card/Music"}) {
    ASSERT_EQ(BACKUP_ReadBackupFileInfo(h, r), 1);
    EXPECT_EQ(r.Kind(), kBackupKindFolder);
    EXPECT_EQ(r.Path(), folder);
  }
  for (const auto& item : files_) {
    ASSERT_EQ(BACKUP_ReadBackupFileInfo(h, r), 1);
    EXPECT_EQ(r.Kind(), kBackupKindFile);
    EXPECT_EQ(r.Path(), item.path);
    ASSERT_EQ(r.Length(), item.content.size());
    Bytes got;
    uint32_t want = 777;  // pieces unrelated to the written ones; the last one asks for more than is left
    for (std::size_t left = r.Length(); left > 0;) {
      Bytes buf(want);
      uint32_t n = 0;
      ASSERT_NE(BACKUP_ReadBackupFileStream(h, buf.data(), want, &n), 0);
      ASSERT_GT(n, 0u);
      got.insert(got.end(), buf.begin(), buf.begin() + n);
      left -= n;
      want = want * 3 + 1;
    }
    EXPECT_EQ(got, item.content);
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

TEST_F(BackupFileTest, UnreadContentIsPassedOver) {
  BACKUP_CloseBackupDataFile(WriteSample(4096), kBackupCloseOk);
  int32_t h = BACKUP_OpenBakupDataFile(path_, kBackupModeRead);
  BackupHeaderBlock expected = BackupHeaderBlock::Make(1);
  ASSERT_NE(BACKUP_ReadBackupFileHeader(h, expected), 0);
  BackupEntryRecord r;
  std::vector<std::u16string> paths;
  int result;
  while ((result = BACKUP_ReadBackupFileInfo(h, r)) == 1) {
    paths.push_back(r.Path());
    if (r.Path() == files_[2].path) {  // read a little of the large file only
      uint8_t buf[10];
      uint32_t n = 0;
      ASSERT_NE(BACKUP_ReadBackupFileStream(h, buf, sizeof buf, &n), 0);
      EXPECT_EQ(Bytes(buf, buf + n), Bytes(files_[2].content.begin(), files_[2].content.begin() + 10));
    }
  }
  EXPECT_EQ(result, kBackupNoMoreEntries);
  EXPECT_EQ(paths, (std::vector<std::u16string>{u"Phone/Pictures", u"Card/Music", files_[0].path,
                                                files_[1].path, files_[2].path}));
  BACKUP_CloseBackupDataFile(h, kBackupCloseOk);
}

TEST_F(BackupFileTest, ShortContentIsRecordedWithItsRealLength) {
  int32_t h = BACKUP_OpenBakupDataFile(path_, kBackupModeWrite);
  ASSERT_NE(BACKUP_WriteBackupFileHeader(h, BackupHeaderBlock::Make(1)), 0);
  ASSERT_NE(BACKUP_WriteBackupFileInfo(h, Entry(0, 10, u"A\\cut")), 0);
  ASSERT_NE(BACKUP_WriteBackupFileStream(h, reinterpret_cast<const uint8_t*>("abcd"), 4), 0);
  ASSERT_NE(BACKUP_WriteBackupFileInfo(h, Entry(0, 3, u"A\\next")), 0);
  ASSERT_NE(BACKUP_WriteBackupFileStream(h, reinterpret_cast<const uint8_t*>("xyz"), 3), 0);
  ASSERT_NE(BACKUP_WriteBackupFileInfo(h, Entry(0, 9, u"A\\last")), 0);  // finished by the close
  BACKUP_CloseBackupDataFile(h, kBackupCloseOk);

  Bytes disk = Disk();
  ASSERT_EQ(disk.size(), 1024 + 3 * 1546 + 7 + kTrailer);
  EXPECT_EQ(disk[1024], 4);
  EXPECT_EQ(disk[1024 + 1546 + 4 + 1546 + 3], 0);

  h = BACKUP_OpenBakupDataFile(path_, kBackupModeRead);
  BackupHeaderBlock expected = BackupHeaderBlock::Make(1);
  ASSERT_NE(BACKUP_ReadBackupFileHeader(h, expected), 0);
  BackupEntryRecord r;
  const std::pair<std::u16string, std::string> want[] = {{u"A\\cut", "abcd"}, {u"A\\next", "xyz"}, {u"A\\last", ""}};
  for (const auto& [path, text] : want) {
    ASSERT_EQ(BACKUP_ReadBackupFileInfo(h, r), 1);
    EXPECT_EQ(r.Path(), path);
    ASSERT_EQ(r.Length(), text.size());
    char buf[16] = {};
    uint32_t n = 0;
    EXPECT_NE(BACKUP_ReadBackupFileStream(h, reinterpret_cast<uint8_t*>(buf), r.Length(), &n), 0);
    EXPECT_EQ(std::string(buf, n), text);
  }
  EXPECT_EQ(BACKUP_ReadBackupFileInfo(h, r), kBackupNoMoreEntries);
  BACKUP_CloseBackupDataFile(h, kBackupCloseOk);
}

TEST_F(BackupFileTest, WritesPastTheDeclaredLengthAreRefused) {
  int32_t h = BACKUP_OpenBakupDataFile(path_, kBackupModeWrite);
  ASSERT_NE(BACKUP_WriteBackupFileHeader(h, BackupHeaderBlock::Make(1)), 0);
  const uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(BACKUP_WriteBackupFileStream(h, data, 1), 0);  // no entry yet
  EXPECT_EQ(BackupGetLastError(), kBackupErrWriteOverSize);
  ASSERT_NE(BACKUP_WriteBackupFileInfo(h, Entry(kBackupKindFolder, 0, u"F")), 0);
  EXPECT_EQ(BACKUP_WriteBackupFileStream(h, data, 1), 0);  // a folder has no content
  EXPECT_EQ(BackupGetLastError(), kBackupErrWriteOverSize);
  ASSERT_NE(BACKUP_WriteBackupFileInfo(h, Entry(kBackupKindFile, 6, u"F\\f")), 0);
  ASSERT_NE(BACKUP_WriteBackupFileStream(h, data, 4), 0);
  EXPECT_EQ(BACKUP_WriteBackupFileStream(h, data + 4, 3), 0);
  EXPECT_EQ(BackupGetLastError(), kBackupErrWriteOverSize);
  ASSERT_NE(BACKUP_WriteBackupFileStream(h, data + 4, 2), 0);  // the refused piece left nothing behind
  BACKUP_CloseBackupDataFile(h, kBackupCloseOk);

  Bytes disk = Disk();
  ASSERT_EQ(disk.size(), 1024 + 2 * 1546 + 6 + kTrailer);
  EXPECT_EQ(Bytes(disk.begin() + 1024 + 2 * 1546, disk.end() - kTrailer), Bytes(data, data + 6));
  EXPECT_EQ(HeaderCheck(), 0u);
}

TEST_F(BackupFileTest, OpenFailures) {
  fs::create_directories(dir_ / "sub");
  // Named pipes with nobody at the other end: refused at once, never waited on.
  ASSERT_EQ(::mkfifo((dir_ / "pipe.bak").c_str(), 0600), 0);
  const std::u16string dir = Utf8ToU16(dir_.string());
  const struct {
    std::u16string path;
    int32_t mode;
    uint32_t error;
  } cases[] = {
      {u"", kBackupModeWrite, kBackupErrInvalidFilePath},
      {dir + u"\\sub\\", kBackupModeWrite, kBackupErrInvalidFilePath},
      {dir + u"/sub/", kBackupModeRead, kBackupErrInvalidFilePath},
      {dir + u"\\missing.bak", kBackupModeRead, ENOENT},
      {dir + u"\\nofolder\\x.bak", kBackupModeWrite, ENOENT},
      {dir + u"\\sub", kBackupModeRead, EISDIR},
      {dir + u"\\pipe.bak", kBackupModeRead, EINVAL},
      {dir + u"\\pipe.bak", kBackupModeWrite, ENXIO},
      {dir + u"\\x.bak", 3, EINVAL},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(BACKUP_OpenBakupDataFile(c.path, c.mode), kBackupInvalidHandle) << U16ToUtf8(c.path);
    EXPECT_EQ(BackupGetLastError(), c.error) << U16ToUtf8(c.path);
  }
}

// Every way a file can be left damaged, and a version other than the expected one, is caught
// by the header check before any entry is read.
TEST_F(BackupFileTest, DamagedFilesAndOtherVersionsAreRejected) {
  BACKUP_CloseBackupDataFile(WriteSample(), kBackupCloseOk);
  const Bytes good = Disk();
  const std::size_t contentStart = 1024 + 3 * 1546;
  const struct {
    const char* what;
    std::function<void(Bytes&)> damage;
    const char* version;
    uint32_t error;
  } cases[] = {
      {"intact", [](Bytes&) {}, "1", 0},
      {"other version", [](Bytes&) {}, "2", kBackupErrInvalidVersion},
      {"longer version", [](Bytes&) {}, "10", kBackupErrInvalidVersion},
      {"tag changed", [](Bytes& b) { b[0] = 'N'; }, "1", kBackupErrInvalidFormat},
      {"empty", [](Bytes& b) { b.clear(); }, "1", kBackupErrInvalidFormat},
      {"half a header", [](Bytes& b) { b.resize(500); }, "1", kBackupErrInvalidFormat},
      {"header only", [](Bytes& b) { b.resize(1024); }, "1", kBackupErrInvalidFormat},
      {"cut inside a record", [](Bytes& b) { b.resize(1024 + 1546 + 3); }, "1", kBackupErrInvalidFormat},
      {"cut inside content", [](Bytes& b) { b.erase(b.end() - 1000, b.end()); }, "1", kBackupErrInvalidFormat},
      {"no trailer", [](Bytes& b) { b.erase(b.end() - kTrailer, b.end()); }, "1", kBackupErrInvalidFormat},
      {"last byte missing", [](Bytes& b) { b.pop_back(); }, "1", kBackupErrInvalidFormat},
      {"bytes appended", [](Bytes& b) { b.insert(b.end(), 16, 0); }, "1", kBackupErrInvalidFormat},
      {"content byte flipped", [&](Bytes& b) { b[contentStart + 100] ^= 1; }, "1", kBackupErrInvalidFormat},
      {"record path changed", [](Bytes& b) { b[1024 + 1546 + 8] ^= 1; }, "1", kBackupErrInvalidFormat},
      {"record length past the end", [](Bytes& b) { b[1024 + 2 * 1546 + 3] = 0x7F; }, "1", kBackupErrInvalidFormat},
      {"record kind unknown", [](Bytes& b) { b[1024 + 4] = 0x11; }, "1", kBackupErrInvalidFormat},
      {"trailer changed", [](Bytes& b) { b[b.size() - kTrailer + 16] ^= 1; }, "1", kBackupErrInvalidFormat},
  };
  for (const auto& c : cases) {
    Bytes b = good;
    c.damage(b);
    SetDisk(b);
    EXPECT_EQ(HeaderCheck(c.version), c.error) << c.what;
  }
  // Header blocks that are not ours are not written.
  BackupHeaderBlock wrongTag = BackupHeaderBlock::Make(1);
  wrongTag.bytes[3] = 'X';
  const std::pair<BackupHeaderBlock, uint32_t> blocks[] = {
      {wrongTag, kBackupErrInvalidFormat},
      {BackupHeaderBlock::Make(""), kBackupErrInvalidVersion},
      {BackupHeaderBlock::Make("1a"), kBackupErrInvalidVersion},
      {BackupHeaderBlock::Make(-1), kBackupErrInvalidVersion},
  };
  for (const auto& [block, error] : blocks) {
    int32_t h = BACKUP_OpenBakupDataFile(path_, kBackupModeWrite);
    EXPECT_EQ(BACKUP_WriteBackupFileHeader(h, block), 0);
    EXPECT_EQ(BackupGetLastError(), error);
    BACKUP_CloseBackupDataFile(h, kBackupCloseFailed);
  }
}

TEST_F(BackupFileTest, UnfinishedAndFailedWritesAreNotUsable) {
  // A writer still running (or one that crashed): the reader sees no finished file.
  int32_t writer = WriteSample();
  EXPECT_EQ(HeaderCheck(), kBackupErrInvalidFormat);
  BACKUP_CloseBackupDataFile(writer, kBackupCloseFailed);
  EXPECT_EQ(HeaderCheck(), kBackupErrInvalidFormat);
  EXPECT_EQ(Disk().size(), 1024 + 5 * 1546 + 5000 + 700 * 1024 + 13 + kTrailer);

  // Flag 1 alone decides, even when everything that was written is intact.
  writer = BACKUP_OpenBakupDataFile(path_, kBackupModeWrite);
  ASSERT_NE(BACKUP_WriteBackupFileHeader(writer, BackupHeaderBlock::Make(1)), 0);
  BACKUP_CloseBackupDataFile(writer, kBackupCloseFailed);
  EXPECT_EQ(Disk().size(), 1024 + kTrailer);
  EXPECT_EQ(HeaderCheck(), kBackupErrInvalidFormat);
}

TEST_F(BackupFileTest, HandlesAndCallOrder) {
  int32_t w = WriteSample();
  uint32_t n = 0;
  uint8_t byte = 0;
  BackupEntryRecord r;
  BackupHeaderBlock expected = BackupHeaderBlock::Make(1);
  // The wrong direction for the handle, and a handle that was never opened.
  for (int32_t h : {w, 12345678}) {
    EXPECT_EQ(BACKUP_ReadBackupFileHeader(h, expected), 0);
    EXPECT_EQ(BackupGetLastError(), uint32_t{EBADF});
    EXPECT_EQ(BACKUP_ReadBackupFileStream(h, &byte, 1, &n), 0);
    EXPECT_EQ(BackupGetLastError(), uint32_t{EBADF});
  }
  EXPECT_EQ(BACKUP_WriteBackupFileHeader(w, expected), 0);  // a second header
  EXPECT_EQ(BackupGetLastError(), uint32_t{EINVAL});
  BACKUP_CloseBackupDataFile(w, kBackupCloseOk);
  EXPECT_EQ(BACKUP_WriteBackupFileInfo(w, Entry(0, 0, u"a\\b")), 0);  // closed
  EXPECT_EQ(BackupGetLastError(), uint32_t{EBADF});

  int32_t h = BACKUP_OpenBakupDataFile(path_, kBackupModeRead);
  EXPECT_NE(h, w);
  EXPECT_EQ(BACKUP_WriteBackupFileStream(h, &byte, 1), 0);
  EXPECT_EQ(BackupGetLastError(), uint32_t{EBADF});
  EXPECT_EQ(BACKUP_ReadBackupFileInfo(h, r), 0);  // before the header check
  EXPECT_EQ(BackupGetLastError(), uint32_t{EINVAL});
  ASSERT_NE(BACKUP_ReadBackupFileHeader(h, expected), 0);
  EXPECT_EQ(BACKUP_ReadBackupFileStream(h, &byte, 1, &n), 0);  // no entry read yet
  EXPECT_EQ(BackupGetLastError(), kBackupErrReadOverSize);
  EXPECT_EQ(BACKUP_ReadBackupFileInfo(h, r), 1);
  EXPECT_EQ(BACKUP_ReadBackupFileStream(h, &byte, 1, &n), 0);  // a folder has no content
  EXPECT_EQ(BackupGetLastError(), kBackupErrReadOverSize);
  BACKUP_CloseBackupDataFile(h, kBackupCloseOk);
  EXPECT_EQ(BackupGetLastError(), 0u);
}

}  // namespace
}  // namespace kiv
