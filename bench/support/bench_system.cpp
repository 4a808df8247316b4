// The benches' system services on Windows (MSXML through COM, the process's memory
// counters) and on Linux (libxml2, /proc and glibc's heap).
#include "bench_system.hpp"

#ifdef _WIN32
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <msxml2.h>
#include <psapi.h>
#include <stdlib.h>
#else
#include <libxml/parser.h>
#include <malloc.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#endif

#include <algorithm>
#include <cstdlib>

namespace kivbench {

#ifdef _WIN32

int ProcessId() { return static_cast<int>(GetCurrentProcessId()); }

// Both the C runtime's copy (getenv) and the process's own block (the wide-character readers).
void SetEnv(const char* name, const std::string& value) {
  _putenv_s(name, value.c_str());
  SetEnvironmentVariableA(name, value.c_str());
}

namespace {
PROCESS_MEMORY_COUNTERS MemoryCounters() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return counters;
}
}  // namespace

long PeakKiB() { return static_cast<long>(MemoryCounters().PeakWorkingSetSize / 1024); }
long ResidentKiB() { return static_cast<long>(MemoryCounters().WorkingSetSize / 1024); }
// Windows keeps the peak for the process's life; the C runtime's heap has no settings to
// keep or trim freed memory, nor a count of the bytes in use.
bool ResetPeak() { return false; }
void KeepFreedMemory() {}
void TrimHeap() {}
long long HeapInUse() { return -1; }

const char* const kXmlEngine = "MSXML";

// The document goes to loadXML as text, as the library hands it, with the same settings;
// only loadXML is timed.
double BareParseMs(std::string_view utf8) {
  // IXMLDOMDocument2 {2933BF95-7B36-11d2-B20E-00C04F983E60}.
  constexpr IID kIidDomDocument2 = {0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};
  if (utf8.starts_with("\xEF\xBB\xBF")) utf8.remove_prefix(3);
  // The declaration names an encoding the text no longer has; MSXML reads text without it.
  if (utf8.starts_with("<?xml")) utf8.remove_prefix(std::min(utf8.size(), utf8.find("?>") + 2));
  const int units = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  BSTR text = SysAllocStringLen(nullptr, static_cast<UINT>(units));
  if (!text) return -1;
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text, units);
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  double best = -1;
  for (int round = 0; round < 3; ++round) {
    IXMLDOMDocument2* doc = nullptr;
    for (const wchar_t* progId : {L"Msxml2.DOMDocument.6.0", L"Msxml2.DOMDocument.4.0", L"Msxml2.DOMDocument.3.0",
                                  L"Msxml2.DOMDocument.2.6", L"Msxml2.DOMDocument"}) {
      CLSID clsid;
      if (SUCCEEDED(CLSIDFromProgID(progId, &clsid)) &&
          SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, kIidDomDocument2,
                                     reinterpret_cast<void**>(&doc))) &&
          doc)
        break;
    }
    if (!doc) break;
    doc->put_async(VARIANT_FALSE);
    doc->put_validateOnParse(VARIANT_FALSE);
    doc->put_resolveExternals(VARIANT_FALSE);
    doc->put_preserveWhiteSpace(VARIANT_TRUE);
    VARIANT_BOOL loaded = VARIANT_FALSE;
    const auto start = Clock::now();
    const bool ok = SUCCEEDED(doc->loadXML(text, &loaded)) && loaded == VARIANT_TRUE;
    const double ms = Ms(Clock::now() - start);
    doc->Release();
    if (!ok) {
      best = -1;
      break;
    }
    best = best < 0 ? ms : std::min(best, ms);
  }
  SysFreeString(text);
  if (SUCCEEDED(com)) CoUninitialize();
  return best;
}

#else

int ProcessId() { return static_cast<int>(::getpid()); }

void SetEnv(const char* name, const std::string& value) { ::setenv(name, value.c_str(), 1); }

namespace {
// A field of /proc/self/status in KiB, or -1.
long StatusKiB(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
  return -1;
}
}  // namespace

long PeakKiB() { return StatusKiB("VmHWM:"); }
long ResidentKiB() { return StatusKiB("VmRSS:"); }
bool ResetPeak() {
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
  return static_cast<bool>(out.flush());
}
// Memory given back is kept for reuse instead of being returned to the system and faulted
// in again: on this kind of virtual machine a page fault costs more than parsing the page,
// and whether glibc trims depends on what ran before. Both sides of a ratio run under this
// same rule.
void KeepFreedMemory() {
  mallopt(M_MMAP_THRESHOLD, 256 << 20);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
}
void TrimHeap() { malloc_trim(0); }
long long HeapInUse() { return static_cast<long long>(mallinfo2().uordblks); }

const char* const kXmlEngine = "libxml2";

double BareParseMs(std::string_view utf8) {
  double best = -1;
  for (int round = 0; round < 3; ++round) {
    const auto start = Clock::now();
    xmlDocPtr doc = xmlReadMemory(utf8.data(), static_cast<int>(utf8.size()), nullptr, "UTF-8",
                                  XML_PARSE_NONET | XML_PARSE_HUGE);
    const double ms = Ms(Clock::now() - start);
    if (!doc) return -1;
    xmlFreeDoc(doc);
    best = best < 0 ? ms : std::min(best, ms);
  }
  return best;
}

#endif

}  // namespace kivbench
