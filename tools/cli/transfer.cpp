// The copies: get (phone to PC), put (PC or phone to phone), resume.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <system_error>

#include <stdlib.h>

#include "commands.hpp"
#include "system.hpp"
#include "text.hpp"

namespace fs = std::filesystem;

namespace cli {
namespace {

// ---- get -------------------------------------------------------------------------------

// What separates the folders of a PC path.
const std::string kPcSeparators = std::string("/") + static_cast<char>(fs::path::preferred_separator);

struct CopyGroup {
  fs::path dir;
  std::vector<PhoneFile> files;
};

// Why a phone folder name cannot become a PC folder name; empty when it can.
std::string UnsafeFolderReason(const std::string& name) {
  if (name.empty()) return "it is empty";
  if (name == "." || name == "..") return "it names another folder";
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F) return "it holds a control character";
    if (c == '/') return "it holds a slash";
    if (c == '\\') return "it holds a backslash";
    if (c == ':') return "it holds a colon";
  }
  return {};
}

// The files of a phone folder and of the folders below it, each folder a PC folder under dir.
// Hidden files stay behind, as they do when the phone's own software copies a folder.
void CollectFolder(Session& s, const PhoneFolder& folder, const fs::path& dir, std::vector<CopyGroup>& out) {
  Listing l = s.tree.List(folder.path);
  CopyGroup group{dir, {}};
  for (const PhoneFile& f : l.files)
    if (!(f.attributes & KIV_FILE_HIDDEN)) group.files.push_back(f);
  out.push_back(std::move(group));
  for (const PhoneFolder& sub : l.folders) {
    if (std::string why = UnsafeFolderReason(sub.name); !why.empty()) {
      Complain("the folder " + Escaped(sub.path) + " is left out: its name is unsafe for the PC (" + why + ")");
      continue;
    }
    CollectFolder(s, sub, dir / PcPath(sub.name), out);
  }
}

int CopyGroupToPc(Session& s, const CopyGroup& group) {
  std::error_code ec;
  fs::create_directories(group.dir, ec);
  if (ec || !fs::is_directory(group.dir)) {
    Complain("cannot make the PC folder " + group.dir.string() + (ec ? ": " + ec.message() : ""));
    return kExitFailed;
  }
  StringList list;
  std::map<std::string, int64_t> sizes;
  std::vector<const PhoneFile*> copied;
  for (const PhoneFile& f : group.files) {
    fs::path local = group.dir / PcPath(f.name);
    if (s.options.overwrite == Overwrite::None && fs::exists(local, ec)) {
      if (!Quiet()) std::fprintf(stderr, "get %s skipped (it is on the PC already)\n", f.name.c_str());
      continue;
    }
    if (ShadowedByPcFolder(f.Path())) return kExitFailed;
    list.Add(f.Path());
    sizes[f.Path()] = f.size;
    copied.push_back(&f);
  }
  if (list.Count() == 0) return kExitOk;
  if (Cancelled()) return kExitCancelled;
  s.host.Reset();
  s.host.BeginTransfer("get", sizes, "");
  // A copy that fails leaves the PC file as it was: the library writes beside it and puts
  // the copy in place only when complete.
  KivText dir;
  if (!PcName(group.dir.string(), dir)) return kExitUsage;
  int32_t done = Kiv_SendToPC(list.get(), dir.c_str(), s.host.Window());
  bool ok = done > 0 && s.host.reports == 0;
  std::string unfinished = s.host.EndTransfer(ok);
  // The phone's last-piece mark ends a copy; a file that came out shorter or longer than
  // the listing said is not the phone's file.
  if (done > 0) {
    for (const PhoneFile* f : copied) {
      const fs::path local = group.dir / PcPath(f->name);
      const auto size = fs::file_size(local, ec);
      if (ec || static_cast<int64_t>(size) == f->size) continue;
      Complain("get " + f->Path() + ": received " + std::to_string(size) + " bytes, the phone listed " +
               std::to_string(f->size));
      ok = false;
    }
  }
  if (ok) return kExitOk;
  if (Cancelled() || s.host.cancelledMessage) return kExitCancelled;
  if (s.host.reports == 0 && done <= 0)
    Complain("the copy " + (unfinished.empty() ? std::string() : "of " + unfinished + " ") + "to " +
             group.dir.string() + " failed");
  return kExitFailed;
}

