// The folder tree model's lookups and the host-supplied records.
#include "filemanager/manager.hpp"
#include "link/phone_link.hpp"
#include "platform/shell_path.hpp"
#include "platform/text.hpp"

namespace kiv {

PhoneFileInfo* CPhoneFileManager::FindFileByPath(std::u16string_view path) {
  return FindFile(PathRemoveFileSpec(path), PathFileName(path));
}

bool CPhoneFileManager::IsStrictlyInside(std::u16string_view parent, std::u16string_view path) {
  return !EqualsNoCase(parent, path) && PathIsPrefix(parent, path);
}

bool CPhoneFileManager::IsDirectChild(std::u16string_view parent, std::u16string_view path) {
  return IsStrictlyInside(parent, path) && EqualsNoCase(PathRemoveFileSpec(path), parent);
}

int CPhoneFileManager::FolderAcceptsExtension(std::u16string_view folder, std::u16string_view extension) const {
  const PhoneFolderInfo* record = m_FolderInfos.Find(folder);
  if (!record) return 0;
  if (record->m_arrTypes.empty()) return 1;
  if (!extension.empty() && extension.front() == u'.') extension.remove_prefix(1);
  for (const auto& type : record->m_arrTypes)
    if (EqualsNoCase(type, extension)) return 1;
  return 0;
}

int CPhoneFileManager::IsListed(std::u16string_view path) const {
  if (path.empty()) return CurrentLink().IsConnected() ? 1 : 0;
  const PhoneFolderInfo* record = m_FolderInfos.Find(path);
  return record ? record->m_bListed : 1;
}

int CPhoneFileManager::IsFullyPresent(std::u16string_view path, bool subfolders) const {
  path = NormaliseFolderPath(path);
  const PhoneFolderInfo* record = m_FolderInfos.Find(path);
  if (!record) return 1;
  if (!record->m_bListed) return 0;
  for (const auto& file : m_FileInfos)
    if (EqualsNoCase(file.m_strFolder, path) && file.m_nLocalSize < file.m_nSize) return 0;
  if (!subfolders) return 1;
  for (const auto& folder : m_FolderInfos)
    if (IsStrictlyInside(path, folder.m_sFolderName)) return IsFullyPresent(folder.m_sFolderName, false);
  return 1;
}

const MemoryRecord& CPhoneFileManager::MemoryOf(std::u16string_view path) const {
  const std::u16string& card = m_strExtraMemory;
  if (card.empty()) return m_InternalMemory;
  if (EqualsNoCase(path, card)) return m_ExternalMemory;
  if (path.size() > card.size() && path[card.size()] == u'\\' && EqualsNoCase(path.substr(0, card.size()), card))
    return m_ExternalMemory;
  return m_InternalMemory;
}

int CPhoneFileManager::AddFileInfos(std::u16string folder, std::u16string name, uint32_t size, uint32_t time1,
                                    uint32_t time2, uint32_t time3, uint32_t attributes) {
  m_FileInfos.push_back(PhoneFileInfo{std::move(folder), std::move(name), static_cast<int32_t>(size), 0, time1, time2,
                                      time3, attributes});
  return static_cast<int>(m_FileInfos.size() - 1);
}

int CPhoneFileManager::AddFolderInfo(std::u16string_view path) {
  std::u16string parentPath = PathRemoveFileSpec(path);
  std::u16string_view name = PathFileName(path);
  PhoneFolderInfo* parent = m_FolderInfos.Find(parentPath);
  if (!parent || !m_bConnected) return 0;
  int depth = static_cast<int>(MemoryOf(path).maxDepth);
  std::u16string fullPath = parent->m_sFolderName + u'\\' + std::u16string(name);
  PhoneFolderInfo record(parent, 3, std::move(fullPath), depth);
  parent->m_bListed = 1;  // before the append: the append may move the records
  m_FolderInfos.push_back(std::move(record));
  return 1;
}

}  // namespace kiv
