// Renaming phone files and folders and creating folders: the memory's limits, the folder's
// rights, the type rules, the reports for phone failures, the request bytes and the tree
// after the change.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "file_tree_fixture.hpp"

namespace {

using kivold::K;
using kivold::Texts;
using ::testing::ElementsAre;
using Report = std::tuple<uintptr_t, uint32_t, std::u16string>;

constexpr uint8_t kRename = 0x0A;
constexpr uint8_t kCreate = 0x0B;
constexpr uint8_t kFileInfo = 0x04;

class RenameTest : public kivold::ScriptedTreeTest {
 protected:
  void SetUp() override {
    ScriptedTreeTest::SetUp();
    AddFolder(u"Music\\Sub");  // inherits Music's types: mp3, jpg
    AddFile(u"Music\\Sub", u"a.mp3");
    AddFile(u"Music\\Sub", u"p.jpg");
    AddFolder(u"Music\\ReadOnly", 0x11);
    AddFile(u"Music\\ReadOnly", u"b.mp3");
    AddFolder(u"Pictures\\Any");  // no type list: every extension
    AddFile(u"Pictures\\Any", u"game.jar");
    AddFile(u"Pictures\\Any", u"note.txt");
    AddFolder(u"Music\\Fixed", 0x0F);  // not renamable
  }
  int RenameFile(const std::u16string& from, const std::u16string& to) {
    return Kiv_RenamePhoneFile(K(from), K(to), window.wnd, 0);
  }
  int RenameFolder(const std::u16string& from, const std::u16string& to) {
    return Kiv_RenamePhoneFile(K(from), K(to), window.wnd, 1);
  }
};

TEST_F(RenameTest, FileChecksRefuseBeforeAnyRequest) {
  const std::u16string longFolder = u"Music\\" + std::u16string(200, u'f');
  AddFolder(longFolder);
  AddFile(longFolder, u"a.mp3");
  struct Case {
    const char* what;
    std::u16string from, to;
    std::vector<Report> reports;
  };
  const Case cases[] = {
      {"name over the file-name limit", u"Music\\Sub\\a.mp3", std::u16string(61, u'n') + u".mp3", {}},
      {"path over the path limit", longFolder + u"\\a.mp3", std::u16string(50, u'n') + u".mp3", {}},
      {"unknown folder", u"Music\\Nowhere\\a.mp3", u"b.mp3", {}},
      {"folder not writable", u"Music\\ReadOnly\\b.mp3", u"c.mp3", {{0xB3, 1, u"Music\\ReadOnly"}}},
      {"type may not change its extension", u"Pictures\\Any\\game.jar", u"game.mp3", {{0xC4, 1, u"jar"}}},
      {"folder refuses the new extension", u"Music\\Sub\\p.jpg", u"p.txt", {{0xB7, 8, u"txt"}}},
  };
  for (const Case& c : cases) {
    Reset();
    EXPECT_EQ(RenameFile(c.from, c.to), 0) << c.what;
    EXPECT_EQ(Reports(), c.reports) << c.what;
    EXPECT_TRUE(phone.sent.empty()) << c.what;
  }
  // The folder of a refused extension is named in text2.
  Reset();
  RenameFile(u"Music\\Sub\\p.jpg", u"p.txt");
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0].text2, u"Music\\Sub");
}

TEST_F(RenameTest, TypeRulesDecideWhetherTheExtensionMayChange) {
  struct Case {
    std::u16string from, to;
    int result;
  };
  const Case cases[] = {
      {u"Pictures\\Any\\game.jar", u"other.JAR", 1},   // same extension, letter case aside
      {u"Pictures\\Any\\note.txt", u"note.mp3", 1},    // txt has rule word 3
      {u"Music\\Sub\\p.jpg", u"p.mp3", 1},             // jpg has bit 0x1; the folder takes mp3
  };
  for (const Case& c : cases) {
    Reset();
    phone.Answer({0x01});
    EXPECT_EQ(RenameFile(c.from, c.to), c.result) << std::string(c.to.begin(), c.to.end());
    EXPECT_TRUE(Reports().empty());
  }
}

