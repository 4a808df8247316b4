// The phone's backup agent. It offers directories one at a time (the configured ones, else
// every folder of the served tree, parents before their subfolders), lists a directory's files
// as ":"-separated names in pages that fit its packet size (0x58 marks the last page), sends
// its information document, takes the restore preparation and checks a password. File
// contents move through the ordinary transfer commands, which refuse paths that would leave
// the served folder.
#include <algorithm>
#include <filesystem>

#include "phonesim/body.hpp"
#include "phonesim/families.hpp"
#include "phonesim/results.hpp"
#include "phonesim/transfer_paths.hpp"
#include "platform/text.hpp"

namespace phonesim {
namespace {

namespace fs = std::filesystem;

constexpr uint8_t kFirstDirectory = 0x12;
constexpr uint8_t kNextDirectory = 0x13;
constexpr uint8_t kFolderFiles = 0x14;
constexpr uint8_t kFolderFilesNext = 0x15;
constexpr uint8_t kInitPhone = 0x16;
constexpr uint8_t kInfoClass = 0x25;
constexpr uint8_t kInfo = 0x01;
constexpr uint8_t kPassClass = 0x00;
constexpr uint8_t kCheckPass = 0x23;
constexpr uint8_t kPassAccepted = 0x41;
constexpr uint8_t kPassRejected = 0x43;

constexpr uint8_t kLast = 0x58;

constexpr std::size_t kListText = 9;        // the names start at this body offset
constexpr std::size_t kMaxNameUnits = 127;  // a directory name's length byte counts bytes

constexpr char kAgentName[] = "Kivsim Backup Agent";
constexpr char kAgentVersion[] = "1.0";

// A name the agent can hand out: no ":" (it separates names in a list).
bool Listable(const std::u16string& name) { return name.find(u':') == std::u16string::npos; }

void CollectFolders(const fs::path& folder, const std::u16string& prefix, std::vector<std::u16string>& out,
                    int depth) {
  if (depth > 64) return;
  std::vector<std::u16string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    if (!entry.is_directory(ec) || entry.is_symlink(ec)) continue;
    std::u16string name = entry.path().filename().u16string();
    if (Listable(name)) names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());
  for (const auto& name : names) {
    std::u16string path = prefix.empty() ? name : prefix + u'/' + name;
    if (path.size() > kMaxNameUnits) continue;
    out.push_back(path);
    CollectFolders(folder / fs::path(name), path, out, depth + 1);
  }
}

Packet Directory(Phone& phone, const Packet& request) {
  if (request.code == kFirstDirectory) {
    phone.backupDirs = phone.config().backupDirs;
    if (phone.backupDirs.empty()) CollectFolders(phone.root(), u"", phone.backupDirs, 0);
    phone.backupNext = 0;
  }
  if (phone.backupNext >= phone.backupDirs.size()) {
    Packet answer = phone.Answer(request, kLast);
    answer.body.push_back(0);
    return answer;
  }
  const std::u16string& name = phone.backupDirs[phone.backupNext++];
  Packet answer = phone.Answer(request, kOk);
  BodyWriter w;
  w.Byte(static_cast<uint8_t>(std::min(name.size(), kMaxNameUnits) * 2));
  for (std::size_t i = 0; i < name.size() && i < kMaxNameUnits; ++i) w.U16(name[i]);
  auto bytes = w.Take();
  answer.body.insert(answer.body.end(), bytes.begin(), bytes.end());
  return answer;
}

// One page of a folder's file list: as many whole names as fit the phone's packet.
Packet FolderFilesPage(Phone& phone, const Packet& request) {
  auto& pending = *phone.pendingBackupList;
  const std::size_t room =
      std::min<std::size_t>(phone.config().maxPacket > kHeader ? phone.config().maxPacket - kHeader : 0, kMaxBody);
  BodyWriter text;
  std::size_t taken = 0;
  for (std::size_t i = pending.sent; i < pending.entries.size(); ++i) {
    const std::u16string& name = pending.entries[i];
    const std::size_t units = name.size() + (taken ? 1 : 0);
    if (kListText + text.Size() + 2 * units + 2 > room) break;
    if (taken) text.U16(u':');
    for (char16_t c : name) text.U16(c);
    ++taken;
  }
  const bool last = pending.sent + taken == pending.entries.size();
  if (!taken && !last) {
    phone.pendingBackupList.reset();
    return phone.Answer(request, kBadRequest);  // a name longer than a packet
  }
  Packet answer = phone.Answer(request, last ? kLast : kOk);
  BodyWriter w;
  w.U32(static_cast<uint32_t>(pending.entries.size()));
  w.U16(static_cast<uint16_t>(std::min<std::size_t>(pending.entries.size(), UINT16_MAX)));
  w.U16(0);
  auto head = w.Take();
  auto names = text.Take();
  answer.body.insert(answer.body.end(), head.begin(), head.end());
  answer.body.insert(answer.body.end(), names.begin(), names.end());
  answer.body.push_back(0);
  answer.body.push_back(0);
  pending.sent += taken;
  pending.packet = phone.packets();
  if (last) phone.pendingBackupList.reset();
  return answer;
}

Packet FolderFiles(Phone& phone, const Packet& request) {
  BodyReader r(request.body);
  std::u16string folder;
  // Protocol version 2 and later count the folder's length in bytes.
  if (!r.Text(1, phone.config().version >= 2, folder)) return phone.Answer(request, kBadRequest);
  if (request.code == kFolderFilesNext) {
    auto& pending = phone.pendingBackupList;
    if (!pending || pending->folder != folder || pending->packet + 1 != phone.packets())
      return phone.Answer(request, kBadRequest);
    return FolderFilesPage(phone, request);
  }
  auto path = MapPhoneFolder(phone, folder);
  std::error_code ec;
  if (!path || folder.empty()) return phone.Answer(request, kBadRequest);
  if (!fs::is_directory(*path, ec)) return phone.Answer(request, kNoFile);
  Phone::PendingListing listing;
  listing.folder = folder;
  for (const auto& entry : fs::directory_iterator(*path, ec)) {
    if (!entry.is_regular_file(ec) || entry.is_symlink(ec)) continue;
    std::u16string name = entry.path().filename().u16string();
    if (Listable(name)) listing.entries.push_back(std::move(name));
  }
  std::sort(listing.entries.begin(), listing.entries.end());
  phone.pendingBackupList = std::move(listing);
  return FolderFilesPage(phone, request);
}

// The information document: an XML text naming the agent, its version and the phone model.
Packet Information(Phone& phone, const Packet& request) {
  std::string xml = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<BackupAgent>\n  <Name>") + kAgentName +
                    "</Name>\n  <Version>" + kAgentVersion + "</Version>\n  <Model>" + phone.config().model +
                    "</Model>\n</BackupAgent>\n";
  Packet answer = phone.Answer(request, kOk);
  BodyWriter w;
  w.Text(kiv::Utf8ToU16(xml));
  auto bytes = w.Take();
  answer.body.insert(answer.body.end(), bytes.begin(), bytes.end());
  return answer;
}

Packet CheckPassword(Phone& phone, const Packet& request) {
  BodyReader r(request.body);
  std::u16string given;
  Packet answer = phone.Answer(request, kOk);
  const auto& wanted = phone.config().backupPassword;
  const bool accepted = r.ZText(given) && (!wanted || given == *wanted);
  answer.code = accepted ? kPassAccepted : kPassRejected;
  return answer;
}

}  // namespace

std::optional<Packet> HandleBackupCommands(Phone& phone, const Packet& request) {
  if (request.cls == kInfoClass) {
    if (request.code == kInfo) return Information(phone, request);
    return phone.Answer(request, kBadRequest);
  }
  if (request.cls == kPassClass && request.code == kCheckPass) return CheckPassword(phone, request);
  switch (request.code) {
    case kFirstDirectory:
    case kNextDirectory: return Directory(phone, request);
    case kFolderFiles:
    case kFolderFilesNext: return FolderFiles(phone, request);
    case kInitPhone: return phone.Answer(request, kOk);
    default: return std::nullopt;
  }
}

}  // namespace phonesim
