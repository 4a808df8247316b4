// The phone's side of file transfers. Uploads (phone to PC): the phone answers the start
// request and every acknowledgement with the next piece of the file, sized from its packet
// size, and marks the last piece with code 0xC6. Downloads (PC to phone): pieces are written
// into the served file at their offsets as they arrive, so that a file cut off by a lost
// link stays on the phone at the length received and a resumed download continues it.
// Each request names the file and the offset; between the pieces of one transfer the phone
// keeps the file open, reads it in runs and writes each received piece once it has
// answered it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "phonesim/body.hpp"
#include "phonesim/families.hpp"
#include "phonesim/results.hpp"
#include "phonesim/transfer_paths.hpp"
#include "platform/unique_fd.hpp"

namespace phonesim {
namespace {

namespace fs = std::filesystem;

constexpr uint8_t kDownloadPiece = 0x05;
constexpr uint8_t kUploadStart = 0x06;
constexpr uint8_t kAbort = 0x07;
constexpr uint8_t kFileQuery = 0x0E;
constexpr uint8_t kUploadAck = 0x20;
constexpr uint8_t kResumePiece = 0x85;
constexpr uint8_t kResumeAnnounce = 0x8E;
constexpr uint8_t kLastPieceCode = 0xC6;

// Result bytes of this phone.


struct FileClose {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileClose>;

File OpenFile(const fs::path& path, const char* mode) { return File(std::fopen(path.c_str(), mode)); }

// The folder ('p') and name ('s') texts that start transfer bodies.
bool ReadFolderAndName(BodyReader& r, std::u16string& folder, std::u16string& name) {
  return r.Text(1, false, folder) && r.Text(1, false, name);
}

void WriteFolderAndName(BodyWriter& w, std::u16string_view folder, std::u16string_view name) {
  w.Byte(static_cast<uint8_t>(folder.size() + 1));
  w.Text(folder);
  w.Byte(static_cast<uint8_t>(name.size() + 1));
  w.Text(name);
}

// Bytes read from a file at a time while it is copied to the PC piece by piece.
constexpr std::size_t kReadRun = 256 * 1024;

// The held file for a piece of a transfer: the one held when the request just before was a
// piece of the same file in the same direction, else the file opened now and held for the
// next piece. Null, with the result byte to answer in failure, when it cannot be opened.
Phone::HeldFile* PieceFile(Phone& phone, std::u16string_view folder, std::u16string_view name, bool write,
                           uint8_t& failure) {
  auto& held = phone.heldFile;
  if (held && held->packet + 1 == phone.packets() && held->write == write && held->folder == folder &&
      held->name == name) {
    held->packet = phone.packets();
    return &*held;
  }
  held.reset();
  auto path = MapPhonePath(phone, folder, name);
  if (!path) {
    failure = kBadRequest;
    return nullptr;
  }
  kiv::UniqueFd fd(::open(path->c_str(), (write ? O_WRONLY : O_RDONLY) | O_CLOEXEC | O_NONBLOCK));
  if (!fd.Valid()) {
    const bool missing = errno == ENOENT || errno == ENOTDIR || errno == EISDIR;
    failure = write && !missing ? kIoError : kNoFile;
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    failure = kNoFile;
    return nullptr;
  }
  Phone::HeldFile file;
  file.folder = folder;
  file.name = name;
  file.fd = std::move(fd);
  file.write = write;
  file.packet = phone.packets();
  file.size = static_cast<uint64_t>(st.st_size);
  held = std::move(file);
  return &*held;
}

// Copies into.size() bytes at offset out of the held file's run, reading a new run there
// first when the run does not hold them.
bool ReadHeld(Phone::HeldFile& held, uint64_t offset, std::span<uint8_t> into) {
  if (offset < held.bufferAt || offset + into.size() > held.bufferAt + held.buffer.size()) {
    held.buffer.resize(std::max(kReadRun, into.size()));
    const ssize_t n = ::pread(held.fd.Get(), held.buffer.data(), held.buffer.size(), static_cast<off_t>(offset));
    held.buffer.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    held.bufferAt = offset;
    if (held.buffer.size() < into.size()) return false;
  }
  std::copy_n(held.buffer.begin() + static_cast<std::ptrdiff_t>(offset - held.bufferAt), into.size(), into.begin());
  return true;
}

// One piece answer of an upload: the echoed texts, the file's length, the piece's offset, a
// piece counter that the PC hands back, and up to one packet's worth of the file.
Packet UploadPiece(Phone& phone, const Packet& request, std::u16string_view folder, std::u16string_view name,
                   uint32_t offset, uint32_t counter) {
  uint8_t failure = kNoFile;
  Phone::HeldFile* held = PieceFile(phone, folder, name, false, failure);
  if (!held) return phone.Answer(request, failure);
  const uint64_t size = held->size;
  if (size > UINT32_MAX) return phone.Answer(request, kIoError);
  if (offset > size) return phone.Answer(request, kBadRequest);

  BodyWriter head;
  head.Byte(kOk);
  WriteFolderAndName(head, folder, name);
  head.U32(static_cast<uint32_t>(size));
  head.U32(offset);
  head.U32(counter);
  const std::size_t fields = head.Size();
  const std::size_t packet = std::min<std::size_t>(phone.config().maxPacket, kHeader + kMaxBody);
  if (packet <= kHeader + fields) return phone.Answer(request, kBadRequest);
  const std::size_t room = packet - kHeader - fields;
  const std::size_t piece = std::min<uint64_t>(room, size - offset);

  Packet answer = phone.Answer(request, kOk);
  answer.body = head.Take();
  answer.body.resize(fields + piece);
  if (piece && !ReadHeld(*held, offset, std::span(answer.body).subspan(fields)))
    return phone.Answer(request, kIoError);
  if (offset + piece < size) return answer;
  answer.code = kLastPieceCode;
  phone.heldFile.reset();  // the copy is complete
  return answer;
}

Packet StartUpload(Phone& phone, const Packet& request) {
  BodyReader r(request.body);
  std::u16string folder, name;
  if (!ReadFolderAndName(r, folder, name)) return phone.Answer(request, kBadRequest);
  phone.heldFile.reset();  // a new upload reads the file as it is now
  return UploadPiece(phone, request, folder, name, 0, 1);
}

Packet AcknowledgeUpload(Phone& phone, const Packet& request) {
  BodyReader r(request.body);
  std::u16string folder, name;
  uint32_t total = 0, received = 0, counter = 0;
  if (!ReadFolderAndName(r, folder, name) || !r.U32(total) || !r.U32(received) || !r.U32(counter))
    return phone.Answer(request, kBadRequest);
  if (received > total) return phone.Answer(request, kBadRequest);
  return UploadPiece(phone, request, folder, name, received, counter + 1);
}

// The first piece of a download creates (or empties) the file after checking that it fits.
Packet StoreFirstPiece(Phone& phone, const Packet& request, std::u16string_view folder, std::u16string_view name,
                       uint32_t length, uint32_t offset, std::span<const uint8_t> data) {
  auto path = MapPhonePath(phone, folder, name);
  if (!path) return phone.Answer(request, kBadRequest);
  std::error_code ec;
  if (!fs::is_directory(path->parent_path(), ec)) return phone.Answer(request, kNoFile);
  if (offset != 0) return phone.Answer(request, kBadRequest);
  uint64_t held = fs::is_regular_file(*path, ec) ? fs::file_size(*path, ec) : 0;
  if (FreeBytes(phone, folder) + held < length) return phone.Answer(request, kNoSpace);
  File f = OpenFile(*path, "wb");
  if (f) AdjustUsedBytes(phone, folder, -static_cast<int64_t>(held));
  if (!f || (!data.empty() && std::fwrite(data.data(), 1, data.size(), f.get()) != data.size()) ||
      std::fclose(f.release()) != 0) {
    phone.ForgetUsedBytes();
    return phone.Answer(request, kIoError);
  }
  AdjustUsedBytes(phone, folder, static_cast<int64_t>(data.size()));
  if (request.flag == 1 && fs::file_size(*path, ec) != length) return phone.Answer(request, kBadRequest);
  return phone.Answer(request, kOk);
}

// A piece of a download or of a resumed download, written at its offset. Pieces after the
// first must continue what the phone holds.
Packet StorePiece(Phone& phone, const Packet& request) {
  BodyReader r(request.body);
  std::u16string folder, name;
  uint32_t length = 0, offset = 0, number = 0;
  if (!ReadFolderAndName(r, folder, name) || !r.U32(length) || !r.U32(offset) || !r.U32(number) || number == 0)
    return phone.Answer(request, kBadRequest);
  std::span<const uint8_t> data = r.Rest();
  if (uint64_t{offset} + data.size() > length) return phone.Answer(request, kBadRequest);
  if (request.code == kDownloadPiece && number == 1)
    return StoreFirstPiece(phone, request, folder, name, length, offset, data);
  // A later piece continues what the phone holds. It is answered before it is written
  // (WriteAnsweredPiece), except the last one, whose answer says that the file is complete.
  uint8_t failure = kNoFile;
  Phone::HeldFile* held = PieceFile(phone, folder, name, true, failure);
  if (!held) return phone.Answer(request, failure);
  if (held->writeFailed) {
    phone.heldFile.reset();
    return phone.Answer(request, kIoError);
  }
  if (held->size < offset) return phone.Answer(request, kBadRequest);
  const uint64_t grownTo = std::max<uint64_t>(held->size, uint64_t{offset} + data.size());
  AdjustUsedBytes(phone, folder, static_cast<int64_t>(grownTo - held->size));
  held->size = grownTo;
  if (request.flag != 1) {
    held->buffer.assign(data.begin(), data.end());
    held->bufferAt = offset;
    return phone.Answer(request, kOk);
  }
  struct stat st {};
  if ((!data.empty() && ::pwrite(held->fd.Get(), data.data(), data.size(), static_cast<off_t>(offset)) !=
                            static_cast<ssize_t>(data.size())) ||
      ::fstat(held->fd.Get(), &st) != 0) {
    phone.ForgetUsedBytes();
    phone.heldFile.reset();
    return phone.Answer(request, kIoError);
  }
  if (static_cast<uint64_t>(st.st_size) != length) return phone.Answer(request, kBadRequest);
  const bool closed = ::close(held->fd.Release()) == 0;
  phone.heldFile.reset();
  return phone.Answer(request, closed ? kOk : kIoError);
}

// The resume announcement: the phone keeps the first offset bytes of its partial file and
// expects the rest. It sends no answer.
Packet AnnounceResume(Phone& phone, const Packet& request) {
  Packet none = phone.Answer(request, kOk);
  none.unanswered = true;
  BodyReader r(request.body);
  std::u16string folder, name;
  uint32_t length = 0, offset = 0, count = 0;
  if (!ReadFolderAndName(r, folder, name) || !r.U32(length) || !r.U32(offset) || !r.U32(count)) return none;
  auto path = MapPhonePath(phone, folder, name);
  std::error_code ec;
  if (path && fs::is_regular_file(*path, ec) && fs::file_size(*path, ec) > offset) {
    const uint64_t was = fs::file_size(*path, ec);
    fs::resize_file(*path, offset, ec);
    if (ec)
      phone.ForgetUsedBytes();
    else
      AdjustUsedBytes(phone, folder, -static_cast<int64_t>(was - offset));
  }
  return none;
}

// The file query: whether the phone holds the file, and its length there.
Packet QueryFile(Phone& phone, const Packet& request) {
  BodyReader r(request.body);
  std::u16string folder, name;
  uint32_t length = 0;
  if (!ReadFolderAndName(r, folder, name) || !r.U32(length)) return phone.Answer(request, kBadRequest);
  auto path = MapPhonePath(phone, folder, name);
  if (!path) return phone.Answer(request, kBadRequest);
  std::error_code ec;
  if (!fs::is_regular_file(*path, ec)) return phone.Answer(request, kNoFile);
  uint64_t size = fs::file_size(*path, ec);
  Packet answer = phone.Answer(request, kOk);
  BodyWriter w;
  for (std::u16string_view text : {std::u16string_view(folder), std::u16string_view(name)}) {
    w.Byte(static_cast<uint8_t>(text.size()));
    for (char16_t c : text) w.U16(c);
  }
  w.U32(1);
  w.U32(static_cast<uint32_t>(std::min<uint64_t>(size, UINT32_MAX)));
  w.U32(length);
  auto bytes = w.Take();
  answer.body.insert(answer.body.end(), bytes.begin(), bytes.end());
  return answer;
}

// Abort of a running transfer: nothing runs between requests, so there is nothing to stop;
// a partial download stays so that it can be resumed.
Packet Abort(Phone& phone, const Packet& request) {
  BodyReader r(request.body);
  uint8_t direction = 0;
  std::u16string folder, name;
  if (!r.Byte(direction) || (direction != 1 && direction != 2) || !ReadFolderAndName(r, folder, name))
    return phone.Answer(request, kBadRequest);
  return phone.Answer(request, kOk);
}

}  // namespace

void WriteAnsweredPiece(Phone& phone) {
  auto& held = phone.heldFile;
  if (!held || !held->write || held->buffer.empty()) return;
  const std::vector<uint8_t>& piece = held->buffer;
  if (::pwrite(held->fd.Get(), piece.data(), piece.size(), static_cast<off_t>(held->bufferAt)) !=
      static_cast<ssize_t>(piece.size())) {
    held->writeFailed = true;  // the transfer's next piece fails; a resume asks for the length
    phone.ForgetUsedBytes();
  }
  held->buffer.clear();
}

std::optional<Packet> HandleTransferCommands(Phone& phone, const Packet& request) {
  switch (request.code) {
    case kUploadStart: return StartUpload(phone, request);
    case kUploadAck: return AcknowledgeUpload(phone, request);
    case kDownloadPiece:
    case kResumePiece: return StorePiece(phone, request);
    case kResumeAnnounce: return AnnounceResume(phone, request);
    case kFileQuery: return QueryFile(phone, request);
    case kAbort: return Abort(phone, request);
    default: return std::nullopt;
  }
}

}  // namespace phonesim