TEST_F(RenameTest, FileRenameSendsOneRequestAndRenamesTheRecord) {
  phone.Answer({0x01});
  // Only the last component of the new path counts.
  EXPECT_EQ(RenameFile(u"Music\\Sub\\a.mp3", u"Elsewhere\\b.mp3"), 1);
  ASSERT_EQ(phone.sent.size(), 1u);
  EXPECT_EQ(phone.sent[0].code, kRename);
  EXPECT_THAT(Texts(phone.sent[0].body), ElementsAre(u"Music/Sub", u"a.mp3", u"b.mp3"));
  EXPECT_EQ(manager().FindFile(u"Music\\Sub", u"a.mp3"), nullptr);
  ASSERT_NE(manager().FindFile(u"Music\\Sub", u"B.MP3"), nullptr);
  EXPECT_TRUE(window.messages.empty());
}

TEST_F(RenameTest, PhoneFailuresChooseTheirReport) {
  struct Case {
    const char* what;
    bool folder;
    std::vector<uint8_t> answer;
    int cls, code;
    std::vector<Report> reports;
  };
  const Case cases[] = {
      {"file, phone busy", false, {0x53}, -1, -1, {{0xAB, 0x80, u""}}},
      {"file, other result", false, {0x27}, -1, -1, {{0xC5, 1, u"a.mp3"}}},
      {"file, refused", false, {}, 0, 0x72, {}},
      {"folder, phone busy", true, {0x53}, -1, -1, {{0xAB, 0x80, u""}}},
      {"folder, other result", true, {0x27}, -1, -1, {{0xC5, 1, u"Music\\Sub"}}},
  };
  for (const Case& c : cases) {
    Reset();
    manager().m_PFileMan.m_bRefused = 0;
    phone.Answer(c.answer, c.cls, c.code);
    int result = c.folder ? RenameFolder(u"Music\\Sub", u"New") : RenameFile(u"Music\\Sub\\a.mp3", u"b.mp3");
    EXPECT_EQ(result, 0) << c.what;
    EXPECT_EQ(Reports(), c.reports) << c.what;
    EXPECT_NE(manager().FindFile(u"Music\\Sub", u"a.mp3"), nullptr) << c.what;
  }
}

TEST_F(RenameTest, FolderRenameMovesEverythingBelowAndNothingBeside) {
  AddFolder(u"Music\\Sub\\Deep");
  AddFolder(u"Music\\Sub\\Deep\\Deeper");
  AddFile(u"Music\\Sub\\Deep\\Deeper", u"z.mp3");
  AddFolder(u"Music\\Subway");  // shares the letters, not the component
  AddFile(u"Music\\Subway", u"w.mp3");
  phone.Answer({0x01});
  EXPECT_EQ(RenameFolder(u"Music\\Sub", u"Music\\New"), 1);
  ASSERT_EQ(phone.sent.size(), 1u);
  EXPECT_THAT(Texts(phone.sent[0].body), ElementsAre(u"Music/Sub", u"", u"New"));

  auto& m = manager();
  EXPECT_EQ(m.FindFolder(u"Music\\Sub"), nullptr);
  ASSERT_NE(m.FindFolder(u"Music\\New"), nullptr);
  EXPECT_EQ(m.FindFolder(u"Music\\New")->m_strUpFolderName, u"Music");
  ASSERT_NE(m.FindFolder(u"Music\\New\\Deep\\Deeper"), nullptr);
  EXPECT_EQ(m.FindFolder(u"Music\\New\\Deep\\Deeper")->m_strUpFolderName, u"Music\\New\\Deep");
  EXPECT_NE(m.FindFile(u"Music\\New", u"a.mp3"), nullptr);
  EXPECT_NE(m.FindFile(u"Music\\New\\Deep\\Deeper", u"z.mp3"), nullptr);
  EXPECT_NE(m.FindFolder(u"Music\\Subway"), nullptr);
  EXPECT_NE(m.FindFile(u"Music\\Subway", u"w.mp3"), nullptr);
  EXPECT_EQ(m.FindFolder(u"Music\\Subway")->m_strUpFolderName, u"Music");
}

TEST_F(RenameTest, FolderChecksRefuseSilently) {
  struct Case {
    const char* what;
    std::u16string from, to;
    std::vector<Report> reports;
  };
  const Case cases[] = {
      {"name over the folder-name limit", u"Music\\Sub", std::u16string(33, u'n'), {}},
      {"not renamable", u"Music\\Fixed", u"Other", {}},
      {"unknown folder", u"Music\\Nowhere", u"Other", {}},
      {"not writable", u"Music\\ReadOnly", u"Other", {{0xB3, 1, u"Music\\ReadOnly"}}},
  };
  for (const Case& c : cases) {
    Reset();
    EXPECT_EQ(RenameFolder(c.from, c.to), 0) << c.what;
    EXPECT_EQ(Reports(), c.reports) << c.what;
    EXPECT_TRUE(phone.sent.empty()) << c.what;
  }
}

