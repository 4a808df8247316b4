#include "platform/local_names.hpp"

namespace kiv {

bool IsSafeLocalName(std::u16string_view name) {
  // Dots inside a name ("song..mp3") are ordinary; only "." and ".." name other folders.
  if (name.empty() || name == u"." || name == u"..") return false;
  for (char16_t c : name) {
    if (c < 0x20 || c == 0x7F) return false;
    if (c == u'\\' || c == u'/' || c == u':') return false;
  }
  return true;
}

std::u16string_view LocalFileName(std::u16string_view path) {
  std::size_t cut = path.find_last_of(u"\\/");
  return cut == std::u16string_view::npos ? path : path.substr(cut + 1);
}

}  // namespace kiv
