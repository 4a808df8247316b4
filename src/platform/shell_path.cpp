#include "platform/shell_path.hpp"

#include "platform/text.hpp"

namespace kiv {
namespace {

std::u16string_view TrimTrailingSlash(std::u16string_view path) {
  if (path.size() > 1 && path.back() == u'\\') path.remove_suffix(1);
  return path;
}

}  // namespace

std::u16string_view PathFileName(std::u16string_view path) {
  std::u16string_view trimmed = TrimTrailingSlash(path);
  auto slash = trimmed.find_last_of(u'\\');
  if (slash == std::u16string_view::npos) return path;
  if (slash + 1 == path.size()) return path.substr(slash);  // the path is just "\\"
  return path.substr(slash + 1);
}

std::u16string PathRemoveFileSpec(std::u16string_view path) {
  std::u16string_view trimmed = TrimTrailingSlash(path);
  auto slash = trimmed.find_last_of(u'\\');
  if (slash == std::u16string_view::npos) return {};
  if (slash == 0) return u"\\";
  return std::u16string(trimmed.substr(0, slash));
}

std::u16string_view PathExtension(std::u16string_view path) {
  std::u16string_view name = PathFileName(path);
  auto dot = name.find_last_of(u'.');
  if (dot == std::u16string_view::npos) return {};
  return name.substr(dot);
}

bool PathIsPrefix(std::u16string_view prefix, std::u16string_view path) {
  prefix = TrimTrailingSlash(prefix);
  if (prefix.empty() || prefix.size() > path.size()) return false;
  if (!EqualsNoCase(prefix, path.substr(0, prefix.size()))) return false;
  return prefix.size() == path.size() || path[prefix.size()] == u'\\' || prefix.back() == u'\\';
}

std::u16string PathJoin(std::u16string_view parent, std::u16string_view name) {
  std::u16string out(parent);
  if (!out.empty() && out.back() != u'\\') out += u'\\';
  out += name;
  return out;
}

}  // namespace kiv
