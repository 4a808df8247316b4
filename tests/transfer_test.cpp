// Copies to the phone (download) and to the PC (upload), and the download's resume: the wire
// bytes and answer handling against the scripted phone; whole files, link loss, resume and
// a cancel from another thread against the simulated phone in this process.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "kivtest.hpp"
#include "null_link.hpp"
#include "phonesim/phone.hpp"
#include "platform/local_names.hpp"
#include "platform/text.hpp"
#include "protocol/pfileman.hpp"

namespace {

using namespace kivtest;

constexpr char16_t kFolder[] = u"Music\\A";  // 7 units
constexpr char16_t kName[] = u"song.mp3";    // 8 units: the texts take 36 bytes
// A packet size that leaves ten bytes per piece with those texts.
constexpr uint32_t kPacket = 36 + 23 + 10;

// A download piece: folder, name, file length, offset, piece number, the bytes.
Bytes Piece(const Bytes& data, uint32_t offset, uint32_t number, std::size_t count, std::u16string_view name = kName) {
  return Body().S(u"Music/A").S(name).D(static_cast<uint32_t>(data.size())).D(offset).D(number).Raw(
      Bytes(data.begin() + offset, data.begin() + static_cast<long>(offset + count)));
}
Bytes FreeAnswer(uint32_t bytes) { return Body().B(0x01).D(bytes); }

class TransferScripted : public ::testing::Test {
 protected:
  void SetUp() override {
    phone.linkUp = true;
    man.m_nVersion = 3;  // free space as a 32-bit number; resume allowed
  }
  void Source(std::size_t size) { WriteFile(local, data = RandomBytes(size)); }
  int Download(uint32_t packet = kPacket, std::u16string_view name = kName) {
    return man.DownloadFile(U16(local), kFolder, name, packet, window.wnd);
  }
  int Resume(uint32_t offset, uint32_t packet = kPacket) {
    return man.ResumeAutoDownload(U16(local), kFolder, kName, 0, packet, offset, window.wnd);
  }
  std::vector<const SentPacket*> Sent(uint8_t code) const {
    std::vector<const SentPacket*> out;
    for (const auto& p : phone.sent)
      if (p.code == code) out.push_back(&p);
    return out;
  }
  void Reset() {
    phone.Clear();
    window.seen.clear();
    window.onProgress = nullptr;
    phone.linkUp = true;
    man.ResetFlags();
  }

