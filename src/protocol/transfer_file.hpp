// The PC side of a file transfer: an open local file owned by one transfer, and the
// exception a local file error becomes when it must leave a transfer.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kiv {

// A local file error that leaves a transfer. The manager's procedures catch it; it never
// crosses the C boundary.
class LocalFileError : public std::runtime_error {
 public:
  explicit LocalFileError(const std::string& what) : std::runtime_error(what) {}
};

// A local file opened for one transfer; closed when it goes out of scope. A transfer either
// reads or writes its file, never both on one open.
class TransferFile {
 public:
  enum class Mode {
    Read,           // existing file, reading
    WriteExisting,  // existing file, writing, never created
    CreateOrKeep,   // writing, created when missing, kept (not truncated) when present
    CreateNew,      // writing a new file; fails when the name is taken (also by a link)
  };

  TransferFile() = default;
  TransferFile(const TransferFile&) = delete;
  TransferFile& operator=(const TransferFile&) = delete;
  TransferFile(TransferFile&& other) noexcept
      : file_(other.file_), buffer_(std::move(other.buffer_)), position_(other.position_) {
    other.file_ = nullptr;
  }
  TransferFile& operator=(TransferFile&& other) noexcept {
    if (this != &other) {
      Close();
      file_ = other.file_;
      buffer_ = std::move(other.buffer_);
      position_ = other.position_;
      other.file_ = nullptr;
    }
    return *this;
  }
  ~TransferFile() { Close(); }

  // Opens the host's local path (UTF-16; "\\" separates components on every system).
  bool Open(std::u16string_view path, Mode mode);
  bool IsOpen() const { return file_ != nullptr; }
  // Hands buffered writes to the system; false when that failed.
  bool Flush() { return file_ && std::fflush(file_) == 0; }
  void Close();

  // Length in bytes; -1 when it cannot be told.
  int64_t Length() const;
  // Cuts or extends the file to length bytes and moves the position to its end.
  bool SetLength(uint64_t length);
  bool Seek(uint64_t offset);
  // Reads exactly into.size() bytes at the current position.
  bool ReadExact(std::span<uint8_t> into);
  // Writes all bytes at the current position (buffered until Flush or Close).
  bool Write(std::span<const uint8_t> bytes);

 private:
  std::FILE* file_ = nullptr;
  // The stream's buffer (glibc ignores a size given without one); it outlives the stream.
  std::unique_ptr<char[]> buffer_;
  // The stream's position when known; a seek to it is skipped, so that pieces read one
  // after another stay within the stream's buffer instead of costing a system call each.
  std::optional<uint64_t> position_;
};

// The room that one piece of a transfer leaves for file data. folderUnits and nameUnits
// are the UTF-16 lengths of the two texts the piece's body carries; the result is 0 or
// less when the packet size leaves no room.
int64_t TransferPieceSize(uint32_t maxPacket, std::size_t folderUnits, std::size_t nameUnits);

// How a length splits into pieces of pieceSize bytes (pieceSize > 0).
struct PiecePlan {
  uint32_t size = 0;   // bytes of every piece but the last
  uint32_t count = 1;  // at least 1, also for nothing to send
  uint32_t last = 0;   // bytes of the last piece
};
PiecePlan PlanPieces(uint64_t length, uint32_t pieceSize);

}  // namespace kiv
