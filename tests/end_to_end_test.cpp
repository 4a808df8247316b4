// A host's sessions through the C API only, against the simulated phone in this process
// (KIVMOD_LINK=sim:FOLDER) and against kivmod-phonesim in another process over a
// pseudo-terminal or TCP: what the phone offers, locks, faults, damaged frames and lost
// links, browsing, space, copies both ways with questions, changes on the phone, and resume.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>

#include "filemanager/manager.hpp"
#include "kivtest.hpp"
#include "link/builtin_link.hpp"
#include "phonesim_process.hpp"
#include "platform/text.hpp"

namespace {

using namespace kivtest;
using ::testing::ElementsAre;
using Clock = std::chrono::steady_clock;

std::string With(std::string text, std::string_view from, std::string_view to) {
  return text.replace(text.find(from), from.size(), to);
}

std::string Pattern(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7919 + i / 251) & 0xFF);
  return s;
}

// Whether the file holds exactly these bytes (without printing them on a mismatch).
::testing::AssertionResult Holds(const fs::path& p, const std::string& bytes) {
  std::string have = ReadText(p);
  if (have == bytes) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << p << " holds " << have.size() << " bytes, not " << bytes.size();
}

constexpr char kPhone[] =
    R"(<phone model="kv sim 7" version="9" maxPacket="8192"><card name="Memory Card" depth="5" total="5000000000"/>)"
    R"(<internal total="1000000"/><types>mp3|3|0/jpg|3|0/jar|2|300000</types>)"
    R"(<root name="Music" mode="3" ext="mp3 wma"/><root name="Pictures" mode="3"/><root name="Memory Card" mode="3"/>)"
    R"(<folder path="Music\Secret" attr="0x0800"/><folder path="Music\Rock" attr="0x0400"/>)";

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    for (auto d : {"Music/Secret", "Pictures", "Memory Card/Tunes"}) fs::create_directories(phone / d);
    WriteFile(phone / "Music" / "a.mp3", Pattern(5000));
    WriteFile(phone / "Music" / "Rock" / "b.mp3", Pattern(70000));
    WriteFile(phone / "Music" / "Secret" / "hidden.mp3", "x");
    WriteFile(phone / "Memory Card" / "Tunes" / "c.mp3", Pattern(10));
    fs::create_directories(pc);
    Configure(kPhone);
  }
  void TearDown() override {
    kiv::CurrentLink().SetReqTimeout(kiv::kDefaultReqTimeoutMs);
    kiv::CurrentLink().Disconnect();  // the link outlives the manager
    kiv::DestroyCurrentManager();
  }
  void Configure(const std::string& phoneXml, const std::string& extra = "") {
    WriteFile(dir.path / "phone.xml", phoneXml + extra + "</phone>");
  }
  // Serves the phone folder the way named ("sim", or the program's options) and points the
  // library at it.
  void Serve(std::vector<std::string> how = {"sim"}) {
    server.reset();
    if (how[0] == "sim") {
      link.emplace("KIVMOD_LINK", ("sim:" + phone.string()).c_str());
    } else {
      how.insert(how.end(), {"--config", (dir.path / "phone.xml").string(), phone.string()});
      server = std::make_unique<PhonesimProcess>(how);
      link.emplace("KIVMOD_LINK", server->link().c_str());
    }
  }
  int Connect() {
    Kiv_InitalizeU(window.wnd);
    return Kiv_Connect(1, 0, window.wnd, 1);
  }
  void OpenAll() {
    for (const char16_t* top : {u"Music", u"Pictures", u"Memory Card"}) ASSERT_EQ(Kiv_OpenFolder(top, window.wnd), 1);
  }
  // The host's copies of a folder's files ("name:size") and subfolders ("path/").
  std::vector<std::u16string> Files(const std::u16string& folder) {
    KivFileInfoList* files = Kiv_FileInfoList_New();
    KivFolderInfoList* folders = Kiv_FolderInfoList_New();
    Kiv_GetList(K(folder), files, folders);
    std::vector<std::u16string> out;
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
  std::vector<uintptr_t> ReportCodes() const {
    std::vector<uintptr_t> out;
    for (const auto& [code, style, text] : window.Reports()) out.push_back(code);
    return out;
  }

  TempDir dir{"e2e"};
  fs::path phone = dir.path / "phone", pc = dir.path / "pc", work = dir.path / "work";
  ScopedEnv config{"KIVMOD_SIM_CONFIG", (dir.path / "phone.xml").c_str()};
  ScopedEnv workdir{"KIVMOD_WORKDIR", work.c_str()};
  std::optional<ScopedEnv> link;
  std::unique_ptr<PhonesimProcess> server;
  Window window;
};

