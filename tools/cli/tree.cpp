#include "tree.hpp"

#include "text.hpp"

namespace cli {

std::string PhoneFile::Path() const { return Join(folder, name); }

std::vector<std::string> FolderFlags(uint32_t a) {
  std::vector<std::string> out;
  if (!(a & KIV_FOLDER_WRITABLE)) out.push_back("read-only");
  if (!(a & KIV_FOLDER_COPY_TO_PC)) out.push_back("no-copy-to-pc");
  if (a & KIV_FOLDER_FIXED) out.push_back("fixed");
  if (a & KIV_FOLDER_RENAMABLE) out.push_back("renamable");
  if (a & KIV_FOLDER_HIDDEN) out.push_back("hidden");
  if (a & KIV_FOLDER_NO_SUBFOLDERS) out.push_back("no-subfolders");
  return out;
}

std::vector<std::string> FileFlags(uint32_t a) {
  std::vector<std::string> out;
  if (a & KIV_FILE_NOT_WRITABLE) out.push_back("read-only");
  if (a & KIV_FILE_HIDDEN) out.push_back("hidden");
  return out;
}

namespace {

PhoneFolder CopyFolder(const KivFolderInfo& f) {
  PhoneFolder out;
  out.path = Utf8(f.folderName);
  out.name = LastComponent(out.path);
  out.attributes = f.attributes;
  out.freeSize = f.freeSize;
  for (int32_t i = 0, n = Kiv_StringList_Count(f.types); i < n; ++i) out.types.push_back(Utf8(Kiv_StringList_At(f.types, i)));
  return out;
}

template <typename T>
const T* Match(const std::vector<T>& items, const std::string& name) {
  for (const T& item : items)
    if (item.name == name) return &item;
  const T* found = nullptr;
  for (const T& item : items) {
    if (!SameNoCase(item.name, name)) continue;
    if (found) return nullptr;  // two names differ only in case: only the exact one will do
    found = &item;
  }
  return found;
}

}  // namespace

Listing Tree::List(const std::string& folder) const {
  Listing out;
  KivFolderInfoList* folders = Kiv_FolderInfoList_New();
  if (folder.empty()) {
    Kiv_GetTopList(Utf16("Root").c_str(), folders);
  } else {
    KivFileInfoList* files = Kiv_FileInfoList_New();
    Kiv_GetList(Utf16(folder).c_str(), files, folders);
    for (int32_t i = 0, n = Kiv_FileInfoList_Count(files); i < n; ++i) {
      const KivFileInfo* f = Kiv_FileInfoList_At(files, i);
      out.files.push_back(PhoneFile{Utf8(f->folder), Utf8(f->name), f->size, f->time1, f->attributes});
    }
    Kiv_FileInfoList_Free(files);
  }
  for (int32_t i = 0, n = Kiv_FolderInfoList_Count(folders); i < n; ++i)
    out.folders.push_back(CopyFolder(*Kiv_FolderInfoList_At(folders, i)));
  Kiv_FolderInfoList_Free(folders);
  return out;
}

bool Tree::OpenTopOf(const std::string& path) {
  std::vector<std::string> parts = Components(path);
  if (parts.empty()) return true;
  const std::string& top = parts.front();
  if (opened_.count(top)) return true;
  // Opening a folder lists everything below it as well.
  if (!Kiv_OpenFolder(Utf16(top).c_str(), window_)) return false;
  opened_.insert(top);
  return true;
}

Tree::Entry Tree::Resolve(const std::string& typed) {
  Entry out;
  std::vector<std::string> parts = Components(typed);
  if (parts.empty()) {
    out.kind = Kind::Top;
    return out;
  }
  const PhoneFolder* top = nullptr;
  Listing level = List("");
  top = Match(level.folders, parts[0]);
  if (!top) {
    out.path = PhonePath(typed);
    return out;
  }
  PhoneFolder current = *top;
  if (!OpenTopOf(current.path)) {
    out.kind = Kind::Unreadable;
    out.path = current.path;
    return out;
  }
  for (std::size_t i = 1; i < parts.size(); ++i) {
    level = List(current.path);
    if (const PhoneFolder* sub = Match(level.folders, parts[i])) {
      current = *sub;
      continue;
    }
    const PhoneFile* file = i + 1 == parts.size() ? Match(level.files, parts[i]) : nullptr;
    if (!file) {
      out.path = PhonePath(typed);
      return out;
    }
    out.kind = Kind::File;
    out.file = *file;
    out.path = file->Path();
    return out;
  }
  out.kind = Kind::Folder;
  out.folder = current;
  out.path = current.path;
  return out;
}

}  // namespace cli
