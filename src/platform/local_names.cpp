#include "platform/local_names.hpp"

#include <string>

namespace kiv {

bool IsSafeLocalName(std::u16string_view name) { return UnsafeLocalNameReason(name).empty(); }

std::string UnsafeLocalNameReason(std::u16string_view name) {
  // Dots inside a name ("song..mp3") are ordinary; only "." and ".." name other folders.
  if (name.empty()) return "it is empty";
  if (name == u"." || name == u"..") return "it names a folder, not a file";
  for (char16_t c : name) {
    if (c < 0x20 || c == 0x7F) return "it holds a control character";
    if (c == u'\\') return "it holds a backslash";
    if (c == u'/') return "it holds a slash";
    if (c == u':') return "it holds a colon";
  }
  return {};
}

std::u16string_view LocalFileName(std::u16string_view path) {
  std::size_t cut = path.find_last_of(u"\\/");
  return cut == std::u16string_view::npos ? path : path.substr(cut + 1);
}

}  // namespace kiv
