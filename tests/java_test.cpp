// The Java installer through the C interface against the simulated phone: send, probe,
// install and delete, and each way a send or an install fails.
#include <gtest/gtest.h>
#include <zip.h>

#include "kivtest.hpp"
#include "null_link.hpp"
#include "phonesim/families.hpp"
#include "phonesim/phone.hpp"

namespace {

using namespace kivtest;

// A zip archive holding the given entries.
void WriteZip(const fs::path& path, const std::vector<std::pair<std::string, std::string>>& entries) {
  int error = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  ASSERT_NE(z, nullptr);
  for (const auto& [name, text] : entries) {
    zip_source_t* src = zip_source_buffer(z, text.data(), text.size(), 0);
    ASSERT_GE(zip_file_add(z, name.c_str(), src, ZIP_FL_OVERWRITE), 0);
  }
  ASSERT_EQ(zip_close(z), 0);
}

constexpr char kManifest[] = "Manifest-Version: 1.0\r\nMIDlet-Name: Snake\r\nMIDlet-Version: 1.2\r\nMIDlet-Vendor: Kiv\r\n";

class JavaSim : public ::testing::Test {
 protected:
  void TearDown() override { kiv::InstallLink(nullptr); }
  void Plug(phonesim::Config config = {}) {
    fs::create_directories(phoneDir.path / "Java");
    phone = std::make_shared<phonesim::Phone>(phoneDir.path, std::move(config));
    kiv::InstallLink(std::make_shared<SimLink>(phone));
    Kiv_JavaInstaller_Initalize(nullptr);
    ASSERT_EQ(Kiv_Java_Connect(1, window.wnd, 0), 1);
  }
  int Send(const fs::path& local) { return Kiv_Java_SendFile(K(u"app.jar"), K(U16(local)), K(u"Java"), window.wnd); }
  TempDir phoneDir{"java-phone"}, pcDir{"java-pc"};
  std::shared_ptr<phonesim::Phone> phone;
  Window window;
};

TEST_F(JavaSim, SendProbeInstallDelete) {
  Plug();
  const fs::path jar = pcDir.path / "snake.jar";
  WriteZip(jar, {{"META-INF/MANIFEST.MF", kManifest}, {"Main.class", std::string(5000, 'x')}});
  uint32_t value = 7;
  uint8_t result = 0;
  EXPECT_EQ(Kiv_Java_IsFileExist(0, u"Java", u"app.jar", 10, &value, &result), 0);
  EXPECT_EQ(result, 0x21);  // the phone's "no such file", handed over though rejected
  EXPECT_EQ(value, 7u);

  ASSERT_EQ(Send(jar), 1);
  EXPECT_EQ(window.Count(KIV_MSG_REPORT, 0xAB), 0);
  ASSERT_EQ(Kiv_Java_IsFileExist(0, u"Java", u"app.jar", 10, &value, &result), 1);
  EXPECT_EQ(value, fs::file_size(jar));
  ASSERT_EQ(Kiv_Java_InstallCommand(u"Java", u"app.jar"), 1);
  auto apps = phonesim::InstalledApps(*phone);
  ASSERT_EQ(apps.size(), 1u);
  EXPECT_EQ(apps[0].name + " " + apps[0].version + " " + apps[0].vendor + " " + apps[0].file, "Snake 1.2 Kiv Java/app.jar");

  EXPECT_EQ(Kiv_Java_DeleteFile(u"Java", u"app.jar"), 1);
  EXPECT_FALSE(fs::exists(phoneDir.path / "Java" / "app.jar"));
  EXPECT_EQ(Kiv_Java_DeleteFile(u"Java", u"app.jar"), 1);  // nothing to delete: still 1
}

TEST_F(JavaSim, InstallTakesJarsWithAManifestAndJadTexts) {
  Plug();
  const fs::path dir = phoneDir.path / "Java";
  WriteZip(dir / "good.jar", {{"META-INF/MANIFEST.MF", kManifest}});
  WriteZip(dir / "plain.jar", {{"readme.txt", "no manifest"}});
  WriteFile(dir / "noise.jar", RandomBytes(300));
  std::ofstream(dir / "desc.jad") << "MIDlet-Name: Chess\nMIDlet-Version: 2.0\nMIDlet-Vendor: Kiv\n";
  std::ofstream(dir / "empty.jad") << "nothing here\n";
  struct Case {
    const char16_t* name;
    int32_t result;
  } cases[] = {{u"good.jar", 1}, {u"desc.jad", 1}, {u"plain.jar", 0}, {u"noise.jar", 0}, {u"empty.jad", 0},
               {u"missing.jar", 0}};
  for (const auto& c : cases) EXPECT_EQ(Kiv_Java_InstallCommand(u"Java", c.name), c.result) << (char)c.name[0];
  ASSERT_EQ(phonesim::InstalledApps(*phone).size(), 2u);
  EXPECT_EQ(phonesim::InstalledApps(*phone)[1].name, "Chess");
}

TEST_F(JavaSim, FailedSendsEndWithTheirStatusAndReport) {
  const fs::path file = pcDir.path / "big.jar";
  WriteFile(file, RandomBytes(100000));
  struct Case {
    const char* what;
    phonesim::Config config;
    int32_t result;
    uint32_t report;  // 0: none
  };
  std::vector<Case> cases;
  auto withFault = [](uint8_t code, uint8_t value) {
    phonesim::Config c;
    c.maxPacket = 4096;
    c.faults.push_back({code, phonesim::Fault::Kind::Result, value, 0, -1});
    return c;
  };
  phonesim::Config full;
  full.internal.free = 99999;
  cases.push_back({"full phone", full, -6, 0});
  cases.push_back({"piece rejected 0x53", withFault(0x05, 0x53), 0, 0xAB});
  cases.push_back({"piece failed 0x28", withFault(0x05, 0x28), 0, 0xBC});
  cases.push_back({"piece failed 0x30", withFault(0x05, 0x30), 0, 0xBD});
  phonesim::Config refused = withFault(0x05, 0);
  refused.faults[0].kind = phonesim::Fault::Kind::Refuse;
  cases.push_back({"refused", refused, 0, 0});
  phonesim::Config drop;
  drop.maxPacket = 4096;
  drop.dropAfterPackets = 8;
  cases.push_back({"link lost mid-file", drop, 0, 0xBD});
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    Plug(c.config);
    window.seen.clear();
    EXPECT_EQ(Send(file), c.result);
    const auto reports = window.Reports();
    EXPECT_EQ(reports.size(), c.report ? 1u : 0u);
    EXPECT_TRUE(!c.report || std::get<0>(reports.at(0)) == c.report);
    if (c.result == -6) {
      EXPECT_EQ(window.Progress().size(), 1u);
      EXPECT_FALSE(fs::exists(phoneDir.path / "Java" / "app.jar"));
    }
  }
}

}  // namespace
