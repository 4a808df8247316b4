// Copying phone files to a PC folder: validation against the folder tree, the folder and
// type checks, folder expansion, the upload's wire bytes, the local files it leaves, names
// from the phone that would leave the PC folder, and cancel between files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "file_tree_fixture.hpp"
#include "platform/local_names.hpp"

namespace {

namespace fs = std::filesystem;
using kivold::Body;
using kivold::HostList;
using kivold::K;
using kivold::Texts;
using ::testing::ElementsAre;

constexpr uint8_t kUploadStart = 0x06;
constexpr uint8_t kUploadAck = 0x20;
constexpr uint8_t kLastPiece = 0xC6;

std::u16string U16(const fs::path& p) { return kiv::Utf8ToU16(p.string()); }

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// One piece answer: result, the echoed folder ("p", slashes) and name ("s"), total length,
// piece offset, the value to echo back, the bytes.
std::vector<uint8_t> Piece(std::u16string_view folder, std::u16string_view name, uint32_t total, uint32_t offset,
                           uint32_t echo, std::string_view data, uint8_t result = 0x01) {
  Body b;
  b.B(result);
  std::u16string wire(folder);
  for (auto& c : wire)
    if (c == u'\\') c = u'/';
  b.B(static_cast<uint8_t>(wire.size() + 1)).T(wire);
  b.B(static_cast<uint8_t>(name.size() + 1)).T(name);
  b.D(total).D(offset).D(echo);
  for (char c : data) b.B(static_cast<uint8_t>(c));
  return b;
}

// A window that records what it is sent and can cancel at a chosen progress text.
struct GetWindow {
  struct Seen {
    uint32_t msg;
    uintptr_t code;  // report code (0 for other messages)
    uint32_t style;
    std::u16string text;
    int32_t itemCount;
    uint32_t bytesDone, totalBytes;
    int32_t continuing;
  };
  static intptr_t Proc(void* user, KivHwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    auto* self = static_cast<GetWindow*>(user);
    Seen seen{msg, 0, 0, {}, 0, 0, 0, 0};
    if (msg == KIV_MSG_REPORT) {
      auto* r = reinterpret_cast<const KivReport*>(lParam);
      seen.code = wParam;
      seen.style = r->style;
      seen.text = r->text1;
    } else if (msg == KIV_MSG_PROGRESS) {
      auto* p = reinterpret_cast<const KivProgress*>(wParam);
      seen.text = p->text;
      seen.itemCount = p->itemCount;
      seen.bytesDone = p->bytesDone;
      seen.totalBytes = p->totalBytes;
      seen.continuing = p->continuing;
      if (seen.text == self->cancelAt && p->continuing == 0) Kiv_TransferCancle();
    }
    self->seen.push_back(seen);
    return 0;
  }
  std::vector<std::tuple<uintptr_t, uint32_t, std::u16string>> Reports() const {
    std::vector<std::tuple<uintptr_t, uint32_t, std::u16string>> out;
    for (const auto& s : seen)
      if (s.msg == KIV_MSG_REPORT) out.emplace_back(s.code, s.style, s.text);
    return out;
  }
  // The item progress messages (one per file, continuing flag 0).
  std::vector<Seen> Items() const {
    std::vector<Seen> out;
    for (const auto& s : seen)
      if (s.msg == KIV_MSG_PROGRESS && s.continuing == 0) out.push_back(s);
    return out;
  }
  std::u16string cancelAt;
  std::vector<Seen> seen;
  KivHwnd wnd = Kiv_CreateWindow(&Proc, this);
  ~GetWindow() { Kiv_DestroyWindow(wnd); }
};

class GetFilesTest : public kivold::ScriptedTreeTest {
 protected:
  void SetUp() override {
    ScriptedTreeTest::SetUp();
    fs::create_directories(cwd.path() / "out");
    target = U16(cwd.path() / "out");
    AddFolder(u"Music\\Sub");
    AddFile(u"Music\\Sub", u"a.mp3", 6);
    AddFile(u"Music\\Sub", u"game.jar", 4);
    AddFolder(u"Music\\NoCopy", 0x1A);  // lacks 0x0001
    AddFile(u"Music\\NoCopy", u"c.mp3", 4);
  }
  int SendToPC(std::initializer_list<std::u16string> items) {
    HostList list(items);
    return Kiv_SendToPC(list.get(), K(target), host.wnd);
  }
  // Scripts a whole file in one piece.
  void OnePiece(std::u16string_view folder, std::u16string_view name, std::string_view data) {
    phone.Answer(Piece(folder, name, static_cast<uint32_t>(data.size()), 0, 7, data), -1, kLastPiece);
  }
  std::vector<fs::path> OutFiles() const {
    std::vector<fs::path> out;
    for (const auto& e : fs::recursive_directory_iterator(cwd.path())) out.push_back(e.path());
    return out;
  }

