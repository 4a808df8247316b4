// Sending files to a phone folder: from the PC (downloads) or from elsewhere on the phone
// (phone-side copy and move), with the phone's limits checked before each file, overwrite
// questions to the host, and the resume record of a failed transfer.
#include <filesystem>
#include <string>

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

constexpr intptr_t kAnswerYesToAll = 2;
constexpr intptr_t kAnswerNo = 3;

std::u16string Decimal(uint32_t v) { return Utf8ToU16(std::to_string(v)); }

}  // namespace

int CPhoneFileManager::SendFileToPhone(const std::vector<std::u16string>& sources, std::u16string_view target,
                                       bool phoneSource, bool move, KivHwnd window) {
  if (sources.empty()) return 0;
  int result = SendFileToPhoneProc(sources, target, phoneSource, move, window);
  if (m_bCancel.load(std::memory_order_relaxed)) {
    SendToWindow(window, kMsgCancelled, 0, 0);
    return 0;
  }
  return result;
}

int CPhoneFileManager::SendFileToPhoneProc(std::vector<std::u16string> entries, std::u16string_view targetView,
                                           bool phoneSource, bool move, KivHwnd window) {
  Trace("CPhoneFileManager::SendFileToPhone() called \n");
  const std::u16string target(targetView);
  m_strResume.clear();
  if (!CurrentLink().IsConnected() || entries.empty()) return 0;

  int64_t total = 0;
  for (const auto& entry : entries) {
    if (phoneSource) {
      const PhoneFileInfo* file = FindFileByPath(entry);
      if (!file) return -8;
      total += file->m_nSize;
    } else {
      total += LocalLength(entry);
    }
  }

  bool hiddenAsked = false;
  bool overwriteAll = false;
  std::size_t i = 0;
  for (; i < entries.size(); ++i) {
    const std::u16string& entry = entries[i];
    m_nProcessed = static_cast<int32_t>(i);
    if (m_bCancel.load(std::memory_order_relaxed)) break;
    std::error_code ec;
    bool isFolder = !phoneSource && std::filesystem::is_directory(LocalPath(entry), ec);
    if (!IsListed(target) && !RefreshFolder(target, false, window)) return 0;

    const MemoryRecord& memory = MemoryOf(target);
    const std::u16string name(phoneSource ? PathFileName(entry) : LocalFileName(entry));
    if (name.size() > memory.maxFileName) return -7;
    if (target.size() + 1 + name.size() > memory.maxPath) return -7;

    Progress announce;
    announce.text = name;
    announce.itemCount = static_cast<int32_t>(entries.size());
    announce.totalBytes = static_cast<uint32_t>(total);
    announce.continuing = 0;
    SendProgress(window, announce);

    if (isFolder) {
      if (FindFolder(target)) continue;
      if (memory.maxPath > 0 && target.size() > memory.maxPath) {
        SendReport(window, kReportPathTooLong, kStyleTwoNames, target, Decimal(memory.maxPath));
      } else if (memory.maxFolderName > 0 && name.size() > memory.maxFolderName) {
        SendReport(window, kReportFolderNameTooLong, kStyleTwoNames, name, Decimal(memory.maxFolderName));
      } else {
        SendReport(window, kReportNoRecord, kStyleName, target);
      }
      break;
    }

    const PhoneFolderInfo* folder = FindFolder(target);
    if (!folder) {
      SendReport(window, kReportNoRecord, kStyleName, target);
      break;
    }
    if (!(folder->m_dwAttr & kFolderWritable)) {
      SendReport(window, kReportFolderNotWritable, kStyleNoText, target);
      return 0;
    }

    std::u16string_view extension = PathExtension(name);
    if (!extension.empty()) extension.remove_prefix(1);
    const KivTypeEntry* type = FindType(extension);
    uint32_t rules = type ? type->rules : 0x3;
    uint32_t maxSize = type && type->maxSize ? type->maxSize : 0x7FFFFFFFu;
    if (!(rules & kTypeCopyToPhone)) return -4;
    if (!FolderAcceptsExtension(target, PathExtension(name))) return -5;

    int64_t size = 0;
    if (phoneSource) {
      // An earlier entry may have replaced or moved this one since the records were checked.
      const PhoneFileInfo* file = FindFileByPath(entry);
      if (!file) return -8;
      size = file->m_nSize;
      // A phone file sent into the folder it lives in would be deleted as the file it
      // replaces before being copied onto itself.
      if (EqualsNoCase(PathRemoveFileSpec(entry), target)) {
        SendReport(window, kReportTransferOther, kStyleName, target);
        break;
      }
    } else {
      size = LocalLength(entry);
    }
    if (size > static_cast<int64_t>(maxSize)) {
      SendReport(window, kReportFileTooLarge, kStyleNameValue, extension, {}, static_cast<float>(maxSize));
      break;
    }

    // A cancel that came before the phone's file is replaced changes nothing on the phone.
    if (m_bCancel.load(std::memory_order_relaxed)) {
      m_bCancel.store(0, std::memory_order_relaxed);
      return CPFileMan::kDownloadCancelled;
    }
    bool replaced = false;
    if (const PhoneFileInfo* existing = FindFile(target, name)) {
      uint32_t attr = existing->m_dwAttr;
      Progress question;
      question.question = kQuestionOverwrite;
      if ((attr & kFileHidden) && !hiddenAsked) {
        hiddenAsked = true;
        if (SendProgress(window, question) == kAnswerNo) continue;
      }
      if (attr & kFileNotWritable) {
        SendReport(window, kReportTargetReadOnly, kStyleName, target);
        break;
      }
      if (!overwriteAll) {
        intptr_t answer = SendProgress(window, question);
        if (answer == kAnswerYesToAll) overwriteAll = true;
        if (answer == kAnswerNo) continue;
      }
      if (m_bCancel.load(std::memory_order_relaxed)) {
        m_bCancel.store(0, std::memory_order_relaxed);
        return CPFileMan::kDownloadCancelled;
      }
      std::u16string existingPath = PathJoin(target, name);
      const std::vector<std::u16string> fileKind{u"0"};
      if (!DeletePhoneFileAndDirectoryProc({existingPath}, nullptr, true, &fileKind)) break;
      if (auto index = m_FileInfos.IndexOf(target, name)) m_FileInfos.erase(m_FileInfos.begin() + static_cast<long>(*index));
      replaced = true;
    }

    if (move) {
      const PhoneFileInfo* source = FindFileByPath(entry);
      bool readOnly = source ? (source->m_dwAttr & kFileNotWritable) != 0 : LocalIsReadOnly(entry);
      if (readOnly) {
        SendReport(window, kReportSourceReadOnly, kStyleName, entry);
        break;
      }
    }
    // Past this point a cancel is the transfer's: after a replaced file it keeps the resume
    // record, as the phone's older file is gone.
    if (m_bCancel.load(std::memory_order_relaxed) && !replaced) {
      m_bCancel.store(0, std::memory_order_relaxed);
      return CPFileMan::kDownloadCancelled;
    }

    // Without a link the free size stays unknown (-1), which no file fits.
    int64_t free = -1;
    if (CurrentLink().IsConnected() && !UpdateFreeSize(target, &free, window)) break;
    if (free < size) {
      SendReport(window, kReportNoSpace, kStyleNoText);
      return -6;
    }

    int result = 0;
    if (!phoneSource) {
      // The resume record is on disk before the first piece leaves, so that a copy that dies
      // with the process (a kill, a hang-up) can still be resumed; it goes when the copy is
      // complete, or when nothing was sent because of the PC file or the phone's space.
      m_strResume = entry + u'\t' + target;
      WriteResumeFile(m_strResume);
      m_strResume.clear();
      m_PFileMan.m_strFailure.clear();
      if (m_bCancel.load(std::memory_order_relaxed))
        result = CPFileMan::kDownloadCancelled;
      else
        result = m_PFileMan.DownloadFile(entry, target, name, m_nMaxPacketSize, window);
      if (result == 1 || !m_PFileMan.m_strFailure.empty()) RemoveResumeFile();
    } else {
      std::u16string sourceFolder = PathRemoveFileSpec(entry);
      if (!move) {
        result = m_PFileMan.CopyPhoneFile(sourceFolder, name, target);
        Progress copied;
        copied.text = name;
        copied.bytesDone = static_cast<uint32_t>(size);
        SendProgress(window, copied);
      } else {
        result = m_PFileMan.MovePhoneFile(sourceFolder, name, target);
      }
    }

    if (result < 1) {
      if (!m_PFileMan.m_bRefused && !m_bCancel.load(std::memory_order_relaxed)) {
        uint8_t code = m_PFileMan.GetResult();
        if (code == 0x53) {
          SendReport(window, kReportTransferFailed, kStyleNoText);
        } else if (code == 0x28) {
          SendReport(window, kReportTransfer28, kStyleName, target);
        } else if (!m_PFileMan.m_strFailure.empty()) {
          SendReport(window, kReportTransferOther, kStyleTwoNames, target, m_PFileMan.m_strFailure);
        } else {
          SendReport(window, kReportTransferOther, kStyleName, target);
        }
      }
      m_bCancel.store(0, std::memory_order_relaxed);
      return result;
    }
    if (move) {
      if (auto index = m_FileInfos.IndexOf(PathRemoveFileSpec(entry), PathFileName(entry)))
        m_FileInfos.erase(m_FileInfos.begin() + static_cast<long>(*index));
      if (!phoneSource) LocalRemove(entry);
    }
  }

  // The copies are done: a listing that fails now only leaves the tree older; it does not
  // make the host think the copies failed.
  OpenFolder(target, true, nullptr);
  if (i != 0) SleepMs(200);
  m_bCancel.store(0, std::memory_order_relaxed);
  return static_cast<int>(i);
}

}  // namespace kiv