TEST_F(EndToEnd, EveryLinkReachesWhatThePhoneOffers) {
  for (std::vector<std::string> how : {std::vector<std::string>{"sim"}, {"--pty"}, {"--tcp", "0"}}) {
    SCOPED_TRACE(how[0]);
    Serve(how);
    ASSERT_EQ(Connect(), 1);
    EXPECT_EQ(Kiv_GetFileManVersion(), 9);
    KivChar text[32] = {};
    Kiv_GetModelName(text);
    EXPECT_EQ(std::u16string(text), u"KV SIM 7");
    Kiv_GetExtraMemoryName(text);
    EXPECT_EQ(std::u16string(text), u"Memory Card");
    const KivTypeArray* types = Kiv_GetSupportFileExt();
    ASSERT_EQ(types->count, 3);
    EXPECT_EQ(std::tie(types->entries[2].maxSize, types->entries[2].rules), std::make_tuple(300000u, 2u));
    auto& m = *kiv::CurrentManager();
    EXPECT_EQ(m.m_nMaxPacketSize, 8192u);
    EXPECT_EQ(m.m_ExternalMemory.maxDepth, 5u);
    ASSERT_EQ(m.m_FolderInfos.size(), 3u);
    EXPECT_EQ(m.m_FolderInfos[0].m_arrTypes.size(), 2u);
    EXPECT_EQ(m.m_FolderInfos[2].m_sFolderName, u"Memory Card");
    EXPECT_EQ(Kiv_Disconnect(), 1);
    EXPECT_EQ(Connect(), 1);  // the phone serves the next connection on the same line
    kiv::CurrentLink().Disconnect();
  }
  // Without roots in its settings the phone offers its top-level folders; an old phone
  // answers the first handshake form.
  Configure("<phone version=\"0\">");
  Serve();
  ASSERT_EQ(Connect(), 1);
  EXPECT_EQ(Kiv_GetFileManVersion(), 0);
  EXPECT_EQ(kiv::CurrentManager()->m_InternalMemory.maxDepth, 1u);
  std::vector<std::u16string> roots;
  for (const auto& f : kiv::CurrentManager()->m_FolderInfos) roots.push_back(f.m_sFolderName);
  EXPECT_THAT(roots, ElementsAre(u"Memory Card", u"Music", u"Pictures"));
  EXPECT_TRUE(window.seen.empty());
}

TEST_F(EndToEnd, BluetoothAndSerialPortProfileReachTheSimulatedPhone) {
  Serve();
  const uint8_t address[6] = {0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6};
  Kiv_InitalizeU(window.wnd);
  ASSERT_EQ(Kiv_BTConnection(address, 0x17, window.wnd), 1);
  EXPECT_EQ(kiv::CurrentManager()->m_FolderInfos.size(), 3u);
  EXPECT_EQ(Kiv_BTDisconnection(), 1);
  ASSERT_EQ(Kiv_BTConnectionEx(address, 0x0D, window.wnd), 1);
  EXPECT_EQ(Kiv_BTDisconnectionEx(), 1);
  ASSERT_EQ(Kiv_SPP_BTConnect(address, 0x17, window.wnd), 1);
  EXPECT_EQ(Kiv_SPP_BTDisconnect(1), 1);
}

