// Folder listings: the binary listing in pages, one entry's details, and the XML listing
// that the phone sends in pieces and the library stores in the work file TempXML.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "link/phone_link.hpp"
#include "platform/local_names.hpp"
#include "platform/local_time.hpp"
#include "platform/text.hpp"
#include "platform/trace.hpp"
#include "platform/workdir.hpp"
#include "protocol/answer_reader.hpp"
#include "protocol/pfileman.hpp"

namespace kiv {
namespace {

constexpr uint8_t kCmdFolderList = 0x03;
constexpr uint8_t kCmdFileInfo = 0x04;
constexpr uint8_t kCmdXmlFolderList = 0x21;
constexpr uint8_t kResultMoreText = 0x02;
constexpr auto kCardPause = std::chrono::milliseconds(200);

// Splits one page's entry text ("name>marks:name:...") into entries.
void AppendEntries(std::u16string_view text, std::vector<PhoneListEntry>& entries) {
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find(u':', pos);
    if (end == std::u16string_view::npos) end = text.size();
    std::u16string_view piece = text.substr(pos, end - pos);
    pos = end + 1;
    if (piece.empty()) continue;
    PhoneListEntry entry;
    std::size_t mark = piece.find(u'>');
    if (mark == std::u16string_view::npos) {
      entry.m_strName = piece;
      entry.m_nFlags = kEntryFile;
    } else {
      std::u16string_view marks = piece.substr(mark + 1);
      entry.m_strName = piece.substr(0, mark);
      if (marks.find(u'D') != std::u16string_view::npos) {
        entry.m_nFlags = kEntryFolder;
      } else if (marks.find(u'S') != std::u16string_view::npos) {
        entry.m_nFlags = kEntryFile | kEntryMarkS;
      } else {
        entry.m_nFlags = kEntryFile;
      }
    }
    entries.push_back(std::move(entry));
  }
}

// The UTF-16LE text from the reader's position to its NUL or the end of the body.
std::u16string RestAsText(const AnswerReader& reader) {
  std::span<const uint8_t> rest = reader.Rest();
  std::u16string text;
  text.reserve(rest.size() / 2);
  for (std::size_t i = 0; i + 1 < rest.size(); i += 2) {
    char16_t c = static_cast<char16_t>(rest[i] | (rest[i + 1] << 8));
    if (c == 0) break;
    text.push_back(c);
  }
  return text;
}

// The attribute bits of a file or folder from the phone's attribute word.
uint32_t FileAttributes(uint16_t word) {
  uint32_t a = 0;
  if (word & 0x0800) a |= 0x0040;
  if (word & 0x4000) a |= 0x0080;
  if (word & 0x8000) a |= 0x8000;
  return a;
}

uint32_t FolderAttributes(uint16_t word, bool subfolderCapable) {
  uint32_t a = 0x0003;
  if (subfolderCapable) a |= 0x0008;
  if (word & 0x0080) a |= 0x0020;
  if (word & 0x4000) {
    a |= 0x0004;
  } else if (word & 0x0400) {
    a |= 0x0010;
  }
  if (word & 0x0800) a |= 0x0044;
  if (word & 0x8000) a |= 0x8000;
  return a;
}

// Appends one XML piece as UTF-8, keeping a high surrogate that ends the piece for the
// next one so that a character split between two answers stays whole.
void AppendXmlPiece(std::FILE* file, std::span<const uint8_t> piece, std::u16string& carry) {
  std::u16string units = std::move(carry);
  carry.clear();
  units.reserve(units.size() + piece.size() / 2);
  for (std::size_t i = 0; i + 1 < piece.size(); i += 2) {
    units.push_back(static_cast<char16_t>(piece[i] | (piece[i + 1] << 8)));
  }
  if (!units.empty() && units.back() >= 0xD800 && units.back() < 0xDC00) {
    carry.push_back(units.back());
    units.pop_back();
  }
  // The text ends at its first NUL character.
  if (auto nul = units.find(u'\0'); nul != std::u16string::npos) units.resize(nul);
  std::string utf8 = U16ToUtf8(units);
  // A failed write is not fatal here: the reader of the file finds the damage.
  if (!utf8.empty() && std::fwrite(utf8.data(), 1, utf8.size(), file) != utf8.size()) {
    Trace("CPFileMan::GetXmlFolderList: writing TempXML failed\n");
  }
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

uint32_t PhoneTimeToTime(std::span<const uint8_t, 8> stamp) {
  if (stamp[0] == 0 && stamp[1] == 0 && stamp[2] == 0 && stamp[3] == 0) return CurrentTime();
  int year = static_cast<int16_t>(stamp[0] | (stamp[1] << 8));
  int day = stamp[3];
  if (year < 1970 || year > 2038 || day < 1 || day > 31) return CurrentTime();
  const int64_t t = MakeLocalTime(year, stamp[2], day, stamp[4], stamp[5], stamp[6]);
  if (t < 0 || t > int64_t{UINT32_MAX}) return CurrentTime();
  return static_cast<uint32_t>(t);
}

int CPFileMan::GetFolderList(std::u16string_view folder, std::vector<PhoneListEntry>& entries,
                             uint32_t answerCapacity, uint32_t nameAllowance) {
  m_byResult = 1;
  const bool onCard =
      !m_strExtraMemoryName.empty() && folder.find(m_strExtraMemoryName) != std::u16string_view::npos;
  // A page never asks for fewer than one entry, so that a tiny packet size still progresses.
  int64_t perPage = (int64_t{answerCapacity} - 17) / (int64_t{nameAllowance} + 3);
  const uint32_t wanted = static_cast<uint32_t>(std::clamp<int64_t>(perPage, 1, 0xFFFF));
  const char* format = m_nVersion >= 2 ? "wwp" : "wwP";
  uint32_t start = 0;
  int64_t previous = -1;
  for (;;) {
    if (onCard) std::this_thread::sleep_for(kCardPause);
    CGenPacket answer;
    if (!Transact(kCmdFolderList, format, {start, wanted, folder}, answer, {.timeoutMs = kWait30s})) return 0;
    AnswerReader reader(answer);
    uint32_t next = 0, total = 0;
    if (!reader.U32(next) || !reader.U32(total)) return 0;
    next &= 0xFFFF;
    total &= 0xFFFF;
    // A phone that stops advancing (or goes back) before the end ends the listing.
    if (next != total && previous >= 0 && int64_t{next} <= previous) return 1;
    previous = next;
    AppendEntries(RestAsText(reader), entries);
    start = next;
    if (next >= total) return 1;
  }
}

int CPFileMan::GetFileInfo(std::u16string_view folder, std::u16string_view name, int32_t* size, uint32_t& time1,
                           uint32_t& time2, uint32_t& time3, uint32_t& attributes) {
  m_byResult = 1;
  CGenPacket answer;
  if (!Transact(kCmdFileInfo, "ps", {folder, name}, answer)) return 0;
  std::span<const uint8_t> body = answer.Body();
  constexpr std::size_t kTimesEnd = 1 + 3 * 8;
  constexpr std::size_t kSizeEnd = kTimesEnd + 4;
  if (body.size() < kSizeEnd) return 0;
  if (size) {
    *size = static_cast<int32_t>(body[kTimesEnd] | (body[kTimesEnd + 1] << 8) | (body[kTimesEnd + 2] << 16) |
                                 (uint32_t{body[kTimesEnd + 3]} << 24));
  }
  time1 = PhoneTimeToTime(body.subspan<1, 8>());
  time2 = PhoneTimeToTime(body.subspan<9, 8>());
  time3 = PhoneTimeToTime(body.subspan<17, 8>());
  attributes = 0;
  if (body.size() >= kSizeEnd + 2) {
    uint16_t word = static_cast<uint16_t>(body[kSizeEnd] | (body[kSizeEnd + 1] << 8));
    attributes = name.empty() ? FolderAttributes(word, IsSubfolderCapable()) : FileAttributes(word);
  }
  return 1;
}

int CPFileMan::GetXmlFolderList(std::u16string_view folder, uint32_t, uint32_t, uint32_t) {
  m_byResult = 1;
  std::vector<uint8_t> request;
  Pack(request, 0, "t", {folder});
  PhoneLink& link = Link();
  const uint32_t saved = link.GetReqTimeout();
  link.SetReqTimeout(kWait60s);
  auto finish = [&](int result) {
    link.SetReqTimeout(saved);
    return result;
  };
  if (!SendRequest(kCmdXmlFolderList, request)) return finish(0);

  m_strTempXmlPath = WorkFilePath(u"TempXML");
  // The list is written afresh under the work file's name (never through a link there).
  std::unique_ptr<char[]> buffer;  // outlives the stream
  std::unique_ptr<std::FILE, FileCloser> file;
  if (!m_strTempXmlPath.empty()) {
    LocalRemove(m_strTempXmlPath);
    file.reset(OpenLocalFile(m_strTempXmlPath, "wxb", buffer));
  }
  if (!file) {
    Trace("CPFileMan::GetXmlFolderList: TempXML cannot be opened\n");
    return finish(0);
  }
  static constexpr uint8_t kBom[] = {0xEF, 0xBB, 0xBF};
  std::fwrite(kBom, 1, sizeof kBom, file.get());

  bAbortLoading.store(0, std::memory_order_relaxed);
  std::u16string carry;
  ReceiveBudget budget;
  for (;;) {
    CGenPacket answer;
    if (!ReadAnswer(answer) || !link.IsConnected()) return finish(0);
    if (!budget.Take(answer.Body().size() - 1)) {
      TraceF("CPFileMan::GetXmlFolderList: the listing passed %zu bytes\n", kMaxReceivedBytes);
      return finish(0);
    }
    AppendXmlPiece(file.get(), answer.Body().subspan(1), carry);
    if (answer.Body()[0] != kResultMoreText) break;
    if (!SendRequest(kCmdXmlFolderList, request)) return finish(0);
  }
  if (!carry.empty()) AppendXmlPiece(file.get(), {}, carry);
  return finish(1);
}

}  // namespace kiv
