// The e-mail transfer through the C interface: the wire bytes and every bad answer against a
// scripted phone, and whole messages against the simulated phone, read back from its outbox
// with GMime.
#include <gmime/gmime.h>
#include <gtest/gtest.h>

#include "email/email_transfer.hpp"
#include "kivtest.hpp"
#include "null_link.hpp"
#include "phonesim/phone.hpp"

namespace {

using namespace kivtest;
using Notice = std::pair<uintptr_t, intptr_t>;  // code, index

constexpr uint32_t kNoticeMsg = 0x9000;

// The transfer's message window.
struct NoticeWindow : Window {
  NoticeWindow() {
    Kiv_EmailTrans_SetMsgWnd(wnd);
    Kiv_EmailTrans_SetMsgID(kNoticeMsg);
  }
  std::vector<Notice> Notices() const {
    std::vector<Notice> out;
    for (const auto& m : seen)
      if (m.msg == kNoticeMsg) out.emplace_back(m.code, m.value);
    return out;
  }
};

std::vector<uint8_t> Be32(uint32_t v) {
  return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
          static_cast<uint8_t>(v)};
}

KivEmailHeader Header(const char16_t* attachments, uint32_t count, const char16_t* subject = u"Hi") {
  KivEmailHeader h{};
  h.value1 = 0x01020304;
  h.attachmentCount = count;
  h.text1 = u"Ann <ann@example.org>";
  h.text2 = u"bob@example.org; carl@example.org";
  h.text3 = u"dora@example.org";
  h.text5 = subject;
  h.text6 = u"Mon, 07 Dec 2026 10:00:00 +0000";
  h.attachments = attachments;
  h.bodyName = u"body.txt";
  return h;
}

class EmailScripted : public ::testing::Test {
 protected:
  void SetUp() override {
    Kiv_EmailTrans_Initialize();
    ASSERT_EQ(Kiv_EmailTrans_Connect(nullptr, 0, 1, nullptr, 115200, 1), 1);
  }
  void A(std::vector<uint8_t> body = {}) { phone.Answer(std::move(body), 0x26, 'A'); }
  // Limits that make the header buffer big (record values 13 and 14: 100 x 1000 bytes).
  void BigLimits() {
    std::vector<uint8_t> body;
    for (uint32_t i = 1; i <= 25; ++i) {
      auto v = Be32(i == 11 ? 100 : i == 12 ? 1000 : 0);
      body.insert(body.end(), v.begin(), v.end());
    }
    A(body);
    ASSERT_EQ(Kiv_EmailTrans_GetEmailDBInfo(), 1);
    phone.sent.clear();
  }
  int32_t Body(std::size_t size) {
    WriteFile(dir.path / "body.txt", RandomBytes(size));
    return Kiv_EmailTrans_SendEmailBody(u"body.txt", dir.path.u16string().c_str());
  }
  PluggedPhone phone;
  TempDir dir{"email"};
};

TEST_F(EmailScripted, FilePiecesAndFlagsOnTheWire) {
  for (std::size_t size : {std::size_t{0}, std::size_t{999}, std::size_t{2000}}) {
    phone.sent.clear();
    A();
    for (std::size_t i = 0; i < size / 1000; ++i) phone.Answer({}, 0x26, 'B');
    A();
    ASSERT_EQ(Body(size), 0x41) << size;
    ASSERT_EQ(phone.sent.size(), size / 1000 + 2);
    std::vector<uint8_t> start = {0, 'b', 0, 'o', 0, 'd', 0, 'y', 0, '.', 0, 't', 0, 'x', 0, 't', 0, 0};
    auto be = Be32(static_cast<uint32_t>(size));
    start.insert(start.end(), be.begin(), be.end());
    EXPECT_EQ(phone.sent[0].body, start);
    for (std::size_t i = 1; i < phone.sent.size(); ++i) {
      const bool last = i + 1 == phone.sent.size();
      EXPECT_EQ(phone.sent[i].cls, 0x26);
      EXPECT_EQ(phone.sent[i].code, 0x15);
      EXPECT_EQ(phone.sent[i].flag, last ? 1 : 0);
      EXPECT_EQ(phone.sent[i].body.size(), last ? size % 1000 : 1000);
    }
  }
}

