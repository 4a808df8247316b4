// The operations on the folder tree against a scripted phone: delete, rename, create folder,
// the checks before a copy to the phone, and copies to the PC. For each: the checks and
// their reports, the request bytes, the tree afterwards, and a cancel between entries.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "filemanager/manager.hpp"
#include "platform/messages.hpp"
#include "platform/local_names.hpp"
#include "kivtest.hpp"
#include "platform/shell_path.hpp"

namespace {

using namespace kivtest;
using ::testing::ElementsAre;

class FileOps : public ::testing::Test {
 protected:
  void SetUp() override {
    Kiv_InitalizeU(window.wnd);
    // Packet 4096; internal: file name 64, folder name 32, path 255, depth 6; card: depth
    // 4, folder name 40, file name 80, path 200. mp3 may go both ways, jpg only to the PC,
    // jar only to the phone (up to 100 bytes), txt has no mode.
    phone.Answer(Body().B(0x01).D(0xFFFFFFFF).B(9).D(4096).D(64).T(u"mp3|3|0/jpg|1|500/jar|2|100/txt|0").D(32).D(255)
                     .B(6).B(1).B(4).D(40).D(80).D(200).T(u"Memory Card"));
    phone.Answer(Body().B(0x01).W(0).T(u"Music|3|mp3|jpg/Pictures|3/Memory Card|3"));
    ASSERT_EQ(Kiv_Connect(1, 0, window.wnd, 1), 1);
    for (auto& folder : manager().m_FolderInfos) folder.m_bListed = 1;
    AddFolder(u"Music\\Sub");  // inherits Music's types: mp3, jpg
    AddFile(u"Music\\Sub", u"a.mp3", 6);
    AddFolder(u"Music\\ReadOnly", 0x11);
    AddFile(u"Music\\ReadOnly", u"b.mp3");
    Reset();
  }
  void TearDown() override { kiv::DestroyCurrentManager(); }

  void Reset() {
    phone.Clear();
    window.seen.clear();
  }
  kiv::CPhoneFileManager& manager() { return *kiv::CurrentManager(); }
  // A listed folder under its parent's record with the given attributes.
  void AddFolder(const std::u16string& path, uint32_t attr = 0x1B) {
    auto& m = manager();
    kiv::PhoneFolderInfo record(m.FindFolder(kiv::PathRemoveFileSpec(path)), attr, path,
                                static_cast<int>(m.MemoryOf(path).maxDepth));
    record.m_bListed = 1;
    m.m_FolderInfos.push_back(std::move(record));
  }
  void AddFile(const std::u16string& folder, const std::u16string& name, int32_t size = 10, uint32_t attr = 0,
               int32_t localSize = 0) {
    manager().m_FileInfos.push_back(kiv::PhoneFileInfo{folder, name, size, localSize, 1, 2, 3, attr});
  }
  bool HasFile(std::u16string_view folder, std::u16string_view name) {
    return manager().FindFile(folder, name) != nullptr;
  }
  std::vector<std::vector<std::u16string>> RequestTexts() const {
    std::vector<std::vector<std::u16string>> out;
    for (const auto& p : phone.sent) out.push_back(Texts(p.body));
    return out;
  }

