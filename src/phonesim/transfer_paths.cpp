#include "phonesim/transfer_paths.hpp"

#include "platform/text.hpp"

namespace phonesim {
namespace {

namespace fs = std::filesystem;

bool SafeComponent(std::u16string_view part) {
  if (part.empty() || part == u"." || part == u"..") return false;
  for (char16_t c : part)
    if (c == 0 || c == u'\\' || c == u':') return false;
  return true;
}

uint64_t BytesBelow(const fs::path& folder, const fs::path* skip) {
  uint64_t bytes = 0;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (skip && it->path() == *skip) {
      it.disable_recursion_pending();
      continue;
    }
    if (it->is_regular_file(ec)) bytes += it->file_size(ec);
  }
  return bytes;
}

}  // namespace

std::optional<fs::path> MapPhoneFolder(const Phone& phone, std::u16string_view folder) {
  if (folder.starts_with(u'/')) return std::nullopt;
  fs::path path = phone.root();
  std::size_t start = 0;
  while (start <= folder.size() && !folder.empty()) {
    std::size_t end = folder.find(u'/', start);
    if (end == std::u16string_view::npos) end = folder.size();
    std::u16string_view part = folder.substr(start, end - start);
    // A trailing separator leaves an empty last component; any other empty one is refused.
    if (part.empty() && end != folder.size()) return std::nullopt;
    if (!part.empty()) {
      if (!SafeComponent(part)) return std::nullopt;
      path /= kiv::U16ToUtf8(part);
    }
    start = end + 1;
  }
  return path;
}

std::optional<fs::path> MapPhonePath(const Phone& phone, std::u16string_view folder, std::u16string_view name) {
  if (!SafeComponent(name) || name.find(u'/') != std::u16string_view::npos) return std::nullopt;
  auto path = MapPhoneFolder(phone, folder);
  if (!path) return std::nullopt;
  return *path / kiv::U16ToUtf8(name);
}

namespace {

bool FolderOnCard(const Phone& phone, std::u16string_view folder) {
  const Config& config = phone.config();
  std::u16string_view top = folder.substr(0, folder.find(u'/'));
  return config.hasCard && !config.cardName.empty() && top == config.cardName;
}

}  // namespace

uint64_t FreeBytes(Phone& phone, std::u16string_view folder) {
  const Config& config = phone.config();
  const bool onCard = FolderOnCard(phone, folder);
  const MemoryLimits& memory = onCard ? config.card : config.internal;
  if (memory.free) return *memory.free;
  std::optional<uint64_t>& used = phone.usedBytes[onCard ? 1 : 0];
  if (!used) {
    fs::path card = phone.root() / kiv::U16ToUtf8(config.cardName);
    used = onCard ? BytesBelow(card, nullptr) : BytesBelow(phone.root(), config.hasCard ? &card : nullptr);
  }
  return *used >= memory.total ? 0 : memory.total - *used;
}

void AdjustUsedBytes(Phone& phone, std::u16string_view folder, int64_t delta) {
  std::optional<uint64_t>& used = phone.usedBytes[FolderOnCard(phone, folder) ? 1 : 0];
  if (!used) return;  // measured afresh when next asked
  if (delta < 0 && static_cast<uint64_t>(-delta) > *used) {
    used.reset();
    return;
  }
  *used = static_cast<uint64_t>(static_cast<int64_t>(*used) + delta);
}

uint64_t BytesAt(const fs::path& path) {
  std::error_code ec;
  if (fs::is_regular_file(path, ec)) return fs::file_size(path, ec);
  return BytesBelow(path, nullptr);
}

bool KeepsUsedBytes(uint8_t code) {
  switch (code) {
    case 0x01: case 0x02:                                      // session
    case 0x03: case 0x04: case 0x21:                           // listings and details
    case 0x08: case 0x11: case 0x26: case 0x27:                // space
    case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0D:     // delete, rename, create, copy, move
    case 0x10: case 0x0E:                                      // queries
    case 0x05: case 0x06: case 0x07: case 0x20: case 0x85: case 0x8E:  // transfers
      return true;
    default:
      return false;
  }
}

}  // namespace phonesim
