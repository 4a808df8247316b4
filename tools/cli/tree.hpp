// The phone's folder tree as the tool sees it: copies of the library's records, and typed
// paths resolved against them (opening the top-level folder that holds them first).
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "kivmod/kivmod.h"

namespace cli {

struct PhoneFolder {
  std::string path;  // "\" between components
  std::string name;
  uint32_t attributes = 0;
  int64_t freeSize = -1;
  std::vector<std::string> types;  // accepted extensions; empty accepts all
};

struct PhoneFile {
  std::string folder;
  std::string name;
  int64_t size = 0;
  uint32_t time1 = 0;
  uint32_t attributes = 0;
  std::string Path() const;
};

struct Listing {
  std::vector<PhoneFolder> folders;
  std::vector<PhoneFile> files;
};

// Readable words for attribute bits ("read-only", "hidden", ...).
std::vector<std::string> FolderFlags(uint32_t attributes);
std::vector<std::string> FileFlags(uint32_t attributes);

class Tree {
 public:
  explicit Tree(KivHwnd window) : window_(window) {}

  enum class Kind { Top, Folder, File, Missing, Unreadable };
  struct Entry {
    Kind kind = Kind::Missing;
    std::string path;  // as the phone spells it
    PhoneFolder folder;
    PhoneFile file;
  };

  // What a typed path names. Components match exactly, else without regard to case.
  Entry Resolve(const std::string& typed);
  // The folder's direct files and subfolders ("" is the top level: folders only).
  Listing List(const std::string& folder) const;
  // Lists the top-level folder that holds path, once; false when the phone cannot.
  bool OpenTopOf(const std::string& path);
  // Forgets which folders were opened (after the tree changed under them).
  void Forget() { opened_.clear(); }

 private:
  KivHwnd window_;
  std::set<std::string> opened_;
};

}  // namespace cli
