#include "java/java_installer.hpp"

#include <algorithm>

#include "link/phone_link.hpp"
#include "platform/messages.hpp"
#include "platform/trace.hpp"
#include "protocol/java_commands.hpp"
#include "protocol/transfer_file.hpp"

namespace kiv {
namespace {

constexpr uint8_t kResultRejected = 0x53;
constexpr uint8_t kResult28 = 0x28;
constexpr uint32_t kPauseAfterSendMs = 200;

// The local file's length; -1 when it cannot be opened.
int64_t LocalLength(std::u16string_view path) {
  TransferFile file;
  if (!file.Open(path, TransferFile::Mode::Read)) return -1;
  return file.Length();
}

}  // namespace

int CJavaInstaller::Connect(int port, KivHwnd messageWindow, int method) {
  CPhoneFileManager& m = m_Manager;
  m.m_PFileMan.ResetFlags();
  if (!CurrentLink().IsConnected()) {
    // A locked phone is a failed connect here: the installer shows no lock message.
    if (m.m_PFileMan.Connect(port, kCableBaudrate, m.m_hWnd, method) != CM_RET_SUCCESS) {
      m.m_bConnected = 0;
      SendReport(messageWindow, kReportConnectFailed, kStyleNoText);
      return 0;
    }
  }
  m.m_bConnected = 1;
  if (m.ReadPhoneInfo()) return 1;
  m.m_PFileMan.Disconnect();
  m.m_bConnected = 0;
  return 0;
}

int CJavaInstaller::IsFileExist(std::u16string_view folder, std::u16string_view name, uint32_t size,
                                uint32_t* value, uint8_t* result) {
  return JavaCommands(m_Manager.m_PFileMan).JavaExistFileCheck(folder, name, size, value, result);
}

int CJavaInstaller::SendFileProc(const std::vector<std::u16string>& localFiles, std::u16string_view name,
                                 std::u16string_view folder, KivHwnd window) {
  Trace("CPhoneFileManager::JavaSendFileProc() called \n");
  CPhoneFileManager& m = m_Manager;
  if (!m.m_bConnected || localFiles.empty()) return 0;
  int64_t total = 0;
  for (const auto& path : localFiles) total += std::max<int64_t>(LocalLength(path), 0);

  std::size_t i = 0;
  for (; i < localFiles.size(); ++i) {
    Progress progress;
    progress.text = name;
    progress.itemCount = static_cast<int32_t>(localFiles.size());
    progress.totalBytes = static_cast<uint32_t>(total);
    SendProgress(window, progress);

    int64_t size = LocalLength(localFiles[i]);
    int64_t freeSpace = 0;
    if (!m.m_PFileMan.GetFreeSpace(folder, freeSpace) || freeSpace < size) return kNoSpace;

    // The refused flag tells about this copy only, not about an earlier request.
    m.m_PFileMan.ResetFlags();
    int copied = m.m_PFileMan.DownloadFile(localFiles[i], folder, name, m.m_nMaxPacketSize, window);
    if (copied == 1) continue;
    // Anything but a success is a failure: a piece the phone rejected (0x53) included. The
    // manager keeps no local file locks or mirror folder, so a lost session leaves nothing
    // to release here.
    if (!m.m_PFileMan.m_bRefused && !m.m_bCancel.load(std::memory_order_relaxed)) {
      uint8_t result = m.m_PFileMan.GetResult();
      if (copied == CPFileMan::kDownloadRejected || result == kResultRejected) {
        SendReport(window, kReportTransferFailed, kStyleNoText);
      } else if (result == kResult28) {
        SendReport(window, kReportTransfer28, kStyleName, folder);
      } else {
        SendReport(window, kReportTransferOther, kStyleName, folder);
      }
    }
    if (copied == CPFileMan::kDownloadCancelled) return kCancelled;
    break;
  }
  if (i != 0) SleepMs(kPauseAfterSendMs);
  return static_cast<int>(i);
}

int CJavaInstaller::Install(std::u16string_view folder, std::u16string_view name) {
  return JavaCommands(m_Manager.m_PFileMan).JavaInstall(folder, name);
}

int CJavaInstaller::DeleteFile(std::u16string_view folder, std::u16string_view name) {
  m_Manager.m_PFileMan.DeleteFile(folder, name);
  return 1;
}

}  // namespace kiv
