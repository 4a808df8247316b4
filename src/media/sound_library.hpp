// The sound file library: the phone's sound files with their tags, kept by the manager as
// file records of the folder tree and as sound records that carry the tags.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "filemanager/manager.hpp"

namespace kiv {

struct PhoneSoundInfo {
  std::u16string m_strName;
  std::u16string m_strPath;  // the phone folder in the tree's form ("Sounds\\Tones")
  std::u16string m_strPerformer;
  std::u16string m_strTitle;
  std::u16string m_strAlbum;
  int32_t m_nDuration = 0;
  std::u16string m_strGenre;
};

class CSoundLibrary final : public FamilyState {
 public:
  explicit CSoundLibrary(CPhoneFileManager& manager) : manager_(manager) {}

  // Reads the phone's sound list and replaces the file records and the sound records by the
  // files it lists. 1 read; 0 not connected, request failed or unreadable list.
  int GetAllSoundFiles(KivHwnd window);
  // The first sound record of folder and name (letter case ignored); null when none.
  const PhoneSoundInfo* GetSoundFileTag(std::u16string_view folder, std::u16string_view name) const;
  // Appends a record and gives its index.
  int32_t AddSoundFileArray(PhoneSoundInfo info);

  // A deque: a long list grows without copying what it holds.
  std::deque<PhoneSoundInfo> m_SoundInfos;

 private:
  CPhoneFileManager& manager_;
};

// A sound list folder ("\\Sounds\\Tones\\", after "/" became "\\") in the tree's form.
std::u16string SoundFolderOfList(std::u16string_view path);

}  // namespace kiv
