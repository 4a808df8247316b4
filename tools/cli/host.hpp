// The tool's host window: reports turned into sentences, progress lines, the questions the
// library asks during a copy, Ctrl-C, and the connection to the phone.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>

#include "kivmod/kivmod.h"

namespace cli {

// Exit codes of the tool (also listed in --help and docs/cli.md).
inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitConnect = 3;
inline constexpr int kExitLocked = 4;
inline constexpr int kExitFailed = 5;
inline constexpr int kExitCancelled = 6;
inline constexpr int kExitNotFound = 7;

// How to answer "replace the file on the phone?".
enum class Overwrite { Ask, All, None };

// The sentence for a report code and the record's texts; unknown codes name the number.
std::string ReportSentence(uint32_t code, const std::string& text1, const std::string& text2, float value);

// "kivmod: " + text on standard error, after ending a progress line that is on screen.
void Complain(const std::string& text);

// -q: no progress lines and no notes on standard error; errors are still printed.
void SetQuiet(bool quiet);
bool Quiet();

class Host {
 public:
  Host();
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  KivHwnd Window() const { return window_; }

  // Settings of the questions.
  Overwrite overwrite = Overwrite::Ask;
  int32_t resumeAnswer = KIV_ANSWER_RESUME_CONTINUE;  // KIV_ANSWER_RESUME_*

  // What arrived since the last Reset.
  bool locked = false;
  bool cancelledMessage = false;
  int reports = 0;
  int skipped = 0;
  void Reset();
  // While held, reports are counted but not printed (the caller says it better).
  bool holdReports = false;

  // A copy with per-file progress: verb is "get" or "put", sizes maps the names the
  // library announces (phone paths for get, file names for put) to their lengths.
  void BeginTransfer(std::string verb, std::map<std::string, int64_t> sizes, std::string phoneFolder);
  // Ends the copy; completed marks the file still on screen as done. Otherwise the text the
  // library announced for the file that did not finish (empty when none) is returned.
  std::string EndTransfer(bool completed);

  intptr_t Message(uint32_t msg, uintptr_t wParam, intptr_t lParam);

 private:
  intptr_t OnProgress(const KivProgress& record);
  intptr_t AskOverwrite();
  void StartFile(const std::string& text, int64_t announcedTotal);
  void FinishFile(bool completed);
  void Draw(bool force);

  KivHwnd window_ = nullptr;
  bool transferring_ = false;
  std::string verb_;
  std::map<std::string, int64_t> sizes_;
  std::string phoneFolder_;
  bool fileActive_ = false;
  bool fileSkipped_ = false;
  std::string fileText_;
  int64_t fileDone_ = 0;
  int64_t fileTotal_ = 0;
  std::chrono::steady_clock::time_point fileStart_, lastDraw_;
};

// Ctrl-C (system_posix.cpp, system_win32.cpp): the first one cancels the running transfer (the library stops at its next check)
// and marks the run cancelled; a second one ends the process at once.
void InstallCancelHandler();
// Ends the cancelling thread (joined); call before the tool returns.
void StopCancelHandler();
// Installs the handler and stops it when the scope ends.
struct CancelHandlerScope {
  CancelHandlerScope() { InstallCancelHandler(); }
  ~CancelHandlerScope() { StopCancelHandler(); }
  CancelHandlerScope(const CancelHandlerScope&) = delete;
  CancelHandlerScope& operator=(const CancelHandlerScope&) = delete;
};
bool Cancelled();

struct LinkOptions {
  std::string link;       // --link, else $KIVMOD_LINK
  int port = 1;           // --port
  bool bluetooth = false; // --bt
  uint8_t address[6] = {};
  bool spp = false;       // --spp
};

// Parses "aa:bb:cc:dd:ee:ff" (or with "-"); false when it is not six hex bytes.
bool ParseBluetoothAddress(const std::string& text, uint8_t out[6]);

// Opens the session; kExitOk or the exit code of the failure (its message printed).
int Connect(Host& host, const LinkOptions& options);
void Disconnect(const LinkOptions& options);

}  // namespace cli
