// Sending to the phone: the checks made before any transfer, against a scripted phone. The
// transfers themselves run against the simulated phone (sim_transfer_test.cpp).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "platform/messages.hpp"
#include "file_tree_fixture.hpp"

namespace {

using kivold::HostList;
using kivold::K;
using kivold::TempCurrentFolder;

class SendChecksTest : public kivold::ScriptedTreeTest {
 protected:
  void SetUp() override {
    ScriptedTreeTest::SetUp();
    AddFolder(u"Music\\Fixed", 0x0009);  // not writable
  }
  std::u16string PcFile(const std::string& name, std::size_t size) {
    std::ofstream(here.path() / name, std::ios::binary) << std::string(size, 'x');
    return kiv::Utf8ToU16((here.path() / name).string());
  }
  int Send(std::initializer_list<std::u16string> sources, const std::u16string& target) {
    HostList list(sources);
    return Kiv_SendToPhone(list.get(), K(target), 0, 0, window.wnd);
  }

  TempCurrentFolder here{"send"};
};

TEST_F(SendChecksTest, RefusalsBeforeAnyTransfer) {
  struct Case {
    const char* name;
    std::string file;
    std::u16string target;
    int result;
    std::vector<std::tuple<uintptr_t, uint32_t, std::u16string>> reports;
  };
  const std::string longest(64 - 4, 'n');  // 64 units with ".mp3": the memory's limit
  const Case cases[] = {
      {"name one over the limit", longest + "n.mp3", u"Music", -7, {}},
      {"type may not go to the phone", "a.jpg", u"Music", -4, {}},
      {"folder refuses the extension", "a.jar", u"Music", -5, {}},
      {"unknown target", "a.mp3", u"Nowhere", 0, {{kiv::kReportNoRecord, 1, u"Nowhere"}}},
      {"target not writable", "a.mp3", u"Music\\Fixed", 0, {{kiv::kReportFolderNotWritable, 0x80, u"Music\\Fixed"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Reset();
    EXPECT_EQ(Send({PcFile(c.file, 3)}, c.target), c.result);
    EXPECT_EQ(Reports(), c.reports);
    // Only the announcement and at most the closing re-open of the target reach the host.
    for (uint8_t code : SentCodes()) EXPECT_EQ(code, 0x21);
  }
}

TEST_F(SendChecksTest, SizeOverTheTypeLimitIsReportedWithTheLimit) {
  AddFolder(u"Apps", 0x000B);
  phone.Answer(kivold::Body().B(0x01));  // the closing re-open of Apps (empty listing)
  EXPECT_EQ(Send({PcFile("big.jar", 101)}, u"Apps"), 0);
  ASSERT_EQ(Reports().size(), 1u);
  const auto& report = window.messages.back();
  EXPECT_EQ(report.wParam, kiv::kReportFileTooLarge);
  EXPECT_EQ(report.style, 0x40u);
  EXPECT_EQ(report.text1, u"jar");
}

TEST_F(SendChecksTest, PhoneSourcesMustBeKnownFiles) {
  HostList list({u"Music\\missing.mp3"});
  EXPECT_EQ(Kiv_SendToPhone(list.get(), K(u"Pictures"), 1, 0, window.wnd), -8);
  EXPECT_TRUE(phone.sent.empty());
  HostList empty({});
  EXPECT_EQ(Kiv_SendToPhone(empty.get(), K(u"Pictures"), 0, 0, window.wnd), 0);
}

TEST_F(SendChecksTest, FolderEntriesArePassedOverWhenTheTargetIsKnown) {
  std::filesystem::create_directory(here.path() / "dir");
  phone.Answer(kivold::Body().B(0x01));  // the closing re-open of Music (empty listing)
  EXPECT_EQ(Send({kiv::Utf8ToU16((here.path() / "dir").string())}, u"Music"), 1);
  EXPECT_TRUE(Reports().empty());
}

}  // namespace
