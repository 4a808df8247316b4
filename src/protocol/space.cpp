// Free and total space of the phone memory that holds a path. Phones above protocol
// version 8 answer with a decimal text, older ones with a 32-bit number.
#include <algorithm>
#include <cstdint>
#include <string>

#include "platform/text.hpp"
#include "protocol/answer_reader.hpp"
#include "protocol/pfileman.hpp"

namespace kiv {
namespace {

constexpr uint8_t kCmdFreeSpaceText = 0x26;
constexpr uint8_t kCmdTotalSpaceText = 0x27;
constexpr uint8_t kCmdFreeSpace = 0x08;
constexpr uint8_t kCmdTotalSpace = 0x11;

// Decimal conversion as the C library does it: leading white space and a sign allowed,
// stops at the first non-digit, 0 without digits; saturates instead of overflowing.
int64_t DecimalCount(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  // Gathered up to one past INT64_MAX, which only a negative count can use.
  constexpr uint64_t kCap = uint64_t{INT64_MAX} + 1;
  uint64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    uint64_t digit = static_cast<uint64_t>(text[i] - '0');
    value = value > (kCap - digit) / 10 ? kCap : value * 10 + digit;
  }
  if (negative) return value == kCap ? INT64_MIN : -static_cast<int64_t>(value);
  return static_cast<int64_t>(std::min(value, kCap - 1));
}

}  // namespace

int CPFileMan::QuerySpace(std::u16string_view path, bool total, int64_t& out) {
  m_byResult = 1;
  const bool text = m_nVersion > 8;
  uint8_t code = total ? (text ? kCmdTotalSpaceText : kCmdTotalSpace) : (text ? kCmdFreeSpaceText : kCmdFreeSpace);
  CGenPacket answer;
  if (!Transact(code, "p", {path}, answer)) return 0;
  AnswerReader reader(answer);
  if (text) {
    uint16_t unused = 0;
    std::string count;
    if (!reader.Unpack("wu", {&unused, &count})) return 0;
    out = DecimalCount(count);
  } else {
    uint32_t count = 0;
    if (!reader.U32(count)) return 0;
    out = static_cast<int64_t>(count);
  }
  return 1;
}

int CPFileMan::GetFreeSpace(std::u16string_view path, int64_t& out) { return QuerySpace(path, false, out); }
int CPFileMan::GetTotalSpace(std::u16string_view path, int64_t& out) { return QuerySpace(path, true, out); }

}  // namespace kiv
