// Uploads (phone to PC): the scripted phone checks the wire bytes and the answer handling;
// the simulated phone checks whole files, link loss and a cancel from another thread.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "link/phone_link.hpp"
#include "plugged_phone.hpp"
#include "protocol/pfileman.hpp"
#include "protocol/transfer_file.hpp"
#include "transfer_fixture.hpp"

namespace {

using namespace kivold;

constexpr char16_t kFolder[] = u"Music\\Live";  // 10 units
constexpr char16_t kName[] = u"a.mp3";          // 5 units
constexpr std::size_t kEchoed = 2 * (10 + 5) + 6;

// A piece answer as the phone sends it: result, echoed texts, total, offset, third, bytes.
std::vector<uint8_t> PieceAnswer(uint32_t total, uint32_t offset, uint32_t third, const std::vector<uint8_t>& bytes,
                                 uint8_t result = 0x01) {
  std::vector<uint8_t> body{result};
  PutText(body, u"Music/Live");
  PutText(body, kName);
  EXPECT_EQ(body.size(), 1 + kEchoed);
  PutU32(body, total);
  PutU32(body, offset);
  PutU32(body, third);
  body.insert(body.end(), bytes.begin(), bytes.end());
  return body;
}

std::vector<uint8_t> AckBody(uint32_t total, uint32_t received, uint32_t third) {
  std::vector<uint8_t> body;
  PutText(body, u"Music/Live");
  PutText(body, kName);
  PutU32(body, total);
  PutU32(body, received);
  PutU32(body, third);
  return body;
}

class UploadScripted : public ::testing::Test {
 protected:
  void SetUp() override { phone.linkUp = true; }
  int Upload() { return man.UploadFile(U16(local), kFolder, kName, window.wnd); }