TEST_F(EmailScripted, OnlyTheLastPieceAcceptsAFile) {
  enum Kind { kA, kB, kD, kWrongClass, kNone, kStatus, kShortStatus };
  struct Case {
    std::size_t size;
    std::vector<Kind> answers;
    int32_t status;
  } cases[] = {
      {2500, {kWrongClass}, 0},
      {2500, {kNone}, 0x43},
      {2500, {kD}, 0x43},
      {2500, {kA, kNone}, 0x43},               // the start's 'A' does not accept the file
      {2500, {kA, kA}, 0x43},                  // 'A' on a middle piece: bytes are missing
      {2000, {kA, kB, kA}, 0x41},              // 'A' once every byte went out
      {2500, {kA, kB, kStatus}, 0x1234},
      {2500, {kA, kB, kShortStatus}, 0x43},
      {2500, {kA, kB, kB, kD}, 0x44},
      {2500, {kA, kB, kB, kB}, 0x43},          // 'B' for the last piece
      {2500, {kA, kB, kB, kWrongClass}, 0},
  };
  for (const auto& c : cases) {
    phone.answers.clear();
    for (Kind k : c.answers) {
      switch (k) {
        case kA: A(); break;
        case kB: phone.Answer({}, 0x26, 'B'); break;
        case kD: phone.Answer({}, 0x26, 'D'); break;
        case kWrongClass: phone.Answer({}, 0x20, 'A'); break;
        case kNone: phone.NoAnswer(); break;
        case kStatus: phone.Answer(Be32(0x1234), 0x26, 'S'); break;
        case kShortStatus: phone.Answer({0x12, 0x34}, 0x26, 'S'); break;
      }
    }
    EXPECT_EQ(Body(c.size), c.status) << "case with " << c.answers.size() << " answers, size " << c.size;
  }
  phone.sent.clear();
  EXPECT_EQ(Kiv_EmailTrans_SendEmailAttachFile(u"missing.bin", dir.path.u16string().c_str(), 0), 0x43);
  EXPECT_TRUE(phone.sent.empty());  // an unreadable file is never announced
}

TEST_F(EmailScripted, CapabilityAnswers) {
  std::vector<uint8_t> full;
  for (uint32_t i = 1; i <= 25; ++i) {
    auto v = Be32(i);
    full.insert(full.end(), v.begin(), v.end());
  }
  phone.Answer(std::vector<uint8_t>(full.begin(), full.end() - 1), 0x26, 'A');  // truncated
  phone.Answer(full, 0x26, 'D');
  phone.Answer(full, 0x20, 'A');
  phone.NoAnswer();
  for (int i = 0; i < 4; ++i) EXPECT_EQ(Kiv_EmailTrans_GetEmailDBInfo(), 0);
  uint32_t values[27];
  std::fill(std::begin(values), std::end(values), 99u);
  Kiv_EmailTrans_GetEmailInfo(values);
  EXPECT_EQ(values[0], 0u);  // unchanged record
  A(full);
  ASSERT_EQ(Kiv_EmailTrans_GetEmailDBInfo(), 1);
  Kiv_EmailTrans_GetEmailInfo(values);
  EXPECT_EQ(values[5], 6u);
  EXPECT_EQ(values[6], 0u);
  EXPECT_EQ(values[7], 0u);
  EXPECT_EQ(values[8], 7u);
  EXPECT_EQ(values[26], 25u);
  EXPECT_EQ(phone.sent.back().code, 0x10);
}

TEST_F(EmailScripted, HeaderIsBigEndianAndNeverCutShort) {
  std::u16string longSubject(300, u'x');
  KivEmailHeader h = Header(u"", 0, longSubject.c_str());
  EXPECT_EQ(Kiv_EmailTrans_SendEmailHeader(&h), 0x43);  // limits unknown: B = 528 is too small
  EXPECT_TRUE(phone.sent.empty());
  BigLimits();
  longSubject.assign(4096, u'x');
  h.text5 = longSubject.c_str();
  EXPECT_EQ(Kiv_EmailTrans_SendEmailHeader(&h), 0x43);  // a text over 4095 units
  EXPECT_TRUE(phone.sent.empty());
  h.text5 = u"Hi";
  A();
  ASSERT_EQ(Kiv_EmailTrans_SendEmailHeader(&h), 0x41);
  const auto& body = phone.sent.at(0).body;
  EXPECT_EQ(phone.sent[0].code, 0x13);
  EXPECT_EQ(std::vector<uint8_t>(body.begin(), body.begin() + 6), (std::vector<uint8_t>{1, 2, 3, 4, 0, 0}));
  EXPECT_EQ(std::vector<uint8_t>(body.begin() + 16, body.begin() + 20), (std::vector<uint8_t>{0, 'A', 0, 'n'}));
}

