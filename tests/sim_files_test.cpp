// A host's whole day against the simulated phone in this process, through the C API only:
// browse, read space, copy both ways with questions, copy and move on the phone, rename,
// create, delete, and resume a copy to the phone that a lost link cut short.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>

#include "filemanager/manager.hpp"
#include "link/phone_link.hpp"
#include "platform/text.hpp"

namespace {

namespace fs = std::filesystem;
using Texts = std::vector<std::u16string>;

std::u16string U(const fs::path& p) { return kiv::Utf8ToU16(p.string()); }
const KivChar* K(const std::u16string& t) { return t.c_str(); }

std::string Read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
// Whether the file holds exactly these bytes (without printing them on a mismatch).
::testing::AssertionResult Holds(const fs::path& p, const std::string& bytes) {
  std::string have = Read(p);
  if (have == bytes) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << p << " holds " << have.size() << " bytes, not the " << bytes.size()
                                       << " expected";
}
void Write(const fs::path& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }
std::string Pattern(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7919 + i / 251) & 0xFF);
  return s;
}

// A host window: answers questions from a table, counts reports and progress.
class HostWindow {
 public:
  HostWindow() : wnd(Kiv_CreateWindow(&Proc, this)) {}
  ~HostWindow() { Kiv_DestroyWindow(wnd); }
  HostWindow(const HostWindow&) = delete;
  HostWindow& operator=(const HostWindow&) = delete;
  KivHwnd wnd;
  std::map<int32_t, std::vector<intptr_t>> answers;  // question code -> replies in turn
  std::vector<int32_t> questions;
  std::vector<uintptr_t> reports;
  std::vector<std::u16string> reportTexts;
  int progress = 0;
  std::function<void(int)> onProgress;  // runs after each plain progress message
  std::string Describe() const {
    std::string out;
    for (std::size_t i = 0; i < reports.size(); ++i) {
      char code[16];
      std::snprintf(code, sizeof code, "0x%lX ", static_cast<unsigned long>(reports[i]));
      out += code + kiv::U16ToUtf8(reportTexts[i]) + "; ";
    }
    return out;
  }

 private:
  static intptr_t Proc(void* user, KivHwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    auto* self = static_cast<HostWindow*>(user);
    if (msg == KIV_MSG_REPORT) {
      self->reports.push_back(wParam);
      auto* r = reinterpret_cast<const KivReport*>(lParam);
      self->reportTexts.push_back(r && r->text1 ? r->text1 : u"");
    }
    if (msg != KIV_MSG_PROGRESS || !wParam) return 0;
    auto* r = reinterpret_cast<const KivProgress*>(wParam);
    if (!r->question) {
      ++self->progress;
      if (self->onProgress) self->onProgress(self->progress);
      return 0;
    }
    self->questions.push_back(r->question);
    auto& queue = self->answers[r->question];
    if (queue.empty()) return 0;
    intptr_t reply = queue.front();
    queue.erase(queue.begin());
    return reply;
  }
};

class StringList {
 public:
  StringList(std::initializer_list<std::u16string> texts) : list_(Kiv_StringList_New()) {
    for (const auto& t : texts) Kiv_StringList_Add(list_, t.c_str());
  }
  ~StringList() { Kiv_StringList_Free(list_); }
  StringList(const StringList&) = delete;
  StringList& operator=(const StringList&) = delete;
  KivStringList* get() const { return list_; }

 private:
  KivStringList* list_;
};

class SimFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base = fs::temp_directory_path() / ("kivmod-simfiles-" + std::to_string(::getpid()));
    fs::remove_all(base);
    phoneDir = base / "phone";
    pc = base / "pc";
    for (auto d : {phoneDir / "Music" / "Rock", phoneDir / "Music" / "Secret", phoneDir / "Pictures",
                   phoneDir / "Memory Card" / "Tunes", pc})
      fs::create_directories(d);
    Write(phoneDir / "Music" / "a.mp3", Pattern(5000));
    Write(phoneDir / "Music" / "Rock" / "b.mp3", Pattern(70000));
    Write(phoneDir / "Music" / "Secret" / "hidden.mp3", "x");
    Write(phoneDir / "Memory Card" / "Tunes" / "c.mp3", Pattern(10));
    ::setenv("KIVMOD_LINK", ("sim:" + phoneDir.string()).c_str(), 1);
    ::setenv("KIVMOD_WORKDIR", (base / "work").c_str(), 1);
    Configure("");
  }
  void TearDown() override {
    kiv::CurrentLink().Disconnect();
    kiv::DestroyCurrentManager();
    for (const char* v : {"KIVMOD_LINK", "KIVMOD_SIM_CONFIG", "KIVMOD_WORKDIR"}) ::unsetenv(v);
    fs::remove_all(base);
  }
  void Configure(const std::string& extra, int version = 9, int packet = 4096) {
    Write(base / "phone.xml", "<phone version=\"" + std::to_string(version) + "\" maxPacket=\"" +
                                  std::to_string(packet) + "\"><card name=\"Memory Card\" total=\"5000000000\"/>" +
                                  "<internal total=\"1000000\"/><folder path=\"Music\\Secret\" attr=\"0x0800\"/>" +
                                  "<folder path=\"Music\\Rock\" attr=\"0x0400\"/>" +
                                  extra + "</phone>");
    ::setenv("KIVMOD_SIM_CONFIG", (base / "phone.xml").c_str(), 1);
  }
  void Connect() {
    Kiv_InitalizeU(window.wnd);
    ASSERT_EQ(Kiv_Connect(1, 0, window.wnd, 1), 1);
  }
  void OpenAll() {
    for (const char16_t* top : {u"Music", u"Pictures", u"Memory Card"}) ASSERT_EQ(Kiv_OpenFolder(top, window.wnd), 1);
  }
  Texts Files(const std::u16string& folder) {
    KivFileInfoList* files = Kiv_FileInfoList_New();
    KivFolderInfoList* folders = Kiv_FolderInfoList_New();
    Kiv_GetList(K(folder), files, folders);
    Texts out;
    for (int i = 0; i < Kiv_FileInfoList_Count(files); ++i) {
      const KivFileInfo* f = Kiv_FileInfoList_At(files, i);
      out.push_back(std::u16string(f->name) + u":" + kiv::Utf8ToU16(std::to_string(f->size)));
    }
    for (int i = 0; i < Kiv_FolderInfoList_Count(folders); ++i)
      out.push_back(std::u16string(Kiv_FolderInfoList_At(folders, i)->folderName) + u"/");
    Kiv_FileInfoList_Free(files);
    Kiv_FolderInfoList_Free(folders);
    return out;
  }

  fs::path base, phoneDir, pc;
  HostWindow window;
};

TEST_F(SimFilesTest, BrowsesTheWholeTreeAndItsSpace) {
  Connect();
  OpenAll();
  OpenAll();  // twice: nothing doubles
  EXPECT_THAT(Files(u"Music"), ::testing::UnorderedElementsAre(u"a.mp3:5000", u"Music\\Rock/"));
  EXPECT_THAT(Files(u"Music\\Rock"), ::testing::ElementsAre(u"b.mp3:70000"));
  EXPECT_THAT(Files(u"Memory Card\\Tunes"), ::testing::ElementsAre(u"c.mp3:10"));
  EXPECT_EQ(kiv::CurrentManager()->FindFolder(u"Music\\Secret"), nullptr);
  EXPECT_TRUE(window.reports.empty()) << window.Describe();

  EXPECT_EQ(Kiv_GetTotalSpace(u"Memory Card", window.wnd), 5000000000);
  EXPECT_EQ(Kiv_UpdateFreeSize(u"Memory Card\\Tunes", window.wnd), 5000000000 - 10);
  EXPECT_EQ(Kiv_GetTotalSpace(u"Music", window.wnd), 1000000);
  EXPECT_EQ(Kiv_UpdateFreeSize(u"Music", window.wnd), 1000000 - 5000 - 70000 - 1);
}

TEST_F(SimFilesTest, OlderPhonesAnswerSpaceAsNumbersAndListInPieces) {
  Configure("", 8, 300);
  Connect();
  OpenAll();
  EXPECT_THAT(Files(u"Music\\Rock"), ::testing::ElementsAre(u"b.mp3:70000"));
  // A 32-bit answer cannot carry more: the phone gives its largest number.
  EXPECT_EQ(Kiv_GetTotalSpace(u"Memory Card", window.wnd), 0xFFFFFFFF);
  EXPECT_EQ(Kiv_GetTotalSpace(u"Pictures", window.wnd), 1000000);
}

