// Playlist and sound list commands. Content files are UTF-8 on the PC and UTF-16LE on the
// wire; every answer is read through a bounds-checked reader and every exchange that loops
// over answers stops at kMaxAnswersPerExchange.
#include "protocol/media_commands.hpp"

#include <fstream>
#include <iterator>

#include "link/phone_link.hpp"
#include "platform/local_names.hpp"
#include "platform/messages.hpp"
#include "platform/text.hpp"
#include "platform/trace.hpp"
#include "platform/workdir.hpp"
#include "protocol/answer_reader.hpp"

namespace kiv {
namespace {

constexpr uint8_t kCmdPlayListInfo = 0x17;
constexpr uint8_t kCmdPlayList = 0x18;
constexpr uint8_t kCmdPlayListContents = 0x19;
constexpr uint8_t kCmdAddPlaylist = 0x1A;
constexpr uint8_t kCmdEditPlaylist = 0x1B;
constexpr uint8_t kCmdRenamePlaylist = 0x1C;
constexpr uint8_t kCmdDeletePlaylist = 0x1D;
constexpr uint8_t kCmdPrepareSoundList = 0x1E;
constexpr uint8_t kCmdSoundList = 0x1F;
constexpr uint8_t kResultMore = 0x02;

// A local file made (or emptied) for writing; closed when path is empty or it cannot be made.
// The stream opens the path in the system's own form (wide on Windows).
std::ofstream CreateLocal(std::u16string_view path) {
  std::ofstream file;
  if (!path.empty()) file.open(LocalPath(path), std::ios::binary | std::ios::trunc);
  return file;
}


// UTF-16LE units from offset up to their NUL. False when the NUL is missing (a cut answer).
bool TextToNul(std::span<const uint8_t> body, std::size_t offset, std::u16string& out) {
  out.clear();
  for (std::size_t i = offset; i + 1 < body.size(); i += 2) {
    char16_t c = static_cast<char16_t>(body[i] | (body[i + 1] << 8));
    if (c == 0) return true;
    out.push_back(c);
  }
  return false;
}

bool WriteAll(std::ofstream& file, std::string_view bytes) {
  return file.write(bytes.data(), static_cast<std::streamsize>(bytes.size())).good();
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c < 0xDC00; }

}  // namespace

std::vector<PlaylistPiece> CutPlaylistText(std::u16string_view text, std::size_t nameUnits, uint32_t maxPacket) {
  // Room for text in one request: the packet less the header, the name's field, the piece
  // number and a margin that keeps the line feed of the last piece inside the packet.
  const int64_t n = 2 * static_cast<int64_t>(nameUnits) + 3;
  const int64_t room = int64_t{maxPacket} - n - 23 - n % 4;
  if (room < 2) return {};
  const std::size_t units = static_cast<std::size_t>(room / 2);
  std::vector<PlaylistPiece> pieces;
  std::size_t pos = 0;
  for (;;) {
    if (text.size() - pos <= units) {
      pieces.push_back({pos, text.size()});
      return pieces;
    }
    std::size_t end = pos + units;
    std::size_t colon = text.substr(pos, units).rfind(u':');
    if (colon != std::u16string_view::npos) {
      end = pos + colon + 1;
    } else if (IsHighSurrogate(text[end - 1])) {
      --end;
    }
    if (end == pos) return {};
    pieces.push_back({pos, end});
    pos = end;
  }
}

int CMediaCommands::GetPlayListInfo(int32_t* first, int32_t* second) {
  session_.SetResult(1);
  if (first) *first = 0;
  if (second) *second = 0;
  CGenPacket answer;
  if (!session_.Transact(kCmdPlayListInfo, std::span<const uint8_t>(), answer)) return 0;
  AnswerReader reader(answer);
  uint16_t a = 0, b = 0;
  if (!reader.U16(a) || !reader.U16(b)) return 0;
  if (first) *first = static_cast<int32_t>((static_cast<uint32_t>(*first) & 0xFFFF0000u) | a);
  if (second) *second = static_cast<int32_t>((static_cast<uint32_t>(*second) & 0xFFFF0000u) | b);
  return 1;
}

int CMediaCommands::GetPlayList(uint32_t first, uint32_t second, uint32_t /*maxPacket*/,
                                uint32_t /*nameAllowance*/, std::vector<std::u16string>& names) {
  session_.SetResult(1);
  std::vector<uint8_t> body;
  Pack(body, 0, "ww", {first & 0xFFFFu, second & 0xFFFFu});
  int64_t previous = -1;
  for (uint32_t page = 0; page < answerCap_; ++page) {
    CGenPacket answer;
    if (!session_.Transact(kCmdPlayList, body, answer, {.timeoutMs = kWait30s})) return 0;
    AnswerReader reader(answer);
    uint32_t position = 0, total = 0;
    if (!reader.U32(position) || !reader.U32(total)) return 0;
    position &= 0xFFFF;
    total &= 0xFFFF;
    // A phone whose position stands still or goes back before the end ends the listing: a
    // phone that alternates between two positions would otherwise be asked for ever.
    if (position != total && previous >= 0 && int64_t{position} <= previous) return 1;
    previous = position;
    std::u16string text;
    if (reader.Remaining() > 0 && !TextToNul(answer.Body(), reader.Offset(), text)) return 0;
    std::size_t index = 0;
    for (auto& name : SplitAny(text, u":")) {
      names.push_back(std::move(name));
      if (index++ + 1 == total) return 1;
    }
    if (position >= total) return 1;
  }
  Trace("CMediaCommands::GetPlayList: the phone never reached the end of the list\n");
  return 0;
}

int CMediaCommands::GetPlayListContents(std::u16string_view localPath, std::u16string_view name) {
  session_.SetResult(1);
  std::vector<uint8_t> request;
  Pack(request, 0, "x", {name});
  WaitScope wait(CurrentLink(), kWait60s);
  if (!session_.SendRequest(kCmdPlayListContents, request)) return 0;
  std::ofstream file = CreateLocal(localPath);
  if (!file.is_open()) {
    Trace("CMediaCommands::GetPlayListContents: the local file cannot be created\n");
    return 0;
  }
  session_.AbortFlag().store(0, std::memory_order_relaxed);
  PhoneLink& link = CurrentLink();
  // The answer echoes the name ("x": length, units, NUL) and a 32-bit value before the text.
  const std::size_t textStart = 1 + (2 * name.size() + 4) + 4;
  std::u16string text;
  for (uint32_t count = 0; count < answerCap_; ++count) {
    CGenPacket answer;
    if (!session_.ReadAnswer(answer) || !link.IsConnected()) return 0;
    if (session_.AbortFlag().load(std::memory_order_relaxed)) {
      session_.AbortTransfer(u"", name, 0);
      return 0;
    }
    std::span<const uint8_t> body = answer.Body();
    // The echoed name must be the one asked for: a length field that disagrees (or runs past
    // the body) would move the text's start.
    const std::size_t echoed = body.size() >= 3 ? (body[1] | (body[2] << 8)) : 0;
    if (echoed != name.size() + 1 || body.size() < textStart || !TextToNul(body, textStart, text)) {
      Trace("CMediaCommands::GetPlayListContents: a cut or malformed answer\n");
      return 0;
    }
    const bool more = body[0] == kResultMore;
    std::u16string out;
    out.reserve(text.size() + 8);
    for (const auto& song : SplitAny(text, u":")) {
      if (song.starts_with(u"mmc1")) {
        out += u"Card/";
        out.append(song, std::min<std::size_t>(5, song.size()));
      } else {
        out += song;
      }
      out.push_back(u':');
    }
    if (!more && !out.empty()) out.pop_back();
    if (!WriteAll(file, U16ToUtf8(out)) || !file.flush()) return 0;
    if (!more) return 1;
    if (!session_.SendRequest(kCmdPlayListContents, request)) return 0;
  }
  Trace("CMediaCommands::GetPlayListContents: too many answers\n");
  return 0;
}

int CMediaCommands::AddPlaylist(std::u16string_view localPath, std::u16string_view name, uint32_t maxPacket,
                                KivHwnd window) {
  return SendPlaylist(kCmdAddPlaylist, localPath, name, maxPacket, window);
}

int CMediaCommands::EditPlaylist(std::u16string_view localPath, std::u16string_view name, uint32_t maxPacket,
                                 KivHwnd window) {
  return SendPlaylist(kCmdEditPlaylist, localPath, name, maxPacket, window);
}

int CMediaCommands::SendPlaylist(uint8_t code, std::u16string_view localPath, std::u16string_view name,
                                 uint32_t maxPacket, KivHwnd window) {
  session_.SetResult(1);
  // The whole file is read and checked before anything is sent.
  std::string bytes;
  {
    if (localPath.empty()) return 0;
    std::ifstream in(LocalPath(localPath), std::ios::binary);
    if (!in) return 0;
    bytes.assign(std::istreambuf_iterator<char>(in), {});
    if (in.bad()) return 0;
  }
  const std::u16string text = Utf8ToU16(bytes);
  if (U16ToUtf8(text) != bytes) {
    Trace("CMediaCommands: the playlist file is not UTF-8\n");
    return 0;
  }
  const std::vector<PlaylistPiece> pieces = CutPlaylistText(text, name.size(), maxPacket);
  if (pieces.empty()) {
    Trace("CMediaCommands: the packet size leaves no room for playlist text\n");
    return 0;
  }
  session_.AbortFlag().store(0, std::memory_order_relaxed);
  PhoneLink& link = CurrentLink();
  std::vector<uint8_t> body;
  uint32_t offset = 0;  // of the piece in the file, in bytes
  for (std::size_t k = 0; k < pieces.size(); ++k) {
    const bool last = k + 1 == pieces.size();
    if (!link.IsConnected()) return 0;
    if (session_.AbortFlag().load(std::memory_order_relaxed)) {
      WaitScope wait(CurrentLink(), kWaitLong);
      session_.AbortTransfer(u"", name, 1);
      return 0;
    }
    const std::u16string_view piece = std::u16string_view(text).substr(pieces[k].begin, pieces[k].end - pieces[k].begin);
    const std::size_t fields = static_cast<std::size_t>(Pack(body, 2 * piece.size() + (last ? 2 : 0), "xd",
                                                             {name, static_cast<uint32_t>(k + 1)}));
    uint8_t* out = body.data() + fields;
    for (char16_t c : piece) {
      *out++ = static_cast<uint8_t>(c);
      *out++ = static_cast<uint8_t>(c >> 8);
    }
    if (last) {
      out[0] = u'\n';
      out[1] = 0;
    }
    CGenPacket answer;
    if (!session_.Transact(code, body, answer, {.timeoutMs = last ? kWait60s : 0, .flag = last ? 1 : 0})) return 0;
    Progress progress;
    progress.text = name;
    progress.bytesDone = offset;
    SendProgress(window, progress);
    offset += static_cast<uint32_t>(U16ToUtf8(piece).size());
  }
  return 1;
}

int CMediaCommands::RenamePlaylist(std::u16string_view oldName, std::u16string_view newName, uint32_t maxFileName) {
  session_.SetResult(1);
  if (static_cast<int64_t>(newName.size()) > int64_t{maxFileName} - 5) return 0;
  CGenPacket answer;
  return session_.Transact(kCmdRenamePlaylist, "xx", {oldName, newName}, answer);
}

int CMediaCommands::DeletePlaylist(std::u16string_view name) {
  session_.SetResult(1);
  CGenPacket answer;
  return session_.Transact(kCmdDeletePlaylist, "x", {name}, answer, {.timeoutMs = kWaitLong});
}

int CMediaCommands::PrepareSoundList() {
  CGenPacket answer;
  return session_.Transact(kCmdPrepareSoundList, std::span<const uint8_t>(), answer);
}

int CMediaCommands::GetSoundList(uint32_t) {
  session_.SetResult(1);
  if (!PrepareSoundList()) return 0;
  WaitScope wait(CurrentLink(), kWait60s);
  if (!session_.SendRequest(kCmdSoundList, std::span<const uint8_t>())) return 0;
  tempXmlPath_ = WorkFilePath(u"TempXML");
  std::ofstream file = CreateLocal(tempXmlPath_);
  if (!file.is_open()) {
    Trace("CMediaCommands::GetSoundList: TempXML cannot be opened\n");
    return 0;
  }
  static constexpr char kBom[] = "\xEF\xBB\xBF";
  if (!WriteAll(file, kBom)) return 0;
  session_.AbortFlag().store(0, std::memory_order_relaxed);
  PhoneLink& link = CurrentLink();
  // A high surrogate that ends a piece waits for the next one, so a character split between
  // two answers is written whole.
  std::u16string units;
  std::string utf8;
  for (uint32_t count = 0; count < answerCap_; ++count) {
    CGenPacket answer;
    if (!session_.ReadAnswer(answer) || !link.IsConnected()) return 0;
    std::span<const uint8_t> body = answer.Body();
    bool ended = false;
    for (std::size_t i = 1; i + 1 < body.size(); i += 2) {
      char16_t c = static_cast<char16_t>(body[i] | (body[i + 1] << 8));
      if (c == 0) {
        ended = true;
        break;
      }
      units.push_back(c);
    }
    const bool more = body[0] == kResultMore;
    char16_t held = 0;
    if (more && !ended && !units.empty() && IsHighSurrogate(units.back())) {
      held = units.back();
      units.pop_back();
    }
    utf8 = U16ToUtf8(units);
    units.clear();
    if (held) units.push_back(held);
    if (!WriteAll(file, utf8)) return 0;
    if (!more) return file.flush() ? 1 : 0;
    if (!session_.SendRequest(kCmdSoundList, std::span<const uint8_t>())) return 0;
  }
  Trace("CMediaCommands::GetSoundList: too many answers\n");
  return 0;
}

}  // namespace kiv