  PluggedPhone phone;
  kiv::CPFileMan man;
  ProgressWindow window;
  TempFolder dir{"upload"};
  fs::path local = dir.path / "a.mp3";
};

TEST_F(UploadScripted, StartAndAcknowledgementsOnTheWire) {
  // Ends by length (code echoes the request) or by the last-piece code while short of the total.
  struct Case {
    const char* what;
    uint32_t total;
    int lastCode;
  } cases[] = {{"by length", 7, -1}, {"by 0xC6 short of the total", 100, 0xC6}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    phone.sent.clear();
    window.records.clear();
    phone.Answer(PieceAnswer(c.total, 0, 0xDEADBEEF, {1, 2, 3}));
    phone.Answer(PieceAnswer(c.total, 3, 42, {4, 5}));
    phone.Answer(PieceAnswer(c.total, 5, 43, {6, 7}), -1, c.lastCode);
    ASSERT_EQ(Upload(), 1);
    ASSERT_EQ(phone.sent.size(), 3u);
    std::vector<uint8_t> start;
    PutText(start, u"Music/Live");
    PutText(start, kName);
    EXPECT_EQ(phone.sent[0].code, 0x06);
    EXPECT_EQ(phone.sent[0].cls, 0x20);
    EXPECT_EQ(phone.sent[0].flag, 1);
    EXPECT_EQ(phone.sent[0].body, start);
    // Each acknowledgement names how far the PC got and hands back the third value.
    EXPECT_EQ(phone.sent[1].code, 0x20);
    EXPECT_EQ(phone.sent[1].body, AckBody(c.total, 3, 0xDEADBEEF));
    EXPECT_EQ(phone.sent[2].body, AckBody(c.total, 5, 42));
    EXPECT_EQ(ReadFile(local), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(window.Done(), (std::vector<uint32_t>{3, 5, 7}));
    for (const auto& p : window.records) {
      EXPECT_EQ(p.text, u"Music\\Live\\a.mp3");
      EXPECT_EQ(p.itemCount, 0);
      EXPECT_EQ(p.totalBytes, 0u);
      EXPECT_EQ(p.continuing, 1);
    }
  }
}

TEST_F(UploadScripted, OneAnswerWaitCoversTheUploadAndIsRestored) {
  phone.timeout = 1234;
  phone.Answer(PieceAnswer(2, 0, 0, {9, 9}));
  ASSERT_EQ(Upload(), 1);
  EXPECT_EQ(phone.CallsStartingWith("SetReqTimeout"),
            (std::vector<std::string>{"SetReqTimeout(60000)", "SetReqTimeout(1234)"}));
  EXPECT_EQ(phone.timeout, 1234u);
}

TEST_F(UploadScripted, EmptyPhoneFileGivesAnEmptyLocalFile) {
  WriteFile(local, {1, 2, 3, 4});  // an older copy is emptied
  phone.Answer(PieceAnswer(0, 0, 0, {}));
  ASSERT_EQ(Upload(), 1);
  EXPECT_EQ(phone.sent.size(), 1u);
  EXPECT_TRUE(fs::exists(local));
  EXPECT_EQ(fs::file_size(local), 0u);
  EXPECT_EQ(window.Done(), std::vector<uint32_t>{0});
}

TEST_F(UploadScripted, FailuresKeepThePiecesWrittenSoFar) {
  struct Case {
    const char* what;
    std::function<void()> second;  // how the second answer goes wrong
    int32_t refused;
  } cases[] = {
      {"no answer", [&] { phone.NoAnswer(); }, 0},
      {"refused", [&] { phone.Answer(PieceAnswer(6, 3, 0, {4, 5, 6}), 0x00, 0x72); }, 1},
      {"failing result byte", [&] { phone.Answer(PieceAnswer(6, 3, 0, {4, 5, 6}, 0x53)); }, 0},
      {"answer shorter than its fields", [&] { phone.Answer(std::vector<uint8_t>(1 + kEchoed + 11, 1)); }, 0},
      {"link lost after the first piece", [&] {
         phone.Answer(PieceAnswer(6, 3, 0, {4, 5, 6}));
         window.onProgress = [&](std::size_t) { phone.linkUp = false; };
       },
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    phone.linkUp = true;
    window.onProgress = nullptr;
    man.ResetFlags();
    phone.answers.clear();
    phone.echo.clear();
    phone.Answer(PieceAnswer(6, 0, 0, {1, 2, 3}));
    c.second();
    EXPECT_EQ(Upload(), 0);
    EXPECT_EQ(ReadFile(local), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(man.m_bRefused, c.refused);
  }
}

TEST_F(UploadScripted, LocalFileThatCannotBeOpenedLeavesTheFirstAnswerUnread) {
  local = dir.path / "missing-folder" / "a.mp3";
  phone.Answer(PieceAnswer(3, 0, 0, {1, 2, 3}));
  EXPECT_EQ(Upload(), 0);
  EXPECT_FALSE(phone.Called("PktRead"));
  EXPECT_EQ(phone.answers.size(), 1u);
  EXPECT_EQ(phone.timeout, 5000u);
}

TEST_F(UploadScripted, SendFailureEndsBeforeTheLocalFileIsTouched) {
  phone.sendFails = true;
  EXPECT_EQ(Upload(), 0);
  EXPECT_FALSE(fs::exists(local));
  EXPECT_EQ(phone.timeout, 5000u);
}

TEST_F(UploadScripted, CancelAfterTheSecondPieceSendsTheAbortFromThePhone) {
  phone.Answer(PieceAnswer(9, 0, 0, {1, 2, 3}));
  phone.Answer(PieceAnswer(9, 3, 0, {4, 5, 6}));
  phone.Answer(PieceAnswer(9, 6, 0, {7, 8, 9}));
  phone.Answer({0x01});  // the abort's answer
  window.onProgress = [&](std::size_t n) {
    if (n == 2) man.Abort();
  };
  EXPECT_EQ(Upload(), 0);
  ASSERT_EQ(phone.sent.size(), 4u);
  std::vector<uint8_t> abort{0x02};
  PutText(abort, u"Music/Live");
  PutText(abort, kName);
  EXPECT_EQ(phone.sent[3].code, 0x07);
  EXPECT_EQ(phone.sent[3].body, abort);
  EXPECT_EQ(ReadFile(local), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(window.records.size(), 2u);
}

TEST_F(UploadScripted, QueryFileHandsBackTheSecondNumber) {
  std::vector<uint8_t> answer{0x01, 2, 'M', 0, 'u', 0, 1, 'a', 0};
  PutU32(answer, 1);
  PutU32(answer, 77777);
  PutU32(answer, 3);
  phone.Answer(answer);
  uint32_t out = 0;
  ASSERT_EQ(man.QueryFile(0, kFolder, kName, 1000, out), 1);
  EXPECT_EQ(out, 77777u);
  std::vector<uint8_t> request = AckBody(1000, 0, 0);
  EXPECT_EQ(phone.sent.back().code, 0x0E);
  EXPECT_EQ(phone.sent.back().body, request);

  answer.resize(answer.size() - 2);  // cut into the third number
  phone.Answer(answer);
  out = 5;
  EXPECT_EQ(man.QueryFile(0, kFolder, kName, 1000, out), 0);
  phone.Answer({0x21});
  EXPECT_EQ(man.QueryFile(0, kFolder, kName, 1000, out), 0);
  EXPECT_EQ(out, 5u);
}

// End to end against the simulated phone in this process.
class UploadSim : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(phoneDir.path / "Music"); }
  void TearDown() override { kiv::InstallLink(nullptr); }
  void Plug(phonesim::Config config) {
    phone = std::make_shared<phonesim::Phone>(phoneDir.path, std::move(config));
    auto link = std::make_shared<SimLink>(phone);
    ASSERT_EQ(link->Connect("qorvend", 7), 1);
    kiv::InstallLink(link);
  }
  phonesim::Config WithPacket(uint32_t maxPacket) {
    phonesim::Config c;
    c.maxPacket = maxPacket;
    return c;
  }

  TempFolder phoneDir{"upload-phone"};
  TempFolder pcDir{"upload-pc"};
  std::shared_ptr<phonesim::Phone> phone;
  kiv::CPFileMan man;
  ProgressWindow window;
};

TEST_F(UploadSim, CopiesFilesWholeAtSeveralPacketSizes) {
  for (uint32_t packet : {64u, 2048u, 32768u}) {
    // The phone's piece: packet − header − result − echoed texts ("Music", "f.bin") − 12.
    const std::size_t piece = packet - 8 - 1 - (2 * (5 + 5) + 6) - 12;
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, piece - 1, piece, piece + 1, 3 * piece, 100000 + piece}) {
      SCOPED_TRACE("packet " + std::to_string(packet) + " size " + std::to_string(size));
      Plug(WithPacket(packet));
      auto bytes = RandomBytes(size, static_cast<uint32_t>(size));
      WriteFile(phoneDir.path / "Music" / "f.bin", bytes);
      window.records.clear();
      ASSERT_EQ(man.UploadFile(U16(pcDir.path / "f.bin"), u"Music", u"f.bin", window.wnd), 1);
      EXPECT_EQ(ReadFile(pcDir.path / "f.bin"), bytes);
      EXPECT_EQ(window.records.size(), size == 0 ? 1 : (size + piece - 1) / piece);
      EXPECT_EQ(window.records.back().bytesDone, size);
    }
  }
}

TEST_F(UploadSim, LinkLostAtAChosenPieceLeavesThePiecesReceived) {
  for (int received : {1, 3}) {
    SCOPED_TRACE(received);
    auto config = WithPacket(2048);
    config.dropAfterPackets = received;  // the start request and received − 1 acknowledgements
    Plug(config);
    const std::size_t piece = 2048 - 8 - 1 - 26 - 12;
    WriteFile(phoneDir.path / "Music" / "f.bin", RandomBytes(10 * piece));
    EXPECT_EQ(man.UploadFile(U16(pcDir.path / "f.bin"), u"Music", u"f.bin", window.wnd), 0);
    EXPECT_EQ(fs::file_size(pcDir.path / "f.bin"), received * piece);
  }
}

TEST_F(UploadSim, MissingPhoneFileOrUnsafePathFails) {
  Plug(WithPacket(2048));
  for (const char16_t* folder : {u"Music", u"..", u"Music\\..\\..", u"\\etc"}) {
    SCOPED_TRACE(std::string(folder, folder + std::char_traits<char16_t>::length(folder)));
    EXPECT_EQ(man.UploadFile(U16(pcDir.path / "x"), folder, u"passwd", window.wnd), 0);
    EXPECT_EQ(fs::file_size(pcDir.path / "x"), 0u);
  }
}

TEST_F(UploadSim, AbortFromAnotherThreadWhilePiecesFlow) {
  Plug(WithPacket(2048));
  WriteFile(phoneDir.path / "Music" / "f.bin", RandomBytes(1 << 20));
  std::atomic<int> stage{0};
  std::thread canceller([&] {
    while (stage.load() == 0) std::this_thread::yield();
    man.Abort();
    stage.store(2);
  });
  window.onProgress = [&](std::size_t n) {
    if (n != 5) return;
    stage.store(1);
    while (stage.load() != 2) std::this_thread::yield();
  };
  EXPECT_EQ(man.UploadFile(U16(pcDir.path / "f.bin"), u"Music", u"f.bin", window.wnd), 0);
  int idle = 0;
  stage.compare_exchange_strong(idle, 1);  // lets the canceller go if the copy ended early
  canceller.join();
  EXPECT_EQ(window.records.size(), 5u);
  EXPECT_EQ(fs::file_size(pcDir.path / "f.bin"), window.records.back().bytesDone);
}

}  // namespace