TEST_F(SimFilesTest, CopiesBothWaysWithQuestions) {
  Connect();
  OpenAll();
  Write(pc / "new.mp3", Pattern(12345));
  Write(pc / "a.mp3", Pattern(777));
  StringList up({U(pc / "new.mp3"), U(pc / "a.mp3")});
  // a.mp3 exists on the phone: the host says no.
  window.answers[501] = {3};
  EXPECT_EQ(Kiv_SendToPhone(up.get(), u"Music", 0, 0, window.wnd), 2);
  EXPECT_TRUE(Holds(phoneDir / "Music" / "new.mp3", Pattern(12345)));
  EXPECT_TRUE(Holds(phoneDir / "Music" / "a.mp3", Pattern(5000)));
  // Now yes to all.
  window.answers[501] = {2};
  EXPECT_EQ(Kiv_SendToPhone(up.get(), u"Music", 0, 0, window.wnd), 2);
  EXPECT_THAT(window.questions, ::testing::ElementsAre(501, 501));
  EXPECT_TRUE(Holds(phoneDir / "Music" / "a.mp3", Pattern(777)));
  EXPECT_TRUE(Holds(phoneDir / "Music" / "new.mp3", Pattern(12345)));
  EXPECT_THAT(Files(u"Music"), ::testing::Contains(u"new.mp3:12345"));

  // Back to the PC: a file and a whole folder.
  fs::create_directories(pc / "back");
  StringList down({u"Music\\new.mp3", u"Music\\Rock\\b.mp3"});
  EXPECT_GT(Kiv_SendToPC(down.get(), K(U(pc / "back")), window.wnd), 0);
  EXPECT_TRUE(Holds(pc / "back" / "new.mp3", Pattern(12345)));
  EXPECT_TRUE(Holds(pc / "back" / "b.mp3", Pattern(70000)));
  EXPECT_GT(window.progress, 4);
  EXPECT_TRUE(window.reports.empty()) << window.Describe();
}

TEST_F(SimFilesTest, ChangesOnThePhone) {
  Connect();
  OpenAll();
  StringList copy({u"Music\\a.mp3"});
  EXPECT_EQ(Kiv_SendToPhone(copy.get(), u"Memory Card\\Tunes", 1, 0, window.wnd), 1);
  EXPECT_TRUE(Holds(phoneDir / "Memory Card" / "Tunes" / "a.mp3", Pattern(5000)));
  StringList move({u"Music\\Rock\\b.mp3"});
  EXPECT_EQ(Kiv_SendToPhone(move.get(), u"Memory Card\\Tunes", 1, 1, window.wnd), 1);
  EXPECT_FALSE(fs::exists(phoneDir / "Music" / "Rock" / "b.mp3"));
  EXPECT_TRUE(Holds(phoneDir / "Memory Card" / "Tunes" / "b.mp3", Pattern(70000)));

  EXPECT_EQ(CreatePhoneDirectory(u"Music\\Fresh", window.wnd), 1);
  EXPECT_TRUE(fs::is_directory(phoneDir / "Music" / "Fresh"));
  // Only a folder the phone marks renamable may be renamed.
  EXPECT_EQ(Kiv_RenamePhoneFile(u"Music\\Fresh", u"Music\\Renamed", window.wnd, 1), 0);
  EXPECT_EQ(Kiv_RenamePhoneFile(u"Music\\Rock", u"Music\\Jazz", window.wnd, 1), 1);
  EXPECT_TRUE(fs::is_directory(phoneDir / "Music" / "Jazz"));
  EXPECT_NE(kiv::CurrentManager()->FindFolder(u"Music\\Jazz"), nullptr);
  EXPECT_EQ(Kiv_RenamePhoneFile(u"Music\\a.mp3", u"Music\\z.mp3", window.wnd, 0), 1);
  EXPECT_TRUE(fs::exists(phoneDir / "Music" / "z.mp3"));

  StringList gone({u"Memory Card\\Tunes"});
  EXPECT_GT(Kiv_DeletePhoneFile(gone.get(), window.wnd, nullptr), 0);
  EXPECT_FALSE(fs::exists(phoneDir / "Memory Card" / "Tunes"));
  EXPECT_TRUE(window.reports.empty()) << window.Describe();
}

