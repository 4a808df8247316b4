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
#include "filemanager/record_lists.hpp"
#include "kivtest.hpp"
#include "link/backup_file.hpp"
#include "link/phone_link.hpp"
#include "platform/local_names.hpp"
#include "platform/text.hpp"
#include "protocol/pfileman.hpp"
#include "protocol/transactions.hpp"

namespace {

using namespace kivtest;

Bytes Piece(uint32_t total, uint32_t offset, const Bytes& bytes) {
  return Body().B(0x01).S(u"Music").S(u"a.mp3").D(total).D(offset).D(0).Raw(bytes);
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
  Window window;
  TempDir dir{"harden-up"};
  fs::path local = dir.path / "a.mp3";
};

// A piece must start at the bytes received so far and end within the announced length.
TEST_F(UploadHardening, PiecesThatDoNotContinueTheFileFailTheCopyAndKeepTheOldFile) {
  struct Case {
    const char* what;
    std::vector<Bytes> answers;
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
    EXPECT_EQ(ReadFile(local), (Bytes{9, 9}));
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
  EXPECT_EQ(ReadFile(local), (Bytes{1, 2}));
  EXPECT_EQ(ReadFile(elsewhere), (Bytes{7}));
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

  TempDir work{"harden-work"};
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
  TempDir dir{"harden-tmp"};
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
  TempDir dir{"harden-bak"};
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
  void SetUp() override { fs::create_directories(phoneDir.path / "Music"); }
  void TearDown() override {
    kiv::CurrentLink().Disconnect();
    kiv::DestroyCurrentManager();
  }
  void Connect() {
    Kiv_InitalizeU(host.wnd);
    ASSERT_EQ(Kiv_Connect(1, 0, host.wnd, 1), 1);
    ASSERT_EQ(Kiv_OpenFolder(K(u"Music"), host.wnd), 1);
  }
  int Send() { return Kiv_SendToPhone(source.get(), K(u"Music"), 0, 0, host.wnd); }

  TempDir phoneDir{"harden-phone"}, pc{"harden-pc"}, work{"harden-work"};
  ScopedEnv link{"KIVMOD_LINK", ("sim:" + phoneDir.path.string()).c_str()}, workdir{"KIVMOD_WORKDIR", work.path.c_str()},
      config{"KIVMOD_SIM_CONFIG", nullptr};
  fs::path record = work.path / "ResumeFiles.txt";
  HostList source{U16(pc.path / "x.mp3")};
  Window host;
};

TEST_F(HardeningSim, AnUnsafeNameIsSkippedAndTheGoodFileBesideItCopied) {
  WriteFile(phoneDir.path / "Music" / "a:b.mp3", Bytes{1});
  WriteFile(phoneDir.path / "Music" / "good.mp3", Bytes{2, 3});
  Connect();
  HostList list{u"Music\\a:b.mp3", u"Music\\good.mp3"};
  Kiv_SendToPC(list.get(), K(U16(pc.path)), host.wnd);
  EXPECT_EQ(ReadFile(pc.path / "good.mp3"), (Bytes{2, 3}));
  EXPECT_FALSE(fs::exists(pc.path / "a:b.mp3"));
}

// The record is on disk while a copy to the phone runs, goes when the copy completes, and
// is not left when nothing could be sent (a full phone).
TEST_F(HardeningSim, TheResumeRecordExistsExactlyWhileACopyCanBeResumed) {
  Connect();
  WriteFile(pc.path / "x.mp3", RandomBytes(50000));
  bool seenDuringCopy = false;
  host.onProgress = [&](const Message&, std::size_t) { seenDuringCopy = seenDuringCopy || fs::exists(record); };
  EXPECT_EQ(Send(), 1);
  EXPECT_TRUE(seenDuringCopy);
  EXPECT_FALSE(fs::exists(record));

  host.onProgress = nullptr;
  WriteFile(pc.path / "cfg.xml", "<phone><internal total=\"100\"/></phone>");
  ScopedEnv full("KIVMOD_SIM_CONFIG", (pc.path / "cfg.xml").c_str());
  kiv::CurrentLink().Disconnect();
  fs::remove(phoneDir.path / "Music" / "x.mp3");
  Connect();
  EXPECT_LT(Send(), 1);
  EXPECT_FALSE(fs::exists(record));
}

// A cancel that comes with the question whether to replace the phone's older file returns
// -9 and leaves that file and no record.
TEST_F(HardeningSim, ACancelDuringAReplaceReturnsCancelledAndKeepsTheOldFile) {
  WriteFile(phoneDir.path / "Music" / "x.mp3", Bytes{1, 2, 3});
  WriteFile(pc.path / "x.mp3", RandomBytes(5000));
  Connect();
  host.answers[KIV_QUESTION_OVERWRITE] = {2};  // yes, all
  host.onMessage = [](const Message& m) {
    if (m.question == KIV_QUESTION_OVERWRITE) Kiv_TransferCancle();
  };
  EXPECT_EQ(Send(), -9);
  EXPECT_EQ(ReadFile(phoneDir.path / "Music" / "x.mp3"), (Bytes{1, 2, 3}));
  EXPECT_FALSE(fs::exists(record));
}

}  // namespace
