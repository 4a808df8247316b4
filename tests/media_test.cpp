// Playlists and the sound library: the add/edit pieces and the content and name exchanges
// on the wire (scripted phone), then whole round trips and tags read by TagLib against the
// simulated phone through the C interface.
#include <gtest/gtest.h>

#include <taglib/fileref.h>
#include <taglib/tag.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "filemanager/manager.hpp"
#include "kivtest.hpp"
#include "link/phone_link.hpp"
#include "platform/text.hpp"
#include "protocol/media_commands.hpp"
#include "protocol/pfileman.hpp"

namespace {

using namespace kivtest;

// A content answer: result, the echoed name, a count, the text and (unless cut) its NUL.
Bytes ContentAnswer(uint8_t result, std::u16string_view name, std::u16string_view text, bool nul = true) {
  Body b;
  b.B(result).W(static_cast<uint16_t>(name.size() + 1)).T(name).D(3).U(text);
  return nul ? b.W(0) : b;
}
Bytes NamesAnswer(uint32_t position, uint32_t total, std::u16string_view text) {
  return Body().B(0x01).D(position).D(total).T(text);
}

class MediaScripted : public ::testing::Test {
 protected:
  void SetUp() override { phone.linkUp = true; }
  void Queue(int n, Bytes body = {0x01}) {
    for (int i = 0; i < n; ++i) phone.Answer(body);
  }
  void Reset() {
    phone.sent.clear();
    phone.answers.clear();
  }
  // The text units after the "xd" fields of a piece sent for name.
  static std::u16string PieceText(const SentPacket& p, std::u16string_view name) {
    std::u16string out;
    for (std::size_t i = 2 + 2 * (name.size() + 1) + 4; i + 1 < p.body.size(); i += 2)
      out.push_back(static_cast<char16_t>(p.body[i] | (p.body[i + 1] << 8)));
    return out;
  }

  PluggedPhone phone;
  kiv::CPFileMan man;
  kiv::CMediaCommands media{man};
  Window window;
  TempDir dir{"media"};
};

TEST_F(MediaScripted, PiecesCarryTheWholeFileAtAwkwardPacketSizes) {
  std::string list262;
  for (int i = 0; list262.size() < 262; ++i) list262 += "Music/song" + std::to_string(i) + ".mp3:";
  list262.resize(262);
  const std::string lists[] = {"", list262, std::string(300, 'x'), "Music/\xF0\x9F\x8E\xB5 song.mp3:Music/b.mp3",
                               "a:" + std::string(500, 'q') + ":b"};
  for (uint32_t packet : {40u, 64u, 65u, 66u, 128u, 129u, 1024u}) {
    for (const auto& list : lists) {
      SCOPED_TRACE("packet " + std::to_string(packet) + " list " + std::to_string(list.size()));
      Reset();
      Queue(1000);
      WriteFile(dir.path / "l.txt", list);
      window.seen.clear();
      ASSERT_EQ(media.AddPlaylist(U16(dir.path / "l.txt"), u"Mix", packet, window.wnd), 1);
      std::u16string joined;
      for (std::size_t k = 0; k < phone.sent.size(); ++k) {
        const auto& p = phone.sent[k];
        const bool last = k + 1 == phone.sent.size();
        EXPECT_EQ(p.code, 0x1A);
        EXPECT_EQ(p.flag, last ? 1 : 0);
        EXPECT_EQ(p.body[10], static_cast<uint8_t>(k + 1));  // piece number after the name's 2 + 8 bytes
        EXPECT_LE(p.body.size() + 8, packet);
        std::u16string text = PieceText(p, u"Mix");
        if (last) {
          ASSERT_FALSE(text.empty());
          EXPECT_EQ(text.back(), u'\n');
          text.pop_back();
        } else if (text.find(u':') != std::u16string::npos) {
          EXPECT_EQ(text.back(), u':');
        }
        joined += text;
      }
      EXPECT_EQ(kiv::U16ToUtf8(joined), list);
      ASSERT_EQ(window.Progress().size(), phone.sent.size());
      EXPECT_EQ(window.Progress()[0].text1, u"Mix");
    }
  }
}

TEST_F(MediaScripted, AddFailsCleanlyBeforeAnythingIsSentOrStopsOnCancel) {
  WriteFile(dir.path / "l.txt", "a:b");
  WriteFile(dir.path / "bad.txt", "a:\xFF\xFE");
  struct Case {
    const char* file;
    uint32_t packet;
  } cases[] = {{"l.txt", 33}, {"l.txt", 0}, {"missing.txt", 1024}, {"bad.txt", 1024}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + std::to_string(c.packet));
    EXPECT_EQ(media.AddPlaylist(U16(dir.path / c.file), u"Mix", c.packet, window.wnd), 0);
    EXPECT_TRUE(phone.sent.empty());
  }
  // A cancel after the first piece tells the phone (abort, PC to phone) and stops.
  WriteFile(dir.path / "long.txt", std::string(200, 'x'));
  Queue(3);
  window.onProgress = [&](const Message&, std::size_t) { man.AbortFlag() = 1; };
  EXPECT_EQ(media.AddPlaylist(U16(dir.path / "long.txt"), u"Mix", 64, window.wnd), 0);
  ASSERT_EQ(phone.sent.size(), 2u);
  EXPECT_EQ(phone.sent[1].code, 0x07);
  EXPECT_EQ(phone.sent[1].body[0], 1);
}

