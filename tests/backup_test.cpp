// Backup and restore through the C interface against simulated phones: a round trip each way
// (in this process and over a pseudo-terminal), links dropped at chosen packets, and altered
// backup files that a restore must refuse before sending anything.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "filemanager/manager.hpp"
#include "link/backup_file.hpp"
#include "link/backup_io.hpp"
#include "kivtest.hpp"
#include "null_link.hpp"
#include "phonesim/phone.hpp"

namespace {

using namespace kivtest;

// Every file of a served tree by relative path, with its bytes; folders as "DIR".
std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    std::string rel = fs::relative(e.path(), root).string();
    out[rel] = e.is_directory() ? "DIR" : ReadText(e.path());
  }
  return out;
}

std::string Pattern(std::size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + seed + i / 4099) & 0xFF);
  return s;
}

// A phone tree: nested folders, empty files and an empty folder, non-ASCII names, and a
// large file (bigMiB).
void FillPhone(const fs::path& root, std::size_t bigBytes) {
  WriteFile(root / "Music" / "a.mp3", Pattern(5000, 1));
  WriteFile(root / "Music" / "Rock" / "Grüße – ёжик.mp3", Pattern(70001, 2));
  WriteFile(root / "Music" / "Rock" / "empty.mp3", "");
  WriteFile(root / "Music" / "Rock" / "Deep" / "ß.txt", "x");
  WriteFile(root / "Pictures" / "日本" / "big.jpg", Pattern(bigBytes, 3));
  fs::create_directories(root / "Videos" / "Nothing");
}

// Records the host's message box texts, the whole-file counts (900/901) and piece progress.
struct Host {
  Host() : wnd(Kiv_CreateWindow(&Proc, this)) { Kiv_SetMessageBoxHandler(&Box, this); }
  ~Host() {
    Kiv_SetMessageBoxHandler(nullptr, nullptr);
    Kiv_DestroyWindow(wnd);
  }
  static intptr_t Proc(void* user, KivHwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    auto* self = static_cast<Host*>(user);
    if (msg == KIV_MSG_REPORT) self->reports.push_back(wParam);
    if (msg != KIV_MSG_PROGRESS) return 0;
    if (wParam == KIV_PROGRESS_BACKUP_FILE || wParam == KIV_PROGRESS_RESTORE_FILE) {
      self->fileCounts.push_back(static_cast<int>(lParam));
    } else if (++self->pieces == self->cancelAtPiece) {
      Kiv_TransferCancle();
    }
    return 0;
  }
  static void Box(void* user, const KivChar* text, const KivChar*) {
    static_cast<Host*>(user)->boxes.push_back(kiv::U16ToUtf8(text ? text : u""));
  }
  KivHwnd wnd;
  std::vector<int> fileCounts;
  std::vector<std::string> boxes;
  std::vector<uintptr_t> reports;
  int pieces = 0;
  int cancelAtPiece = -1;
};

std::u16string U(const fs::path& p) { return kiv::Utf8ToU16(p.string()); }

class BackupTest : public ::testing::Test {
 protected:
  void TearDown() override {
    kiv::InstallLink(nullptr);
    kiv::DestroyCurrentManager();
  }
  // Connects the library in backup mode to a simulated phone serving root.
  std::shared_ptr<phonesim::Phone> Attach(const fs::path& root, phonesim::Config config = {}) {
    if (kiv::CurrentManager()) Kiv_BACKUP_Disconnect();
    auto phone = std::make_shared<phonesim::Phone>(root, config);
    kiv::InstallLink(std::make_shared<SimLink>(phone));
    Kiv_InitalizeU(host.wnd);
    EXPECT_EQ(Kiv_BACKUP_ConnectU(1, 0, host.wnd, 1), 1);
    return phone;
  }
  int Backup(const fs::path& file) { return Kiv_BACKUP_Backup(host.wnd, U(file).c_str(), 1); }
  int Restore(const fs::path& file) { return Kiv_BACKUPTOOL_Restore(U(file).c_str(), host.wnd, 0); }

  TempDir tmp{"backup"};
  fs::path phoneA = tmp.path / "a", phoneB = tmp.path / "b", file = tmp.path / "phone.kbk";
  Host host;
};

