#include "protocol/transfer_file.hpp"

#include <algorithm>
#include <cerrno>

#include "platform/local_names.hpp"
#include "link/packet.hpp"

#ifdef _WIN32
#include <io.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kiv {

bool TransferFile::Open(std::u16string_view path, Mode mode) {
  Close();
  if (path.empty()) return false;
  switch (mode) {
    case Mode::Read: file_ = OpenLocalFile(path, "rb", buffer_); break;
    case Mode::WriteExisting: file_ = OpenLocalFile(path, "r+b", buffer_); break;
    case Mode::CreateOrKeep: file_ = OpenLocalFile(path, "ab", buffer_); break;
    case Mode::CreateNew: file_ = OpenLocalFile(path, "wxb", buffer_); break;
  }
  if (!file_) return false;
  position_ = mode == Mode::CreateOrKeep ? std::nullopt : std::optional<uint64_t>(0);
  return true;
}

void TransferFile::Close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
  position_.reset();
}

int64_t TransferFile::Length() const {
  if (!file_) return -1;
  if (std::fflush(file_) != 0) return -1;
#ifdef _WIN32
  return _filelengthi64(_fileno(file_));
#else
  struct stat st {};
  if (fstat(fileno(file_), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
#endif
}

bool TransferFile::SetLength(uint64_t length) {
  if (!file_ || std::fflush(file_) != 0) return false;
#ifdef _WIN32
  if (_chsize_s(_fileno(file_), static_cast<long long>(length)) != 0) return false;
#else
  if (ftruncate(fileno(file_), static_cast<off_t>(length)) != 0) return false;
#endif
  position_.reset();
  if (std::fseek(file_, 0, SEEK_END) != 0) return false;
  position_ = length;
  return true;
}

bool TransferFile::Seek(uint64_t offset) {
  if (!file_) return false;
  if (position_ == offset) return true;
  position_.reset();
#ifdef _WIN32
  if (_fseeki64(file_, static_cast<long long>(offset), SEEK_SET) != 0) return false;
#else
  if (fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0) return false;
#endif
  position_ = offset;
  return true;
}

bool TransferFile::ReadExact(std::span<uint8_t> into) {
  if (!file_) return false;
  // An empty span may carry no buffer at all; there is nothing to read then.
  if (into.empty()) return true;
  const std::size_t got = std::fread(into.data(), 1, into.size(), file_);
  if (position_) *position_ += got;
  return got == into.size();
}

bool TransferFile::Write(std::span<const uint8_t> bytes) {
  if (!file_) return false;
  if (bytes.empty()) return true;
  const std::size_t put = std::fwrite(bytes.data(), 1, bytes.size(), file_);
  if (position_) *position_ += put;
  return put == bytes.size();
}

int64_t TransferPieceSize(uint32_t maxPacket, std::size_t folderUnits, std::size_t nameUnits) {
  // n: the bytes that the folder ('p') and name ('s') fields take in a body.
  const int64_t n = 2 * static_cast<int64_t>(folderUnits + nameUnits) + 6;
  int64_t size = static_cast<int64_t>(maxPacket) - n - 23 - (n % 4);
  // A body has a 16-bit length: the fields (n + 12 bytes) and the piece must fit in it.
  const int64_t bodyRoom = static_cast<int64_t>(CGenPacket::kMaxBody) - n - 12;
  return std::min(size, bodyRoom);
}

PiecePlan PlanPieces(uint64_t length, uint32_t pieceSize) {
  PiecePlan plan;
  plan.size = pieceSize;
  if (length == 0 || pieceSize == 0) return plan;
  plan.count = static_cast<uint32_t>((length + pieceSize - 1) / pieceSize);
  uint32_t rest = static_cast<uint32_t>(length % pieceSize);
  plan.last = rest ? rest : pieceSize;
  return plan;
}

}  // namespace kiv