TEST_F(MediaScripted, ContentPiecesBecomeTheLocalFileAndFailuresKeepWhatArrived) {
  const fs::path out = dir.path / "out.txt";
  phone.Answer(ContentAnswer(0x02, u"Mix", u"Music/a.mp3:mmc1/Music/b.mp3"));
  phone.Answer(ContentAnswer(0x01, u"Mix", u"MMC1/c.mp3:mmc1\\d.mp3::"));
  ASSERT_EQ(media.GetPlayListContents(U16(out), u"Mix"), 1);
  EXPECT_EQ(ReadText(out), "Music/a.mp3:Card/Music/b.mp3:MMC1/c.mp3:Card/d.mp3");
  ASSERT_EQ(phone.sent.size(), 2u);
  EXPECT_EQ(phone.sent[0].body, phone.sent[1].body);
  EXPECT_EQ(phone.timeout, 5000u);

  const Bytes first = ContentAnswer(0x02, u"Mix", u"a.mp3");
  struct Case {
    const char* what;
    std::vector<Bytes> answers;  // after the first piece; an empty body: no answer
  } cases[] = {
      {"cut answer", {ContentAnswer(0x01, u"Mix", u"b.mp3", false)}},
      {"shorter than its name", {Bytes{0x01, 4, 0, 'M', 0}}},
      {"name length past the body", {[] {
         auto b = ContentAnswer(0x01, u"Mix", u"b.mp3");
         b[1] = 0x40;
         return b;
       }()}},
      {"lost link", {Bytes{}}},
      {"error result", {Bytes{0x23}}},
      {"more for ever", std::vector<Bytes>(10, ContentAnswer(0x02, u"Mix", u"x"))},
  };
  media.SetAnswerCap(6);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Reset();
    phone.Answer(first);
    for (const auto& a : c.answers) a.empty() ? phone.NoAnswer() : phone.Answer(a);
    EXPECT_EQ(media.GetPlayListContents(U16(out), u"Mix"), 0);
    EXPECT_TRUE(ReadText(out).starts_with("a.mp3:"));
  }
  Reset();
  phone.Answer({}, 0x00, 0x72);
  EXPECT_EQ(media.GetPlayListContents(U16(out), u"Mix"), 0);
  EXPECT_EQ(man.m_bRefused, 1);
}

