// The phone file-system commands as they reach the link: listing pages and marks, file
// details and phone times, the XML listing into its work file, the single-request changes
// and the space answers in both forms.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "filemanager/manager.hpp"
#include "platform/text.hpp"
#include "plugged_phone.hpp"
#include "protocol/pfileman.hpp"

namespace {

using kivold::Body;
using kivold::PluggedPhone;
using kivold::RecordingWindow;
using Bytes = std::vector<uint8_t>;

class CommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    work_ = std::filesystem::temp_directory_path() / ("kivmod-commands-" + std::to_string(::getpid()));
    std::filesystem::create_directories(work_);
    ::setenv("KIVMOD_WORKDIR", work_.c_str(), 1);
    Kiv_InitalizeU(window.wnd);
    phone.linkUp = true;
    pfm().m_nVersion = 9;
  }
  void TearDown() override {
    kiv::DestroyCurrentManager();
    ::unsetenv("KIVMOD_WORKDIR");
    std::filesystem::remove_all(work_);
  }
  kiv::CPFileMan& pfm() { return kiv::CurrentManager()->m_PFileMan; }
  std::string TempXml() {
    std::ifstream in(work_ / "TempXML", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::vector<std::string> Waits() { return phone.CallsStartingWith("SetReqTimeout"); }

  std::filesystem::path work_;
  PluggedPhone phone;
  RecordingWindow window;
};

// A listing page: result, next index, total, entry text.
Bytes Page(uint32_t next, uint32_t total, std::u16string_view text) {
  return Body().B(0x01).D(next).D(total).T(text);
}

std::vector<std::pair<std::u16string, uint32_t>> Flat(const std::vector<kiv::PhoneListEntry>& entries) {
  std::vector<std::pair<std::u16string, uint32_t>> out;
  for (const auto& e : entries) out.emplace_back(e.m_strName, e.m_nFlags);
  return out;
}

TEST_F(CommandsTest, FolderListPagesAndMarks) {
  phone.Answer(Page(3, 5, u"a.txt:Music>D:b.dat>S"));
  phone.Answer(Page(5, 5, u"::x>SD:plain:"));
  std::vector<kiv::PhoneListEntry> entries;
  ASSERT_EQ(pfm().GetFolderList(u"Music\\Rock", entries, 2048, 255), 1);
  using P = std::pair<std::u16string, uint32_t>;
  EXPECT_THAT(Flat(entries), ::testing::ElementsAre(P{u"a.txt", 1}, P{u"Music", 2}, P{u"b.dat", 5}, P{u"x", 2},
                                                      P{u"plain", 1}));
  // Seven entries per page with capacity 2048 and allowance 255; "wwp" with "/" separators.
  ASSERT_EQ(phone.sent.size(), 2u);
  Bytes first = Body().W(0).W(7).B(11).T(u"Music/Rock");
  first.pop_back();
  first.pop_back();
  first.insert(first.end(), {0, 0});
  EXPECT_EQ(phone.sent[0].body, first);
  EXPECT_EQ(phone.sent[0].code, 0x03);
  EXPECT_EQ(phone.sent[1].body[0], 3);  // the second page starts at the next index
  EXPECT_THAT(Waits(), ::testing::ElementsAre("SetReqTimeout(30000)", "SetReqTimeout(5000)",
                                              "SetReqTimeout(30000)", "SetReqTimeout(5000)"));
}

TEST_F(CommandsTest, FolderListEndings) {
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
    phone.sent.clear();
    for (const auto& p : c.pages) p.empty() ? phone.NoAnswer() : phone.Answer(p);
    std::vector<kiv::PhoneListEntry> entries;
    EXPECT_EQ(pfm().GetFolderList(u"F", entries, 2048, 255), c.result);
    EXPECT_EQ(entries.size(), c.entries);
    EXPECT_EQ(phone.sent.size(), c.requests);
    phone.answers.clear();
    phone.echo.clear();
  }
}

