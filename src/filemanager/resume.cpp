// The resume record of an interrupted PC-to-phone copy ("ResumeFiles.txt" in the work
// folder, UTF-8) and the resumed download the host asks for.
#include <filesystem>
#include <fstream>
#include <string>

#include "filemanager/manager.hpp"
#include "platform/messages.hpp"
#include "platform/local_names.hpp"
#include "link/phone_link.hpp"
#include "platform/shell_path.hpp"
#include "platform/text.hpp"
#include "platform/workdir.hpp"

namespace kiv {
namespace {

constexpr std::size_t kResumeFileSize = 520;
// The longest resume text the loader takes. A UTF-8 text of two long paths can be well over
// the 520 bytes of a blanked file; a longer file is refused rather than cut, as a cut target
// folder would resume into, or delete from, another folder.
constexpr std::size_t kResumeTextLimit = 64 * 1024;
constexpr intptr_t kAnswerContinue = 1;
constexpr intptr_t kAnswerRestart = 2;
constexpr intptr_t kAnswerDiscard = 3;

std::filesystem::path ResumeFilePath() { return LocalPath(WorkFilePath(u"ResumeFiles.txt")); }

// A resume file holding only spaces holds no details.
void BlankResumeFile() {
  std::ofstream out(ResumeFilePath(), std::ios::binary | std::ios::trunc);
  out << std::string(kResumeFileSize, ' ');
}

// The PC file and the phone folder the record names; false when it holds none.
bool ReadResumeRecord(std::u16string& source, std::u16string& target) {
  std::ifstream in(ResumeFilePath(), std::ios::binary);
  if (!in) return false;
  std::string bytes(kResumeTextLimit + 1, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  if (bytes.size() > kResumeTextLimit) return false;
  std::u16string text = Utf8ToU16(bytes);
  auto tab = text.find(u'\t');
  if (tab == std::u16string::npos) return false;
  source = text.substr(0, tab);
  target = text.substr(tab + 1);
  return !source.empty() && !target.empty();
}

}  // namespace

void CPhoneFileManager::WriteResumeFile(std::u16string_view text) {
  std::ofstream out(ResumeFilePath(), std::ios::binary | std::ios::trunc);
  out << U16ToUtf8(text);
  out.flush();  // on disk before the first piece leaves
}

void CPhoneFileManager::RemoveResumeFile() {
  std::error_code ec;
  std::filesystem::remove(ResumeFilePath(), ec);
}

bool CPhoneFileManager::LoadResumeDetails() {
  // Details of an earlier load do not outlive a resume file that no longer holds them.
  m_strResumeSource.clear();
  m_strResumeTarget.clear();
  m_strResumeName.clear();
  m_nResumeOffset = 0;
  std::u16string source, target;
  if (!ReadResumeRecord(source, target)) return false;
  std::error_code ec;
  auto length = std::filesystem::file_size(LocalPath(source), ec);
  if (ec) length = 0;
  std::u16string name(LocalFileName(source));
  // A copy cut before its first piece reached the phone leaves no phone file: it is
  // continued from the start.
  uint32_t offset = 0;
  if (!m_PFileMan.ExistFileCheck(0, target, name, static_cast<uint32_t>(length), offset)) {
    if (!CurrentLink().IsConnected() || m_PFileMan.m_bRefused) return false;
    offset = 0;
  }
  m_strResumeSource = source;
  m_strResumeTarget = target;
  m_strResumeName = name;
  m_nResumeOffset = offset;
  return true;
}

int CPhoneFileManager::ResumeFileDownload(KivHwnd window) {
  LoadResumeDetails();
  std::error_code ec;
  auto length = std::filesystem::file_size(LocalPath(m_strResumeSource), ec);
  Progress question;
  question.question = kQuestionResume;
  if (m_strResumeSource.empty() || ec || !LocalCanRead(m_strResumeSource)) {
    // A stale record (its PC file gone, or the phone's partial file gone) cannot be resumed,
    // but a host that answers "discard" clears it, with the partial file when it is there.
    std::u16string source, target;
    if (ReadResumeRecord(source, target) && SendProgress(window, question) == kAnswerDiscard) {
      m_PFileMan.DeleteFile(target, std::u16string(LocalFileName(source)));
      BlankResumeFile();
      return 0;
    }
    SendReport(window, kReportResumeSource, kStyleName, m_strResumeSource);
    return 0;
  }
  intptr_t answer = SendProgress(window, question);

  Progress announce;
  announce.text = m_strResumeName;
  announce.itemCount = 1;
  announce.totalBytes = static_cast<uint32_t>(length);
  SendProgress(window, announce);

  if (answer == kAnswerContinue && m_nResumeOffset == 0) answer = kAnswerRestart;  // nothing to continue from
  if (answer == kAnswerContinue) {
    if (m_PFileMan.ResumeAutoDownload(m_strResumeSource, m_strResumeTarget, m_strResumeName, 0, m_nMaxPacketSize,
                                      m_nResumeOffset, window)) {
      BlankResumeFile();
      return 1;
    }
    return 0;
  }
  if (answer == kAnswerRestart) {
    if (m_PFileMan.DownloadFile(m_strResumeSource, m_strResumeTarget, m_strResumeName, m_nMaxPacketSize, window) > 0) {
      BlankResumeFile();
      return 1;
    }
    return 0;
  }
  if (m_PFileMan.DeleteFile(m_strResumeTarget, m_strResumeName)) {
    BlankResumeFile();
  } else if (!m_PFileMan.m_bRefused && !m_bCancel.load(std::memory_order_relaxed)) {
    if (m_PFileMan.GetResult() == 0x53) {
      SendReport(window, kReportTransferFailed, kStyleNoText);
    } else {
      SendReport(window, kReportDeleteFailed, kStyleName, m_strResumeTarget + u'\\' + m_strResumeName);
    }
  }
  SleepMs(50);
  if (!CurrentLink().IsConnected()) Disconnect();
  return 0;
}

}  // namespace kiv
