// The folder tree and the phone file-system commands that fill it, against a scripted phone:
// listing pages and marks, file details and phone times, the XML listing into its work file,
// the single-request changes, the space answers in both forms, recursive opens and refreshes
// with their reports, and the records the host adds and reads.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ctime>

#include "filemanager/manager.hpp"
#include "platform/messages.hpp"
#include "kivtest.hpp"
#include "platform/text.hpp"
#include "protocol/pfileman.hpp"
#include "protocol/transactions.hpp"
#include "xml/xml_file_list.hpp"

namespace {

using namespace kivtest;
using ::testing::ElementsAre;

class Tree : public ::testing::Test {
 protected:
  void SetUp() override {
    Kiv_InitalizeU(window.wnd);
    phone.linkUp = true;
    m().m_nMaxPacketSize = 2048;
    m().m_InternalMemory = {64, 32, 255, 3};
    pfm().m_byVersion = 9;
    pfm().m_nVersion = 9;
    m().m_FolderInfos.push_back(kiv::PhoneFolderInfo(nullptr, 0x000B, u"Music", 3));
    m().m_FolderInfos.back().m_arrTypes = {u"mp3", u"WMA"};
  }
  void TearDown() override { kiv::DestroyCurrentManager(); }
  kiv::CPhoneFileManager& m() { return *kiv::CurrentManager(); }
  kiv::CPFileMan& pfm() { return m().m_PFileMan; }
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

