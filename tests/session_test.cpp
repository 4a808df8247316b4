// The session: handshake forms, type and root lists, the transaction's failure paths, and
// the connect flows of the exports as they reach the phone link.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "filemanager/manager.hpp"
#include "plugged_phone.hpp"
#include "protocol/pfileman.hpp"

namespace {

using kivtest::Body;
using kivtest::PluggedPhone;
using kivtest::RecordingWindow;
using ::testing::ElementsAre;

constexpr char16_t kTypes[] = u"mp3|3|0/jpg|1|500/jar|2|100/txt|0";

std::vector<uint8_t> SecondFormHandshake(bool card, std::u16string_view cardName = u"Memory Card") {
  Body b;
  b.B(0x01).D(0xFFFFFFFF).B(9).D(4096).D(64).T(kTypes).D(32).D(255).B(6).B(card ? 1 : 0);
  if (card) b.B(4).D(40).D(80).D(200).T(cardName);
  return b;
}

std::vector<uint8_t> FirstFormHandshake() { return Body().B(0x01).D(2048).D(50).T(u"mp3|0"); }

std::vector<uint8_t> RootList(std::u16string_view text) { return Body().B(0x01).W(0).T(text); }

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override { Kiv_InitalizeU(window.wnd); }
  void TearDown() override { kiv::DestroyCurrentManager(); }
  kiv::CPhoneFileManager& manager() { return *kiv::CurrentManager(); }
  kiv::CPFileMan& protocol() { return manager().m_PFileMan; }

  PluggedPhone phone;
  RecordingWindow window;
};

TEST_F(SessionTest, CableConnectReachesTheLinkInOrderWithFixedBaudrate) {
  phone.Answer(SecondFormHandshake(false));
  phone.Answer(RootList(u"Music|3|mp3"));
  ASSERT_EQ(Kiv_Connect(3, 77, window.wnd, 1), 1);
  std::vector<std::string> setup(phone.calls.begin(), phone.calls.begin() + 5);
  EXPECT_THAT(setup, ElementsAre("SetTransMethod(1)", "SetComPort(3)", "SetBaudrate(115200)", "SetHWnd(wnd)",
                                 "Connect(qorvend,7)"));
  ASSERT_EQ(phone.sent.size(), 2u);
  EXPECT_EQ(phone.sent[0].code, 0x01);
  EXPECT_EQ(phone.sent[0].cls, 0x20);
  EXPECT_TRUE(phone.sent[0].body.empty());
  EXPECT_EQ(phone.sent[1].code, 0x02);
  EXPECT_NE(phone.sent[0].seq, phone.sent[1].seq);
  EXPECT_EQ(manager().m_bConnected, 1);
  EXPECT_EQ(Kiv_GetFileManVersion(), 9);
  EXPECT_TRUE(window.messages.empty());
}

TEST_F(SessionTest, ConnectWhileLinkIsUpSkipsTheSetup) {
  phone.linkUp = true;
  phone.Answer(SecondFormHandshake(false));
  phone.Answer(RootList(u"Music|3"));
  ASSERT_EQ(Kiv_Connect(3, 0, window.wnd, 1), 1);
  EXPECT_TRUE(phone.CallsStartingWith("Set").empty());
  EXPECT_FALSE(phone.Called("Connect(qorvend,7)"));
}

TEST_F(SessionTest, LockedPhoneSendsOneLockMessageAndNoReport) {
  phone.connectResult = -2;
  EXPECT_EQ(Kiv_Connect(1, 0, window.wnd, 1), 0);
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0].msg, KIV_MSG_LOCKED);
  EXPECT_EQ(window.messages[0].wParam, 0u);
  EXPECT_EQ(manager().m_bConnected, 0);
}

TEST_F(SessionTest, OtherConnectFailureSendsOneNoTextReport) {
  for (int result : {0, -1, 5}) {
    window.messages.clear();
    phone.connectResult = result;
    EXPECT_EQ(Kiv_Connect(1, 0, window.wnd, 1), 0);
    ASSERT_EQ(window.messages.size(), 1u) << result;
    EXPECT_EQ(window.messages[0].msg, KIV_MSG_REPORT);
    EXPECT_EQ(window.messages[0].wParam, 0xCFu);
    EXPECT_EQ(window.messages[0].style, 0x80u);
  }
}