TEST_F(CommandsTest, FolderListOldPhonesCountTheFolderInBytes) {
  pfm().m_nVersion = 1;
  phone.Answer(Page(0, 0, u""));
  std::vector<kiv::PhoneListEntry> entries;
  ASSERT_EQ(pfm().GetFolderList(u"ab", entries, 17, 0), 1);
  // A tiny capacity still asks for one entry; "P" counts bytes with the terminator.
  EXPECT_EQ(phone.sent[0].body, (Bytes{0, 0, 1, 0, 6, 'a', 0, 'b', 0, 0, 0}));
}

Bytes Stamp(int year, int month, int day, int h = 12, int m = 0, int s = 0) {
  return Body().W(static_cast<uint16_t>(year)).B(static_cast<uint8_t>(month)).B(static_cast<uint8_t>(day))
      .B(static_cast<uint8_t>(h)).B(static_cast<uint8_t>(m)).B(static_cast<uint8_t>(s)).B(0x7F);
}

uint32_t Local(int year, int month, int day, int h, int m, int s) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = h;
  tm.tm_min = m;
  tm.tm_sec = s;
  tm.tm_isdst = -1;
  return static_cast<uint32_t>(std::mktime(&tm));
}

TEST(PhoneTime, ConversionAndFallbacks) {
  auto convert = [](const Bytes& b) { return kiv::PhoneTimeToTime(std::span<const uint8_t, 8>(b.data(), 8)); };
  EXPECT_EQ(convert(Stamp(2009, 7, 29, 14, 30, 15)), Local(2009, 7, 29, 14, 30, 15));
  // Month 13 is not checked: the composition rolls it into the next year.
  EXPECT_EQ(convert(Stamp(2009, 13, 1)), Local(2010, 1, 1, 12, 0, 0));
  const Bytes now[] = {Stamp(2039, 1, 1), Stamp(1969, 12, 31), Stamp(2009, 1, 0), Stamp(2009, 1, 32),
                       Bytes{0, 0, 0, 0, 12, 30, 0, 0}, Stamp(-5, 1, 1)};
  for (const auto& b : now) {
    uint32_t before = static_cast<uint32_t>(std::time(nullptr));
    uint32_t t = convert(b);
    EXPECT_GE(t, before);
    EXPECT_LE(t, before + 2);
  }
}

Bytes Details(uint32_t size, std::optional<uint16_t> word, std::size_t cut = 0) {
  Body b;
  b.B(0x01);
  for (int i = 1; i <= 3; ++i) {
    Bytes s = Stamp(2020, i, 10);
    b.bytes.insert(b.bytes.end(), s.begin(), s.end());
  }
  b.D(size);
  if (word) b.W(*word);
  if (cut) b.bytes.resize(cut);
  return b;
}

TEST_F(CommandsTest, FileDetailsAndAttributeWords) {
  struct Case {
    const char16_t* name;
    Bytes answer;
    int result;
    uint32_t attributes;
  };
  const Case cases[] = {
      {u"f", Details(7, 0x0800 | 0x4000 | 0x8000 | 0x0080), 1, 0x0040 | 0x0080 | 0x8000},
      {u"f", Details(7, 0x0000), 1, 0},
      {u"f", Details(7, std::nullopt), 1, 0},                 // 29 bytes: no word
      {u"f", Details(7, 0xFFFF, 30), 1, 0},                   // 30 bytes: half a word
      {u"f", Details(7, std::nullopt, 28), 0, 0},             // the size is cut
      {u"", Details(0, 0x0000), 1, 0x0003 | 0x0008},
      {u"", Details(0, 0x4000 | 0x0400), 1, 0x0003 | 0x0008 | 0x0004},
      {u"", Details(0, 0x0400 | 0x0080), 1, 0x0003 | 0x0008 | 0x0010 | 0x0020},
      {u"", Details(0, 0x0800 | 0x8000), 1, 0x0003 | 0x0008 | 0x0044 | 0x8000},
      {u"", Details(0, std::nullopt), 1, 0},
  };
  pfm().m_byVersion = 9;  // subfolder capable
  for (const auto& c : cases) {
    SCOPED_TRACE(kiv::U16ToUtf8(c.name) + " " + std::to_string(c.answer.size()));
    phone.Answer(c.answer);
    int32_t size = -1;
    uint32_t t1 = 0, t2 = 0, t3 = 0, attributes = 0xDEAD;
    ASSERT_EQ(pfm().GetFileInfo(u"A\\B", c.name, &size, t1, t2, t3, attributes), c.result);
    if (!c.result) continue;
    EXPECT_EQ(attributes, c.attributes);
    EXPECT_EQ(size, static_cast<int32_t>(c.answer.size() >= 29 ? (c.name[0] ? 7 : 0) : -1));
    EXPECT_EQ(t1, Local(2020, 1, 10, 12, 0, 0));
    EXPECT_EQ(t2, Local(2020, 2, 10, 12, 0, 0));
    EXPECT_EQ(t3, Local(2020, 3, 10, 12, 0, 0));
  }
  EXPECT_EQ(phone.sent.back().code, 0x04);
  EXPECT_EQ(phone.sent.back().body, (Bytes{4, 'A', 0, '/', 0, 'B', 0, 0, 0, 1, 0, 0}));
}