// Locks, refusals, bad answers, damaged frames and a lost link fail the connect quickly; a
// locked phone says so, a phone that cannot be reached is reported, the rest is quiet.
TEST_F(EndToEnd, ConnectFailuresEndQuicklyAndTheNextSessionWorks) {
  struct Case {
    std::vector<std::string> how;
    std::string fault;  // added to the phone's settings
    std::vector<uint32_t> messages;
    bool recovers;  // the next session over the same line connects
  };
  const Case cases[] = {
      {{"sim"}, R"(<fault code="2" kind="refuse"/>)", {}, false},
      {{"sim"}, R"(<fault code="1" kind="result" value="0x53"/>)", {}, false},
      {{"sim"}, R"(<fault code="1" kind="truncate" length="6"/>)", {}, false},
      {{"sim"}, "bad", {KIV_MSG_REPORT}, false},  // settings the phone cannot read
      {{"sim"}, "locked", {KIV_MSG_LOCKED}, false},
      {{"--pty", "--locked"}, "", {KIV_MSG_LOCKED}, false},
      {{"--pty", "--corrupt-after", "1"}, "", {}, true},
      {{"--pty", "--truncate-after", "1"}, "", {}, true},
      {{"--pty", "--drop-after", "1"}, "", {}, false},  // the handshake is answered, then the line goes
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.how.back() + c.fault);
    std::string phoneXml = kPhone;
    if (c.fault == "locked") phoneXml = With(phoneXml, "<phone", "<phone locked=\"1\"");
    if (c.fault == "bad") phoneXml = With(phoneXml, "version=\"9\"", "version='x'");
    Configure(phoneXml, c.fault.starts_with("<fault") ? c.fault : "");
    Serve(c.how);
    kiv::CurrentLink().SetReqTimeout(1000);
    window.seen.clear();
    auto start = Clock::now();
    EXPECT_EQ(Connect(), 0);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(15));
    std::vector<uint32_t> messages;
    for (const auto& m : window.seen) messages.push_back(m.msg);
    EXPECT_EQ(messages, c.messages);
    kiv::CurrentLink().Disconnect();
    EXPECT_TRUE(!c.recovers || Connect() == 1);
    EXPECT_TRUE(c.how.back() != "1" || c.recovers || server->Exited(3000));
    kiv::CurrentLink().Disconnect();
  }
  link.emplace("KIVMOD_LINK", "sim:/nonexistent/kivmod");
  window.seen.clear();
  EXPECT_EQ(Connect(), 0);
  EXPECT_EQ(ReportCodes(), std::vector<uintptr_t>{0xCF});
}

TEST_F(EndToEnd, CopiesBothWaysWithQuestionsAndChangesOnThePhone) {
  Serve({"--pty"});
  ASSERT_EQ(Connect(), 1);
  OpenAll();
  WriteFile(pc / "new.mp3", Pattern(12345));
  WriteFile(pc / "a.mp3", Pattern(777));
  HostList up({U16(pc / "new.mp3"), U16(pc / "a.mp3")});
  // a.mp3 exists on the phone: the host says no, then yes to all.
  window.answers[501] = {3, 2};
  EXPECT_EQ(Kiv_SendToPhone(up.get(), u"Music", 0, 0, window.wnd), 2);
  EXPECT_TRUE(Holds(phone / "Music" / "a.mp3", Pattern(5000)));
  EXPECT_EQ(Kiv_SendToPhone(up.get(), u"Music", 0, 0, window.wnd), 2);
  EXPECT_TRUE(Holds(phone / "Music" / "a.mp3", Pattern(777)));
  EXPECT_TRUE(Holds(phone / "Music" / "new.mp3", Pattern(12345)));
  EXPECT_THAT(Files(u"Music"), ::testing::Contains(u"new.mp3:12345"));
  HostList down({u"Music\\new.mp3", u"Music\\Rock\\b.mp3"});
  fs::create_directories(pc / "back");
  EXPECT_GT(Kiv_SendToPC(down.get(), K(U16(pc / "back")), window.wnd), 0);
  EXPECT_TRUE(Holds(pc / "back" / "new.mp3", Pattern(12345)));
  EXPECT_TRUE(Holds(pc / "back" / "b.mp3", Pattern(70000)));

  HostList copy({u"Music\\a.mp3"}), move({u"Music\\Rock\\b.mp3"});
  EXPECT_EQ(Kiv_SendToPhone(copy.get(), u"Memory Card\\Tunes", 1, 0, window.wnd), 1);
  EXPECT_TRUE(Holds(phone / "Memory Card" / "Tunes" / "a.mp3", Pattern(777)));
  EXPECT_EQ(Kiv_SendToPhone(move.get(), u"Memory Card\\Tunes", 1, 1, window.wnd), 1);
  EXPECT_FALSE(fs::exists(phone / "Music" / "Rock" / "b.mp3"));
  EXPECT_TRUE(Holds(phone / "Memory Card" / "Tunes" / "b.mp3", Pattern(70000)));
  EXPECT_EQ(CreatePhoneDirectory(u"Music\\Fresh", window.wnd), 1);
  EXPECT_TRUE(fs::is_directory(phone / "Music" / "Fresh"));
  // Only a folder the phone marks renamable may be renamed.
  EXPECT_EQ(Kiv_RenamePhoneFile(u"Music\\Fresh", u"Music\\Renamed", window.wnd, 1), 0);
  EXPECT_EQ(Kiv_RenamePhoneFile(u"Music\\Rock", u"Music\\Jazz", window.wnd, 1), 1);
  EXPECT_TRUE(fs::is_directory(phone / "Music" / "Jazz"));
  EXPECT_EQ(Kiv_RenamePhoneFile(u"Music\\a.mp3", u"Music\\z.mp3", window.wnd, 0), 1);
  EXPECT_TRUE(fs::exists(phone / "Music" / "z.mp3"));
  HostList gone({u"Memory Card\\Tunes"});
  EXPECT_GT(Kiv_DeletePhoneFile(gone.get(), window.wnd, nullptr), 0);
  EXPECT_FALSE(fs::exists(phone / "Memory Card" / "Tunes"));
  std::vector<int32_t> questions;
  for (const auto& m : window.seen)
    if (m.question) questions.push_back(m.question);
  EXPECT_THAT(questions, ElementsAre(501, 501));
  EXPECT_TRUE(window.Reports().empty());
}