// A hidden folder of our own for copies that are put in place afterwards; removed with what
// is left in it.
class StagingFolder {
 public:
  explicit StagingFolder(const fs::path& parent) : path_(MakeUniqueFolder(parent, ".kivmod-get-")) {}
  ~StagingFolder() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  StagingFolder(const StagingFolder&) = delete;
  StagingFolder& operator=(const StagingFolder&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// One phone file written as the PC file named target: copied into a staging folder beside
// it, then renamed over it, so that a failed copy leaves an older file as it was.
int GetToFile(Session& s, const PhoneFile& file, const fs::path& target) {
  std::error_code ec;
  const fs::path parent = target.parent_path();
  if (!fs::is_directory(parent, ec)) {
    Complain("no such folder on the PC: " + parent.string());
    return kExitNotFound;
  }
  if (s.options.overwrite == Overwrite::None && fs::exists(fs::symlink_status(target, ec))) {
    if (!Quiet()) std::fprintf(stderr, "get %s skipped (it is on the PC already)\n", target.filename().string().c_str());
    return kExitOk;
  }
  StagingFolder staging(parent);
  if (staging.path().empty()) {
    Complain("cannot write in the PC folder " + parent.string() + ": " + std::strerror(errno));
    return kExitFailed;
  }
  const int code = CopyGroupToPc(s, CopyGroup{staging.path(), {file}});
  if (code != kExitOk) return code;
  fs::rename(staging.path() / PcPath(file.name), target, ec);
  if (ec) {
    Complain("cannot write " + target.string() + ": " + ec.message());
    return kExitFailed;
  }
  return kExitOk;
}

// Phone files written one after the other to standard output; progress and messages stay on
// standard error. Each is copied whole into a private folder first (the library writes files).
int GetToStdout(Session& s, const std::vector<PhoneFile>& files) {
  std::error_code ec;
  StagingFolder staging(fs::temp_directory_path(ec));
  if (staging.path().empty()) {
    Complain("cannot make a temporary folder: " + std::string(std::strerror(errno)));
    return kExitFailed;
  }
  SetStdoutBinary();
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (Cancelled()) return kExitCancelled;
    const fs::path dir = staging.path() / std::to_string(i);
    const int code = CopyGroupToPc(s, CopyGroup{dir, {files[i]}});
    if (code != kExitOk) return code;
    std::ifstream in(dir / PcPath(files[i].name), std::ios::binary);
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0)
      if (std::fwrite(buffer, 1, static_cast<std::size_t>(in.gcount()), stdout) != static_cast<std::size_t>(in.gcount())) {
        Complain("cannot write to standard output: " + std::string(std::strerror(errno)));
        return kExitFailed;
      }
    fs::remove(dir / PcPath(files[i].name), ec);
  }
  if (std::fflush(stdout) != 0) {
    Complain("cannot write to standard output: " + std::string(std::strerror(errno)));
    return kExitFailed;
  }
  return kExitOk;
}

// ---- put -------------------------------------------------------------------------------

uint32_t TypeRules(const std::string& extension, uint32_t* maxSize) {
  const KivTypeArray* types = Kiv_GetSupportFileExt();
  for (int32_t i = 0; types && i < types->count; ++i) {
    if (!SameNoCase(Utf8(types->entries[i].name), extension)) continue;
    if (maxSize) *maxSize = types->entries[i].maxSize ? types->entries[i].maxSize : kTypeAnySize;
    return types->entries[i].rules;
  }
  if (maxSize) *maxSize = kTypeAnySize;
  return KIV_TYPE_TO_PC | KIV_TYPE_TO_PHONE;
}

bool FolderAccepts(const PhoneFolder& folder, const std::string& extension) {
  if (folder.types.empty()) return true;
  for (std::string type : folder.types) {
    if (!type.empty() && type[0] == '.') type.erase(0, 1);
    if (type == "*" || SameNoCase(type, extension)) return true;
  }
  return false;
}

// The PC source named by the library's resume record (ResumeFiles.txt in its work folder,
// documented in docs/architecture.md: the source, a tab, the phone folder); empty when no
// interrupted copy is recorded.
std::string RecordedResumeSource() {
  const fs::path folder = LibraryWorkFolder();
  if (folder.empty()) return {};
  std::ifstream in(folder / "ResumeFiles.txt", std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), {});
  const std::size_t tab = text.find('\t');
  if (tab == std::string::npos || tab == 0 || tab + 1 == text.size()) return {};
  return text.substr(0, tab);
}


