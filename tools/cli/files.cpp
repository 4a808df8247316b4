// The commands that change the phone's tree: rm, mv (rename), mkdir.
#include <optional>
#include <string>

#include "commands.hpp"
#include "text.hpp"

namespace cli {
namespace {

// The contents of a folder before the folder, as the phone wants them deleted.
void CollectForDelete(Session& s, const std::string& folder, StringList& paths, StringList& kinds) {
  Listing l = s.tree.List(folder);
  for (const PhoneFolder& sub : l.folders) CollectForDelete(s, sub.path, paths, kinds);
  for (const PhoneFile& f : l.files) {
    paths.Add(f.Path());
    kinds.Add("0");
  }
  paths.Add(folder);
  kinds.Add("1");
}

}  // namespace

// The phone folder at path, made when missing; nullopt (message printed) when it cannot be.
std::optional<PhoneFolder> MakeFolder(Session& s, const std::string& path) {
  s.host.Reset();
  Tree::Entry e = s.tree.Resolve(path);
  if (e.kind == Tree::Kind::Missing) {
    if (!CreatePhoneDirectory(Utf16(path).c_str(), s.host.Window())) {
      if (s.host.reports == 0) Complain("cannot make folder " + path + " (a name, path or depth over the phone's limits?)");
      return std::nullopt;
    }
    e = s.tree.Resolve(path);
  }
  if (e.kind == Tree::Kind::Folder) return e.folder;
  if (e.kind == Tree::Kind::File)
    Complain(e.path + " is a file on the phone; the PC folder of that name is left out");
  else if (s.host.reports == 0)
    Complain("cannot list folder " + e.path);
  return std::nullopt;
}

int Rm(Session& s, const std::vector<std::string>& args) {
  StringList paths, kinds;
  std::vector<std::string> asked;
  // A missing name is reported (not with -f) and the others are still deleted.
  int missing = kExitOk;
  for (const std::string& arg : args) {
    int code = kExitOk;
    auto entries = Expand(s, arg, code, true);
    if (!entries) return code;
    if (entries->empty() && !s.options.force) {
      Complain(HasPattern(arg) ? "nothing on the phone matches " + PhonePath(arg)
                               : "no such file or folder on the phone: " + PhonePath(arg));
      missing = kExitNotFound;
    }
    for (const Tree::Entry& entry : *entries) {
      if (entry.kind == Tree::Kind::Top) {
        Complain("the top level of the phone cannot be deleted");
        return kExitUsage;
      }
      if (entry.kind == Tree::Kind::File) {
        paths.Add(entry.path);
        kinds.Add("0");
      } else if (!s.options.recursive) {
        Complain(entry.path + " is a folder; use rm -r to delete it with its contents");
        return kExitUsage;
      } else {
        CollectForDelete(s, entry.path, paths, kinds);
      }
      asked.push_back(entry.path);
    }
  }
  if (paths.Count() == 0) return missing;
  for (int32_t i = 0; i < paths.Count(); ++i)
    if (ShadowedByPcFolder(Utf8(Kiv_StringList_At(paths.get(), i)))) return kExitFailed;
  if (Cancelled()) return kExitCancelled;
  s.host.Reset();
  Kiv_DeletePhoneFile(paths.get(), s.host.Window(), kinds.get());
  const int reports = s.host.reports;
  const bool cancelled = s.host.cancelledMessage;
  // Whatever the walk's count says, an entry is deleted when the tree no longer holds it.
  int code = kExitOk;
  for (const std::string& path : asked) {
    if (s.tree.Resolve(path).kind == Tree::Kind::Missing) continue;
    if (reports == 0 && !cancelled && !Cancelled()) Complain(path + " was not deleted");
    code = kExitFailed;
  }
  if (code != kExitOk && (cancelled || Cancelled())) return kExitCancelled;
  return code != kExitOk ? code : missing;
}

int Mv(Session& s, const std::vector<std::string>& args) {
  int code = kExitOk;
  auto from = Lookup(s, args[0], code);
  if (!from) return code;
  if (from->kind == Tree::Kind::Top) {
    Complain("the top level of the phone cannot be renamed");
    return kExitUsage;
  }
  const bool isFolder = from->kind == Tree::Kind::Folder;
  const std::string fromParent = ParentOf(from->path);
  const std::string fromName = LastComponent(from->path);

  std::string toFolder, toName;
  Tree::Entry to = s.tree.Resolve(args[1]);
  if (to.kind == Tree::Kind::Unreadable) {
    if (s.host.reports == 0) Complain("cannot list folder " + to.path);
    return kExitFailed;
  }
  if (to.kind == Tree::Kind::Folder || to.kind == Tree::Kind::Top) {
    toFolder = to.path;  // into that folder, keeping the name
    toName = fromName;
  } else if (to.kind == Tree::Kind::File) {
    if (to.path == from->path) return kExitOk;
    Complain(to.path + " exists already");
    return kExitFailed;
  } else if (Components(args[1]).size() == 1) {
    toFolder = fromParent;  // a bare name renames in place
    toName = Components(args[1]).front();
  } else {
    const std::string typed = PhonePath(args[1]);
    auto parent = Lookup(s, ParentOf(typed), code);
    if (!parent) return code;
    if (parent->kind != Tree::Kind::Folder) {
      Complain(Shown(parent->path) + " is not a folder");
      return kExitFailed;
    }
    toFolder = parent->path;
    toName = LastComponent(typed);
  }

  if (isFolder) {
    if (!SameNoCase(toFolder, fromParent)) {
      Complain("folders can only be renamed where they are; " + from->path + " stays in " + Shown(fromParent));
      return kExitFailed;
    }
    if (!(from->folder.attributes & KIV_FOLDER_RENAMABLE)) {
      Complain("the phone does not let folder " + from->path + " be renamed");
      return kExitFailed;
    }
  } else if (!SameNoCase(toFolder, fromParent)) {
    if (toFolder.empty()) {
      Complain("files cannot be moved to the top level of the phone");
      return kExitFailed;
    }
    // Another folder: the phone moves the file there, then it is renamed if asked.
    if (s.tree.Resolve(Join(toFolder, fromName)).kind != Tree::Kind::Missing) {
      Complain(Join(toFolder, fromName) + " exists already");
      return kExitFailed;
    }
    StringList list;
    list.Add(from->path);
    s.host.Reset();
    s.host.overwrite = Overwrite::None;
    int32_t moved = Kiv_SendToPhone(list.get(), Utf16(toFolder).c_str(), 1, 1, s.host.Window());
    if (moved != 1 || s.host.reports != 0) {
      if (Cancelled() || s.host.cancelledMessage) return kExitCancelled;
      if (s.host.reports == 0) Complain("cannot move " + from->path + " to " + toFolder + ": " + SendFailure(moved));
      return kExitFailed;
    }
  }
  if (toName == fromName) return kExitOk;
  const std::string current = Join(toFolder, fromName);
  const std::string renamed = Join(toFolder, toName);
  s.host.Reset();
  if (Kiv_RenamePhoneFile(Utf16(current).c_str(), Utf16(renamed).c_str(), s.host.Window(), isFolder ? 1 : 0))
    return kExitOk;
  if (s.host.reports == 0) Complain("cannot rename " + current + " to " + toName + " (a name or path over the phone's limits?)");
  return kExitFailed;
}

int Mkdir(Session& s, const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    const std::string typed = PhonePath(arg);
    if (typed.empty()) {
      Complain("name the folder to make");
      return kExitUsage;
    }
    std::vector<std::string> parts = Components(typed);
    // The folders that exist already, then those to make.
    std::string made;
    std::size_t i = 0;
    for (; i < parts.size(); ++i) {
      s.host.Reset();
      Tree::Entry e = s.tree.Resolve(Join(made, parts[i]));
      if (e.kind == Tree::Kind::Unreadable) {
        if (s.host.reports == 0) Complain("cannot list folder " + e.path);
        return kExitFailed;
      }
      if (e.kind == Tree::Kind::Missing) break;
      if (e.kind == Tree::Kind::File) {
        Complain(e.path + " is a file");
        return kExitFailed;
      }
      made = e.path;
    }
    if (i == parts.size()) {
      if (s.options.parents) continue;
      Complain(made + " exists already");
      return kExitFailed;
    }
    if (i + 1 < parts.size() && !s.options.parents) {
      Complain("no such folder on the phone: " + Join(made, parts[i]) + " (mkdir -p makes it)");
      return kExitNotFound;
    }
    for (; i < parts.size(); ++i) {
      if (Cancelled()) return kExitCancelled;
      const std::string path = Join(made, parts[i]);
      s.host.Reset();
      if (!CreatePhoneDirectory(Utf16(path).c_str(), s.host.Window())) {
        if (s.host.reports == 0) Complain("cannot make folder " + path + " (a name, path or depth over the phone's limits?)");
        return kExitFailed;
      }
      made = path;
    }
  }
  return kExitOk;
}

}  // namespace cli
