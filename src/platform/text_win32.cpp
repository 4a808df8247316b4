// The ANSI code page and PC names on Windows. The system's own names are UTF-16, so the byte
// form of a PC name is UTF-8 here, checked strictly both ways.
#include <windows.h>

#include "platform/text.hpp"

namespace kiv {
namespace {

bool IsAscii(std::u16string_view text) {
  for (char16_t c : text)
    if (c >= 0x80) return false;
  return true;
}

const wchar_t* Wide(std::u16string_view text) { return reinterpret_cast<const wchar_t*>(text.data()); }

// UTF-16 to bytes of code page; flags and the default character as that page allows.
bool FromUtf16(UINT page, DWORD flags, std::u16string_view text, std::string& out, const char* fallback) {
  if (text.empty()) {
    out.clear();
    return true;
  }
  const int units = static_cast<int>(text.size());
  int size = WideCharToMultiByte(page, flags, Wide(text), units, nullptr, 0, fallback, nullptr);
  if (size <= 0) return false;
  std::string result(static_cast<std::size_t>(size), '\0');
  size = WideCharToMultiByte(page, flags, Wide(text), units, result.data(), size, fallback, nullptr);
  if (size <= 0) return false;
  result.resize(static_cast<std::size_t>(size));
  out = std::move(result);
  return true;
}

bool ToUtf16(UINT page, DWORD flags, std::string_view bytes, std::u16string& out) {
  if (bytes.empty()) {
    out.clear();
    return true;
  }
  const int length = static_cast<int>(bytes.size());
  int size = MultiByteToWideChar(page, flags, bytes.data(), length, nullptr, 0);
  if (size <= 0) return false;
  std::u16string result(static_cast<std::size_t>(size), u'\0');
  size = MultiByteToWideChar(page, flags, bytes.data(), length, reinterpret_cast<wchar_t*>(result.data()), size);
  if (size <= 0) return false;
  result.resize(static_cast<std::size_t>(size));
  out = std::move(result);
  return true;
}

}  // namespace

bool LocalNameToU16(std::string_view bytes, std::u16string& out) {
  // MB_ERR_INVALID_CHARS: overlong forms, encoded surrogates and stray bytes fail.
  return ToUtf16(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, out);
}

bool U16ToLocalName(std::u16string_view text, std::string& out) {
  // WC_ERR_INVALID_CHARS: a lone surrogate has no UTF-8 spelling.
  return FromUtf16(CP_UTF8, WC_ERR_INVALID_CHARS, text, out, nullptr);
}

std::string U16ToAnsi(std::u16string_view text) {
  if (IsAscii(text)) return std::string(text.begin(), text.end());
  // A UTF-8 ANSI page takes no default character; elsewhere no "best fit" letter stands in
  // for a missing one: it becomes '?'.
  if (GetACP() == CP_UTF8) return U16ToUtf8(text);
  std::string out;
  if (!FromUtf16(CP_ACP, WC_NO_BEST_FIT_CHARS, text, out, "?")) return std::string(text.size(), '?');
  return out;
}

std::u16string AnsiToU16(std::string_view text) {
  bool ascii = true;
  for (char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) return std::u16string(text.begin(), text.end());
  std::u16string out;
  if (!ToUtf16(CP_ACP, 0, text, out)) return std::u16string(text.size(), u'\xFFFD');
  return out;
}

}  // namespace kiv