Bytes XmlPiece(uint8_t result, std::u16string_view text) {
  Body b;
  b.B(result);
  for (char16_t c : text) b.W(c);
  return b;
}

TEST_F(CommandsTest, XmlListingInPiecesIntoTheWorkFile) {
  // The euro sign is 3 bytes of UTF-8; the G clef is a surrogate pair split between pieces.
  phone.Answer(XmlPiece(0x02, u"<a>\u20AC"));
  phone.Answer(XmlPiece(0x02, std::u16string(u"b\xD834")));
  phone.Answer(XmlPiece(0x01, std::u16string(u"\xDD1E</a>")));
  ASSERT_EQ(pfm().GetXmlFolderList(u"Music\\Rock"), 1);
  EXPECT_EQ(TempXml(), "\xEF\xBB\xBF<a>\xE2\x82\xAC" "b\xF0\x9D\x84\x9E</a>");
  ASSERT_EQ(phone.sent.size(), 3u);
  for (const auto& s : phone.sent) {
    EXPECT_EQ(s.code, 0x21);
    EXPECT_EQ(s.body, (Bytes{11, 0, 'M', 0, 'u', 0, 's', 0, 'i', 0, 'c', 0, '/', 0, 'R', 0, 'o', 0, 'c', 0, 'k', 0,
                             0, 0}));
  }
  EXPECT_THAT(Waits(), ::testing::ElementsAre("SetReqTimeout(60000)", "SetReqTimeout(5000)"));
}

TEST_F(CommandsTest, XmlListingFailuresKeepWhatArrived) {
  phone.Answer(XmlPiece(0x02, u"<a>"));
  phone.Answer(XmlPiece(0x44, u"junk"));
  EXPECT_EQ(pfm().GetXmlFolderList(u"F"), 0);
  EXPECT_EQ(TempXml(), "\xEF\xBB\xBF<a>");
  EXPECT_EQ(phone.timeout, 5000u);

  // The text ends at a NUL character; a link gone after the answer fails.
  phone.Answer(XmlPiece(0x01, std::u16string(u"ok\0rest", 7)));
  EXPECT_EQ(pfm().GetXmlFolderList(u"F"), 1);
  EXPECT_EQ(TempXml(), "\xEF\xBB\xBFok");
  phone.sendFails = true;
  EXPECT_EQ(pfm().GetXmlFolderList(u"F"), 0);
  EXPECT_EQ(phone.timeout, 5000u);
}

