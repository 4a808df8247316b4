// The session against a scripted phone: the connect flows of the exports as they reach the
// link, both handshake forms, the root list, and the transaction's failure paths.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "filemanager/manager.hpp"
#include "kivtest.hpp"
#include "protocol/pfileman.hpp"

namespace {

using namespace kivtest;
using ::testing::ElementsAre;

constexpr char16_t kTypes[] = u"mp3|3|0/jpg|1|500/jar|2|100/txt|0";

// packet 4096; internal: file name 64, folder name 32, path 255, depth 6; card: depth 4,
// folder name 40, file name 80, path 200.
Bytes Handshake(bool card, std::u16string_view cardName = u"Memory Card") {
  Body b;
  b.B(0x01).D(0xFFFFFFFF).B(9).D(4096).D(64).T(kTypes).D(32).D(255).B(6).B(card ? 1 : 0);
  if (card) b.B(4).D(40).D(80).D(200).T(cardName);
  return b;
}
Bytes FirstFormHandshake() { return Body().B(0x01).D(2048).D(50).T(u"mp3|0"); }
Bytes RootList(std::u16string_view text) { return Body().B(0x01).W(0).T(text); }

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override { Kiv_InitalizeU(window.wnd); }
  void TearDown() override { kiv::DestroyCurrentManager(); }
  kiv::CPhoneFileManager& manager() { return *kiv::CurrentManager(); }
  kiv::CPFileMan& protocol() { return manager().m_PFileMan; }
  int Connect(Bytes handshake, std::u16string_view roots = u"Music|3") {
    phone.Answer(std::move(handshake));
    phone.Answer(RootList(roots));
    return Kiv_Connect(3, 77, window.wnd, 1);
  }

  PluggedPhone phone;
  Window window;
};

// A rejected, refused or cut answer closes the link quietly, however short it is cut.
TEST_F(SessionTest, BadHandshakeOrRootAnswersCloseWithoutReport) {
  std::vector<std::pair<Bytes, Bytes>> cases = {{Body().B(0x00), {}}};
  for (const Bytes& full : {Handshake(false), Handshake(true), FirstFormHandshake()})
    for (std::size_t n = 1; n < full.size(); ++n) cases.push_back({Bytes(full.begin(), full.begin() + long(n)), {}});
  Bytes roots = RootList(u"Music|3");
  cases.push_back({Handshake(false), Bytes(roots.begin(), roots.end() - 1)});
  for (const auto& [handshake, root] : cases) {
    phone.calls.clear();
    phone.Answer(handshake);
    if (!root.empty()) phone.Answer(root);
    EXPECT_EQ(Kiv_Connect(1, 0, window.wnd, 1), 0) << handshake.size();
    EXPECT_TRUE(phone.Called("Disconnect"));
  }
  phone.Answer(Handshake(false));
  phone.Answer({}, 0, 0x72);  // root list refused
  EXPECT_EQ(Kiv_Connect(1, 0, window.wnd, 1), 0);
  EXPECT_EQ(protocol().m_bRefused, 1);
  EXPECT_EQ(manager().m_bConnected, 0);
  EXPECT_TRUE(window.seen.empty());
}

