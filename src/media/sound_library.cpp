// The sound list: requested into TempXML, read with the file-list reader, and turned into
// file records (so that sound files copy and delete like listed files) and sound records.
// No PC file or folder is made for a listed sound.
#include "media/sound_library.hpp"

#include <filesystem>

#include "platform/local_names.hpp"
#include "platform/messages.hpp"
#include "platform/text.hpp"
#include "platform/trace.hpp"
#include "protocol/media_commands.hpp"
#include "xml/xml_file_list.hpp"

namespace kiv {

std::u16string SoundFolderOfList(std::u16string_view path) {
  std::u16string folder = ReplaceChar(path, u'/', u'\\');
  const std::size_t first = folder.find_first_not_of(u'\\');
  if (first == std::u16string::npos) return {};
  const std::size_t last = folder.find_last_not_of(u'\\');
  return folder.substr(first, last - first + 1);
}

int CSoundLibrary::GetAllSoundFiles(KivHwnd window) {
  CPhoneFileManager& m = manager_;
  if (!m.m_bConnected) return 0;
  m.m_bCancel.store(0, std::memory_order_relaxed);
  Trace("CSoundLibrary::GetAllSoundFiles() called \n");
  m.m_FileInfos.clear();
  m_SoundInfos.clear();
  m.m_nProcessed = 0;

  CMediaCommands commands(m.m_PFileMan);
  m.m_PFileMan.ResetFlags();
  if (!commands.GetSoundList()) {
    if (!m.m_PFileMan.m_bRefused) SendReport(window, kReportListFailed, kStyleName, u"Sound");
    return 0;
  }
  // The items are taken one at a time as the reader gives them: the list is never held
  // whole besides the records made from it.
  CXmlFileList list;
  const int parsed = list.VisitSoundList(commands.TempXmlPath(), [&](XML_FILE_ITEM& item) {
    if (item.m_nType != kXmlItemFile || item.m_nSize < 0) return;
    std::u16string folder = SoundFolderOfList(item.m_strPath);
    if (m.m_FileInfos.Find(folder, item.m_strName)) return;
    const PhoneFolderInfo* record = m.m_FolderInfos.Find(folder);
    if (!record) return;
    const uint32_t attributes = (record->m_dwAttr & kFolderWritable) ? 0u : kFileNotWritable;
    const uint32_t t = item.m_tCreated;
    m.m_FileInfos.push_back(PhoneFileInfo{folder, item.m_strName, item.m_nSize, 0, t, t, t, attributes});
    m_SoundInfos.push_back(PhoneSoundInfo{std::move(item.m_strName), std::move(folder), std::move(item.m_strPerformer),
                                          std::move(item.m_strTitle), std::move(item.m_strAlbum), item.m_nDuration,
                                          std::move(item.m_strGenre)});
  });
  if (!parsed) {
    Trace("CSoundLibrary::GetAllSoundFiles: the sound list is not readable XML\n");
    m.m_FileInfos.clear();
    m_SoundInfos.clear();
    return 0;
  }
  std::error_code ec;
  std::filesystem::remove(LocalPath(commands.TempXmlPath()), ec);
  return 1;
}

const PhoneSoundInfo* CSoundLibrary::GetSoundFileTag(std::u16string_view folder, std::u16string_view name) const {
  for (const auto& info : m_SoundInfos)
    if (EqualsNoCase(info.m_strPath, folder) && EqualsNoCase(info.m_strName, name)) return &info;
  return nullptr;
}

int32_t CSoundLibrary::AddSoundFileArray(PhoneSoundInfo info) {
  m_SoundInfos.push_back(std::move(info));
  return static_cast<int32_t>(m_SoundInfos.size() - 1);
}

}  // namespace kiv