// A file for the phone: what the library is given (a PC path, or a phone path for
// --from-phone), its name on the phone, its size, and how messages name it.
struct Outgoing {
  KivText source;
  std::string name;
  int64_t size = 0;
  std::string shown;
};

// A PC folder of put -R: its files, for the phone folder at the names below the target.
struct OutgoingFolder {
  fs::path local;
  std::vector<std::string> below;
  std::vector<Outgoing> files;
};

bool LocalFile(const fs::path& local, const std::string& typed, Outgoing& out) {
  KivText wide;
  if (!PcName(local.string(), wide)) return false;
  const std::string converted = Utf8(wide.c_str());
  std::error_code ec;
  out = Outgoing{wide, converted.substr(converted.find_last_of(kPcSeparators) + 1), static_cast<int64_t>(fs::file_size(local, ec)),
                 Printable(typed)};
  return true;
}

// The PC folder dir and those below it, parents first, each with its files. Links to folders
// and what is neither file nor folder are left out with a note; false when a name is not text.
bool CollectLocal(const fs::path& dir, const std::vector<std::string>& below, std::vector<OutgoingFolder>& out) {
  std::error_code ec;
  std::vector<fs::directory_entry> entries;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) entries.push_back(*it);
  if (ec) {
    Complain("cannot read the PC folder " + Printable(dir.string()) + ": " + ec.message());
    return false;
  }
  std::sort(entries.begin(), entries.end());
  const std::size_t at = out.size();
  out.push_back(OutgoingFolder{dir, below, {}});
  std::vector<std::pair<fs::path, std::string>> subfolders;
  for (const fs::directory_entry& e : entries) {
    const fs::path& path = e.path();
    if (e.is_directory(ec) && !e.is_symlink(ec)) {
      KivText wide;
      if (!PcName(path.filename().string(), wide)) return false;
      subfolders.emplace_back(path, Utf8(wide.c_str()));
    } else if (e.is_regular_file(ec)) {
      Outgoing item;
      if (!LocalFile(path, path.string(), item)) return false;
      out[at].files.push_back(std::move(item));
    } else if (!Quiet()) {
      std::fprintf(stderr, "kivmod: %s is left out (not a file or folder)\n", Printable(path.string()).c_str());
    }
  }
  for (const auto& [path, name] : subfolders) {
    std::vector<std::string> deeper = below;
    deeper.push_back(name);
    if (!CollectLocal(path, deeper, out)) return false;
  }
  return true;
}

// Why the phone would refuse the file in folder (its type table, the folder's types); empty
// when it takes it.
std::string Refused(const PhoneFolder& folder, const Outgoing& item) {
  const std::string extension = Extension(item.name);
  if (!(TypeRules(extension, nullptr) & KIV_TYPE_TO_PHONE))
    return "files of type " + extension + " may not be copied to the phone (" + item.shown + ")";
  if (!FolderAccepts(folder, extension))
    return "folder " + folder.path + " does not accept files of type " + (extension.empty() ? "(none)" : extension) +
           " (" + item.shown + ")";
  return {};
}


int SendInto(Session& s, const PhoneFolder& folder, const std::vector<Outgoing>& files) {
  StringList list;
  std::map<std::string, int64_t> sizes;
  for (const Outgoing& f : files) {
    list.Add(f.source);
    sizes[f.name] = f.size;
  }
  s.host.Reset();
  s.host.BeginTransfer("put", sizes, folder.path);
  int32_t result = Kiv_SendToPhone(list.get(), Utf16(folder.path).c_str(), s.options.fromPhone ? 1 : 0,
                                   s.options.move ? 1 : 0, s.host.Window());
  const bool ok = result == list.Count() && s.host.reports == 0;
  s.host.EndTransfer(ok);
  if (ok) return kExitOk;
  const bool cancelled = Cancelled() || s.host.cancelledMessage || result == KIV_RESULT_CANCELLED;
  if (!cancelled && s.host.reports == 0) Complain(SendFailure(result) + " (into " + folder.path + ")");
  // The hint follows the library's record of the interrupted copy, whatever was on screen.
  if (!s.options.fromPhone) {
    const std::string recorded = RecordedResumeSource();
    if (!recorded.empty())
      std::fprintf(stderr, "kivmod: 'kivmod resume' continues the copy of %s, 'kivmod resume --discard' drops it\n",
                   Escaped(LastComponent(PhonePath(recorded))).c_str());
  }
  return cancelled ? kExitCancelled : kExitFailed;
}

}  // namespace

