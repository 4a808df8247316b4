// The commands that read the phone's tree: info, ls, df.
#include <algorithm>
#include <cstdio>

#include "commands.hpp"
#include "output.hpp"
#include "text.hpp"

namespace cli {
namespace {

// The folders and files of a listing (with -R each folder holds its own).
void AddListing(Session& s, const Listing& l, bool recursive, JsonValue& out) {
  out["folders"] = JsonValue::array();
  for (const PhoneFolder& f : l.folders) {
    JsonValue folder{{"name", f.name}, {"path", f.path}, {"attributes", f.attributes}, {"flags", FolderFlags(f.attributes)}};
    if (recursive) AddListing(s, s.tree.List(f.path), true, folder);
    out["folders"].push_back(std::move(folder));
  }
  out["files"] = JsonValue::array();
  for (const PhoneFile& f : l.files) out["files"].push_back(FileJson(f));
}

void PrintRecursive(Session& s, const std::string& path, bool first) {
  Listing l = s.tree.List(path);
  std::printf("%s%s:\n", first ? "" : "\n", path.empty() ? "(top level)" : Escaped(path).c_str());
  PrintListing(l, s.options.longFormat);
  for (const PhoneFolder& f : l.folders) PrintRecursive(s, f.path, false);
}

struct Space {
  std::string path;
  int64_t total = 0;
  int64_t free = 0;
};

}  // namespace

int Info(Session& s) {
  KivChar model[256] = {};
  Kiv_GetModelName(model);
  KivChar card[4096] = {};
  Kiv_GetExtraMemoryName(card);
  const KivTypeArray* types = Kiv_GetSupportFileExt();
  Listing top = s.tree.List("");
  if (s.options.json) {
    JsonValue out{{"model", Utf8(model)}, {"version", Kiv_GetFileManVersion()}, {"card", Utf8(card)}};
    out["types"] = JsonValue::array();
    for (int i = 0; i < types->count; ++i)
      out["types"].push_back({{"ext", Utf8(types->entries[i].name)},
                              {"maxSize", types->entries[i].maxSize},
                              {"rules", types->entries[i].rules}});
    out["folders"] = JsonValue::array();
    for (const PhoneFolder& f : top.folders) out["folders"].push_back(FolderJson(f));
    std::printf("%s\n", Dump(out).c_str());
    return kExitOk;
  }
  std::printf("Model:            %s\n", Utf8(model).c_str());
  std::printf("Protocol version: %d\n", Kiv_GetFileManVersion());
  std::printf("Memory card:      %s\n", card[0] ? Utf8(card).c_str() : "(none)");
  std::printf("File types:\n");
  for (int i = 0; i < types->count; ++i) {
    const KivTypeEntry& t = types->entries[i];
    std::string size = t.maxSize == 0 || t.maxSize == kTypeAnySize ? "any size" : "up to " + std::to_string(t.maxSize) + " bytes";
    std::string ways = std::string((t.rules & 1) ? "to PC" : "") + ((t.rules & 3) == 3 ? ", " : "") + ((t.rules & 2) ? "to phone" : "");
    std::printf("  %-6s %-18s %s\n", Utf8(t.name).c_str(), size.c_str(), ways.empty() ? "no copies" : ways.c_str());
  }
  std::printf("Top-level folders:\n");
  for (const PhoneFolder& f : top.folders) {
    std::string flags = Joined(FolderFlags(f.attributes));
    std::printf("  %s/%s%s\n", f.path.c_str(), flags.empty() ? "" : "  ", flags.c_str());
  }
  return kExitOk;
}

int Ls(Session& s, const std::vector<std::string>& args) {
  int code = kExitOk;
  auto entry = Lookup(s, args.empty() ? std::string() : args[0], code);
  if (!entry) return code;
  const bool recursive = s.options.recursive;
  // Recursion from the top level reads every top-level folder.
  if (recursive && entry->kind == Tree::Kind::Top) {
    for (const PhoneFolder& f : s.tree.List("").folders) {
      if (Cancelled()) return kExitCancelled;
      if (!s.tree.OpenTopOf(f.path)) {
        if (s.host.reports == 0) Complain("cannot list folder " + f.path);
        code = kExitFailed;
      }
    }
  }
  if (Cancelled()) return kExitCancelled;
  if (entry->kind == Tree::Kind::File) {
    if (s.options.json)
      std::printf("%s\n", Dump({{"path", entry->path},
                                 {"folders", JsonValue::array()},
                                 {"files", JsonValue::array({FileJson(entry->file)})}})
                               .c_str());
    else
      PrintFileLine(entry->file, s.options.longFormat);
    return code;
  }
  if (s.options.json) {
    JsonValue out{{"path", entry->path}};
    AddListing(s, s.tree.List(entry->path), recursive, out);
    std::printf("%s\n", Dump(out).c_str());
  } else if (recursive) {
    PrintRecursive(s, entry->path, true);
  } else {
    PrintListing(s.tree.List(entry->path), s.options.longFormat);
  }
  return code;
}

int Df(Session& s, const std::vector<std::string>& args) {
  std::vector<std::string> folders;
  if (args.empty()) {
    for (const PhoneFolder& f : s.tree.List("").folders) folders.push_back(f.path);
  }
  for (const std::string& arg : args) {
    int code = kExitOk;
    auto entry = Lookup(s, arg, code);
    if (!entry) return code;
    if (entry->kind == Tree::Kind::Top) {
      for (const PhoneFolder& f : s.tree.List("").folders) folders.push_back(f.path);
    } else if (entry->kind == Tree::Kind::File) {
      folders.push_back(entry->file.folder);
    } else {
      folders.push_back(entry->path);
    }
  }
  std::vector<Space> rows;
  int code = kExitOk;
  for (const std::string& path : folders) {
    if (Cancelled()) return kExitCancelled;
    s.host.Reset();
    const KivText wide = Utf16(path);
    Space row{path, Kiv_GetTotalSpace(wide.c_str(), s.host.Window()), Kiv_UpdateFreeSize(wide.c_str(), s.host.Window())};
    if (s.host.reports != 0 || row.total <= 0) {
      if (s.host.reports == 0) Complain("cannot read the space of " + path);
      code = kExitFailed;
      continue;
    }
    rows.push_back(row);
  }
  if (s.options.json) {
    JsonValue out = JsonValue::array();
    for (const Space& r : rows)
      out.push_back({{"path", r.path}, {"total", r.total}, {"free", r.free}, {"used", r.total - r.free}});
    std::printf("%s\n", Dump(out).c_str());
    return code;
  }
  std::size_t width = 6;
  for (const Space& r : rows) width = std::max(width, DisplayWidth(r.path));
  if (!rows.empty()) std::printf("%-*s  %8s  %8s  %8s  %4s\n", static_cast<int>(width), "Folder", "Size", "Used", "Free", "Use%");
  for (const Space& r : rows) {
    int64_t used = r.total - r.free;
    int percent = r.total > 0 ? static_cast<int>((used * 100 + r.total - 1) / r.total) : 0;
    // Padded by display width: a name's bytes are not its columns.
    std::printf("%s%s  %8s  %8s  %8s  %3d%%\n", r.path.c_str(), std::string(width - DisplayWidth(r.path), ' ').c_str(),
                HumanSize(r.total).c_str(),
                HumanSize(used).c_str(), HumanSize(r.free).c_str(), percent);
  }
  return code;
}

}  // namespace cli
