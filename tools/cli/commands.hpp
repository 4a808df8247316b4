// The tool's commands, each run on an open session; they return the tool's exit code. One
// file per family: listing.cpp (info, ls, df), transfer.cpp (get, put, resume), files.cpp
// (rm, mv, mkdir), media.cpp, backup.cpp, java_mail.cpp, detect.cpp; what they share is in
// session.cpp and output.cpp.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host.hpp"
#include "text.hpp"
#include "tree.hpp"

namespace cli {

struct Options {
  LinkOptions link;
  bool json = false;
  bool recursive = false;   // ls, get, rm: -R
  bool longFormat = false;  // ls: -l
  bool move = false;        // put: --move
  bool fromPhone = false;   // put: --from-phone
  bool parents = false;     // mkdir: -p
  bool restart = false;     // resume: --restart
  bool discard = false;     // resume: --discard
  bool force = false;       // rm: -f
  bool replace = false;     // playlist put: --replace
  Overwrite overwrite = Overwrite::Ask;  // --yes, --no-clobber
  std::string password;     // restore: --password
};

struct Session {
  Host& host;
  Tree& tree;
  const Options& options;
};

// The largest size of a file type that sets no limit.
inline constexpr uint32_t kTypeAnySize = 0x7FFFFFFFu;

// A host string list that frees itself.
class StringList {
 public:
  StringList() : list_(Kiv_StringList_New()) {}
  ~StringList() { Kiv_StringList_Free(list_); }
  StringList(const StringList&) = delete;
  StringList& operator=(const StringList&) = delete;
  void Add(const std::string& text);
  void Add(const KivText& text) { Kiv_StringList_Add(list_, text.c_str()); }
  int32_t Count() const { return Kiv_StringList_Count(list_); }
  const KivStringList* get() const { return list_; }

 private:
  KivStringList* list_;
};

// A phone path for messages ("the top level" for the empty one).
std::string Shown(const std::string& phonePath);
// A PC name the library can be given, or false with the message that it cannot.
bool PcName(const std::string& bytes, KivText& out);
// Says that the phone has no such path; kExitNotFound.
int NotFound(const std::string& phonePath);
// Resolves a typed phone path; nullopt (with the message printed and code set) when it
// names nothing or its folder cannot be listed.
std::optional<Tree::Entry> Lookup(Session& s, const std::string& typed, int& code);
// Whether a typed path holds a pattern (*, ? or [).
bool HasPattern(const std::string& typed);
// The entries a typed path names, its patterns matched against the phone's listing; nullopt
// (message printed, code set) when nothing is found (with missingOk: an empty list) or a
// folder cannot be listed.
std::optional<std::vector<Tree::Entry>> Expand(Session& s, const std::string& typed, int& code, bool missingOk = false);
// True (and said) when a PC folder of the current folder has the phone path's relative path:
// the library would take that folder for the phone entry.
bool ShadowedByPcFolder(const std::string& phonePath);
// The phone folder at path, made when missing; nullopt (message printed) when it cannot be.
std::optional<PhoneFolder> MakeFolder(Session& s, const std::string& path);
// Why a copy to the phone failed, from Kiv_SendToPhone's result.
std::string SendFailure(int32_t result);

int Info(Session& s);
int Ls(Session& s, const std::vector<std::string>& args);
int Get(Session& s, const std::vector<std::string>& args);
int Put(Session& s, const std::vector<std::string>& args);
int Rm(Session& s, const std::vector<std::string>& args);
int Mv(Session& s, const std::vector<std::string>& args);
int Mkdir(Session& s, const std::vector<std::string>& args);
int Df(Session& s, const std::vector<std::string>& args);
int Resume(Session& s);

}  // namespace cli
