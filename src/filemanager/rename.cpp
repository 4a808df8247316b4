// Renaming a phone file or folder and creating a phone folder: the memory's limits and the
// folder's rights are checked first, one request does the change, and the folder tree is
// updated in place so that nothing has to be read again.
#include "filemanager/manager.hpp"
#include "platform/messages.hpp"
#include "link/phone_link.hpp"
#include "platform/shell_path.hpp"
#include "platform/text.hpp"
#include "platform/trace.hpp"

namespace kiv {
namespace {

constexpr uint8_t kResultBusy = 0x53;
// In a type's rule word: files of the type may change their extension when renamed.
constexpr uint32_t kTypeExtensionMayChange = 0x1;

std::u16string_view RootIfShort(std::u16string_view path) { return path.size() <= 1 ? std::u16string_view() : path; }

std::u16string_view WithoutDot(std::u16string_view extension) {
  if (!extension.empty() && extension.front() == u'.') extension.remove_prefix(1);
  return extension;
}

// The path a folder gets when its last component becomes newName.
std::u16string RenamedFolderPath(std::u16string_view oldPath, std::u16string_view newName) {
  std::u16string parent = PathRemoveFileSpec(oldPath);
  if (parent.empty()) return std::u16string(newName);
  return parent + u'\\' + std::u16string(newName);
}

// path with its leading oldPrefix (a whole-component prefix) replaced by newPrefix.
std::u16string Reprefix(std::u16string_view path, std::u16string_view oldPrefix, std::u16string_view newPrefix) {
  return std::u16string(newPrefix) + std::u16string(path.substr(oldPrefix.size()));
}

int CountComponents(std::u16string_view path) {
  return static_cast<int>(SplitAny(path, u"\\").size());
}

}  // namespace

int CPhoneFileManager::RenamePhoneFile(std::u16string_view oldPathIn, std::u16string_view oldName,
                                       std::u16string_view newName, KivHwnd window, bool isFolder) {
  Trace("CPhoneFileManager::RenamePhoneFile() called \n");
  const std::u16string oldPath(RootIfShort(oldPathIn));
  const std::u16string holder = isFolder ? oldPath : PathRemoveFileSpec(oldPath);

  // The phone's limits; a name or path over them is refused without a report.
  if (!isFolder) {
    const MemoryRecord& memory = MemoryOf(holder);
    if (newName.size() > memory.maxFileName) return 0;
    if (holder.size() + 1 + newName.size() > memory.maxPath) return 0;
  } else {
    const MemoryRecord& memory = MemoryOf(oldPath);
    if (newName.size() > memory.maxFolderName) return 0;
    if (RenamedFolderPath(oldPath, newName).size() > memory.maxPath) return 0;
  }

  const PhoneFolderInfo* folder = FindFolder(holder);
  if (!folder) return 0;
  if (!(folder->m_dwAttr & kFolderWritable)) {
    SendReport(window, kReportFolderNotWritable, kStyleName, holder);
    return 0;
  }

  if (!isFolder) {
    std::u16string_view oldExtension = WithoutDot(PathExtension(oldName));
    std::u16string_view newExtension = WithoutDot(PathExtension(newName));
    if (!(FileTypeRules(oldExtension) & kTypeExtensionMayChange) && !EqualsNoCase(oldExtension, newExtension)) {
      SendReport(window, kReportExtensionChange, kStyleName, oldExtension);
      return 0;
    }
    if (!FolderAcceptsExtension(holder, newExtension)) {
      SendReport(window, kReportExtensionRefused, kStyleTwoNames, newExtension, holder);
      return 0;
    }
  }

  m_bCancel.store(0, std::memory_order_relaxed);
  return isFolder ? RenamePhoneFileProc(oldPath, {}, newName, window)
                  : RenamePhoneFileProc(holder, oldName, newName, window);
}

int CPhoneFileManager::RenamePhoneFileProc(std::u16string_view folderPath, std::u16string_view oldName,
                                           std::u16string_view newName, KivHwnd window) {
  m_nProcessed = 0;
  if (folderPath.empty() || newName.empty()) return 0;
  const bool isFolder = oldName.empty();
  if (!CurrentLink().IsConnected()) return 0;
  if (isFolder) {
    const PhoneFolderInfo* folder = FindFolder(folderPath);
    if (!folder || !(folder->m_dwAttr & kFolderRenamable)) return 0;
  }

  if (!m_PFileMan.RenameFile(folderPath, oldName, newName)) {
    if (!m_PFileMan.m_bRefused && !m_bCancel.load(std::memory_order_relaxed)) {
      if (m_PFileMan.GetResult() == kResultBusy)
        SendReport(window, kReportTransferFailed, kStyleNoText);
      else
        SendReport(window, kReportRenameFailed, kStyleName, isFolder ? folderPath : oldName);
    }
    return 0;
  }

  if (!isFolder) {
    if (PhoneFileInfo* file = FindFile(folderPath, oldName)) {
      file->m_strName = std::u16string(newName);
      m_FileInfos.Reindex();
    }
    return 1;
  }

  // The folder and everything known below it move to the new path.
  const std::u16string oldPath(folderPath);
  const std::u16string newPath = RenamedFolderPath(oldPath, newName);
  for (PhoneFolderInfo& folder : m_FolderInfos) {
    if (!PathIsPrefix(oldPath, folder.m_sFolderName)) continue;
    folder.m_sFolderName = Reprefix(folder.m_sFolderName, oldPath, newPath);
    std::u16string parent = PathRemoveFileSpec(folder.m_sFolderName);
    if (!parent.empty()) folder.m_strUpFolderName = std::move(parent);  // a top-level folder keeps "Root"
  }
  for (PhoneFileInfo& file : m_FileInfos)
    if (PathIsPrefix(oldPath, file.m_strFolder)) file.m_strFolder = Reprefix(file.m_strFolder, oldPath, newPath);
  m_FolderInfos.Reindex();
  m_FileInfos.Reindex();
  return 1;
}

int CPhoneFileManager::CreatePhoneDirectory(std::u16string_view pathIn, KivHwnd window) {
  Trace("CPhoneFileManager::CreatePhoneDirectory() called \n");
  m_nProcessed = 0;
  if (pathIn.empty() || !CurrentLink().IsConnected()) return 0;
  const MemoryRecord& memory = MemoryOf(pathIn);
  const int maxDepth = static_cast<int>(memory.maxDepth);
  std::u16string_view name = pathIn.substr(pathIn.find_last_of(u'\\') + 1);
  if (name.size() > memory.maxFolderName || pathIn.size() > memory.maxPath) return 0;
  if (CountComponents(pathIn) > maxDepth) return 0;

  const std::u16string path(RootIfShort(pathIn));
  if (!m_PFileMan.CreateFolder(path)) {
    if (!m_PFileMan.m_bRefused && !m_bCancel.load(std::memory_order_relaxed) &&
        m_PFileMan.GetResult() == kResultBusy)
      SendReport(window, kReportTransferFailed, kStyleNoText);
    return 0;
  }

  PhoneFolderInfo record(FindFolder(PathRemoveFileSpec(path)), 0x000B, path, maxDepth);
  uint32_t attributes = record.m_dwAttr;
  uint32_t time1 = 0, time2 = 0, time3 = 0;
  m_PFileMan.GetFileInfo(path, {}, nullptr, time1, time2, time3, attributes);
  // 0x0020: the new folder is empty, so it counts as listed and its subfolders as opened.
  record.SetAttributes(attributes | kFolderPreListed, maxDepth);
  record.m_nFreeSize = -1;
  m_FolderInfos.push_back(std::move(record));
  return 1;
}

}  // namespace kiv
