// The tool's music commands: playlists (ls, show, get, put, mv, rm) and the sound list with
// its tags.
#include "media.hpp"


#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "system.hpp"
#include "text.hpp"

namespace fs = std::filesystem;

namespace cli {
namespace {

std::vector<std::string> PlaylistNames(bool& ok) {
  KivStringList* list = Kiv_StringList_New();
  ok = Kiv_GetPlayList(0, 0, 0, list) == 1;
  std::vector<std::string> names;
  for (int32_t i = 0; i < Kiv_StringList_Count(list); ++i) names.push_back(Utf8(Kiv_StringList_At(list, i)));
  Kiv_StringList_Free(list);
  return names;
}

// 1 when the phone has the playlist, 0 when not, -1 when it cannot tell.
int Exists(const std::string& name) {
  bool ok = false;
  auto names = PlaylistNames(ok);
  if (!ok) return -1;
  return std::find(names.begin(), names.end(), name) != names.end() ? 1 : 0;
}

int Failed(const std::string& what) {
  Complain(what);
  return Cancelled() ? kExitCancelled : kExitFailed;
}

int NoPlaylist(const std::string& name) {
  Complain("no such playlist on the phone: " + name);
  return kExitNotFound;
}

// A missing playlist gives its own exit code; anything else is a failure.
int Check(const std::string& name, const std::string& what) {
  if (Exists(name) == 0) return NoPlaylist(name);
  return Failed(what);
}

int Ls(const Session& s) {
  bool ok = false;
  auto names = PlaylistNames(ok);
  if (!ok) return Failed("cannot read the playlist names");
  if (s.options.json) {
    std::printf("%s\n", Dump(JsonValue(names)).c_str());
  } else {
    for (const auto& n : names) std::printf("%s\n", n.c_str());
  }
  return kExitOk;
}

// The PC file name as the library takes it; false (with the message) when it is not text.
bool PcFile(const std::string& file, KivText& out) {
  if (PcNameToUtf16(file, out)) return true;
  Complain("the PC name " + Printable(file) + " is not valid text in the locale's character set; rename it");
  return false;
}

int Get(const std::string& name, const std::string& file) {
  KivText path;
  if (!PcFile(file, path)) return kExitUsage;
  if (!Kiv_GetPlayListContents(path.c_str(), Utf16(name).c_str(), nullptr))
    return Check(name, "cannot read playlist " + name + " (" + file + " holds what arrived)");
  return kExitOk;
}

int Show(const Session& s, const std::string& name) {
  std::error_code ec;
  const fs::path folder = MakeUniqueFolder(fs::temp_directory_path(ec), "kivmod-playlist-");
  if (folder.empty()) return Failed("cannot make a temporary file");
  const fs::path temp = folder / "playlist";
  int result = Get(name, temp.string());
  std::ifstream in(temp, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), {});
  in.close();
  fs::remove_all(folder, ec);
  if (result != kExitOk) return result;
  std::vector<std::string> songs;
  for (std::size_t pos = 0; pos < text.size();) {
    std::size_t end = std::min(text.find(':', pos), text.size());
    if (end > pos) songs.push_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  if (s.options.json) {
    std::printf("%s\n", Dump(JsonValue{{"name", name}, {"songs", songs}}).c_str());
  } else {
    for (const auto& song : songs) std::printf("%s\n", song.c_str());
  }
  return kExitOk;
}

int Put(Session& s, const std::string& name, const std::string& file) {
  std::error_code ec;
  const auto size = fs::file_size(PcPath(file), ec);
  if (ec) {
    Complain("cannot read " + file);
    return kExitNotFound;
  }
  const int exists = Exists(name);
  if (exists < 0) return Failed("cannot read the playlist names");
  if (exists && !s.options.replace) {
    Complain("playlist " + name + " exists on the phone; --replace replaces its content");
    return kExitFailed;
  }
  KivText path;
  if (!PcFile(file, path)) return kExitUsage;
  const auto phoneName = Utf16(name);
  s.host.BeginTransfer("put", {{name, static_cast<int64_t>(size)}}, "");
  const int32_t ok = exists ? Kiv_EditPlaylist(path.c_str(), phoneName.c_str(), s.host.Window())
                            : Kiv_AddPlaylist(path.c_str(), phoneName.c_str(), s.host.Window());
  s.host.EndTransfer(ok == 1);
  if (!ok) return Failed("cannot send playlist " + name + " (the file must be UTF-8, songs separated by \":\")");
  return kExitOk;
}

}  // namespace

int Playlist(Session& s, const std::vector<std::string>& args) {
  const std::string& verb = args[0];
  auto need = [&](std::size_t n) {
    if (args.size() == n + 1) return true;
    Complain("playlist " + verb + " takes " + std::to_string(n) + " argument" + (n == 1 ? "" : "s"));
    return false;
  };
  if (verb == "ls") return need(0) ? Ls(s) : kExitUsage;
  if (verb == "show") return need(1) ? Show(s, args[1]) : kExitUsage;
  if (verb == "get") return need(2) ? Get(args[1], args[2]) : kExitUsage;
  if (verb == "put") return need(2) ? Put(s, args[1], args[2]) : kExitUsage;
  if (verb == "mv") {
    if (!need(2)) return kExitUsage;
    if (!Kiv_RenamePlaylist(Utf16(args[1]).c_str(), Utf16(args[2]).c_str()))
      return Check(args[1], "cannot rename playlist " + args[1] + " to " + args[2]);
    return kExitOk;
  }
  if (verb == "rm") {
    if (!need(1)) return kExitUsage;
    if (!Kiv_DeletePlaylist(Utf16(args[1]).c_str())) return Check(args[1], "cannot delete playlist " + args[1]);
    return kExitOk;
  }
  Complain("unknown playlist command " + verb + " (ls, show, get, put, mv, rm)");
  return kExitUsage;
}

int Sounds(Session& s, const std::vector<std::string>& args) {
  const std::string under = args.empty() ? "" : PhonePath(args[0]);
  // The library lists a sound only under a folder it knows: open every top-level folder.
  for (const auto& top : s.tree.List("").folders)
    if ((under.empty() || SameNoCase(Components(under)[0], top.name)) && !s.tree.OpenTopOf(top.path))
      return Failed("cannot list folder " + top.path);
  s.host.Reset();
  if (!Kiv_GetAllSoundFiles(s.host.Window())) return Failed("cannot read the phone's sound list");
  struct Row {
    std::string performer, title, album, genre, path;
    int32_t duration = 0;
  };
  std::vector<Row> rows;
  std::vector<std::string> folders{""};
  KivString* text[4] = {Kiv_String_New(), Kiv_String_New(), Kiv_String_New(), Kiv_String_New()};
  while (!folders.empty()) {
    const std::string folder = folders.back();
    folders.pop_back();
    Listing listing = s.tree.List(folder);
    for (auto it = listing.folders.rbegin(); it != listing.folders.rend(); ++it) folders.push_back(it->path);
    if (!under.empty() && !SameNoCase(folder, under) && !SameNoCase(folder.substr(0, under.size() + 1), under + "\\"))
      continue;
    for (const auto& f : listing.files) {
      Row r;
      if (!Kiv_GetSoundFileTag(Utf16(f.folder).c_str(), Utf16(f.name).c_str(), text[0], text[1], text[2], text[3],
                               &r.duration))
        continue;
      r.performer = Utf8(Kiv_String_Get(text[0]));
      r.title = Utf8(Kiv_String_Get(text[1]));
      r.album = Utf8(Kiv_String_Get(text[2]));
      r.genre = Utf8(Kiv_String_Get(text[3]));
      r.path = f.Path();
      rows.push_back(std::move(r));
    }
  }
  for (auto* t : text) Kiv_String_Free(t);

  if (s.options.json) {
    JsonValue out = JsonValue::array();
    for (const Row& r : rows)
      out.push_back({{"performer", r.performer}, {"title", r.title}, {"album", r.album}, {"duration", r.duration},
                     {"genre", r.genre}, {"path", r.path}});
    std::printf("%s\n", Dump(out).c_str());
    return kExitOk;
  }
  // Columns as wide as their widest text, in terminal columns.
  auto width = [](const std::string& t) { return DisplayWidth(t); };
  const char* head[] = {"PERFORMER", "TITLE", "ALBUM", "TIME", "GENRE", "PATH"};
  std::vector<std::vector<std::string>> table{{head, head + 6}};
  for (const Row& r : rows) table.push_back({r.performer, r.title, r.album, Duration(r.duration), r.genre, r.path});
  std::vector<std::size_t> widths(6, 0);
  for (const auto& line : table)
    for (std::size_t c = 0; c < 6; ++c) widths[c] = std::max(widths[c], width(line[c]));
  for (const auto& line : table) {
    std::string out;
    for (std::size_t c = 0; c < 6; ++c) {
      out += line[c];
      if (c + 1 < 6) out += std::string(widths[c] - width(line[c]) + 2, ' ');
    }
    std::printf("%s\n", out.c_str());
  }
  return kExitOk;
}

}  // namespace cli
