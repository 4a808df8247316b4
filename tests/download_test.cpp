// Downloads (PC to phone) and their resume: piece arithmetic, the wire bytes against the
// scripted phone, and whole files, link loss and resume against the simulated phone.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <thread>

#include "link/phone_link.hpp"
#include "phonesim/body.hpp"
#include "plugged_phone.hpp"
#include "protocol/pfileman.hpp"
#include "protocol/transfer_file.hpp"
#include "transfer_fixture.hpp"

namespace {

using namespace kivold;

TEST(DownloadPieces, SizeFollowsThePacketSizeAndTheTexts) {
  struct Case {
    uint32_t packet;
    std::size_t folder, name;
    int64_t size;
  } cases[] = {
      {2048, 6, 5, 1997},         // n = 28: no remainder
      {2048, 6, 4, 2048 - 26 - 23 - 2},  // n = 26: n mod 4 = 2
      {32768, 0, 1, 32768 - 8 - 23 - 0},
      {57, 6, 5, 57 - 28 - 23},   // six bytes of data
      {51, 6, 5, 0},              // no room at all
      {10, 6, 5, -41},
      {0, 0, 0, -31},
      {0xFFFFFFFF, 6, 5, 65535 - 28 - 12},  // a body has a 16-bit length
  };
  for (const auto& c : cases) {
    EXPECT_EQ(kiv::TransferPieceSize(c.packet, c.folder, c.name), c.size) << c.packet << " " << c.folder;
  }
}

TEST(DownloadPieces, CountAndLastPiece) {
  struct Case {
    uint64_t length;
    uint32_t piece, count, last;
  } cases[] = {
      {0, 100, 1, 0}, {1, 100, 1, 1}, {99, 100, 1, 99}, {100, 100, 1, 100},
      {101, 100, 2, 1}, {300, 100, 3, 100}, {0xFFFFFFFF, 1997, 2150710, 0xFFFFFFFFu % 1997},
  };
  for (const auto& c : cases) {
    kiv::PiecePlan plan = kiv::PlanPieces(c.length, c.piece);
    EXPECT_EQ(plan.count, c.count) << c.length;
    EXPECT_EQ(plan.last, c.last) << c.length;
    EXPECT_EQ(plan.size, c.piece);
  }
}

constexpr char16_t kFolder[] = u"Music\\A";  // 7 units
constexpr char16_t kName[] = u"song.mp3";    // 8 units: n = 36
// Packet size that leaves ten bytes per piece with those texts.
constexpr uint32_t kPacket = 36 + 23 + 10;

std::vector<uint8_t> PieceBody(uint32_t length, uint32_t offset, uint32_t number, const std::vector<uint8_t>& data,
                               std::size_t from, std::size_t count) {
  std::vector<uint8_t> body;
  PutText(body, u"Music/A");
  PutText(body, kName);
  PutU32(body, length);
  PutU32(body, offset);
  PutU32(body, number);
  body.insert(body.end(), data.begin() + static_cast<std::ptrdiff_t>(from),
              data.begin() + static_cast<std::ptrdiff_t>(from + count));
  return body;
}

std::vector<uint8_t> FreeAnswer(uint32_t bytes) {
  std::vector<uint8_t> a{0x01};
  PutU32(a, bytes);
  return a;
}

class DownloadScripted : public ::testing::Test {
 protected:
  void SetUp() override {
    phone.linkUp = true;
    man.m_nVersion = 3;  // free space as a 32-bit number; resume allowed
  }
  void Source(std::size_t size) {
    data = RandomBytes(size);
    WriteFile(local, data);
  }
  int Download(uint32_t packet = kPacket) { return man.DownloadFile(U16(local), kFolder, kName, packet, window.wnd); }
  std::vector<const SentPacket*> Pieces(uint8_t code) const {
    std::vector<const SentPacket*> out;
    for (const auto& p : phone.sent)
      if (p.code == code) out.push_back(&p);
    return out;
  }

