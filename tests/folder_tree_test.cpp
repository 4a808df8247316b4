// The folder tree as the phone fills it: recursive opens from the XML listing, refreshes
// from the binary listing and file details, the space queries, and their reports.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "filemanager/manager.hpp"
#include "platform/messages.hpp"
#include "platform/text.hpp"
#include "plugged_phone.hpp"
#include "xml/xml_file_list.hpp"

namespace {

using kivold::Body;
using kivold::PluggedPhone;
using kivold::RecordingWindow;
using Bytes = std::vector<uint8_t>;

// One XML listing answer, in one piece.
Bytes Listing(std::u16string_view inner) {
  std::u16string text = u"<?xml version=\"1.0\"?><folderlist>" + std::u16string(inner) + u"</folderlist>";
  Body b;
  b.B(0x01);
  for (char16_t c : text) b.W(c);
  return b;
}

std::u16string File(std::u16string_view name, int size) {
  return u"<file name=\"" + std::u16string(name) + u"\" path=\"x\" created=\"20090729T143015\" size=\"" +
         kiv::Utf8ToU16(std::to_string(size)) + u"\"/>";
}

std::u16string Folder(std::u16string_view name, std::u16string_view attr = u"NONE") {
  return u"<folder name=\"" + std::u16string(name) + u"\" attr=\"" + std::u16string(attr) + u"\" created=\"0\"/>";
}

// The folder path of an XML listing request ("t": 16-bit count, then the units).
std::u16string RequestedFolder(const kivold::SentPacket& p) {
  std::u16string out;
  for (std::size_t i = 2; i + 1 < p.body.size(); i += 2) {
    char16_t c = static_cast<char16_t>(p.body[i] | (p.body[i + 1] << 8));
    if (!c) break;
    out.push_back(c);
  }
  return out;
}

class FolderTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    work_ = std::filesystem::temp_directory_path() / ("kivmod-tree-" + std::to_string(::getpid()));
    ::setenv("KIVMOD_WORKDIR", work_.c_str(), 1);
    Kiv_InitalizeU(window.wnd);
    phone.linkUp = true;
    m().m_bConnected = 1;
    m().m_nMaxPacketSize = 2048;
    m().m_InternalMemory = {64, 32, 255, 3};
    m().m_PFileMan.m_byVersion = 9;
    m().m_PFileMan.m_nVersion = 9;
    m().m_FolderInfos.push_back(kiv::PhoneFolderInfo(nullptr, 0x000B, u"Music", 3));
  }
  void TearDown() override {
    kiv::DestroyCurrentManager();
    ::unsetenv("KIVMOD_WORKDIR");
    std::filesystem::remove_all(work_);
  }
  kiv::CPhoneFileManager& m() { return *kiv::CurrentManager(); }
  std::vector<std::u16string> FolderPaths() {
    std::vector<std::u16string> out;
    for (const auto& f : m().m_FolderInfos) out.push_back(f.m_sFolderName);
    return out;
  }
  std::vector<std::u16string> FilePaths() {
    std::vector<std::u16string> out;
    for (const auto& f : m().m_FileInfos) out.push_back(f.m_strFolder + u"|" + f.m_strName);
    return out;
  }

  std::filesystem::path work_;
  PluggedPhone phone;
  RecordingWindow window;
};