// The details answer of a folder: three phone times, a size and the attribute word.
std::vector<uint8_t> FolderDetails(uint16_t attributeWord) {
  kivold::Body b;
  b.B(0x01);
  for (int i = 0; i < 3; ++i) b.W(2024).B(1).B(2).B(3).B(4).B(5).B(0);
  return b.D(0).W(attributeWord);
}

TEST_F(RenameTest, CreateKeepsToTheMemoryLimits) {
  struct Case {
    std::u16string path;
    bool sent;
  };
  const Case cases[] = {
      {u"Music\\a\\b\\c\\d\\e", true},                      // internal depth 6
      {u"Music\\a\\b\\c\\d\\e\\f", false},                  // one more
      {u"Memory Card\\a\\b\\c", true},                      // card depth 4
      {u"Memory Card\\a\\b\\c\\d", false},
      {u"Music\\" + std::u16string(32, u'n'), true},        // internal folder names up to 32
      {u"Music\\" + std::u16string(33, u'n'), false},
      {u"Memory Card\\" + std::u16string(40, u'n'), true},  // card folder names up to 40
      {u"", false},
  };
  for (const Case& c : cases) {
    Reset();
    phone.Answer({0x01});
    phone.Answer(FolderDetails(0));
    EXPECT_EQ(CreatePhoneDirectory(K(c.path), window.wnd), c.sent ? 1 : 0) << c.path.size();
    EXPECT_EQ(!phone.sent.empty(), c.sent) << c.path.size();
    phone.answers.clear();
    phone.echo.clear();
  }
}

TEST_F(RenameTest, CreatedFolderCountsAsListedAndEmpty) {
  phone.Answer({0x01});
  phone.Answer(FolderDetails(0x0400));  // renamable
  EXPECT_EQ(CreatePhoneDirectory(K(u"Music\\Sub\\Fresh"), window.wnd), 1);
  ASSERT_EQ(phone.sent.size(), 2u);
  EXPECT_EQ(phone.sent[0].code, kCreate);
  EXPECT_THAT(Texts(phone.sent[0].body), ElementsAre(u"Music/Sub/Fresh"));
  EXPECT_EQ(phone.sent[1].code, kFileInfo);
  EXPECT_THAT(Texts(phone.sent[1].body), ElementsAre(u"Music/Sub/Fresh", u""));
  const kiv::PhoneFolderInfo* fresh = manager().FindFolder(u"Music\\Sub\\Fresh");
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(fresh->m_strUpFolderName, u"Music\\Sub");
  EXPECT_THAT(fresh->m_arrTypes, ElementsAre(u"mp3", u"jpg"));
  EXPECT_EQ(fresh->m_bListed, 1);
  EXPECT_EQ(fresh->m_bSubOpened, 1);
  EXPECT_EQ(fresh->m_nFreeSize, -1);
  EXPECT_EQ(fresh->m_dwAttr & kiv::kFolderPreListed, 0u);
  EXPECT_NE(fresh->m_dwAttr & kiv::kFolderRenamable, 0u);
  EXPECT_NE(fresh->m_dwAttr & kiv::kFolderWritable, 0u);
  EXPECT_TRUE(window.messages.empty());
}

// The create request keeps the last result at 1, so not even a busy phone's 0x53 is reported.
TEST_F(RenameTest, CreateFailuresAreNotReported) {
  for (uint8_t result : {0x53, 0x02, 0x27}) {
    Reset();
    phone.Answer({result});
    EXPECT_EQ(CreatePhoneDirectory(K(u"Music\\Sub\\Fresh"), window.wnd), 0) << int(result);
    EXPECT_TRUE(Reports().empty()) << int(result);
    EXPECT_EQ(kiv::CurrentManager()->m_PFileMan.GetResult(), 1) << int(result);
    EXPECT_EQ(manager().FindFolder(u"Music\\Sub\\Fresh"), nullptr) << int(result);
  }
}

}  // namespace
