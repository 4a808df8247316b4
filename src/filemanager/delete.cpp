// Deleting phone files and folders: every folder is emptied first (its contents come
// before it in the walk), each entry is one delete request, and the folder tree forgets the
// entries as they go.
#include <algorithm>
#include <string>
#include <filesystem>
#include <system_error>

#include "filemanager/manager.hpp"
#include "platform/messages.hpp"
#include "platform/local_names.hpp"
#include "link/phone_link.hpp"
#include "platform/shell_path.hpp"
#include "platform/text.hpp"
#include "platform/trace.hpp"
#include "platform/window.hpp"

namespace kiv {
namespace {

constexpr uint8_t kResultBusy = 0x53;
constexpr uint32_t kPauseAfterWalkMs = 200;

std::u16string_view RootIfShort(std::u16string_view path) { return path.size() <= 1 ? std::u16string_view() : path; }

struct Entry {
  std::u16string path;
  bool folder;
};

// Kind of the host's entry i: without a kind list, or past its end, a folder entry.
bool IsFolderEntry(const std::vector<std::u16string>* kinds, std::size_t i) {
  if (!kinds || i >= kinds->size()) return true;
  return ParseLeadingInt((*kinds)[i]) != 0;
}

std::vector<Entry> ClassifyEntries(const std::vector<std::u16string>& sources,
                                   const std::vector<std::u16string>* kinds) {
  std::vector<Entry> entries;
  entries.reserve(sources.size());
  for (std::size_t i = 0; i < sources.size(); ++i) entries.push_back({sources[i], IsFolderEntry(kinds, i)});
  return entries;
}

// The names inside a PC folder, sorted so that the walk does not depend on the order in
// which the file system lists them.
std::vector<std::pair<std::u16string, bool>> LocalContents(std::u16string_view folder) {
  std::vector<std::pair<std::u16string, bool>> out;
  std::error_code error;
  for (std::filesystem::directory_iterator it(LocalPath(folder), error), end; !error && it != end;
       it.increment(error)) {
    std::u16string name = Utf8ToU16(it->path().filename().string());
    if (name == u"." || name == u"..") continue;
    std::error_code kindError;
    out.emplace_back(std::move(name), it->is_directory(kindError));
  }
  std::sort(out.begin(), out.end());
  return out;
}

// A folder entry that is also a folder on the PC gets everything the PC folder holds put
// before it, recursively, so that contents always come before their folder. Inserted
// entries take their kind from the PC: a PC folder is a folder entry, anything else a file.
void ExpandLocalFolders(std::vector<Entry>& entries) {
  std::size_t i = 0;
  while (i < entries.size()) {
    const std::u16string path = entries[i].path;
    bool expanded = i > 0 && CPhoneFileManager::IsStrictlyInside(path, entries[i - 1].path);
    if (!expanded && LocalIsDirectory(path)) {
      std::vector<Entry> inside;
      for (auto& [name, isFolder] : LocalContents(path)) inside.push_back({PathJoin(path, name), isFolder});
      if (!inside.empty()) {
        entries.insert(entries.begin() + static_cast<long>(i), inside.begin(), inside.end());
        continue;  // the inserted entries are walked next
      }
    }
    ++i;
  }
}

}  // namespace

int CPhoneFileManager::DeletePhoneFile(const std::vector<std::u16string>& sources, KivHwnd window,
                                       const std::vector<std::u16string>* kinds) {
  for (std::size_t i = 0; i < sources.size(); ++i) {
    if (!IsFolderEntry(kinds, i)) continue;
    const PhoneFolderInfo* folder = FindFolder(sources[i]);
    if (folder && (folder->m_dwAttr & kFolderFixed)) {
      SendReport(window, kReportFolderFixed, kStyleNoText);
      return 0;
    }
  }
  m_bCancel.store(0, std::memory_order_relaxed);
  int walked = DeletePhoneFileAndDirectoryProc(sources, window, true, kinds);
  if (m_bCancel.load(std::memory_order_relaxed)) {
    SendMessage(window, kMsgCancelled, 0, 0);
    return 0;
  }
  return walked;
}

int CPhoneFileManager::DeletePhoneFileAndDirectoryProc(const std::vector<std::u16string>& sources, KivHwnd window,
                                                       bool progress, const std::vector<std::u16string>* kinds) {
  Trace("CPhoneFileManager::DeletePhoneFileAndDirectoryProc() called \n");
  std::vector<Entry> entries = ClassifyEntries(sources, kinds);
  if (entries.empty()) return 0;

  for (const Entry& entry : entries) {
    if (!entry.folder) continue;
    const PhoneFolderInfo* folder = FindFolder(entry.path);
    if (folder && (folder->m_dwAttr & kFolderFixed)) {
      SendReport(window, kReportFolderFixed, kStyleNoText);
      return 0;
    }
  }
  // Read the folders first so that their files and hidden content are known.
  for (const Entry& entry : entries)
    if (entry.folder && !RefreshFolder(RootIfShort(entry.path), true, window)) return 0;

  ExpandLocalFolders(entries);
  if (!CurrentLink().IsConnected()) return 0;

  const int total = static_cast<int>(entries.size());
  int i = 0;
  for (; i < total; ++i) {
    m_nProcessed = i;
    if (m_bCancel.load(std::memory_order_relaxed)) break;
    const Entry& entry = entries[static_cast<std::size_t>(i)];
    std::u16string folder = entry.folder ? entry.path : PathRemoveFileSpec(entry.path);
    std::u16string name = entry.folder ? std::u16string() : std::u16string(PathFileName(entry.path));
    std::u16string fullName = folder + u'\\' + name;

    if (!entry.folder) {
      const PhoneFileInfo* file = FindFile(folder, name);
      if (file && (file->m_dwAttr & kFileNotWritable)) {
        SendReport(window, kReportFileReadOnly, kStyleName, fullName);
        break;
      }
      const PhoneFolderInfo* holder = FindFolder(folder);
      if (!holder) break;
      if (!(holder->m_dwAttr & kFolderWritable)) {
        SendReport(window, kReportFolderNotWritable, kStyleName, folder);
        break;
      }
    } else {
      bool hiddenSubfolder = std::any_of(m_FolderInfos.begin(), m_FolderInfos.end(), [&](const PhoneFolderInfo& f) {
        return (f.m_dwAttr & kFolderHidden) && IsDirectChild(entry.path, f.m_sFolderName);
      });
      if (hiddenSubfolder) {
        SendReport(window, kReportHiddenSubfolder, kStyleName, entry.path);
        break;
      }
      bool hiddenFile = std::any_of(m_FileInfos.begin(), m_FileInfos.end(), [&](const PhoneFileInfo& f) {
        return (f.m_dwAttr & kFileHidden) && EqualsNoCase(f.m_strFolder, entry.path);
      });
      if (hiddenFile) break;  // the phone keeps such folders; nothing to tell the user
    }

    if (progress) {
      Progress record;
      if (name.empty()) {
        record.text = Utf8ToU16("[" + std::to_string(i + 1) + "/" + std::to_string(total) + "] ") + folder;
      } else {
        record.text = fullName;
      }
      record.itemCount = total;
      SendProgress(window, record);
    }

    if (!m_PFileMan.DeleteFile(folder, name)) {
      if (!m_PFileMan.m_bRefused && !m_bCancel.load(std::memory_order_relaxed)) {
        if (m_PFileMan.GetResult() == kResultBusy)
          SendReport(window, kReportTransferFailed, kStyleNoText);
        else
          SendReport(window, kReportDeleteFailed, kStyleName, fullName);
      }
      break;
    }
    if (!entry.folder) {
      if (auto at = m_FileInfos.IndexOf(folder, name)) m_FileInfos.erase(m_FileInfos.begin() + static_cast<long>(*at));
    } else if (auto at = m_FolderInfos.IndexOf(entry.path)) {
      m_FolderInfos.erase(m_FolderInfos.begin() + static_cast<long>(*at));
    }
  }
  if (i != 0) SleepMs(kPauseAfterWalkMs);
  return i;
}

}  // namespace kiv