  TempDir work{"tree"};
  ScopedEnv workdir{"KIVMOD_WORKDIR", work.path.string().c_str()};
  PluggedPhone phone;
  Window window;
};

// A binary listing page: result, next index, total, entry text.
Bytes Page(uint32_t next, uint32_t total, std::u16string_view text) { return Body().B(0x01).D(next).D(total).T(text); }

TEST_F(Tree, FolderListPagesMarksAndEndings) {
  phone.Answer(Page(3, 5, u"a.txt:Music>D:b.dat>S"));
  phone.Answer(Page(5, 5, u"::x>SD:plain:"));
  std::vector<kiv::PhoneListEntry> entries;
  ASSERT_EQ(pfm().GetFolderList(u"Music\\Rock", entries, 2048, 255), 1);
  std::vector<std::pair<std::u16string, uint32_t>> flat;
  for (const auto& e : entries) flat.emplace_back(e.m_strName, e.m_nFlags);
  EXPECT_EQ(flat, (decltype(flat){{u"a.txt", 1}, {u"Music", 2}, {u"b.dat", 5}, {u"x", 2}, {u"plain", 1}}));
  // Seven entries per page with capacity 2048 and allowance 255; "wwp" with "/" separators;
  // the second page starts at the next index.
  EXPECT_EQ(phone.Codes(), (std::vector<uint8_t>{0x03, 0x03}));
  EXPECT_EQ(phone.sent[0].body, Bytes(Body().W(0).W(7).B(11).T(u"Music/Rock")));
  EXPECT_EQ(phone.sent[1].body[0], 3);
  EXPECT_EQ(phone.waits, (std::vector<uint32_t>{30000, 5000, 30000, 5000}));

  struct Case {
    const char* name;
    std::vector<Bytes> pages;  // empty body: no answer
    int result;
    std::size_t entries, requests;
  };
  const Case cases[] = {
      {"empty folder", {Page(0, 0, u"")}, 1, 0, 1},
      {"repeat stops", {Page(2, 9, u"a:b"), Page(2, 9, u"c:d")}, 1, 2, 2},
      {"going back stops", {Page(4, 9, u"a:b"), Page(3, 9, u"c")}, 1, 2, 2},
      {"upper halves ignored", {Page(0x10002, 0x20002, u"a:b")}, 1, 2, 1},
      {"later page fails, entries kept", {Page(2, 9, u"a:b"), {}}, 0, 2, 2},
      {"page without numbers", {Body().B(0x01).D(1)}, 0, 0, 1},
      {"refused result", {Body().B(0x30)}, 0, 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    phone.Clear();
    for (const auto& p : c.pages) p.empty() ? phone.NoAnswer() : phone.Answer(p);
    entries.clear();
    EXPECT_EQ(pfm().GetFolderList(u"F", entries, 2048, 255), c.result);
    EXPECT_EQ(entries.size(), c.entries);
    EXPECT_EQ(phone.sent.size(), c.requests);
  }
  // Old phones: "P" counts the folder in bytes with the terminator; a tiny capacity still
  // asks for one entry.
  phone.Clear();
  pfm().m_nVersion = 1;
  phone.Answer(Page(0, 0, u""));
  ASSERT_EQ(pfm().GetFolderList(u"ab", entries, 17, 0), 1);
  EXPECT_EQ(phone.sent[0].body, (Bytes{0, 0, 1, 0, 6, 'a', 0, 'b', 0, 0, 0}));
}

Bytes Stamp(int year, int month, int day, int h = 12, int min = 0, int s = 0) {
  return Body().W(static_cast<uint16_t>(year)).B(uint8_t(month)).B(uint8_t(day)).B(uint8_t(h)).B(uint8_t(min)).B(uint8_t(s)).B(0x7F);
}
uint32_t Local(int year, int month, int day, int h = 12, int min = 0, int s = 0) {
  std::tm tm{};
  tm.tm_sec = s, tm.tm_min = min, tm.tm_hour = h, tm.tm_mday = day, tm.tm_mon = month - 1, tm.tm_year = year - 1900;
  tm.tm_isdst = -1;
  return static_cast<uint32_t>(std::mktime(&tm));
}

// File details: result, three phone times, the size, the attribute word (or less).
Bytes Details(uint32_t size, std::optional<uint16_t> word, std::size_t cut = 0) {
  Body b;
  b.B(0x01).Raw(Stamp(2020, 1, 10)).Raw(Stamp(2020, 2, 10)).Raw(Stamp(2020, 3, 10)).D(size);
  if (word) b.W(*word);
  if (cut) b.bytes.resize(cut);
  return b;
}

TEST_F(Tree, FileDetailsAndAttributeWords) {
  struct Case {
    const char16_t* name;
    Bytes answer;
    int result;
    uint32_t attributes;
  };
  const Case cases[] = {
      {u"f", Details(7, 0x0800 | 0x4000 | 0x8000 | 0x0080), 1, 0x0040 | 0x0080 | 0x8000},
      {u"f", Details(7, 0x0000), 1, 0},
      {u"f", Details(7, std::nullopt), 1, 0},      // 29 bytes: no word
      {u"f", Details(7, 0xFFFF, 30), 1, 0},        // 30 bytes: half a word
      {u"f", Details(7, std::nullopt, 28), 0, 0},  // the size is cut
      {u"", Details(0, 0x0000), 1, 0x0003 | 0x0008},
      {u"", Details(0, 0x4000 | 0x0400), 1, 0x0003 | 0x0008 | 0x0004},
      {u"", Details(0, 0x0400 | 0x0080), 1, 0x0003 | 0x0008 | 0x0010 | 0x0020},
      {u"", Details(0, 0x0800 | 0x8000), 1, 0x0003 | 0x0008 | 0x0044 | 0x8000},
      {u"", Details(0, std::nullopt), 1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(kiv::U16ToUtf8(c.name) + " " + std::to_string(c.answer.size()));
    phone.Answer(c.answer);
    int32_t size = -1;
    uint32_t t1 = 0, t2 = 0, t3 = 0, attributes = 0xDEAD;
    ASSERT_EQ(pfm().GetFileInfo(u"A\\B", c.name, &size, t1, t2, t3, attributes), c.result);
    if (!c.result) continue;
    EXPECT_EQ(attributes, c.attributes);
    EXPECT_EQ(size, c.name[0] ? 7 : 0);
    EXPECT_EQ(std::tie(t1, t2, t3), std::make_tuple(Local(2020, 1, 10), Local(2020, 2, 10), Local(2020, 3, 10)));
  }
  EXPECT_EQ(phone.sent.back().code, 0x04);
  EXPECT_EQ(phone.sent.back().body, Bytes(Body().B(4).T(u"A/B").B(1).W(0)));
}

Bytes XmlPiece(uint8_t result, std::u16string_view text) {
  Body b;
  b.B(result);
  for (char16_t c : text) b.W(c);
  return b;
}

TEST_F(Tree, XmlListingInPiecesIntoTheWorkFile) {
  // The euro sign is 3 bytes of UTF-8; the G clef is a surrogate pair split between pieces.
  phone.Answer(XmlPiece(0x02, u"<a>\u20AC"));
  phone.Answer(XmlPiece(0x02, std::u16string(u"b\xD834")));
  phone.Answer(XmlPiece(0x01, std::u16string(u"\xDD1E</a>")));
  ASSERT_EQ(pfm().GetXmlFolderList(u"Music\\Rock"), 1);
  EXPECT_EQ(ReadText(work.path / "TempXML"), "\xEF\xBB\xBF<a>\xE2\x82\xAC" "b\xF0\x9D\x84\x9E</a>");
  EXPECT_EQ(phone.Codes(), (std::vector<uint8_t>{0x21, 0x21, 0x21}));
  for (const auto& s : phone.sent) EXPECT_EQ(s.body, Bytes(Body().W(11).T(u"Music/Rock")));
  EXPECT_EQ(phone.waits, (std::vector<uint32_t>{60000, 5000}));

  // A failed piece keeps what arrived; the text ends at a NUL unit; a lost link fails.
  phone.Answer(XmlPiece(0x02, u"<a>"));
  phone.Answer(XmlPiece(0x44, u"junk"));
  EXPECT_EQ(pfm().GetXmlFolderList(u"F"), 0);
  EXPECT_EQ(ReadText(work.path / "TempXML"), "\xEF\xBB\xBF<a>");
  phone.Answer(XmlPiece(0x01, std::u16string(u"ok\0rest", 7)));
  EXPECT_EQ(pfm().GetXmlFolderList(u"F"), 1);
  EXPECT_EQ(ReadText(work.path / "TempXML"), "\xEF\xBB\xBFok");
  phone.sendFails = true;
  EXPECT_EQ(pfm().GetXmlFolderList(u"F"), 0);
  EXPECT_EQ(phone.timeout, 5000u);

  // "More follows" for ever in empty pieces: the listing fails after a bounded run.
  phone.Clear();
  for (int i = 0; i <= kiv::ReceiveBudget::kMaxEmptyPieces; ++i) phone.Answer({0x02});
  phone.Answer({0x01});
  EXPECT_EQ(pfm().GetXmlFolderList(u"F"), 0);
  EXPECT_EQ(phone.sent.size(), kiv::ReceiveBudget::kMaxEmptyPieces + 1u);
}

TEST_F(Tree, SingleRequestChangesOnTheWire) {
  struct Case {
    const char* name;
    std::function<int(kiv::CPFileMan&)> run;
    uint8_t code;
    Bytes body;
    bool longWait;
  };
  const Case cases[] = {
      {"abort to phone", [](kiv::CPFileMan& p) { return p.AbortTransfer(u"A", u"b", 5); }, 0x07,
       Body().B(1).S(u"A").S(u"b"), false},
      {"abort from phone", [](kiv::CPFileMan& p) { return p.AbortTransfer(u"A", u"b", 0); }, 0x07,
       Body().B(2).S(u"A").S(u"b"), false},
      {"delete", [](kiv::CPFileMan& p) { return p.DeleteFile(u"A", u"b"); }, 0x09, Body().S(u"A").S(u"b"), true},
      {"rename", [](kiv::CPFileMan& p) { return p.RenameFile(u"A", u"b", u"c"); }, 0x0A,
       Body().S(u"A").S(u"b").S(u"c"), false},
      {"create", [](kiv::CPFileMan& p) { return p.CreateFolder(u"A\\n"); }, 0x0B, Body().S(u"A/n"), false},
      {"copy", [](kiv::CPFileMan& p) { return p.CopyPhoneFile(u"A", u"b", u"C\\D"); }, 0x0C,
       Body().S(u"A").S(u"b").S(u"C/D"), true},
      {"move", [](kiv::CPFileMan& p) { return p.MovePhoneFile(u"A", u"b", u"C"); }, 0x0D,
       Body().S(u"A").S(u"b").S(u"C"), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    phone.Clear();
    phone.Answer({0x01});
    EXPECT_EQ(c.run(pfm()), 1);
    EXPECT_EQ(phone.Codes(), std::vector<uint8_t>{c.code});
    EXPECT_EQ(phone.sent[0].body, c.body);
    EXPECT_EQ(phone.waits, (c.longWait ? std::vector<uint32_t>{1000000, 5000} : std::vector<uint32_t>{}));
    // A rejected result fails every one of them.
    phone.Answer({0x33});
    EXPECT_EQ(c.run(pfm()), 0);
  }
  // A folder is created only on result 1, whatever else counts as success; the last result
  // stays 1.
  for (uint8_t result : {0x02, 0x57, 0xD0, 0x00}) {
    phone.Answer({result});
    EXPECT_EQ(pfm().CreateFolder(u"A\\n"), 0) << int(result);
    EXPECT_EQ(pfm().GetResult(), 1) << int(result);
  }
}

TEST_F(Tree, ExistCheckAndSpaceAnswersInBothForms) {
  uint32_t held = 77;
  pfm().m_nVersion = 2;  // too old to ask
  EXPECT_EQ(pfm().ExistFileCheck(0, u"A", u"b", 10, held), 0);
  EXPECT_TRUE(phone.sent.empty());
  pfm().m_nVersion = 3;
  phone.Answer(Body().B(0x01).D(0x01020304).D(9));
  ASSERT_EQ(pfm().ExistFileCheck(0, u"A", u"b", 10, held), 1);
  EXPECT_EQ(held, 0x01020304u);
  EXPECT_EQ(phone.sent[0].body, Bytes(Body().S(u"A").S(u"b").D(10).D(0).D(0)));
  phone.Answer({0x01, 0x05});  // too short for the number
  EXPECT_EQ(pfm().ExistFileCheck(0, u"A", u"b", 10, held), 0);
  EXPECT_EQ(held, 0x01020304u);

  struct Case {
    int version;
    bool total;
    Bytes answer;
    int result;
    int64_t value;
    uint8_t code;
  };
  const Case cases[] = {
      {9, false, Body().B(0x01).W(0).T(u"5000000000"), 1, 5000000000, 0x26},
      {9, true, Body().B(0x01).W(7).T(u"  +42abc"), 1, 42, 0x27},
      {9, false, Body().B(0x01).W(0).T(u"none"), 1, 0, 0x26},
      {9, false, Body().B(0x01).W(0).T(u"-3"), 1, -3, 0x26},
      {9, false, Body().B(0x01).W(0).T(u"99999999999999999999"), 1, INT64_MAX, 0x26},
      {9, false, Body().B(0x01).W(0).W('1'), 0, -1, 0x26},  // unterminated text
      {8, false, Body().B(0x01).D(0xFFFFFFFF), 1, 4294967295, 0x08},
      {8, true, Body().B(0x01).D(1234), 1, 1234, 0x11},
      {8, true, Body().B(0x01).W(1), 0, -1, 0x11},
      {8, true, Body().B(0x27), 0, -1, 0x11},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.version) + (c.total ? " total " : " free ") + std::to_string(c.value));
    pfm().m_nVersion = c.version;
    phone.Clear();
    phone.Answer(c.answer);
    int64_t value = -1;
    EXPECT_EQ(c.total ? pfm().GetTotalSpace(u"A\\B", value) : pfm().GetFreeSpace(u"A\\B", value), c.result);
    EXPECT_EQ(value, c.value);
    EXPECT_EQ(phone.Codes(), std::vector<uint8_t>{c.code});
    EXPECT_EQ(phone.sent[0].body, Bytes(Body().S(u"A/B")));
  }
}

// One XML listing answer, in one piece.
Bytes Listing(std::u16string_view inner) {
  return XmlPiece(0x01, u"<?xml version=\"1.0\"?><folderlist>" + std::u16string(inner) + u"</folderlist>");
}
std::u16string File(std::u16string_view name, int size) {
  return u"<file name=\"" + std::u16string(name) + u"\" path=\"x\" created=\"20090729T143015\" size=\"" +
         kiv::Utf8ToU16(std::to_string(size)) + u"\"/>";
}
std::u16string Folder(std::u16string_view name, std::u16string_view attr = u"NONE") {
  return u"<folder name=\"" + std::u16string(name) + u"\" attr=\"" + std::u16string(attr) + u"\" created=\"0\"/>";
}
// The folder path of an XML listing request ("t": 16-bit count, then the units).
std::u16string Asked(const SentPacket& p) {
  std::u16string out;
  for (std::size_t i = 2; i + 1 < p.body.size() && (p.body[i] || p.body[i + 1]); i += 2)
    out.push_back(static_cast<char16_t>(p.body[i] | (p.body[i + 1] << 8)));
  return out;
}

TEST_F(Tree, RecursiveOpenReadsTheSubtreeOnce) {
  m().m_bConnected = 1;
  phone.Answer(Listing(File(u"a.mp3", 10) + Folder(u"Rock") + Folder(u"Secret", u"HIDDEN") + Folder(u"Box", u"NOSUB") +
                       Folder(u"Fixed", u"FIX") + File(u"neg.mp3", -1)));
  phone.Answer(Listing(File(u"b.mp3", 0) + Folder(u"Deep", u"RENAME")));  // Music\Rock
  phone.Answer(Listing(u""));                                              // Music\Rock\Deep, depth first
  phone.Answer(Listing(File(u"c.mp3", 5)));                                // Music\Box
  phone.Answer(Listing(u""));                                              // Music\Fixed
  ASSERT_EQ(Kiv_OpenFolder(K(u"Music"), window.wnd), 1);
  std::vector<std::u16string> asked;
  for (const auto& p : phone.sent) asked.push_back(Asked(p));
  EXPECT_THAT(asked, ElementsAre(u"Music", u"Music/Rock", u"Music/Rock/Deep", u"Music/Box", u"Music/Fixed"));
  EXPECT_THAT(FolderPaths(), ElementsAre(u"Music", u"Music\\Rock", u"Music\\Box", u"Music\\Fixed", u"Music\\Rock\\Deep"));
  EXPECT_THAT(FilePaths(), ElementsAre(u"Music|a.mp3", u"Music\\Rock|b.mp3", u"Music\\Box|c.mp3"));
  EXPECT_TRUE(window.seen.empty());
  EXPECT_FALSE(fs::exists(work.path / "TempXML"));
  // Depth 3 is the memory's limit, so the deepest folder loses subfolders.
  std::vector<uint32_t> attrs;
  for (const auto& f : m().m_FolderInfos) {
    attrs.push_back(f.m_dwAttr);
    EXPECT_EQ(f.m_bListed, 1);
  }
  EXPECT_THAT(attrs, ElementsAre(0x000Bu, 0x000Bu, 0x000Bu | 0x0104u, 0x000Bu | 0x0004u, 0x0003u | 0x0010u));
  const kiv::PhoneFileInfo* a = m().FindFile(u"music", u"A.MP3");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->m_nSize, 10);
  EXPECT_EQ(a->m_dwTime1, kiv::CXmlFileList::ParseCreated(u"20090729T143015"));
  EXPECT_EQ(a->m_dwTime1, a->m_dwTime3);
  EXPECT_EQ(a->m_dwAttr, 0u);

  // A second open lists the folder again but adds nothing and does not descend; a hidden
  // folder, or one the tree does not know, is not asked for.
  phone.Clear();
  phone.Answer(Listing(File(u"A.MP3", 10) + Folder(u"rock")));
  ASSERT_EQ(Kiv_OpenFolder(K(u"Music"), window.wnd), 1);
  EXPECT_EQ(Kiv_OpenFolder(K(u"Music\\Secret"), window.wnd), 1);
  EXPECT_EQ(Kiv_OpenFolder(K(u"Nowhere"), window.wnd), 1);
  EXPECT_EQ(phone.sent.size(), 1u);
  EXPECT_EQ(m().m_FolderInfos.size(), 5u);
  EXPECT_EQ(m().m_FileInfos.size(), 3u);
}

// A phone that answers every listing with one more subfolder cannot drive the recursive
// open without end; names that would stand for other paths are not taken.
TEST_F(Tree, RecursiveOpenStopsAtItsDepthBound) {
  m().m_bConnected = 1;
  phone.Answer(Listing(Folder(u"d") + Folder(u"") + Folder(u"a\\b")));
  for (int i = 0; i < 300; ++i) phone.Answer(Listing(Folder(u"d")));
  ASSERT_EQ(Kiv_OpenFolder(K(u"Music"), window.wnd), 1);
  EXPECT_EQ(phone.sent.size(), 256u);  // Music and the 255 folders below it, down to depth 256
  EXPECT_EQ(m().m_FolderInfos.size(), 257u);
  EXPECT_EQ(m().FindFolder(u"Music\\"), nullptr);
  EXPECT_EQ(m().FindFolder(u"Music\\a\\b"), nullptr);
}

TEST_F(Tree, OpenFailuresAndTheirReports) {
  m().m_bConnected = 1;
  struct Case {
    const char* name;
    std::function<void()> script;
    int reports;
  };
  const Case cases[] = {
      {"no answer", [&] { phone.NoAnswer(); }, 1},
      {"refused", [&] { phone.Answer({0x00}, 0x00, 0x72); }, 0},
      {"not XML", [&] { phone.Answer(Listing(u"<file")); }, 0},
      // The files before the break are read, then dropped with the rest.
      {"breaks off", [&] { phone.Answer(XmlPiece(0x01, u"<folderlist>" + File(u"a.mp3", 1) + File(u"b.mp3", 2))); }, 0},
      {"rejected result", [&] { phone.Answer({0x30}); }, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    window.seen.clear();
    pfm().ResetFlags();
    c.script();
    EXPECT_EQ(Kiv_OpenFolder(K(u"Music"), window.wnd), 0);
    EXPECT_EQ(window.Reports(), std::vector<Report>(c.reports, {kiv::kReportListFailed, 1, u"Music"}));
    EXPECT_EQ(m().FindFolder(u"Music")->m_bListed, 0);
    EXPECT_EQ(m().m_FileInfos.size(), 0u);
  }
  // A failure deep in the walk fails the whole open; what was read stays.
  phone.Answer(Listing(File(u"a.mp3", 1) + Folder(u"Rock")));
  phone.NoAnswer();
  EXPECT_EQ(Kiv_OpenFolder(K(u"Music"), window.wnd), 0);
  EXPECT_THAT(FolderPaths(), ElementsAre(u"Music", u"Music\\Rock"));
  EXPECT_EQ(m().m_FileInfos.size(), 1u);
  EXPECT_EQ(m().FindFolder(u"Music")->m_bSubOpened, 0);
  phone.linkUp = false;
  EXPECT_EQ(Kiv_OpenFolder(K(u"Music"), window.wnd), 0);
}

Bytes DayDetails(uint32_t size, uint8_t day, uint16_t word) {
  Body b;
  b.B(0x01);
  for (int i = 0; i < 3; ++i) b.W(2020).B(1).B(static_cast<uint8_t>(day + i)).B(0).B(0).B(0).B(0);
  return b.D(size).W(word);
}

TEST_F(Tree, RefreshReadsDetailsAndUndoesAFailedFileStep) {
  m().m_bConnected = 1;
  phone.Answer(Page(3, 3, u"a.mp3:Sub>D:b.mp3"));
  phone.Answer(DayDetails(11, 1, 0x4000));
  phone.Answer(DayDetails(22, 5, 0));
  phone.Answer(DayDetails(0, 9, 0x0400));  // Music\Sub itself
  ASSERT_EQ(m().RefreshFolder(u"Music", false, window.wnd), 1);
  EXPECT_THAT(FilePaths(), ElementsAre(u"Music|a.mp3", u"Music|b.mp3"));
  EXPECT_THAT(FolderPaths(), ElementsAre(u"Music", u"Music\\Sub"));
  const kiv::PhoneFileInfo& a = m().m_FileInfos[0];
  EXPECT_EQ(a.m_nSize, 11);
  EXPECT_EQ(a.m_dwAttr, 0x0080u);
  // Time 1, 2 and 3 are the phone's third, first and second stamps.
  EXPECT_GT(a.m_dwTime1, a.m_dwTime3);
  EXPECT_GT(a.m_dwTime3, a.m_dwTime2);
  EXPECT_EQ(m().FindFolder(u"Music\\Sub")->m_dwAttr, 0x000Bu | 0x0010u);
  EXPECT_EQ(m().FindFolder(u"Music")->m_bListed, 1);

  // Listed now: a second refresh asks nothing.
  phone.Clear();
  ASSERT_EQ(m().RefreshFolder(u"Music", true, window.wnd), 1);
  EXPECT_TRUE(phone.sent.empty());
  EXPECT_EQ(m().FindFolder(u"Music")->m_bSubOpened, 1);

  // In a fresh folder a failing detail request removes the files of this refresh only.
  m().m_FolderInfos.push_back(kiv::PhoneFolderInfo(nullptr, 0x0009, u"Video", 3));
  phone.Answer(Page(2, 2, u"x.3gp:y.3gp"));
  phone.Answer(DayDetails(1, 1, 0));
  phone.NoAnswer();
  EXPECT_EQ(m().RefreshFolder(u"Video", false, window.wnd), 0);
  EXPECT_THAT(FilePaths(), ElementsAre(u"Music|a.mp3", u"Music|b.mp3"));
  EXPECT_EQ(window.Reports(), (std::vector<Report>{{kiv::kReportDetailsFailed, 1, u"y.3gp"}}));
}

TEST_F(Tree, FreeSizeInvalidatesTheOthersAndReportsFailures) {
  m().m_bConnected = 1;
  m().m_FolderInfos.push_back(kiv::PhoneFolderInfo(nullptr, 0x000B, u"Photos", 3));
  m().m_FolderInfos[1].m_nFreeSize = 555;
  phone.Answer(Body().B(0x01).W(0).T(u"5000000000"));
  EXPECT_EQ(Kiv_UpdateFreeSize(K(u"Music"), window.wnd), 5000000000);
  EXPECT_EQ(m().FindFolder(u"Photos")->m_nFreeSize, -1);
  EXPECT_EQ(m().FindFolder(u"Music")->m_nFreeSize, 5000000000);
  phone.Answer(Body().B(0x01).W(0).T(u"8000000000"));
  EXPECT_EQ(Kiv_GetTotalSpace(K(u"Music"), window.wnd), 8000000000);
  EXPECT_TRUE(window.seen.empty());

  // Unknown or root paths ask nothing.
  phone.Clear();
  EXPECT_EQ(Kiv_UpdateFreeSize(K(u"\\"), window.wnd), 0);
  EXPECT_EQ(Kiv_GetTotalSpace(K(u"Elsewhere"), window.wnd), 0);
  EXPECT_TRUE(phone.sent.empty());
  phone.Answer({0x30});
  EXPECT_EQ(Kiv_UpdateFreeSize(K(u"Music"), window.wnd), 0);
  phone.Answer({0x00}, 0x00, 0x72);
  EXPECT_EQ(Kiv_GetTotalSpace(K(u"Music"), window.wnd), 0);
  EXPECT_EQ(window.Reports(), (std::vector<Report>{{kiv::kReportSpaceFailed, 0x80, u""}}));
}

// Records the host adds and the copies it reads back.
TEST_F(Tree, HostAddedRecordsAndTheirCopies) {
  m().m_FolderInfos.emplace_back(nullptr, 0x3, u"Memory Card", 8);
  EXPECT_EQ(Kiv_AddFileInfos(K(u"Music"), K(u"one.mp3"), 1, 99, 1, 2, 3, 0x40), 0);
  EXPECT_EQ(Kiv_AddFileInfos(K(u"music"), K(u"case.mp3"), 2, 0, 0, 0, 0, 0), 1);
  EXPECT_EQ(Kiv_AddFileInfos(K(u"Music"), K(u"one.mp3"), 3, 0, 0, 0, 0, 0), 2);  // no deduplication
  const auto& f = m().m_FileInfos[0];
  EXPECT_EQ(std::tie(f.m_nLocalSize, f.m_dwTime1, f.m_dwTime3, f.m_dwAttr), std::make_tuple(0, 1u, 3u, 0x40u));

  // A folder needs a session and a known parent; it keeps the parent's spelling, takes its
  // types, and counts as listed.
  EXPECT_EQ(Kiv_AddFolderInfo(K(u"Music\\Rock")), 0);
  m().m_bConnected = 1;
  EXPECT_EQ(Kiv_AddFolderInfo(K(u"Unknown\\Rock")), 0);
  EXPECT_EQ(Kiv_GetFileAndFolderInfo(), 2);
  EXPECT_EQ(Kiv_AddFolderInfo(K(u"music\\Rock")), 1);
  ASSERT_EQ(Kiv_GetFileAndFolderInfo(), 3);
  const auto& added = m().m_FolderInfos[2];
  EXPECT_EQ(added.m_sFolderName, u"Music\\Rock");
  EXPECT_EQ(added.m_strUpFolderName, u"Music");
  EXPECT_EQ(added.m_dwAttr, 0x3u);
  EXPECT_EQ(m().m_FolderInfos[0].m_bListed, 1);

  // Copies: exact folder matches in order, appended on each call.
  KivFileInfoList* files = Kiv_FileInfoList_New();
  KivFolderInfoList* folders = Kiv_FolderInfoList_New();
  EXPECT_EQ(Kiv_GetList(K(u"Music"), files, folders), 1);
  EXPECT_EQ(Kiv_GetList(K(u"Music"), files, folders), 1);
  ASSERT_EQ(Kiv_FileInfoList_Count(files), 4);
  EXPECT_EQ(Kiv_FileInfoList_At(files, 1)->size, 3);
  EXPECT_EQ(Kiv_FileInfoList_At(files, 4), nullptr);
  ASSERT_EQ(Kiv_FolderInfoList_Count(folders), 2);
  const KivFolderInfo* rock = Kiv_FolderInfoList_At(folders, 0);
  EXPECT_EQ(kiv::FromHost(rock->folderName), u"Music\\Rock");
  EXPECT_EQ(rock->freeSize, -1);
  EXPECT_EQ(kiv::FromHost(Kiv_StringList_At(rock->types, 1)), u"WMA");
  Kiv_FileInfoList_Free(files);
  EXPECT_EQ(Kiv_GetTopList(K(u"root"), folders), 1);
  EXPECT_EQ(Kiv_GetTopList(K(u"Root"), folders), 1);
  ASSERT_EQ(Kiv_FolderInfoList_Count(folders), 4);
  EXPECT_EQ(kiv::FromHost(Kiv_FolderInfoList_At(folders, 3)->upFolderName), u"Root");
  Kiv_FolderInfoList_Free(folders);
}

// Folder and name compare without letter case, also beyond ASCII; the separator between
// them cannot be faked by a name. (The tree's other questions are asked by the operations.)
TEST_F(Tree, LookupsAndPresence) {
  m().m_FolderInfos.emplace_back(nullptr, 0x3, u"Bilder\u00C4", 8);
  Kiv_AddFileInfos(K(u"Music"), K(u"a.mp3"), 5, 0, 0, 0, 0, 0);
  Kiv_AddFileInfos(K(u"Music\\x"), K(u"a.mp3"), 6, 0, 0, 0, 0, 0);
  EXPECT_EQ(m().FindFileByPath(u"MUSIC\\A.mp3")->m_nSize, 5);
  EXPECT_EQ(m().FindFile(u"music\\X", u"A.MP3")->m_nSize, 6);
  EXPECT_EQ(m().FindFile(u"Music\\x", u""), nullptr);
  EXPECT_EQ(m().FindFile(u"Music", u"x\\a.mp3"), nullptr);
  EXPECT_NE(m().FindFolder(u"bilder\u00E4"), nullptr);
  EXPECT_EQ(m().FindFolder(u"Musi"), nullptr);

  // A listed folder is on the PC when its files are, and with subfolders when theirs are.
  for (auto& f : m().m_FileInfos) f.m_nLocalSize = f.m_nSize;
  m().FindFolder(u"Music")->m_bListed = m().FindFolder(u"Bilder\u00C4")->m_bListed = 1;
  m().m_FolderInfos.emplace_back(nullptr, 0x3, u"Music\\x", 8);  // not listed
  EXPECT_EQ(m().IsFullyPresent(u"Music", false), 1);
  EXPECT_EQ(m().IsFullyPresent(u"Music", true), 0);
  EXPECT_EQ(m().IsFullyPresent(u"Bilder\u00C4", true), 1);
}

}  // namespace
