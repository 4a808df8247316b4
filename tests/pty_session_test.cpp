// The library in this process and kivmod-phonesim in another, over a pseudo-terminal and
// TCP on loopback: connect, what the phone offers, link loss and damaged frames.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "filemanager/manager.hpp"
#include "link/builtin_link.hpp"
#include "link/phone_link.hpp"
#include "phonesim_process.hpp"
#include "platform/text.hpp"
#include "plugged_phone.hpp"

namespace {

namespace fs = std::filesystem;

class PtySessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("kivmod-pty-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "phone" / "Music");
    fs::create_directories(dir / "phone" / "Pictures");
    std::ofstream(dir / "phone.xml") << R"(<phone model="pty phone" version="9" maxPacket="4096">
        <types>mp3|3|0/jpg|1|0</types></phone>)";
    Kiv_InitalizeU(window.wnd);
  }
  void TearDown() override {
    kiv::CurrentLink().SetReqTimeout(kiv::kDefaultReqTimeoutMs);
    kiv::CurrentLink().Disconnect();
    kiv::DestroyCurrentManager();
    unsetenv("KIVMOD_LINK");
    fs::remove_all(dir);
  }
  std::unique_ptr<kivtest::PhonesimProcess> Start(std::vector<std::string> extra) {
    std::vector<std::string> args = {"--config", (dir / "phone.xml").string()};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back((dir / "phone").string());
    auto sim = std::make_unique<kivtest::PhonesimProcess>(args);
    setenv("KIVMOD_LINK", sim->link().c_str(), 1);
    return sim;
  }

  fs::path dir;
  kivold::RecordingWindow window;
};

TEST_F(PtySessionTest, ConnectsOverAPseudoTerminal) {
  auto sim = Start({"--pty"});
  ASSERT_EQ(sim->link().rfind("serial:/dev/pts/", 0), 0u) << sim->link();
  ASSERT_EQ(Kiv_Connect(1, 0, window.wnd, 1), 1);
  EXPECT_EQ(Kiv_GetFileManVersion(), 9);
  KivChar model[32] = {};
  Kiv_GetModelName(model);
  EXPECT_EQ(std::u16string(model), u"PTY PHONE");
  EXPECT_EQ(kiv::CurrentManager()->m_nMaxPacketSize, 4096u);
  EXPECT_EQ(kiv::CurrentManager()->m_FolderInfos.size(), 2u);
  EXPECT_EQ(Kiv_GetSupportFileExt()->count, 2);
  EXPECT_EQ(Kiv_Disconnect(), 1);
  // The simulated phone serves the next connection on the same device.
  Kiv_InitalizeU(window.wnd);
  EXPECT_EQ(Kiv_Connect(1, 0, window.wnd, 1), 1);
}

TEST_F(PtySessionTest, ConnectsOverTcp) {
  auto sim = Start({"--tcp", "0"});
  ASSERT_EQ(sim->link().rfind("tcp:127.0.0.1:", 0), 0u) << sim->link();
  ASSERT_EQ(Kiv_Connect(1, 0, window.wnd, 1), 1);
  EXPECT_EQ(Kiv_GetFileManVersion(), 9);
}

TEST_F(PtySessionTest, LockedPhoneOverTheWire) {
  auto sim = Start({"--pty", "--locked"});
  EXPECT_EQ(Kiv_Connect(1, 0, window.wnd, 1), 0);
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0].msg, KIV_MSG_LOCKED);
}

TEST_F(PtySessionTest, LinkDroppedMidSessionFailsWithoutHanging) {
  auto sim = Start({"--pty", "--drop-after", "1"});
  auto start = std::chrono::steady_clock::now();
  // The handshake is answered; the root folder request finds the link gone.
  EXPECT_EQ(Kiv_Connect(1, 0, window.wnd, 1), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
  EXPECT_TRUE(sim->Exited(3000));
  EXPECT_FALSE(kiv::CurrentLink().IsConnected());
}

TEST_F(PtySessionTest, DamagedAnswerFramesFailTheCommandCleanly) {
  for (const char* fault : {"--corrupt-after", "--truncate-after"}) {
    auto sim = Start({"--pty", fault, "1"});
    kiv::CurrentLink().SetReqTimeout(1000);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Kiv_Connect(1, 0, window.wnd, 1), 0) << fault;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(25)) << fault;
    kiv::CurrentLink().Disconnect();
    Kiv_InitalizeU(window.wnd);
    // The next session over the same line works again.
    EXPECT_EQ(Kiv_Connect(1, 0, window.wnd, 1), 1) << fault;
    kiv::CurrentLink().Disconnect();
  }
}

}  // namespace