  PluggedPhone phone;
  kiv::CPFileMan man;
  Window window;
  TempDir dir{"transfer"};
  fs::path local = dir.path / "song.mp3";
  Bytes data;
};

// The pieces follow the packet size: ten bytes here, also with a name whose texts leave two
// bytes over a multiple of four, and never more than a 16-bit body holds.
TEST_F(TransferScripted, DownloadPiecesOnTheWireWithProgressAndTheLastPieceWait) {
  const std::tuple<std::size_t, std::u16string, uint32_t, std::vector<std::size_t>> cases[] = {  // size, name, packet, pieces
      {25, kName, kPacket, {10, 10, 5}}, {0, kName, kPacket, {0}}, {20, kName, kPacket, {10, 10}},
      {10, u"song.mp", kPacket, {10}}, {70000, kName, 0xFFFFFFFF, {65535 - 36 - 12, 70000 - 65487}}};
  for (const auto& [size, name, packet, lengths] : cases) {
    SCOPED_TRACE(size);
    Reset();
    Source(size);
    phone.timeout = 777;
    phone.Answer(FreeAnswer(100000));
    for (std::size_t i = 0; i < lengths.size(); ++i) phone.Answer({0x01});
    ASSERT_EQ(Download(packet, name), 1);
    EXPECT_EQ(phone.sent[0].code, 0x08);
    EXPECT_EQ(phone.sent[0].body, Bytes(Body().S(u"Music/A")));
    auto pieces = Sent(0x05);
    ASSERT_EQ(pieces.size(), lengths.size());
    std::vector<uint32_t> done;
    for (std::size_t i = 0, from = 0; i < pieces.size(); from += lengths[i++]) {
      EXPECT_EQ(pieces[i]->body, Piece(data, uint32_t(from), uint32_t(i + 1), lengths[i], name));
      EXPECT_EQ(std::make_pair(pieces[i]->flag, pieces[i]->cls), std::make_pair(i + 1 == pieces.size() ? 1 : 0, uint8_t{0x20}));
      done.push_back(static_cast<uint32_t>(from + lengths[i]));
    }
    EXPECT_EQ(window.Done(), done);
    for (const auto& p : window.Progress())
      EXPECT_EQ(std::tie(p.text1, p.continuing, p.totalBytes), std::make_tuple(name, 1, 0u));
    // Only the last piece waits longer, and the wait is put back.
    EXPECT_EQ(phone.waits, (std::vector<uint32_t>{60000, 777}));
  }
}

TEST_F(TransferScripted, DownloadFailures) {
  struct Case {
    const char* what;
    int source;  // bytes of the PC file; -1 none, -2 a named pipe (not waited on)
    uint32_t packet;
    std::function<void()> script;  // after the free-space answer
    uint32_t space;
    int result;
    std::size_t pieces;
  } cases[] = {
      {"phone busy", 25, kPacket, [&] { phone.Answer({0x01}), phone.Answer({0x53}); }, 1000, -7, 2},
      {"other failure", 25, kPacket, [&] { phone.Answer({0x01}), phone.Answer({0x28}); }, 1000, 0, 2},
      {"refused with 0x53 in the body", 25, kPacket,
       [&] { phone.Answer({0x01}), phone.Answer({0x53}, 0x00, 0x72); }, 1000, 0, 2},
      {"no body", 25, kPacket, [&] { phone.Answer({0x01}), phone.Answer({}); }, 1000, 0, 2},
      {"lost answer to the last piece", 5, kPacket, [&] { phone.NoAnswer(); }, 1000, 0, 1},
      {"link lost between pieces", 35, kPacket,
       [&] {
         for (int i = 0; i < 4; ++i) phone.Answer({0x01});
         window.onProgress = [&](const Message&, std::size_t n) { phone.linkUp = n != 2; };
       },
       1000, 0, 2},
      {"free space below the length", 25, kPacket, nullptr, 24, 0, 0},
      {"exactly enough space", 25, kPacket, [&] { for (int i = 0; i < 3; ++i) phone.Answer({0x01}); },
       25, 1, 3},
      {"packet size leaves no room", 25, 36 + 23, nullptr, 1000, 0, 0},
      {"packet size below the fields", 25, 12, nullptr, 1000, 0, 0},
      {"no local file", -1, kPacket, nullptr, 1000, 0, 0},
      {"a named pipe is no file", -2, kPacket, nullptr, 1000, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Reset();
    fs::remove(local);
    if (c.source >= 0) Source(static_cast<std::size_t>(c.source));
    if (c.source == -2) {
      ASSERT_EQ(::mkfifo(local.c_str(), 0600), 0);
    }
    phone.Answer(FreeAnswer(c.space));
    if (c.script) c.script();
    EXPECT_EQ(Download(c.packet), c.result);
    EXPECT_EQ(Sent(0x05).size(), c.pieces);
    EXPECT_EQ(phone.timeout, 5000u);
  }
  Reset();
  fs::remove(local);
  Source(25);
  phone.Answer({0x21});  // the free-space request fails
  EXPECT_EQ(Download(), 0);
  EXPECT_TRUE(Sent(0x05).empty());
}

TEST_F(TransferScripted, DownloadCancelSendsTheAbortOnceUnderTheLongWait) {
  Source(35);
  phone.Answer(FreeAnswer(1000));
  for (int i = 0; i < 3; ++i) phone.Answer({0x01});  // two pieces and the abort's answer
  window.onProgress = [&](const Message&, std::size_t n) {
    if (n == 2) man.Abort();
  };
  EXPECT_EQ(Download(), -9);
  EXPECT_EQ(phone.Codes(), (std::vector<uint8_t>{0x08, 0x05, 0x05, 0x07}));
  EXPECT_EQ(phone.sent[3].body, Bytes(Body().B(0x01).S(u"Music/A").S(kName)));
  EXPECT_EQ(phone.waits, (std::vector<uint32_t>{1000000, 5000}));
  // The next download starts with the flag cleared.
  Reset();
  phone.Answer(FreeAnswer(1000));
  for (int i = 0; i < 4; ++i) phone.Answer({0x01});
  EXPECT_EQ(Download(), 1);
}

TEST_F(TransferScripted, ResumeAnnouncesThenSendsTheRest) {
  Source(47);
  for (int i = 0; i < 3; ++i) phone.Answer({0x01});
  ASSERT_EQ(Resume(21), 1);
  // The announcement: length, resume offset, piece count, in a body as long as the texts and
  // one piece (ten-byte pieces cut the numbers short); no answer is read for it.
  Bytes announce = Body().S(u"Music/A").S(kName).D(47).D(21).D(3);
  announce.resize(36 + 10);
  EXPECT_EQ(phone.Codes(), (std::vector<uint8_t>{0x8E, 0x85, 0x85, 0x85}));
  EXPECT_EQ(phone.sent[0].body, announce);
  EXPECT_EQ(phone.sent[0].flag, 1);
  EXPECT_EQ(std::count(phone.calls.begin(), phone.calls.end(), "Read"), 3);
  auto pieces = Sent(0x85);
  EXPECT_EQ(pieces[0]->body, Piece(data, 21, 2, 10));
  EXPECT_EQ(pieces[1]->body, Piece(data, 31, 3, 10));
  EXPECT_EQ(pieces[2]->body, Piece(data, 41, 4, 6));
  EXPECT_EQ(pieces[2]->flag, 1);
  // Each progress names where its piece started.
  EXPECT_EQ(window.Done(), (std::vector<uint32_t>{21, 31, 41}));

  // Refused without a request: an old protocol, an offset at or past the end, no room for data.
  for (auto [version, offset, packet] : {std::tuple{2, 21u, kPacket}, std::tuple{3, 47u, kPacket},
                                         std::tuple{3, 48u, kPacket}, std::tuple{3, 21u, 36u + 23}}) {
    Reset();
    man.m_nVersion = version;
    EXPECT_EQ(Resume(offset, packet), 0) << offset;
    EXPECT_TRUE(phone.sent.empty()) << offset;
  }
  man.m_nVersion = 3;
  phone.Answer({0x01});
  phone.Answer({0x53});
  EXPECT_EQ(Resume(21), 0);
  EXPECT_EQ(window.Done(), std::vector<uint32_t>{21});

  // A cancel aborts the copy (as sent to the phone) and fails.
  Reset();
  for (int i = 0; i < 2; ++i) phone.Answer({0x01});
  window.onProgress = [&](const Message&, std::size_t) { man.Abort(); };
  EXPECT_EQ(Resume(21), 0);
  EXPECT_EQ(phone.Codes(), (std::vector<uint8_t>{0x8E, 0x85, 0x07}));
  EXPECT_EQ(phone.sent[2].body[0], 0x01);
}

// Upload: a piece answer holds the result, the echoed texts, the total, the offset, a value
// to hand back, and the bytes.
constexpr char16_t kUpFolder[] = u"Music\\Live";
constexpr char16_t kUpName[] = u"a.mp3";
constexpr std::size_t kEchoed = 2 * (10 + 5) + 6;
Bytes UpPiece(uint32_t total, uint32_t offset, uint32_t third, const Bytes& bytes, uint8_t result = 0x01) {
  return Body().B(result).S(u"Music/Live").S(kUpName).D(total).D(offset).D(third).Raw(bytes);
}
Bytes Ack(uint32_t total, uint32_t received, uint32_t third) {
  return Body().S(u"Music/Live").S(kUpName).D(total).D(received).D(third);
}

TEST_F(TransferScripted, UploadStartAndAcknowledgementsOnTheWire) {
  // Ends by length (the code echoes the request) or by the last-piece code short of the total.
  for (auto [total, lastCode] : {std::pair{7u, -1}, std::pair{100u, 0xC6}}) {
    SCOPED_TRACE(total);
    Reset();
    phone.timeout = 1234;
    phone.Answer(UpPiece(total, 0, 0xDEADBEEF, {1, 2, 3}));
    phone.Answer(UpPiece(total, 3, 42, {4, 5}));
    phone.Answer(UpPiece(total, 5, 43, {6, 7}), 0x20, lastCode);
    ASSERT_EQ(man.UploadFile(U16(local), kUpFolder, kUpName, window.wnd), 1);
    EXPECT_EQ(phone.Codes(), (std::vector<uint8_t>{0x06, 0x20, 0x20}));
    EXPECT_EQ(phone.sent[0].body, Bytes(Body().S(u"Music/Live").S(kUpName)));
    EXPECT_EQ(phone.sent[0].flag, 1);
    // Each acknowledgement names how far the PC got and hands back the third value.
    EXPECT_EQ(phone.sent[1].body, Ack(total, 3, 0xDEADBEEF));
    EXPECT_EQ(phone.sent[2].body, Ack(total, 5, 42));
    EXPECT_EQ(ReadFile(local), (Bytes{1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(window.Done(), (std::vector<uint32_t>{3, 5, 7}));
    for (const auto& p : window.Progress())
      EXPECT_EQ(std::tie(p.text1, p.itemCount, p.totalBytes, p.continuing),
                std::make_tuple(u"Music\\Live\\a.mp3", 0, 0u, 1));
    // One long wait covers the whole upload.
    EXPECT_EQ(phone.waits, (std::vector<uint32_t>{60000, 1234}));
  }
  // An empty phone file empties an older local copy.
  Reset();
  phone.Answer(UpPiece(0, 0, 0, {}));
  ASSERT_EQ(man.UploadFile(U16(local), kUpFolder, kUpName, window.wnd), 1);
  EXPECT_EQ(phone.sent.size(), 1u);
  EXPECT_EQ(fs::file_size(local), 0u);
  EXPECT_EQ(window.Done(), std::vector<uint32_t>{0});
}

TEST_F(TransferScripted, UploadFailuresLeaveNoFileUnderTheFinalName) {
  const std::tuple<const char*, std::function<void()>, int32_t> cases[] = {  // how the second answer goes wrong
      {"no answer", [&] { phone.NoAnswer(); }, 0},
      {"refused", [&] { phone.Answer(UpPiece(6, 3, 0, {4, 5, 6}), 0x00, 0x72); }, 1},
      {"failing result byte", [&] { phone.Answer(UpPiece(6, 3, 0, {4, 5, 6}, 0x53)); }, 0},
      {"answer shorter than its fields", [&] { phone.Answer(Bytes(1 + kEchoed + 11, 1)); }, 0},
      {"link lost after the first piece",
       [&] {
         phone.Answer(UpPiece(6, 3, 0, {4, 5, 6}));
         window.onProgress = [&](const Message&, std::size_t) { phone.linkUp = false; };
       },
       0},
      {"cancel after the first piece",
       [&] {
         phone.Answer(UpPiece(6, 3, 0, {4, 5, 6}));
         phone.Answer({0x01});  // the abort's answer
         window.onProgress = [&](const Message&, std::size_t) { man.Abort(); };
       },
       0},
  };
  for (const auto& [what, second, refused] : cases) {
    SCOPED_TRACE(what);
    Reset();
    phone.Answer(UpPiece(6, 0, 0, {1, 2, 3}));
    second();
    EXPECT_EQ(man.UploadFile(U16(local), kUpFolder, kUpName, window.wnd), 0);
    EXPECT_FALSE(fs::exists(local));
    EXPECT_EQ(man.m_bRefused, refused);
    EXPECT_EQ(phone.timeout, 5000u);
  }
  // The cancel sent the abort as coming from the phone.
  EXPECT_EQ(phone.Codes(), (std::vector<uint8_t>{0x06, 0x20, 0x07}));
  EXPECT_EQ(phone.sent[2].body, Bytes(Body().B(0x02).S(u"Music/Live").S(kUpName)));

  // A local file that cannot be made leaves the first answer unread; a failed send ends
  // before the local file is touched.
  Reset();
  phone.Answer(UpPiece(3, 0, 0, {1, 2, 3}));
  EXPECT_EQ(man.UploadFile(U16(dir.path / "missing" / "a.mp3"), kUpFolder, kUpName, window.wnd), 0);
  EXPECT_FALSE(phone.Called("Read"));
  EXPECT_EQ(phone.answers.size(), 1u);
  fs::remove(local);
  phone.sendFails = true;
  EXPECT_EQ(man.UploadFile(U16(local), kUpFolder, kUpName, window.wnd), 0);
  EXPECT_FALSE(fs::exists(local));
  EXPECT_EQ(phone.timeout, 5000u);
}

// A piece must start at the bytes received so far and end within the announced length; any
// other fails the copy, keeps the PC's older file and leaves no temporary behind. A symbolic
// link at the target is replaced, not written through; a folder there is named as the reason.
TEST_F(TransferScripted, UploadPiecesThatDoNotContinueTheFileKeepTheOldFile) {
  auto upload = [&] { return man.UploadFile(U16(local), kUpFolder, kUpName, window.wnd); };
  const std::pair<const char*, std::vector<Bytes>> cases[] = {
      {"a piece cut short (next starts past the end)", {UpPiece(6, 0, 0, {1, 2}), UpPiece(6, 3, 0, {4, 5, 6})}},
      {"more than announced", {UpPiece(3, 0, 0, {1, 2, 3, 4})}},
      {"offset 0 repeated", {UpPiece(6, 0, 0, {1, 2, 3}), UpPiece(6, 0, 0, {1, 2, 3})}},
      {"the length changes", {UpPiece(6, 0, 0, {1, 2, 3}), UpPiece(9, 3, 0, {4, 5, 6})}},
      {"an empty piece that is not the last", {UpPiece(6, 0, 0, {})}},
  };
  for (const auto& [what, answers] : cases) {
    SCOPED_TRACE(what);
    Reset();
    WriteFile(local, Bytes{9, 9});
    for (const auto& a : answers) phone.Answer(a);
    phone.Answer({0x01});  // the abort's answer
    EXPECT_EQ(upload(), 0);
    EXPECT_EQ(ReadFile(local), (Bytes{9, 9}));
    EXPECT_NE(kiv::U16ToUtf8(man.m_strFailure).find("damaged piece"), std::string::npos);
    EXPECT_EQ(phone.sent.back().code, 0x07);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), {}), 1);
  }
  const fs::path elsewhere = dir.path / "elsewhere";
  WriteFile(elsewhere, Bytes{7});
  fs::remove(local);
  fs::create_symlink(elsewhere, local);
  phone.Answer(UpPiece(2, 0, 0, {1, 2}));
  ASSERT_EQ(upload(), 1);
  EXPECT_FALSE(fs::is_symlink(local));
  EXPECT_EQ(ReadFile(local), (Bytes{1, 2}));
  EXPECT_EQ(ReadFile(elsewhere), Bytes{7});
  fs::remove(local);
  fs::create_directory(local);
  phone.Answer(UpPiece(2, 0, 0, {1, 2}));
  EXPECT_EQ(upload(), 0);
  EXPECT_NE(kiv::U16ToUtf8(man.m_strFailure).find("is a folder"), std::string::npos);
}

// Temporaries of ended processes are removed at start, those of live ones and other files kept.
TEST(LocalTemporaries, OnlyThoseOfEndedProcessesAreRemoved) {
  TempDir dir{"stale"};
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  for (const std::string& name : {".kivmod-" + std::to_string(child) + "-0.part",
                                  ".kivmod-" + std::to_string(::getpid()) + "-0.part", std::string(".kivmod-notes.txt")})
    WriteFile(dir.path / name, Bytes{1});
  EXPECT_EQ(kiv::RemoveStaleTemporaries(U16(dir.path)), 1);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), {}), 2);
}