// An earlier entry of the same call can take away a later entry's record: by replacing the
// file of that name in the target, or by moving it. The later entry then has no record.
TEST_F(SimFilesTest, PhoneSourcesWhoseRecordAnEarlierEntryRemoved) {
  struct Case {
    const char* name;
    std::u16string first, second;
    int move;
  };
  const Case cases[] = {
      {"copy replaces the second source", u"Music\\a.mp3", u"Pictures\\a.mp3", 0},
      {"the same file moved twice", u"Music\\a.mp3", u"Music\\a.mp3", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Write(phoneDir / "Music" / "a.mp3", Pattern(5000));
    Write(phoneDir / "Pictures" / "a.mp3", "old");
    Connect();
    OpenAll();
    StringList list({c.first, c.second});
    EXPECT_EQ(Kiv_SendToPhone(list.get(), u"Pictures", 1, c.move, window.wnd), -8);
    EXPECT_TRUE(Holds(phoneDir / "Pictures" / "a.mp3", Pattern(5000)));
    kiv::CurrentLink().Disconnect();
  }
}

// A link lost between two files leaves the free size unknown: the next file is refused as
// not fitting, and nothing is recorded for a resume.
TEST_F(SimFilesTest, ALinkLostBetweenFilesLeavesNoRoomForTheNext) {
  Connect();
  ASSERT_EQ(Kiv_OpenFolder(u"Pictures", window.wnd), 1);
  Write(pc / "one.jpg", Pattern(100));
  Write(pc / "two.jpg", Pattern(100));
  // 1: the first announcement, 2: its only piece, 3: the second announcement.
  window.onProgress = [](int count) {
    if (count == 3) kiv::CurrentLink().Disconnect();
  };
  StringList up({U(pc / "one.jpg"), U(pc / "two.jpg")});
  EXPECT_EQ(Kiv_SendToPhone(up.get(), u"Pictures", 0, 0, window.wnd), -6);
  EXPECT_THAT(window.reports, ::testing::ElementsAre(0xBB));
  EXPECT_TRUE(Holds(phoneDir / "Pictures" / "one.jpg", Pattern(100)));
  EXPECT_FALSE(fs::exists(phoneDir / "Pictures" / "two.jpg"));
  EXPECT_FALSE(fs::exists(base / "work" / "ResumeFiles.txt"));
}

TEST_F(SimFilesTest, ResumesACopyThatTheLinkCut) {
  Connect();
  ASSERT_EQ(Kiv_OpenFolder(u"Pictures", window.wnd), 1);
  const std::string photo = Pattern(100000);
  Write(pc / "photo.jpg", photo);
  // The link goes away after the tenth piece the phone took.
  window.onProgress = [](int count) {
    if (count == 11) kiv::CurrentLink().Disconnect();
  };
  StringList up({U(pc / "photo.jpg")});
  EXPECT_EQ(Kiv_SendToPhone(up.get(), u"Pictures", 0, 0, window.wnd), 0);
  window.onProgress = nullptr;
  const auto partial = fs::file_size(phoneDir / "Pictures" / "photo.jpg");
  EXPECT_GT(partial, 0u);
  EXPECT_LT(partial, photo.size());
  EXPECT_EQ(Read(base / "work" / "ResumeFiles.txt"), (pc / "photo.jpg").string() + "\tPictures");

  // Next session: continue where the phone stopped.
  Connect();
  window.answers[502] = {1};
  EXPECT_EQ(Kiv_ResumfileDownLoad(window.wnd), 1);
  EXPECT_TRUE(Holds(phoneDir / "Pictures" / "photo.jpg", photo));
  EXPECT_EQ(Read(base / "work" / "ResumeFiles.txt"), std::string(520, ' '));
  // Nothing left to resume.
  window.reports.clear();
  EXPECT_EQ(Kiv_ResumfileDownLoad(window.wnd), 0);
  EXPECT_THAT(window.reports, ::testing::ElementsAre(0xC8));
}

// A resume text far longer than a blanked file (a deep PC folder of non-ASCII names, three
// bytes a letter in UTF-8) is read whole, so the copy continues from the right source.
TEST_F(SimFilesTest, ResumesFromALongSourcePath) {
  fs::path deep = pc;
  for (int i = 0; i < 6; ++i) {
    deep /= std::string(40, 'x');
    for (int k = 0; k < 20; ++k) deep += "\xe2\x82\xac";  // the euro sign
  }
  fs::create_directories(deep);
  const std::string photo = Pattern(50000);
  Write(deep / "photo.jpg", photo);
  Write(phoneDir / "Pictures" / "photo.jpg", photo.substr(0, 20000));
  const std::string text = (deep / "photo.jpg").string() + "\tPictures";
  ASSERT_GT(text.size(), 520u);
  fs::create_directories(base / "work");
  Write(base / "work" / "ResumeFiles.txt", text);
  Connect();
  window.answers[502] = {1};
  EXPECT_EQ(Kiv_ResumfileDownLoad(window.wnd), 1) << window.Describe();
  EXPECT_TRUE(Holds(phoneDir / "Pictures" / "photo.jpg", photo));
}

// A phone file copied or moved into the folder it already lives in is refused: it would be
// deleted as the file being replaced before being copied onto itself.
TEST_F(SimFilesTest, PhoneSourceIntoItsOwnFolderIsRefusedAndKept) {
  for (int move : {0, 1}) {
    SCOPED_TRACE(move);
    Write(phoneDir / "Music" / "a.mp3", Pattern(5000));
    Connect();
    OpenAll();
    window.answers[501] = {1};
    window.reports.clear();
    StringList list({u"Music\\a.mp3"});
    EXPECT_EQ(Kiv_SendToPhone(list.get(), u"Music", 1, move, window.wnd), 0);
    EXPECT_EQ(window.reports, std::vector<uintptr_t>{0xBD});
    EXPECT_TRUE(Holds(phoneDir / "Music" / "a.mp3", Pattern(5000)));
    kiv::CurrentLink().Disconnect();
  }
}

}  // namespace
