// What the tool needs from the operating system, one implementation per system:
// system_posix.cpp (terminals, signals, the locale's character set, iconv, wcwidth, fnmatch)
// and system_win32.cpp (the console API, Ctrl-C through the console's handler, UTF-16 names,
// the Windows shell's name patterns).
#pragma once

#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace cli {

// Prepares the process's text: PC names and widths in the user's locale on POSIX systems;
// UTF-8 output and terminal escapes on a Windows console.
void SetUpConsole();
// The program's arguments as UTF-8 (from the wide command line on Windows; bytes elsewhere).
std::vector<std::string> Arguments(int argc, char** argv);

// Whether standard input is a terminal, and standard error one that takes the escape
// sequences of the progress line.
bool StdinIsTerminal();
bool StderrIsTerminal();
// Columns of the terminal on standard error; 80 when unknown.
int TerminalWidth();
// Columns one character takes on a terminal (0 for combining and control characters).
int CharWidth(char32_t c);
// Standard output without newline translation (a copy of a phone file written to it).
void SetStdoutBinary();

// The environment, which the library reads at connect time.
void SetEnv(const char* name, const std::string& value, bool replace);
void UnsetEnv(const char* name);

// Local time of t, and its offset from UTC in seconds; false when t cannot be converted.
bool LocalTm(std::time_t t, std::tm& out, long& utcOffset);

// A line from the terminal without echo (a password).
std::string ReadSecretLine();

// A new folder named prefix + something unique, inside parent; empty when none can be made.
std::filesystem::path MakeUniqueFolder(const std::filesystem::path& parent, const std::string& prefix);
// Makes name stand in a folder for the file source: a symbolic link on POSIX systems, a copy
// on Windows (where links need privileges).
void PlaceFile(const std::filesystem::path& source, const std::filesystem::path& name, std::error_code& ec);

// Whether a phone name matches a pattern of the command line (*, ? and, on POSIX, [...]; a
// leading dot only explicitly on POSIX), with or without regard to case.
bool MatchName(const std::string& pattern, const std::string& name, bool foldCase);
// The character set PC names are spelled in, for messages.
std::string PcCharset();

// The JAR's manifest text; false with why set when it cannot be read.
bool JarManifest(const std::filesystem::path& jar, std::string& text, std::string& why);

// Also here: Ctrl-C's InstallCancelHandler, StopCancelHandler and Cancelled (host.hpp).

// The library's work folder (its resume record): KIVMOD_WORKDIR, else $XDG_STATE_HOME/kivmod
// or ~/.local/state/kivmod on POSIX systems, the folder of the program (and the DLL beside it)
// on Windows; empty when there is none.
std::filesystem::path LibraryWorkFolder();

// The names of the serial devices detect tries when none is named.
std::vector<std::string> SerialDevices();

}  // namespace cli
