#include "platform/local_names.hpp"

#include <string>

namespace kiv {

bool IsSafeLocalName(std::u16string_view name) { return UnsafeLocalNameReason(name).empty(); }

namespace {

// Windows opens a device for these names, also with an extension ("CON.txt", "com1.mp3"),
// and "¹²³" count as digits there.
bool IsDeviceName(std::u16string_view name) {
  std::u16string_view stem = name.substr(0, name.find(u'.'));
  while (!stem.empty() && stem.back() == u' ') stem.remove_suffix(1);
  std::u16string upper;
  for (char16_t c : stem) upper.push_back(c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c);
  if (upper == u"CON" || upper == u"PRN" || upper == u"AUX" || upper == u"NUL" || upper == u"CONIN$" ||
      upper == u"CONOUT$")
    return true;
  if (upper.size() != 4 || !(upper.starts_with(u"COM") || upper.starts_with(u"LPT"))) return false;
  const char16_t digit = upper[3];
  return (digit >= u'0' && digit <= u'9') || digit == u'\u00B9' || digit == u'\u00B2' || digit == u'\u00B3';
}

}  // namespace

std::string UnsafeLocalNameReason(std::u16string_view name) {
  // Dots inside a name ("song..mp3") are ordinary; only "." and ".." name other folders.
  if (name.empty()) return "it is empty";
  if (name == u"." || name == u"..") return "it names a folder, not a file";
  for (char16_t c : name) {
    if (c < 0x20 || c == 0x7F) return "it holds a control character";
    if (c == u'\\') return "it holds a backslash";
    if (c == u'/') return "it holds a slash";
    if (c == u':') return "it holds a colon";
    if (std::u16string_view(u"<>\"|?*").find(c) != std::u16string_view::npos)
      return "it holds one of the characters <>\"|?* that Windows refuses";
  }
  // The rest are names that a Windows PC could not write as given: the same phone name is
  // refused on every system.
  if (name.back() == u'.' || name.back() == u' ') return "it ends with a dot or a space";
  if (IsDeviceName(name)) return "it is a device name on Windows";
  return {};
}

std::u16string_view LocalFileName(std::u16string_view path) {
  std::size_t cut = path.find_last_of(u"\\/");
  return cut == std::u16string_view::npos ? path : path.substr(cut + 1);
}

}  // namespace kiv