namespace {

std::string Bytes(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 31 + i / 97) & 0xFF);
  return s;
}

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(PtySessionTest, BrowsesAndCopiesBothWaysOverTheWire) {
  std::ofstream(dir / "phone" / "Music" / "song.mp3", std::ios::binary) << Bytes(50000);
  fs::create_directories(dir / "phone" / "Music" / "Live");
  fs::create_directories(dir / "pc");
  std::ofstream(dir / "pc" / "new.mp3", std::ios::binary) << Bytes(30001);
  auto sim = Start({"--pty"});
  ASSERT_EQ(Kiv_Connect(1, 0, window.wnd, 1), 1);
  ASSERT_EQ(Kiv_OpenFolder(u"Music", window.wnd), 1);
  ASSERT_NE(kiv::CurrentManager()->FindFile(u"Music", u"song.mp3"), nullptr);
  EXPECT_EQ(kiv::CurrentManager()->FindFile(u"Music", u"song.mp3")->m_nSize, 50000);
  EXPECT_NE(kiv::CurrentManager()->FindFolder(u"Music\\Live"), nullptr);
  EXPECT_GT(Kiv_UpdateFreeSize(u"Music", window.wnd), 0);

  KivStringList* up = Kiv_StringList_New();
  const std::u16string source = kiv::Utf8ToU16((dir / "pc" / "new.mp3").string());
  Kiv_StringList_Add(up, source.c_str());
  EXPECT_EQ(Kiv_SendToPhone(up, u"Music\\Live", 0, 0, window.wnd), 1);
  Kiv_StringList_Free(up);
  EXPECT_EQ(ReadAll(dir / "phone" / "Music" / "Live" / "new.mp3"), Bytes(30001));

  KivStringList* down = Kiv_StringList_New();
  Kiv_StringList_Add(down, u"Music\\song.mp3");
  const std::u16string target = kiv::Utf8ToU16((dir / "pc").string());
  EXPECT_EQ(Kiv_SendToPC(down, target.c_str(), window.wnd), 1);
  Kiv_StringList_Free(down);
  EXPECT_EQ(ReadAll(dir / "pc" / "song.mp3"), Bytes(50000));
}

TEST_F(PtySessionTest, LinkLostMidCopyFailsWithoutHanging) {
  std::ofstream(dir / "phone" / "Music" / "big.mp3", std::ios::binary) << Bytes(400000);
  fs::create_directories(dir / "pc");
  // Connection, listing and the first pieces are answered; then the phone goes away.
  auto sim = Start({"--pty", "--drop-after", "12"});
  ASSERT_EQ(Kiv_Connect(1, 0, window.wnd, 1), 1);
  ASSERT_EQ(Kiv_OpenFolder(u"Music", window.wnd), 1);
  KivStringList* down = Kiv_StringList_New();
  Kiv_StringList_Add(down, u"Music\\big.mp3");
  const std::u16string target = kiv::Utf8ToU16((dir / "pc").string());
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Kiv_SendToPC(down, target.c_str(), window.wnd), 0);
  Kiv_StringList_Free(down);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(25));
  EXPECT_TRUE(sim->Exited(3000));
  // What arrived is not mistaken for the whole file: the tree does not count it as copied.
  const kiv::PhoneFileInfo* file = kiv::CurrentManager()->FindFile(u"Music", u"big.mp3");
  ASSERT_NE(file, nullptr);
  EXPECT_LT(file->m_nLocalSize, file->m_nSize);
}

}  // namespace