  kivold::TempCurrentFolder cwd{"get"};
  std::u16string target;
  GetWindow host;
};

TEST_F(GetFilesTest, ChecksRefuseWithTheirReports) {
  using Report = std::tuple<uintptr_t, uint32_t, std::u16string>;
  struct Case {
    const char* what;
    std::u16string entry;
    std::vector<Report> reports;
    std::size_t items;  // item progress messages before the stop
  };
  const Case cases[] = {
      {"unknown file", u"Music\\Sub\\none.mp3", {{0xA9, 1, u"none.mp3"}}, 0},
      {"folder refuses copies", u"Music\\NoCopy\\c.mp3", {{0xD1, 1, u"Music\\NoCopy"}}, 0},
      {"type refuses copies", u"Music\\Sub\\game.jar", {{0xAA, 1, u"jar"}}, 1},
  };
  for (const Case& c : cases) {
    host.seen.clear();
    Reset();
    EXPECT_EQ(SendToPC({c.entry}), 0) << c.what;
    EXPECT_EQ(host.Reports(), c.reports) << c.what;
    EXPECT_EQ(host.Items().size(), c.items) << c.what;
    EXPECT_TRUE(phone.sent.empty()) << c.what;
  }
  host.seen.clear();
  HostList empty{};
  EXPECT_EQ(Kiv_SendToPC(empty.get(), K(target), host.wnd), 0);
  EXPECT_EQ(Kiv_SendToPC(nullptr, K(target), host.wnd), 0);
  EXPECT_TRUE(host.seen.empty());
  EXPECT_EQ(OutFiles().size(), 1u);  // just the out folder
}

TEST_F(GetFilesTest, CopiesAFileInPiecesAndMarksItPresent) {
  phone.Answer(Piece(u"Music\\Sub", u"a.mp3", 6, 0, 0xABCD, "abc"), -1, kUploadStart);
  phone.Answer(Piece(u"Music\\Sub", u"a.mp3", 6, 3, 0x1234, "def"), -1, kLastPiece);
  EXPECT_EQ(SendToPC({u"Music\\Sub\\a.mp3"}), 1);
  EXPECT_EQ(ReadAll(cwd.path() / "out" / "a.mp3"), "abcdef");
  EXPECT_EQ(manager().FindFile(u"Music\\Sub", u"a.mp3")->m_nLocalSize, 6);

  ASSERT_EQ(phone.sent.size(), 2u);
  EXPECT_EQ(phone.sent[0].code, kUploadStart);
  EXPECT_THAT(Texts(phone.sent[0].body), ElementsAre(u"Music/Sub", u"a.mp3"));
  EXPECT_EQ(phone.sent[1].code, kUploadAck);
  // "psddd": folder, name, total, received so far, the echoed value.
  std::vector<uint8_t> numbers(phone.sent[1].body.end() - 12, phone.sent[1].body.end());
  EXPECT_EQ(numbers, std::vector<uint8_t>(Body().D(6).D(3).D(0xABCD)));

  auto items = host.Items();
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].text, u"Music\\Sub\\a.mp3");
  EXPECT_EQ(items[0].itemCount, 1);
  EXPECT_EQ(items[0].totalBytes, 6u);
  EXPECT_TRUE(host.Reports().empty());
}

