// The phone's music commands: the playlists (overview, names, content, add, edit, rename,
// delete) and the sound list with its tags, which the phone sends as an XML document in
// pieces and the library stores in the work file TempXML.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "kivmod/kivmod.h"
#include "protocol/transactions.hpp"

namespace kiv {

// Most answers one exchange takes (pages of names, content pieces, sound list pieces): a
// phone that keeps answering "more follows" ends the exchange with a failure here.
inline constexpr uint32_t kMaxAnswersPerExchange = 1u << 20;

// One piece of an add or edit: a range of the content text, in UTF-16 units.
struct PlaylistPiece {
  std::size_t begin = 0;
  std::size_t end = 0;
};

// Cuts text into the pieces an add or edit sends for a playlist name of nameUnits units at
// the given packet size: each holds at most the packet's text room, each but the last ends
// just after its last ":" (or is cut at the room when it has none, never inside a surrogate
// pair); the last piece may be empty. Empty result: the packet has no room for any text.
std::vector<PlaylistPiece> CutPlaylistText(std::u16string_view text, std::size_t nameUnits, uint32_t maxPacket);

class CMediaCommands {
 public:
  explicit CMediaCommands(Transactions& session) : session_(session) {}

  // Sets the cap on answers per exchange (tests use a small one).
  void SetAnswerCap(uint32_t cap) { answerCap_ = cap; }

  // The two overview values; each output is set to 0 first (a null one is skipped).
  int GetPlayListInfo(int32_t* first, int32_t* second);
  // Appends the playlist names, page by page, until the position reaches the total or stops
  // moving forward. Names of earlier pages stay when a page fails.
  int GetPlayList(uint32_t first, uint32_t second, uint32_t maxPacket, uint32_t nameAllowance,
                  std::vector<std::u16string>& names);
  // Writes the content of playlist name into localPath as UTF-8 (card songs as "Card/...").
  // 0 on any failure; the file then holds the answers that arrived.
  int GetPlayListContents(std::u16string_view localPath, std::u16string_view name);
  // Sends the UTF-8 content file localPath as playlist name, in pieces sized from maxPacket.
  int AddPlaylist(std::u16string_view localPath, std::u16string_view name, uint32_t maxPacket, KivHwnd window);
  int EditPlaylist(std::u16string_view localPath, std::u16string_view name, uint32_t maxPacket, KivHwnd window);
  // A new name longer than maxFileName - 5 units fails without a request.
  int RenamePlaylist(std::u16string_view oldName, std::u16string_view newName, uint32_t maxFileName);
  int DeletePlaylist(std::u16string_view name);

  // The sound list into the work file TempXML (its path in TempXmlPath()).
  int GetSoundList(uint32_t unused = 0);
  int PrepareSoundList();
  const std::u16string& TempXmlPath() const { return tempXmlPath_; }

 private:
  int SendPlaylist(uint8_t code, std::u16string_view localPath, std::u16string_view name, uint32_t maxPacket,
                   KivHwnd window);

  Transactions& session_;
  uint32_t answerCap_ = kMaxAnswersPerExchange;
  std::u16string tempXmlPath_;
};

}  // namespace kiv
