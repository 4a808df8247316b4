// The few system services the portable benches need, for Linux and for Windows (cross-built
// with mingw-w64, run under Wine or on Windows itself): a process id for scratch names, an
// environment variable for the library to read, the process's memory, and the bare parse of
// an XML document by the system's own XML engine (libxml2 on Linux, MSXML through COM on
// Windows), the baseline that the library's reading of the same document is set against.
// The system headers stay in bench_system.cpp: windows.h's macros clash with the library's
// names.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace kivbench {

using Clock = std::chrono::steady_clock;

inline double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

int ProcessId();
// Sets a variable of the process's environment, where the library reads it.
void SetEnv(const char* name, const std::string& value);
// The process's peak resident memory (its peak working set) and its resident memory now, in
// KiB; -1 when unknown.
long PeakKiB();
long ResidentKiB();
// Starts the peak anew from the resident memory now; false where the system does not allow it.
bool ResetPeak();
// Memory given back stays with the heap for reuse instead of being returned to the system;
// TrimHeap returns what is free now. Both do nothing where the heap has no such setting.
void KeepFreedMemory();
void TrimHeap();
// Bytes in use on the heap, or -1 when unknown.
long long HeapInUse();

// The system's XML engine and its parse alone of a UTF-8 document (with or without a byte
// order mark), handed over as the library hands it: the best of three, in ms; negative when
// the document does not load.
extern const char* const kXmlEngine;
double BareParseMs(std::string_view utf8);

}  // namespace kivbench