  PluggedPhone phone;
  kiv::CPFileMan man;
  ProgressWindow window;
  TempFolder dir{"download"};
  fs::path local = dir.path / "song.mp3";
  std::vector<uint8_t> data;
};

TEST_F(DownloadScripted, PiecesOnTheWireWithProgressAndTheLastPieceWait) {
  Source(25);
  phone.timeout = 777;
  phone.Answer(FreeAnswer(1000));
  for (int i = 0; i < 3; ++i) phone.Answer({0x01});
  ASSERT_EQ(Download(), 1);
  ASSERT_EQ(phone.sent.size(), 4u);
  std::vector<uint8_t> space;
  PutText(space, u"Music/A");
  EXPECT_EQ(phone.sent[0].code, 0x08);
  EXPECT_EQ(phone.sent[0].body, space);
  auto pieces = Pieces(0x05);
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_EQ(pieces[0]->body, PieceBody(25, 0, 1, data, 0, 10));
  EXPECT_EQ(pieces[1]->body, PieceBody(25, 10, 2, data, 10, 10));
  EXPECT_EQ(pieces[2]->body, PieceBody(25, 20, 3, data, 20, 5));
  EXPECT_EQ(pieces[0]->flag, 0);
  EXPECT_EQ(pieces[1]->flag, 0);
  EXPECT_EQ(pieces[2]->flag, 1);
  EXPECT_EQ(pieces[2]->cls, 0x20);
  EXPECT_EQ(window.Done(), (std::vector<uint32_t>{10, 20, 25}));
  for (const auto& p : window.records) {
    EXPECT_EQ(p.text, kName);
    EXPECT_EQ(p.continuing, 1);
    EXPECT_EQ(p.totalBytes, 0u);
  }
  // Only the last piece waits longer.
  EXPECT_EQ(phone.CallsStartingWith("SetReqTimeout"),
            (std::vector<std::string>{"SetReqTimeout(60000)", "SetReqTimeout(777)"}));
  EXPECT_EQ(phone.timeout, 777u);
}

TEST_F(DownloadScripted, EmptyAndExactMultipleFiles) {
  struct Case {
    std::size_t size;
    std::vector<std::size_t> lengths;
  } cases[] = {{0, {0}}, {20, {10, 10}}, {10, {10}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    phone.sent.clear();
    Source(c.size);
    phone.Answer(FreeAnswer(1000));
    for (std::size_t i = 0; i < c.lengths.size(); ++i) phone.Answer({0x01});
    ASSERT_EQ(Download(), 1);
    auto pieces = Pieces(0x05);
    ASSERT_EQ(pieces.size(), c.lengths.size());
    std::size_t from = 0;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      EXPECT_EQ(pieces[i]->body, PieceBody(static_cast<uint32_t>(c.size), static_cast<uint32_t>(from),
                                           static_cast<uint32_t>(i + 1), data, from, c.lengths[i]));
      EXPECT_EQ(pieces[i]->flag, i + 1 == pieces.size() ? 1 : 0);
      from += c.lengths[i];
    }
  }
}

TEST_F(DownloadScripted, ResultsOfARejectedPiece) {
  struct Case {
    const char* what;
    std::vector<uint8_t> second;
    int cls, code, expected;
  } cases[] = {
      {"0x53", {0x53}, -1, -1, -7},
      {"other failure", {0x28}, -1, -1, 0},
      {"refused with 0x53 in the body", {0x53}, 0x00, 0x72, 0},
      {"no body", {}, -1, -1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    phone.sent.clear();
    Source(25);
    phone.Answer(FreeAnswer(1000));
    phone.Answer({0x01});
    phone.Answer(c.second, c.cls, c.code);
    EXPECT_EQ(Download(), c.expected);
    EXPECT_EQ(Pieces(0x05).size(), 2u);
    EXPECT_EQ(window.records.size(), 1u);
    window.records.clear();
  }
  // A lost answer to the only (last) piece: 0, and its longer wait is put back.
  Source(5);
  phone.Answer(FreeAnswer(1000));
  phone.NoAnswer();
  EXPECT_EQ(Download(), 0);
  EXPECT_EQ(phone.timeout, 5000u);
}

TEST_F(DownloadScripted, CancelSendsTheAbortOnceUnderTheLongWait) {
  Source(35);
  phone.Answer(FreeAnswer(1000));
  phone.Answer({0x01});
  phone.Answer({0x01});
  phone.Answer({0x01});  // the abort's answer
  window.onProgress = [&](std::size_t n) {
    if (n == 2) man.Abort();
  };
  EXPECT_EQ(Download(), -9);
  ASSERT_EQ(phone.sent.size(), 4u);
  std::vector<uint8_t> abort{0x01};
  PutText(abort, u"Music/A");
  PutText(abort, kName);
  EXPECT_EQ(phone.sent[3].code, 0x07);
  EXPECT_EQ(phone.sent[3].body, abort);
  EXPECT_EQ(phone.CallsStartingWith("SetReqTimeout"),
            (std::vector<std::string>{"SetReqTimeout(1000000)", "SetReqTimeout(5000)"}));
  // The next download starts with the flag cleared.
  window.onProgress = nullptr;
  phone.Answer(FreeAnswer(1000));
  for (int i = 0; i < 4; ++i) phone.Answer({0x01});
  EXPECT_EQ(Download(), 1);
}

TEST_F(DownloadScripted, NothingIsSentWithoutRoomOrSpaceOrFile) {
  struct Case {
    const char* what;
    std::size_t size;
    uint32_t packet;
    std::vector<uint8_t> space;
    bool haveFile;
    bool pipe = false;  // a named pipe where the file should be
  } cases[] = {
      {"free space below the length", 25, kPacket, FreeAnswer(24), true},
      {"free space request fails", 25, kPacket, {0x21}, true},
      {"packet size leaves no room", 25, 36 + 23, FreeAnswer(1000), true},
      {"packet size below the fields", 25, 12, FreeAnswer(1000), true},
      {"no local file", 0, kPacket, FreeAnswer(1000), false},
      {"a named pipe is no file (and is not waited on)", 0, kPacket, FreeAnswer(1000), false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    phone.sent.clear();
    phone.answers.clear();
    phone.echo.clear();
    fs::remove(local);
    if (c.haveFile) Source(c.size);
    if (c.pipe) {
      ASSERT_EQ(::mkfifo(local.c_str(), 0600), 0);
    }
    phone.Answer(c.space);
    EXPECT_EQ(Download(c.packet), 0);
    EXPECT_TRUE(Pieces(0x05).empty());
  }
  // Exactly enough space is enough.
  fs::remove(local);
  phone.answers.clear();
  phone.echo.clear();
  Source(25);
  phone.Answer(FreeAnswer(25));
  for (int i = 0; i < 3; ++i) phone.Answer({0x01});
  EXPECT_EQ(Download(), 1);
}

TEST_F(DownloadScripted, LinkLostBetweenPiecesStops) {
  Source(35);
  phone.Answer(FreeAnswer(1000));
  for (int i = 0; i < 4; ++i) phone.Answer({0x01});
  window.onProgress = [&](std::size_t n) {
    if (n == 2) phone.linkUp = false;
  };
  EXPECT_EQ(Download(), 0);
  EXPECT_EQ(Pieces(0x05).size(), 2u);
}

TEST_F(DownloadScripted, ResumeAnnouncesThenSendsTheRest) {
  Source(47);
  for (int i = 0; i < 3; ++i) phone.Answer({0x01});
  ASSERT_EQ(man.ResumeAutoDownload(U16(local), kFolder, kName, 0, kPacket, 21, window.wnd), 1);
  ASSERT_EQ(phone.sent.size(), 4u);
  // Announcement: length, resume offset, piece count; body as long as the texts and a piece.
  std::vector<uint8_t> announce;
  PutText(announce, u"Music/A");
  PutText(announce, kName);
  PutU32(announce, 47);
  PutU32(announce, 21);
  PutU32(announce, 3);
  announce.resize(36 + 10);  // ten-byte pieces cut the numbers short
  EXPECT_EQ(phone.sent[0].code, 0x8E);
  EXPECT_EQ(phone.sent[0].flag, 1);
  ASSERT_EQ(phone.sent[0].body.size(), 36u + 10u);
  EXPECT_EQ(phone.sent[0].body, announce);
  // No answer is read for the announcement.
  auto calls = phone.CallsStartingWith("Pkt");
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[1].substr(0, 9), "PktSend(2");
  auto pieces = Pieces(0x85);
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_EQ(pieces[0]->body, PieceBody(47, 21, 2, data, 21, 10));
  EXPECT_EQ(pieces[1]->body, PieceBody(47, 31, 3, data, 31, 10));
  EXPECT_EQ(pieces[2]->body, PieceBody(47, 41, 4, data, 41, 6));
  EXPECT_EQ(pieces[2]->flag, 1);
  // Each progress names where its piece started.
  EXPECT_EQ(window.Done(), (std::vector<uint32_t>{21, 31, 41}));
}

TEST_F(DownloadScripted, ResumeRefusals) {
  Source(47);
  struct Case {
    const char* what;
    int32_t version;
    uint32_t offset, packet;
  } cases[] = {
      {"old protocol", 2, 21, kPacket},
      {"offset at the end", 3, 47, kPacket},
      {"offset past the end", 3, 48, kPacket},
      {"no room for data", 3, 21, 36 + 23},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    man.m_nVersion = c.version;
    EXPECT_EQ(man.ResumeAutoDownload(U16(local), kFolder, kName, 0, c.packet, c.offset, window.wnd), 0);
    EXPECT_TRUE(phone.sent.empty());
  }
  man.m_nVersion = 3;
  phone.Answer({0x01});
  phone.Answer({0x53});
  EXPECT_EQ(man.ResumeAutoDownload(U16(local), kFolder, kName, 0, kPacket, 21, window.wnd), 0);
  EXPECT_EQ(window.Done(), std::vector<uint32_t>{21});
}

TEST_F(DownloadScripted, ResumeCancelAbortsAndFails) {
  Source(47);
  for (int i = 0; i < 2; ++i) phone.Answer({0x01});
  window.onProgress = [&](std::size_t) { man.Abort(); };
  EXPECT_EQ(man.ResumeAutoDownload(U16(local), kFolder, kName, 0, kPacket, 21, window.wnd), 0);
  ASSERT_EQ(phone.sent.size(), 3u);
  EXPECT_EQ(phone.sent[2].code, 0x07);
  EXPECT_EQ(phone.sent[2].body[0], 0x01);
}

// End to end against the simulated phone in this process.
class DownloadSim : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(phoneDir.path / "Music"); }
  void TearDown() override { kiv::InstallLink(nullptr); }
  void Plug(phonesim::Config config) {
    // The phone keeps its files on disk only, so a new phone over the same folder is the
    // same phone after a reconnect.
    phone = std::make_shared<phonesim::Phone>(phoneDir.path, std::move(config));
    link = std::make_shared<SimLink>(phone);
    kiv::InstallLink(link);
    ASSERT_EQ(link->Connect("qorvend", 7), 1);
    man.m_nVersion = phone->config().version;
  }
  phonesim::Config WithPacket(uint32_t maxPacket) {
    phonesim::Config c;
    c.maxPacket = maxPacket;
    return c;
  }
  int Download(uint32_t packet) { return man.DownloadFile(U16(source), u"Music", u"f.bin", packet, window.wnd); }