// Phone sources that must not be copied keep their files: one whose record an earlier entry
// of the same call took away (by replacing the file of that name in the target, or by moving
// it), and one copied or moved into the folder it lives in (it would be deleted as the file
// being replaced before being copied onto itself).
TEST_F(EndToEnd, PhoneSourcesThatCannotBeCopiedKeepTheirFiles) {
  Serve();
  const std::tuple<std::vector<std::u16string>, std::u16string, int, int, std::vector<uintptr_t>> cases[] = {
      {{u"Music\\a.mp3", u"Pictures\\a.mp3"}, u"Pictures", 0, -8, {}},
      {{u"Music\\a.mp3", u"Music\\a.mp3"}, u"Pictures", 1, -8, {}},
      {{u"Music\\a.mp3"}, u"Music", 0, 0, {KIV_REPORT_SEND_FAILED}},
      {{u"Music\\a.mp3"}, u"Music", 1, 0, {KIV_REPORT_SEND_FAILED}},
  };
  for (const auto& [sources, target, move, result, reports] : cases) {
    SCOPED_TRACE(kiv::U16ToUtf8(target) + " " + std::to_string(sources.size()) + " " + std::to_string(move));
    WriteFile(phone / "Music" / "a.mp3", Pattern(5000));
    WriteFile(phone / "Pictures" / "a.mp3", "old");
    ASSERT_EQ(Connect(), 1);
    OpenAll();
    window.answers[KIV_QUESTION_OVERWRITE] = {KIV_ANSWER_REPLACE};
    window.seen.clear();
    HostList list(sources);
    EXPECT_EQ(Kiv_SendToPhone(list.get(), K(target), 1, move, window.wnd), result);
    EXPECT_EQ(ReportCodes(), reports);
    EXPECT_TRUE(Holds(phone / (result ? "Pictures" : "Music") / "a.mp3", Pattern(5000)));
    kiv::CurrentLink().Disconnect();
  }
}

// A cancel that comes with the question whether to replace the phone's older file returns
// -9 and leaves that file and no resume record.
TEST_F(EndToEnd, ACancelWithTheReplaceQuestionKeepsThePhoneFile) {
  Serve();
  ASSERT_EQ(Connect(), 1);
  OpenAll();
  WriteFile(pc / "a.mp3", Pattern(777));
  window.answers[KIV_QUESTION_OVERWRITE] = {KIV_ANSWER_REPLACE_ALL};
  window.onMessage = [](const Message& m) {
    if (m.question == KIV_QUESTION_OVERWRITE) Kiv_TransferCancle();
  };
  HostList up({U16(pc / "a.mp3")});
  EXPECT_EQ(Kiv_SendToPhone(up.get(), K(u"Music"), 0, 0, window.wnd), -9);
  EXPECT_TRUE(Holds(phone / "Music" / "a.mp3", Pattern(5000)));
  EXPECT_FALSE(fs::exists(work / "ResumeFiles.txt"));
}