TEST_F(MediaScripted, NamePagingStopsAtTheEndOrWhenThePositionStandsStill) {
  struct Case {
    const char* what;
    std::vector<Bytes> pages;
    std::size_t requests;
    std::vector<std::u16string> names;
  } cases[] = {
      {"to the total", {NamesAnswer(2, 3, u"a:b"), NamesAnswer(3, 3, u"c")}, 2, {u"a", u"b", u"c"}},
      {"stands still", {NamesAnswer(1, 3, u"a"), NamesAnswer(1, 3, u"b")}, 2, {u"a"}},
      {"goes back", {NamesAnswer(2, 5, u"a"), NamesAnswer(4, 5, u"b"), NamesAnswer(2, 5, u"c")}, 3, {u"a", u"b"}},
      {"more names than the total", {NamesAnswer(2, 2, u"a:b:c")}, 1, {u"a", u"b"}},
      {"empty", {NamesAnswer(0, 0, u"")}, 1, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Reset();
    for (const auto& p : c.pages) phone.Answer(p);
    std::vector<std::u16string> names;
    EXPECT_EQ(media.GetPlayList(0x12345, 7, 2048, 64, names), 1);
    EXPECT_EQ(names, c.names);
    ASSERT_EQ(phone.sent.size(), c.requests);
    EXPECT_EQ(phone.sent[0].body, (Bytes{0x45, 0x23, 7, 0}));
  }
}

TEST_F(MediaScripted, RenameChecksTheNewNameBeforeAnythingIsSent) {
  Queue(2);
  EXPECT_EQ(media.RenamePlaylist(u"Old", u"12345", 10), 1);  // the limit less 5: sent
  EXPECT_EQ(media.RenamePlaylist(u"Old", u"123456", 10), 0);
  ASSERT_EQ(phone.sent.size(), 1u);
  EXPECT_EQ(phone.sent[0].body, (Bytes{4, 0, 'O', 0, 'l', 0, 'd', 0, 0, 0, 6, 0, '1', 0, '2', 0, '3', 0, '4', 0, '5', 0, 0, 0}));
}

// ---- Against the simulated phone, through the C interface ----

// A tiny but valid audio file that TagLib can tag: one second of 8 kHz 8-bit mono PCM.
void MakeWav(const fs::path& path) {
  auto le = [](uint32_t v, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
    return out;
  };
  WriteFile(path, "RIFF" + le(36 + 8000, 4) + "WAVEfmt " + le(16, 4) + le(1, 2) + le(1, 2) + le(8000, 4) + le(8000, 4) +
                 le(1, 2) + le(8, 2) + "data" + le(8000, 4) + std::string(8000, '\x80'));
}
void Tag(const fs::path& path, const char* artist, const char* title, const char* album, const char* genre) {
  TagLib::FileRef f(path.c_str());
  ASSERT_FALSE(f.isNull());
  auto u = [](const char* t) { return TagLib::String(t, TagLib::String::UTF8); };
  f.tag()->setArtist(u(artist)), f.tag()->setTitle(u(title)), f.tag()->setAlbum(u(album)), f.tag()->setGenre(u(genre));
  ASSERT_TRUE(f.save());
}

std::u16string Text(KivString* s) { return Kiv_String_Get(s) ? Kiv_String_Get(s) : u""; }

class MediaSim : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(root.path / "Music");
    fs::create_directories(root.path / "Sounds" / "Tones");
    fs::create_directories(root.path / "Memory Card" / "Music");
    setenv("KIVMOD_LINK", ("sim:" + root.path.string()).c_str(), 1);
    setenv("KIVMOD_WORKDIR", work.path.c_str(), 1);
    Kiv_InitalizeU(window.wnd);
  }
  void TearDown() override {
    kiv::CurrentLink().Disconnect();
    kiv::DestroyCurrentManager();
    unsetenv("KIVMOD_LINK");
    unsetenv("KIVMOD_WORKDIR");
    unsetenv("KIVMOD_SIM_CONFIG");
  }
  void Connect(const std::string& attributes = "", const std::string& inner = "") {
    WriteFile(pc.path / "phone.xml", "<phone " + attributes + ">" + inner + "</phone>");
    setenv("KIVMOD_SIM_CONFIG", (pc.path / "phone.xml").c_str(), 1);
    ASSERT_EQ(Kiv_Connect(1, 0, window.wnd, 1), 1);
  }
  std::vector<std::u16string> Names() {
    KivStringList* list = Kiv_StringList_New();
    EXPECT_EQ(Kiv_GetPlayList(0, 0, 0, list), 1);
    std::vector<std::u16string> out;
    for (int i = 0; i < Kiv_StringList_Count(list); ++i) out.push_back(Kiv_StringList_At(list, i));
    Kiv_StringList_Free(list);
    return out;
  }

  TempDir root{"media-phone"}, pc{"media-pc"}, work{"media-work"};
  Window window;
};