  TempFolder phoneDir{"download-phone"};
  TempFolder pcDir{"download-pc"};
  std::shared_ptr<phonesim::Phone> phone;
  std::shared_ptr<SimLink> link;
  kiv::CPFileMan man;
  ProgressWindow window;
  fs::path source = pcDir.path / "f.bin";
  fs::path onPhone = phoneDir.path / "Music" / "f.bin";
};

TEST_F(DownloadSim, SendsFilesWholeAtSeveralPacketSizes) {
  for (uint32_t packet : {64u, 2048u, 32768u}) {
    const auto piece = static_cast<std::size_t>(kiv::TransferPieceSize(packet, 5, 5));
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, piece, piece + 1, 5 * piece - 1, 200000 + piece}) {
      SCOPED_TRACE("packet " + std::to_string(packet) + " size " + std::to_string(size));
      Plug(WithPacket(packet));
      auto bytes = RandomBytes(size, static_cast<uint32_t>(size + packet));
      WriteFile(source, bytes);
      window.records.clear();
      ASSERT_EQ(Download(packet), 1);
      EXPECT_EQ(ReadFile(onPhone), bytes);
      EXPECT_EQ(window.records.size(), size == 0 ? 1 : (size + piece - 1) / piece);
    }
  }
}

TEST_F(DownloadSim, PhoneAnswersFeedTheResults) {
  WriteFile(source, RandomBytes(5000));
  auto config = WithPacket(2048);
  config.internal.free = 4999;
  Plug(config);
  EXPECT_EQ(Download(2048), 0);  // refused by the free-space check
  EXPECT_FALSE(fs::exists(onPhone));

  config = WithPacket(2048);
  config.faults.push_back({0x05, phonesim::Fault::Kind::Result, 0x53, 0, 1});
  Plug(config);
  EXPECT_EQ(Download(2048), -7);
  EXPECT_EQ(man.GetResult(), 0x53);

  // A folder that leaves the served folder is refused by the phone; nothing is written.
  Plug(WithPacket(2048));
  EXPECT_EQ(man.DownloadFile(U16(source), u"Music\\..\\..", u"f.bin", 2048, window.wnd), 0);
  EXPECT_FALSE(fs::exists(phoneDir.path.parent_path() / "f.bin"));
}

