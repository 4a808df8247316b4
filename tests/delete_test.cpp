// Deleting phone files and folders: the checks and their reports, the order of the delete
// requests (contents before folders), the tree after the walk, and cancel between entries.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "file_tree_fixture.hpp"

namespace {

using kivold::HostList;
using kivold::Texts;
using ::testing::ElementsAre;
using Report = std::tuple<uintptr_t, uint32_t, std::u16string>;

constexpr uint8_t kDelete = 0x09;

class DeleteTest : public kivold::ScriptedTreeTest {
 protected:
  void SetUp() override {
    ScriptedTreeTest::SetUp();
    AddFolder(u"Music\\Sub");
    AddFile(u"Music\\Sub", u"a.mp3");
    AddFile(u"Music\\Sub", u"locked.mp3", 10, kiv::kFileNotWritable);
    AddFolder(u"Music\\ReadOnly", 0x11);
    AddFile(u"Music\\ReadOnly", u"b.mp3");
    AddFolder(u"Music\\WithHiddenFolder");
    AddFolder(u"Music\\WithHiddenFolder\\secret", 0x1B | kiv::kFolderHidden);
    AddFolder(u"Music\\WithHiddenFile");
    AddFile(u"Music\\WithHiddenFile", u"h.mp3", 10, kiv::kFileHidden);
    AddFolder(u"Music\\Empty");
  }
  // Phone paths are looked up on the PC too; keep them from meeting the build folder.
  kivold::TempCurrentFolder cwd{"delete"};
};

TEST_F(DeleteTest, ChecksStopTheWalkWithTheirReports) {
  struct Case {
    const char* what;
    std::u16string entry;
    const char16_t* kind;  // null: no kind list
    std::vector<Report> reports;
  };
  const Case cases[] = {
      {"fixed top-level folder", u"Music", nullptr, {{0xBE, 0x80, u""}}},
      {"fixed folder among files", u"Music", u"1", {{0xBE, 0x80, u""}}},
      {"read-only file", u"Music\\Sub\\locked.mp3", u"0", {{0xC0, 1, u"Music\\Sub\\locked.mp3"}}},
      {"file in an unknown folder", u"Music\\Nowhere\\x.mp3", u"0", {}},
      {"file in a folder that is not writable", u"Music\\ReadOnly\\b.mp3", u"0", {{0xB3, 1, u"Music\\ReadOnly"}}},
      {"folder with a hidden subfolder", u"Music\\WithHiddenFolder", u"1",
       {{0xBF, 1, u"Music\\WithHiddenFolder"}}},
      {"folder with a hidden file", u"Music\\WithHiddenFile", u"1", {}},
  };
  for (const Case& c : cases) {
    Reset();
    HostList sources{c.entry};
    HostList kinds{c.kind ? std::u16string(c.kind) : std::u16string()};
    EXPECT_EQ(Kiv_DeletePhoneFile(sources.get(), window.wnd, c.kind ? kinds.get() : nullptr), 0) << c.what;
    EXPECT_EQ(Reports(), c.reports) << c.what;
    EXPECT_TRUE(phone.sent.empty()) << c.what;
  }
  EXPECT_EQ(manager().m_FileInfos.size(), 4u);  // nothing was forgotten
}

TEST_F(DeleteTest, PhoneFailuresChooseTheirReport) {
  struct Case {
    const char* what;
    std::vector<uint8_t> answer;
    int cls, code;
    std::vector<Report> reports;
  };
  const Case cases[] = {
      {"phone busy", {0x53}, -1, -1, {{0xAB, 0x80, u""}}},
      {"other result", {0x27}, -1, -1, {{0xC1, 1, u"Music\\Sub\\a.mp3"}}},
      {"refused", {}, 0, 0x72, {}},
  };
  for (const Case& c : cases) {
    Reset();
    phone.Answer(c.answer, c.cls, c.code);
    HostList sources{u"Music\\Sub\\a.mp3"};
    HostList kinds{u"0"};
    EXPECT_EQ(Kiv_DeletePhoneFile(sources.get(), window.wnd, kinds.get()), 0) << c.what;
    EXPECT_EQ(Reports(), c.reports) << c.what;
    ASSERT_EQ(phone.sent.size(), 1u) << c.what;
    EXPECT_NE(manager().FindFile(u"Music\\Sub", u"a.mp3"), nullptr) << c.what;
  }
}

TEST_F(DeleteTest, FilesAndFoldersGoOneRequestEachAndLeaveTheTree) {
  phone.Answer({0x01});
  phone.Answer({0x01});
  HostList sources{u"Music\\Sub\\a.mp3", u"Music\\Empty"};
  HostList kinds{u"0", u"1"};
  EXPECT_EQ(Kiv_DeletePhoneFile(sources.get(), window.wnd, kinds.get()), 2);
  ASSERT_EQ(phone.sent.size(), 2u);
  EXPECT_EQ(phone.sent[0].code, kDelete);
  EXPECT_THAT(Texts(phone.sent[0].body), ElementsAre(u"Music/Sub", u"a.mp3"));
  EXPECT_THAT(Texts(phone.sent[1].body), ElementsAre(u"Music/Empty", u""));
  EXPECT_EQ(manager().FindFile(u"Music\\Sub", u"a.mp3"), nullptr);
  EXPECT_EQ(manager().FindFolder(u"Music\\Empty"), nullptr);
  EXPECT_NE(manager().FindFolder(u"Music\\Sub"), nullptr);
  EXPECT_TRUE(Reports().empty());
  EXPECT_EQ(window.Count(KIV_MSG_PROGRESS, 0), 0);  // progress goes by record pointer
}

TEST_F(DeleteTest, WithoutKindListAFilePathIsDeletedAsAFolder) {
  phone.Answer({0x01});
  HostList sources{u"Music\\Sub\\a.mp3"};
  EXPECT_EQ(Kiv_DeletePhoneFile(sources.get(), window.wnd, nullptr), 1);
  ASSERT_EQ(phone.sent.size(), 1u);
  EXPECT_THAT(Texts(phone.sent[0].body), ElementsAre(u"Music/Sub/a.mp3", u""));
  EXPECT_NE(manager().FindFile(u"Music\\Sub", u"a.mp3"), nullptr);  // no file record was touched
}

TEST_F(DeleteTest, EarlierEntriesStayDeletedWhenALaterOneFails) {
  phone.Answer({0x01});
  HostList sources{u"Music\\Sub\\a.mp3", u"Music\\WithHiddenFile", u"Music\\Empty"};
  HostList kinds{u"0", u"1", u"1"};
  EXPECT_EQ(Kiv_DeletePhoneFile(sources.get(), window.wnd, kinds.get()), 1);  // the walk ended at entry 1
  EXPECT_EQ(phone.sent.size(), 1u);
  EXPECT_EQ(manager().FindFile(u"Music\\Sub", u"a.mp3"), nullptr);
  EXPECT_NE(manager().FindFolder(u"Music\\Empty"), nullptr);
  EXPECT_TRUE(Reports().empty());
}

TEST_F(DeleteTest, EmptyListDoesNothing) {
  HostList sources{};
  EXPECT_EQ(Kiv_DeletePhoneFile(sources.get(), window.wnd, nullptr), 0);
  EXPECT_EQ(Kiv_DeletePhoneFile(nullptr, window.wnd, nullptr), 0);
  EXPECT_TRUE(phone.sent.empty());
  EXPECT_TRUE(window.messages.empty());
}

// A window that records progress texts and cancels when it sees the given one.
struct ProgressWindow {
  static intptr_t Proc(void* user, KivHwnd, uint32_t msg, uintptr_t wParam, intptr_t) {
    auto* self = static_cast<ProgressWindow*>(user);
    self->messages.push_back(msg);
    if (msg == KIV_MSG_PROGRESS) {
      std::u16string text(reinterpret_cast<const KivProgress*>(wParam)->text);
      self->texts.push_back(text);
      if (text == self->cancelAt) Kiv_TransferCancle();
    }
    return 0;
  }
  std::u16string cancelAt;
  std::vector<uint32_t> messages;
  std::vector<std::u16string> texts;
  KivHwnd wnd = Kiv_CreateWindow(&Proc, this);
  ~ProgressWindow() { Kiv_DestroyWindow(wnd); }
};

TEST_F(DeleteTest, PcFolderContentsComeFirstDeepestFirst) {
  namespace fs = std::filesystem;
  fs::create_directories("Music/Sub/Deep");
  std::ofstream("Music/Sub/x.mp3") << "x";
  std::ofstream("Music/Sub/Deep/y.mp3") << "y";
  AddFolder(u"Music\\Sub\\Deep");
  for (int i = 0; i < 4; ++i) phone.Answer({0x01});
  ProgressWindow progress;
  HostList sources{u"Music\\Sub"};
  HostList kinds{u"1"};
  EXPECT_EQ(Kiv_DeletePhoneFile(sources.get(), progress.wnd, kinds.get()), 4);
  ASSERT_EQ(phone.sent.size(), 4u);
  EXPECT_THAT(Texts(phone.sent[0].body), ElementsAre(u"Music/Sub/Deep", u"y.mp3"));
  EXPECT_THAT(Texts(phone.sent[1].body), ElementsAre(u"Music/Sub/Deep", u""));
  EXPECT_THAT(Texts(phone.sent[2].body), ElementsAre(u"Music/Sub", u"x.mp3"));
  EXPECT_THAT(Texts(phone.sent[3].body), ElementsAre(u"Music/Sub", u""));
  EXPECT_THAT(progress.texts, ElementsAre(u"Music\\Sub\\Deep\\y.mp3", u"[2/4] Music\\Sub\\Deep", u"Music\\Sub\\x.mp3",
                                          u"[4/4] Music\\Sub"));
  EXPECT_EQ(manager().FindFolder(u"Music\\Sub"), nullptr);
  EXPECT_EQ(manager().FindFolder(u"Music\\Sub\\Deep"), nullptr);
}

TEST_F(DeleteTest, CancelBetweenEntriesEndsTheWalkAndTellsTheHost) {
  phone.Answer({0x01});
  ProgressWindow progress;
  progress.cancelAt = u"[1/2] Music\\Empty";
  HostList sources{u"Music\\Empty", u"Music\\Sub\\a.mp3"};
  HostList kinds{u"1", u"0"};
  EXPECT_EQ(Kiv_DeletePhoneFile(sources.get(), progress.wnd, kinds.get()), 0);
  EXPECT_EQ(phone.sent.size(), 1u);  // the entry under way still goes
  EXPECT_EQ(progress.messages.back(), KIV_MSG_CANCELLED);
  EXPECT_EQ(manager().FindFolder(u"Music\\Empty"), nullptr);
  EXPECT_NE(manager().FindFile(u"Music\\Sub", u"a.mp3"), nullptr);
}

}  // namespace