TEST_F(EmailScripted, BadAttachmentListsAndCancelsStopTheMessage) {
  BigLimits();
  WriteFile(dir.path / "body.txt", RandomBytes(10));
  const std::u16string folder = dir.path.u16string();
  for (auto [names, count] : {std::pair{u"a.bin;b.bin", 3u}, std::pair{u"a.bin;;b.bin", 3u}, std::pair{u"", 1u}}) {
    KivEmailHeader h = Header(names, count);
    EXPECT_EQ(Kiv_EmailTrans_SendEmail(&h, folder.c_str(), folder.c_str()), 0x43);
  }
  EXPECT_TRUE(phone.sent.empty());

  NoticeWindow window;
  window.onMessage = [](const Message& m) {
    if (m.msg == kNoticeMsg && m.code == KIV_EMAIL_HEADER_ACCEPTED) Kiv_EmailTrans_SetCancel(1);
  };
  KivEmailHeader h = Header(u"", 0);
  A();
  EXPECT_EQ(Kiv_EmailTrans_SendEmail(&h, folder.c_str(), folder.c_str()), -1);
  EXPECT_EQ(phone.sent.size(), 1u);  // the header only
  EXPECT_EQ(Kiv_EmailTrans_SendEmailBody(u"body.txt", folder.c_str()), -1);
  Kiv_EmailTrans_SetCancel(0);
}

TEST_F(EmailScripted, ConnectByMethod) {
  phone.calls.clear();
  EXPECT_EQ(Kiv_EmailTrans_Connect(nullptr, 0x17, 0, u"00112233445G", 115200, 1), 0);
  EXPECT_FALSE(phone.Called("BTConnection"));
  phone.btResult = 0x101;
  EXPECT_EQ(Kiv_EmailTrans_Connect(nullptr, 0x17, 0, u"00112233445f", 115200, 1), 1);
  EXPECT_TRUE(phone.Called("SetBTDeviceAddress(00112233445f)"));
  EXPECT_EQ(Kiv_EmailTrans_Disconnect(0), 1);
  EXPECT_TRUE(phone.Called("BTDisconnectionEx"));
  phone.connectResult = -2;
  EXPECT_EQ(Kiv_EmailTrans_Connect(nullptr, 0, 1, nullptr, 115200, 1), -2);
}

TEST(Email, WithoutAnObjectNothingHappens) {
  kiv::DestroyEmailTransfer();
  KivEmailHeader h = Header(u"", 0);
  EXPECT_EQ(Kiv_EmailTrans_Connect(nullptr, 0, 1, nullptr, 115200, 1), -1);
  EXPECT_EQ(Kiv_EmailTrans_SendEmail(&h, nullptr, nullptr), -1);
  EXPECT_EQ(Kiv_EmailTrans_SendEmailBody(u"b", nullptr), -1);
  EXPECT_EQ(Kiv_EmailTrans_GetEmailDBInfo(), -1);
  EXPECT_EQ(Kiv_EmailTrans_SetCancel(1), 0);
  EXPECT_EQ(Kiv_EmailTrans_SetPort(1), 0);
  uint32_t values[27] = {5};
  Kiv_EmailTrans_GetEmailInfo(values);
  EXPECT_EQ(values[0], 5u);
  EXPECT_EQ(Kiv_EmailTrans_Disconnect(1), 1);
}

// ---- Against the simulated phone ----

std::string Utf8(const char* text) { return text ? text : ""; }

class EmailSim : public ::testing::Test {
 protected:
  void SetUp() override {
    phone = std::make_shared<phonesim::Phone>(phoneDir.path, phonesim::Config{});
    kiv::InstallLink(std::make_shared<SimLink>(phone));
    Kiv_EmailTrans_Initialize();
    ASSERT_EQ(Kiv_EmailTrans_Connect(nullptr, 0, 1, nullptr, 115200, 1), 1);
    ASSERT_EQ(Kiv_EmailTrans_GetEmailDBInfo(), 1);
  }
  void TearDown() override { kiv::InstallLink(nullptr); }
  TempDir phoneDir{"email-phone"}, pcDir{"email-pc"};
  std::shared_ptr<phonesim::Phone> phone;
};