TEST_F(MediaSim, PlaylistsRoundTripByteIdentical) {
  std::string songs;
  for (int i = 0; i < 300; ++i) songs += (i ? ":" : "") + std::string(i % 3 ? "Music/" : "Card/Music/") + "s\xC3\xA9" + std::to_string(i) + ".mp3";
  for (const char* packet : {"96", "1001", "32768"}) {
    SCOPED_TRACE(packet);
    Connect(std::string("maxPacket=\"") + packet + "\"", "<card name=\"Memory Card\"/>");
    const fs::path in = pc.path / "in.txt", out = pc.path / "out.txt";
    WriteFile(in, songs);
    ASSERT_EQ(Kiv_AddPlaylist(U16(in).c_str(), u"Road", nullptr), 1);
    EXPECT_EQ(Kiv_AddPlaylist(U16(in).c_str(), u"Road", nullptr), 0);  // exists
    ASSERT_EQ(Kiv_GetPlayListContents(U16(out).c_str(), u"Road", nullptr), 1);
    EXPECT_EQ(ReadText(out), songs);
    const std::string m3u = ReadText(root.path / "Playlists" / "Road.m3u8");
    EXPECT_TRUE(m3u.starts_with("#EXTM3U\n../Memory Card/Music/s\xC3\xA9" "0.mp3\n../Music/s\xC3\xA9" "1.mp3\n"));

    WriteFile(in, "Music/one.mp3");
    ASSERT_EQ(Kiv_EditPlaylist(U16(in).c_str(), u"Road", nullptr), 1);
    ASSERT_EQ(Kiv_RenamePlaylist(u"Road", u"Trip"), 1);
    EXPECT_EQ(Names(), std::vector<std::u16string>{u"Trip"});
    int32_t first = -1, second = -1;
    EXPECT_EQ(Kiv_GetPlayListInfo(0, &first, &second), 1);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 1);
    ASSERT_EQ(Kiv_GetPlayListContents(U16(out).c_str(), u"Trip", nullptr), 1);
    EXPECT_EQ(ReadText(out), "Music/one.mp3");
    ASSERT_EQ(Kiv_DeletePlaylist(u"Trip"), 1);
    EXPECT_EQ(Kiv_DeletePlaylist(u"Trip"), 0);
    EXPECT_TRUE(Names().empty());
    Kiv_Disconnect();
  }
}