// However long a name the phone sends, the host's buffer of 4096 units holds it.
TEST_F(SessionTest, ALongCardNameIsCutToTheHostBuffer) {
  phone.Answer(SecondFormHandshake(true, std::u16string(5000, u'n')));
  phone.Answer(RootList(u"Music|3"));
  ASSERT_EQ(Kiv_Connect(1, 0, window.wnd, 1), 1);
  std::vector<KivChar> buffer(4096 + 8, u'#');
  Kiv_GetExtraMemoryName(buffer.data());
  EXPECT_EQ(std::u16string(buffer.data()), std::u16string(4095, u'n'));
  EXPECT_EQ(buffer[4096], u'#');
}

TEST_F(SessionTest, FailedHandshakeOrRootReadClosesWithoutReport) {
  phone.Answer(Body().B(0x00));  // handshake rejected
  EXPECT_EQ(Kiv_Connect(1, 0, window.wnd, 1), 0);
  EXPECT_TRUE(phone.Called("Disconnect"));
  EXPECT_TRUE(window.messages.empty());

  phone.calls.clear();
  phone.Answer(SecondFormHandshake(false));
  phone.Answer({}, 0, 0x72);  // root list refused
  EXPECT_EQ(Kiv_Connect(1, 0, window.wnd, 1), 0);
  EXPECT_TRUE(phone.Called("Disconnect"));
  EXPECT_EQ(protocol().m_bRefused, 1);
  EXPECT_EQ(manager().m_bConnected, 0);
  EXPECT_TRUE(window.messages.empty());
}

TEST_F(SessionTest, SecondFormHandshakeFillsMemoriesTypesAndCard) {
  phone.Answer(SecondFormHandshake(true));
  phone.Answer(RootList(u"Music|3"));
  ASSERT_EQ(Kiv_Connect(1, 0, window.wnd, 1), 1);
  auto& m = manager();
  EXPECT_EQ(m.m_nMaxPacketSize, 4096u);
  EXPECT_EQ(m.m_InternalMemory.maxFileName, 64u);
  EXPECT_EQ(m.m_InternalMemory.maxFolderName, 32u);
  EXPECT_EQ(m.m_InternalMemory.maxPath, 255u);
  EXPECT_EQ(m.m_InternalMemory.maxDepth, 6u);
  EXPECT_EQ(m.m_ExternalMemory.maxDepth, 4u);
  EXPECT_EQ(m.m_ExternalMemory.maxFolderName, 40u);
  EXPECT_EQ(m.m_ExternalMemory.maxFileName, 80u);
  EXPECT_EQ(m.m_ExternalMemory.maxPath, 200u);
  EXPECT_EQ(m.m_strExtraMemory, u"Memory Card");
  EXPECT_EQ(protocol().m_strExtraMemoryName, u"Memory Card");

  KivChar name[32];
  std::fill(std::begin(name), std::end(name), u'#');
  Kiv_GetExtraMemoryName(name);
  EXPECT_EQ(std::u16string(name), u"Memory Card");

  const KivTypeArray* types = Kiv_GetSupportFileExt();
  ASSERT_EQ(types->count, 4);
  struct Expected {
    std::u16string name;
    uint32_t maxSize, rules;
  };
  const Expected expected[] = {{u"mp3", 0x7FFFFFFF, 3}, {u"jpg", 500, 1}, {u"jar", 100, 2}, {u"txt", 0x7FFFFFFF, 3}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(std::u16string(types->entries[i].name), expected[i].name);
    EXPECT_EQ(types->entries[i].maxSize, expected[i].maxSize) << i;
    EXPECT_EQ(types->entries[i].rules, expected[i].rules) << i;
  }
  EXPECT_EQ(m.m_FileTypes.Entries().size(), 4u);
}

