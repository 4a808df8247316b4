// The tool's system services on Windows: the console API, the wide command line, UTF-16 names.
#include "system.hpp"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "kivmod/kivmod.h"
#include "text.hpp"

namespace cli {
namespace {

HANDLE StdErr() { return GetStdHandle(STD_ERROR_HANDLE); }

bool IsConsole(HANDLE h) {
  DWORD mode = 0;
  return h != INVALID_HANDLE_VALUE && h && GetConsoleMode(h, &mode);
}

// The console on standard error takes escape sequences (set up by SetUpConsole).
bool g_escapes = false;

}  // namespace

void SetUpConsole() {
  // Text leaves as UTF-8; a console shows it as such.
  SetConsoleOutputCP(CP_UTF8);
  SetConsoleCP(CP_UTF8);
  DWORD mode = 0;
  if (GetConsoleMode(StdErr(), &mode))
    g_escapes = SetConsoleMode(StdErr(), mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING | ENABLE_PROCESSED_OUTPUT) != 0;
}

std::vector<std::string> Arguments(int, char**) {
  std::vector<std::string> out;
  int count = 0;
  LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!words) return out;
  for (int i = 1; i < count; ++i) out.push_back(Utf8(words[i]));
  LocalFree(words);
  return out;
}

bool StdinIsTerminal() { return IsConsole(GetStdHandle(STD_INPUT_HANDLE)); }
// Without escape sequences the progress line could not be redrawn: one line per file then.
bool StderrIsTerminal() { return g_escapes && IsConsole(StdErr()); }

int TerminalWidth() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (GetConsoleScreenBufferInfo(StdErr(), &info)) {
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    if (columns > 20) return columns;
  }
  return 80;
}

// The system's character types: combining marks take no column, fullwidth and ideographic
// characters two.
int CharWidth(char32_t c) {
  if (c < 0x20 || c == 0x7F) return 0;
  if (c >= 0x10000) return c >= 0x20000 && c < 0x40000 ? 2 : 1;
  const wchar_t unit = static_cast<wchar_t>(c);
  WORD type = 0;
  if (!GetStringTypeW(CT_CTYPE3, &unit, 1, &type)) return 1;
  if (type & C3_NONSPACING) return 0;
  if (type & (C3_FULLWIDTH | C3_IDEOGRAPH)) return 2;
  return 1;
}

void SetStdoutBinary() {
  std::fflush(stdout);
  _setmode(_fileno(stdout), _O_BINARY);
}

void SetEnv(const char* name, const std::string& value, bool replace) {
  const std::wstring key = Utf16(name);
  if (!replace && _wgetenv(key.c_str())) return;
  // The C runtime's copy, which getenv reads, and the process's.
  _wputenv((key + L"=" + Utf16(value)).c_str());
}

void UnsetEnv(const char* name) { _wputenv((Utf16(name) + L"=").c_str()); }

bool LocalTm(std::time_t t, std::tm& out, long& utcOffset) {
  if (localtime_s(&out, &t) != 0) return false;
  std::tm copy = out;
  utcOffset = static_cast<long>(_mkgmtime(&copy) - t);
  return true;
}

std::string ReadSecretLine() {
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  const bool console = GetConsoleMode(in, &mode);
  if (console) SetConsoleMode(in, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
  std::string line;
  std::getline(std::cin, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (console) SetConsoleMode(in, mode);
  return line;
}

std::filesystem::path MakeUniqueFolder(const std::filesystem::path& parent, const std::string& prefix) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = prefix + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount()) + "-" +
                             std::to_string(counter++);
    const std::filesystem::path path = parent / PcPath(name);
    if (CreateDirectoryW(path.c_str(), nullptr)) return path;
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  return {};
}

void PlaceFile(const std::filesystem::path& source, const std::filesystem::path& name, std::error_code& ec) {
  std::filesystem::copy_file(source, name, ec);
}

// The shell's own matching of file name patterns: * and ?, without regard to case.
bool MatchName(const std::string& pattern, const std::string& name, bool) {
  return PathMatchSpecW(Utf16(name).c_str(), Utf16(pattern).c_str()) != FALSE;
}

std::string PcCharset() { return "UTF-16"; }

bool PcNameToUtf16(const std::string& bytes, KivText& out) {
  if (bytes.empty()) {
    out.clear();
    return true;
  }
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  if (n <= 0) return false;
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), wide.data(), n);
  out.assign(wide.begin(), wide.end());
  return true;
}

bool JarManifest(const std::filesystem::path&, std::string&, std::string& why) {
  why = "the Windows build of kivmod does not read JAR archives, so the file name stands for the application";
  return false;
}

namespace {

std::atomic<bool> g_cancelled{false};

// Runs on a thread of its own that the system starts: the library's cancel may be called
// from there. The first Ctrl-C cancels; a later one ends the process the default way.
BOOL WINAPI OnControl(DWORD event) {
  if (g_cancelled.exchange(true)) return FALSE;
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) {
    Kiv_TransferCancle();
    Kiv_EmailTrans_SetCancel(1);
    return TRUE;
  }
  return FALSE;
}

bool g_installed = false;

}  // namespace

void InstallCancelHandler() { g_installed = SetConsoleCtrlHandler(OnControl, TRUE) != 0; }

void StopCancelHandler() {
  if (g_installed) SetConsoleCtrlHandler(OnControl, FALSE);
  g_installed = false;
}

bool Cancelled() { return g_cancelled.load(); }

std::filesystem::path LibraryWorkFolder() {
  if (const wchar_t* dir = _wgetenv(L"KIVMOD_WORKDIR"); dir && *dir) return dir;
  std::wstring name(32768, L'\0');
  const DWORD size = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
  if (size == 0 || size >= name.size()) return {};
  name.resize(size);
  return std::filesystem::path(name).parent_path();
}

// COM1 to COM32, those that exist: a port that opens, or that is held by another program.
std::vector<std::string> SerialDevices() {
  std::vector<std::string> out;
  for (int n = 1; n <= 32; ++n) {
    const std::wstring name = L"\\\\.\\COM" + std::to_wstring(n);
    HANDLE h = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    const DWORD error = h == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) out.push_back("COM" + std::to_string(n));
  }
  return out;
}

}  // namespace cli
