// Nothing lost, nothing unbounded: copies to the PC that fail leave the PC file as it was,
// pieces that do not continue the file fail the copy, unsafe names are skipped rather than
// ending a folder copy, the resume record is there exactly when a resume can help, and the
// delete walk removes records in one pass.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "filemanager/manager.hpp"
#include "link/backup_file.hpp"
#include "filemanager/record_lists.hpp"
#include "link/phone_link.hpp"
#include "platform/local_names.hpp"
#include "platform/text.hpp"
#include "plugged_phone.hpp"
#include "protocol/pfileman.hpp"
#include "protocol/transactions.hpp"
#include "scoped_env.hpp"
#include "transfer_fixture.hpp"

namespace {

using namespace kivold;

std::vector<uint8_t> Piece(uint32_t total, uint32_t offset, const std::vector<uint8_t>& bytes) {
  std::vector<uint8_t> body{0x01};
  PutText(body, u"Music");
  PutText(body, u"a.mp3");
  PutU32(body, total);
  PutU32(body, offset);
  PutU32(body, 0);
  body.insert(body.end(), bytes.begin(), bytes.end());
  return body;
}

std::vector<std::string> Leftovers(const fs::path& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().filename().string().rfind(".kivmod-", 0) == 0) out.push_back(e.path().filename().string());
  return out;
}

class UploadHardening : public ::testing::Test {
 protected:
  void SetUp() override { phone.linkUp = true; }
  int Upload() { return man.UploadFile(U16(local), u"Music", u"a.mp3", window.wnd); }
  PluggedPhone phone;
  kiv::CPFileMan man;
  ProgressWindow window;
  TempFolder dir{"harden-up"};
  fs::path local = dir.path / "a.mp3";
};

// A piece must start at the bytes received so far and end within the announced length.
TEST_F(UploadHardening, PiecesThatDoNotContinueTheFileFailTheCopyAndKeepTheOldFile) {
  struct Case {
    const char* what;
    std::vector<std::vector<uint8_t>> answers;
  } cases[] = {
      {"a piece cut short (next starts past the end)", {Piece(6, 0, {1, 2}), Piece(6, 3, {4, 5, 6})}},
      {"more than announced", {Piece(3, 0, {1, 2, 3, 4})}},
      {"offset 0 repeated", {Piece(6, 0, {1, 2, 3}), Piece(6, 0, {1, 2, 3})}},
      {"the length changes", {Piece(6, 0, {1, 2, 3}), Piece(9, 3, {4, 5, 6})}},
      {"an empty piece that is not the last", {Piece(6, 0, {})}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(local, {9, 9});
    phone.answers.clear();
    for (const auto& a : c.answers) phone.Answer(a);
    phone.Answer({0x01});  // the abort's answer
    EXPECT_EQ(Upload(), 0);
    EXPECT_EQ(ReadFile(local), (std::vector<uint8_t>{9, 9}));
    EXPECT_NE(kiv::U16ToUtf8(man.m_strFailure).find("damaged piece"), std::string::npos);
    EXPECT_EQ(phone.sent.back().code, 0x07);
    EXPECT_TRUE(Leftovers(dir.path).empty());
  }
}

TEST_F(UploadHardening, LinkLossLeavesNothingUnderTheFinalName) {
  phone.Answer(Piece(6, 0, {1, 2, 3}));
  phone.NoAnswer();
  EXPECT_EQ(Upload(), 0);
  EXPECT_FALSE(fs::exists(local));
  EXPECT_TRUE(Leftovers(dir.path).empty());
}

TEST_F(UploadHardening, ASymbolicLinkAtTheTargetIsReplacedNotWrittenThrough) {
  const fs::path elsewhere = dir.path / "elsewhere";
  WriteFile(elsewhere, {7});
  fs::create_symlink(elsewhere, local);
  phone.Answer(Piece(2, 0, {1, 2}));
  ASSERT_EQ(Upload(), 1);
  EXPECT_FALSE(fs::is_symlink(local));
  EXPECT_EQ(ReadFile(local), (std::vector<uint8_t>{1, 2}));
  EXPECT_EQ(ReadFile(elsewhere), (std::vector<uint8_t>{7}));
}

TEST_F(UploadHardening, AFolderAtTheTargetIsNamedAsTheReason) {
  fs::create_directory(local);
  phone.Answer(Piece(2, 0, {1, 2}));
  EXPECT_EQ(Upload(), 0);
  EXPECT_NE(kiv::U16ToUtf8(man.m_strFailure).find("is a folder"), std::string::npos);
}

// A phone that answers "more follows" for ever: the listing fails while receiving, by size
// or by a run of empty pieces.
TEST(ReceiveCap, ListingStopsAtTheCap) {
  kiv::ReceiveBudget budget;
  EXPECT_TRUE(budget.Take(kiv::kMaxReceivedBytes - 1));
  EXPECT_TRUE(budget.Take(1));
  EXPECT_FALSE(budget.Take(1));

  TempFolder work{"harden-work"};
  ScopedEnv env("KIVMOD_WORKDIR", work.path.c_str());
  PluggedPhone phone;
  phone.linkUp = true;
  kiv::CPFileMan man;
  for (int i = 0; i <= kiv::ReceiveBudget::kMaxEmptyPieces; ++i) phone.Answer({0x02});
  phone.Answer({0x01});
  EXPECT_EQ(man.GetXmlFolderList(u"F"), 0);
  EXPECT_EQ(phone.sent.size(), static_cast<std::size_t>(kiv::ReceiveBudget::kMaxEmptyPieces + 1));
}

TEST(LocalTemporaries, OnlyThoseOfEndedProcessesAreRemoved) {
  TempFolder dir{"harden-tmp"};
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  for (const std::string& name : {".kivmod-" + std::to_string(child) + "-0.part",
                                  ".kivmod-" + std::to_string(::getpid()) + "-0.part", std::string(".kivmod-notes.txt")})
    WriteFile(dir.path / name, {1});
  EXPECT_EQ(kiv::RemoveStaleTemporaries(U16(dir.path)), 1);
  EXPECT_EQ(Leftovers(dir.path).size(), 2u);
}

TEST(RecordLists, EraseMarkedKeepsOrderAndLookups) {
  kiv::FileList files;
  for (const char16_t* name : {u"a", u"b", u"c", u"d"}) {
    kiv::PhoneFileInfo f;
    f.m_strFolder = u"M";
    f.m_strName = name;
    files.push_back(f);
  }
  files.erase_marked({1, 0, 1});
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].m_strName, u"b");
  EXPECT_EQ(files.IndexOf(u"m", u"D"), std::optional<std::size_t>(1));
  EXPECT_FALSE(files.IndexOf(u"M", u"a"));
}