std::string SendFailure(int32_t result) {
  switch (result) {
    case KIV_RESULT_TYPE_NOT_TO_PHONE: return "a file's type may not be copied to the phone";
    case KIV_RESULT_EXTENSION_REFUSED: return "the folder does not accept a file's type";
    case KIV_RESULT_NO_SPACE: return "there is not enough free space on the phone";
    case KIV_RESULT_TOO_LONG_OR_BUSY: return "a name or path is too long for the phone, or the phone was busy";
    case KIV_RESULT_UNKNOWN_FILE: return "a phone file to send is not known to the tool";
    default: return "the copy to the phone failed";
  }
}

int Get(Session& s, const std::vector<std::string>& args) {
  // With one name the copy goes into the current folder.
  const std::string typedTarget = args.size() == 1 ? std::string(".") : args.back();
  const std::size_t sources = args.size() == 1 ? 1 : args.size() - 1;
  const bool toStdout = typedTarget == "-";
  if (typedTarget.empty()) {
    Complain("the PC destination is an empty name");
    return kExitUsage;
  }
  const fs::path target = fs::absolute(PcPath(typedTarget));
  // The library takes "\\" in a PC path for a folder separator, as on Windows: elsewhere such
  // a folder would not be the one named here.
  if (fs::path::preferred_separator != '\\' && !toStdout && target.string().find('\\') != std::string::npos) {
    Complain("the PC path " + target.string() + " holds a backslash, which kivmod reads as a folder separator; " +
             "choose one without");
    return kExitUsage;
  }
  std::vector<PhoneFile> files;
  std::vector<Tree::Entry> folders;
  bool patterns = false;
  for (std::size_t i = 0; i < sources; ++i) {
    patterns = patterns || HasPattern(args[i]);
    int code = kExitOk;
    auto entries = Expand(s, args[i], code);
    if (!entries) return code;
    for (const Tree::Entry& entry : *entries) {
      if (entry.kind == Tree::Kind::File) {
        files.push_back(entry.file);
      } else if (entry.kind == Tree::Kind::Top) {
        Complain("name a folder or file of the phone, not the top level");
        return kExitUsage;
      } else if (!s.options.recursive) {
        Complain(entry.path + " is a folder; use get -R to copy it with its contents");
        return kExitUsage;
      } else {
        folders.push_back(entry);
      }
    }
  }
  if (toStdout) {
    if (!folders.empty()) {
      Complain("folders cannot be written to standard output; name a PC folder");
      return kExitUsage;
    }
    return GetToStdout(s, files);
  }
  std::error_code ec;
  const bool isFolder = fs::is_directory(target, ec);
  const bool endsWithSlash = !typedTarget.empty() && (typedTarget.back() == '/' || typedTarget.back() == static_cast<char>(fs::path::preferred_separator));
  // One phone file to a name that is no PC folder: that file is written, as cp does.
  if (!isFolder && !endsWithSlash && sources == 1 && !patterns && files.size() == 1 && folders.empty())
    return GetToFile(s, files.front(), target);
  if (fs::exists(target, ec) && !isFolder) {
    Complain(typedTarget + " is not a folder on the PC");
    return kExitUsage;
  }
  std::vector<CopyGroup> groups(1, CopyGroup{target, files});
  for (const Tree::Entry& entry : folders) CollectFolder(s, entry.folder, target / PcPath(entry.folder.name), groups);
  // A folder whose copy failed does not stop the others; the run says it failed.
  int result = kExitOk;
  for (const CopyGroup& group : groups) {
    if (Cancelled()) return kExitCancelled;
    if (group.files.empty() && group.dir == target && groups.size() > 1) continue;
    int code = CopyGroupToPc(s, group);
    if (code == kExitCancelled) return code;
    if (code != kExitOk) result = code;
  }
  return result;
}

