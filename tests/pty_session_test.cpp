// The library in this process and kivmod-phonesim in another, over a pseudo-terminal and
// TCP on loopback: connect, what the phone offers, link loss and damaged frames.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "boundary/manager.hpp"
#include "link/builtin_link.hpp"
#include "link/phone_link.hpp"
#include "phonesim_process.hpp"
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
  kivtest::RecordingWindow window;
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
