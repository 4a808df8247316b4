// Opening and refreshing phone folders into the folder tree, and the space queries on a
// known folder. The manager takes no locks on local copies of phone files: it keeps no
// local mirror folder, so there is nothing to lock.
#include <filesystem>

#include "filemanager/manager.hpp"
#include "platform/messages.hpp"
#include "platform/local_names.hpp"
#include "link/phone_link.hpp"
#include "platform/shell_path.hpp"
#include "platform/text.hpp"
#include "platform/trace.hpp"
#include "xml/xml_file_list.hpp"

namespace kiv {
namespace {

// Folder attributes from the XML listing's attribute word.
uint32_t XmlFolderAttributes(uint32_t word, bool subfolders) {
  uint32_t attr = kFolderCopyToPc | kFolderWritable;
  if (subfolders) attr |= kFolderSubfolders;
  if (word & 0x0080) attr |= kFolderPreListed;
  if (word & 0x4000) {
    attr |= kFolderFixed;
  } else if (word & 0x0400) {
    attr |= kFolderRenamable;
  }
  if (word & 0x0800) attr |= kFolderHidden | kFolderFixed;
  if (word & 0x8000) attr |= kFolderListingFlag;
  if (word & 0x0040) attr |= kFolderNoSubfolders | kFolderFixed;
  return attr;
}

// How deep a recursive open goes at most. Real phones stop far sooner; the bound keeps a
// phone that answers every listing with one more subfolder from exhausting the stack.
constexpr int kMaxOpenDepth = 256;

}  // namespace

int CPhoneFileManager::OpenFolder(std::u16string_view path, bool recursive, KivHwnd window) {
  const std::u16string folderPath(path);
  {
    const PhoneFolderInfo* record = m_FolderInfos.Find(folderPath);
    if (!record || (record->m_dwAttr & kFolderHidden)) return 1;
  }
  m_nProcessed = 0;
  const MemoryRecord& memory = MemoryOf(folderPath);
  if (!m_PFileMan.GetXmlFolderList(folderPath, m_nMaxPacketSize, memory.maxFileName, 0)) {
    if (!m_PFileMan.m_bRefused) SendReport(window, kReportListFailed, kStyleName, folderPath);
    return 0;
  }
  // The record is looked up again after every exchange: a host may have emptied the tree
  // from a callback of its own link meanwhile.
  const PhoneFolderInfo* listed = m_FolderInfos.Find(folderPath);
  if (!listed) return 0;
  // Files go into the tree as the list is read; the subfolders follow them.
  const bool writable = (listed->m_dwAttr & kFolderWritable) != 0;
  XmlFileItems folders;
  {
    const std::u16string& xmlPath = m_PFileMan.m_strTempXmlPath;
    const std::size_t before = m_FileInfos.size();
    CXmlFileList list;
    const int parsed = list.VisitFolderList(xmlPath, [&](XML_FILE_ITEM& item) {
      if (item.m_nType == kXmlItemFolder) {
        folders.push_back(std::move(item));
        return;
      }
      if (item.m_nType != kXmlItemFile || item.m_nSize < 0 || m_FileInfos.Find(folderPath, item.m_strName)) return;
      const uint32_t t = item.m_tCreated;
      m_FileInfos.push_back(PhoneFileInfo{folderPath, std::move(item.m_strName), item.m_nSize, 0, t, t, t,
                                          writable ? 0u : kFileNotWritable});
    });
    if (!parsed) {
      // A list that breaks off adds none of its files.
      m_FileInfos.truncate(before);
      return 0;
    }
    std::error_code ec;
    std::filesystem::remove(LocalPath(xmlPath), ec);
  }
  bool subfolders = m_PFileMan.IsSubfolderCapable();
  for (const auto& item : folders) {
    const PhoneFolderInfo* parent = m_FolderInfos.Find(folderPath);
    if (!parent || !m_bConnected) return 0;
    // A name that is empty or holds a backslash would stand for some other folder's path.
    if (item.m_strName.empty() || item.m_strName.find(u'\\') != std::u16string::npos) continue;
    std::u16string childPath = folderPath + u'\\' + item.m_strName;
    PhoneFolderInfo child(parent, XmlFolderAttributes(static_cast<uint32_t>(item.m_nAttr), subfolders), childPath,
                          static_cast<int>(MemoryOf(childPath).maxDepth));
    if (!(child.m_dwAttr & kFolderHidden) && !m_FolderInfos.Find(childPath)) m_FolderInfos.push_back(std::move(child));
  }
  PhoneFolderInfo* self = m_FolderInfos.Find(folderPath);
  if (!self) return 0;
  self->m_bListed = 1;
  if (recursive && !self->m_bSubOpened) {
    // The list grows while the walk runs; it runs to the current end each time.
    for (std::size_t i = 0; i < m_FolderInfos.size(); ++i) {
      const PhoneFolderInfo& f = m_FolderInfos[i];
      if (f.m_strUpFolderName == kRootParent || f.m_bSubOpened || f.m_strUpFolderName != folderPath ||
          (f.m_dwAttr & kFolderHidden) || PathDepth(f.m_sFolderName) > kMaxOpenDepth)
        continue;
      std::u16string child = f.m_sFolderName;
      if (!OpenFolder(child, true, window)) return 0;
    }
    self = m_FolderInfos.Find(folderPath);
    if (!self) return 0;
    self->m_bSubOpened = 1;
  }
  return 1;
}

int CPhoneFileManager::RefreshFolder(std::u16string_view path, bool dump, KivHwnd window) {
  const std::u16string folderPath(path);
  {
    const PhoneFolderInfo* record = m_FolderInfos.Find(folderPath);
    if (!record || (record->m_dwAttr & kFolderHidden)) return 1;
  }
  m_nProcessed = 0;
  if (!IsListed(folderPath)) {
    bool onCard = !m_strExtraMemory.empty() && folderPath.find(m_strExtraMemory) != std::u16string::npos;
    const MemoryRecord& memory = MemoryOf(folderPath);
    std::vector<PhoneListEntry> entries;
    if (!m_PFileMan.GetFolderList(folderPath, entries, m_nMaxPacketSize, memory.maxFileName)) {
      if (!m_PFileMan.m_bRefused) SendReport(window, kReportListFailed, kStyleName, folderPath);
      return 0;
    }
    std::size_t before = m_FileInfos.size();
    const PhoneFolderInfo* listed = m_FolderInfos.Find(folderPath);
    if (!listed) return 0;
    bool writable = (listed->m_dwAttr & kFolderWritable) != 0;
    for (std::size_t index = 0; index < entries.size(); ++index) {
      const PhoneListEntry& entry = entries[index];
      if (!(entry.m_nFlags & 0x1) || m_FileInfos.Find(folderPath, entry.m_strName)) continue;
      if (onCard && index >= 10 && index % 10 == 0) SleepMs(200);
      int32_t size = 0;
      uint32_t t1 = 0, t2 = 0, t3 = 0, attr = 0;
      if (!m_PFileMan.GetFileInfo(folderPath, entry.m_strName, &size, t1, t2, t3, attr)) {
        if (!m_PFileMan.m_bRefused) SendReport(window, kReportDetailsFailed, kStyleName, entry.m_strName);
        m_FileInfos.truncate(before);
        return 0;
      }
      if (!writable) attr |= kFileNotWritable;
      if (size >= 0) m_FileInfos.push_back(PhoneFileInfo{folderPath, entry.m_strName, size, 0, t3, t1, t2, attr});
    }
    if (m_FileInfos.size() > before && !m_bConnected) return 0;
    for (const PhoneListEntry& entry : entries) {
      if (!(entry.m_nFlags & 0x2)) continue;
      const PhoneFolderInfo* parent = m_FolderInfos.Find(folderPath);
      if (!parent || !m_bConnected) return 0;
      std::u16string childPath = folderPath + u'\\' + entry.m_strName;
      PhoneFolderInfo child(parent, 0, childPath, 1);
      uint32_t t1 = 0, t2 = 0, t3 = 0, attr = 0;
      if (!m_PFileMan.GetFileInfo(childPath, u"", nullptr, t1, t2, t3, attr)) {
        if (!m_PFileMan.m_bRefused) SendReport(window, kReportDetailsFailed, kStyleName, entry.m_strName);
        return 0;
      }
      child.SetAttributes(attr, static_cast<int>(MemoryOf(childPath).maxDepth));
      if (!(child.m_dwAttr & kFolderHidden)) m_FolderInfos.push_back(std::move(child));
    }
    PhoneFolderInfo* self = m_FolderInfos.Find(folderPath);
    if (!self) return 0;
    self->m_bListed = 1;
  }
  PhoneFolderInfo* record = m_FolderInfos.Find(folderPath);
  if (dump && record && !record->m_bSubOpened) record->m_bSubOpened = 1;
  return 1;
}

int CPhoneFileManager::UpdateFreeSize(std::u16string_view path, int64_t* out, KivHwnd window) {
  path = NormaliseFolderPath(path);
  if (!CurrentLink().IsConnected() || path.empty()) return 0;
  PhoneFolderInfo* record = m_FolderInfos.Find(path);
  if (!record) return 0;
  int64_t value = 0;
  if (!m_PFileMan.GetFreeSpace(std::u16string(path), value)) {
    if (CurrentLink().IsConnected() && !m_PFileMan.m_bRefused) SendReport(window, kReportSpaceFailed, kStyleNoText);
    return 0;
  }
  if (value != record->m_nFreeSize) {
    for (auto& f : m_FolderInfos) f.m_nFreeSize = -1;
    record->m_nFreeSize = value;
  }
  if (out) *out = record->m_nFreeSize;
  return 1;
}

int CPhoneFileManager::GetTotalSpaceOf(std::u16string_view path, int64_t* out, KivHwnd window) {
  if (!CurrentLink().IsConnected()) return 0;
  path = NormaliseFolderPath(path);
  if (path.empty() || !m_FolderInfos.Find(path)) return 0;
  int64_t value = 0;
  if (!m_PFileMan.GetTotalSpace(std::u16string(path), value)) {
    if (CurrentLink().IsConnected() && !m_PFileMan.m_bRefused) SendReport(window, kReportSpaceFailed, kStyleNoText);
    return 0;
  }
  if (out) *out = value;
  return 1;
}

}  // namespace kiv
