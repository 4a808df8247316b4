// The protocol object: the library's only speaker of the phone protocol. It opens and
// closes the link, runs the session handshake and carries every command as request/answer
// transactions.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "filemanager/record_lists.hpp"
#include "kivmod/kivmod.h"
#include "link/packet.hpp"
#include "protocol/codec.hpp"
#include "protocol/type_array.hpp"

namespace kiv {

class PhoneLink;

// Limits of one phone memory, learnt at connection.
struct MemoryRecord {
  uint32_t maxFileName = 0;
  uint32_t maxFolderName = 0;
  uint32_t maxPath = 0;
  uint32_t maxDepth = 1;
};

inline constexpr uint8_t kPacketClass = 0x20;
inline constexpr uint8_t kRefusedClass = 0x00;
inline constexpr uint8_t kRefusedCode = 0x72;
inline constexpr uint8_t RET_FILE_FAIL_NOFREESPACE = 0x27;

// Answer waits that commands set around their exchanges.
inline constexpr uint32_t kWait30s = 30000;
inline constexpr uint32_t kWait60s = 60000;
inline constexpr uint32_t kWaitLong = 1000000;

// How one transaction deviates from the ordinary request.
struct TransactOptions {
  uint32_t timeoutMs = 0;  // 0: keep the link's answer wait
  int32_t flag = 1;
  int cls = -1;            // -1: the object's class byte
  bool classify = true;    // pass the result byte to Classify
};

// The module-wide first-piece flag of the backup agent's transfers; Abort sets it.
std::atomic<int32_t>& FirstPieceFlag();

class CPFileMan {
 public:
  CPFileMan();
  ~CPFileMan();
  CPFileMan(const CPFileMan&) = delete;
  CPFileMan& operator=(const CPFileMan&) = delete;

  // Link operations.
  int Connect(int port, int rate, KivHwnd window, int method);
  void Disconnect();
  bool BTConnect(const uint8_t address[6], int method, KivHwnd window, int mode);
  bool BTDisconnect(int mode);
  void Abort();
  void ResetFlags() { m_bRefused = 0; }
  bool IsSubfolderCapable();
  void SetUnicode(int32_t value);

  std::u16string GetModelName();
  int OpenSession(std::u16string_view text, uint32_t& maxPacketSize, MemoryRecord& internal,
                  MemoryRecord& external, std::u16string& nameBuffer, TypeArray& managerTypes);
  int GetRootFolders(FolderList& folders, std::u16string& rootList);

  int Classify(uint8_t result);
  uint8_t GetResult() const { return m_byResult; }
  const KivTypeArray* GetSupportTypes() const { return m_SupportTypes.View(); }
  static int GetNameLength(std::u16string_view text) { return static_cast<int>(text.size()); }

  // One request/answer exchange with an already packed body. Fails (0) on a send failure,
  // no answer, the refused answer, a missing body or a rejected result byte; the saved
  // answer wait is restored on every path.
  int Transact(uint8_t code, std::span<const uint8_t> body, CGenPacket& answer, const TransactOptions& options = {});
  // Packs format/args and runs the exchange.
  int Transact(uint8_t code, std::string_view format, std::initializer_list<PackArg> args, CGenPacket& answer,
               const TransactOptions& options = {});

  // Fields.
  int32_t m_bRefused = 0;
  std::array<uint8_t, 6> m_BTAddress{};
  std::atomic<int32_t> bAbortLoading{0};
  TypeArray m_SupportTypes;
  int32_t m_nPacketClass = kPacketClass;
  int m_nError = 0;
  uint8_t m_byResult = 1;
  std::u16string m_strTempXmlPath;
  uint8_t m_byVersion = 0;
  std::u16string m_strExtraMemoryName;
  int32_t m_nVersion = 0;

 private:
  PhoneLink& Link();
};

// Module-wide: SetUnicode marks it; the backup agent's commands trace it.
int32_t UnicodeSet();

// Parses the handshake's type list into entries ("ext|mode|size" or "ext|size").
void ParseTypeList(std::u16string_view text, TypeArray& a, TypeArray& b);

}  // namespace kiv
