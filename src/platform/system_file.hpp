// A local file under positioned reads and writes, as the backup data file uses it. Opening
// never waits: a named pipe in the file's place fails instead of hanging. Every call gives 0
// or the errno value of its failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace kiv {

class SystemFile {
 public:
  SystemFile() = default;
  ~SystemFile() { Close(); }
  SystemFile(const SystemFile&) = delete;
  SystemFile& operator=(const SystemFile&) = delete;

  // Creates the file, or empties the one there, for writing.
  int OpenForWriting(const std::filesystem::path& path);
  // A regular file only: EISDIR for a folder, EINVAL for anything else.
  int OpenForReading(const std::filesystem::path& path);
  bool IsOpen() const;
  int Close();

  // Writes all of data after what was appended before.
  int Append(const uint8_t* data, std::size_t size);
  // Writes all of data at offset, leaving the append position alone.
  int WriteAt(uint64_t offset, const uint8_t* data, std::size_t size);
  // Reads up to size bytes at offset; got is 0 at the end of the file.
  int ReadAt(uint64_t offset, uint8_t* data, std::size_t size, std::size_t& got);
  // Asks the system to put the data on the disk.
  int Sync();
  int Size(uint64_t& size);

 private:
#ifdef _WIN32
  void* handle_ = nullptr;
  uint64_t end_ = 0;  // the append position
#else
  int fd_ = -1;
#endif
};

}  // namespace kiv