TEST_F(TransferScripted, QueryFileHandsBackTheSecondNumber) {
  Bytes answer = Body().B(0x01).S(u"M").S(u"a").D(1).D(77777).D(3);
  phone.Answer(answer);
  uint32_t out = 0;
  ASSERT_EQ(man.QueryFile(0, kUpFolder, kUpName, 1000, out), 1);
  EXPECT_EQ(out, 77777u);
  EXPECT_EQ(phone.sent.back().code, 0x0E);
  EXPECT_EQ(phone.sent.back().body, Ack(1000, 0, 0));
  answer.resize(answer.size() - 2);  // cut into the third number
  phone.Answer(answer);
  phone.Answer({0x21});
  out = 5;
  EXPECT_EQ(man.QueryFile(0, kUpFolder, kUpName, 1000, out), 0);
  EXPECT_EQ(man.QueryFile(0, kUpFolder, kUpName, 1000, out), 0);
  EXPECT_EQ(out, 5u);
}

// End to end against the simulated phone in this process.
class TransferSim : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(phoneDir.path / "Music"); }
  void TearDown() override { kiv::InstallLink(nullptr); }
  // The phone keeps its files on disk only: a new phone over the same folder is the same
  // phone after a reconnect.
  void Plug(uint32_t maxPacket, std::function<void(phonesim::Config&)> change = nullptr) {
    phonesim::Config config;
    config.maxPacket = maxPacket;
    if (change) change(config);
    phone = std::make_shared<phonesim::Phone>(phoneDir.path, std::move(config));
    link = std::make_shared<SimLink>(phone);
    kiv::InstallLink(link);
    ASSERT_EQ(link->Connect("qorvend", 7), 1);
    man.m_nVersion = phone->config().version;
    window.seen.clear();
  }
  int Download(uint32_t packet) { return man.DownloadFile(U16(source), u"Music", u"f.bin", packet, window.wnd); }
  int Upload() { return man.UploadFile(U16(back), u"Music", u"f.bin", window.wnd); }

  TempDir phoneDir{"transfer-phone"}, pcDir{"transfer-pc"};
  std::shared_ptr<phonesim::Phone> phone;
  std::shared_ptr<SimLink> link;
  kiv::CPFileMan man;
  Window window;
  fs::path source = pcDir.path / "f.bin", back = pcDir.path / "back.bin", onPhone = phoneDir.path / "Music" / "f.bin";
};