TEST_F(SessionTest, FirstFormHandshakeHasNoVersionNoDepthNoCard) {
  phone.Answer(FirstFormHandshake());
  phone.Answer(RootList(u"Music|1/Pictures|2"));
  ASSERT_EQ(Kiv_Connect(1, 0, window.wnd, 1), 1);
  auto& m = manager();
  EXPECT_EQ(Kiv_GetFileManVersion(), 0);
  EXPECT_EQ(m.m_nMaxPacketSize, 2048u);
  EXPECT_EQ(m.m_InternalMemory.maxFileName, 50u);
  EXPECT_EQ(m.m_InternalMemory.maxFolderName, 0u);
  EXPECT_EQ(m.m_InternalMemory.maxDepth, 1u);
  EXPECT_TRUE(m.m_strExtraMemory.empty());
  // Version 0: the folder's mode decides copy and write bits, and no subfolders.
  ASSERT_EQ(m.m_FolderInfos.size(), 2u);
  EXPECT_EQ(m.m_FolderInfos[0].m_dwAttr, 0x4u | 0x1u);
  EXPECT_EQ(m.m_FolderInfos[1].m_dwAttr, 0x4u | 0x2u);
}

TEST_F(SessionTest, EveryTruncatedHandshakeFailsCleanly) {
  for (bool card : {false, true}) {
    auto full = SecondFormHandshake(card);
    for (std::size_t n = 1; n < full.size(); ++n) {
      phone.Answer(std::vector<uint8_t>(full.begin(), full.begin() + static_cast<long>(n)));
      EXPECT_EQ(Kiv_Connect(1, 0, window.wnd, 1), 0) << "cut at " << n << " card " << card;
    }
  }
  auto first = FirstFormHandshake();
  for (std::size_t n = 1; n < first.size(); ++n) {
    phone.Answer(std::vector<uint8_t>(first.begin(), first.begin() + static_cast<long>(n)));
    EXPECT_EQ(Kiv_Connect(1, 0, window.wnd, 1), 0) << "first form cut at " << n;
  }
  EXPECT_TRUE(window.messages.empty());
}

TEST_F(SessionTest, RootListStopsAtTheFirstEntryWithoutMode) {
  phone.Answer(SecondFormHandshake(false));
  phone.Answer(RootList(u"Music|3|mp3|wma/Pictures|1|*/Bare/Video|3"));
  ASSERT_EQ(Kiv_Connect(1, 0, window.wnd, 1), 1);
  auto& folders = manager().m_FolderInfos;
  ASSERT_EQ(folders.size(), 2u);
  EXPECT_EQ(folders[0].m_sFolderName, u"Music");
  EXPECT_EQ(folders[0].m_strUpFolderName, u"Root");
  EXPECT_THAT(folders[0].m_arrTypes, ElementsAre(u"mp3", u"wma"));
  EXPECT_TRUE(folders[1].m_arrTypes.empty());
  // Versioned phone, link up: fixed, subfolders, copy and write; depth 1 < 2 keeps 0x8.
  EXPECT_EQ(folders[0].m_dwAttr, 0x4u | 0x8u | 0x3u);
  EXPECT_EQ(manager().m_strRootList, u"Music|3|mp3|wma/Pictures|1|*/Bare/Video|3");
}

TEST_F(SessionTest, TruncatedRootListFails) {
  phone.Answer(SecondFormHandshake(false));
  auto full = RootList(u"Music|3");
  phone.Answer(std::vector<uint8_t>(full.begin(), full.end() - 1));
  EXPECT_EQ(Kiv_Connect(1, 0, window.wnd, 1), 0);
}

TEST_F(SessionTest, BluetoothConnectsReachTheLinkInOrder) {
  const uint8_t address[6] = {1, 2, 3, 4, 5, 6};
  struct Case {
    int32_t (*connect)(const uint8_t*, int32_t, KivHwnd);
    const char* call;
  };
  for (const Case& c : {Case{Kiv_BTConnection, "BTConnection"}, Case{Kiv_BTConnectionEx, "BTConnectionEx"}}) {
    phone.calls.clear();
    phone.Answer(SecondFormHandshake(false));
    phone.Answer(RootList(u"Music|3"));
    ASSERT_EQ(c.connect(address, 0x17, window.wnd), 1);
    std::vector<std::string> setup(phone.calls.begin(), phone.calls.begin() + 4);
    EXPECT_THAT(setup, ElementsAre("SetBTDeviceAddress(010203040506)", "SetTransMethod(23)", "SetHWnd(wnd)", c.call));
    EXPECT_EQ(manager().m_FolderInfos.size(), 1u);
  }
}