TEST_F(FolderTreeTest, RecursiveOpenReadsTheSubtreeOnce) {
  phone.Answer(Listing(File(u"a.mp3", 10) + Folder(u"Rock") + Folder(u"Secret", u"HIDDEN") + Folder(u"Box", u"NOSUB") +
                       Folder(u"Fixed", u"FIX") + File(u"neg.mp3", -1)));
  phone.Answer(Listing(File(u"b.mp3", 0) + Folder(u"Deep", u"RENAME")));  // Music\Rock
  phone.Answer(Listing(u""));                                              // Music\Rock\Deep, depth first
  phone.Answer(Listing(File(u"c.mp3", 5)));                                // Music\Box
  phone.Answer(Listing(u""));                                              // Music\Fixed
  ASSERT_EQ(Kiv_OpenFolder(u"Music", window.wnd), 1);
  std::vector<std::u16string> asked;
  for (const auto& p : phone.sent) asked.push_back(RequestedFolder(p));
  EXPECT_THAT(asked, ::testing::ElementsAre(u"Music", u"Music/Rock", u"Music/Rock/Deep", u"Music/Box", u"Music/Fixed"));
  EXPECT_THAT(FolderPaths(), ::testing::ElementsAre(u"Music", u"Music\\Rock", u"Music\\Box", u"Music\\Fixed",
                                                    u"Music\\Rock\\Deep"));
  EXPECT_THAT(FilePaths(), ::testing::ElementsAre(u"Music|a.mp3", u"Music\\Rock|b.mp3", u"Music\\Box|c.mp3"));
  EXPECT_TRUE(window.messages.empty());
  EXPECT_FALSE(std::filesystem::exists(work_ / "TempXML"));

  // Attributes: depth 3 is the memory's limit, so the deepest folder loses subfolders.
  EXPECT_EQ(m().FindFolder(u"Music\\Rock")->m_dwAttr, 0x000Bu);
  EXPECT_EQ(m().FindFolder(u"Music\\Box")->m_dwAttr, 0x000Bu | 0x0104u);
  EXPECT_EQ(m().FindFolder(u"Music\\Fixed")->m_dwAttr, 0x000Bu | 0x0004u);
  EXPECT_EQ(m().FindFolder(u"Music\\Rock\\Deep")->m_dwAttr, 0x0003u | 0x0010u);
  const kiv::PhoneFileInfo* a = m().FindFile(u"music", u"A.MP3");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->m_nSize, 10);
  EXPECT_EQ(a->m_dwTime1, kiv::CXmlFileList::ParseCreated(u"20090729T143015"));
  EXPECT_EQ(a->m_dwTime1, a->m_dwTime3);
  EXPECT_EQ(a->m_dwAttr, 0u);
  for (const auto& f : m().m_FolderInfos) EXPECT_EQ(f.m_bListed, 1) << kiv::U16ToUtf8(f.m_sFolderName);

  // A second open lists the folder again but adds nothing and does not descend.
  phone.sent.clear();
  phone.Answer(Listing(File(u"A.MP3", 10) + Folder(u"rock")));
  ASSERT_EQ(Kiv_OpenFolder(u"Music", window.wnd), 1);
  EXPECT_EQ(phone.sent.size(), 1u);
  EXPECT_EQ(m().m_FolderInfos.size(), 5u);
  EXPECT_EQ(m().m_FileInfos.size(), 3u);

  // A hidden folder, or one the tree does not know, is not asked for.
  EXPECT_EQ(Kiv_OpenFolder(u"Music\\Secret", window.wnd), 1);
  EXPECT_EQ(Kiv_OpenFolder(u"Nowhere", window.wnd), 1);
  EXPECT_EQ(phone.sent.size(), 1u);
}

// A phone that answers every listing with one more subfolder cannot drive the recursive
// open without end; names that would stand for other paths are not taken.
TEST_F(FolderTreeTest, RecursiveOpenStopsAtItsDepthBound) {
  phone.Answer(Listing(Folder(u"d") + Folder(u"") + Folder(u"a\\b")));
  for (int i = 0; i < 300; ++i) phone.Answer(Listing(Folder(u"d")));
  ASSERT_EQ(Kiv_OpenFolder(u"Music", window.wnd), 1);
  EXPECT_EQ(phone.sent.size(), 256u);  // Music and the 255 folders below it, down to depth 256
  EXPECT_EQ(m().m_FolderInfos.size(), 257u);
  EXPECT_EQ(m().FindFolder(u"Music\\"), nullptr);
  EXPECT_EQ(m().FindFolder(u"Music\\a\\b"), nullptr);
}