// Lost links: between two files the free size is unknown, so the next file is refused as
// not fitting and nothing is kept for a resume; within a copy to the phone the copy is kept
// for a resume; within a copy to the PC the partial file does not count as copied.
TEST_F(EndToEnd, LostLinksAndResume) {
  Serve();
  ASSERT_EQ(Connect(), 1);
  ASSERT_EQ(Kiv_OpenFolder(u"Pictures", window.wnd), 1);
  WriteFile(pc / "one.jpg", Pattern(100));
  WriteFile(pc / "two.jpg", Pattern(100));
  // 1: the first announcement, 2: its only piece, 3: the second announcement.
  window.onProgress = [](const Message&, std::size_t n) {
    if (n == 3) kiv::CurrentLink().Disconnect();
  };
  HostList two({U16(pc / "one.jpg"), U16(pc / "two.jpg")});
  EXPECT_EQ(Kiv_SendToPhone(two.get(), u"Pictures", 0, 0, window.wnd), -6);
  EXPECT_EQ(ReportCodes(), std::vector<uintptr_t>{0xBB});
  EXPECT_TRUE(Holds(phone / "Pictures" / "one.jpg", Pattern(100)));
  EXPECT_FALSE(fs::exists(phone / "Pictures" / "two.jpg"));
  EXPECT_FALSE(fs::exists(work / "ResumeFiles.txt"));

  const std::string photo = Pattern(100000);
  WriteFile(pc / "photo.jpg", photo);
  ASSERT_EQ(Connect(), 1);
  ASSERT_EQ(Kiv_OpenFolder(u"Pictures", window.wnd), 1);
  window.seen.clear();
  window.onProgress = [](const Message&, std::size_t n) {
    if (n == 11) kiv::CurrentLink().Disconnect();  // after the tenth piece the phone took
  };
  HostList up({U16(pc / "photo.jpg")});
  EXPECT_EQ(Kiv_SendToPhone(up.get(), u"Pictures", 0, 0, window.wnd), 0);
  window.onProgress = nullptr;
  const auto partial = fs::file_size(phone / "Pictures" / "photo.jpg");
  EXPECT_GT(partial, 0u);
  EXPECT_LT(partial, photo.size());
  EXPECT_EQ(ReadText(work / "ResumeFiles.txt"), (pc / "photo.jpg").string() + "\tPictures");
  // Next session: continue where the phone stopped; then nothing is left to resume.
  ASSERT_EQ(Connect(), 1);
  window.answers[502] = {1};
  window.seen.clear();
  EXPECT_EQ(Kiv_ResumfileDownLoad(window.wnd), 1);
  EXPECT_TRUE(Holds(phone / "Pictures" / "photo.jpg", photo));
  EXPECT_EQ(ReadText(work / "ResumeFiles.txt"), std::string(520, ' '));
  EXPECT_EQ(Kiv_ResumfileDownLoad(window.wnd), 0);
  EXPECT_EQ(ReportCodes(), std::vector<uintptr_t>{0xC8});

  // A resume text far longer than a blanked file (a deep PC folder of non-ASCII names) is
  // read whole, so the copy continues from the right source.
  fs::path deep = pc;
  std::string euros;  // three bytes a letter in UTF-8
  for (int k = 0; k < 20; ++k) euros += "\xe2\x82\xac";
  for (int i = 0; i < 6; ++i) deep /= std::string(40, 'x') + euros;
  WriteFile(deep / "photo.jpg", photo);
  WriteFile(phone / "Pictures" / "photo.jpg", photo.substr(0, 20000));
  const std::string text = (deep / "photo.jpg").string() + "\tPictures";
  ASSERT_GT(text.size(), 520u);
  WriteFile(work / "ResumeFiles.txt", text);
  window.answers[502] = {1};
  EXPECT_EQ(Kiv_ResumfileDownLoad(window.wnd), 1);
  EXPECT_TRUE(Holds(phone / "Pictures" / "photo.jpg", photo));
}

}  // namespace
