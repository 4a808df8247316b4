// Path helpers over backslash-separated UTF-16 paths (the host's and the folder tree's
// paths), in the manner of the Windows shell path functions.
#pragma once

#include <string>
#include <string_view>

namespace kiv {

// The last component: the text after the last backslash (a trailing backslash belongs to
// the component before it).
std::u16string_view PathFileName(std::u16string_view path);
// The path without its last component and the backslash before it; "\\a" gives "\\".
std::u16string PathRemoveFileSpec(std::u16string_view path);
// The extension of the last component with its dot ("" when it has none).
std::u16string_view PathExtension(std::u16string_view path);
// Whether prefix is a leading run of whole components of path (letter case ignored).
bool PathIsPrefix(std::u16string_view prefix, std::u16string_view path);
// parent + "\\" + name, without doubling a backslash at the join.
std::u16string PathJoin(std::u16string_view parent, std::u16string_view name);

}  // namespace kiv
