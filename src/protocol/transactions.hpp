// The narrow face of the protocol session that each family of commands (listings, files,
// playlists, the backup agent, the Java installer) is written against: one request/answer
// exchange with the session's sequence numbers, answer waits and result checks, and the
// flags that the session keeps for the manager to read.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "link/packet.hpp"
#include "protocol/codec.hpp"

namespace kiv {

inline constexpr uint8_t kPacketClass = 0x20;
inline constexpr uint8_t kRefusedClass = 0x00;
inline constexpr uint8_t kRefusedCode = 0x72;
inline constexpr uint8_t RET_FILE_FAIL_NOFREESPACE = 0x27;

// Answer waits that commands set around their exchanges.
inline constexpr uint32_t kWait30s = 30000;
inline constexpr uint32_t kWait60s = 60000;
inline constexpr uint32_t kWaitLong = 1000000;

// The most that one receive loop takes from the phone (a folder listing, the sound list, a
// playlist's contents, the backup agent's lists): 64 MiB of answer text, the size the XML
// reader accepts as one document. Loops check it while receiving, so that a phone that says
// "more follows" for ever fails the command instead of filling the disk or the memory.
inline constexpr std::size_t kMaxReceivedBytes = std::size_t{64} << 20;

// The count of one receive loop against kMaxReceivedBytes: Take each piece before keeping
// it; false means the loop must stop and fail. Empty pieces that say more follows count as
// well: more than kMaxEmptyPieces of them in a row end the loop.
class ReceiveBudget {
 public:
  static constexpr int kMaxEmptyPieces = 16;
  bool Take(std::size_t bytes) {
    emptyRun_ = bytes == 0 ? emptyRun_ + 1 : 0;
    if (emptyRun_ > kMaxEmptyPieces) return false;
    if (bytes > kMaxReceivedBytes - used_) return false;
    used_ += bytes;
    return true;
  }
  std::size_t Used() const { return used_; }

 private:
  std::size_t used_ = 0;
  int emptyRun_ = 0;
};

// How one transaction deviates from the ordinary request.
struct TransactOptions {
  uint32_t timeoutMs = 0;  // 0: keep the link's answer wait
  int32_t flag = 1;
  int cls = -1;            // -1: the session's class byte
  bool classify = true;    // pass the result byte to Classify
};

class Transactions {
 public:
  // One request/answer exchange with an already packed body. Fails (0) on a send failure,
  // no answer, the refused answer, a missing body or a rejected result byte; the saved
  // answer wait is restored on every path.
  virtual int Transact(uint8_t code, std::span<const uint8_t> body, CGenPacket& answer,
                       const TransactOptions& options = {}) = 0;
  // Packs format/args (little-endian) and runs the exchange.
  int Transact(uint8_t code, std::string_view format, std::initializer_list<PackArg> args, CGenPacket& answer,
               const TransactOptions& options = {}) {
    std::vector<uint8_t> body;
    Pack(body, 0, format, args);
    return Transact(code, body, answer, options);
  }
  // Sends one request (no answer read): 1 sent, 0 failed.
  virtual int SendRequest(uint8_t code, std::span<const uint8_t> body, const TransactOptions& options = {}) = 0;
  // Reads one answer and applies the standard checks: refused answer, body present and,
  // when classify is set, a success result byte.
  virtual int ReadAnswer(CGenPacket& answer, bool classify = true) = 0;
  // Stores the result byte and the error, and tells whether the byte means success.
  virtual int Classify(uint8_t result) = 0;
  // Tells the phone that the transfer of folder\name ends here (toPhone: a PC-to-phone copy).
  virtual int AbortTransfer(std::u16string_view folder, std::u16string_view name, int toPhone) = 0;

  // Set from another thread by the host's cancel; transfers test it between pieces.
  virtual std::atomic<int32_t>& AbortFlag() = 0;
  // The result byte of the last classified answer (1 before any) and the error it gave.
  virtual uint8_t Result() const = 0;
  virtual void SetResult(uint8_t result) = 0;
  virtual int Error() const = 0;
  // The protocol version learnt at connection.
  virtual int32_t Version() const = 0;

 protected:
  ~Transactions() = default;
};

}  // namespace kiv