  PluggedPhone phone;
  Window window;
  TempDir cwd{"fileops", true};  // phone paths are looked up on the PC too
};

class Delete : public FileOps {
 protected:
  void SetUp() override {
    FileOps::SetUp();
    AddFile(u"Music\\Sub", u"locked.mp3", 10, kiv::kFileNotWritable);
    AddFolder(u"Music\\WithHiddenFolder");
    AddFolder(u"Music\\WithHiddenFolder\\secret", 0x1B | kiv::kFolderHidden);
    AddFolder(u"Music\\WithHiddenFile");
    AddFile(u"Music\\WithHiddenFile", u"h.mp3", 10, kiv::kFileHidden);
    AddFolder(u"Music\\Empty");
  }
  int Run(std::initializer_list<std::u16string> entries, std::optional<std::initializer_list<std::u16string>> kinds) {
    HostList sources(entries), kindList(kinds.value_or(std::initializer_list<std::u16string>{}));
    return Kiv_DeletePhoneFile(sources.get(), window.wnd, kinds ? kindList.get() : nullptr);
  }
};

TEST_F(Delete, ChecksAndPhoneFailuresStopWithTheirReports) {
  struct Case {
    const char* what;
    std::u16string entry;
    const char16_t* kind;  // null: no kind list
    std::optional<Bytes> answer;  // the phone's answer to the one request, if one is sent
    std::vector<Report> reports;
  };
  const Case cases[] = {
      {"fixed top-level folder", u"Music", nullptr, {}, {{0xBE, 0x80, u""}}},
      {"fixed folder among files", u"Music", u"1", {}, {{0xBE, 0x80, u""}}},
      {"read-only file", u"Music\\Sub\\locked.mp3", u"0", {}, {{0xC0, 1, u"Music\\Sub\\locked.mp3"}}},
      {"file in an unknown folder", u"Music\\Nowhere\\x.mp3", u"0", {}, {}},
      {"folder not writable", u"Music\\ReadOnly\\b.mp3", u"0", {}, {{0xB3, 1, u"Music\\ReadOnly"}}},
      {"hidden subfolder", u"Music\\WithHiddenFolder", u"1", {}, {{0xBF, 1, u"Music\\WithHiddenFolder"}}},
      {"hidden file", u"Music\\WithHiddenFile", u"1", {}, {}},
      {"phone busy", u"Music\\Sub\\a.mp3", u"0", Bytes{0x53}, {{0xAB, 0x80, u""}}},
      {"other result", u"Music\\Sub\\a.mp3", u"0", Bytes{0x27}, {{0xC1, 1, u"Music\\Sub\\a.mp3"}}},
      {"refused", u"Music\\Sub\\a.mp3", u"0", Bytes{}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Reset();
    if (c.answer) c.answer->empty() ? phone.Answer({}, 0, 0x72) : phone.Answer(*c.answer);
    EXPECT_EQ(c.kind ? Run({c.entry}, {{c.kind}}) : Run({c.entry}, std::nullopt), 0);
    EXPECT_EQ(window.Reports(), c.reports);
    EXPECT_EQ(phone.sent.size(), c.answer ? 1u : 0u);
  }
  EXPECT_EQ(manager().m_FileInfos.size(), 4u);  // nothing was forgotten
  Reset();
  EXPECT_EQ(Run({}, std::nullopt), 0);
  EXPECT_EQ(Kiv_DeletePhoneFile(nullptr, window.wnd, nullptr), 0);
  EXPECT_TRUE(phone.sent.empty());
  EXPECT_TRUE(window.seen.empty());
}

TEST_F(Delete, OneRequestPerEntryAndTheTreeFollows) {
  phone.Answer({0x01});
  phone.Answer({0x01});
  EXPECT_EQ(Run({u"Music\\Sub\\a.mp3", u"Music\\Empty"}, {{u"0", u"1"}}), 2);
  EXPECT_EQ(phone.Codes(), (std::vector<uint8_t>{0x09, 0x09}));
  EXPECT_THAT(RequestTexts(), ElementsAre(ElementsAre(u"Music/Sub", u"a.mp3"), ElementsAre(u"Music/Empty", u"")));
  EXPECT_FALSE(HasFile(u"Music\\Sub", u"a.mp3"));
  EXPECT_EQ(manager().FindFolder(u"Music\\Empty"), nullptr);
  EXPECT_NE(manager().FindFolder(u"Music\\Sub"), nullptr);
  EXPECT_TRUE(window.Reports().empty());
  EXPECT_EQ(window.Count(KIV_MSG_PROGRESS, 0), 0);  // progress goes by record pointer
  EXPECT_EQ(window.Progress().size(), 2u);

  // Without a kind list a file path is deleted as a folder; no file record is touched.
  Reset();
  phone.Answer({0x01});
  EXPECT_EQ(Run({u"Music\\Sub\\locked.mp3"}, std::nullopt), 1);
  EXPECT_THAT(RequestTexts(), ElementsAre(ElementsAre(u"Music/Sub/locked.mp3", u"")));
  EXPECT_TRUE(HasFile(u"Music\\Sub", u"locked.mp3"));

  // Earlier entries stay deleted when a later one fails.
  AddFile(u"Music\\Sub", u"a.mp3");
  Reset();
  phone.Answer({0x01});
  EXPECT_EQ(Run({u"Music\\Sub\\a.mp3", u"Music\\WithHiddenFile", u"Music\\Sub"}, {{u"0", u"1", u"1"}}), 1);
  EXPECT_EQ(phone.sent.size(), 1u);
  EXPECT_FALSE(HasFile(u"Music\\Sub", u"a.mp3"));
  EXPECT_TRUE(window.Reports().empty());
}

// The PC's copy of a phone folder decides the order: its contents first, deepest first.
TEST_F(Delete, PcFolderContentsComeFirstAndACancelEndsTheWalk) {
  fs::create_directories("Music/Sub/Deep");
  WriteFile("Music/Sub/x.mp3", "x");
  WriteFile("Music/Sub/Deep/y.mp3", "y");
  AddFolder(u"Music\\Sub\\Deep");
  for (int i = 0; i < 4; ++i) phone.Answer({0x01});
  EXPECT_EQ(Run({u"Music\\Sub"}, {{u"1"}}), 4);
  EXPECT_THAT(RequestTexts(), ElementsAre(ElementsAre(u"Music/Sub/Deep", u"y.mp3"), ElementsAre(u"Music/Sub/Deep", u""),
                                          ElementsAre(u"Music/Sub", u"x.mp3"), ElementsAre(u"Music/Sub", u"")));
  std::vector<std::u16string> texts;
  for (const auto& p : window.Progress()) texts.push_back(p.text1);
  EXPECT_THAT(texts, ElementsAre(u"Music\\Sub\\Deep\\y.mp3", u"[2/4] Music\\Sub\\Deep", u"Music\\Sub\\x.mp3",
                                 u"[4/4] Music\\Sub"));
  EXPECT_EQ(manager().FindFolder(u"Music\\Sub\\Deep"), nullptr);

  // A cancel with the first entry's progress: that entry still goes, the walk ends.
  Reset();
  phone.Answer({0x01});
  window.onProgress = [](const Message& m, std::size_t) {
    if (m.text1 == u"[1/2] Music\\Empty") Kiv_TransferCancle();
  };
  EXPECT_EQ(Run({u"Music\\Empty", u"Music\\ReadOnly"}, {{u"1", u"1"}}), 0);
  EXPECT_EQ(phone.sent.size(), 1u);
  EXPECT_EQ(window.seen.back().msg, KIV_MSG_CANCELLED);
  EXPECT_EQ(manager().FindFolder(u"Music\\Empty"), nullptr);
  EXPECT_NE(manager().FindFolder(u"Music\\ReadOnly"), nullptr);
}

class Rename : public FileOps {
 protected:
  void SetUp() override {
    FileOps::SetUp();
    AddFile(u"Music\\Sub", u"p.jpg");
    AddFolder(u"Pictures\\Any");  // no type list: every extension
    AddFile(u"Pictures\\Any", u"game.jar");
    AddFile(u"Pictures\\Any", u"note.txt");
    AddFolder(u"Music\\Fixed", 0x0F);  // not renamable
  }
  int Run(const std::u16string& from, const std::u16string& to, int folder = 0) {
    return Kiv_RenamePhoneFile(K(from), K(to), window.wnd, folder);
  }
};

// Checks refuse before any request; the phone's failures choose their report.
TEST_F(Rename, ChecksAndPhoneFailuresWithTheirReports) {
  const std::u16string longFolder = u"Music\\" + std::u16string(200, u'f');
  AddFolder(longFolder);
  AddFile(longFolder, u"a.mp3");
  struct Case {
    const char* what;
    std::u16string from, to;
    int folder;
    std::vector<Report> reports;
    std::optional<Bytes> answer = {};  // the phone's answer to the one request (empty: refused)
  };
  const Case cases[] = {
      {"name over the file-name limit", u"Music\\Sub\\a.mp3", std::u16string(61, u'n') + u".mp3", 0, {}},
      {"path over the path limit", longFolder + u"\\a.mp3", std::u16string(50, u'n') + u".mp3", 0, {}},
      {"unknown folder", u"Music\\Nowhere\\a.mp3", u"b.mp3", 0, {}},
      {"folder not writable", u"Music\\ReadOnly\\b.mp3", u"c.mp3", 0, {{0xB3, 1, u"Music\\ReadOnly"}}},
      {"type may not change its extension", u"Pictures\\Any\\game.jar", u"game.mp3", 0, {{0xC4, 1, u"jar"}}},
      {"name over the folder-name limit", u"Music\\Sub", std::u16string(33, u'n'), 1, {}},
      {"folder not renamable", u"Music\\Fixed", u"Other", 1, {}},
      {"unknown folder", u"Music\\Nowhere", u"Other", 1, {}},
      {"folder in a folder not writable", u"Music\\ReadOnly", u"Other", 1, {{0xB3, 1, u"Music\\ReadOnly"}}},
      {"file, phone busy", u"Music\\Sub\\a.mp3", u"b.mp3", 0, {{0xAB, 0x80, u""}}, Bytes{0x53}},
      {"file, other result", u"Music\\Sub\\a.mp3", u"b.mp3", 0, {{0xC5, 1, u"a.mp3"}}, Bytes{0x27}},
      {"file, refused", u"Music\\Sub\\a.mp3", u"b.mp3", 0, {}, Bytes{}},
      {"folder, phone busy", u"Music\\Sub", u"New", 1, {{0xAB, 0x80, u""}}, Bytes{0x53}},
      {"folder, other result", u"Music\\Sub", u"New", 1, {{0xC5, 1, u"Music\\Sub"}}, Bytes{0x27}},
      {"folder refuses the new extension", u"Music\\Sub\\p.jpg", u"p.txt", 0, {{0xB7, 8, u"txt"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Reset();
    manager().m_PFileMan.m_bRefused = 0;
    if (c.answer) c.answer->empty() ? phone.Answer({}, 0, 0x72) : phone.Answer(*c.answer);
    EXPECT_EQ(Run(c.from, c.to, c.folder), 0);
    EXPECT_EQ(window.Reports(), c.reports);
    EXPECT_EQ(phone.sent.size(), c.answer ? 1u : 0u);
    EXPECT_TRUE(HasFile(u"Music\\Sub", u"a.mp3"));
  }
  // The folder of a refused extension is named in text2.
  EXPECT_EQ(window.seen.at(0).text2, u"Music\\Sub");
}

TEST_F(Rename, FolderRenameMovesEverythingBelowAndNothingBeside) {
  AddFolder(u"Music\\Sub\\Deep");
  AddFolder(u"Music\\Sub\\Deep\\Deeper");
  AddFile(u"Music\\Sub\\Deep\\Deeper", u"z.mp3");
  AddFolder(u"Music\\Subway");  // shares the letters, not the component
  AddFile(u"Music\\Subway", u"w.mp3");
  phone.Answer({0x01});
  EXPECT_EQ(Run(u"Music\\Sub", u"Music\\New", 1), 1);
  EXPECT_THAT(RequestTexts(), ElementsAre(ElementsAre(u"Music/Sub", u"", u"New")));
  auto& m = manager();
  EXPECT_EQ(m.FindFolder(u"Music\\Sub"), nullptr);
  EXPECT_EQ(m.FindFolder(u"Music\\New")->m_strUpFolderName, u"Music");
  EXPECT_EQ(m.FindFolder(u"Music\\New\\Deep\\Deeper")->m_strUpFolderName, u"Music\\New\\Deep");
  EXPECT_TRUE(HasFile(u"Music\\New", u"a.mp3"));
  EXPECT_TRUE(HasFile(u"Music\\New\\Deep\\Deeper", u"z.mp3"));
  EXPECT_TRUE(HasFile(u"Music\\Subway", u"w.mp3"));
  EXPECT_EQ(m.FindFolder(u"Music\\Subway")->m_strUpFolderName, u"Music");
}

// The details answer of a folder: three phone times, a size and the attribute word.
Bytes FolderDetails(uint16_t attributeWord) {
  Body b;
  b.B(0x01);
  for (int i = 0; i < 3; ++i) b.W(2024).B(1).B(2).B(3).B(4).B(5).B(0);
  return b.D(0).W(attributeWord);
}

// The create request keeps the last result at 1, so not even a busy phone's 0x53 is reported.
TEST_F(Rename, CreateKeepsToTheMemoryLimitsAndReportsNothing) {
  struct Case {
    std::u16string path;
    bool sent;
    uint8_t result = 0x01;
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
      {u"Music\\x", true, 0x53},
      {u"Music\\x", true, 0x02},
      {u"Music\\x", true, 0x27},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path.size());
    Reset();
    phone.Answer({c.result});
    phone.Answer(FolderDetails(0));
    const bool made = c.sent && c.result == 0x01;
    EXPECT_EQ(CreatePhoneDirectory(K(c.path), window.wnd), made ? 1 : 0);
    EXPECT_EQ(!phone.sent.empty(), c.sent);
    EXPECT_TRUE(made || manager().FindFolder(c.path) == nullptr);
    EXPECT_EQ(manager().m_PFileMan.GetResult(), 1);
    EXPECT_TRUE(window.seen.empty());
  }
}

TEST_F(Rename, CreatedFolderCountsAsListedAndEmpty) {
  phone.Answer({0x01});
  phone.Answer(FolderDetails(0x0400));  // renamable
  EXPECT_EQ(CreatePhoneDirectory(K(u"Music\\Sub\\Fresh"), window.wnd), 1);
  EXPECT_EQ(phone.Codes(), (std::vector<uint8_t>{0x0B, 0x04}));
  EXPECT_THAT(RequestTexts(), ElementsAre(ElementsAre(u"Music/Sub/Fresh"), ElementsAre(u"Music/Sub/Fresh", u"")));
  const kiv::PhoneFolderInfo* fresh = manager().FindFolder(u"Music\\Sub\\Fresh");
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(fresh->m_strUpFolderName, u"Music\\Sub");
  EXPECT_THAT(fresh->m_arrTypes, ElementsAre(u"mp3", u"jpg"));
  EXPECT_EQ(std::tie(fresh->m_bListed, fresh->m_bSubOpened, fresh->m_nFreeSize), std::make_tuple(1, 1, int64_t{-1}));
  EXPECT_EQ(fresh->m_dwAttr & (kiv::kFolderPreListed | kiv::kFolderRenamable | kiv::kFolderWritable),
            kiv::kFolderRenamable | kiv::kFolderWritable);
}

// Sending to the phone: the checks made before any transfer (the transfers themselves run
// against the simulated phone).
TEST_F(FileOps, SendChecksRefuseBeforeAnyTransfer) {
  AddFolder(u"Music\\Locked", 0x0009);  // not writable
  AddFolder(u"Apps", 0x000B);
  fs::create_directory("dir");
  struct Case {
    const char* name;
    std::string file;  // empty: a PC folder
    std::u16string target;
    int result;
    std::vector<Report> reports;
  };
  const std::string longest(64 - 4, 'n');  // 64 units with ".mp3": the memory's limit
  const Case cases[] = {
      {"name one over the limit", longest + "n.mp3", u"Music", -7, {}},
      {"type may not go to the phone", "a.jpg", u"Music", -4, {}},
      {"folder refuses the extension", "a.jar", u"Music", -5, {}},
      {"unknown target", "a.mp3", u"Nowhere", 0, {{kiv::kReportNoRecord, 1, u"Nowhere"}}},
      {"target not writable", "a.mp3", u"Music\\Locked", 0, {{kiv::kReportFolderNotWritable, 0x80, u"Music\\Locked"}}},
      {"size over the type's limit", "big.jar", u"Apps", 0, {{kiv::kReportFileTooLarge, 0x40, u"jar"}}},
      {"a folder entry is passed over", "", u"Music", 1, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Reset();
    if (!c.file.empty()) WriteFile(c.file, std::string(c.file == "big.jar" ? 101 : 3, 'x'));
    phone.Answer(Body().B(0x01));  // the closing re-open of the target, when there is one (empty)
    HostList list({U16(cwd.path / (c.file.empty() ? "dir" : c.file))});
    EXPECT_EQ(Kiv_SendToPhone(list.get(), K(c.target), 0, 0, window.wnd), c.result);
    EXPECT_EQ(window.Reports(), c.reports);
    for (uint8_t code : phone.Codes()) EXPECT_EQ(code, 0x21);
  }
  HostList missing({u"Music\\missing.mp3"}), empty({});
  Reset();
  EXPECT_EQ(Kiv_SendToPhone(missing.get(), K(u"Pictures"), 1, 0, window.wnd), -8);
  EXPECT_TRUE(phone.sent.empty());
  EXPECT_EQ(Kiv_SendToPhone(empty.get(), K(u"Pictures"), 0, 0, window.wnd), 0);
}

class GetFiles : public FileOps {
 protected:
  void SetUp() override {
    FileOps::SetUp();
    fs::create_directories("out");
    target = U16(cwd.path / "out");
    AddFile(u"Music\\Sub", u"game.jar", 4);
    AddFolder(u"Music\\NoCopy", 0x1A);  // lacks 0x0001
    AddFile(u"Music\\NoCopy", u"c.mp3", 4);
  }
  int Run(std::initializer_list<std::u16string> items) {
    HostList list(items);
    return Kiv_SendToPC(list.get(), K(target), window.wnd);
  }
  // One piece answer: result, the echoed folder and name, total length, piece offset, the
  // value to echo back, the bytes.
  static Bytes Piece(std::u16string folder, std::u16string_view name, uint32_t total, uint32_t offset, uint32_t echo,
                     std::string_view data) {
    std::replace(folder.begin(), folder.end(), u'\\', u'/');
    return Body().B(0x01).S(folder).S(name).D(total).D(offset).D(echo).Raw(Bytes(data.begin(), data.end()));
  }
  // A whole file in one piece.
  void OnePiece(std::u16string_view folder, std::u16string_view name, std::string_view data) {
    phone.Answer(Piece(std::u16string(folder), name, static_cast<uint32_t>(data.size()), 0, 7, data), 0x20, 0xC6);
  }
  // The item progress records (one per file, continuing flag 0).
  std::vector<Message> Items() const {
    std::vector<Message> out;
    for (const auto& p : window.Progress())
      if (p.continuing == 0) out.push_back(p);
    return out;
  }
  std::size_t PcEntries() const {
    return static_cast<std::size_t>(std::distance(fs::recursive_directory_iterator(cwd.path), {}));
  }

  std::u16string target;
};

TEST_F(GetFiles, ChecksAndUnsafePhoneNamesRefuseWithTheirReports) {
  struct Case {
    const char* what;
    std::u16string entry;
    std::vector<Report> reports;
    std::size_t items;  // item progress messages before the stop
  };
  std::vector<Case> cases = {
      {"unknown file", u"Music\\Sub\\none.mp3", {{0xA9, 1, u"none.mp3"}}, 0},
      {"folder refuses copies", u"Music\\NoCopy\\c.mp3", {{0xD1, 1, u"Music\\NoCopy"}}, 0},
      {"type refuses copies", u"Music\\Sub\\game.jar", {{0xAA, 1, u"jar"}}, 1},
  };
  // Names from the phone that would leave the PC folder.
  for (std::u16string name : {u"..", u"../escape.mp3", u"C:escape.mp3", u"a/escape.mp3", u"bell\a.mp3", u"tab\t.mp3", u"."}) {
    AddFile(u"Music\\Sub", name, 4);
    cases.push_back({"unsafe name", u"Music\\Sub\\" + name, {{0xAB, 8, u"Music\\Sub\\" + name}}, SIZE_MAX});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(kiv::U16ToUtf8(c.entry));
    Reset();
    EXPECT_EQ(Run({c.entry}), 0);
    EXPECT_EQ(window.Reports(), c.reports);
    EXPECT_TRUE(c.items == SIZE_MAX || Items().size() == c.items);
    EXPECT_TRUE(phone.sent.empty());
  }
  Reset();
  HostList empty{};
  EXPECT_EQ(Kiv_SendToPC(empty.get(), K(target), window.wnd), 0);
  EXPECT_EQ(Kiv_SendToPC(nullptr, K(target), window.wnd), 0);
  target.clear();  // "\\name" would land in the root of the file system
  EXPECT_EQ(Run({u"Music\\Sub\\a.mp3"}), 0);
  EXPECT_TRUE(window.seen.empty());
  EXPECT_TRUE(phone.sent.empty());
  EXPECT_EQ(PcEntries(), 1u);  // just the out folder

  for (std::u16string_view name : {u"a.mp3", u"Song (live) .mp3", u"\u00e9t\u00e9.jpg", u".hidden", u"a.b.c", u"song..mp3",
                                   u"Hello...jpg", u"..\u2215x.mp3", u"CONSOLE.txt", u"com10.mp3", u"nul_.jpg", u"LPT.x"})
    EXPECT_TRUE(kiv::IsSafeLocalName(name)) << kiv::U16ToUtf8(name);
  // Also what a Windows PC could not write: its forbidden characters, streams, trailing dots
  // and spaces, device names with or without an extension.
  for (std::u16string_view name : {u"", u".", u"..", u"x\\y", u"x/y", u"d:", u"a\x7f", u"a:stream", u"a?.mp3", u"a*",
                                   u"<a>", u"a|b", u"say \"hi\"", u"song.", u"song ", u"CON", u"con.txt", u"Nul .mp3",
                                   u"aux", u"PRN.x.y", u"COM1", u"lpt9.mp3", u"COM\u00B9", u"conout$"})
    EXPECT_FALSE(kiv::IsSafeLocalName(name)) << kiv::U16ToUtf8(name);
}

TEST_F(GetFiles, CopiesAFileInPiecesAndMarksItPresent) {
  phone.Answer(Piece(u"Music\\Sub", u"a.mp3", 6, 0, 0xABCD, "abc"), 0x20, 0x06);
  phone.Answer(Piece(u"Music\\Sub", u"a.mp3", 6, 3, 0x1234, "def"), 0x20, 0xC6);
  EXPECT_EQ(Run({u"Music\\Sub\\a.mp3"}), 1);
  EXPECT_EQ(ReadText("out/a.mp3"), "abcdef");
  EXPECT_EQ(manager().FindFile(u"Music\\Sub", u"a.mp3")->m_nLocalSize, 6);
  EXPECT_EQ(phone.Codes(), (std::vector<uint8_t>{0x06, 0x20}));
  EXPECT_THAT(Texts(phone.sent[0].body), ElementsAre(u"Music/Sub", u"a.mp3"));
  // "psddd": folder, name, total, received so far, the echoed value.
  EXPECT_EQ(Bytes(phone.sent[1].body.end() - 12, phone.sent[1].body.end()), Bytes(Body().D(6).D(3).D(0xABCD)));
  const auto items = Items();
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].text1, u"Music\\Sub\\a.mp3");
  EXPECT_EQ(std::tie(items[0].itemCount, items[0].totalBytes), std::make_tuple(1, 6u));
  EXPECT_TRUE(window.Reports().empty());

  // A hidden file named directly is copied; a target folder of 250 units still receives
  // the file, also where the whole path takes the long form.
  AddFile(u"Music\\Sub", u"hidden.mp3", 2, kiv::kFileHidden);
  OnePiece(u"Music\\Sub", u"hidden.mp3", "hh");
  EXPECT_EQ(Run({u"Music\\Sub\\hidden.mp3"}), 1);
  EXPECT_EQ(ReadText("out/hidden.mp3"), "hh");
  fs::path longDir = cwd.path / std::string(250 - U16(cwd.path).size() - 1, 'L');
  fs::create_directories(longDir);
  target = U16(longDir);
  for (std::u16string name : {u"nnnnn.mp3", u"nnnnnn.mp3"}) {
    AddFile(u"Music\\Sub", name, 2);
    OnePiece(u"Music\\Sub", name, "hi");
    EXPECT_EQ(Run({u"Music\\Sub\\" + name}), 1);
    EXPECT_EQ(ReadText(longDir / kiv::U16ToUtf8(name)), "hi");
  }
}

TEST_F(GetFiles, FailedCopyLeavesNoFileAndSaysSo) {
  for (auto [result, report] : {std::pair<uint8_t, Report>{0x53, {0xAB, 0x80, u""}},
                                std::pair<uint8_t, Report>{0x27, {0xAB, 1, u"Music\\Sub\\a.mp3"}}}) {
    Reset();
    phone.Answer(Piece(u"Music\\Sub", u"a.mp3", 6, 0, 0, "abc"), 0x20, 0x06);
    phone.Answer(Body().B(result));
    EXPECT_EQ(Run({u"Music\\Sub\\a.mp3"}), 0);
    EXPECT_EQ(window.Reports(), std::vector<Report>{report});
    EXPECT_FALSE(fs::exists("out/a.mp3"));
    EXPECT_EQ(manager().FindFile(u"Music\\Sub", u"a.mp3")->m_nLocalSize, 0);
  }
}

// A phone folder that exists on the PC stands for its known visible files the PC lacks.
TEST_F(GetFiles, FolderEntryExpandsToItsMissingVisibleFiles) {
  fs::create_directories("Music/Sub");
  fs::create_directories("Music/Unknown");
  AddFolder(u"Music\\Sub\\Deep");
  AddFile(u"Music\\Sub", u"present.mp3", 3, 0, 3);
  AddFile(u"Music\\Sub", u"hidden.mp3", 3, kiv::kFileHidden);
  AddFile(u"Music\\Sub\\Deep", u"d.mp3", 5);
  manager().FindFile(u"Music\\Sub", u"game.jar")->m_nLocalSize = 4;
  // Inserted after the folder in the reverse of the tree's order: d.mp3, then a.mp3.
  OnePiece(u"Music\\Sub\\Deep", u"d.mp3", "ddddd");
  OnePiece(u"Music\\Sub", u"a.mp3", "aaaaaa");
  EXPECT_EQ(Run({u"Music\\Sub"}), 2);
  EXPECT_THAT(RequestTexts(), ElementsAre(ElementsAre(u"Music/Sub/Deep", u"d.mp3"), ElementsAre(u"Music/Sub", u"a.mp3")));
  const auto items = Items();
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(std::tie(items[1].itemCount, items[1].totalBytes), std::make_tuple(2, 11u));
  EXPECT_EQ(ReadText("out/d.mp3"), "ddddd");
  EXPECT_FALSE(fs::exists("out/hidden.mp3"));

  // Now every file of the folder is present: nothing is fetched again. A PC folder without
  // a phone record fails silently.
  Reset();
  Run({u"Music\\Sub"});
  EXPECT_EQ(Run({u"Music\\Unknown"}), 0);
  EXPECT_TRUE(phone.sent.empty());
  EXPECT_TRUE(window.seen.empty());

  // After a folder whose files are missing, an unknown file is dropped instead of reported.
  manager().FindFile(u"Music\\Sub", u"a.mp3")->m_nLocalSize = 0;
  OnePiece(u"Music\\Sub", u"a.mp3", "aaaaaa");
  EXPECT_EQ(Run({u"Music\\Sub", u"Music\\Sub\\none.mp3"}), 1);
  EXPECT_TRUE(window.Reports().empty());
}

}  // namespace
