// Deleting phone files and folders: every folder is emptied first (its contents come
// before it in the walk), each entry is one delete request, and the folder tree forgets the
// entries as they go.
#include <algorithm>
#include <optional>
#include <unordered_map>
#include <vector>
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
    std::u16string name = it->path().filename().u16string();
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
    SendToWindow(window, kMsgCancelled, 0, 0);
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

  // The walk's checks and removals cost the same whatever the lists' length: the hidden
  // records are counted per folder once, and deleted records are marked and dropped from the
  // lists in one pass after the walk (one erase per delete re-indexed the lists each time).
  std::unordered_map<std::u16string, int> hiddenFiles, hiddenSubfolders;
  for (const PhoneFileInfo& f : m_FileInfos)
    if (f.m_dwAttr & kFileHidden) ++hiddenFiles[FoldCase(f.m_strFolder)];
  for (const PhoneFolderInfo& f : m_FolderInfos)
    if (f.m_dwAttr & kFolderHidden) ++hiddenSubfolders[FoldCase(PathRemoveFileSpec(f.m_sFolderName))];
  std::vector<char> fileGone(m_FileInfos.size(), 0), folderGone(m_FolderInfos.size(), 0);
  auto liveFile = [&](std::u16string_view folder, std::u16string_view name) -> std::optional<std::size_t> {
    auto at = m_FileInfos.IndexOf(folder, name);
    if (at && fileGone[*at]) return std::nullopt;
    return at;
  };
  auto liveFolder = [&](std::u16string_view path) -> std::optional<std::size_t> {
    auto at = m_FolderInfos.IndexOf(path);
    if (at && folderGone[*at]) return std::nullopt;
    return at;
  };
  auto count = [](const std::unordered_map<std::u16string, int>& counts, std::u16string_view key) {
    auto it = counts.find(FoldCase(key));
    return it == counts.end() ? 0 : it->second;
  };

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
      auto file = liveFile(folder, name);
      if (file && (m_FileInfos[*file].m_dwAttr & kFileNotWritable)) {
        SendReport(window, kReportFileReadOnly, kStyleName, fullName);
        break;
      }
      auto holder = liveFolder(folder);
      if (!holder) break;
      if (!(m_FolderInfos[*holder].m_dwAttr & kFolderWritable)) {
        SendReport(window, kReportFolderNotWritable, kStyleName, folder);
        break;
      }
    } else {
      if (!entry.path.empty() && count(hiddenSubfolders, entry.path) > 0) {
        SendReport(window, kReportHiddenSubfolder, kStyleName, entry.path);
        break;
      }
      if (count(hiddenFiles, entry.path) > 0) break;  // the phone keeps such folders; nothing to tell the user
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
      if (auto at = liveFile(folder, name)) {
        fileGone[*at] = 1;
        if (m_FileInfos[*at].m_dwAttr & kFileHidden) --hiddenFiles[FoldCase(m_FileInfos[*at].m_strFolder)];
      }
    } else if (auto at = liveFolder(entry.path)) {
      folderGone[*at] = 1;
      const PhoneFolderInfo& gone = m_FolderInfos[*at];
      if (gone.m_dwAttr & kFolderHidden) --hiddenSubfolders[FoldCase(PathRemoveFileSpec(gone.m_sFolderName))];
    }
  }
  m_FileInfos.erase_marked(fileGone);
  m_FolderInfos.erase_marked(folderGone);
  if (i != 0) SleepMs(kPauseAfterWalkMs);
  return i;
}

}  // namespace kiv