TEST(BackupFileHardening, AFolderEntryWithContentIsRefused) {
  TempFolder dir{"harden-bak"};
  const int32_t h = kiv::BACKUP_OpenBakupDataFile(U16(dir.path / "b.dat"), kiv::kBackupModeWrite);
  ASSERT_NE(kiv::BACKUP_WriteBackupFileHeader(h, kiv::BackupHeaderBlock::Make(1)), 0);
  kiv::BackupEntryRecord folder;
  ASSERT_TRUE(kiv::BackupEntryRecord::Make(kiv::kBackupKindFolder, 4, u"F", folder));
  EXPECT_EQ(kiv::BACKUP_WriteBackupFileInfo(h, folder), 0);
  EXPECT_EQ(kiv::BackupGetLastError(), kiv::kBackupErrInvalidFormat);
  kiv::BACKUP_CloseBackupDataFile(h, kiv::kBackupCloseOk);
}

// Through the C interface against the simulated phone in this process.
class HardeningSim : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(phoneDir.path / "Music");
    fs::create_directories(pc.path);
    ::setenv("KIVMOD_LINK", ("sim:" + phoneDir.path.string()).c_str(), 1);
    ::setenv("KIVMOD_WORKDIR", (phoneDir.path.parent_path() / work).c_str(), 1);
    ::unsetenv("KIVMOD_SIM_CONFIG");
  }
  void TearDown() override {
    kiv::CurrentLink().Disconnect();
    kiv::DestroyCurrentManager();
    ::unsetenv("KIVMOD_LINK");
    ::unsetenv("KIVMOD_WORKDIR");
    fs::remove_all(phoneDir.path.parent_path() / work);
  }
  void Connect() {
    Kiv_InitalizeU(host.wnd);
    ASSERT_EQ(Kiv_Connect(1, 0, host.wnd, 1), 1);
    ASSERT_EQ(Kiv_OpenFolder(u"Music", host.wnd), 1);
  }
  fs::path Record() const { return phoneDir.path.parent_path() / work / "ResumeFiles.txt"; }
  static KivStringList* List(const std::vector<std::u16string>& items) {
    KivStringList* l = Kiv_StringList_New();
    for (const auto& i : items) Kiv_StringList_Add(l, i.c_str());
    return l;
  }

  TempFolder phoneDir{"harden-phone"};
  TempFolder pc{"harden-pc"};
  std::string work = "kivmod-harden-work-" + std::to_string(::getpid());
  ProgressWindow host;
};

