// The tool's system services on POSIX systems.
#include "system.hpp"

#include <fcntl.h>
#include <fnmatch.h>
#include <glob.h>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <zip.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <iostream>
#include <memory>
#include <thread>

#include "kivmod/kivmod.h"
#include "text.hpp"

namespace cli {

void SetUpConsole() {
  // PC file names and display widths follow the user's locale.
  std::setlocale(LC_CTYPE, "");
}

std::vector<std::string> Arguments(int argc, char** argv) { return std::vector<std::string>(argv + 1, argv + argc); }

bool StdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }
bool StderrIsTerminal() {
  static const bool terminal = isatty(STDERR_FILENO) == 1;
  return terminal;
}

int TerminalWidth() {
  struct winsize ws {};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 20) return ws.ws_col;
  return 80;
}

// wcwidth under UTF-8 rules whatever the process's locale is.
int CharWidth(char32_t c) {
  static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  int w = -1;
  if (utf8) {
    const locale_t old = uselocale(utf8);
    w = ::wcwidth(static_cast<wchar_t>(c));
    uselocale(old);
  }
  if (w >= 0) return w;
  return c < 0x20 || c == 0x7F ? 0 : 1;
}

void SetStdoutBinary() {}

void SetEnv(const char* name, const std::string& value, bool replace) { ::setenv(name, value.c_str(), replace ? 1 : 0); }
void UnsetEnv(const char* name) { ::unsetenv(name); }

bool LocalTm(std::time_t t, std::tm& out, long& utcOffset) {
  if (!localtime_r(&t, &out)) return false;
  utcOffset = out.tm_gmtoff;
  return true;
}

std::string ReadSecretLine() {
  termios old{};
  const bool tty = tcgetattr(STDIN_FILENO, &old) == 0;
  if (tty) {
    termios quiet = old;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
  }
  std::string line;
  std::getline(std::cin, line);
  if (tty) tcsetattr(STDIN_FILENO, TCSANOW, &old);
  return line;
}

std::filesystem::path MakeUniqueFolder(const std::filesystem::path& parent, const std::string& prefix) {
  std::string pattern = (parent / (prefix + "XXXXXX")).string();
  if (!::mkdtemp(pattern.data())) return {};
  return pattern;
}

void PlaceFile(const std::filesystem::path& source, const std::filesystem::path& name, std::error_code& ec) {
  std::filesystem::create_symlink(source, name, ec);
}

bool MatchName(const std::string& pattern, const std::string& name, bool foldCase) {
  return ::fnmatch(pattern.c_str(), name.c_str(), FNM_NOESCAPE | FNM_PERIOD | (foldCase ? FNM_CASEFOLD : 0)) == 0;
}

std::string PcCharset() { return nl_langinfo(CODESET); }

bool PcNameToUtf16(const std::string& bytes, KivText& out) {
  const char* charset = nl_langinfo(CODESET);
  if (!charset || !*charset || std::strcmp(charset, "ANSI_X3.4-1968") == 0) charset = "UTF-8";
  iconv_t cd = iconv_open("UTF-16LE", charset);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string in = bytes, result(bytes.size() * 4 + 8, '\0');
  char* inp = in.data();
  std::size_t inleft = in.size();
  char* outp = result.data();
  std::size_t outleft = result.size();
  const bool ok = iconv(cd, &inp, &inleft, &outp, &outleft) != static_cast<std::size_t>(-1);
  iconv_close(cd);
  if (!ok) return false;
  KivText text;
  for (const char* p = result.data(); p + 1 < outp; p += 2)
    text += static_cast<KivChar>(static_cast<unsigned char>(p[0]) | static_cast<unsigned char>(p[1]) << 8);
  out = std::move(text);
  return true;
}

bool JarManifest(const std::filesystem::path& jar, std::string& text, std::string&) {
  int error = 0;
  std::unique_ptr<zip_t, decltype(&zip_discard)> archive(zip_open(jar.c_str(), ZIP_RDONLY, &error), &zip_discard);
  zip_stat_t st;
  if (!archive || zip_stat(archive.get(), "META-INF/MANIFEST.MF", ZIP_FL_NOCASE, &st) != 0 || st.size > (1 << 20))
    return false;
  std::unique_ptr<zip_file_t, decltype(&zip_fclose)> file(zip_fopen(archive.get(), "META-INF/MANIFEST.MF", ZIP_FL_NOCASE),
                                                         &zip_fclose);
  if (!file) return false;
  text.resize(st.size);
  return zip_fread(file.get(), text.data(), st.size) == static_cast<zip_int64_t>(st.size);
}

namespace {

volatile std::sig_atomic_t g_cancelled = 0;
// Ctrl-C's wake-up for the thread that cancels the library's copy: the library's cancel
// traces and locks, which a signal handler must not do.
int g_cancelPipe[2] = {-1, -1};
// The thread that cancels the library's copy on Ctrl-C; joined before the tool returns, so
// that it never runs while the library tears its manager down at exit.
std::thread g_cancelThread;
constexpr char kWakeCancel = 1;
constexpr char kWakeQuit = 0;

extern "C" void OnInterrupt(int) {
  g_cancelled = 1;
  const char wake = kWakeCancel;
  [[maybe_unused]] ssize_t n = ::write(g_cancelPipe[1], &wake, 1);
}

}  // namespace

void InstallCancelHandler() {
  if (::pipe2(g_cancelPipe, O_CLOEXEC) == 0) {
    g_cancelThread = std::thread([] {
      char wake = kWakeQuit;
      while (::read(g_cancelPipe[0], &wake, 1) < 0 && errno == EINTR) {
      }
      if (wake == kWakeCancel) {
        Kiv_TransferCancle();
        Kiv_EmailTrans_SetCancel(1);
      }
    });
  }
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a question waiting for an answer returns at once. The handler stays for
  // one signal only, so a second Ctrl-C ends the process the default way. A termination or
  // hang-up cancels the copy the same way, so that the phone is told.
  action.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
}

void StopCancelHandler() {
  if (!g_cancelThread.joinable()) return;
  // Signals that come from now on end the process the default way.
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  std::signal(SIGHUP, SIG_DFL);
  const char quit = kWakeQuit;
  [[maybe_unused]] ssize_t n = ::write(g_cancelPipe[1], &quit, 1);
  g_cancelThread.join();
}

bool Cancelled() { return g_cancelled != 0; }

std::filesystem::path LibraryWorkFolder() {
  auto nonEmpty = [](const char* name) -> const char* {
    const char* v = std::getenv(name);
    return v && *v ? v : nullptr;
  };
  if (const char* dir = nonEmpty("KIVMOD_WORKDIR")) return dir;
  if (const char* state = nonEmpty("XDG_STATE_HOME")) return std::filesystem::path(state) / "kivmod";
  if (const char* home = nonEmpty("HOME")) return std::filesystem::path(home) / ".local" / "state" / "kivmod";
  return {};
}

std::vector<std::string> SerialDevices() {
  std::vector<std::string> out;
  for (const char* pattern : {"/dev/ttyUSB*", "/dev/ttyACM*", "/dev/rfcomm*"}) {
    glob_t found{};
    if (::glob(pattern, 0, nullptr, &found) == 0)
      for (std::size_t i = 0; i < found.gl_pathc; ++i) out.emplace_back(found.gl_pathv[i]);
    ::globfree(&found);
  }
  return out;
}

}  // namespace cli
