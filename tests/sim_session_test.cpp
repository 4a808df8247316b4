// A session against the simulated phone in this process (KIVMOD_LINK=sim:FOLDER).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "filemanager/manager.hpp"
#include "link/phone_link.hpp"
#include "plugged_phone.hpp"

namespace {

namespace fs = std::filesystem;

class SimSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("kivmod-sim-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "Music");
    fs::create_directories(dir / "Pictures");
    fs::create_directories(dir / "Memory Card");
    setenv("KIVMOD_LINK", ("sim:" + dir.string()).c_str(), 1);
    unsetenv("KIVMOD_SIM_CONFIG");
    Kiv_InitalizeU(window.wnd);
  }
  void TearDown() override {
    kiv::CurrentLink().Disconnect();  // the link outlives the manager
    kiv::DestroyCurrentManager();
    unsetenv("KIVMOD_LINK");
    unsetenv("KIVMOD_SIM_CONFIG");
    fs::remove_all(dir);
  }
  void Configure(const std::string& xml) {
    fs::path file = dir.string() + ".xml";
    std::ofstream(file) << xml;
    setenv("KIVMOD_SIM_CONFIG", file.c_str(), 1);
  }

  fs::path dir;
  kivold::RecordingWindow window;
};

TEST_F(SimSessionTest, ConnectsAndReadsWhatThePhoneOffers) {
  Configure(R"(<phone model="kv sim 7" version="9" maxPacket="8192">
                 <card name="Memory Card" depth="5"/>
                 <types>mp3|3|0/jar|2|300000</types>
                 <root name="Music" mode="3" ext="mp3 wma"/>
                 <root name="Pictures" mode="1"/>
                 <root name="Memory Card" mode="3"/>
               </phone>)");
  ASSERT_EQ(Kiv_Connect(1, 0, window.wnd, 1), 1);
  EXPECT_EQ(Kiv_GetFileManVersion(), 9);
  KivChar model[32] = {};
  Kiv_GetModelName(model);
  EXPECT_EQ(std::u16string(model), u"KV SIM 7");
  KivChar card[32] = {};
  Kiv_GetExtraMemoryName(card);
  EXPECT_EQ(std::u16string(card), u"Memory Card");
  const KivTypeArray* types = Kiv_GetSupportFileExt();
  ASSERT_EQ(types->count, 2);
  EXPECT_EQ(types->entries[1].maxSize, 300000u);
  EXPECT_EQ(types->entries[1].rules, 2u);
  auto& m = *kiv::CurrentManager();
  EXPECT_EQ(m.m_nMaxPacketSize, 8192u);
  EXPECT_EQ(m.m_ExternalMemory.maxDepth, 5u);
  ASSERT_EQ(m.m_FolderInfos.size(), 3u);
  EXPECT_EQ(m.m_FolderInfos[0].m_arrTypes.size(), 2u);
  EXPECT_EQ(m.m_FolderInfos[2].m_sFolderName, u"Memory Card");
  EXPECT_EQ(Kiv_Disconnect(), 1);
  EXPECT_TRUE(window.messages.empty());
}

TEST_F(SimSessionTest, DefaultRootsAreTheServedTopLevelFolders) {
  ASSERT_EQ(Kiv_Connect(1, 0, window.wnd, 1), 1);
  auto& folders = kiv::CurrentManager()->m_FolderInfos;
  ASSERT_EQ(folders.size(), 3u);
  EXPECT_EQ(folders[0].m_sFolderName, u"Memory Card");
  EXPECT_EQ(folders[1].m_sFolderName, u"Music");
  EXPECT_EQ(folders[2].m_sFolderName, u"Pictures");
}

TEST_F(SimSessionTest, OldPhoneAnswersTheFirstForm) {
  Configure(R"(<phone version="0"/>)");
  ASSERT_EQ(Kiv_Connect(1, 0, window.wnd, 1), 1);
  EXPECT_EQ(Kiv_GetFileManVersion(), 0);
  EXPECT_EQ(kiv::CurrentManager()->m_InternalMemory.maxDepth, 1u);
}

TEST_F(SimSessionTest, LockedPhoneGivesTheLockMessage) {
  Configure(R"(<phone locked="1"/>)");
  EXPECT_EQ(Kiv_Connect(1, 0, window.wnd, 1), 0);
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0].msg, KIV_MSG_LOCKED);
}

TEST_F(SimSessionTest, FaultsReachTheSession) {
  for (const char* fault : {R"(<fault code="2" kind="refuse"/>)", R"(<fault code="1" kind="result" value="0x53"/>)",
                            R"(<fault code="1" kind="truncate" length="6"/>)"}) {
    Configure(std::string("<phone>") + fault + "</phone>");
    EXPECT_EQ(Kiv_Connect(1, 0, window.wnd, 1), 0) << fault;
    EXPECT_TRUE(window.messages.empty()) << fault;
  }
}

TEST_F(SimSessionTest, MissingFolderOrBadConfigFailsTheConnect) {
  setenv("KIVMOD_LINK", "sim:/nonexistent/kivmod", 1);
  EXPECT_EQ(Kiv_Connect(1, 0, window.wnd, 1), 0);
  setenv("KIVMOD_LINK", ("sim:" + dir.string()).c_str(), 1);
  Configure("<phone version='x'/>");
  EXPECT_EQ(Kiv_Connect(1, 0, window.wnd, 1), 0);
  EXPECT_EQ(window.Count(KIV_MSG_REPORT, 0xCF), 2);
}

TEST_F(SimSessionTest, BluetoothAndSerialPortProfileReachTheSimulatedPhone) {
  const uint8_t address[6] = {0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6};
  ASSERT_EQ(Kiv_BTConnection(address, 0x17, window.wnd), 1);
  EXPECT_EQ(kiv::CurrentManager()->m_FolderInfos.size(), 3u);
  EXPECT_EQ(Kiv_BTDisconnection(), 1);
  ASSERT_EQ(Kiv_BTConnectionEx(address, 0x0D, window.wnd), 1);
  EXPECT_EQ(Kiv_BTDisconnectionEx(), 1);
  ASSERT_EQ(Kiv_SPP_BTConnect(address, 0x17, window.wnd), 1);
  EXPECT_EQ(Kiv_SPP_BTDisconnect(1), 1);
}

}  // namespace