// The phone keeps a file open between the pieces of one transfer, but a piece that follows
// any other request finds the file as it is now: here it was renamed on the phone's disk
// before a file query came in between, so the piece must not land in (or come from) the
// renamed file.
TEST(SimPhonePieces, APieceAfterAnotherRequestOpensTheFileAfresh) {
  for (bool download : {true, false}) {
    SCOPED_TRACE(download ? "download" : "upload");
    TempFolder dir{"held-file"};
    fs::create_directories(dir.path / "Music");
    WriteFile(dir.path / "Music" / "f.bin", std::vector<uint8_t>(10, 'u'));
    phonesim::Config config;
    config.maxPacket = 8 + 39 + 2;  // header, result byte and echoed texts and numbers, two bytes
    phonesim::Phone phone(dir.path, config);
    ASSERT_EQ(phone.Connect("qorvend"), 1);
    auto request = [&](uint8_t code, int32_t flag, auto&& fill) {
      phonesim::BodyWriter w;
      for (std::u16string_view text : {u"Music", u"f.bin"}) {
        w.Byte(static_cast<uint8_t>(text.size() + 1));
        w.Text(text);
      }
      fill(w);
      auto answer = phone.Handle({0x20, code, flag, 1, w.Take()});
      return answer && !answer->body.empty() ? answer->body[0] : 0;
    };
    auto piece = [&](uint32_t offset, uint32_t number, int32_t flag) {
      if (!download) return request(0x20, 1, [&](phonesim::BodyWriter& w) {
        w.U32(10);
        w.U32(offset);
        w.U32(number);
      });
      return request(0x05, flag, [&](phonesim::BodyWriter& w) {
        w.U32(6);
        w.U32(offset);
        w.U32(number);
        const uint8_t data[2] = {'a', 'b'};
        w.Raw(data);
      });
    };
    if (download) {
      ASSERT_EQ(piece(0, 1, 0), 0x01);
    } else {
      ASSERT_EQ(request(0x06, 1, [](phonesim::BodyWriter&) {}), 0x01);
    }
    ASSERT_EQ(piece(2, 2, 0), 0x01);
    fs::rename(dir.path / "Music" / "f.bin", dir.path / "Music" / "g.bin");
    EXPECT_EQ(request(0x0E, 1, [](phonesim::BodyWriter& w) { w.U32(0); }), 0x21);
    EXPECT_EQ(piece(4, 3, 1), 0x21);
    EXPECT_EQ(fs::file_size(dir.path / "Music" / "g.bin"), download ? 4u : 10u);
  }
}