TEST_F(BackupTest, RoundTripInProcess) {
  FillPhone(phoneA, 50u << 20);
  fs::create_directories(phoneB);
  phonesim::Config config;
  config.maxPacket = 4096;  // the file lists of phone A span several answers
  for (int i = 0; i < 300; ++i) WriteFile(phoneA / "Many" / ("file number " + std::to_string(i)), std::to_string(i));
  Attach(phoneA, config);
  ASSERT_EQ(Kiv_BACKUP_BackupInfo(0, 0, 0, 0, U(tmp.path / "agent.xml").c_str()), 1);
  const std::string doc = ReadText(tmp.path / "agent.xml");
  EXPECT_EQ(doc.rfind("\xEF\xBB\xBF<?xml", 0), 0u);
  EXPECT_NE(doc.find("<Model>KIVSIM 100</Model>"), std::string::npos);
  ASSERT_EQ(Backup(file), 1);
  EXPECT_EQ(Kiv_BACKUPTOOL_GetBackupfileCount(), 305);
  EXPECT_EQ(host.fileCounts.size(), 305u);
  EXPECT_EQ(host.fileCounts.back(), 305);

  config.maxPacket = 32768;
  config.backupPassword = u"sesame";
  Attach(phoneB, config);
  EXPECT_EQ(Kiv_BackupToolConfig(), 1);
  EXPECT_EQ(Kiv_BACKUPTOOL_InitPhone(0), 1);
  EXPECT_EQ(Kiv_BACKUPTOOL_CheckPass(u"wrong"), 0);
  EXPECT_EQ(Kiv_BACKUPTOOL_CheckPass(u"sesame"), 1);
  ASSERT_EQ(Restore(file), 1);
  EXPECT_EQ(Kiv_BACKUPTOOL_GetRestorefileCount(), 305);
  EXPECT_TRUE(Snapshot(phoneA) == Snapshot(phoneB));
  // A second restore finds every file whole on the phone, the empty one too, and sends none.
  ASSERT_EQ(Restore(file), 1);
  EXPECT_EQ(Kiv_BACKUPTOOL_GetRestorefileCount(), 0);
  EXPECT_TRUE(host.boxes.empty());
}

TEST_F(BackupTest, ConnectResults) {
  fs::create_directories(phoneA);
  phonesim::Config locked;
  locked.locked = true;
  auto phone = std::make_shared<phonesim::Phone>(phoneA, locked);
  kiv::InstallLink(std::make_shared<SimLink>(phone));
  Kiv_InitalizeU(host.wnd);
  EXPECT_EQ(Kiv_BACKUP_Connect(1, 0, u"text", host.wnd, 1), 0);
  EXPECT_TRUE(host.reports.empty());  // the text alone refuses, the phone is not asked
  EXPECT_EQ(Kiv_BACKUP_ConnectU(1, 0, host.wnd, 1), -2);
  EXPECT_EQ(host.reports, std::vector<uintptr_t>{0xCF});
  EXPECT_EQ(Kiv_BACKUP_Getlist(host.wnd), 0);
}

// The link goes down after a chosen number of requests, the phone refuses a request, the host
// cancels at a chosen piece, the phone's packets leave no room for data or its memory is full:
// the call fails truthfully, a cut backup is refused by a restore, and a cut restore leaves
// only whole files plus at most the one being sent.
TEST_F(BackupTest, FailuresMidway) {
  struct Case {
    const char* what;
    bool backup;
    int dropAfter = -1;
    int cancelAt = -1;
    uint8_t refuse = 0;  // request code the phone refuses once
    uint32_t maxPacket = 4096;
    uint64_t total = 256ull << 20;
    int expect = 0;
  };
  const Case cases[] = {
      {"backup: drop in the walk", true, 3},
      {"backup: drop in a file", true, 12},
      {"backup: drop in the large file", true, 40},
      {"backup: cancel in a file", true, -1, 5},
      {"backup: file list refused", true, -1, -1, 0x14},
      {"backup: next directory refused", true, -1, -1, 0x13},
      {"restore: drop in the folders", false, 4},
      {"restore: drop in a file", false, 20},
      {"restore: cancel in a file", false, -1, 15},
      {"restore: packets too small", false, -1, -1, 0, 40},
      {"restore: phone full", false, -1, -1, 0, 4096, 200000, KIV_RESTORE_PHONE_FULL},
  };
  FillPhone(phoneA, 300000);
  phonesim::Config small;
  small.maxPacket = 4096;
  Attach(phoneA, small);
  const fs::path whole = tmp.path / "whole.kbk";
  ASSERT_EQ(Backup(whole), 1);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(phoneB);
    fs::create_directories(phoneB);
    phonesim::Config config = small;
    config.dropAfterPackets = c.dropAfter;
    config.maxPacket = c.maxPacket;
    config.internal.total = c.total;
    if (c.refuse) config.faults.push_back({c.refuse, phonesim::Fault::Kind::Refuse, 0, 0, 1});
    host.pieces = 0;
    host.cancelAtPiece = c.cancelAt;
    host.boxes.clear();
    if (c.backup) {
      Attach(phoneA, config);
      EXPECT_EQ(Backup(file), c.expect);
      host.cancelAtPiece = -1;
      Attach(phoneB, small);
      EXPECT_EQ(Restore(file), 0);
      EXPECT_TRUE(fs::is_empty(phoneB));
    } else {
      Attach(phoneB, config);
      EXPECT_EQ(Restore(whole), c.expect);
      int partial = 0;
      auto original = Snapshot(phoneA);
      for (const auto& [path, bytes] : Snapshot(phoneB)) {
        ASSERT_TRUE(original.count(path)) << path;
        if (bytes == original[path]) continue;
        EXPECT_EQ(original[path].rfind(bytes, 0), 0u) << path;
        ++partial;
      }
      EXPECT_LE(partial, 1);
    }
  }
}

