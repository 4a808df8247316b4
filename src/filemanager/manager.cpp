#include "filemanager/manager.hpp"

#include <chrono>
#include <thread>

#include "platform/messages.hpp"
#include "link/phone_link.hpp"
#include "platform/trace.hpp"
#include "platform/window.hpp"

namespace kiv {

void SleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

CPhoneFileManager::CPhoneFileManager() = default;

CPhoneFileManager::~CPhoneFileManager() { ResetState(); }

void CPhoneFileManager::Initialize(KivHwnd window) {
  m_FolderInfos.clear();
  m_FileInfos.clear();
  m_FileTypes.Clear();
  m_hWnd = window;
  m_bConnected = 0;
  m_PFileMan.Abort();
  m_PFileMan.SetUnicode(1);
}

void CPhoneFileManager::InitializeU(KivHwnd window) {
  Initialize(window);
  m_PFileMan.bAbortLoading.store(0, std::memory_order_relaxed);
  m_bCancel.store(0, std::memory_order_relaxed);
  m_bConnected = 0;
}

int CPhoneFileManager::Connect(int port, int, KivHwnd messageWindow, int method, int rate) {
  m_PFileMan.ResetFlags();
  if (!CurrentLink().IsConnected()) {
    int result = m_PFileMan.Connect(port, rate, m_hWnd, method);
    if (result == CM_RET_GLOBALLOCKED) {
      m_bConnected = 0;
      SendToWindow(messageWindow, kMsgLocked, 0, 0);
      return 0;
    }
    if (result != CM_RET_SUCCESS) {
      m_bConnected = 0;
      SendReport(messageWindow, kReportConnectFailed, kStyleNoText);
      return 0;
    }
  }
  m_bConnected = 1;
  if (ReadPhoneInfo() && ReadRootFolders()) return 1;
  m_PFileMan.Disconnect();
  m_bConnected = 0;
  return 0;
}

int CPhoneFileManager::ReadPhoneInfo(std::u16string_view text) {
  m_nMaxPacketSize = 0;
  m_InternalMemory = MemoryRecord{};
  m_ExternalMemory = MemoryRecord{};
  m_strExtraMemory.clear();
  std::u16string nameBuffer;
  if (!m_bConnected) return 0;
  if (!m_PFileMan.OpenSession(text, m_nMaxPacketSize, m_InternalMemory, m_ExternalMemory, nameBuffer, m_FileTypes))
    return 0;
  // The name goes into a buffer of kExtraMemoryNameUnits units with its terminator, whatever
  // length the phone sent.
  if (nameBuffer.size() >= kExtraMemoryNameUnits) nameBuffer.resize(kExtraMemoryNameUnits - 1);
  m_strExtraMemory = nameBuffer;
  return 1;
}

int CPhoneFileManager::ReadRootFolders() {
  m_nProcessed = 0;
  if (!m_bConnected) return 0;
  m_FolderInfos.clear();
  std::vector<RootFolderEntry> roots;
  int result = m_PFileMan.GetRootFolders(roots, m_strRootList);
  bool subfolders = result && m_PFileMan.IsSubfolderCapable();
  for (auto& root : roots) {
    uint32_t attr = kFolderFixed;
    if (subfolders) attr += kFolderSubfolders;
    if (m_PFileMan.m_byVersion == 0) {
      if (root.mode == 1 || root.mode == 3) attr += kFolderCopyToPc;
      if (root.mode == 2 || root.mode == 3) attr += kFolderWritable;
    } else {
      attr += kFolderCopyToPc | kFolderWritable;
    }
    PhoneFolderInfo folder(nullptr, attr, std::move(root.name), 2);
    folder.m_arrTypes = std::move(root.types);
    m_FolderInfos.push_back(std::move(folder));
  }
  return result;
}

void CPhoneFileManager::Disconnect() {
  if (m_bConnected == 1) m_PFileMan.Disconnect();
  m_bConnected = 0;
  SleepMs(500);
  ResetState();
}

void CPhoneFileManager::ResetState() {
  m_FolderInfos.clear();
  m_FileInfos.clear();
  m_FileTypes.Clear();
  m_bConnected = 0;
  m_PFileMan.Abort();
}

void CPhoneFileManager::Abort() {
  Trace("CPhoneFileManager::Abort() \n");
  m_bCancel.store(1, std::memory_order_relaxed);
  m_PFileMan.Abort();
}

bool CPhoneFileManager::BTConnect(const uint8_t address[6], int method, KivHwnd window, int mode) {
  m_PFileMan.ResetFlags();
  if (!m_PFileMan.BTConnect(address, method, window, mode)) return false;
  m_bConnected = 1;
  if (ReadPhoneInfo() && ReadRootFolders()) return true;
  m_PFileMan.BTDisconnect(mode);
  m_bConnected = 0;
  return false;
}

int CPhoneFileManager::BTDisconnect(int mode) { return m_PFileMan.BTDisconnect(mode) ? 1 : 0; }

int CPhoneFileManager::SPPConnect(const uint8_t address[6], int method, KivHwnd window) {
  m_PFileMan.ResetFlags();
  if (!m_PFileMan.BTConnect(address, method, window, kModeClassic)) return 0;
  m_bConnected = 1;
  if (ReadPhoneInfo()) return 1;
  m_PFileMan.BTDisconnect(kModeClassic);
  m_bConnected = 0;
  return 0;
}

int CPhoneFileManager::SPPDisconnect(int keep) {
  if (!m_PFileMan.BTDisconnect(kModeClassic)) return 0;
  m_bConnected = 0;
  if (keep) return 1;
  SleepMs(500);
  InitializeU(m_hWnd);
  return 1;
}

namespace {

std::atomic<CPhoneFileManager*> g_current{nullptr};

// Destroyed when the library unloads, which destroys the last current manager; the current
// pointer is emptied first so that a late call from another thread finds no manager.
struct ManagerHolder {
  std::unique_ptr<CPhoneFileManager> manager;
  ~ManagerHolder() { g_current.store(nullptr, std::memory_order_release); }
};

std::unique_ptr<CPhoneFileManager>& Holder() {
  static ManagerHolder holder;
  return holder.manager;
}

}  // namespace

CPhoneFileManager* CurrentManager() { return g_current.load(std::memory_order_acquire); }

CPhoneFileManager& NewCurrentManager() {
  auto manager = std::make_unique<CPhoneFileManager>();
  g_current.store(manager.get(), std::memory_order_release);
  Holder() = std::move(manager);
  return *Holder();
}

void DestroyCurrentManager() {
  g_current.store(nullptr, std::memory_order_release);
  Holder().reset();
}

}  // namespace kiv
