// Playlist and sound library exports.
#include "boundary/collections.hpp"
#include "boundary/exports_common.hpp"
#include "media/sound_library.hpp"
#include "platform/text.hpp"
#include "protocol/media_commands.hpp"

using kiv::CMediaCommands;
using kiv::CPhoneFileManager;
using kiv::CSoundLibrary;
using kiv::FromHost;
using kiv::WithManager;

extern "C" {

KIV_API int32_t Kiv_GetPlayListInfo(int32_t, int32_t* first, int32_t* second) {
  if (first) *first = 0;
  if (second) *second = 0;
  return WithManager("Kiv_GetPlayListInfo", 0, [&](CPhoneFileManager& m) {
    return CMediaCommands(m.m_PFileMan).GetPlayListInfo(first, second);
  });
}

KIV_API int32_t Kiv_GetPlayList(int32_t, int32_t first, int32_t second, KivStringList* names) {
  return WithManager("Kiv_GetPlayList", 0, [&](CPhoneFileManager& m) {
    std::vector<std::u16string> found;
    const int result = CMediaCommands(m.m_PFileMan)
                           .GetPlayList(static_cast<uint32_t>(first), static_cast<uint32_t>(second),
                                        m.m_nMaxPacketSize, m.m_InternalMemory.maxFileName, found);
    if (names) names->items.insert(names->items.end(), found.begin(), found.end());
    return result;
  });
}

KIV_API int32_t Kiv_GetPlayListContents(const KivChar* localPath, const KivChar* name, KivHwnd) {
  return WithManager("Kiv_GetPlayListContents", 0, [&](CPhoneFileManager& m) {
    return CMediaCommands(m.m_PFileMan).GetPlayListContents(FromHost(localPath), FromHost(name));
  });
}

KIV_API int32_t Kiv_AddPlaylist(const KivChar* localPath, const KivChar* name, KivHwnd wnd) {
  return WithManager("Kiv_AddPlaylist", 0, [&](CPhoneFileManager& m) {
    return CMediaCommands(m.m_PFileMan).AddPlaylist(FromHost(localPath), FromHost(name), m.m_nMaxPacketSize, wnd);
  });
}

KIV_API int32_t Kiv_EditPlaylist(const KivChar* localPath, const KivChar* name, KivHwnd wnd) {
  return WithManager("Kiv_EditPlaylist", 0, [&](CPhoneFileManager& m) {
    return CMediaCommands(m.m_PFileMan).EditPlaylist(FromHost(localPath), FromHost(name), m.m_nMaxPacketSize, wnd);
  });
}

KIV_API int32_t Kiv_RenamePlaylist(const KivChar* oldName, const KivChar* newName) {
  return WithManager("Kiv_RenamePlaylist", 0, [&](CPhoneFileManager& m) {
    return CMediaCommands(m.m_PFileMan)
        .RenamePlaylist(FromHost(oldName), FromHost(newName), m.m_InternalMemory.maxFileName);
  });
}

KIV_API int32_t Kiv_DeletePlaylist(const KivChar* name) {
  return WithManager("Kiv_DeletePlaylist", 0,
                     [&](CPhoneFileManager& m) { return CMediaCommands(m.m_PFileMan).DeletePlaylist(FromHost(name)); });
}

KIV_API int32_t Kiv_GetAllSoundFiles(KivHwnd wnd) {
  return WithManager("Kiv_GetAllSoundFiles", 0,
                     [&](CPhoneFileManager& m) { return m.Family<CSoundLibrary>().GetAllSoundFiles(wnd); });
}

KIV_API int32_t Kiv_GetSoundFileTag(const KivChar* folder, const KivChar* name, KivString* performer,
                                    KivString* title, KivString* album, KivString* genre, int32_t* duration) {
  return WithManager("Kiv_GetSoundFileTag", 0, [&](CPhoneFileManager& m) {
    const kiv::PhoneSoundInfo* info = m.Family<CSoundLibrary>().GetSoundFileTag(FromHost(folder), FromHost(name));
    if (!info) return 0;
    if (performer) performer->text = info->m_strPerformer;
    if (title) title->text = info->m_strTitle;
    if (album) album->text = info->m_strAlbum;
    if (genre) genre->text = info->m_strGenre;
    if (duration) *duration = info->m_nDuration;
    return 1;
  });
}

KIV_API int32_t Kiv_AddSoundFileArray(const KivChar* folder, const KivChar* name, const KivChar* performer,
                                      const KivChar* title, const KivChar* album, int32_t duration,
                                      const KivChar* genre) {
  return WithManager("Kiv_AddSoundFileArray", -1, [&](CPhoneFileManager& m) {
    return m.Family<CSoundLibrary>().AddSoundFileArray(kiv::PhoneSoundInfo{
        FromHost(name), FromHost(folder), FromHost(performer), FromHost(title), FromHost(album), duration,
        FromHost(genre)});
  });
}

}  // extern "C"