TEST_F(EmailSim, MessageWithTwoAttachmentsArrivesAsEml) {
  const std::string text = "Hello Bob,\nthe files.\n";
  std::ofstream(pcDir.path / "body.txt") << text;
  const auto a = RandomBytes(2000, 1), b = RandomBytes(2500, 2);
  WriteFile(pcDir.path / "a.bin", a);
  WriteFile(pcDir.path / "b b.bin", b);
  NoticeWindow window;
  KivEmailHeader h = Header(u"a.bin;b b.bin", 2, u"Grüße");
  const std::u16string folder = pcDir.path.u16string();
  ASSERT_EQ(Kiv_EmailTrans_SendEmail(&h, folder.c_str(), folder.c_str()), 0x41);
  EXPECT_EQ(window.Notices(), (std::vector<Notice>{{0x32, 0}, {0x34, 0}, {0x38, 0}, {0x36, 0}, {0x38, 1}, {0x36, 1}}));

  g_mime_init();
  GMimeStream* stream = g_mime_stream_file_open((phoneDir.path / "Outbox" / "message-0001.eml").c_str(), "r", nullptr);
  ASSERT_NE(stream, nullptr);
  GMimeParser* parser = g_mime_parser_new_with_stream(stream);
  GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr);
  ASSERT_NE(message, nullptr);
  EXPECT_EQ(Utf8(g_mime_message_get_subject(message)), "Grüße");
  auto list = [&](GMimeAddressType type) {
    char* text = internet_address_list_to_string(g_mime_message_get_addresses(message, type), nullptr, FALSE);
    std::string out = Utf8(text);
    g_free(text);
    return out;
  };
  EXPECT_EQ(list(GMIME_ADDRESS_TYPE_FROM), "Ann <ann@example.org>");
  EXPECT_EQ(list(GMIME_ADDRESS_TYPE_TO), "bob@example.org, carl@example.org");
  EXPECT_EQ(list(GMIME_ADDRESS_TYPE_CC), "dora@example.org");
  auto* multipart = GMIME_MULTIPART(g_mime_message_get_mime_part(message));
  ASSERT_EQ(g_mime_multipart_get_count(multipart), 3);
  auto content = [&](int i) {
    GMimeStream* mem = g_mime_stream_mem_new();
    g_mime_data_wrapper_write_to_stream(g_mime_part_get_content(GMIME_PART(g_mime_multipart_get_part(multipart, i))), mem);
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem));
    std::vector<uint8_t> out(bytes->data, bytes->data + bytes->len);
    g_object_unref(mem);
    return out;
  };
  EXPECT_EQ(content(0), std::vector<uint8_t>(text.begin(), text.end()));
  EXPECT_EQ(content(1), a);
  EXPECT_EQ(content(2), b);
  EXPECT_EQ(Utf8(g_mime_part_get_filename(GMIME_PART(g_mime_multipart_get_part(multipart, 2)))), "b b.bin");
  g_object_unref(message);
  g_object_unref(parser);
  g_object_unref(stream);
}

TEST_F(EmailSim, CancelFromAnotherThreadEndsCleanly) {
  WriteFile(pcDir.path / "body.txt", "x");
  WriteFile(pcDir.path / "big.bin", RandomBytes(3 << 20));
  KivEmailHeader h = Header(u"big.bin", 1);
  const std::u16string folder = pcDir.path.u16string();
  NoticeWindow window;
  CancelFromThread cancel([] { Kiv_EmailTrans_SetCancel(1); });
  window.onMessage = [&](const Message& m) {
    if (m.msg == kNoticeMsg && m.code == KIV_EMAIL_ATTACH_START) cancel.Fire();
  };
  EXPECT_EQ(Kiv_EmailTrans_SendEmail(&h, K(folder), K(folder)), KIV_EMAIL_CANCELLED);
  Kiv_EmailTrans_SetCancel(0);
  // The phone drops the cut message when the next one starts.
  h = Header(u"", 0);
  ASSERT_EQ(Kiv_EmailTrans_SendEmail(&h, K(folder), K(folder)), KIV_EMAIL_ACCEPTED);
}

}  // namespace
