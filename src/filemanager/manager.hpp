// The transfer manager: the single object behind the exports. It embeds the protocol
// object, opens and closes the phone session, keeps what the phone told it at connection,
// carries the host's cancel request and reports to host windows.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <typeindex>
#include <vector>

#include "filemanager/record_lists.hpp"
#include "filemanager/records.hpp"
#include "kivmod/kivmod.h"
#include "protocol/pfileman.hpp"
#include "protocol/type_array.hpp"

namespace kiv {

// Units of the host's buffer for the memory card name, its terminator included.
inline constexpr std::size_t kExtraMemoryNameUnits = 4096;

inline constexpr int kCableBaudrate = 115200;
inline constexpr int kModeClassic = 1;
inline constexpr int kModeExtended = 0;

// The state and procedures of one family (playlists, sounds, backup, Java) that a manager
// holds from their first use to its end. A family type T is made by T(CPhoneFileManager&).
class FamilyState {
 public:
  virtual ~FamilyState() = default;
};

class CPhoneFileManager {
 public:
  CPhoneFileManager();
  virtual ~CPhoneFileManager();
  CPhoneFileManager(const CPhoneFileManager&) = delete;
  CPhoneFileManager& operator=(const CPhoneFileManager&) = delete;

  void Initialize(KivHwnd window);
  void InitializeU(KivHwnd window);
  int Connect(int port, int unused, KivHwnd messageWindow, int method, int rate);
  void Disconnect();
  void ResetState();
  void Abort();
  int ReadPhoneInfo(std::u16string_view text = {});
  int ReadRootFolders();
  bool BTConnect(const uint8_t address[6], int method, KivHwnd window, int mode);
  int BTDisconnect(int mode);
  int SPPConnect(const uint8_t address[6], int method, KivHwnd window);
  int SPPDisconnect(int keep);
  int IsSessionOpen() const { return m_bConnected; }

  // Folder tree model (lookups ignore letter case).
  PhoneFolderInfo* FindFolder(std::u16string_view path) { return m_FolderInfos.Find(path); }
  bool FolderExists(std::u16string_view path) const { return m_FolderInfos.Find(path) != nullptr; }
  PhoneFileInfo* FindFile(std::u16string_view folder, std::u16string_view name) {
    return m_FileInfos.Find(folder, name);
  }
  PhoneFileInfo* FindFileByPath(std::u16string_view path);
  static bool IsStrictlyInside(std::u16string_view parent, std::u16string_view path);
  static bool IsDirectChild(std::u16string_view parent, std::u16string_view path);
  int FolderAcceptsExtension(std::u16string_view folder, std::u16string_view extension) const;
  int IsListed(std::u16string_view path) const;
  int IsFullyPresent(std::u16string_view path, bool subfolders) const;
  // The limits of the memory that holds path (internal, or the memory card by its name).
  const MemoryRecord& MemoryOf(std::u16string_view path) const;
  int OpenFolder(std::u16string_view path, bool recursive, KivHwnd window);
  int RefreshFolder(std::u16string_view path, bool dump, KivHwnd window);
  int UpdateFreeSize(std::u16string_view path, int64_t* out, KivHwnd window);
  int GetTotalSpaceOf(std::u16string_view path, int64_t* out, KivHwnd window);

  // ---- Copy files from the phone to a PC folder ----
  // The host's list holds phone file paths and phone folders (folders stand for their known
  // files not yet present on the PC). Returns the number of items handled, 0 on failure or
  // cancel (then 0x8067 goes to the window). A given completion flag is set to 1.
  int AssureUploadCompleted(const std::vector<std::u16string>& sources, KivHwnd window,
                            const std::u16string* target, int32_t* completed);
  // The worker: 1 when every item was copied, 0 at the first failure.
  int GetFileFromPhoneProc(const std::vector<std::u16string>& sources, KivHwnd window, std::u16string_view target);
  // The type table entry of an extension (without the dot); null when the table lacks it.
  const KivTypeEntry* FindType(std::u16string_view extension) const;
  // The rule word of a file type by extension (without the dot); 3 for a type not in the table.
  uint32_t FileTypeRules(std::u16string_view extension) const;