TEST_F(SessionTest, SecondFormHandshakeFillsMemoriesTypesAndCard) {
  ASSERT_EQ(Connect(Handshake(true), u"Music|3|mp3|wma/Pictures|1|*/Bare/Video|3"), 1);
  auto& m = manager();
  EXPECT_EQ(Kiv_GetFileManVersion(), 9);
  EXPECT_EQ(m.m_nMaxPacketSize, 4096u);
  const kiv::MemoryRecord internal = m.m_InternalMemory, card = m.m_ExternalMemory;
  EXPECT_EQ(std::tie(internal.maxFileName, internal.maxFolderName, internal.maxPath, internal.maxDepth),
            std::make_tuple(64u, 32u, 255u, 6u));
  EXPECT_EQ(std::tie(card.maxFileName, card.maxFolderName, card.maxPath, card.maxDepth),
            std::make_tuple(80u, 40u, 200u, 4u));
  KivChar name[32];
  std::fill(std::begin(name), std::end(name), u'#');
  Kiv_GetExtraMemoryName(name);
  EXPECT_EQ(kiv::FromHost(name), u"Memory Card");

  const KivTypeArray* types = Kiv_GetSupportFileExt();
  std::vector<std::tuple<std::u16string, uint32_t, uint32_t>> got;
  for (int i = 0; i < types->count; ++i)
    got.emplace_back(kiv::FromHost(types->entries[i].name), types->entries[i].maxSize, types->entries[i].rules);
  EXPECT_THAT(got, ElementsAre(std::make_tuple(u"mp3", 0x7FFFFFFFu, 3u), std::make_tuple(u"jpg", 500u, 1u),
                               std::make_tuple(u"jar", 100u, 2u), std::make_tuple(u"txt", 0x7FFFFFFFu, 3u)));

  // The root list stops at the first entry without a mode.
  auto& folders = m.m_FolderInfos;
  ASSERT_EQ(folders.size(), 2u);
  EXPECT_EQ(folders[0].m_sFolderName, u"Music");
  EXPECT_EQ(folders[0].m_strUpFolderName, u"Root");
  EXPECT_THAT(folders[0].m_arrTypes, ElementsAre(u"mp3", u"wma"));
  EXPECT_TRUE(folders[1].m_arrTypes.empty());
  // Versioned phone: fixed, subfolders (depth 1 is below 6), copy and write.
  EXPECT_EQ(folders[0].m_dwAttr, 0x4u | 0x8u | 0x3u);
}

// However long a name the phone sends, the host's buffer of 4096 units holds it.
TEST_F(SessionTest, ALongCardNameIsCutToTheHostBuffer) {
  ASSERT_EQ(Connect(Handshake(true, std::u16string(5000, u'n'))), 1);
  std::vector<KivChar> buffer(4096 + 8, u'#');
  Kiv_GetExtraMemoryName(buffer.data());
  EXPECT_EQ(kiv::FromHost(buffer.data()), std::u16string(4095, u'n'));
  EXPECT_EQ(buffer[4096], u'#');
}

TEST_F(SessionTest, BluetoothConnectsAndDisconnects) {
  const uint8_t address[6] = {1, 2, 3, 4, 5, 6};
  struct Case {
    int32_t (*connect)(const uint8_t*, int32_t, KivHwnd);
    const char* call;
  };
  for (auto [connect, call] : {Case{Kiv_BTConnection, "BTConnection"}, Case{Kiv_BTConnectionEx, "BTConnectionEx"}}) {
    phone.calls.clear();
    phone.Answer(Handshake(false));
    phone.Answer(RootList(u"Music|3"));
    ASSERT_EQ(connect(address, 0x17, window.wnd), 1);
    EXPECT_THAT(std::vector<std::string>(phone.calls.begin(), phone.calls.begin() + 4),
                ElementsAre("SetBTDeviceAddress(010203040506)", "SetTransMethod(23)", "SetHWnd(wnd)", call));
    EXPECT_EQ(manager().m_FolderInfos.size(), 1u);
  }
  // Disconnecting the radio leaves the session flag.
  EXPECT_EQ(Kiv_BTDisconnectionEx(), 1);
  EXPECT_EQ(Kiv_BTDisconnection(), 1);
  EXPECT_TRUE(phone.Called("BTDisconnectionEx"));
  EXPECT_TRUE(phone.Called("BTDisconnection"));
  EXPECT_EQ(manager().m_bConnected, 1);

  // Only the result's low byte counts.
  phone.calls.clear();
  phone.btResult = 0x100;
  EXPECT_EQ(Kiv_BTConnection(address, 0x17, window.wnd), 0);
  EXPECT_FALSE(phone.Called("GetNextSeqNum"));
  EXPECT_TRUE(window.seen.empty());
}

TEST_F(SessionTest, SerialPortProfileReadsNoRootsAndKeepsOrForgetsTheTree) {
  const uint8_t address[6] = {9, 9, 9, 9, 9, 9};
  manager().m_FolderInfos.emplace_back(nullptr, 0, u"Kept", 2);
  phone.Answer(Handshake(false));
  ASSERT_EQ(Kiv_SPP_BTConnect(address, 0x17, window.wnd), 1);
  EXPECT_EQ(phone.Codes(), std::vector<uint8_t>{0x01});
  EXPECT_EQ(Kiv_SPP_BTDisconnect(1), 1);
  ASSERT_EQ(manager().m_FolderInfos.size(), 1u);
  EXPECT_EQ(manager().m_FolderInfos[0].m_sFolderName, u"Kept");
  EXPECT_EQ(manager().m_bConnected, 0);

  phone.Answer(Handshake(false));
  ASSERT_EQ(Kiv_SPP_BTConnect(address, 0x17, window.wnd), 1);
  EXPECT_EQ(Kiv_SPP_BTDisconnect(0), 1);
  EXPECT_TRUE(manager().m_FolderInfos.empty());
  EXPECT_TRUE(manager().m_FileTypes.Empty());

  phone.Answer(Body().B(0x53));
  EXPECT_EQ(Kiv_SPP_BTConnect(address, 0x17, window.wnd), 0);
  EXPECT_EQ(phone.calls.back(), "BTDisconnection");
}