TEST_F(FolderTreeTest, OpenFailuresAndTheirReports) {
  struct Case {
    const char* name;
    std::function<void(PluggedPhone&)> script;
    int reports;
  };
  const Case cases[] = {
      {"no answer", [](PluggedPhone& p) { p.NoAnswer(); }, 1},
      {"refused", [](PluggedPhone& p) { p.Answer({0x00}, 0x00, 0x72); }, 0},
      {"not XML", [](PluggedPhone& p) { p.Answer(Listing(u"<file")); }, 0},
      {"rejected result", [](PluggedPhone& p) { p.Answer({0x30}); }, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    window.messages.clear();
    m().m_PFileMan.ResetFlags();
    c.script(phone);
    EXPECT_EQ(Kiv_OpenFolder(u"Music", window.wnd), 0);
    ASSERT_EQ(window.Count(KIV_MSG_REPORT, kiv::kReportListFailed), c.reports);
    if (c.reports) {
      EXPECT_EQ(window.messages[0].style, 1u);
      EXPECT_EQ(window.messages[0].text1, u"Music");
    }
    EXPECT_EQ(m().FindFolder(u"Music")->m_bListed, 0);
  }
  // A failure deep in the walk fails the whole open; what was read stays.
  phone.Answer(Listing(File(u"a.mp3", 1) + Folder(u"Rock")));
  phone.NoAnswer();
  EXPECT_EQ(Kiv_OpenFolder(u"Music", window.wnd), 0);
  EXPECT_THAT(FolderPaths(), ::testing::ElementsAre(u"Music", u"Music\\Rock"));
  EXPECT_EQ(m().m_FileInfos.size(), 1u);
  EXPECT_EQ(m().FindFolder(u"Music")->m_bSubOpened, 0);

  phone.linkUp = false;
  EXPECT_EQ(Kiv_OpenFolder(u"Music", window.wnd), 0);
}

// A binary listing page and file details for the refresh.
Bytes Page(std::u16string_view text, uint32_t count) { return Body().B(0x01).D(count).D(count).T(text); }

Bytes Details(uint32_t size, uint8_t day, uint16_t word) {
  Body b;
  b.B(0x01);
  for (int i = 0; i < 3; ++i) b.W(2020).B(1).B(static_cast<uint8_t>(day + i)).B(0).B(0).B(0).B(0);
  return b.D(size).W(word);
}

TEST_F(FolderTreeTest, RefreshReadsDetailsAndUndoesAFailedFileStep) {
  phone.Answer(Page(u"a.mp3:Sub>D:b.mp3", 3));
  phone.Answer(Details(11, 1, 0x4000));
  phone.Answer(Details(22, 5, 0));
  phone.Answer(Details(0, 9, 0x0400));  // Music\Sub itself
  ASSERT_EQ(m().RefreshFolder(u"Music", false, window.wnd), 1);
  EXPECT_THAT(FilePaths(), ::testing::ElementsAre(u"Music|a.mp3", u"Music|b.mp3"));
  EXPECT_THAT(FolderPaths(), ::testing::ElementsAre(u"Music", u"Music\\Sub"));
  const kiv::PhoneFileInfo& a = m().m_FileInfos[0];
  EXPECT_EQ(a.m_nSize, 11);
  EXPECT_EQ(a.m_dwAttr, 0x0080u);
  // Time 1, 2 and 3 are the phone's third, first and second stamps.
  EXPECT_GT(a.m_dwTime1, a.m_dwTime3);
  EXPECT_GT(a.m_dwTime3, a.m_dwTime2);
  EXPECT_EQ(m().FindFolder(u"Music\\Sub")->m_dwAttr, 0x000Bu | 0x0010u);
  EXPECT_EQ(m().FindFolder(u"Music")->m_bListed, 1);

  // Listed now: a second refresh asks nothing.
  phone.sent.clear();
  ASSERT_EQ(m().RefreshFolder(u"Music", true, window.wnd), 1);
  EXPECT_TRUE(phone.sent.empty());
  EXPECT_EQ(m().FindFolder(u"Music")->m_bSubOpened, 1);

  // In a fresh folder a failing detail request removes the files of this refresh only.
  m().m_FolderInfos.push_back(kiv::PhoneFolderInfo(nullptr, 0x0009, u"Video", 3));
  phone.Answer(Page(u"x.3gp:y.3gp", 2));
  phone.Answer(Details(1, 1, 0));
  phone.NoAnswer();
  EXPECT_EQ(m().RefreshFolder(u"Video", false, window.wnd), 0);
  EXPECT_THAT(FilePaths(), ::testing::ElementsAre(u"Music|a.mp3", u"Music|b.mp3"));
  ASSERT_EQ(window.Count(KIV_MSG_REPORT, kiv::kReportDetailsFailed), 1);
  EXPECT_EQ(window.messages.back().text1, u"y.3gp");
}

TEST_F(FolderTreeTest, FreeSizeInvalidatesTheOthersAndReportsFailures) {
  m().m_FolderInfos.push_back(kiv::PhoneFolderInfo(nullptr, 0x000B, u"Photos", 3));
  m().m_FolderInfos[1].m_nFreeSize = 555;
  phone.Answer(Body().B(0x01).W(0).T(u"5000000000"));
  EXPECT_EQ(Kiv_UpdateFreeSize(u"Music", window.wnd), 5000000000);
  EXPECT_EQ(m().FindFolder(u"Photos")->m_nFreeSize, -1);
  EXPECT_EQ(m().FindFolder(u"Music")->m_nFreeSize, 5000000000);

  phone.Answer(Body().B(0x01).W(0).T(u"8000000000"));
  EXPECT_EQ(Kiv_GetTotalSpace(u"Music", window.wnd), 8000000000);
  EXPECT_TRUE(window.messages.empty());

  // Unknown or root paths ask nothing.
  phone.sent.clear();
  EXPECT_EQ(Kiv_UpdateFreeSize(u"\\", window.wnd), 0);
  EXPECT_EQ(Kiv_GetTotalSpace(u"Elsewhere", window.wnd), 0);
  EXPECT_TRUE(phone.sent.empty());

  phone.Answer({0x30});
  EXPECT_EQ(Kiv_UpdateFreeSize(u"Music", window.wnd), 0);
  phone.Answer({0x00}, 0x00, 0x72);
  EXPECT_EQ(Kiv_GetTotalSpace(u"Music", window.wnd), 0);
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0].wParam, kiv::kReportSpaceFailed);
  EXPECT_EQ(window.messages[0].style, 0x80u);
}

}  // namespace
