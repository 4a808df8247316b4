// kivmod: a command-line host of the Kivmod library, over its public C interface only.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kivmod/kivmod.h"

namespace {

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;
constexpr int kExitConnect = 3;
constexpr int kExitLocked = 4;
constexpr int kExitFailed = 5;

constexpr char kUsage[] =
    "usage: kivmod [options] COMMAND [ARGS]\n"
    "\n"
    "Commands:\n"
    "  info            model, protocol version, memory card, file types, top-level folders\n"
    "  ls [PATH]       folders under PATH (default: the top level)\n"
    "\n"
    "Options:\n"
    "  --link LINK     sim:FOLDER, serial:DEVICE or tcp:HOST:PORT (default: $KIVMOD_LINK)\n"
    "  --port N        COM port number for a cable connection (default 1)\n"
    "  --json          machine-readable output\n"
    "  -h, --help      this text\n"
    "\n"
    "Exit codes: 0 done, 2 usage, 3 no connection, 4 phone locked, 5 the command failed.\n";

std::string Utf8(const KivChar* text) {
  std::string out;
  for (; text && *text; ++text) {
    uint32_t c = *text;
    if (c >= 0xD800 && c < 0xDC00 && text[1] >= 0xDC00 && text[1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[1] - 0xDC00);
      ++text;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::u16string Utf16(const std::string& text) {
  std::u16string out;
  for (std::size_t i = 0; i < text.size();) {
    auto b = static_cast<unsigned char>(text[i]);
    uint32_t c = b;
    std::size_t n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    if (n > 1) {
      c = b & (0x3F >> (n - 1));
      for (std::size_t k = 1; k < n && i + k < text.size(); ++k) c = (c << 6) | (text[i + k] & 0x3F);
    }
    i += n;
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

std::string Json(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

struct Host {
  bool locked = false;
  std::vector<std::string> reports;
};

intptr_t WindowProc(void* user, KivHwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  auto* host = static_cast<Host*>(user);
  if (msg == KIV_MSG_LOCKED) host->locked = true;
  if (msg == KIV_MSG_REPORT) {
    const auto* r = reinterpret_cast<const KivReport*>(lParam);
    char code[16];
    std::snprintf(code, sizeof code, "0x%02lX", static_cast<unsigned long>(wParam));
    std::string text = code;
    if (r && r->text1 && *r->text1) text += " " + Utf8(r->text1);
    host->reports.push_back(text);
  }
  return 0;
}

void PrintFolders(const std::string& parent, bool json) {
  KivFolderInfoList* folders = Kiv_FolderInfoList_New();
  Kiv_GetTopList(Utf16(parent).c_str(), folders);
  int n = Kiv_FolderInfoList_Count(folders);
  if (json) std::printf("[");
  for (int i = 0; i < n; ++i) {
    const KivFolderInfo* f = Kiv_FolderInfoList_At(folders, i);
    if (json) {
      std::printf("%s{\"path\":%s,\"attributes\":%u}", i ? "," : "", Json(Utf8(f->folderName)).c_str(), f->attributes);
    } else {
      std::printf("  %s/\n", Utf8(f->folderName).c_str());
    }
  }
  if (json) std::printf("]");
  Kiv_FolderInfoList_Free(folders);
}

int Info(bool json) {
  KivChar model[256] = {};
  Kiv_GetModelName(model);
  KivChar card[256] = {};
  Kiv_GetExtraMemoryName(card);
  const KivTypeArray* types = Kiv_GetSupportFileExt();
  if (json) {
    std::printf("{\"model\":%s,\"version\":%d,\"card\":%s,\"types\":[", Json(Utf8(model)).c_str(),
                Kiv_GetFileManVersion(), Json(Utf8(card)).c_str());
    for (int i = 0; i < types->count; ++i)
      std::printf("%s{\"ext\":%s,\"maxSize\":%u,\"rules\":%u}", i ? "," : "", Json(Utf8(types->entries[i].name)).c_str(),
                  types->entries[i].maxSize, types->entries[i].rules);
    std::printf("],\"folders\":");
    PrintFolders("Root", true);
    std::printf("}\n");
    return kExitOk;
  }
  std::printf("Model:            %s\n", Utf8(model).c_str());
  std::printf("Protocol version: %d\n", Kiv_GetFileManVersion());
  std::printf("Memory card:      %s\n", card[0] ? Utf8(card).c_str() : "(none)");
  std::printf("File types:\n");
  for (int i = 0; i < types->count; ++i) {
    const KivTypeEntry& t = types->entries[i];
    std::string size = t.maxSize == 0x7FFFFFFFu ? "any size" : "up to " + std::to_string(t.maxSize) + " bytes";
    std::printf("  %-6s %-18s %s%s\n", Utf8(t.name).c_str(), size.c_str(), (t.rules & 1) ? "to PC " : "",
                (t.rules & 2) ? "to phone" : "");
  }
  std::printf("Top-level folders:\n");
  PrintFolders("Root", false);
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  std::string link, command;
  std::vector<std::string> args;
  int port = 1;
  bool json = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      return kExitOk;
    } else if (a == "--link" && i + 1 < argc) {
      link = argv[++i];
    } else if (a == "--port" && i + 1 < argc) {
      port = std::atoi(argv[++i]);
    } else if (a == "--json") {
      json = true;
    } else if (!a.empty() && a[0] == '-') {
      std::fprintf(stderr, "kivmod: unknown option %s\n%s", a.c_str(), kUsage);
      return kExitUsage;
    } else if (command.empty()) {
      command = a;
    } else {
      args.push_back(a);
    }
  }
  if (command != "info" && command != "ls") {
    std::fprintf(stderr, "kivmod: %s\n%s", command.empty() ? "no command given" : ("unknown command " + command).c_str(),
                 kUsage);
    return kExitUsage;
  }
  if (!link.empty()) setenv("KIVMOD_LINK", link.c_str(), 1);

  Host host;
  KivHwnd wnd = Kiv_CreateWindow(WindowProc, &host);
  Kiv_InitalizeU(wnd);
  if (!Kiv_Connect(port, 0, wnd, 1)) {
    Kiv_DestroyWindow(wnd);
    if (host.locked) {
      std::fprintf(stderr, "kivmod: the phone is locked; unlock it and try again\n");
      return kExitLocked;
    }
    std::fprintf(stderr, "kivmod: could not connect to the phone (check the cable or --link)\n");
    return kExitConnect;
  }
  int result = kExitOk;
  if (command == "info") {
    result = Info(json);
  } else {
    std::string path = args.empty() ? "Root" : args[0];
    if (!json) std::printf("%s:\n", path.c_str());
    PrintFolders(path, json);
    if (json) std::printf("\n");
  }
  Kiv_Disconnect();
  Kiv_DestroyWindow(wnd);
  return result;
}