TEST_F(GetFilesTest, FailedCopyLeavesNoFileAndSaysSo) {
  using Report = std::tuple<uintptr_t, uint32_t, std::u16string>;
  struct Case {
    const char* what;
    uint8_t result;
    std::vector<Report> reports;
  };
  const Case cases[] = {
      {"phone busy", 0x53, {{0xAB, 0x80, u""}}},
      {"other failure", 0x27, {{0xAB, 1, u"Music\\Sub\\a.mp3"}}},
  };
  for (const Case& c : cases) {
    host.seen.clear();
    Reset();
    phone.Answer(Piece(u"Music\\Sub", u"a.mp3", 6, 0, 0, "abc"), -1, kUploadStart);
    phone.Answer(Body().B(c.result));
    EXPECT_EQ(SendToPC({u"Music\\Sub\\a.mp3"}), 0) << c.what;
    EXPECT_EQ(host.Reports(), c.reports) << c.what;
    EXPECT_FALSE(fs::exists(cwd.path() / "out" / "a.mp3")) << c.what;
    EXPECT_EQ(manager().FindFile(u"Music\\Sub", u"a.mp3")->m_nLocalSize, 0) << c.what;
  }
}

TEST_F(GetFilesTest, PhoneNamesThatWouldLeaveThePcFolderAreRefused) {
  const std::u16string names[] = {u"..",          u"../escape.mp3", u"C:escape.mp3",
                                  u"a/escape.mp3", u"bell\a.mp3",    u"tab\t.mp3",     u"."};
  for (const auto& name : names) {
    AddFile(u"Music\\Sub", name, 4);
    host.seen.clear();
    Reset();
    const std::u16string entry = u"Music\\Sub\\" + name;
    EXPECT_EQ(SendToPC({entry}), 0) << kiv::U16ToUtf8(name);
    EXPECT_EQ(host.Reports(), (std::vector<std::tuple<uintptr_t, uint32_t, std::u16string>>{{0xAB, 8, entry}}))
        << kiv::U16ToUtf8(name);
    EXPECT_TRUE(phone.sent.empty()) << kiv::U16ToUtf8(name);
    EXPECT_EQ(OutFiles().size(), 1u) << kiv::U16ToUtf8(name);
  }
}

TEST_F(GetFilesTest, NameCheckAcceptsOrdinaryNames) {
  for (std::u16string_view name : {u"a.mp3", u"Song (live) .mp3", u"\u00e9t\u00e9.jpg", u".hidden", u"a.b.c", u"song..mp3", u"Hello...jpg", u"..\u2215x.mp3"})
    EXPECT_TRUE(kiv::IsSafeLocalName(name)) << kiv::U16ToUtf8(name);
  for (std::u16string_view name : {u"", u".", u"..", u"x\\y", u"x/y", u"d:", u"a\x7f"})
    EXPECT_FALSE(kiv::IsSafeLocalName(name)) << kiv::U16ToUtf8(name);
}

TEST_F(GetFilesTest, LongTargetFolderStillReceivesTheFile) {
  for (std::size_t nameLength : {9u, 10u}) {  // 250 + 10 takes the long-path form
    const std::u16string name = std::u16string(nameLength - 4, u'n') + u".mp3";
    std::u16string base = U16(cwd.path()) + u"/";
    fs::path longDir = cwd.path() / std::string(250 - base.size(), 'L');
    fs::create_directories(longDir);
    target = U16(longDir);
    ASSERT_EQ(target.size(), 250u);
    AddFile(u"Music\\Sub", name, 2);
    Reset();
    OnePiece(u"Music\\Sub", name, "hi");
    EXPECT_EQ(SendToPC({u"Music\\Sub\\" + name}), 1);
    EXPECT_EQ(ReadAll(longDir / kiv::U16ToUtf8(name)), "hi");
  }
}

