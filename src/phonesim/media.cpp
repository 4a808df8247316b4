// The simulated phone's music: playlists kept as M3U8 files (UTF-8, one song a line,
// relative to the playlist folder) in a folder of the served tree, so that a user sees and
// edits them on the PC; and the sound list, an XML document of every audio file served
// with the tags TagLib reads from it.
//
// On the wire a song is a phone path with "/" separators; a song on the memory card is
// "mmc1/" and its path below the card (the card is the served folder named like it). A
// playlist sent to the phone may write a card song as "Card/..." too.
#include <taglib/audioproperties.h>
#include <taglib/fileref.h>
#include <taglib/tag.h>
#include <taglib/tpropertymap.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "phonesim/body.hpp"
#include "phonesim/families.hpp"
#include "phonesim/results.hpp"
#include "phonesim/xml_text.hpp"
#include "platform/text.hpp"

namespace phonesim {

namespace fs = std::filesystem;

// What one exchange keeps between its requests; a part continues only in the very next
// request.
struct MediaState {
  // Playlist names (0x18).
  std::vector<std::u16string> names;
  std::size_t namesSent = 0;
  int namesPacket = -1;
  // A playlist's content (0x19).
  std::u16string contentName;
  std::vector<std::u16string> songs;
  std::size_t songsSent = 0;
  int contentPacket = -1;
  // A playlist being received (0x1A, 0x1B).
  uint8_t receiveCode = 0;
  std::u16string receiveName;
  uint32_t receivePiece = 0;
  std::u16string received;
  int receivePacket = -1;
  // The sound list (0x1E prepares it, 0x1F sends it).
  std::u16string soundList;
  std::size_t soundSent = 0;
  bool soundReady = false;
};

namespace {

constexpr uint8_t kInfo = 0x17;
constexpr uint8_t kNames = 0x18;
constexpr uint8_t kContent = 0x19;
constexpr uint8_t kAdd = 0x1A;
constexpr uint8_t kEdit = 0x1B;
constexpr uint8_t kRename = 0x1C;
constexpr uint8_t kDelete = 0x1D;
constexpr uint8_t kPrepareSounds = 0x1E;
constexpr uint8_t kSounds = 0x1F;


constexpr char kExtension[] = ".m3u8";
constexpr char16_t kCardTag[] = u"mmc1";
constexpr char16_t kCardLocal[] = u"Card/";
// Deepest folder the sound list looks into.
constexpr int kMaxSoundDepth = 32;

std::size_t BodyRoom(const Phone& phone) {
  std::size_t packet = std::min<std::size_t>(phone.config().maxPacket, kHeader + kMaxBody);
  return packet > kHeader ? packet - kHeader : 0;
}

MediaState& State(Phone& phone) {
  if (!phone.media) phone.media = std::make_shared<MediaState>();
  return *phone.media;
}

bool HasControl(std::u16string_view text) {
  return std::any_of(text.begin(), text.end(), [](char16_t c) { return c < 0x20 || c == 0x7F; });
}

// A playlist name that stays a file name in the playlist folder.
bool ValidName(const Phone& phone, std::u16string_view name) {
  return !name.empty() && name != u"." && name != u".." && name.size() <= phone.config().internal.fileName &&
         name.find_first_of(u"/\\:") == std::u16string_view::npos && !HasControl(name);
}

fs::path PlaylistFolder(const Phone& phone) { return phone.root() / kiv::U16ToUtf8(phone.config().playlistFolder); }

fs::path PlaylistFile(const Phone& phone, std::u16string_view name) {
  return PlaylistFolder(phone) / (kiv::U16ToUtf8(name) + kExtension);
}

bool IsPlaylistFile(const fs::directory_entry& e) {
  std::error_code ec;
  if (!e.is_regular_file(ec)) return false;
  std::string ext = e.path().extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext == kExtension;
}

std::vector<std::u16string> PlaylistNames(const Phone& phone) {
  std::vector<std::u16string> names;
  std::error_code ec;
  for (fs::directory_iterator it(PlaylistFolder(phone), ec), end; !ec && it != end; it.increment(ec)) {
    if (!IsPlaylistFile(*it)) continue;
    std::u16string name = kiv::Utf8ToU16(it->path().stem().string());
    if (ValidName(phone, name)) names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A song as the phone stores it: a relative path of the served tree without "." or "..".
bool ValidSong(std::u16string_view song) {
  if (song.empty() || song.front() == u'/' || song.find(u'\\') != std::u16string_view::npos || HasControl(song))
    return false;
  for (const auto& part : kiv::SplitAny(song, u"/"))
    if (part == u"." || part == u"..") return false;
  return true;
}

// The wire form of a playlist line, or nothing for a line that is not a song.
std::optional<std::u16string> SongOfLine(const Phone& phone, std::string line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  if (line.empty() || line[0] == '#') return std::nullopt;
  std::u16string text = kiv::ReplaceChar(kiv::Utf8ToU16(line), u'\\', u'/');
  fs::path resolved = (fs::path(kiv::U16ToUtf8(phone.config().playlistFolder)) / kiv::U16ToUtf8(text)).lexically_normal();
  std::u16string song = kiv::Utf8ToU16(resolved.generic_string());
  if (!ValidSong(song) || song.find(u':') != std::u16string::npos) return std::nullopt;
  const Config& c = phone.config();
  if (c.hasCard && !c.cardName.empty() && song.starts_with(c.cardName + u"/"))
    return kCardTag + (u"/" + song.substr(c.cardName.size() + 1));
  return song;
}

std::optional<std::vector<std::u16string>> ReadPlaylist(const Phone& phone, std::u16string_view name) {
  std::ifstream in(PlaylistFile(phone, name), std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<std::u16string> songs;
  std::string line;
  while (std::getline(in, line)) {
    if (songs.empty() && line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
    if (auto song = SongOfLine(phone, line)) songs.push_back(std::move(*song));
  }
  return songs;
}

// The stored form of a received song: card songs under the card's folder.
std::u16string StoredSong(const Phone& phone, std::u16string_view song) {
  const Config& c = phone.config();
  std::u16string_view rest;
  if (song.starts_with(kCardLocal)) {
    rest = song.substr(5);
  } else if (song.size() > 5 && song.starts_with(kCardTag)) {
    rest = song.substr(5);
  } else {
    return std::u16string(song);
  }
  return (c.hasCard ? c.cardName : std::u16string(u"Card")) + u"/" + std::u16string(rest);
}

bool WritePlaylist(const Phone& phone, std::u16string_view name, const std::vector<std::u16string>& songs) {
  std::error_code ec;
  fs::create_directories(PlaylistFolder(phone), ec);
  fs::path target = PlaylistFile(phone, name);
  fs::path temp = target;
  temp += ".part";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << "#EXTM3U\n";
    // Lines are relative to the playlist folder, so that players on the PC find the songs.
    const fs::path folder(kiv::U16ToUtf8(phone.config().playlistFolder));
    for (const auto& song : songs)
      out << fs::path(kiv::U16ToUtf8(StoredSong(phone, song))).lexically_relative(folder).generic_string() << "\n";
    if (!out.flush()) return false;
  }
  fs::rename(temp, target, ec);
  return !ec;
}

std::optional<std::u16string> ReadName(BodyReader& r) {
  std::u16string name;
  if (!r.Text(2, false, name)) return std::nullopt;
  return name;
}

void PutName(BodyWriter& w, std::u16string_view name) {
  w.U16(static_cast<uint16_t>(name.size() + 1));
  w.Text(name);
}

Packet Info(Phone& phone, const Packet& request) {
  std::size_t songs = 0;
  auto names = PlaylistNames(phone);
  for (const auto& n : names)
    if (auto s = ReadPlaylist(phone, n)) songs += s->size();
  Packet answer = phone.Answer(request, kOk);
  BodyWriter w;
  w.U16(static_cast<uint16_t>(std::min<std::size_t>(names.size(), 0xFFFF)));
  w.U16(static_cast<uint16_t>(std::min<std::size_t>(songs, 0xFFFF)));
  auto bytes = w.Take();
  answer.body.insert(answer.body.end(), bytes.begin(), bytes.end());
  return answer;
}

// "ww": the next page of names, as many as the packet holds; position = names sent so far.
Packet Names(Phone& phone, const Packet& request) {
  MediaState& s = State(phone);
  if (s.namesPacket < 0 || s.namesPacket + 1 != phone.packets()) {
    s.names = PlaylistNames(phone);
    s.namesSent = 0;
  }
  const std::size_t room = BodyRoom(phone);
  std::size_t used = 1 + 8 + 2;
  std::u16string text;
  std::size_t i = s.namesSent;
  for (; i < s.names.size(); ++i) {
    const std::size_t add = 2 * s.names[i].size() + (text.empty() ? 0 : 2);
    if (used + add > room) break;
    if (!text.empty()) text.push_back(u':');
    text += s.names[i];
    used += add;
  }
  if (i == s.namesSent && i < s.names.size()) return phone.Answer(request, kBadRequest);
  s.namesSent = i;
  s.namesPacket = s.namesSent < s.names.size() ? phone.packets() : -1;
  Packet answer = phone.Answer(request, kOk);
  BodyWriter w;
  w.U32(static_cast<uint32_t>(std::min<std::size_t>(s.namesSent, 0xFFFF)));
  w.U32(static_cast<uint32_t>(std::min<std::size_t>(s.names.size(), 0xFFFF)));
  w.Text(text);
  auto bytes = w.Take();
  answer.body.insert(answer.body.end(), bytes.begin(), bytes.end());
  return answer;
}

// "x": the next piece of a playlist's songs, whole songs only, result 2 while more follow.
Packet Content(Phone& phone, const Packet& request) {
  BodyReader r(request.body);
  auto name = ReadName(r);
  if (!name || !ValidName(phone, *name)) return phone.Answer(request, kBadRequest);
  MediaState& s = State(phone);
  if (s.contentPacket < 0 || s.contentPacket + 1 != phone.packets() || s.contentName != *name) {
    auto songs = ReadPlaylist(phone, *name);
    if (!songs) return phone.Answer(request, kNoFile);
    s.contentName = *name;
    s.songs = std::move(*songs);
    s.songsSent = 0;
  }
  const std::size_t room = BodyRoom(phone);
  std::size_t used = 1 + (2 * name->size() + 4) + 4 + 2;
  std::u16string text;
  std::size_t i = s.songsSent;
  for (; i < s.songs.size(); ++i) {
    const std::size_t add = 2 * s.songs[i].size() + (i == s.songsSent ? 0 : 2);
    if (used + add > room) break;
    if (i != s.songsSent) text.push_back(u':');
    text += s.songs[i];
    used += add;
  }
  if (i == s.songsSent && i < s.songs.size()) {
    s.contentPacket = -1;
    return phone.Answer(request, kBadRequest);  // one song longer than a packet
  }
  const bool more = i < s.songs.size();
  s.songsSent = i;
  s.contentPacket = more ? phone.packets() : -1;
  Packet answer = phone.Answer(request, more ? kMore : kOk);
  BodyWriter w;
  PutName(w, *name);
  w.U32(static_cast<uint32_t>(s.songs.size()));
  w.Text(text);
  auto bytes = w.Take();
  answer.body.insert(answer.body.end(), bytes.begin(), bytes.end());
  return answer;
}

// "xd" and the piece's text to the end of the body; the last piece (flag 1) ends with a
// line feed and stores the playlist. Add refuses an existing name, edit a missing one.
Packet Receive(Phone& phone, const Packet& request) {
  BodyReader r(request.body);
  auto name = ReadName(r);
  uint32_t piece = 0;
  if (!name || !ValidName(phone, *name) || !r.U32(piece) || r.Remaining() % 2 != 0)
    return phone.Answer(request, kBadRequest);
  MediaState& s = State(phone);
  const bool continues = s.receivePacket >= 0 && s.receivePacket + 1 == phone.packets() &&
                         s.receiveCode == request.code && s.receiveName == *name && piece == s.receivePiece + 1;
  s.receivePacket = -1;
  if (!continues) {
    if (piece != 1) return phone.Answer(request, kBadRequest);
    std::error_code ec;
    const bool exists = fs::exists(PlaylistFile(phone, *name), ec);
    if (request.code == kAdd && exists) return phone.Answer(request, kExists);
    if (request.code == kEdit && !exists) return phone.Answer(request, kNoFile);
    s.receiveCode = request.code;
    s.receiveName = *name;
    s.received.clear();
  }
  s.receivePiece = piece;
  std::span<const uint8_t> rest = r.Rest();
  for (std::size_t i = 0; i + 1 < rest.size(); i += 2) s.received.push_back(static_cast<char16_t>(rest[i] | (rest[i + 1] << 8)));
  if (request.flag != 1) {
    s.receivePacket = phone.packets();
    return phone.Answer(request, kOk);
  }
  if (!s.received.empty() && s.received.back() == u'\n') s.received.pop_back();
  std::vector<std::u16string> songs = kiv::SplitAny(s.received, u":");
  s.received.clear();
  for (auto& song : songs) {
    std::u16string stored = StoredSong(phone, song);
    if (!ValidSong(stored)) return phone.Answer(request, kBadRequest);
  }
  return phone.Answer(request, WritePlaylist(phone, *name, songs) ? kOk : kIoError);
}

// "xx": renames a playlist.
Packet Rename(Phone& phone, const Packet& request) {
  BodyReader r(request.body);
  auto from = ReadName(r);
  auto to = from ? ReadName(r) : std::nullopt;
  if (!from || !to || !ValidName(phone, *from) || !ValidName(phone, *to)) return phone.Answer(request, kBadRequest);
  std::error_code ec;
  fs::path source = PlaylistFile(phone, *from), target = PlaylistFile(phone, *to);
  if (!fs::exists(source, ec)) return phone.Answer(request, kNoFile);
  if (!kiv::EqualsNoCase(*from, *to) && fs::exists(target, ec)) return phone.Answer(request, kExists);
  fs::rename(source, target, ec);
  return phone.Answer(request, ec ? kIoError : kOk);
}

Packet Delete(Phone& phone, const Packet& request) {
  BodyReader r(request.body);
  auto name = ReadName(r);
  if (!name || !ValidName(phone, *name)) return phone.Answer(request, kBadRequest);
  std::error_code ec;
  if (!fs::remove(PlaylistFile(phone, *name), ec)) return phone.Answer(request, ec ? kIoError : kNoFile);
  return phone.Answer(request, kOk);
}

// ---- The sound list ----

bool IsAudio(const fs::path& path) {
  std::string ext = path.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext == ".mp3" || ext == ".ogg" || ext == ".oga" || ext == ".flac" || ext == ".m4a" || ext == ".wav";
}

void AppendAttribute(std::u16string& out, const char* name, std::u16string_view value) {
  out.push_back(u' ');
  for (const char* p = name; *p; ++p) out.push_back(static_cast<char16_t>(*p));
  out += u"=\"";
  AppendEscaped(out, value);
  out.push_back(u'"');
}

std::u16string Number(long long v) { return kiv::Utf8ToU16(std::to_string(v)); }

std::u16string Stamp(const fs::path& path) {
  std::error_code ec;
  auto time = fs::last_write_time(path, ec);
  std::time_t t = ec ? 0 : std::chrono::system_clock::to_time_t(std::chrono::file_clock::to_sys(time));
  std::tm tm{};
  localtime_r(&t, &tm);
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02dT%02d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec);
  return kiv::Utf8ToU16(text);
}

std::u16string TagText(const TagLib::String& s) { return kiv::Utf8ToU16(s.to8Bit(true)); }

// One <file> and its <audio> for every audio file served, sorted by path.
std::u16string SoundDocument(const Phone& phone) {
  std::vector<fs::path> files;
  std::error_code ec;
  fs::recursive_directory_iterator it(phone.root(), fs::directory_options::skip_permission_denied, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    if (it.depth() >= kMaxSoundDepth) it.disable_recursion_pending();
    std::error_code fe;
    if (it->is_regular_file(fe) && IsAudio(it->path())) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  std::u16string doc = u"<?xml version=\"1.0\" encoding=\"UTF-16\"?><soundlist>";
  for (const auto& file : files) {
    const fs::path relative = file.lexically_relative(phone.root());
    std::u16string folder = u"/" + kiv::Utf8ToU16(relative.parent_path().generic_string());
    if (folder == u"/") folder.clear();
    std::error_code se;
    const auto size = fs::file_size(file, se);
    doc += u"<file";
    AppendAttribute(doc, "name", kiv::Utf8ToU16(file.filename().string()));
    AppendAttribute(doc, "path", folder.empty() ? u"/" : folder);
    AppendAttribute(doc, "created", Stamp(file));
    AppendAttribute(doc, "size", Number(se ? 0 : static_cast<long long>(std::min<uintmax_t>(size, INT32_MAX))));
    AppendAttribute(doc, "drm", u"NO");
    doc += u"/><audio";
    TagLib::FileRef ref(file.c_str());
    std::u16string performer, title, album, genre;
    int duration = 0;
    if (!ref.isNull()) {
      // The property map is TagLib's one view over every tag format (ID3, Vorbis comments,
      // MP4 atoms, RIFF INFO): its first value of each key.
      const TagLib::PropertyMap props = ref.file()->properties();
      auto first = [&](const char* key) {
        auto it = props.find(key);
        return it == props.end() || it->second.isEmpty() ? std::u16string() : TagText(it->second.front());
      };
      performer = first("ARTIST");
      title = first("TITLE");
      album = first("ALBUM");
      genre = first("GENRE");
    }
    if (!ref.isNull() && ref.audioProperties()) duration = ref.audioProperties()->lengthInSeconds();
    AppendAttribute(doc, "perfomer", performer);
    AppendAttribute(doc, "title", title);
    AppendAttribute(doc, "album", album);
    AppendAttribute(doc, "duration", Number(duration));
    AppendAttribute(doc, "genre", genre);
    doc += u"/>";
  }
  doc += u"</soundlist>";
  return doc;
}

Packet PrepareSounds(Phone& phone, const Packet& request) {
  MediaState& s = State(phone);
  s.soundList = SoundDocument(phone);
  s.soundSent = 0;
  s.soundReady = true;
  return phone.Answer(request, kOk);
}

// The next piece of the prepared sound list, an even number of bytes, 0x02 while more follow.
Packet Sounds(Phone& phone, const Packet& request) {
  MediaState& s = State(phone);
  const std::size_t room = BodyRoom(phone) > 1 ? (BodyRoom(phone) - 1) & ~std::size_t{1} : 0;
  if (!s.soundReady || room == 0) return phone.Answer(request, kBadRequest);
  const std::size_t units = std::min(room / 2, s.soundList.size() - s.soundSent);
  const bool last = s.soundSent + units >= s.soundList.size();
  Packet answer = phone.Answer(request, last ? kOk : kMore);
  const std::size_t at = answer.body.size();
  answer.body.resize(at + 2 * units);
  for (std::size_t i = 0; i < units; ++i) {
    const char16_t c = s.soundList[s.soundSent + i];
    answer.body[at + 2 * i] = static_cast<uint8_t>(c);
    answer.body[at + 2 * i + 1] = static_cast<uint8_t>(c >> 8);
  }
  s.soundSent += units;
  if (last) {
    s.soundReady = false;
    s.soundList.clear();
    s.soundList.shrink_to_fit();
  }
  return answer;
}

}  // namespace

std::optional<Packet> HandleMediaCommands(Phone& phone, const Packet& request) {
  switch (request.code) {
    case kInfo: return Info(phone, request);
    case kNames: return Names(phone, request);
    case kContent: return Content(phone, request);
    case kAdd:
    case kEdit: return Receive(phone, request);
    case kRename: return Rename(phone, request);
    case kDelete: return Delete(phone, request);
    case kPrepareSounds: return PrepareSounds(phone, request);
    case kSounds: return Sounds(phone, request);
    default: return std::nullopt;
  }
}

}  // namespace phonesim
