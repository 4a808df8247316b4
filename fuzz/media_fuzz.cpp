// Feeds scripted answers to the music commands: the playlist overview, name pages, content
// pieces, adds and edits, rename and delete, and the sound list pieces. The first bytes
// choose the command and its sizes; the rest is the phone's script. Any crash,
// out-of-bounds access, leak or hang is a finding.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "answer_script.hpp"
#include "platform/text.hpp"
#include "protocol/media_commands.hpp"
#include "protocol/pfileman.hpp"
#include "scratch.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  fuzz::ScriptedAnswers& script = fuzz::InstalledScript();
  script.Load(data + 3, size - 3);
  // The work folder (TempXML) and the local playlist files.
  const fuzz::ScratchFolder scratch("kivmod-media-fuzz", true);
  const std::filesystem::path list = scratch / "list.txt";
  const std::u16string local = kiv::Utf8ToU16(list.string());
  // Packet sizes from too small for any text up to a few KiB.
  const uint32_t packet = 8u + data[1] * 16u;
  kiv::CPFileMan session;
  kiv::CMediaCommands media{session};
  media.SetAnswerCap(256);
  switch (data[0] % 8) {
    case 0: {
      int32_t first = 0, second = 0;
      media.GetPlayListInfo(&first, &second);
      break;
    }
    case 1: {
      std::vector<std::u16string> names;
      media.GetPlayList(data[2], data[1], packet, data[2] % 40, names);
      break;
    }
    case 2:
      media.GetPlayListContents(local, u"Favourites");
      break;
    case 3:
    case 4: {
      std::ofstream(list, std::ios::binary) << "Music/a.mp3:mmc1/Music/b\xC3\xA9.mp3:" << std::string(data[2], 'x');
      if (data[0] % 8 == 3)
        media.AddPlaylist(local, u"Favourites", packet, nullptr);
      else
        media.EditPlaylist(local, u"Favourites", packet, nullptr);
      break;
    }
    case 5:
      media.RenamePlaylist(u"Favourites", u"Best", data[2]);
      break;
    case 6:
      media.DeletePlaylist(u"Favourites");
      break;
    default:
      media.GetSoundList();
      break;
  }
  return 0;
}