  // ---- Send files to a phone folder ----
  // From the PC (phoneSource off) or from phone files the tree knows (on; move moves them).
  // Returns the index at which the walk ended, 0 or a negative code (see the C header).
  int SendFileToPhone(const std::vector<std::u16string>& sources, std::u16string_view target, bool phoneSource,
                      bool move, KivHwnd window);
  int SendFileToPhoneProc(std::vector<std::u16string> entries, std::u16string_view target, bool phoneSource,
                          bool move, KivHwnd window);

  // ---- Resume an interrupted copy to the phone ----
  void WriteResumeFile(std::u16string_view text);
  // Removes the resume record (a copy completed, or nothing of it reached the phone).
  void RemoveResumeFile();
  // Reads the resume file and asks the phone how much of the file it holds.
  bool LoadResumeDetails();
  int ResumeFileDownload(KivHwnd window);

  // ---- Delete phone files and folders ----
  // kinds, when given, runs parallel to sources: a text that reads as 0 marks a file entry,
  // any other a folder entry; without it every entry is a folder entry.
  // The host's delete: refuses fixed folders, runs the walk, reports a cancel.
  int DeletePhoneFile(const std::vector<std::u16string>& sources, KivHwnd window,
                      const std::vector<std::u16string>* kinds);
  // The walk: contents before their folders; returns the index at which it ended, or 0.
  int DeletePhoneFileAndDirectoryProc(const std::vector<std::u16string>& sources, KivHwnd window, bool progress,
                                      const std::vector<std::u16string>* kinds);

  // ---- Rename a phone file or folder, create a phone folder ----
  // Checks the memory's limits and the folder's rights, then renames; 1 renamed, 0 not.
  int RenamePhoneFile(std::u16string_view oldPath, std::u16string_view oldName, std::u16string_view newName,
                      KivHwnd window, bool isFolder);
  // One rename request and the tree update in place; an empty old name renames the folder.
  int RenamePhoneFileProc(std::u16string_view folder, std::u16string_view oldName, std::u16string_view newName,
                          KivHwnd window);
  // 1 created (and recorded as listed), 0 not.
  int CreatePhoneDirectory(std::u16string_view path, KivHwnd window);

  // Host-supplied records.
  int AddFileInfos(std::u16string folder, std::u16string name, uint32_t size, uint32_t time1, uint32_t time2,
                   uint32_t time3, uint32_t attributes);
  int AddFolderInfo(std::u16string_view path);

  // The manager's instance of family T, made on first use.
  template <class T>
  T& Family() {
    auto& slot = m_Families[std::type_index(typeid(T))];
    if (!slot) slot = std::make_unique<T>(*this);
    return static_cast<T&>(*slot);
  }

  KivHwnd m_hWnd = nullptr;
  std::u16string m_strExtraMemory;  // at most kExtraMemoryNameUnits - 1 units
  std::u16string m_strRootList;
  FolderList m_FolderInfos;
  CPFileMan m_PFileMan;
  uint32_t m_nMaxPacketSize = 0;
  int32_t m_bConnected = 0;
  MemoryRecord m_InternalMemory;
  MemoryRecord m_ExternalMemory;
  TypeArray m_FileTypes;
  FileList m_FileInfos;
  int32_t m_nProcessed = 0;
  // The resume text of the last failed send ("source\ttarget"), and the saved details.
  std::u16string m_strResume;
  std::u16string m_strResumeSource;
  std::u16string m_strResumeTarget;
  std::u16string m_strResumeName;
  uint32_t m_nResumeOffset = 0;
  std::atomic<int32_t> m_bCancel{0};

 private:
  // Declared last: families refer to the manager and go first.
  std::map<std::type_index, std::unique_ptr<FamilyState>> m_Families;
};

// The module-wide current manager (null before the first creating export).
CPhoneFileManager* CurrentManager();
// Creates a new manager and makes it current; the one it replaces is destroyed.
CPhoneFileManager& NewCurrentManager();
// Destroys the current manager (the library's unload does this).
void DestroyCurrentManager();

// Pauses on the calling thread.
void SleepMs(uint32_t ms);

}  // namespace kiv