TEST_F(TransferSim, FilesGoBothWaysWholeAtSeveralPacketSizes) {
  for (uint32_t packet : {64u, 2048u, 32768u}) {
    // "Music" and "f.bin": the texts take 26 bytes, two over a multiple of four.
    const std::size_t down = packet - 26 - 23 - 2, up = packet - 8 - 1 - 26 - 12;
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, down, up + 1, 5 * down - 1, 200000 + down}) {
      SCOPED_TRACE("packet " + std::to_string(packet) + " size " + std::to_string(size));
      Plug(packet);
      auto bytes = RandomBytes(size, static_cast<uint32_t>(size + packet));
      WriteFile(source, bytes);
      ASSERT_EQ(Download(packet), 1);
      EXPECT_EQ(ReadFile(onPhone), bytes);
      EXPECT_EQ(window.Progress().size(), size == 0 ? 1 : (size + down - 1) / down);
      window.seen.clear();
      ASSERT_EQ(Upload(), 1);
      EXPECT_EQ(ReadFile(back), bytes);
      EXPECT_EQ(window.Progress().size(), size == 0 ? 1 : (size + up - 1) / up);
      EXPECT_EQ(window.Done().back(), size);
    }
  }
}

TEST_F(TransferSim, PhoneAnswersFeedTheResults) {
  WriteFile(source, RandomBytes(5000));
  Plug(2048, [](phonesim::Config& c) { c.internal.free = 4999; });
  EXPECT_EQ(Download(2048), 0);  // refused by the free-space check
  EXPECT_FALSE(fs::exists(onPhone));
  Plug(2048, [](phonesim::Config& c) { c.faults.push_back({0x05, phonesim::Fault::Kind::Result, 0x53, 0, 1}); });
  EXPECT_EQ(Download(2048), -7);
  EXPECT_EQ(man.GetResult(), 0x53);

  // A folder that leaves the served folder is refused by the phone, both ways; so is a
  // missing file.
  Plug(2048);
  EXPECT_EQ(man.DownloadFile(U16(source), u"Music\\..\\..", u"f.bin", 2048, window.wnd), 0);
  EXPECT_FALSE(fs::exists(phoneDir.path.parent_path() / "f.bin"));
  for (const char16_t* folder : {u"Music", u"..", u"Music\\..\\..", u"\\etc"}) {
    EXPECT_EQ(man.UploadFile(U16(back), folder, u"passwd", window.wnd), 0);
    EXPECT_FALSE(fs::exists(back));
  }
}

