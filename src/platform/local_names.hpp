// Local (PC) side of copies from the phone: checks on names that the phone supplied before
// they become part of a local path, and the conversion of the host's local paths.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace kiv {

// Whether a file name that came from the phone may be joined to a PC folder the host chose
// without leaving it: not empty, not "." or "..", no "\\" or "/", no colon (drive letters,
// alternate data streams), no control characters. Names a Windows PC could not write as given
// are refused on every system: the characters <>"|?*, a trailing dot or space, and device
// names (CON, PRN, AUX, NUL, COM0-9, LPT0-9, also with an extension). Anything else is
// refused before a local file is touched.
bool IsSafeLocalName(std::u16string_view name);
// Why such a name is refused, in words ("it is empty", "it holds a slash", ...); empty for a
// safe name.
std::string UnsafeLocalNameReason(std::u16string_view name);

// A host's local path as the file system sees it. Off Windows the long-path prefix
// "\\\\?\\" is dropped and "\\" separates components like "/"; on Windows "/" becomes "\\"
// and a path too long for the short form takes the prefix (made a full path first).
std::filesystem::path LocalPath(std::u16string_view path);

// Whether path names an existing folder on the PC (relative paths are taken from the
// process's current folder, as the shell's test does).
bool LocalIsDirectory(std::u16string_view path);

// The last component of a host's local path, which may separate with "\\" or "/".
std::u16string_view LocalFileName(std::u16string_view path);

// Whether the PC file at path carries no write permission for anyone.
bool LocalIsReadOnly(std::u16string_view path);
// Whether the PC file at path can be opened for reading.
bool LocalCanRead(std::u16string_view path);
// The length of the PC file at path; -1 when there is none.
int64_t LocalLength(std::u16string_view path);
// Removes the PC file at path, making it writable first; false when it stays.
bool LocalRemove(std::u16string_view path);

// A copy into a PC file is written under a temporary name beside it and renamed over it only
// when complete, so that a failed, cancelled or killed copy never leaves a partial file
// under the final name nor destroys an older file there. The temporary name is hidden and
// carries the writing process's id: ".kivmod-PID-N.part".
std::u16string LocalTemporaryBeside(std::u16string_view target);
// Removes the temporaries that processes no longer running left in folder (a killed copy);
// the number removed.
int RemoveStaleTemporaries(std::u16string_view folder);
// Renames from over to; a symbolic link at to is replaced, never written through. False
// (errno set) when it cannot, for example when to is a folder.
bool LocalReplace(std::u16string_view from, std::u16string_view to);

// Opens the PC file at path with an fopen mode ("rb", "r+b", "ab", or "wxb": a new file,
// failing when anything, also a symbolic link, has the name), regular files only and
// without waiting: a named pipe in its place fails instead of hanging until someone writes
// to it. The stream reads and writes through a large buffer held in buffer (made when
// empty), which must outlive it. Null when the file cannot be opened.
std::FILE* OpenLocalFile(std::u16string_view path, const char* mode, std::unique_ptr<char[]>& buffer);

}  // namespace kiv
