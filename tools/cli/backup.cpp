// backup, restore and backup-info: the phone into one backup data file and back, and what a
// backup data file holds, read here without a phone.
#include "backup.hpp"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>

#include "system.hpp"
#include "text.hpp"

namespace cli {
namespace {

// ---- Reading a backup data file (layout: docs/backup-file.md) -----------------------------------

constexpr std::size_t kHeaderSize = 1024;
constexpr std::size_t kEntrySize = 1546;
constexpr std::size_t kTrailerSize = 40;
constexpr char kTag[] = "MORVIK_BACKUP_TOOL_CONTENTS";
constexpr uint32_t kKindFolder = 0x10;
constexpr int32_t kCableMethod = 1;

struct BackupEntry {
  bool folder = false;
  std::string path;  // UTF-8, as stored ("\" or "/" between components)
  uint64_t length = 0;
};

struct BackupSummary {
  std::string tag, version;
  std::vector<BackupEntry> entries;
  bool complete = false;  // a writer finished it (trailer state 0)
  bool intact = false;    // trailer, records and content sums all match
  std::string problem;    // why it is not usable, for people
};

uint32_t U32(const unsigned char* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
uint64_t U64(const unsigned char* p) { return U32(p) | (static_cast<uint64_t>(U32(p + 4)) << 32); }

std::string CText(const unsigned char* p, std::size_t room) {
  std::size_t n = 0;
  while (n < room && p[n]) ++n;
  return std::string(reinterpret_cast<const char*>(p), n);
}

bool ReadBackupFile(const std::string& path, BackupSummary& out) {
  std::ifstream in(PcPath(path), std::ios::binary);
  if (!in) return false;
  in.seekg(0, std::ios::end);
  const uint64_t size = static_cast<uint64_t>(in.tellg());
  in.seekg(0);
  unsigned char header[kHeaderSize];
  if (size < kHeaderSize || !in.read(reinterpret_cast<char*>(header), kHeaderSize)) {
    out.problem = "shorter than a header";
    return true;
  }
  out.tag = CText(header, 30);
  out.version = CText(header + 30, kHeaderSize - 30);
  if (out.tag != kTag) out.problem = "not a backup data file (wrong tag)";

  unsigned char trailer[kTrailerSize] = {};
  uint64_t dataEnd = size;
  bool hasTrailer = false;
  if (size >= kHeaderSize + kTrailerSize) {
    in.seekg(static_cast<std::streamoff>(size - kTrailerSize));
    hasTrailer = in.read(reinterpret_cast<char*>(trailer), kTrailerSize) && std::memcmp(trailer, "KIVBKEND", 8) == 0 &&
                 U32(trailer + 36) == crc32(0, trailer, 36) && U64(trailer + 20) == size - kTrailerSize;
    if (hasTrailer) dataEnd = size - kTrailerSize;
    in.clear();
  }
  uLong recordCrc = crc32(0, header, kHeaderSize);
  uLong contentCrc = crc32(0, Z_NULL, 0);
  std::vector<unsigned char> chunk(1 << 18);
  uint64_t pos = kHeaderSize;
  in.seekg(static_cast<std::streamoff>(pos));
  bool recordsOk = true;
  while (pos < dataEnd) {
    unsigned char record[kEntrySize];
    if (dataEnd - pos < kEntrySize || !in.read(reinterpret_cast<char*>(record), kEntrySize)) {
      recordsOk = false;
      break;
    }
    pos += kEntrySize;
    recordCrc = crc32(recordCrc, record, kEntrySize);
    BackupEntry e;
    e.length = U32(record);
    e.folder = U32(record + 4) == kKindFolder;
    KivText units;
    for (std::size_t i = 8; i + 1 < kEntrySize; i += 2) {
      KivChar c = static_cast<KivChar>(record[i] | (record[i + 1] << 8));
      if (!c) break;
      units.push_back(c);
    }
    e.path = Utf8(units.c_str());
    if (e.length > dataEnd - pos) {
      out.entries.push_back(e);
      recordsOk = false;
      break;
    }
    for (uint64_t rest = e.length; rest > 0;) {
      std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(rest, chunk.size()));
      if (!in.read(reinterpret_cast<char*>(chunk.data()), static_cast<std::streamsize>(n))) return true;
      contentCrc = crc32(contentCrc, chunk.data(), static_cast<uInt>(n));
      rest -= n;
    }
    pos += e.length;
    out.entries.push_back(std::move(e));
  }
  out.complete = hasTrailer && U32(trailer + 12) == 0;
  out.intact = hasTrailer && recordsOk && U32(trailer + 16) == out.entries.size() && U32(trailer + 28) == recordCrc &&
               U32(trailer + 32) == contentCrc;
  if (out.problem.empty()) {
    if (!hasTrailer) out.problem = "unfinished or cut short (no end record)";
    else if (!out.complete) out.problem = "the backup that wrote it failed or was cancelled";
    else if (!out.intact) out.problem = "altered or damaged (sums do not match)";
  }
  return true;
}

// ---- Progress: one line per file and an overall bar ---------------------------------------------

bool OnTerminal() { return StderrIsTerminal(); }

class Progress {
 public:
  Progress(std::string verb, std::vector<BackupEntry> files) : verb_(std::move(verb)), files_(std::move(files)) {
    for (const auto& f : files_) total_ += f.length;
    start_ = std::chrono::steady_clock::now();
  }
  // A piece of the file named name arrived; done is the bytes before it or after it.
  void Piece(const std::string& name, uint32_t done) {
    current_ = name;
    currentDone_ = done;
    Draw(false);
  }
  // The count-th file is complete.
  void FileDone(int count) {
    const BackupEntry* file = Locate(count);
    std::string name = file ? file->path : current_;
    doneBytes_ += file ? file->length : currentDone_;
    files_done_ = count;
    current_.clear();
    currentDone_ = 0;
    Clear();
    std::fprintf(stderr, "%s %s%s\n", verb_.c_str(), Counter().c_str(), name.c_str());
    Draw(true);
  }
  void Finish() {
    Clear();
    const double s = Elapsed();
    std::fprintf(stderr, "%s: %d file%s, %s in %s\n", verb_.c_str(), files_done_, files_done_ == 1 ? "" : "s",
                 HumanSize(static_cast<int64_t>(doneBytes_)).c_str(), Duration(s).c_str());
  }