TEST_F(DownloadSim, LinkLossThenResumeGivesTheSameFile) {
  const uint32_t packet = 2048;
  const auto piece = static_cast<uint32_t>(kiv::TransferPieceSize(packet, 5, 5));
  auto bytes = RandomBytes(7 * piece + 123);
  WriteFile(source, bytes);
  auto config = WithPacket(packet);
  config.dropAfterPackets = 4;  // the free-space request and three pieces
  Plug(config);
  EXPECT_EQ(Download(packet), 0);
  EXPECT_FALSE(link->IsConnected());
  ASSERT_EQ(fs::file_size(onPhone), 3u * piece);

  Plug(WithPacket(packet));
  uint32_t held = 0;
  ASSERT_EQ(man.QueryFile(0, u"Music", u"f.bin", static_cast<uint32_t>(bytes.size()), held), 1);
  EXPECT_EQ(held, 3u * piece);
  window.records.clear();
  ASSERT_EQ(man.ResumeAutoDownload(U16(source), u"Music", u"f.bin", 0, packet, held, window.wnd), 1);
  EXPECT_EQ(ReadFile(onPhone), bytes);
  ASSERT_EQ(window.records.size(), 5u);
  EXPECT_EQ(window.records.front().bytesDone, 3u * piece);

  // A resume from an earlier offset than the phone holds rewrites the rest.
  ASSERT_EQ(man.ResumeAutoDownload(U16(source), u"Music", u"f.bin", 0, packet, 100, window.wnd), 1);
  EXPECT_EQ(ReadFile(onPhone), bytes);
}

TEST_F(DownloadSim, AbortFromAnotherThreadWhilePiecesFlow) {
  Plug(WithPacket(2048));
  WriteFile(source, RandomBytes(1 << 20));
  std::atomic<int> stage{0};
  std::thread canceller([&] {
    while (stage.load() == 0) std::this_thread::yield();
    man.Abort();
    stage.store(2);
  });
  window.onProgress = [&](std::size_t n) {
    if (n != 4) return;
    stage.store(1);
    while (stage.load() != 2) std::this_thread::yield();
  };
  EXPECT_EQ(Download(2048), -9);
  int idle = 0;
  stage.compare_exchange_strong(idle, 1);  // lets the canceller go if the copy ended early
  canceller.join();
  EXPECT_EQ(window.records.size(), 4u);
  // The phone keeps what it received, ready for a resume.
  EXPECT_EQ(fs::file_size(onPhone), window.records.back().bytesDone);
}

}  // namespace