TEST_F(GetFilesTest, FolderEntryExpandsToItsMissingVisibleFiles) {
  fs::create_directories("Music/Sub");  // the PC's copy of the phone folder
  AddFolder(u"Music\\Sub\\Deep");
  AddFile(u"Music\\Sub", u"present.mp3", 3, 0, 3);
  AddFile(u"Music\\Sub", u"hidden.mp3", 3, kiv::kFileHidden);
  AddFile(u"Music\\Sub\\Deep", u"d.mp3", 5);
  manager().FindFile(u"Music\\Sub", u"game.jar")->m_nLocalSize = 4;
  // Inserted after the folder in the reverse of the tree's order: d.mp3, then a.mp3.
  OnePiece(u"Music\\Sub\\Deep", u"d.mp3", "ddddd");
  OnePiece(u"Music\\Sub", u"a.mp3", "aaaaaa");
  EXPECT_EQ(SendToPC({u"Music\\Sub"}), 2);
  ASSERT_EQ(phone.sent.size(), 2u);
  EXPECT_THAT(Texts(phone.sent[0].body), ElementsAre(u"Music/Sub/Deep", u"d.mp3"));
  EXPECT_THAT(Texts(phone.sent[1].body), ElementsAre(u"Music/Sub", u"a.mp3"));
  auto items = host.Items();
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[1].itemCount, 2);
  EXPECT_EQ(items[1].totalBytes, 11u);
  EXPECT_EQ(ReadAll(cwd.path() / "out" / "d.mp3"), "ddddd");
  EXPECT_FALSE(fs::exists(cwd.path() / "out" / "hidden.mp3"));

  // Now every file of the folder is present: nothing is fetched again.
  Reset();
  host.seen.clear();
  SendToPC({u"Music\\Sub"});
  EXPECT_TRUE(phone.sent.empty());
  EXPECT_TRUE(host.seen.empty());
}

TEST_F(GetFilesTest, HiddenFileNamedDirectlyIsCopied) {
  AddFile(u"Music\\Sub", u"hidden.mp3", 2, kiv::kFileHidden);
  OnePiece(u"Music\\Sub", u"hidden.mp3", "hh");
  EXPECT_EQ(SendToPC({u"Music\\Sub\\hidden.mp3"}), 1);
  EXPECT_EQ(ReadAll(cwd.path() / "out" / "hidden.mp3"), "hh");
}

TEST_F(GetFilesTest, ValidationStopsAtAFolderThatIsNotFullyPresent) {
  fs::create_directories("Music/Sub");
  fs::create_directories("Music/Unknown");
  // A PC folder without a phone record fails silently.
  EXPECT_EQ(SendToPC({u"Music\\Unknown"}), 0);
  EXPECT_TRUE(host.seen.empty());
  // After a folder whose files are missing, an unknown file is dropped instead of reported.
  manager().FindFile(u"Music\\Sub", u"game.jar")->m_nLocalSize = 4;
  OnePiece(u"Music\\Sub", u"a.mp3", "aaaaaa");
  EXPECT_EQ(SendToPC({u"Music\\Sub", u"Music\\Sub\\none.mp3"}), 1);
  EXPECT_TRUE(host.Reports().empty());
}

TEST_F(GetFilesTest, CancelBetweenFilesKeepsWhatWasCopied) {
  AddFile(u"Music\\Sub", u"b.mp3", 2);
  host.cancelAt = u"Music\\Sub\\a.mp3";
  // The cancel comes with the first file's progress; that file still completes.
  OnePiece(u"Music\\Sub", u"a.mp3", "aaaaaa");
  EXPECT_EQ(SendToPC({u"Music\\Sub\\a.mp3", u"Music\\Sub\\b.mp3"}), 0);
  EXPECT_EQ(host.seen.back().msg, KIV_MSG_CANCELLED);
  EXPECT_EQ(phone.sent.size(), 1u);
  EXPECT_EQ(manager().FindFile(u"Music\\Sub", u"a.mp3")->m_nLocalSize, 6);
  EXPECT_FALSE(fs::exists(cwd.path() / "out" / "b.mp3"));
  EXPECT_TRUE(host.Reports().empty());
}

}  // namespace

namespace {

TEST_F(GetFilesTest, WithoutAPcFolderNothingIsFetched) {
  target.clear();  // "\\name" would land in the root of the file system
  EXPECT_EQ(SendToPC({u"Music\\Sub\\a.mp3"}), 0);
  EXPECT_TRUE(phone.sent.empty());
  EXPECT_TRUE(host.Items().empty());
}

}  // namespace
