#include "protocol/java_commands.hpp"

#include "protocol/answer_reader.hpp"

namespace kiv {
namespace {

constexpr uint8_t kCmdJavaExistCheck = 0x10;
constexpr uint8_t kCmdJavaInstall = 0x23;

}  // namespace

int JavaCommands::JavaExistFileCheck(std::u16string_view folder, std::u16string_view name, uint32_t size,
                                     uint32_t* value, uint8_t* result) {
  if (session_.Version() < 3) return 0;
  CGenPacket answer;
  // The result byte goes to the host before it is judged, so the exchange does not classify.
  if (!session_.Transact(kCmdJavaExistCheck, "psddd", {folder, name, size, 0u, 0u}, answer, {.classify = false}))
    return 0;
  const uint8_t byte = answer.Body()[0];
  if (result) *result = byte;
  if (!session_.Classify(byte)) return 0;
  uint32_t held = 0;
  if (!AnswerReader(answer).U32(held)) return 0;
  if (value) *value = held;
  return 1;
}

int JavaCommands::JavaInstall(std::u16string_view folder, std::u16string_view name) {
  session_.SetResult(1);
  CGenPacket answer;
  return session_.Transact(kCmdJavaInstall, "ps", {folder, name}, answer) ? 1 : 0;
}

}  // namespace kiv