 private:
  // The list entry of the count-th file: by position for a backup (the agent's order), by the
  // name of its pieces for a restore (files the phone holds are passed over).
  const BackupEntry* Locate(int count) {
    if (verb_ == "backup") return count >= 1 && static_cast<std::size_t>(count) <= files_.size() ? &files_[count - 1] : nullptr;
    for (std::size_t i = cursor_; i < files_.size(); ++i) {
      const std::string& p = files_[i].path;
      const std::size_t n = current_.size();
      if (!current_.empty() && p.size() > n && p[p.size() - n - 1] == '\\' && p.compare(p.size() - n, n, current_) == 0) {
        cursor_ = i + 1;
        return &files_[i];
      }
    }
    return nullptr;
  }
  std::string Counter() const {
    return "[" + std::to_string(files_done_) + (files_.empty() ? "" : "/" + std::to_string(files_.size())) + "] ";
  }
  double Elapsed() const { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count(); }
  void Clear() {
    if (lineOpen_) std::fprintf(stderr, "\r\x1b[K");
    lineOpen_ = false;
  }
  void Draw(bool force) {
    if (!OnTerminal()) return;
    auto now = std::chrono::steady_clock::now();
    if (!force && now - lastDraw_ < std::chrono::milliseconds(100)) return;
    lastDraw_ = now;
    const uint64_t done = doneBytes_ + currentDone_;
    std::string line = verb_ + " files " + std::to_string(files_done_) + (files_.empty() ? "" : "/" + std::to_string(files_.size())) +
                       "  " + HumanSize(static_cast<int64_t>(done)) + (total_ ? "/" + HumanSize(static_cast<int64_t>(total_)) : "");
    const double s = Elapsed();
    if (s > 0.2 && done > 0) {
      const double rate = static_cast<double>(done) / s;
      line += "  " + HumanSize(static_cast<int64_t>(rate)) + "/s";
      if (total_ > done) line += "  " + Duration(static_cast<double>(total_ - done) / rate) + " left";
    }
    if (total_) {
      constexpr int kBar = 20;
      int filled = static_cast<int>(static_cast<double>(done) / static_cast<double>(total_) * kBar);
      filled = std::min(std::max(filled, 0), kBar);
      line += "  [" + std::string(static_cast<std::size_t>(filled), '#') + std::string(static_cast<std::size_t>(kBar - filled), '.') + "]";
    }
    if (!current_.empty()) line += "  " + current_;
    std::fprintf(stderr, "\r%s\x1b[K", line.c_str());
    std::fflush(stderr);
    lineOpen_ = true;
  }