TEST_F(TransferSim, CancelFromAnotherThreadWhilePiecesFlow) {
  for (bool down : {true, false}) {
    SCOPED_TRACE(down ? "to the phone" : "to the PC");
    WriteFile(down ? source : onPhone, RandomBytes(1 << 20));
    Plug(2048);
    CancelFromThread cancel([&] { man.Abort(); });
    window.onProgress = [&](const Message&, std::size_t n) {
      if (n == 4) cancel.Fire();
    };
    EXPECT_EQ(down ? Download(2048) : Upload(), down ? -9 : 0);
    EXPECT_EQ(window.Progress().size(), 4u);
    // The phone keeps what it received, ready for a resume (here from an earlier offset than
    // it holds: the rest is rewritten); the PC gets no partial file.
    if (down) {
      EXPECT_EQ(fs::file_size(onPhone), window.Done().back());
      ASSERT_EQ(man.ResumeAutoDownload(U16(source), u"Music", u"f.bin", 0, 2048, 100, window.wnd), 1);
      EXPECT_EQ(ReadFile(onPhone), ReadFile(source));
    } else {
      EXPECT_FALSE(fs::exists(back));
    }
  }
}

// The phone keeps a file open between the pieces of one transfer, but a piece that follows
// any other request finds the file as it is now: here it was renamed on the phone's disk
// before a file query came in between, so the piece must not land in (or come from) the
// renamed file.
TEST(TransferSimPhone, APieceAfterAnotherRequestOpensTheFileAfresh) {
  for (bool download : {true, false}) {
    SCOPED_TRACE(download ? "download" : "upload");
    TempDir dir{"held-file"};
    WriteFile(dir.path / "Music" / "f.bin", std::string(10, 'u'));
    phonesim::Config config;
    config.maxPacket = 8 + 39 + 2;  // header, result byte, echoed texts and numbers, two bytes
    phonesim::Phone phone(dir.path, config);
    ASSERT_EQ(phone.Connect("qorvend"), 1);
    auto request = [&](uint8_t code, int32_t flag, Body body) {
      auto answer = phone.Handle({0x20, code, flag, 1, Body().S(u"Music").S(u"f.bin").Raw(body), false});
      return answer && !answer->body.empty() ? answer->body[0] : 0;
    };
    auto piece = [&](uint32_t offset, uint32_t number, int32_t flag) {
      return download ? request(0x05, flag, Body().D(6).D(offset).D(number).B('a').B('b'))
                      : request(0x20, 1, Body().D(10).D(offset).D(number));
    };
    ASSERT_EQ(download ? piece(0, 1, 0) : request(0x06, 1, Body()), 0x01);
    ASSERT_EQ(piece(2, 2, 0), 0x01);
    fs::rename(dir.path / "Music" / "f.bin", dir.path / "Music" / "g.bin");
    EXPECT_EQ(request(0x0E, 1, Body().D(0)), 0x21);
    EXPECT_EQ(piece(4, 3, 1), 0x21);
    EXPECT_EQ(fs::file_size(dir.path / "Music" / "g.bin"), download ? 4u : 10u);
  }
}

