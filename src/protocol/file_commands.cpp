// Single-request commands that change or probe one phone entry: abort a transfer, delete,
// rename, create a folder, copy or move between phone folders, and the exist check.
#include "protocol/answer_reader.hpp"
#include "protocol/pfileman.hpp"

namespace kiv {
namespace {

constexpr uint8_t kCmdAbortTransfer = 0x07;
constexpr uint8_t kCmdDeleteFile = 0x09;
constexpr uint8_t kCmdRenameFile = 0x0A;
constexpr uint8_t kCmdCreateFolder = 0x0B;
constexpr uint8_t kCmdCopyFile = 0x0C;
constexpr uint8_t kCmdMoveFile = 0x0D;
constexpr uint8_t kCmdExistCheck = 0x10;

}  // namespace

int CPFileMan::AbortTransfer(std::u16string_view folder, std::u16string_view name, int toPhone) {
  CGenPacket answer;
  return Transact(kCmdAbortTransfer, "bps", {uint32_t{toPhone ? 1u : 2u}, folder, name}, answer);
}

int CPFileMan::DeleteFile(std::u16string_view folder, std::u16string_view name) {
  m_byResult = 1;
  CGenPacket answer;
  return Transact(kCmdDeleteFile, "ps", {folder, name}, answer, {.timeoutMs = kWaitLong});
}

int CPFileMan::RenameFile(std::u16string_view folder, std::u16string_view oldName, std::u16string_view newName) {
  m_byResult = 1;
  CGenPacket answer;
  return Transact(kCmdRenameFile, "pss", {folder, oldName, newName}, answer);
}

int CPFileMan::CreateFolder(std::u16string_view path) {
  m_byResult = 1;
  CGenPacket answer;
  // Only 0x01 means the folder was made; the other success codes do not. The answer's byte
  // is not kept as the last result, which stays 1.
  if (!Transact(kCmdCreateFolder, "p", {path}, answer, {.classify = false})) return 0;
  return answer.Body()[0] == 0x01 ? 1 : 0;
}

int CPFileMan::CopyPhoneFile(std::u16string_view folder, std::u16string_view name, std::u16string_view target) {
  m_byResult = 1;
  CGenPacket answer;
  return Transact(kCmdCopyFile, "psp", {folder, name, target}, answer, {.timeoutMs = kWaitLong});
}

int CPFileMan::MovePhoneFile(std::u16string_view folder, std::u16string_view name, std::u16string_view target) {
  m_byResult = 1;
  CGenPacket answer;
  return Transact(kCmdMoveFile, "psp", {folder, name, target}, answer, {.timeoutMs = kWaitLong});
}

int CPFileMan::ExistFileCheck(uint32_t /*unused*/, std::u16string_view folder, std::u16string_view name,
                              uint32_t length, uint32_t& out) {
  if (m_nVersion < 3) return 0;
  CGenPacket answer;
  if (!Transact(kCmdExistCheck, "psddd", {folder, name, length, 0u, 0u}, answer)) return 0;
  uint32_t held = 0;
  if (!AnswerReader(answer).U32(held)) return 0;
  out = held;
  return 1;
}

}  // namespace kiv