TEST_F(SessionTest, ModelNameIsUpperCaseUnterminatedAndBounded) {
  std::memcpy(phone.phoneInfo + 1, "kv-100b", 8);
  const std::u16string earlier = u"abcdefghijk";
  KivChar buffer[200];
  std::copy(earlier.begin(), earlier.end() + 1, buffer);
  Kiv_GetModelName(buffer);
  EXPECT_EQ(kiv::FromHost(buffer), u"KV-100Bhijk");

  phone.phoneInfoResult = 0;  // no record: the buffer is left alone
  std::copy(earlier.begin(), earlier.end() + 1, buffer);
  Kiv_GetModelName(buffer);
  EXPECT_EQ(kiv::FromHost(buffer), earlier);

  phone.phoneInfoResult = 1;  // a record without a terminator stays inside it
  std::memset(phone.phoneInfo, 'a', sizeof phone.phoneInfo);
  std::fill(std::begin(buffer), std::end(buffer), 0);
  Kiv_GetModelName(buffer);
  EXPECT_EQ(kiv::FromHost(buffer).size(), 167u);
}

// The transaction routine, driven directly: every way it ends puts the link's wait back.
TEST_F(SessionTest, TransactionSendsPackedBodyAndAlwaysRestoresTheWait) {
  struct Case {
    const char* name;
    std::function<void()> script;
    int result, refused;
  };
  const Case cases[] = {
      {"success", [&] { phone.Answer({0x01}); }, 1, 0},
      {"send fails", [&] { phone.sendFails = true; }, 0, 0},
      {"no answer", [&] { phone.NoAnswer(); }, 0, 0},
      {"refused with body", [&] { phone.Answer({0x01, 0x02}, 0, 0x72); }, 0, 1},
      {"no body", [&] { phone.Answer({}); }, 0, 0},
      {"failure code", [&] { phone.Answer({0x53}); }, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    phone.Clear();
    protocol().ResetFlags();
    c.script();
    kiv::CGenPacket answer;
    EXPECT_EQ(protocol().Transact(0x09, "ps", {u"A\\b", u"c"}, answer, kiv::TransactOptions{60000}), c.result);
    EXPECT_EQ(phone.waits, (std::vector<uint32_t>{60000, 5000}));
    EXPECT_EQ(protocol().m_bRefused, c.refused);
    if (c.result) {
      EXPECT_EQ(phone.sent[0].body, (Bytes{4, 'A', 0, '/', 0, 'b', 0, 0, 0, 2, 'c', 0, 0, 0}));
      EXPECT_EQ(phone.sent[0].flag, 1);
      // The sequence byte is taken before the wait is changed.
      auto at = [&](const char* call) { return std::find(phone.calls.begin(), phone.calls.end(), call); };
      EXPECT_LT(at("GetNextSeqNum"), at("GetReqTimeout"));
    }
  }
  EXPECT_EQ(protocol().GetResult(), 0x53);

  // A refusal needs class 0 and code 0x72 both; a zero wait leaves the link's wait alone.
  phone.Clear();
  phone.Answer({0x01}, 0, 0x73);
  kiv::CGenPacket answer;
  EXPECT_EQ(protocol().Transact(0x09, "ps", {u"A\\b", u"c"}, answer, kiv::TransactOptions{0}), 1);
  EXPECT_EQ(protocol().m_bRefused, 0);
  EXPECT_TRUE(phone.waits.empty());

  for (int code = 0; code < 256; ++code) {
    bool success = code == 0x01 || code == 0x02 || code == 0x57 || code == 0x58 || code == 0xD0;
    EXPECT_EQ(protocol().Classify(static_cast<uint8_t>(code)), success ? 1 : 0) << code;
    EXPECT_EQ(protocol().GetResult(), code);
  }
}

}  // namespace
