#include "protocol/pfileman.hpp"

#include <algorithm>
#include <string>

#include "link/phone_link.hpp"
#include "platform/text.hpp"
#include "platform/trace.hpp"
#include "protocol/answer_reader.hpp"

namespace kiv {
namespace {

constexpr uint8_t kCmdHandshake = 0x01;
constexpr uint8_t kCmdRootFolders = 0x02;
constexpr char kConnectId[] = "qorvend";

int32_t g_unicodeSet = 1;

void TraceRule() {
  if (TraceEnabled()) Trace(std::string(74, '/') + " \n");
}

}  // namespace

namespace {
constinit std::atomic<int32_t> g_firstPiece{0};
}

std::atomic<int32_t>& FirstPieceFlag() { return g_firstPiece; }

int32_t UnicodeSet() { return g_unicodeSet; }

CPFileMan::CPFileMan() {
  TraceRule();
  Trace("CPFileMan::CPFileMan() called \n");
  Trace("CPFileMan::CPFileMan() return \n");
}

CPFileMan::~CPFileMan() {
  TraceRule();
  Trace("CPFileMan::~CPFileMan() called \n");
  Trace("CPFileMan::~CPFileMan() return \n");
}

PhoneLink& CPFileMan::Link() { return CurrentLink(); }

int CPFileMan::Connect(int port, int rate, KivHwnd window, int method) {
  m_byResult = 1;
  ResetFlags();
  PhoneLink& link = Link();
  if (link.IsConnected()) return CM_RET_SUCCESS;
  link.SetTransMethod(method);
  link.SetComPort(port);
  link.SetBaudrate(rate);
  link.SetHWnd(window);
  int result = link.Connect(kConnectId, static_cast<int>(sizeof kConnectId - 1));
  if (result == CM_RET_SUCCESS) {
    Trace("\n\n{INFO}: Success connect!\n\n");
  } else if (result == CM_RET_GLOBALLOCKED) {
    Trace("\n\n{INFO}: Phone is locked!\n\n");
  } else {
    TraceF("\n\n{INFO}: default!![%d]\n\n", result);
  }
  return result;
}

void CPFileMan::Disconnect() { Link().Disconnect(); }

bool CPFileMan::BTConnect(const uint8_t address[6], int method, KivHwnd window, int mode) {
  if (address) std::copy_n(address, 6, m_BTAddress.begin());
  PhoneLink& link = Link();
  link.SetBTDeviceAddress(m_BTAddress.data());
  link.SetTransMethod(method);
  link.SetHWnd(window);
  int result = mode == 1 ? link.BTConnection() : link.BTConnectionEx();
  return (result & 0xFF) != 0;
}

bool CPFileMan::BTDisconnect(int mode) {
  PhoneLink& link = Link();
  int result = mode == 1 ? link.BTDisconnection() : link.BTDisconnectionEx();
  return (result & 0xFF) != 0;
}

void CPFileMan::Abort() {
  Trace("CPFileMan::Abort() \n");
  bAbortLoading.store(1, std::memory_order_relaxed);
  FirstPieceFlag().store(1, std::memory_order_relaxed);
}

bool CPFileMan::IsSubfolderCapable() { return Link().IsConnected() && m_byVersion != 0; }

void CPFileMan::SetUnicode(int32_t value) {
  SetUnicodeMode(value);
  g_unicodeSet = 1;
}

std::u16string CPFileMan::GetModelName() {
  std::array<uint8_t, kPhoneInfoSize> info{};
  if (Link().GetPhoneInfo(info.data()) != 1) return {};
  auto begin = info.begin() + 1;
  auto end = std::find(begin, info.end(), uint8_t{0});
  return ToUpper(AnsiToU16(std::string(begin, end)));
}

int CPFileMan::Classify(uint8_t result) {
  m_byResult = result;
  switch (result) {
    case 0x01:
    case 0x02:
    case 0x57:
    case 0x58:
    case 0xD0:
      return 1;
    default:
      return 0;
  }
}

CGenPacket CPFileMan::MakeRequest(uint8_t code, std::span<const uint8_t> body, const TransactOptions& options) {
  uint8_t cls = static_cast<uint8_t>(options.cls >= 0 ? options.cls : m_nPacketClass);
  return CGenPacket(cls, code, options.flag, Link().GetNextSeqNum(), 0, body.data(),
                    static_cast<uint16_t>(std::min<std::size_t>(body.size(), CGenPacket::kMaxBody)));
}

int CPFileMan::SendRequest(uint8_t code, std::span<const uint8_t> body, const TransactOptions& options) {
  return Link().PktSend(MakeRequest(code, body, options)) != 0 ? 1 : 0;
}

int CPFileMan::ReadAnswer(CGenPacket& answer, bool classify) {
  answer.Reset();
  m_nError = Link().PktRead(answer);
  return CheckAnswer(answer, classify);
}

int CPFileMan::CheckAnswer(const CGenPacket& answer, bool classify) {
  if (m_nError != CM_RET_SUCCESS) return 0;
  if (answer.GetClass() == kRefusedClass && answer.GetCode() == kRefusedCode) {
    m_bRefused = 1;
    return 0;
  }
  const uint8_t* data = answer.GetData();
  if (!data) return 0;
  if (classify && !Classify(data[0])) return 0;
  return 1;
}

int CPFileMan::Transact(uint8_t code, std::span<const uint8_t> body, CGenPacket& answer,
                        const TransactOptions& options) {
  PhoneLink& link = Link();
  CGenPacket request = MakeRequest(code, body, options);
  uint32_t saved = 0;
  if (options.timeoutMs) {
    saved = link.GetReqTimeout();
    link.SetReqTimeout(options.timeoutMs);
  }
  auto restore = [&] {
    if (options.timeoutMs) link.SetReqTimeout(saved);
  };
  if (link.PktSend(request) == 0) {
    restore();
    return 0;
  }
  answer.Reset();
  m_nError = link.PktRead(answer);
  restore();
  return CheckAnswer(answer, options.classify);
}

void ParseTypeList(std::u16string_view text, TypeArray& a, TypeArray& b) {
  for (const auto& entry : SplitAny(text, u"/")) {
    auto parts = SplitAny(entry, u"|:,");
    if (parts.size() < 2) continue;
    uint32_t rules = 0x3;
    int size = 0;
    if (parts.size() == 2) {
      size = ParseLeadingInt(parts[1]);
    } else {
      int mode = ParseLeadingInt(parts[1]);
      rules = ((mode == 1 || mode == 3) ? kTypeCopyToPc : 0) + ((mode == 2 || mode == 3) ? kTypeCopyToPhone : 0);
      size = ParseLeadingInt(parts[2]);
    }
    uint32_t maxSize = size == 0 ? 0x7FFFFFFFu : static_cast<uint32_t>(size);
    a.Add(parts[0], maxSize, rules);
    b.Add(parts[0], maxSize, rules);
  }
}

int CPFileMan::OpenSession(std::u16string_view text, uint32_t& maxPacketSize, MemoryRecord& internal,
                           MemoryRecord& external, std::u16string& nameBuffer, TypeArray& managerTypes) {
  m_SupportTypes.Clear();
  m_byResult = 1;
  std::vector<uint8_t> body;
  body.reserve(text.size() * 2);
  for (char16_t c : text) {
    body.push_back(static_cast<uint8_t>(c));
    body.push_back(static_cast<uint8_t>(c >> 8));
  }
  CGenPacket answer;
  if (!Transact(kCmdHandshake, body, answer)) return 0;

  AnswerReader r(answer);
  uint32_t first = 0;
  if (!r.U32(first)) return 0;
  maxPacketSize = first;
  bool secondForm = first == 0xFFFFFFFFu;
  if (secondForm) {
    uint8_t version = 0;
    if (!r.Byte(version) || !r.U32(maxPacketSize)) return 0;
    m_byVersion = version;
  } else {
    m_byVersion = 0;  // phones that answer in the first form have no version byte
  }
  if (!r.U32(internal.maxFileName)) return 0;
  m_nVersion = m_byVersion;
  std::u16string types;
  if (!r.Text16(types)) return 0;
  std::u16string cardName;
  if (secondForm) {
    uint8_t depth = 0, hasCard = 0;
    if (!r.U32(internal.maxFolderName) || !r.U32(internal.maxPath) || !r.Byte(depth) || !r.Byte(hasCard)) return 0;
    internal.maxDepth = depth;
    if (hasCard) {
      uint8_t cardDepth = 0;
      if (!r.Byte(cardDepth) || !r.U32(external.maxFolderName) || !r.U32(external.maxFileName) ||
          !r.U32(external.maxPath) || !r.Text16(cardName))
        return 0;
      external.maxDepth = cardDepth;
    }
  } else {
    internal.maxFolderName = 0;
    internal.maxPath = 0;
    internal.maxDepth = 1;
  }
  ParseTypeList(types, managerTypes, m_SupportTypes);
  m_strExtraMemoryName = cardName;
  nameBuffer = cardName;
  return 1;
}

int CPFileMan::GetRootFolders(std::vector<RootFolderEntry>& folders, std::u16string& rootList) {
  m_byResult = 1;
  CGenPacket answer;
  if (!Transact(kCmdRootFolders, {}, answer)) return 0;
  AnswerReader r(answer, 3);
  std::u16string text;
  if (!r.Text16(text)) return 0;
  rootList = text;
  for (const auto& entry : SplitAny(text, u"/")) {
    auto parts = SplitAny(entry, u"|:,");
    if (parts.size() < 2) break;
    RootFolderEntry folder{std::u16string(parts[0]), ParseLeadingInt(parts[1]), {}};
    for (std::size_t i = 2; i < parts.size(); ++i) {
      if (parts[i] == u"*") {
        folder.types.clear();
        break;
      }
      folder.types.emplace_back(parts[i]);
    }
    folders.push_back(std::move(folder));
  }
  return 1;
}

}  // namespace kiv