TEST_F(HardeningSim, AnUnsafeNameIsSkippedAndTheGoodFileBesideItCopied) {
  WriteFile(phoneDir.path / "Music" / "a:b.mp3", {1});
  WriteFile(phoneDir.path / "Music" / "good.mp3", {2, 3});
  Connect();
  KivStringList* list = List({u"Music\\a:b.mp3", u"Music\\good.mp3"});
  Kiv_SendToPC(list, pc.path.u16string().c_str(), host.wnd);
  Kiv_StringList_Free(list);
  EXPECT_EQ(ReadFile(pc.path / "good.mp3"), (std::vector<uint8_t>{2, 3}));
  EXPECT_FALSE(fs::exists(pc.path / "a:b.mp3"));
}

// The record is on disk while a copy to the phone runs, goes when the copy completes, and
// is not left when nothing could be sent (an unreadable source, a full phone).
TEST_F(HardeningSim, TheResumeRecordExistsExactlyWhileACopyCanBeResumed) {
  Connect();
  WriteFile(pc.path / "x.mp3", RandomBytes(50000));
  bool seenDuringCopy = false;
  host.onProgress = [&](std::size_t) { seenDuringCopy = seenDuringCopy || fs::exists(Record()); };
  KivStringList* list = List({pc.path.u16string() + u"/x.mp3"});
  EXPECT_EQ(Kiv_SendToPhone(list, u"Music", 0, 0, host.wnd), 1);
  EXPECT_TRUE(seenDuringCopy);
  EXPECT_FALSE(fs::exists(Record()));

  host.onProgress = nullptr;
  WriteFile(phoneDir.path.parent_path() / "cfg.xml", std::string_view());
  std::ofstream(phoneDir.path.parent_path() / "cfg.xml") << "<phone><internal total=\"100\"/></phone>";
  ::setenv("KIVMOD_SIM_CONFIG", (phoneDir.path.parent_path() / "cfg.xml").c_str(), 1);
  kiv::CurrentLink().Disconnect();
  Connect();
  ::unsetenv("KIVMOD_SIM_CONFIG");
  fs::remove(phoneDir.path / "Music" / "x.mp3");
  Kiv_OpenFolder(u"Music", host.wnd);
  EXPECT_LT(Kiv_SendToPhone(list, u"Music", 0, 0, host.wnd), 1);
  EXPECT_FALSE(fs::exists(Record()));
  fs::remove(phoneDir.path.parent_path() / "cfg.xml");
  Kiv_StringList_Free(list);
}

// A cancel that comes while the phone's older file is being replaced returns -9 and keeps
// a record, so the file can still be sent; a cancel before it changes nothing.
TEST_F(HardeningSim, ACancelDuringAReplaceReturnsCancelledAndKeepsARecord) {
  WriteFile(phoneDir.path / "Music" / "x.mp3", {1, 2, 3});
  WriteFile(pc.path / "x.mp3", RandomBytes(5000));
  Connect();
  KivStringList* list = List({pc.path.u16string() + u"/x.mp3"});
  // The overwrite question is answered "yes, all" and the cancel arrives with it.
  struct Asker {
    static intptr_t Proc(void*, KivHwnd, uint32_t msg, uintptr_t wParam, intptr_t) {
      if (msg != KIV_MSG_PROGRESS || wParam < 0x10000) return 0;
      if (reinterpret_cast<const KivProgress*>(wParam)->question != 501) return 0;
      Kiv_TransferCancle();
      return 2;
    }
  };
  KivHwnd wnd = Kiv_CreateWindow(&Asker::Proc, nullptr);
  EXPECT_EQ(Kiv_SendToPhone(list, u"Music", 0, 0, wnd), -9);
  Kiv_DestroyWindow(wnd);
  Kiv_StringList_Free(list);
  EXPECT_EQ(ReadFile(phoneDir.path / "Music" / "x.mp3"), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_FALSE(fs::exists(Record()));
}

}  // namespace