// Backup files altered after the fact: the restore shows the component's text and sends
// nothing.
TEST_F(BackupTest, AlteredFilesAreRefused) {
  FillPhone(phoneA, 10000);
  Attach(phoneA);
  ASSERT_EQ(Backup(file), 1);
  const std::string good = ReadText(file);
  const std::size_t firstRecord = kiv::kBackupHeaderSize;
  auto flip = [&](std::size_t at) {
    std::string s = good;
    s[at] = static_cast<char>(s[at] ^ 0x40);
    return s;
  };
  // A file whose one entry names path, with from replaced by to afterwards and the trailer's
  // sums made to match (the writer itself refuses such paths).
  auto crafted = [&](std::u16string path, std::u16string_view from, std::u16string_view to) {
    fs::path p = tmp.path / "crafted.kbk";
    int32_t h = kiv::BACKUP_OpenBakupDataFile(U(p), kiv::kBackupModeWrite);
    kiv::BACKUP_WriteBackupFileHeader(h, kiv::BackupHeaderBlock::Make(1));
    kiv::BackupEntryRecord r;
    kiv::BackupEntryRecord::Make(kiv::kBackupKindFile, 1, path, r);
    kiv::BACKUP_WriteBackupFileInfo(h, r);
    kiv::BACKUP_WriteBackupFileStream(h, reinterpret_cast<const uint8_t*>("x"), 1);
    kiv::BACKUP_CloseBackupDataFile(h, 0);
    std::string s = ReadText(p);
    const std::size_t at = firstRecord + kiv::kBackupEntryPathOffset + 2 * path.find(from);
    for (std::size_t i = 0; i < to.size(); ++i) s[at + 2 * i] = static_cast<char>(to[i]);
    auto crc = [&](std::size_t from, std::size_t n) {
      return kiv::backup_io::Crc32(reinterpret_cast<const uint8_t*>(s.data() + from), n, 0);
    };
    auto put = [&](std::size_t at, uint32_t v) {
      for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
    };
    const std::size_t trailer = s.size() - 40;
    put(trailer + 28, crc(0, firstRecord + kiv::kBackupEntrySize));
    put(trailer + 36, crc(trailer, 36));
    return s;
  };
  std::string wrongVersion = good;
  wrongVersion[kiv::kBackupVersionOffset] = '2';
  const struct {
    const char* what;
    std::string bytes;
    const char* text;
  } cases[] = {
      {"truncated", good.substr(0, good.size() - 100), "Invalid Format"},
      {"record byte", flip(firstRecord + 10), "Invalid Format"},
      {"content byte", flip(good.size() - 60), "Invalid Format"},
      {"tag", flip(3), "Invalid Format"},
      {"version", wrongVersion, "Invalid Version"},
      {"dot-dot", crafted(u"Music\\AA\\escape.txt", u"AA", u".."), "Invalid Format"},
      {"drive letter", crafted(u"CC\\Windows\\x.txt", u"CC", u"C:"), "Invalid Format"},
  };
  {  // the crafting itself leaves a usable file when it changes nothing
    WriteFile(file, crafted(u"Music\\AA\\escape.txt", u"AA", u"AA"));
    int32_t h = kiv::BACKUP_OpenBakupDataFile(U(file), kiv::kBackupModeRead);
    auto header = kiv::BackupHeaderBlock::Make(1);
    EXPECT_NE(kiv::BACKUP_ReadBackupFileHeader(h, header), 0);
    kiv::BACKUP_CloseBackupDataFile(h, 0);
  }
  fs::create_directories(phoneB);
  Attach(phoneB);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    host.boxes.clear();
    WriteFile(file, c.bytes);
    EXPECT_EQ(Restore(file), 0);
    EXPECT_EQ(host.boxes, std::vector<std::string>{c.text});
    EXPECT_TRUE(fs::is_empty(phoneB));
  }
}

}  // namespace
