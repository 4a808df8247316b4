// The process locale's character set through iconv: the stand-in for the ANSI code page.
#include <iconv.h>
#include <langinfo.h>

#include <cstring>
#include <mutex>

#include "platform/text.hpp"

namespace kiv {
namespace {

bool IsAscii(std::u16string_view text) {
  for (char16_t c : text)
    if (c >= 0x80) return false;
  return true;
}

// Converts between UTF-8 and the locale's character set one character at a time, so that
// characters the target lacks become '?' instead of failing the whole text.
std::string Iconv(const std::string& from, const char* target, const char* source) {
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  iconv_t cd = iconv_open(target, source);
  if (cd == reinterpret_cast<iconv_t>(-1)) return from;
  std::string out;
  std::size_t i = 0;
  while (i < from.size()) {
    std::size_t len = 1;
    if (std::string_view(source) == "UTF-8") {
      auto lead = static_cast<unsigned char>(from[i]);
      len = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    }
    if (i + len > from.size()) len = from.size() - i;
    char in[8] = {};
    from.copy(in, len, i);
    char buf[16];
    char* inp = in;
    std::size_t inleft = len;
    char* outp = buf;
    std::size_t outleft = sizeof buf;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &inp, &inleft, &outp, &outleft) == static_cast<std::size_t>(-1)) {
      if (std::string_view(source) != "UTF-8" && len == 1) {
        out.append("\xEF\xBF\xBD");
      } else {
        out.push_back('?');
      }
    } else {
      out.append(buf, outp);
    }
    i += len;
  }
  iconv_close(cd);
  return out;
}

const char* LocaleCharset() {
  const char* cs = nl_langinfo(CODESET);
  return (cs && *cs) ? cs : "ANSI_X3.4-1968";
}

// Whether PC names are UTF-8: a UTF-8 locale, or the C/POSIX locale (plain ASCII), where
// names are taken as UTF-8 as the rest of the system does.
bool NamesAreUtf8() {
  const char* cs = LocaleCharset();
  return std::strcmp(cs, "UTF-8") == 0 || std::strcmp(cs, "ANSI_X3.4-1968") == 0;
}

// The whole text through iconv, failing on the first character that does not convert.
bool IconvStrict(std::string_view from, const char* target, const char* source, std::string& out) {
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  iconv_t cd = iconv_open(target, source);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string in(from), result(from.size() * 4 + 16, '\0');
  char* inp = in.data();
  std::size_t inleft = in.size();
  char* outp = result.data();
  std::size_t outleft = result.size();
  const bool ok = iconv(cd, &inp, &inleft, &outp, &outleft) != static_cast<std::size_t>(-1) &&
                  iconv(cd, nullptr, nullptr, &outp, &outleft) != static_cast<std::size_t>(-1);
  iconv_close(cd);
  if (!ok) return false;
  result.resize(static_cast<std::size_t>(outp - result.data()));
  out = std::move(result);
  return true;
}

}  // namespace

bool LocalNameToU16(std::string_view bytes, std::u16string& out) {
  std::string utf8;
  if (NamesAreUtf8()) {
    // UTF-8 to UTF-8 checks the bytes: overlong forms, surrogates and stray bytes fail.
    if (!IconvStrict(bytes, "UTF-8", "UTF-8", utf8)) return false;
  } else if (!IconvStrict(bytes, "UTF-8", LocaleCharset(), utf8)) {
    return false;
  }
  out = Utf8ToU16(utf8);
  return true;
}

bool U16ToLocalName(std::u16string_view text, std::string& out) {
  for (char16_t c : text)
    if (c >= 0xD800 && c < 0xE000) {
      // A surrogate pair is fine; a lone one has no PC spelling.
      const auto at = static_cast<std::size_t>(&c - text.data());
      const bool pair = (c < 0xDC00 && at + 1 < text.size() && text[at + 1] >= 0xDC00 && text[at + 1] < 0xE000) ||
                        (c >= 0xDC00 && at > 0 && text[at - 1] >= 0xD800 && text[at - 1] < 0xDC00);
      if (!pair) return false;
    }
  const std::string utf8 = U16ToUtf8(text);
  if (NamesAreUtf8()) {
    out = utf8;
    return true;
  }
  return IconvStrict(utf8, LocaleCharset(), "UTF-8", out);
}

std::string U16ToAnsi(std::u16string_view text) {
  if (IsAscii(text)) return std::string(text.begin(), text.end());
  return Iconv(U16ToUtf8(text), LocaleCharset(), "UTF-8");
}

std::u16string AnsiToU16(std::string_view text) {
  bool ascii = true;
  for (char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) return std::u16string(text.begin(), text.end());
  return Utf8ToU16(Iconv(std::string(text), "UTF-8", LocaleCharset()));
}

}  // namespace kiv