TEST_F(MediaSim, HostileNamesAndSongsAndALostLinkLeaveNothingBehind) {
  Connect("maxPacket=\"128\"");
  const fs::path in = pc.path / "in.txt";
  WriteFile(in, "Music/a.mp3");
  for (const char16_t* name : {u"../evil", u"a/b", u"a\\b", u"x\x01y", u"..", u""}) {
    EXPECT_EQ(Kiv_AddPlaylist(U16(in).c_str(), name, nullptr), 0);
    EXPECT_EQ(Kiv_GetPlayListContents(U16(pc.path / "o.txt").c_str(), name, nullptr), 0);
  }
  for (const char* songs : {"../../etc/passwd", "Music/../../x", "/abs.mp3", "a\x01.mp3"}) {
    WriteFile(in, songs);
    EXPECT_EQ(Kiv_AddPlaylist(U16(in).c_str(), u"Bad", nullptr), 0) << songs;
  }
  EXPECT_FALSE(fs::exists(root.path / "evil.m3u8"));
  EXPECT_FALSE(fs::exists(root.path / "Playlists" / "Bad.m3u8"));
  Kiv_Disconnect();

  // The link goes down in the middle of a long add: nothing is stored.
  Connect("maxPacket=\"96\" dropAfter=\"6\"");
  std::string long_list;
  for (int i = 0; i < 50; ++i) long_list += "Music/" + std::to_string(i) + ".mp3:";
  WriteFile(in, long_list);
  EXPECT_EQ(Kiv_AddPlaylist(U16(in).c_str(), u"Long", nullptr), 0);
  EXPECT_FALSE(fs::exists(root.path / "Playlists" / "Long.m3u8"));
  EXPECT_EQ(Kiv_RenamePlaylist(u"Long", u"x"), 0);
}

