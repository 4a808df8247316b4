// The phone's side of folder listings, file details, file and folder operations and the
// space queries. Listings come in two forms: the binary list in pages (the PC asks for a
// start index and a count) and the XML document, built once and answered in pieces. A
// listing is kept in the Phone between its requests only while they follow one another.
//
// Changes are refused inside a folder configured read-only (and below it), to a file whose
// permissions deny writing, and to the removal or renaming of a folder whose listing word
// marks it fixed.
#include <fcntl.h>
#include <fcntl.h>
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <ctime>
#include <filesystem>

#include "phonesim/body.hpp"
#include "phonesim/families.hpp"
#include "phonesim/results.hpp"
#include "phonesim/transfer_paths.hpp"
#include "phonesim/xml_text.hpp"
#include "platform/text.hpp"

namespace phonesim {
namespace {

namespace fs = std::filesystem;

constexpr uint8_t kFolderList = 0x03;
constexpr uint8_t kDetails = 0x04;
constexpr uint8_t kFreeSpace = 0x08;
constexpr uint8_t kDelete = 0x09;
constexpr uint8_t kRename = 0x0A;
constexpr uint8_t kCreateFolder = 0x0B;
constexpr uint8_t kCopy = 0x0C;
constexpr uint8_t kMove = 0x0D;
constexpr uint8_t kExistCheck = 0x10;
constexpr uint8_t kTotalSpace = 0x11;
constexpr uint8_t kXmlList = 0x21;
constexpr uint8_t kFreeSpaceText = 0x26;
constexpr uint8_t kTotalSpaceText = 0x27;

// Result bytes of this phone (the same as the transfer family's, and three of its own).
constexpr uint8_t kMoreText = 0x02;    // an XML piece that more pieces follow

// Folder listing word bits.
constexpr uint32_t kFixed = 0x4000;
constexpr uint32_t kRenamable = 0x0400;
constexpr uint32_t kHidden = 0x0800;
constexpr uint32_t kNoSubfolders = 0x0040;
// File attribute word: read-only.
constexpr uint16_t kReadOnlyFile = 0x4000;


// Bytes an answer body may take in one of the phone's packets.
std::size_t BodyRoom(const Phone& phone) {
  std::size_t packet = std::min<std::size_t>(phone.config().maxPacket, kHeader + kMaxBody);
  return packet > kHeader ? packet - kHeader : 0;
}

Packet WithBody(Packet answer, BodyWriter& w) {
  auto bytes = w.Take();
  answer.body.insert(answer.body.end(), bytes.begin(), bytes.end());
  return answer;
}

// What the phone tells of a file or folder.
struct Info {
  bool folder = false;
  uint64_t size = 0;
  std::time_t created = 0, modified = 0, accessed = 0;
  bool writable = true;
};

// Follows links, so that a linked folder of the served folder serves like a folder. Created
// is the birth time where the file system keeps one, else the modification time. name is
// taken relative to the open folder dirFd (AT_FDCWD: the process's current folder), which
// spares a walk of the whole path for every entry of a large folder.
std::optional<Info> StatAt(int dirFd, const char* name) {
  Info info;
  mode_t mode = 0;
#ifdef STATX_BTIME
  struct statx sx {};
  if (statx(dirFd, name, 0, STATX_BASIC_STATS | STATX_BTIME, &sx) == 0) {
    mode = sx.stx_mode;
    info.size = sx.stx_size;
    info.modified = static_cast<std::time_t>(sx.stx_mtime.tv_sec);
    info.accessed = static_cast<std::time_t>(sx.stx_atime.tv_sec);
    info.created = (sx.stx_mask & STATX_BTIME) ? static_cast<std::time_t>(sx.stx_btime.tv_sec) : info.modified;
  } else
#endif
  {
    struct stat st {};
    if (::fstatat(dirFd, name, &st, 0) != 0) return std::nullopt;
    mode = st.st_mode;
    info.size = static_cast<uint64_t>(st.st_size);
    info.modified = st.st_mtime;
    info.accessed = st.st_atime;
    info.created = st.st_mtime;
  }
  if (!S_ISDIR(mode) && !S_ISREG(mode)) return std::nullopt;
  info.folder = S_ISDIR(mode);
  if (info.folder) info.size = 0;
  info.writable = (mode & S_IWUSR) != 0;
  return info;
}

std::optional<Info> Stat(const fs::path& path) { return StatAt(AT_FDCWD, path.c_str()); }

// Whether something (even a dangling link) holds the name.
bool Taken(const fs::path& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

uint32_t Saturate32(uint64_t v) { return static_cast<uint32_t>(std::min<uint64_t>(v, UINT32_MAX)); }

// The configuration's key for a phone folder: "\\" separators, no trailing separator.
std::u16string Key(std::u16string_view folder) {
  if (folder.ends_with(u'/')) folder.remove_suffix(1);
  std::u16string key(folder);
  std::replace(key.begin(), key.end(), u'/', u'\\');
  return key;
}

std::u16string ChildKey(const std::u16string& key, std::u16string_view name) {
  return key.empty() ? std::u16string(name) : key + u'\\' + std::u16string(name);
}

// A request that names a folder with an empty entry name means the folder itself: it
// becomes the entry of its parent. False when nothing is left to name (the root).
bool NameTheFolderItself(std::u16string& folder, std::u16string& name) {
  if (!name.empty()) return true;
  while (folder.ends_with(u'/')) folder.pop_back();
  if (folder.empty()) return false;
  std::size_t cut = folder.rfind(u'/');
  name = cut == std::u16string::npos ? folder : folder.substr(cut + 1);
  folder = cut == std::u16string::npos ? std::u16string() : folder.substr(0, cut);
  return true;
}

uint32_t FolderWord(const Phone& phone, const std::u16string& key) {
  const auto& words = phone.config().folderAttributes;
  auto it = words.find(key);
  return it == words.end() ? 0 : it->second;
}

// The folder or one above it is configured read-only.
bool ReadOnly(const Phone& phone, std::u16string_view key) {
  const auto& folders = phone.config().readOnlyFolders;
  if (folders.empty()) return false;
  for (;;) {
    if (folders.count(std::u16string(key))) return true;
    std::size_t cut = key.rfind(u'\\');
    if (key.empty()) return false;
    key = cut == std::u16string_view::npos ? std::u16string_view() : key.substr(0, cut);
  }
}

// Whether the entry name of folder (key) may be removed, renamed or replaced.
bool MayChange(const Phone& phone, const std::u16string& key, std::u16string_view name, const Info& info) {
  if (!info.folder) return info.writable && !ReadOnly(phone, key);
  std::u16string child = ChildKey(key, name);
  return !(FolderWord(phone, child) & kFixed) && !ReadOnly(phone, child);
}

bool OnCard(const Phone& phone, std::u16string_view folder) {
  const Config& c = phone.config();
  return c.hasCard && !c.cardName.empty() && folder.substr(0, folder.find(u'/')) == c.cardName;
}

void WriteTime(BodyWriter& w, std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  w.U16(static_cast<uint16_t>(tm.tm_year + 1900));
  w.Byte(static_cast<uint8_t>(tm.tm_mon + 1));
  w.Byte(static_cast<uint8_t>(tm.tm_mday));
  w.Byte(static_cast<uint8_t>(tm.tm_hour));
  w.Byte(static_cast<uint8_t>(tm.tm_min));
  w.Byte(static_cast<uint8_t>(tm.tm_sec));
  w.Byte(0);
}

void AppendAscii(std::u16string& out, std::string_view text) {
  for (char c : text) out.push_back(static_cast<char16_t>(c));
}

void AppendNumber(std::u16string& out, uint64_t v) {
  char buf[24];
  auto end = std::to_chars(buf, buf + sizeof buf, v).ptr;
  AppendAscii(out, std::string_view(buf, static_cast<std::size_t>(end - buf)));
}

void AppendStamp(std::u16string& out, std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[32];
  int n = std::snprintf(buf, sizeof buf, "%04d%02d%02dT%02d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                        tm.tm_hour, tm.tm_min, tm.tm_sec);
  AppendAscii(out, std::string_view(buf, n > 0 ? static_cast<std::size_t>(n) : 0));
}

struct Entry {
  std::u16string name;
  Info info;
};

// The folder's files and folders sorted by name; entries that are neither (or dangling
// links) are left out. Nothing when the folder cannot be read.
std::optional<std::vector<Entry>> ReadFolder(const fs::path& folder) {
  std::vector<Entry> entries;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), &::closedir);
  if (!dir) return std::nullopt;
  const int fd = ::dirfd(dir.get());
  errno = 0;
  while (const dirent* entry = ::readdir(dir.get())) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    if (auto info = StatAt(fd, name)) entries.push_back(Entry{kiv::Utf8ToU16(name), *info});
    errno = 0;
  }
  if (errno != 0) return std::nullopt;
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
  return entries;
}

// Answers for a phone folder that cannot be listed: nullopt when it can.
std::optional<uint8_t> FolderProblem(const std::optional<fs::path>& path) {
  if (!path) return kBadRequest;
  std::error_code ec;
  if (!fs::is_directory(*path, ec)) return kNoFile;
  return std::nullopt;
}

// The binary folder list: "wwp" (or "wwP" before version 2) with the start index, the
// entries wanted and the folder; the answer carries the next index, the total and the
// entries "name>D" (folder) or "name" (file) joined by ':'.
Packet FolderList(Phone& phone, const Packet& request) {
  BodyReader r(request.body);
  uint16_t start = 0, wanted = 0;
  std::u16string folder;
  const bool lengthInBytes = phone.config().version < 2;
  if (!r.U16(start) || !r.U16(wanted) || !r.Text(1, lengthInBytes, folder) || wanted == 0 ||
      (lengthInBytes && request.body[4] % 2 != 0))
    return phone.Answer(request, kBadRequest);

  auto& pending = phone.pendingList;
  const bool continues =
      start != 0 && pending && pending->folder == folder && pending->packet + 1 == phone.packets();
  if (!continues) {
    pending.reset();
    auto path = MapPhoneFolder(phone, folder);
    if (auto problem = FolderProblem(path)) return phone.Answer(request, *problem);
    auto entries = ReadFolder(*path);
    if (!entries) return phone.Answer(request, kIoError);
    Phone::PendingListing listing;
    listing.folder = folder;
    listing.entries.reserve(entries->size());
    for (Entry& e : *entries) listing.entries.push_back(e.info.folder ? std::move(e.name) + u">D" : std::move(e.name));
    pending = std::move(listing);
  }
  pending->packet = phone.packets();
  const auto& entries = pending->entries;
  const std::size_t total = entries.size();
  if (start > total) return phone.Answer(request, kBadRequest);

  // Result byte, the two numbers and the text's terminator take 11 bytes.
  const std::size_t body = BodyRoom(phone);
  const std::size_t room = body > 11 ? body - 11 : 0;
  std::u16string text;
  std::size_t i = start;
  for (; i < total && i - start < wanted; ++i) {
    std::size_t bytes = (text.empty() ? 0 : 2) + entries[i].size() * 2;
    if (text.size() * 2 + bytes > room) break;
    if (i != start) text.push_back(u':');
    text += entries[i];
  }
  if (i == start && start < total) return phone.Answer(request, kBadRequest);
  BodyWriter w;
  w.U32(static_cast<uint32_t>(i));
  w.U32(static_cast<uint32_t>(total));
  w.Text(text);
  return WithBody(phone.Answer(request, kOk), w);
}

// "ps": the details of a file, or of the folder itself when the name is empty.
Packet Details(Phone& phone, const Packet& request) {
  BodyReader r(request.body);
  std::u16string folder, name;
  if (!r.Text(1, false, folder) || !r.Text(1, false, name)) return phone.Answer(request, kBadRequest);
  auto path = name.empty() ? MapPhoneFolder(phone, folder) : MapPhonePath(phone, folder, name);
  if (!path) return phone.Answer(request, kBadRequest);
  auto info = Stat(*path);
  if (!info || (name.empty() && !info->folder)) return phone.Answer(request, kNoFile);

  const std::u16string key = Key(folder);
  uint16_t word = 0;
  if (info->folder) {
    word = static_cast<uint16_t>(FolderWord(phone, name.empty() ? key : ChildKey(key, name)));
  } else if (!info->writable || ReadOnly(phone, key)) {
    word = kReadOnlyFile;
  }
  BodyWriter w;
  WriteTime(w, info->created);
  WriteTime(w, info->modified);
  WriteTime(w, info->accessed);
  w.U32(Saturate32(info->size));
  w.U16(word);
  return WithBody(phone.Answer(request, kOk), w);
}

const char* XmlFolderWord(uint32_t word) {
  if (word & kFixed) return "FIX";
  if (word & kRenamable) return "RENAME";
  if (word & kHidden) return "HIDDEN";
  if (word & kNoSubfolders) return "NOSUB";
  return "NONE";
}

// The XML listing of a folder: its folders, then its files, each sorted by name.
std::u16string XmlDocument(const Phone& phone, std::u16string_view folder, const std::vector<Entry>& entries) {
  const std::u16string key = Key(folder);
  std::u16string escapedFolder;
  AppendEscaped(escapedFolder, folder);
  std::u16string doc = u"<?xml version=\"1.0\" encoding=\"UTF-16\"?><folderlist>";
  doc.reserve(doc.size() + entries.size() * (96 + escapedFolder.size()));
  for (const Entry& e : entries) {
    if (!e.info.folder) continue;
    doc += u"<folder name=\"";
    AppendEscaped(doc, e.name);
    doc += u"\" attr=\"";
    AppendAscii(doc, XmlFolderWord(FolderWord(phone, ChildKey(key, e.name))));
    doc += u"\" created=\"";
    AppendStamp(doc, e.info.created);
    doc += u"\"/>";
  }
  for (const Entry& e : entries) {
    if (e.info.folder) continue;
    doc += u"<file name=\"";
    AppendEscaped(doc, e.name);
    doc += u"\" path=\"";
    doc += escapedFolder;
    doc += u"\" created=\"";
    AppendStamp(doc, e.info.created);
    doc += u"\" size=\"";
    AppendNumber(doc, e.info.size);
    doc += u"\"/>";
  }
  doc += u"</folderlist>";
  return doc;
}

// "t": the next piece of the folder's XML listing, 0x02 while more follow.
Packet XmlList(Phone& phone, const Packet& request) {
  BodyReader r(request.body);
  std::u16string folder;
  if (!r.Text(2, false, folder)) return phone.Answer(request, kBadRequest);
  const std::size_t room = BodyRoom(phone) > 1 ? (BodyRoom(phone) - 1) & ~std::size_t{1} : 0;
  if (room == 0) return phone.Answer(request, kBadRequest);

  auto& pending = phone.pendingXml;
  if (!pending || pending->folder != folder || pending->packet + 1 != phone.packets()) {
    pending.reset();
    auto path = MapPhoneFolder(phone, folder);
    if (auto problem = FolderProblem(path)) return phone.Answer(request, *problem);
    auto entries = ReadFolder(*path);
    if (!entries) return phone.Answer(request, kIoError);
    Phone::PendingListing listing;
    listing.folder = folder;
    listing.xml = XmlDocument(phone, folder, *entries);
    pending = std::move(listing);
  }
  // The document's bytes as UTF-16LE, cut into pieces of an even number of bytes.
  const std::u16string& xml = pending->xml;
  const std::size_t bytes = xml.size() * 2;
  const std::size_t piece = std::min(room, bytes - pending->sent);
  const bool last = pending->sent + piece >= bytes;
  Packet answer = phone.Answer(request, last ? kOk : kMoreText);
  const std::size_t at = answer.body.size();
  answer.body.resize(at + piece);
  for (std::size_t i = 0; i < piece / 2; ++i) {
    const char16_t c = xml[pending->sent / 2 + i];
    answer.body[at + 2 * i] = static_cast<uint8_t>(c);
    answer.body[at + 2 * i + 1] = static_cast<uint8_t>(c >> 8);
  }
  if (last) {
    pending.reset();
  } else {
    pending->sent += piece;
    pending->packet = phone.packets();
  }
  return answer;
}

// "ps": removes a file, or a folder that holds nothing.
Packet Delete(Phone& phone, const Packet& request) {
  BodyReader r(request.body);
  std::u16string folder, name;
  if (!r.Text(1, false, folder) || !r.Text(1, false, name) || !NameTheFolderItself(folder, name))
    return phone.Answer(request, kBadRequest);
  auto path = MapPhonePath(phone, folder, name);
  if (!path) return phone.Answer(request, kBadRequest);
  auto info = Stat(*path);
  if (!info) return phone.Answer(request, kNoFile);
  if (!MayChange(phone, Key(folder), name, *info)) return phone.Answer(request, kDenied);
  // A folder goes with everything in it, as phones do: the library empties only the
  // folders it knows of.
  std::error_code ec;
  const uint64_t freed = info->folder ? BytesAt(*path) : info->size;
  if (info->folder) {
    fs::remove_all(*path, ec);
  } else if (!fs::remove(*path, ec) && !ec) {
    ec = std::make_error_code(std::errc::no_such_file_or_directory);
  }
  if (ec) {
    phone.ForgetUsedBytes();
    return phone.Answer(request, kIoError);
  }
  AdjustUsedBytes(phone, folder, -static_cast<int64_t>(freed));
  return phone.Answer(request, kOk);
}

// "pss": renames a file or folder within its folder (an empty old name: the folder itself).
Packet Rename(Phone& phone, const Packet& request) {
  BodyReader r(request.body);
  std::u16string folder, from, to;
  if (!r.Text(1, false, folder) || !r.Text(1, false, from) || !r.Text(1, false, to) ||
      !NameTheFolderItself(folder, from))
    return phone.Answer(request, kBadRequest);
  auto source = MapPhonePath(phone, folder, from);
  auto target = MapPhonePath(phone, folder, to);
  if (!source || !target) return phone.Answer(request, kBadRequest);
  auto info = Stat(*source);
  if (!info) return phone.Answer(request, kNoFile);
  const std::u16string key = Key(folder);
  if (!MayChange(phone, key, from, *info) || ReadOnly(phone, key)) return phone.Answer(request, kDenied);
  if (Taken(*target)) return phone.Answer(request, kExists);
  std::error_code ec;
  fs::rename(*source, *target, ec);
  return phone.Answer(request, ec ? kIoError : kOk);
}

// "p": makes a folder in an existing one.
Packet CreateFolder(Phone& phone, const Packet& request) {
  BodyReader r(request.body);
  std::u16string full;
  if (!r.Text(1, false, full)) return phone.Answer(request, kBadRequest);
  std::u16string_view text = full;
  if (text.ends_with(u'/')) text.remove_suffix(1);
  std::size_t cut = text.rfind(u'/');
  std::u16string_view parent = cut == std::u16string_view::npos ? std::u16string_view() : text.substr(0, cut);
  std::u16string_view name = cut == std::u16string_view::npos ? text : text.substr(cut + 1);
  auto path = MapPhonePath(phone, parent, name);
  if (!path) return phone.Answer(request, kBadRequest);
  std::error_code ec;
  if (!fs::is_directory(path->parent_path(), ec)) return phone.Answer(request, kNoFile);
  if (ReadOnly(phone, Key(parent))) return phone.Answer(request, kDenied);
  if (Taken(*path)) return phone.Answer(request, kExists);
  if (!fs::create_directory(*path, ec) || ec) return phone.Answer(request, kIoError);
  return phone.Answer(request, kOk);
}

// "psp": copies or moves a file into another folder under the same name, replacing a file
// of that name there.
Packet CopyOrMove(Phone& phone, const Packet& request) {
  const bool move = request.code == kMove;
  BodyReader r(request.body);
  std::u16string folder, name, targetFolder;
  if (!r.Text(1, false, folder) || !r.Text(1, false, name) || !r.Text(1, false, targetFolder))
    return phone.Answer(request, kBadRequest);
  auto source = MapPhonePath(phone, folder, name);
  auto target = MapPhonePath(phone, targetFolder, name);
  if (!source || !target) return phone.Answer(request, kBadRequest);
  auto info = Stat(*source);
  std::error_code ec;
  if (!info || info->folder || !fs::is_directory(target->parent_path(), ec)) return phone.Answer(request, kNoFile);
  if (ReadOnly(phone, Key(targetFolder)) || (move && !MayChange(phone, Key(folder), name, *info)))
    return phone.Answer(request, kDenied);
  if (source->lexically_normal() == target->lexically_normal()) return phone.Answer(request, move ? kOk : kExists);
  auto existing = Stat(*target);
  if (existing && existing->folder) return phone.Answer(request, kExists);
  if (existing && !MayChange(phone, Key(targetFolder), name, *existing)) return phone.Answer(request, kDenied);
  if (!move || OnCard(phone, folder) != OnCard(phone, targetFolder)) {
    const uint64_t held = existing ? existing->size : 0;
    if (FreeBytes(phone, targetFolder) + held < info->size) return phone.Answer(request, kNoSpace);
  }
  // The used figures follow: the target's memory gains the file and loses the one it
  // replaces; a move takes the file from the source's memory.
  const int64_t replaced = existing ? static_cast<int64_t>(existing->size) : 0;
  auto follow = [&] {
    AdjustUsedBytes(phone, targetFolder, static_cast<int64_t>(info->size) - replaced);
    if (move) AdjustUsedBytes(phone, folder, -static_cast<int64_t>(info->size));
  };
  if (move) {
    fs::rename(*source, *target, ec);
    if (!ec) {
      follow();
      return phone.Answer(request, kOk);
    }
    ec.clear();
  }
  fs::copy_file(*source, *target, fs::copy_options::overwrite_existing, ec);
  if (!ec && move) fs::remove(*source, ec);
  if (ec) {
    phone.ForgetUsedBytes();
    return phone.Answer(request, kIoError);
  }
  follow();
  return phone.Answer(request, kOk);
}

// "psddd": how many bytes of the file the phone holds.
Packet ExistCheck(Phone& phone, const Packet& request) {
  BodyReader r(request.body);
  std::u16string folder, name;
  uint32_t length = 0, zero1 = 0, zero2 = 0;
  if (!r.Text(1, false, folder) || !r.Text(1, false, name) || !r.U32(length) || !r.U32(zero1) || !r.U32(zero2))
    return phone.Answer(request, kBadRequest);
  auto path = MapPhonePath(phone, folder, name);
  if (!path) return phone.Answer(request, kBadRequest);
  auto info = Stat(*path);
  if (!info || info->folder) return phone.Answer(request, kNoFile);
  BodyWriter w;
  w.U32(Saturate32(info->size));
  return WithBody(phone.Answer(request, kOk), w);
}

// "p": free or total bytes of the memory holding the path; a 32-bit count, or (the text
// forms) a 16-bit 0 and the decimal count as a text.
Packet Space(Phone& phone, const Packet& request) {
  BodyReader r(request.body);
  std::u16string folder;
  if (!r.Text(1, false, folder) || !MapPhoneFolder(phone, folder)) return phone.Answer(request, kBadRequest);
  const bool total = request.code == kTotalSpace || request.code == kTotalSpaceText;
  const Config& c = phone.config();
  const uint64_t bytes = total ? (OnCard(phone, folder) ? c.card.total : c.internal.total) : FreeBytes(phone, folder);
  BodyWriter w;
  if (request.code == kFreeSpace || request.code == kTotalSpace) {
    w.U32(Saturate32(bytes));
  } else {
    std::u16string text;
    AppendNumber(text, bytes);
    w.U16(0);
    w.Text(text);
  }
  return WithBody(phone.Answer(request, kOk), w);
}

}  // namespace

std::optional<Packet> HandleFileCommands(Phone& phone, const Packet& request) {
  switch (request.code) {
    case kFolderList: return FolderList(phone, request);
    case kDetails: return Details(phone, request);
    case kXmlList: return XmlList(phone, request);
    case kDelete: return Delete(phone, request);
    case kRename: return Rename(phone, request);
    case kCreateFolder: return CreateFolder(phone, request);
    case kCopy:
    case kMove: return CopyOrMove(phone, request);
    case kExistCheck: return ExistCheck(phone, request);
    case kFreeSpace:
    case kTotalSpace:
    case kFreeSpaceText:
    case kTotalSpaceText: return Space(phone, request);
    default: return std::nullopt;
  }
}

}  // namespace phonesim
