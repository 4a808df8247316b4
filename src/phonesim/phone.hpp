// The simulated phone: serves a folder of the PC as the phone's memories and answers every
// request the way a phone does. It is reached in-process (the sim link) or over a byte
// stream (the kivmod-phonesim program).
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/unique_fd.hpp"
#include "phonesim/config.hpp"

namespace phonesim {

struct MailSession;  // phonesim/email.cpp

struct Packet {
  uint8_t cls = 0;
  uint8_t code = 0;
  int32_t flag = 1;
  uint8_t seq = 0;
  std::vector<uint8_t> body;
  bool unanswered = false;  // a request the phone takes without answering
};

struct MediaState;  // playlists and the sound list (media.cpp)

inline constexpr uint8_t kClass = 0x20;
inline constexpr uint8_t kRefusedCode = 0x72;
inline constexpr uint8_t kMailClass = 0x26;

class Phone {
 public:
  Phone(std::filesystem::path root, Config config);
  ~Phone() { Settle(); }
  Phone(const Phone&) = delete;
  Phone& operator=(const Phone&) = delete;

  // The connect identifier exchange: 1 connected, -2 locked.
  int Connect(std::string_view id);
  bool LinkUp() const { return linkUp_; }
  void Disconnect() {
    Settle();
    linkUp_ = false;
    pendingList.reset();
    pendingXml.reset();
    pendingBackupList.reset();
    heldFile.reset();
    media.reset();
    mail.reset();
  }
  // 168 bytes: byte 0 = 1, model name at offset 1 (8-bit, NUL-terminated).
  std::array<uint8_t, 168> PhoneInfo() const;
  int SetBackupTool() { return 1; }

  // One request, one answer; nothing when the link is down or goes down now.
  std::optional<Packet> Handle(const Packet& request);
  // Finishes what the phone put off until its answer was out: a received piece is answered
  // first and written after, so that the PC's next piece is on its way while the phone
  // writes. Whoever hands an answer on calls it once the answer is sent.
  void Settle();

  // An answer to request with the given result byte (class, code, flag and sequence echoed).
  Packet Answer(const Packet& request, uint8_t result) const;

  const Config& config() const { return config_; }
  Config& mutable_config() { return config_; }
  const std::filesystem::path& root() const { return root_; }
  // Requests taken since the link came up, counting the one being answered.
  int packets() const { return packets_; }

  // A folder listing that spans several requests: the folder text it was asked for, its
  // content, and the request number that last took a part of it. A part continues it only
  // when it is asked for in the very next request.
  struct PendingListing {
    std::u16string folder;
    std::vector<std::u16string> entries;  // binary listing: the entry texts in order
    std::u16string xml;                   // XML listing: the document, sent as UTF-16LE
    std::size_t sent = 0;                 // XML listing: bytes already answered
    int packet = 0;
  };
  std::optional<PendingListing> pendingList;  // folder list pages (0x03)
  std::optional<PendingListing> pendingXml;   // XML listing pieces (0x21)
  std::optional<PendingListing> pendingBackupList;  // backup agent's folder file lists
  // The backup agent's directory walk: the directories it offers and the next to hand out.
  std::vector<std::u16string> backupDirs;
  std::size_t backupNext = 0;

  // The file that the last transfer piece read or wrote, kept open for the next piece of the
  // same transfer, as a phone keeps a file open while it is being copied. Only the very next
  // request may use it; anything in between (a rename, a delete) makes the next piece open
  // the file afresh.
  struct HeldFile {
    std::u16string folder, name;  // as the requests name the file
    kiv::UniqueFd fd;
    bool write = false;
    int packet = 0;
    uint64_t size = 0;  // the file's length, a piece still to be written included
    // Reading: the file's bytes from `bufferAt` on, read in runs ahead of the requests.
    // Writing: a piece already answered and still to be written at `bufferAt`.
    std::vector<uint8_t> buffer;
    uint64_t bufferAt = 0;
    bool writeFailed = false;  // a piece written after its answer failed: the next one fails
  };
  std::optional<HeldFile> heldFile;

  // What a playlist or sound list exchange keeps between its requests.
  std::shared_ptr<MediaState> media;
  // The bytes that the files of each memory take (internal memory, memory card), measured
  // by one walk of the served folder when first asked and then kept up to date by the
  // phone's own changes (AdjustUsedBytes), so that the work per received file does not grow
  // with the phone's content. Forgotten at each connection and after any request whose
  // changes are not followed (ForgetUsedBytes), so that files put into the served folder by
  // other means are counted again.
  std::array<std::optional<uint64_t>, 2> usedBytes;
  void ForgetUsedBytes() { usedBytes = {}; }
  // The e-mail message being received (header, body, attachments so far).
  std::shared_ptr<MailSession> mail;

 private:
  Packet Dispatch(const Packet& request);
  void ApplyFaults(Packet& answer, uint8_t code);

  // Session commands.
  Packet Handshake(const Packet& request);
  Packet RootFolders(const Packet& request);
  std::u16string RootListText() const;

  std::filesystem::path root_;
  Config config_;
  bool linkUp_ = false;
  int packets_ = 0;
  std::vector<int> faultHits_;
};

}  // namespace phonesim
