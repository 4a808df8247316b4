#include "filemanager/local_names.hpp"

#include <system_error>

#include "platform/text.hpp"

namespace kiv {

bool IsSafeLocalName(std::u16string_view name) {
  if (name.empty() || name == u"." || name.find(u"..") != std::u16string_view::npos) return false;
  for (char16_t c : name) {
    if (c < 0x20 || c == 0x7F) return false;
    if (c == u'\\' || c == u'/' || c == u':') return false;
  }
  return true;
}

std::filesystem::path LocalPath(std::u16string_view path) {
  constexpr std::u16string_view kLongPrefix = u"\\\\?\\";
  if (path.substr(0, kLongPrefix.size()) == kLongPrefix) path.remove_prefix(kLongPrefix.size());
#ifdef _WIN32
  return std::filesystem::path(std::u16string(path));
#else
  return std::filesystem::path(U16ToUtf8(ReplaceChar(path, u'\\', u'/')));
#endif
}

bool LocalIsDirectory(std::u16string_view path) {
  if (path.empty()) return false;
  std::error_code error;
  return std::filesystem::is_directory(LocalPath(path), error);
}

}  // namespace kiv