// A piece is answered before it is written. When that write fails, the transfer's next
// piece fails instead of the file completing with a hole.
TEST(TransferSimPhone, AFailedWriteAfterTheAnswerFailsTheNextPiece) {
  TempDir dir{"late-write"};
  fs::create_directories(dir.path / "Music");
  phonesim::Phone phone(dir.path, phonesim::Config{});
  ASSERT_EQ(phone.Connect("qorvend"), 1);
  auto piece = [&](uint32_t offset, uint32_t number, int32_t flag) {
    auto answer = phone.Handle(
        {0x20, 0x05, flag, 1, Body().S(u"Music").S(u"f.bin").D(6).D(offset).D(number).B('a').B('b'), false});
    return answer && !answer->body.empty() ? answer->body[0] : 0;
  };
  ASSERT_EQ(piece(0, 1, 0), 0x01);
  ASSERT_EQ(piece(2, 2, 0), 0x01);
  // The second piece's write fails; the last piece could be written again.
  const std::string file = (dir.path / "Music" / "f.bin").string();
  phone.heldFile->fd = kiv::UniqueFd(::open(file.c_str(), O_RDONLY));
  phone.Settle();
  phone.heldFile->fd = kiv::UniqueFd(::open(file.c_str(), O_WRONLY));
  EXPECT_EQ(piece(4, 3, 1), 0x23);
  EXPECT_EQ(fs::file_size(dir.path / "Music" / "f.bin"), 2u);
}

}  // namespace