TEST_F(CommandsTest, SingleRequestChangesOnTheWire) {
  struct Case {
    const char* name;
    std::function<int(kiv::CPFileMan&)> run;
    uint8_t code;
    Bytes body;
    bool longWait;
  };
  const Case cases[] = {
      {"abort to phone", [](kiv::CPFileMan& p) { return p.AbortTransfer(u"A", u"b", 5); }, 0x07,
       {1, 2, 'A', 0, 0, 0, 2, 'b', 0, 0, 0}, false},
      {"abort from phone", [](kiv::CPFileMan& p) { return p.AbortTransfer(u"A", u"b", 0); }, 0x07,
       {2, 2, 'A', 0, 0, 0, 2, 'b', 0, 0, 0}, false},
      {"delete", [](kiv::CPFileMan& p) { return p.DeleteFile(u"A", u"b"); }, 0x09,
       {2, 'A', 0, 0, 0, 2, 'b', 0, 0, 0}, true},
      {"rename", [](kiv::CPFileMan& p) { return p.RenameFile(u"A", u"b", u"c"); }, 0x0A,
       {2, 'A', 0, 0, 0, 2, 'b', 0, 0, 0, 2, 'c', 0, 0, 0}, false},
      {"create", [](kiv::CPFileMan& p) { return p.CreateFolder(u"A\\n"); }, 0x0B,
       {4, 'A', 0, '/', 0, 'n', 0, 0, 0}, false},
      {"copy", [](kiv::CPFileMan& p) { return p.CopyPhoneFile(u"A", u"b", u"C\\D"); }, 0x0C,
       {2, 'A', 0, 0, 0, 2, 'b', 0, 0, 0, 4, 'C', 0, '/', 0, 'D', 0, 0, 0}, true},
      {"move", [](kiv::CPFileMan& p) { return p.MovePhoneFile(u"A", u"b", u"C"); }, 0x0D,
       {2, 'A', 0, 0, 0, 2, 'b', 0, 0, 0, 2, 'C', 0, 0, 0}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    phone.sent.clear();
    phone.calls.clear();
    phone.Answer({0x01});
    EXPECT_EQ(c.run(pfm()), 1);
    ASSERT_EQ(phone.sent.size(), 1u);
    EXPECT_EQ(phone.sent[0].code, c.code);
    EXPECT_EQ(phone.sent[0].body, c.body);
    if (c.longWait) {
      EXPECT_THAT(Waits(), ::testing::ElementsAre("SetReqTimeout(1000000)", "SetReqTimeout(5000)"));
    } else {
      EXPECT_TRUE(Waits().empty());
    }
    // A rejected result fails every one of them.
    phone.Answer({0x33});
    EXPECT_EQ(c.run(pfm()), 0);
  }
}

TEST_F(CommandsTest, CreateFolderWantsExactlyResultOne) {
  for (uint8_t result : {0x02, 0x57, 0xD0, 0x00}) {
    phone.Answer({result});
    EXPECT_EQ(pfm().CreateFolder(u"A\\n"), 0) << int(result);
    EXPECT_EQ(pfm().GetResult(), 1) << int(result);
  }
}

TEST_F(CommandsTest, ExistCheck) {
  uint32_t held = 77;
  pfm().m_nVersion = 2;
  EXPECT_EQ(pfm().ExistFileCheck(0, u"A", u"b", 10, held), 0);
  EXPECT_TRUE(phone.sent.empty());

  pfm().m_nVersion = 3;
  phone.Answer(Body().B(0x01).D(0x01020304).D(9));
  ASSERT_EQ(pfm().ExistFileCheck(0, u"A", u"b", 10, held), 1);
  EXPECT_EQ(held, 0x01020304u);
  EXPECT_EQ(phone.sent[0].body, (Bytes{2, 'A', 0, 0, 0, 2, 'b', 0, 0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  phone.Answer({0x01, 0x05});  // too short for the number
  EXPECT_EQ(pfm().ExistFileCheck(0, u"A", u"b", 10, held), 0);
  EXPECT_EQ(held, 0x01020304u);
}

TEST_F(CommandsTest, SpaceAnswersInBothForms) {
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
    phone.sent.clear();
    phone.Answer(c.answer);
    int64_t value = -1;
    EXPECT_EQ(c.total ? pfm().GetTotalSpace(u"A\\B", value) : pfm().GetFreeSpace(u"A\\B", value), c.result);
    EXPECT_EQ(value, c.value);
    ASSERT_EQ(phone.sent.size(), 1u);
    EXPECT_EQ(phone.sent[0].code, c.code);
    EXPECT_EQ(phone.sent[0].body, (Bytes{4, 'A', 0, '/', 0, 'B', 0, 0, 0}));
  }
}

}  // namespace