TEST_F(MediaSim, SoundListCarriesTheTagsTagLibWrote) {
  MakeWav(root.path / "Sounds" / "Tones" / "ring.wav");
  Tag(root.path / "Sounds" / "Tones" / "ring.wav", "Kivi & \"Co\" <x>", "Ring \xF0\x9F\x8E\xB5", "Tones", "Alert");
  MakeWav(root.path / "Music" / "song.wav");
  Tag(root.path / "Music" / "song.wav", "Band", "Song", "Album", "Rock");
  MakeWav(root.path / "Elsewhere.wav");  // at the root: no folder record
  fs::create_directories(root.path / "Hidden" / "Deep");
  MakeWav(root.path / "Hidden" / "Deep" / "x.wav");  // folder not known to the tree
  WriteFile(root.path / "Music" / "notes.txt", "not audio");
  Connect("maxPacket=\"200\"");
  ASSERT_EQ(Kiv_AddFolderInfo(u"Sounds\\Tones"), 1);
  ASSERT_EQ(Kiv_GetAllSoundFiles(window.wnd), 1);

  KivString* s[4] = {Kiv_String_New(), Kiv_String_New(), Kiv_String_New(), Kiv_String_New()};
  int32_t duration = -1;
  ASSERT_EQ(Kiv_GetSoundFileTag(u"sounds\\TONES", u"RING.wav", s[0], s[1], s[2], s[3], &duration), 1);
  EXPECT_EQ((std::vector{Text(s[0]), Text(s[1]), Text(s[2]), Text(s[3])}),
            (std::vector<std::u16string>{u"Kivi & \"Co\" <x>", u"Ring \U0001F3B5", u"Tones", u"Alert"}));
  EXPECT_EQ(duration, 1);
  EXPECT_EQ(Kiv_GetSoundFileTag(u"Music", u"song.wav", nullptr, s[1], nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(Text(s[1]), u"Song");
  duration = -1;
  EXPECT_EQ(Kiv_GetSoundFileTag(u"Hidden\\Deep", u"x.wav", s[0], s[1], s[2], s[3], &duration), 0);
  EXPECT_EQ(duration, -1);
  for (auto* x : s) Kiv_String_Free(x);

  const auto& files = kiv::CurrentManager()->m_FileInfos;
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].m_strFolder, u"Music");
  EXPECT_EQ(files[1].m_strFolder, u"Sounds\\Tones");
  EXPECT_EQ(files[1].m_nSize, static_cast<int32_t>(fs::file_size(root.path / "Sounds" / "Tones" / "ring.wav")));
  // No PC file or folder is made for a listed sound, and the work file is gone.
  EXPECT_TRUE(fs::is_empty(work.path));

  EXPECT_EQ(Kiv_AddSoundFileArray(u"Music", u"song.wav", u"Other", u"T", u"A", 9, u"G"), 2);
  EXPECT_EQ(Kiv_GetSoundFileTag(u"Music", u"song.wav", nullptr, s[0] = Kiv_String_New(), nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(Text(s[0]), u"Song");  // the first of two equal records
  Kiv_String_Free(s[0]);
}

TEST_F(MediaSim, BadSoundListsFailClearly) {
  Connect("maxPacket=\"512\"", "<fault code=\"31\" kind=\"refuse\" times=\"1\"/>");
  EXPECT_EQ(Kiv_GetAllSoundFiles(window.wnd), 0);
  EXPECT_EQ(window.Count(KIV_MSG_REPORT, 0xA6), 0);  // refused: no report
  Kiv_Disconnect();
  Connect("maxPacket=\"512\"", "<fault code=\"31\" kind=\"result\" value=\"35\"/>");
  EXPECT_EQ(Kiv_GetAllSoundFiles(window.wnd), 0);
  EXPECT_EQ(window.Count(KIV_MSG_REPORT, 0xA6), 1);
  Kiv_Disconnect();
  EXPECT_EQ(Kiv_GetAllSoundFiles(window.wnd), 0);  // not connected
}

// Hostile or damaged documents from a scripted phone: never a crash, entities never expanded.
TEST(MediaSoundXml, HostileDocumentsAndSplitCharacters) {
  TempDir work{"media-xml"};
  setenv("KIVMOD_WORKDIR", work.path.c_str(), 1);
  Kiv_InitalizeU(nullptr);
  PluggedPhone phone;
  phone.linkUp = true;
  auto& m = *kiv::CurrentManager();
  m.m_bConnected = 1;
  m.m_FolderInfos.push_back(kiv::PhoneFolderInfo(nullptr, 0x000B, u"Music", 3));
  auto file = [](std::u16string_view name, std::u16string_view performer) {
    return u"<file name=\"" + std::u16string(name) +
           u"\" path=\"/Music\" created=\"20090729T143015\" size=\"5\" drm=\"NO\"/><audio perfomer=\"" +
           std::u16string(performer) + u"\" title=\"t\" album=\"a\" duration=\"61\" genre=\"g\"/>";
  };
  const std::u16string huge(300000, u'h');
  const std::u16string pair = u"<soundlist>" + file(u"a.mp3", u"x\U0001F3B5y") + u"</soundlist>";
  struct Case {
    const char* what;
    std::u16string document;
    std::size_t piece;  // units per answer
    int result;
    std::u16string performer;
  } cases[] = {
      {"split pair", pair, pair.find(u'\xD83C') + 1, 1, u"x\U0001F3B5y"},
      {"entity", u"<!DOCTYPE s [<!ENTITY e \"boom\">]><soundlist>" + file(u"a.mp3", u"&e;") + u"</soundlist>",
       30000, 0, u""},  // a declaration is refused, nothing expanded
      {"huge attribute", u"<soundlist>" + file(u"a.mp3", huge) + u"</soundlist>", 30000, 1, huge},
      {"cut document", u"<soundlist>" + file(u"a.mp3", u"p").substr(0, 40), 30000, 0, u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    phone.Answer({0x01});
    for (std::size_t at = 0; at < c.document.size(); at += c.piece) {
      phone.Answer(Body().B(at + c.piece < c.document.size() ? 0x02 : 0x01).U(std::u16string_view(c.document).substr(at, c.piece)));
    }
    EXPECT_EQ(Kiv_GetAllSoundFiles(nullptr), c.result);
    KivString* performer = Kiv_String_New();
    EXPECT_EQ(Kiv_GetSoundFileTag(u"Music", u"a.mp3", performer, nullptr, nullptr, nullptr, nullptr), c.result);
    EXPECT_EQ(Text(performer), c.performer);
    Kiv_String_Free(performer);
    phone.answers.clear();
  }
  kiv::DestroyCurrentManager();
  unsetenv("KIVMOD_WORKDIR");
}

}  // namespace
