// Buffered local file I/O and checksums under the backup data file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>

#include "platform/system_file.hpp"

namespace kiv::backup_io {

// CRC-32 (IEEE 802.3, reflected, as zlib): pass the previous value to continue a sum.
uint32_t Crc32(const uint8_t* data, std::size_t size, uint32_t crc = 0);

inline void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutU64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline uint64_t GetU64(const uint8_t* p) {
  return static_cast<uint64_t>(GetU32(p)) | static_cast<uint64_t>(GetU32(p + 4)) << 32;
}

// An open local file with a write buffer or a read buffer. Every failing call returns
// false and leaves the error number in error().
class BufferedFile {
 public:
  static constexpr std::size_t kBufferSize = 256 * 1024;

  BufferedFile() = default;
  ~BufferedFile();
  BufferedFile(const BufferedFile&) = delete;
  BufferedFile& operator=(const BufferedFile&) = delete;

  // Opening for reading accepts only a regular file.
  bool OpenForWriting(const std::filesystem::path& path);
  bool OpenForReading(const std::filesystem::path& path);
  // Flushes (when writing) and closes; false when the flush or the close failed.
  bool Close();

  int error() const { return error_; }

  // Writing: appends at the end; position() counts every byte appended.
  bool Write(const uint8_t* data, std::size_t size);
  bool Flush();
  // Overwrites bytes already appended, without moving the append position.
  bool Patch(uint64_t offset, const uint8_t* data, std::size_t size);
  // Flushes and asks the system to put the data on the disk.
  bool Sync();

  // Reading: exactly `size` bytes at the read position; fewer is a failure with error() 0
  // and `*got` (when given) the count that was there.
  bool Read(uint8_t* data, std::size_t size, std::size_t* got = nullptr);
  bool Seek(uint64_t offset);
  bool Skip(uint64_t count) { return Seek(position_ + count); }
  // Reads at an absolute offset, leaving the read position alone.
  bool ReadAt(uint64_t offset, uint8_t* data, std::size_t size);
  bool Size(uint64_t* size);

  uint64_t position() const { return position_; }

 private:
  bool Fail(int error);
  bool WriteAll(const uint8_t* data, std::size_t size);
  bool Fill();

  SystemFile file_;
  int error_ = 0;
  uint64_t position_ = 0;
  // kBufferSize bytes, left uninitialised: every byte is written before it is read.
  std::unique_ptr<uint8_t[]> buffer_;
  // Write buffer: [0, used_). Read buffer: [begin_, used_) holds the bytes at position_.
  std::size_t begin_ = 0;
  std::size_t used_ = 0;
  // File offset of the read buffer's first byte.
  uint64_t bufferOffset_ = 0;
  bool writing_ = false;
};

}  // namespace kiv::backup_io