  std::string verb_;
  std::vector<BackupEntry> files_;
  uint64_t total_ = 0, doneBytes_ = 0;
  uint32_t currentDone_ = 0;
  std::string current_;
  int files_done_ = 0;
  std::size_t cursor_ = 0;
  bool lineOpen_ = false;
  std::chrono::steady_clock::time_point start_, lastDraw_;
};

// The window that backup and restore report to.
class BackupWindow {
 public:
  explicit BackupWindow(Progress& progress) : progress_(progress), wnd_(Kiv_CreateWindow(&Proc, this)) {}
  ~BackupWindow() { Kiv_DestroyWindow(wnd_); }
  BackupWindow(const BackupWindow&) = delete;
  BackupWindow& operator=(const BackupWindow&) = delete;
  KivHwnd wnd() const { return wnd_; }
  bool reported = false;

 private:
  static intptr_t Proc(void* user, KivHwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    auto* self = static_cast<BackupWindow*>(user);
    if (msg == KIV_MSG_REPORT) self->reported = true;
    if (msg != KIV_MSG_PROGRESS) return 0;
    if (wParam == KIV_PROGRESS_BACKUP_FILE || wParam == KIV_PROGRESS_RESTORE_FILE) {
      self->progress_.FileDone(static_cast<int>(lParam));
    } else if (wParam) {
      const auto* r = reinterpret_cast<const KivProgress*>(wParam);
      self->progress_.Piece(Utf8(r->text), r->bytesDone);
    }
    return 0;
  }
  Progress& progress_;
  KivHwnd wnd_;
};

// Connects in backup mode; kExitOk or the failure's exit code.
int BackupConnect(KivHwnd wnd, const LinkOptions& link) {
  if (!link.link.empty()) SetEnv("KIVMOD_LINK", link.link, true);
  if (link.bluetooth) {
    Complain("backup and restore take a cable link (--link or --port), not --bt");
    return kExitUsage;
  }
  Kiv_InitalizeU(wnd);
  const int32_t result = Kiv_BACKUP_ConnectU(link.port, 0, wnd, kCableMethod);
  if (result == 1) return kExitOk;
  if (result == -2) {
    Complain("the phone is locked; unlock it and try again");
    return kExitLocked;
  }
  Complain("could not connect to the phone in backup mode (check the cable, --port or --link)");
  return kExitConnect;
}

// The files that a backup will hold, in the agent's order (folders, parents first, each with
// its files by name), read through an ordinary session: they give the progress its totals.
std::vector<BackupEntry> PhoneFiles(const Options& options) {
  std::vector<BackupEntry> files;
  Host host;
  host.holdReports = true;  // a phone that cannot be listed only leaves the totals unknown
  if (!options.link.link.empty()) SetEnv("KIVMOD_LINK", options.link.link, true);
  Kiv_InitalizeU(host.Window());
  if (options.link.bluetooth || !Kiv_Connect(options.link.port, 0, host.Window(), kCableMethod)) return files;
  Tree tree(host.Window());
  std::function<void(const std::string&)> walk = [&](const std::string& folder) {
    Listing l = tree.List(folder);
    std::sort(l.files.begin(), l.files.end(), [](auto& a, auto& b) { return Utf16(a.name) < Utf16(b.name); });
    std::sort(l.folders.begin(), l.folders.end(), [](auto& a, auto& b) { return Utf16(a.name) < Utf16(b.name); });
    for (const auto& f : l.files) files.push_back({false, f.Path(), static_cast<uint64_t>(f.size)});
    for (const auto& sub : l.folders) walk(sub.path);
  };
  Listing top = tree.List("");
  std::sort(top.folders.begin(), top.folders.end(), [](auto& a, auto& b) { return Utf16(a.name) < Utf16(b.name); });
  for (const auto& f : top.folders)
    if (tree.OpenTopOf(f.path)) walk(f.path);
  Kiv_Disconnect();
  return files;
}

std::string ReadPassword() {
  std::fprintf(stderr, "Password for the phone: ");
  std::string line = ReadSecretLine();
  std::fprintf(stderr, "\n");
  return line;
}

}  // namespace

int BackupCommand(const Options& options, const std::string& file) {
  Progress progress("backup", PhoneFiles(options));
  BackupWindow window(progress);
  if (int code = BackupConnect(window.wnd(), options.link); code != kExitOk) return code;
  const int32_t done = Kiv_BACKUP_Backup(window.wnd(), Utf16(file).c_str(), 1);
  const int32_t count = Kiv_BACKUPTOOL_GetBackupfileCount();
  Kiv_BACKUP_Disconnect();
  if (done == 1) {
    progress.Finish();
    if (options.json) std::printf("{\"file\":%s,\"files\":%d,\"complete\":true}\n", Json(file).c_str(), count);
    return kExitOk;
  }
  if (options.json) std::printf("{\"file\":%s,\"files\":%d,\"complete\":false}\n", Json(file).c_str(), count);
  if (Cancelled()) return kExitCancelled;
  Complain("the backup failed after " + std::to_string(count) + " file(s); " + file +
           " is marked as not usable and a restore refuses it");
  return kExitFailed;
}

int RestoreCommand(const Options& options, const std::string& file) {
  BackupSummary summary;
  if (!ReadBackupFile(file, summary)) {
    Complain("cannot read " + file + ": " + std::strerror(errno));
    return kExitNotFound;
  }
  std::vector<BackupEntry> files;
  for (const auto& e : summary.entries)
    if (!e.folder) files.push_back(e);
  Progress progress("restore", files);
  BackupWindow window(progress);
  if (int code = BackupConnect(window.wnd(), options.link); code != kExitOk) return code;
  int result = kExitOk;
  Kiv_BackupToolConfig();
  if (!Kiv_BACKUPTOOL_InitPhone(0)) {
    Complain("the phone is not ready for a restore");
    result = kExitFailed;
  } else if (!Kiv_BACKUPTOOL_CheckPass(Utf16(options.password).c_str())) {
    const bool ask = options.password.empty() && StdinIsTerminal();
    if (!ask || !Kiv_BACKUPTOOL_CheckPass(Utf16(ReadPassword()).c_str())) {
      Complain(ask || !options.password.empty() ? "the phone refused the password"
                                                : "the phone wants a password: give --password TEXT");
      result = kExitFailed;
    }
  }
  int32_t done = 0;
  if (result == kExitOk) {
    done = Kiv_BACKUPTOOL_Restore(Utf16(file).c_str(), window.wnd(), 0);
    if (done == 1) {
      progress.Finish();
    } else if (Cancelled()) {
      result = kExitCancelled;
    } else {
      Complain(done == KIV_RESTORE_PHONE_FULL ? "the phone has no room for the next file"
                                              : "the restore failed (" + file + ": " +
                                                    (summary.problem.empty() ? "the phone or the link failed" : summary.problem) + ")");
      result = kExitFailed;
    }
  }
  const int32_t count = Kiv_BACKUPTOOL_GetRestorefileCount();
  Kiv_BACKUP_Disconnect();
  if (options.json)
    std::printf("{\"file\":%s,\"sent\":%d,\"result\":%d}\n", Json(file).c_str(), count, done);
  return result;
}

int BackupInfoCommand(const Options& options, const std::string& file) {
  BackupSummary s;
  if (!ReadBackupFile(file, s)) {
    Complain("cannot read " + file + ": " + std::strerror(errno));
    return kExitNotFound;
  }
  uint64_t bytes = 0;
  std::size_t files = 0;
  for (const auto& e : s.entries)
    if (!e.folder) {
      bytes += e.length;
      ++files;
    }
  const bool usable = s.problem.empty();
  if (options.json) {
    std::printf("{\"tag\":%s,\"version\":%s,\"complete\":%s,\"intact\":%s,\"usable\":%s,\"problem\":%s,\"folders\":[",
                Json(s.tag).c_str(), Json(s.version).c_str(), s.complete ? "true" : "false",
                s.intact ? "true" : "false", usable ? "true" : "false", Json(s.problem).c_str());
    bool first = true;
    for (const auto& e : s.entries)
      if (e.folder) {
        std::printf("%s%s", first ? "" : ",", Json(e.path).c_str());
        first = false;
      }
    std::printf("],\"files\":[");
    first = true;
    for (const auto& e : s.entries)
      if (!e.folder) {
        std::printf("%s{\"path\":%s,\"size\":%llu}", first ? "" : ",", Json(e.path).c_str(),
                    static_cast<unsigned long long>(e.length));
        first = false;
      }
    std::printf("]}\n");
  } else {
    std::printf("Backup file:  %s\nFormat:       %s version %s\n", file.c_str(), s.tag.c_str(), s.version.c_str());
    std::printf("Folders:\n");
    for (const auto& e : s.entries)
      if (e.folder) std::printf("  %s\n", e.path.c_str());
    std::printf("Files:\n");
    for (const auto& e : s.entries)
      if (!e.folder) std::printf("  %10s  %s\n", HumanSize(static_cast<int64_t>(e.length)).c_str(), e.path.c_str());
    std::printf("%zu file%s, %s\n", files, files == 1 ? "" : "s", HumanSize(static_cast<int64_t>(bytes)).c_str());
    std::printf("State:        %s\n", usable ? "complete and intact" : ("NOT usable: " + s.problem).c_str());
  }
  return usable ? kExitOk : kExitFailed;
}

}  // namespace cli