int Put(Session& s, const std::vector<std::string>& args) {
  int code = kExitOk;
  auto target = Lookup(s, args.back(), code);
  if (!target) return code;
  if (target->kind != Tree::Kind::Folder) {
    Complain(target->kind == Tree::Kind::Top ? "name a folder of the phone to put files into"
                                             : target->path + " is a file, not a folder");
    return kExitUsage;
  }
  const PhoneFolder& folder = target->folder;
  if (!(folder.attributes & KIV_FOLDER_WRITABLE)) {
    Complain("folder " + folder.path + " is not writable");
    return kExitFailed;
  }
  std::vector<Outgoing> files;
  std::vector<OutgoingFolder> trees;
  for (std::size_t i = 0; i + 1 < args.size(); ++i) {
    Outgoing item;
    if (s.options.fromPhone) {
      auto source = Lookup(s, args[i], code);
      if (!source) return code;
      if (source->kind != Tree::Kind::File) {
        Complain(Shown(source->path) + " is a folder; put --from-phone sends files only");
        return kExitUsage;
      }
      // Replacing a file by itself would delete it before it is copied.
      if (SameNoCase(source->file.folder, folder.path)) {
        Complain(source->path + " is in " + folder.path + " already");
        return kExitFailed;
      }
      item = Outgoing{Utf16(source->path), source->file.name, source->file.size, source->path};
    } else {
      std::error_code ec;
      const fs::path local = fs::absolute(PcPath(args[i]), ec).lexically_normal();
      if (ec || !fs::exists(local, ec)) {
        Complain("no such file on the PC: " + args[i]);
        return kExitNotFound;
      }
      if (fs::is_directory(local, ec)) {
        if (!s.options.recursive) {
          Complain(args[i] + " is a folder; use put -R to send it with its contents");
          return kExitUsage;
        }
        const fs::path dir = local.has_filename() ? local : local.parent_path();
        KivText wide;
        if (!PcName(dir.filename().string(), wide)) return kExitUsage;
        if (!CollectLocal(dir, {Utf8(wide.c_str())}, trees)) return kExitUsage;
        continue;
      }
      if (!fs::is_regular_file(local, ec)) {
        Complain(args[i] + " is not a file; put sends files and (with -R) folders");
        return kExitUsage;
      }
      if (!LocalFile(local, args[i], item)) return kExitUsage;
    }
    if (std::string why = Refused(folder, item); !why.empty()) {
      Complain(why);
      return kExitFailed;
    }
    files.push_back(std::move(item));
  }
  if (Cancelled()) return kExitCancelled;
  // An answer "a" (replace all) holds for the folders that follow too.
  s.host.overwrite = s.options.overwrite;
  int result = files.empty() ? kExitOk : SendInto(s, folder, files);
  if (result == kExitCancelled) return result;
  // Folder trees: each phone folder made when missing (parents first), then its files.
  std::set<std::string> failed;  // phone folders not made: nothing goes below them
  for (const OutgoingFolder& group : trees) {
    if (Cancelled()) return kExitCancelled;
    std::string path = folder.path;
    for (const std::string& name : group.below) path = Join(path, name);
    if (failed.count(ParentOf(path))) {
      failed.insert(path);
      continue;
    }
    auto made = MakeFolder(s, path);
    if (!made) {
      failed.insert(path);
      result = kExitFailed;
      continue;
    }
    std::vector<Outgoing> accepted;
    for (const Outgoing& item : group.files) {
      if (std::string why = Refused(*made, item); !why.empty()) {
        Complain(why + "; it is left out");
        result = kExitFailed;
      } else {
        accepted.push_back(item);
      }
    }
    if (accepted.empty()) continue;
    if (!(made->attributes & KIV_FOLDER_WRITABLE)) {
      Complain("folder " + made->path + " is not writable");
      result = kExitFailed;
      continue;
    }
    const int code = SendInto(s, *made, accepted);
    if (code == kExitCancelled) return code;
    if (code != kExitOk) result = code;
  }
  // --move leaves the PC folders that it emptied behind otherwise.
  if (s.options.move && result == kExitOk)
    for (auto it = trees.rbegin(); it != trees.rend(); ++it) {
      std::error_code ec;
      fs::remove(it->local, ec);
    }
  return result;
}

int Resume(Session& s) {
  s.host.Reset();
  s.host.resumeAnswer = s.options.restart   ? KIV_ANSWER_RESUME_RESTART
                        : s.options.discard ? KIV_ANSWER_RESUME_DISCARD
                                            : KIV_ANSWER_RESUME_CONTINUE;
  s.host.BeginTransfer("put", {}, "");
  int32_t sent = Kiv_ResumfileDownLoad(s.host.Window());
  const bool ok = (sent == 1 || s.options.discard) && s.host.reports == 0;
  s.host.EndTransfer(ok && sent == 1);
  if (ok) {
    if (s.options.discard && !Quiet()) std::fprintf(stderr, "kivmod: the interrupted copy was discarded\n");
    return kExitOk;
  }
  if (Cancelled()) return kExitCancelled;
  if (s.host.reports == 0) Complain("the interrupted copy could not be continued");
  return kExitFailed;
}

}  // namespace cli
