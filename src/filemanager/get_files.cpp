// Copying phone files into one PC folder: the host's list is checked against the folder
// tree, folders are expanded into their known files that the PC lacks, and each file is
// fetched with one upload.
#include "filemanager/manager.hpp"
#include "platform/messages.hpp"
#include "platform/local_names.hpp"
#include "link/phone_link.hpp"
#include "platform/shell_path.hpp"
#include "platform/text.hpp"
#include "platform/trace.hpp"
#include "platform/window.hpp"
#include "protocol/transfer_file.hpp"

namespace kiv {
namespace {

constexpr uint8_t kResultBusy = 0x53;
// Below this sum of folder and name lengths the plain form of a local path is used.
constexpr std::size_t kShortPathLimit = 260;

std::u16string_view RootIfShort(std::u16string_view path) { return path.size() <= 1 ? std::u16string_view() : path; }

std::u16string JoinWithBackslash(std::u16string_view a, std::u16string_view b) {
  std::u16string out(a);
  out += u'\\';
  out += b;
  return out;
}

std::u16string DestinationPath(std::u16string_view target, std::u16string_view name) {
  std::u16string joined = JoinWithBackslash(target, name);
  if (target.size() + name.size() < kShortPathLimit) return joined;
  return u"\\\\?\\" + joined;
}


}  // namespace

const KivTypeEntry* CPhoneFileManager::FindType(std::u16string_view extension) const {
  for (const KivTypeEntry& entry : m_FileTypes.Entries())
    if (EqualsNoCase(HostView(entry.name), extension)) return &entry;
  return nullptr;
}

uint32_t CPhoneFileManager::FileTypeRules(std::u16string_view extension) const {
  const KivTypeEntry* type = FindType(extension);
  return type ? type->rules : 3;
}

int CPhoneFileManager::AssureUploadCompleted(const std::vector<std::u16string>& sources, KivHwnd window,
                                             const std::u16string* target, int32_t* completed) {
  Trace("CPhoneFileManager::AssureUploadCompleted() called \n");
  if (sources.empty()) return 0;
  for (const std::u16string& entry : sources) {
    if (!LocalIsDirectory(entry)) {
      if (!FindFileByPath(entry)) {
        SendReport(window, kReportNoRecord, kStyleName, PathFileName(entry));
        return 0;
      }
      continue;
    }
    if (!FindFolder(entry)) return 0;
    if (!IsFullyPresent(entry, true)) break;  // the rest is left to the expansion
  }
  m_bCancel.store(0, std::memory_order_relaxed);
  int done = GetFileFromPhoneProc(sources, window, target ? std::u16string_view(*target) : std::u16string_view());
  bool cancelled = m_bCancel.load(std::memory_order_relaxed) != 0;
  if (!done && cancelled) SendToWindow(window, kMsgCancelled, 0, 0);
  if (target && completed) *completed = 1;
  if (!done || cancelled) return 0;
  return m_nProcessed;
}

int CPhoneFileManager::GetFileFromPhoneProc(const std::vector<std::u16string>& sources, KivHwnd window,
                                            std::u16string_view target) {
  std::vector<std::u16string> items = sources;
  if (items.empty() || !CurrentLink().IsConnected()) return 0;
  // Without a PC folder every destination would fall outside any folder the host chose.
  if (target.empty()) return 0;
  // Copies that a killed process left under their temporary names go first.
  RemoveStaleTemporaries(target);

  // Expansion: a folder becomes the files below it that the PC lacks (hidden ones left
  // out), each inserted right after the folder entry; a file stays when it is known.
  int64_t totalBytes = 0;
  for (std::size_t i = 0; i < items.size();) {
    if (LocalIsDirectory(items[i])) {
      std::u16string folder(RootIfShort(items[i]));
      std::size_t inserted = 0;
      for (const PhoneFileInfo& file : m_FileInfos) {
        if (!PathIsPrefix(folder, file.m_strFolder) || file.m_nLocalSize >= file.m_nSize) continue;
        if (file.m_dwAttr & kFileHidden) continue;
        totalBytes += file.m_nSize;
        items.insert(items.begin() + static_cast<long>(i) + 1, JoinWithBackslash(file.m_strFolder, file.m_strName));
        ++inserted;
      }
      items.erase(items.begin() + static_cast<long>(i));
      i += inserted;
    } else if (const PhoneFileInfo* file = FindFileByPath(items[i])) {
      totalBytes += file->m_nSize;
      ++i;
    } else {
      items.erase(items.begin() + static_cast<long>(i));
    }
  }

  bool skipped = false;
  for (std::size_t i = 0; i < items.size(); ++i) {
    m_nProcessed = static_cast<int32_t>(i + 1);
    if (m_bCancel.load(std::memory_order_relaxed)) return 0;
    const std::u16string& entry = items[i];
    std::u16string_view name = PathFileName(entry);
    std::u16string folder = PathRemoveFileSpec(entry);
    std::u16string destination = DestinationPath(target, name);

    const PhoneFileInfo* file = FindFile(folder, name);
    if (!file) continue;
    const PhoneFolderInfo* folderRecord = FindFolder(folder);
    if (!folderRecord) return 0;
    if (!(folderRecord->m_dwAttr & kFolderCopyToPc)) {
      SendReport(window, kReportFolderNotToPc, kStyleName, folder);
      return 0;
    }

    Progress progress;
    progress.text = entry;
    progress.itemCount = static_cast<int32_t>(items.size());
    progress.totalBytes = static_cast<uint32_t>(totalBytes);
    progress.continuing = 0;
    SendProgress(window, progress);

    std::u16string_view extension = PathExtension(name);
    if (!extension.empty() && extension.front() == u'.') extension.remove_prefix(1);
    if (!(FileTypeRules(extension) & kTypeCopyToPc)) {
      SendReport(window, kReportTypeNotToPc, kStyleName, extension);
      return 0;
    }
    // A name that would leave the PC folder is reported (which and why) and left out; the
    // other files are still copied.
    if (std::string why = UnsafeLocalNameReason(name); !why.empty()) {
      Trace("CPhoneFileManager::GetFileFromPhoneProc() refuses a name that would leave the PC folder \n");
      SendReport(window, kReportTransferFailed, kStyleTwoNames, entry,
                 u"the name is unsafe for the PC: " + Utf8ToU16(why));
      skipped = true;
      continue;
    }

    // A failed copy leaves the PC file as it was (the copy is written beside it under a
    // temporary name); the report's second text says why when the PC side or a damaged
    // piece is the cause.
    int uploaded = 0;
    try {
      uploaded = m_PFileMan.UploadFile(destination, folder, name, window);
    } catch (const LocalFileError& error) {
      SendReport(window, kReportTransferFailed, kStyleTwoNames, entry, Utf8ToU16(error.what()));
      return 0;
    }
    if (!uploaded) {
      if (!CurrentLink().IsConnected()) return 0;
      if (!m_PFileMan.m_bRefused && !m_bCancel.load(std::memory_order_relaxed)) {
        if (!m_PFileMan.m_strFailure.empty())
          SendReport(window, kReportTransferFailed, kStyleTwoNames, entry, m_PFileMan.m_strFailure);
        else if (m_PFileMan.GetResult() == kResultBusy)
          SendReport(window, kReportTransferFailed, kStyleNoText);
        else
          SendReport(window, kReportTransferFailed, kStyleName, entry);
      }
      return 0;
    }
    if (!CurrentLink().IsConnected()) return 0;
    if (PhoneFileInfo* copied = FindFile(folder, name)) copied->m_nLocalSize = copied->m_nSize;
  }
  return skipped ? 0 : 1;  // every file was handled; a skipped one makes the call fail
}

}  // namespace kiv
