#include "host.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "diagnose.hpp"
#include "system.hpp"
#include "text.hpp"

namespace cli {
namespace {

// A progress bar is on the terminal's current line.
bool g_lineOpen = false;

intptr_t WindowProc(void* user, KivHwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  return static_cast<Host*>(user)->Message(msg, wParam, lParam);
}

bool g_quiet = false;

bool ProgressOnTerminal() { return StderrIsTerminal() && !g_quiet; }

void EndLine() {
  if (g_lineOpen) std::fputc('\n', stderr);
  g_lineOpen = false;
}

std::string Quoted(const std::string& text) { return text.empty() ? std::string("(unnamed)") : text; }

}  // namespace

std::string ReportSentence(uint32_t code, const std::string& t1, const std::string& t2, float value) {
  const std::string a = Quoted(t1);
  switch (code) {
    case KIV_REPORT_LIST_FAILED: return "cannot list folder " + a;
    case KIV_REPORT_DETAILS_FAILED: return "cannot read details of " + a;
    case KIV_REPORT_LOCAL_FILE_FAILED: return "cannot prepare a local file for " + a;
    case KIV_REPORT_NOT_KNOWN: return a + " is not known; list its folder first";
    case KIV_REPORT_TYPE_NOT_TO_PC: return "files of type " + a + " may not be copied to the PC";
    case KIV_REPORT_TRANSFER_FAILED:
      if (t1.empty()) return "the phone was busy and did not do it; try again";
      if (!t2.empty()) return "the copy of " + t1 + " failed: " + t2;
      return "the copy of " + t1 + " failed (the phone or the link ended it)";
    case KIV_REPORT_PATH_TOO_LONG:
      return "the path " + a + " is too long for the phone" + (t2.empty() ? "" : " (at most " + t2 + " characters)");
    case KIV_REPORT_FOLDER_NAME_TOO_LONG:
      return "the folder name " + a + " is too long for the phone" +
             (t2.empty() ? "" : " (at most " + t2 + " characters)");
    case KIV_REPORT_FOLDER_NOT_WRITABLE: return t1.empty() ? "the folder is not writable" : "folder " + t1 + " is not writable";
    case KIV_REPORT_EXTENSION_REFUSED: return "folder " + Quoted(t2) + " does not accept files of type " + a;
    case KIV_REPORT_FILE_TOO_LARGE: {
      char max[32];
      std::snprintf(max, sizeof max, "%.0f", static_cast<double>(value));
      return "files of type " + a + " may be at most " + max + " bytes on the phone";
    }
    case KIV_REPORT_TARGET_READ_ONLY: return "the file to replace in " + a + " is read-only";
    case KIV_REPORT_SOURCE_READ_ONLY: return a + " is read-only and cannot be moved";
    case KIV_REPORT_NO_SPACE: return "there is not enough free space on the phone";
    case KIV_REPORT_SEND_REFUSED: return "the phone refused the file for " + a;
    case KIV_REPORT_SEND_FAILED: return "the copy into " + a + " failed" + (t2.empty() ? "" : ": " + t2);
    case KIV_REPORT_FOLDER_FIXED: return "a fixed folder of the phone cannot be deleted";
    case KIV_REPORT_HIDDEN_SUBFOLDER: return "folder " + a + " holds hidden folders and cannot be deleted";
    case KIV_REPORT_FILE_READ_ONLY: return a + " is read-only and cannot be deleted";
    case KIV_REPORT_DELETE_FAILED: return "cannot delete " + a;
    case KIV_REPORT_EXTENSION_CHANGE: return "files of type " + a + " may not change their extension";
    case KIV_REPORT_RENAME_FAILED: return "cannot rename " + a;
    case KIV_REPORT_SPACE_FAILED: return "cannot read the free or total space of the phone";
    case KIV_REPORT_RESUME_SOURCE:
      return t1.empty() ? "there is no interrupted copy to resume"
                        : "the PC file " + t1 + " of the interrupted copy cannot be read";
    case KIV_REPORT_CONNECT_FAILED: return "the phone did not accept the connection";
    case KIV_REPORT_FOLDER_NOT_TO_PC: return "files in folder " + a + " may not be copied to the PC";
    default: {
      char number[16];
      std::snprintf(number, sizeof number, "0x%02X", code);
      std::string out = std::string("the phone reported problem ") + number;
      if (!t1.empty()) out += " (" + t1 + (t2.empty() ? "" : ", " + t2) + ")";
      return out;
    }
  }
}

void SetQuiet(bool quiet) { g_quiet = quiet; }
bool Quiet() { return g_quiet; }

void Complain(const std::string& text) {
  EndLine();
  std::fprintf(stderr, "kivmod: %s\n", text.c_str());
}

Host::Host() { window_ = Kiv_CreateWindow(WindowProc, this); }
Host::~Host() { Kiv_DestroyWindow(window_); }

void Host::Reset() {
  locked = false;
  cancelledMessage = false;
  reports = 0;
  skipped = 0;
}

intptr_t Host::Message(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  switch (msg) {
    case KIV_MSG_LOCKED:
      locked = true;
      return 0;
    case KIV_MSG_CANCELLED:
      cancelledMessage = true;
      return 0;
    case KIV_MSG_REPORT: {
      const auto* r = reinterpret_cast<const KivReport*>(lParam);
      ++reports;
      if (!holdReports) {
        // The texts may hold phone names: control characters are shown escaped.
        std::string t1 = r ? Escaped(Utf8(r->text1)) : std::string();
        std::string t2 = r ? Escaped(Utf8(r->text2)) : std::string();
        Complain(ReportSentence(static_cast<uint32_t>(wParam), t1, t2, r ? r->value : 0.0f));
      }
      return 0;
    }
    case KIV_MSG_PROGRESS:
      // Small values are status words, not records.
      if (wParam < 0x10000) return 0;
      return OnProgress(*reinterpret_cast<const KivProgress*>(wParam));
    default:
      return 0;
  }
}

void Host::BeginTransfer(std::string verb, std::map<std::string, int64_t> sizes, std::string phoneFolder) {
  transferring_ = true;
  verb_ = std::move(verb);
  sizes_ = std::move(sizes);
  phoneFolder_ = std::move(phoneFolder);
  fileActive_ = false;
}

std::string Host::EndTransfer(bool completed) {
  std::string unfinished;
  if (fileActive_ && !completed && !fileSkipped_) unfinished = fileText_;
  if (fileActive_) FinishFile(completed);
  transferring_ = false;
  EndLine();
  return unfinished;
}

intptr_t Host::OnProgress(const KivProgress& record) {
  if (record.question == KIV_QUESTION_OVERWRITE) return AskOverwrite();
  if (record.question == KIV_QUESTION_RESUME) return resumeAnswer;
  if (!transferring_) return 0;
  const std::string text = Utf8(record.text);
  // A file starts with an announcement (totals, not continuing) or a record naming another
  // file; the records in between carry the bytes done of the current one.
  bool announce = record.continuing == 0 || record.totalBytes != 0 || (!text.empty() && text != fileText_);
  if (announce || !fileActive_) {
    // The library goes on to the next file only after the current one was copied or skipped.
    if (fileActive_) FinishFile(true);
    StartFile(text, record.itemCount == 1 ? record.totalBytes : 0);
  }
  if (!announce) {
    fileDone_ = record.bytesDone;
    if (fileTotal_ > 0 && fileDone_ >= fileTotal_) {
      FinishFile(true);
      return 0;
    }
    Draw(false);
  }
  return 0;
}

void Host::StartFile(const std::string& text, int64_t announcedTotal) {
  fileActive_ = true;
  fileSkipped_ = false;
  fileText_ = text;
  fileDone_ = 0;
  auto it = sizes_.find(text);
  fileTotal_ = it != sizes_.end() ? it->second : announcedTotal;
  fileStart_ = std::chrono::steady_clock::now();
  lastDraw_ = {};
  Draw(true);
}

void Host::FinishFile(bool completed) {
  fileActive_ = false;
  const std::string name = LastComponent(fileText_);
  if (fileSkipped_) {
    if (ProgressOnTerminal()) {
      std::fprintf(stderr, "\r\x1b[K");
      g_lineOpen = false;
    }
    if (g_quiet) return;
    const bool unasked = overwrite == Overwrite::Ask && !StdinIsTerminal();
    std::fprintf(stderr, "%s %s skipped (it is on the phone already%s)\n", verb_.c_str(), name.c_str(),
                 unasked ? "; --yes replaces it" : "");
    return;
  }
  if (completed) fileDone_ = fileTotal_;
  if (ProgressOnTerminal()) {
    Draw(true);
    EndLine();
    return;
  }
  // Without a terminal: one line per file, when it is done or where it stopped.
  if ((completed || fileDone_ > 0) && !g_quiet)
    std::fprintf(stderr, "%s %s %lld/%lld\n", verb_.c_str(), name.c_str(), static_cast<long long>(fileDone_),
                 static_cast<long long>(fileTotal_));
}

void Host::Draw(bool force) {
  if (!ProgressOnTerminal()) return;
  auto now = std::chrono::steady_clock::now();
  if (!force && now - lastDraw_ < std::chrono::milliseconds(100)) return;
  lastDraw_ = now;
  double elapsed = std::chrono::duration<double>(now - fileStart_).count();
  std::string stats = HumanSize(fileDone_) + "/" + HumanSize(fileTotal_);
  const bool done = fileDone_ >= fileTotal_;
  if (elapsed > 0.2 && fileDone_ > 0) {
    double rate = static_cast<double>(fileDone_) / elapsed;
    stats += "  " + HumanSize(static_cast<int64_t>(rate)) + "/s";
    if (!done) stats += "  " + Duration(static_cast<double>(fileTotal_ - fileDone_) / rate) + " left";
  }
  if (done && fileActive_ == false) stats += "  done";
  // The bar stays in one column: the figures get a fixed width.
  constexpr std::size_t kStatsWidth = 34;
  if (stats.size() < kStatsWidth) stats.resize(kStatsWidth, ' ');
  const int width = TerminalWidth() - 1;
  std::string name = LastComponent(fileText_);
  int barWidth = 20;
  const int fixed = static_cast<int>(verb_.size() + kStatsWidth) + 4;
  int room = width - fixed - (barWidth + 3);
  if (room < 8) {
    barWidth = 0;
    room = width - fixed;
  }
  if (room < 4) room = 4;
  name = FitWidth(name, static_cast<std::size_t>(room));
  const int nameWidth = static_cast<int>(DisplayWidth(name));
  std::string line = verb_ + " " + name;
  if (barWidth > 0) {
    int filled = fileTotal_ > 0 ? static_cast<int>(static_cast<double>(fileDone_) / static_cast<double>(fileTotal_) * barWidth) : 0;
    filled = std::clamp(filled, 0, barWidth);
    line += std::string(static_cast<std::size_t>(room - nameWidth + 1), ' ');
    line += "[" + std::string(static_cast<std::size_t>(filled), '#') + std::string(static_cast<std::size_t>(barWidth - filled), '.') + "]";
  }
  line += "  " + stats;
  while (!line.empty() && line.back() == ' ') line.pop_back();
  std::fprintf(stderr, "\r%s\x1b[K", line.c_str());
  std::fflush(stderr);
  g_lineOpen = true;
}

intptr_t Host::AskOverwrite() {
  const std::string name = Join(phoneFolder_, LastComponent(fileText_));
  intptr_t answer = KIV_ANSWER_SKIP;
  if (overwrite == Overwrite::All) {
    answer = KIV_ANSWER_REPLACE_ALL;
  } else if (overwrite == Overwrite::None || Cancelled()) {
    answer = KIV_ANSWER_SKIP;
  } else if (!StdinIsTerminal()) {
    answer = KIV_ANSWER_SKIP;  // nobody to ask: keep the phone's file
  } else {
    if (g_lineOpen) std::fprintf(stderr, "\r\x1b[K");
    g_lineOpen = false;
    std::fprintf(stderr, "overwrite %s? [y/N/a] ", name.c_str());
    std::fflush(stderr);
    char line[64];
    errno = 0;
    if (std::fgets(line, sizeof line, stdin)) {
      char c = line[0];
      if (c == 'y' || c == 'Y') answer = KIV_ANSWER_REPLACE;
      if (c == 'a' || c == 'A') {
        answer = KIV_ANSWER_REPLACE_ALL;
        overwrite = Overwrite::All;
      }
    } else {
      std::fputc('\n', stderr);
      std::clearerr(stdin);
    }
  }
  if (answer == KIV_ANSWER_SKIP) {
    fileSkipped_ = true;
    ++skipped;
  }
  // The time spent on the question is not the copy's.
  fileStart_ = std::chrono::steady_clock::now();
  return answer;
}

bool ParseBluetoothAddress(const std::string& text, uint8_t out[6]) {
  if (text.size() != 17) return false;
  for (int i = 0; i < 6; ++i) {
    const std::size_t at = static_cast<std::size_t>(i) * 3;
    if (i < 5 && text[at + 2] != ':' && text[at + 2] != '-') return false;
    unsigned value = 0;
    for (std::size_t k = at; k < at + 2; ++k) {
      char c = text[k];
      int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
      if (digit < 0) return false;
      value = value * 16 + static_cast<unsigned>(digit);
    }
    out[i] = static_cast<uint8_t>(value);
  }
  return true;
}

namespace {

// Transfer method of a Bluetooth session.
constexpr int32_t kBluetoothMethod = 0x17;
// Transfer method of a cable session.
constexpr int32_t kCableMethod = 1;

}  // namespace

int Connect(Host& host, const LinkOptions& options) {
  if (!options.link.empty()) {
    SetEnv("KIVMOD_LINK", options.link, true);
  } else if (options.bluetooth) {
    UnsetEnv("KIVMOD_LINK");  // --bt alone means the radio, not the default link
  }
  host.Reset();
  host.holdReports = true;
  Kiv_InitalizeU(host.Window());
  int32_t connected = 0;
  if (!options.bluetooth)
    connected = Kiv_Connect(options.port, 0, host.Window(), kCableMethod);
  else if (options.spp)
    connected = Kiv_SPP_BTConnect(options.address, kBluetoothMethod, host.Window());
  else
    connected = Kiv_BTConnectionEx(options.address, kBluetoothMethod, host.Window());
  host.holdReports = false;
  if (connected) return kExitOk;
  if (host.locked) {
    Complain("the phone is locked; unlock it and try again");
    return kExitLocked;
  }
  if (Cancelled()) {
    Complain("cancelled");
    return kExitCancelled;
  }
  LinkOptions tried = options;
  if (tried.link.empty() && !options.bluetooth)
    if (const char* env = std::getenv("KIVMOD_LINK")) tried.link = env;
  Complain(ConnectFailure(tried));
  return kExitConnect;
}

void Disconnect(const LinkOptions& options) {
  if (!options.bluetooth)
    Kiv_Disconnect();
  else if (options.spp)
    Kiv_SPP_BTDisconnect(0);
  else
    Kiv_BTDisconnectionEx();
}

}  // namespace cli