TEST_F(SessionTest, BluetoothResultCountsOnlyItsLowByte) {
  const uint8_t address[6] = {};
  phone.btResult = 0x100;
  EXPECT_EQ(Kiv_BTConnection(address, 0x17, window.wnd), 0);
  EXPECT_FALSE(phone.Called("GetNextSeqNum"));
  EXPECT_TRUE(window.messages.empty());
}

TEST_F(SessionTest, BluetoothDisconnectLeavesTheSessionFlag) {
  const uint8_t address[6] = {};
  phone.Answer(SecondFormHandshake(false));
  phone.Answer(RootList(u"Music|3"));
  ASSERT_EQ(Kiv_BTConnectionEx(address, 0x17, window.wnd), 1);
  EXPECT_EQ(Kiv_BTDisconnectionEx(), 1);
  EXPECT_TRUE(phone.Called("BTDisconnectionEx"));
  EXPECT_EQ(manager().m_bConnected, 1);
  EXPECT_EQ(Kiv_BTDisconnection(), 1);
  EXPECT_TRUE(phone.Called("BTDisconnection"));
}

TEST_F(SessionTest, SerialPortProfileReadsNoRootsAndKeepOrReinitialises) {
  const uint8_t address[6] = {9, 9, 9, 9, 9, 9};
  manager().m_FolderInfos.emplace_back(nullptr, 0, u"Kept", 2);
  phone.Answer(SecondFormHandshake(false));
  ASSERT_EQ(Kiv_SPP_BTConnect(address, 0x17, window.wnd), 1);
  ASSERT_EQ(phone.sent.size(), 1u);
  ASSERT_EQ(manager().m_FolderInfos.size(), 1u);
  EXPECT_EQ(manager().m_FolderInfos[0].m_sFolderName, u"Kept");

  EXPECT_EQ(Kiv_SPP_BTDisconnect(1), 1);
  EXPECT_EQ(manager().m_FolderInfos.size(), 1u);
  EXPECT_EQ(manager().m_bConnected, 0);

  phone.Answer(SecondFormHandshake(false));
  ASSERT_EQ(Kiv_SPP_BTConnect(address, 0x17, window.wnd), 1);
  EXPECT_EQ(Kiv_SPP_BTDisconnect(0), 1);
  EXPECT_TRUE(manager().m_FolderInfos.empty());
  EXPECT_TRUE(manager().m_FileTypes.Empty());
}

TEST_F(SessionTest, SerialPortProfileFailureDisconnects) {
  const uint8_t address[6] = {};
  phone.Answer(Body().B(0x53));
  EXPECT_EQ(Kiv_SPP_BTConnect(address, 0x17, window.wnd), 0);
  EXPECT_TRUE(phone.Called("BTDisconnection"));
  EXPECT_EQ(manager().m_bConnected, 0);
}

TEST_F(SessionTest, DisconnectClosesAndForgetsThePhone) {
  phone.Answer(SecondFormHandshake(false));
  phone.Answer(RootList(u"Music|3"));
  ASSERT_EQ(Kiv_Connect(1, 0, window.wnd, 1), 1);
  EXPECT_EQ(Kiv_Disconnect(), 1);
  EXPECT_TRUE(phone.Called("Disconnect"));
  EXPECT_TRUE(manager().m_FolderInfos.empty());
  EXPECT_EQ(manager().m_bConnected, 0);
}

TEST_F(SessionTest, ModelNameIsUpperCaseAndUnterminated) {
  std::memcpy(phone.phoneInfo + 1, "kv-100b", 8);
  KivChar buffer[16];
  std::u16string earlier = u"abcdefghijk";
  std::copy(earlier.begin(), earlier.end() + 1, buffer);
  Kiv_GetModelName(buffer);
  EXPECT_EQ(std::u16string(buffer), u"KV-100Bhijk");

  phone.phoneInfoResult = 0;
  std::copy(earlier.begin(), earlier.end() + 1, buffer);
  Kiv_GetModelName(buffer);
  EXPECT_EQ(std::u16string(buffer), earlier);
}

TEST_F(SessionTest, ModelNameFillingTheWholeRecordStaysInside) {
  std::memset(phone.phoneInfo, 'a', sizeof phone.phoneInfo);
  KivChar buffer[200] = {};
  Kiv_GetModelName(buffer);
  EXPECT_EQ(std::u16string(buffer).size(), 167u);
}

