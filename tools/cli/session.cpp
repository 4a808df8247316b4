// What the commands share: typed phone paths resolved (patterns too) and PC names checked.
#include "commands.hpp"

#include <algorithm>
#include <filesystem>

#include "system.hpp"
#include "text.hpp"

namespace fs = std::filesystem;

namespace cli {

void StringList::Add(const std::string& text) { Kiv_StringList_Add(list_, Utf16(text).c_str()); }

std::string Shown(const std::string& phonePath) { return phonePath.empty() ? "the top level" : phonePath; }

// A PC name the library can be given, or the message that it cannot.
bool PcName(const std::string& bytes, KivText& out) {
  if (PcNameToUtf16(bytes, out)) return true;
  Complain("the PC name " + Printable(bytes) + " is not valid text in the locale's character set (" +
           PcCharset() + "); rename it or run kivmod in a locale that spells it");
  return false;
}

int NotFound(const std::string& phonePath) {
  Complain("no such file or folder on the phone: " + phonePath);
  return kExitNotFound;
}

// Resolves a typed phone path; nullopt (with the message printed and code set) when it
// names nothing or its folder cannot be listed.
std::optional<Tree::Entry> Lookup(Session& s, const std::string& typed, int& code) {
  s.host.Reset();
  Tree::Entry e = s.tree.Resolve(typed);
  if (e.kind == Tree::Kind::Missing) {
    code = NotFound(e.path);
    return std::nullopt;
  }
  if (e.kind == Tree::Kind::Unreadable) {
    if (s.host.reports == 0) Complain("cannot list folder " + e.path);
    code = Cancelled() ? kExitCancelled : kExitFailed;
    return std::nullopt;
  }
  return e;
}

bool HasPattern(const std::string& typed) { return typed.find_first_of("*?[") != std::string::npos; }

// The entries a typed path names. A component with *, ? or [...] is matched against the
// listing as the shell matches file names (a leading dot only explicitly), exactly, else
// without regard to case when nothing matches exactly; a pattern that matches nothing is
// taken as a plain name. nullopt (message printed, code set) when nothing is found (unless
// missingOk: then an empty list) or a folder cannot be listed.
std::optional<std::vector<Tree::Entry>> Expand(Session& s, const std::string& typed, int& code, bool missingOk) {
  if (!HasPattern(typed)) {
    s.host.Reset();
    Tree::Entry e = s.tree.Resolve(typed);
    if (e.kind == Tree::Kind::Missing && missingOk) return std::vector<Tree::Entry>{};
    auto found = Lookup(s, typed, code);
    if (!found) return std::nullopt;
    return std::vector<Tree::Entry>{*found};
  }
  const std::vector<std::string> parts = Components(PhonePath(typed));
  std::vector<Tree::Entry> level(1);
  level.front().kind = Tree::Kind::Top;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const bool last = i + 1 == parts.size();
    std::vector<Tree::Entry> next;
    for (const Tree::Entry& at : level) {
      if (at.kind != Tree::Kind::Top && at.kind != Tree::Kind::Folder) continue;
      s.host.Reset();
      if (!s.tree.OpenTopOf(at.path)) {
        if (s.host.reports == 0) Complain("cannot list folder " + at.path);
        code = Cancelled() ? kExitCancelled : kExitFailed;
        return std::nullopt;
      }
      const Listing l = s.tree.List(at.path);
      for (bool fold : {false, true}) {
        const std::size_t before = next.size();
        auto matches = [&](const std::string& name) { return MatchName(parts[i], name, fold); };
        for (const PhoneFolder& f : l.folders)
          if (matches(f.name)) next.push_back(Tree::Entry{Tree::Kind::Folder, f.path, f, {}});
        if (last)
          for (const PhoneFile& f : l.files)
            if (matches(f.name)) next.push_back(Tree::Entry{Tree::Kind::File, f.Path(), {}, f});
        if (next.size() > before) break;
      }
    }
    level = std::move(next);
  }
  if (!level.empty()) return level;
  // A name that holds such characters itself.
  s.host.Reset();
  Tree::Entry e = s.tree.Resolve(typed);
  if (e.kind == Tree::Kind::File || e.kind == Tree::Kind::Folder) return std::vector<Tree::Entry>{e};
  if (missingOk) return std::vector<Tree::Entry>{};
  Complain("nothing on the phone matches " + PhonePath(typed));
  code = kExitNotFound;
  return std::nullopt;
}

// The library reads an entry of a copy or delete list as a PC folder when a folder of the PC
// has the same (relative) path, and then works on that PC folder's contents instead.
bool ShadowedByPcFolder(const std::string& phonePath) {
  std::string local = phonePath;
  std::replace(local.begin(), local.end(), '\\', '/');
  std::error_code ec;
  if (!fs::is_directory(PcPath(local), ec)) return false;
  Complain("the PC folder ./" + local + " has the path of " + phonePath +
           " and would be taken for it; run kivmod from another folder");
  return true;
}

}  // namespace cli