TEST_F(SessionTest, TypesBeforeHandshakeAreEmpty) {
  const KivTypeArray* types = Kiv_GetSupportFileExt();
  ASSERT_NE(types, nullptr);
  EXPECT_EQ(types->count, 0);
}

TEST_F(SessionTest, CancelSetsBothFlags) {
  Kiv_TransferCancle();
  EXPECT_EQ(manager().m_bCancel.load(), 1);
  EXPECT_EQ(protocol().bAbortLoading.load(), 1);
  Kiv_InitalizeU(window.wnd);
  EXPECT_EQ(kiv::CurrentManager()->m_bCancel.load(), 0);
  EXPECT_EQ(kiv::CurrentManager()->m_PFileMan.bAbortLoading.load(), 0);
}

// The transaction routine, driven directly.
class TransactionTest : public SessionTest {
 protected:
  int Run(uint32_t timeoutMs = 60000) {
    kiv::CGenPacket answer;
    return protocol().Transact(0x09, "ps", {u"A\\b", u"c"}, answer, kiv::TransactOptions{timeoutMs});
  }
  void ExpectRestored() {
    auto sets = phone.CallsStartingWith("SetReqTimeout");
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_EQ(sets[0], "SetReqTimeout(60000)");
    EXPECT_EQ(sets[1], "SetReqTimeout(5000)");
    EXPECT_EQ(phone.timeout, 5000u);
  }
};

TEST_F(TransactionTest, SuccessSendsPackedBodyAndRestoresTheWait) {
  phone.Answer({0x01});
  EXPECT_EQ(Run(), 1);
  ExpectRestored();
  ASSERT_EQ(phone.sent.size(), 1u);
  EXPECT_EQ(phone.sent[0].body, (std::vector<uint8_t>{4, 'A', 0, '/', 0, 'b', 0, 0, 0, 2, 'c', 0, 0, 0}));
  EXPECT_EQ(phone.sent[0].flag, 1);
  // The sequence byte is taken before the wait is changed.
  auto seqAt = std::find(phone.calls.begin(), phone.calls.end(), "GetNextSeqNum");
  auto getAt = std::find(phone.calls.begin(), phone.calls.end(), "GetReqTimeout");
  EXPECT_LT(seqAt, getAt);
}

TEST_F(TransactionTest, EveryFailurePathRestoresTheWait) {
  struct Case {
    const char* name;
    std::function<void(PluggedPhone&)> script;
    int refused;
  };
  const Case cases[] = {
      {"send fails", [](PluggedPhone& p) { p.sendFails = true; }, 0},
      {"no answer", [](PluggedPhone& p) { p.NoAnswer(); }, 0},
      {"refused with body", [](PluggedPhone& p) { p.Answer({0x01, 0x02}, 0, 0x72); }, 1},
      {"no body", [](PluggedPhone& p) { p.Answer({}); }, 0},
      {"failure code", [](PluggedPhone& p) { p.Answer({0x53}); }, 0},
  };
  for (const auto& c : cases) {
    phone.calls.clear();
    phone.sendFails = false;
    protocol().ResetFlags();
    c.script(phone);
    EXPECT_EQ(Run(), 0) << c.name;
    ExpectRestored();
    EXPECT_EQ(protocol().m_bRefused, c.refused) << c.name;
  }
  EXPECT_EQ(protocol().GetResult(), 0x53);
}

TEST_F(TransactionTest, RefusalNeedsBothClassZeroAndCode72) {
  phone.Answer({0x01}, 0, 0x73);
  EXPECT_EQ(Run(0), 1);
  EXPECT_EQ(protocol().m_bRefused, 0);
  EXPECT_TRUE(phone.CallsStartingWith("SetReqTimeout").empty());
}

TEST_F(TransactionTest, ClassifierAcceptsExactlyTheSuccessCodes) {
  for (int code = 0; code < 256; ++code) {
    bool success = code == 0x01 || code == 0x02 || code == 0x57 || code == 0x58 || code == 0xD0;
    EXPECT_EQ(protocol().Classify(static_cast<uint8_t>(code)), success ? 1 : 0) << code;
    EXPECT_EQ(protocol().GetResult(), code);
  }
}

}  // namespace
